#pragma once

#include <QByteArray>
#include <QDialog>
#include <QString>

#include <functional>
#include <optional>

class QLabel;
class QPushButton;
class UiServices;

// The few registry calls the About box needs to find the System
// Information tool.
class RegistryAccess {
public:
    using Key = quintptr;
    virtual ~RegistryAccess() = default;
    // Opens `keyName` under `root`; nullopt when it cannot be opened.
    virtual std::optional<Key> openKey(Key root, const QString &keyName, quint32 access) = 0;
    // Reads at most `capacity` bytes of value `valueName` into `data`, cut to
    // the value's length, and its type into `type`; false on failure.
    virtual bool queryValue(Key key, const QString &valueName, quint32 &type, QByteArray &data, int capacity) = 0;
    virtual void closeKey(Key key) = 0;
};

// The registry of a platform that has none: every key is missing.
class NoRegistry : public RegistryAccess {
public:
    std::optional<Key> openKey(Key, const QString &, quint32) override { return std::nullopt; }
    bool queryValue(Key, const QString &, quint32 &, QByteArray &, int) override { return false; }
    void closeKey(Key) override {}
};

using FileExistsTest = std::function<bool(const QString &path)>;

inline constexpr RegistryAccess::Key HkeyLocalMachine = 0x80000002;
inline constexpr quint32 RegistryReadAccess = 0x2003F;
inline constexpr quint32 RegistryStringType = 1;
inline constexpr int RegistryValueCapacity = 1024;
inline const QString SysInfoUnavailableMessage = QStringLiteral("System Information Is Unavailable At This Time");

class FormAbout : public QDialog {
    Q_OBJECT
public:
    // With no file test given, the file system is asked.
    FormAbout(UiServices &ui, RegistryAccess &registry, FileExistsTest fileExists = {}, QWidget *parent = nullptr);

    // Finds the System Information tool and starts it, or says it cannot.
    void StartSysInfo();

    // Reads string value `SubKeyRef` of key `KeyName` under `KeyRoot` into
    // `KeyVal`; false, with `KeyVal` empty, when it could not be read.
    bool GetKeyValue(RegistryAccess::Key KeyRoot, const QString &KeyName, const QString &SubKeyRef, QString &KeyVal);

private:
    std::optional<QString> findSysInfo();

    UiServices &ui;
    RegistryAccess &registry;
    FileExistsTest fileExists;

    QLabel *picIcon;
    QLabel *lblTitle;
    QLabel *lblVersion;
    QLabel *lblDescription;
    QLabel *lblDisclaimer;
    QPushButton *cmdOK;
    QPushButton *cmdSysInfo;
};
