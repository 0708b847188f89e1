#pragma once

#include "model/parsingscheme.h"
#include "model/settingsstore.h"

#include <QByteArray>
#include <QHash>
#include <QMap>
#include <QString>

// Writes `bytes` to `path`, creating folders on the way; fails the test on error.
void WriteFileBytes(const QString &path, const QByteArray &bytes);
QByteArray ReadFileBytes(const QString &path);

// A scheme named `name` whose slots are "Leave blank" but `values`.
inline ParsingScheme MakeScheme(const QString &name, const QHash<int, QString> &values = {})
{
    ParsingScheme scheme;
    scheme.Name = name;
    for (int i = 1; i <= SlotCount; ++i)
        scheme.slot(i) = values.value(i, LeaveBlank);
    return scheme;
}

// A store in memory; with failWrites set every sync fails, as on a full disk.
class MemorySettingsStore : public SettingsStore {
public:
    bool failWrites = false;

    QString read(const QString &section, const QString &key, const QString &defaultValue) const override
    {
        return values.value({section, key}, defaultValue);
    }
    void write(const QString &section, const QString &key, const QString &value) override
    {
        values.insert({section, key}, value);
    }
    void removeSection(const QString &section) override
    {
        for (const QString &key : keys(section))
            values.remove({section, key});
    }
    bool sync(const LossConsent &) override { return !failWrites; }
    QString location() const override { return QStringLiteral("memory"); }
    QStringList sections() const override
    {
        QStringList names;
        for (const auto &[section, key] : values.keys())
            names.append(section);
        names.removeDuplicates();
        return names;
    }
    QStringList keys(const QString &section) const override
    {
        QStringList names;
        for (const auto &[s, key] : values.keys()) {
            if (s == section)
                names.append(key);
        }
        return names;
    }
    bool contains(const QString &section, const QString &key) const { return values.contains({section, key}); }
    int valueCount() const { return int(values.size()); }

private:
    QMap<std::pair<QString, QString>, QString> values;
};
