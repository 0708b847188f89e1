#include "model/exportscheme.h"

#include "model/slotexpression.h"

#include <QSet>

ParsingScheme ExportedScheme(const QString &name, const QList<int> &columnSlots)
{
    ParsingScheme scheme;
    scheme.Name = name;
    scheme.Slots.fill(LeaveBlank);
    for (qsizetype c = 0; c < columnSlots.size(); ++c) {
        const int slot = columnSlots.at(c);
        if (slot >= 1 && slot <= AllSlotCount)
            scheme.slot(slot) = FieldReferencePrefix + QString::number(c + 1);
    }
    return scheme;
}

QString FreeExportedName(const SchemeTable &table)
{
    QSet<QString> taken;
    for (int n = 1; n <= table.SchemeCount; ++n)
        taken.insert(table.Schemes.at(n).Name);
    QString name = ExportedSchemeName;
    for (int k = 2; taken.contains(name); ++k)
        name = ExportedSchemeName + QLatin1Char(' ') + QString::number(k);
    return name;
}
