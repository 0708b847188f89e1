#pragma once

#include "model/xmpfields.h"

#include <QList>
#include <QString>

#include <array>

inline const QString LeaveBlank = QStringLiteral("Leave blank");

// One field-parsing scheme: a name and the expressions of slots 1 to 24,
// then of the XMP slots.
struct ParsingScheme {
    QString Name;
    std::array<QString, AllSlotCount> Slots; // Slots[i - 1] is slot i

    QString &slot(int i) { return Slots[i - 1]; }
    const QString &slot(int i) const { return Slots[i - 1]; }

    friend bool operator==(const ParsingScheme &, const ParsingScheme &) = default;
};

// Entries 1..SchemeCount are the schemes in store order; entry 0 is the
// working record the scheme dialogs pass between them, never listed or stored.
struct SchemeTable {
    QList<ParsingScheme> Schemes{ParsingScheme{}};
    int SchemeCount = 0;

    friend bool operator==(const SchemeTable &, const SchemeTable &) = default;
};
