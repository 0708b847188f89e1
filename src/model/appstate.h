#pragma once

#include "model/datafile.h"
#include "model/parsingscheme.h"
#include "model/tagslots.h"

#include <QString>

#include <array>

// What the scheme editor and the aggregation editor share: seven pieces and,
// in the last element, the expression.
using AggregatePartsTable = std::array<QString, 8>;

// The program's shared state, owned by the application and handed by
// reference to whatever needs it, so each test starts from a fresh one.
struct AppState {
    IptcTagKeyTable IptcTagKeys;
    SchemeTable Schemes;      // Schemes.Schemes, Schemes.SchemeCount
    IptcDataFile Data;        // DataLines, LastDataLine, FieldCount, FieldGrid
    QString ImagePath;
    QString SavePath;
    // Position p of the main window's scheme list, selecting Schemes[p + 1];
    // -1 while nothing is selected.
    int SelectedScheme = -1;
    AggregatePartsTable AggregateParts;
    bool FillingSlotCombos = false;
};
