#include "model/schemestore.h"

#include "model/settingsstore.h"

QString ParsingSection(int n)
{
    return QStringLiteral("Parsing") + QString::number(n);
}

QString TagKey(int slot)
{
    return QStringLiteral("Tag") + QString::number(slot);
}

void LoadSchemes(SchemeTable &table, const SettingsStore &store)
{
    table.Schemes = {ParsingScheme{}};
    int n = 1;
    for (;; ++n) {
        const QString section = ParsingSection(n);
        const QString name = store.read(section, QStringLiteral("Name"), QString());
        if (name.isEmpty())
            break;
        ParsingScheme scheme;
        scheme.Name = name;
        for (int i = 1; i <= SlotCount; ++i)
            scheme.slot(i) = store.read(section, TagKey(i), LeaveBlank);
        table.Schemes.append(scheme);
    }
    table.SchemeCount = n - 1;
}

bool SaveParsings(const SchemeTable &table, SettingsStore &store, int removedCount)
{
    if (table.SchemeCount == 0 && removedCount == 0)
        return true;
    for (int i = 1; i <= table.SchemeCount; ++i) {
        const QString section = ParsingSection(i);
        const ParsingScheme &scheme = table.Schemes[i];
        store.write(section, QStringLiteral("Name"), scheme.Name);
        for (int j = 1; j <= SlotCount; ++j)
            store.write(section, TagKey(j), scheme.slot(j));
    }
    for (int i = 1; i <= removedCount; ++i)
        store.removeSection(ParsingSection(table.SchemeCount + i));
    return store.sync();
}
