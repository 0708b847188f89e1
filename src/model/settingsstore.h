#pragma once

#include <QHash>
#include <QList>
#include <QString>

#include <memory>

class QSettings;

// The per-user store of string values by section and key.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    virtual QString read(const QString &section, const QString &key, const QString &defaultValue) const = 0;
    virtual void write(const QString &section, const QString &key, const QString &value) = 0;
    virtual void removeSection(const QString &section) = 0;
    // Pushes pending writes to their medium; false when they did not get there.
    virtual bool sync() = 0;
    // Where the values live, for messages.
    virtual QString location() const = 0;
};

class MemorySettingsStore : public SettingsStore {
public:
    QString read(const QString &section, const QString &key, const QString &defaultValue) const override;
    void write(const QString &section, const QString &key, const QString &value) override;
    void removeSection(const QString &section) override;
    bool sync() override { return !failWrites; }
    QString location() const override { return QStringLiteral("memory"); }

    bool contains(const QString &section, const QString &key) const;
    int valueCount() const { return int(values.size()); }

    bool failWrites = false;

private:
    QHash<QString, QString> values; // "section/key"
};

// INI file through QSettings. The default file is the per-user
// Brindleway/Brindleway.ini under the platform's configuration folder.
// Writes are held until sync() and dropped when it fails, so values the
// user did not get saved never reach the file later behind their back.
class IniSettingsStore : public SettingsStore {
public:
    IniSettingsStore();
    explicit IniSettingsStore(const QString &fileName);
    ~IniSettingsStore() override;

    QString read(const QString &section, const QString &key, const QString &defaultValue) const override;
    void write(const QString &section, const QString &key, const QString &value) override;
    void removeSection(const QString &section) override;
    bool sync() override;
    QString location() const override;

private:
    struct PendingWrite {
        QString section;
        QString key; // empty: remove the whole section
        QString value;
    };
    QString fileName;
    std::unique_ptr<QSettings> settings; // read only, reopened after each sync
    QList<PendingWrite> pending;
};
