#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <limits>
#include <memory>

// Asked before a save would destroy what the store holds but nobody read
// (or read only in part); gets one line per loss, answers whether to go on.
using LossConsent = std::function<bool(const QStringList &losses)>;

// The per-user store of string values by section and key.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    virtual QString read(const QString &section, const QString &key, const QString &defaultValue) const = 0;
    virtual void write(const QString &section, const QString &key, const QString &value) = 0;
    virtual void removeSection(const QString &section) = 0;
    // Pushes pending writes to their medium; false when they did not get
    // there, or would have destroyed something and `consent` said no.
    virtual bool sync(const LossConsent &consent) = 0;
    // Where the values live, for messages.
    virtual QString location() const = 0;
    // Why the last sync failed; empty after a refused consent.
    virtual QString lastError() const { return {}; }

    // The sections in store order, and the keys of one, so that a load can
    // tell what it skipped; the first `most` of them.
    static constexpr qsizetype All = std::numeric_limits<qsizetype>::max();
    virtual QStringList sections(qsizetype most = All) const = 0;
    virtual QStringList keys(const QString &section, qsizetype most = All) const = 0;
    // Why the store could not be read at all; empty when it could or does not exist yet.
    virtual QString readError() const { return {}; }
    // Lines of the store that are not sections or keys with text values, one each.
    virtual QStringList problems() const { return {}; }
};

// A section or key name read from a store, fit for a message: control
// characters shown as U+FFFD, long names cut short.
QString PrintableName(const QString &name);

struct IniDocument;

// The per-user folder of Brindleway's files: Brindleway under the platform's
// configuration folder ($XDG_CONFIG_HOME, by default ~/.config).
QString UserStoreFolder();

// An INI file read and written by this class itself, so that values come
// back exactly: QSettings would take commas for lists, ';' for comments,
// '@' for types and let a stray quote swallow the rest of the file.
// Values in the form QSettings wrote them (quoted, escaped) read as it would,
// which keeps every earlier file; any other text is the value as it stands.
// Saves rewrite only the values written and keep every other line byte for
// byte, the previous file as <file>.bak, and the new one through a rename.
// The default file is the per-user Brindleway/Brindleway.ini under the
// platform's configuration folder. Writes are held until sync() and dropped
// when it fails, so values the user did not get saved never reach the file
// later behind their back.
class IniSettingsStore : public SettingsStore {
public:
    // Whether a save first keeps the file as it was in <file>.bak.
    enum class Backup { Keep, None };

    IniSettingsStore();
    explicit IniSettingsStore(const QString &fileName, Backup backup = Backup::Keep);
    ~IniSettingsStore() override;

    QString read(const QString &section, const QString &key, const QString &defaultValue) const override;
    void write(const QString &section, const QString &key, const QString &value) override;
    void removeSection(const QString &section) override;
    bool sync(const LossConsent &consent) override;
    QString location() const override;
    QString lastError() const override { return syncError; }
    QStringList sections(qsizetype most = All) const override;
    QStringList keys(const QString &section, qsizetype most = All) const override;
    QString readError() const override { return loadError; }
    QStringList problems() const override;

    QString backupLocation() const;

private:
    struct PendingWrite {
        QString section;
        QString key; // empty: remove the whole section
        QString value;
    };
    bool fail(const QString &reason);
    bool syncPending(const LossConsent &consent);

    QString fileName;
    Backup backup = Backup::Keep;
    std::unique_ptr<IniDocument> document; // as last read or written
    QString loadError;
    QString syncError;
    // "section/key" to the line as it was when its value was handed out: a
    // save may replace that line, and no other, without asking.
    mutable QHash<QString, QByteArray> seenLines;
    QList<PendingWrite> pending;
};
