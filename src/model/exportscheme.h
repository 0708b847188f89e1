#pragma once

#include "model/parsingscheme.h"

#include <QList>
#include <QString>

inline const QString ExportedSchemeName = QStringLiteral("Exported");

// The scheme that reads an exported data file back: the slot of column c,
// columnSlots[c - 1] (FileNameSlot for the file name), reads IPTC_Field<c>;
// every other slot is "Leave blank".
ParsingScheme ExportedScheme(const QString &name, const QList<int> &columnSlots);

// "Exported", else "Exported 2", "Exported 3"...: the first that no scheme
// of the table is named.
QString FreeExportedName(const SchemeTable &table);
