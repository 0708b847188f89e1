#include "model/settingsstore.h"

#include <QFileInfo>
#include <QSettings>

namespace {
QString joinKey(const QString &section, const QString &key)
{
    return section + QLatin1Char('/') + key;
}
} // namespace

QString MemorySettingsStore::read(const QString &section, const QString &key, const QString &defaultValue) const
{
    return values.value(joinKey(section, key), defaultValue);
}

void MemorySettingsStore::write(const QString &section, const QString &key, const QString &value)
{
    values.insert(joinKey(section, key), value);
}

void MemorySettingsStore::removeSection(const QString &section)
{
    const QString prefix = section + QLatin1Char('/');
    for (auto it = values.begin(); it != values.end();) {
        if (it.key().startsWith(prefix))
            it = values.erase(it);
        else
            ++it;
    }
}

bool MemorySettingsStore::contains(const QString &section, const QString &key) const
{
    return values.contains(joinKey(section, key));
}

IniSettingsStore::IniSettingsStore()
    : IniSettingsStore(QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Brindleway"),
                                 QStringLiteral("Brindleway"))
                           .fileName())
{
}

IniSettingsStore::IniSettingsStore(const QString &fileName)
    : fileName(fileName), settings(std::make_unique<QSettings>(fileName, QSettings::IniFormat))
{
}

IniSettingsStore::~IniSettingsStore() = default;

QString IniSettingsStore::read(const QString &section, const QString &key, const QString &defaultValue) const
{
    for (auto it = pending.crbegin(); it != pending.crend(); ++it) {
        if (it->section != section)
            continue;
        if (it->key.isEmpty())
            return defaultValue;
        if (it->key == key)
            return it->value;
    }
    const QVariant value = settings->value(joinKey(section, key));
    if (!value.isValid())
        return defaultValue;
    // We always write strings, which QSettings quotes as needed; an unquoted
    // comma in a hand-edited file reads back as a list, so put it together.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QStringLiteral(", "));
    return value.toString();
}

void IniSettingsStore::write(const QString &section, const QString &key, const QString &value)
{
    pending.append({section, key, value});
}

void IniSettingsStore::removeSection(const QString &section)
{
    pending.append({section, QString(), QString()});
}

bool IniSettingsStore::sync()
{
    bool written = true;
    if (!pending.isEmpty()) {
        QSettings writer(fileName, QSettings::IniFormat);
        for (const PendingWrite &change : std::as_const(pending)) {
            if (change.key.isEmpty())
                writer.remove(change.section);
            else
                writer.setValue(joinKey(change.section, change.key), change.value);
        }
        pending.clear();
        writer.sync();
        // QSettings reports no error when it cannot create the file at all
        // and keeps the values in memory; check the file is really there.
        const QFileInfo file(fileName);
        written = writer.status() == QSettings::NoError && file.exists() && file.isWritable();
    }
    settings = std::make_unique<QSettings>(fileName, QSettings::IniFormat);
    return written;
}

QString IniSettingsStore::location() const
{
    return fileName;
}
