#pragma once

#include "model/parsingscheme.h"

class SettingsStore;

QString ParsingSection(int n);
QString TagKey(int slot);

// Replaces Schemes and SchemeCount with the store's schemes: sections
// Parsing1, Parsing2, ... up to the first whose Name is missing or empty.
void LoadSchemes(SchemeTable &table, const SettingsStore &store);

// Writes schemes 1..SchemeCount in full. Sections above SchemeCount stay
// untouched, except that `removedCount` sections right after the last
// scheme are removed: the ones left over by schemes deleted since the load,
// which would otherwise come back at the next start. Returns false when the
// store could not be written.
bool SaveParsings(const SchemeTable &table, SettingsStore &store, int removedCount = 0);
