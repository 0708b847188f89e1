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
    : settings(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                           QStringLiteral("Brindleway"), QStringLiteral("Brindleway")))
{
}

IniSettingsStore::IniSettingsStore(const QString &fileName)
    : settings(std::make_unique<QSettings>(fileName, QSettings::IniFormat))
{
}

IniSettingsStore::~IniSettingsStore() = default;

QString IniSettingsStore::read(const QString &section, const QString &key, const QString &defaultValue) const
{
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
    settings->setValue(joinKey(section, key), value);
}

void IniSettingsStore::removeSection(const QString &section)
{
    settings->remove(section);
}

bool IniSettingsStore::sync()
{
    settings->sync();
    if (settings->status() != QSettings::NoError)
        return false;
    // QSettings reports no error when it silently keeps the values in memory
    // because the file cannot be created; check the file is really there.
    QFileInfo file(settings->fileName());
    return file.exists() && file.isWritable();
}

QString IniSettingsStore::location() const
{
    return settings->fileName();
}
