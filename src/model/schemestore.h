#pragma once

#include "model/parsingscheme.h"
#include "model/problem.h"
#include "model/settingsstore.h"

#include <QStringList>

QString ParsingSection(int n);
QString TagKey(int slot);

// What a load of the schemes could not use, worded for the user.
struct SchemeStoreReport {
    QString readError;         // the store could not be read at all, so no scheme was loaded
    QStringList notUnderstood; // what it holds that the load skipped or read only in part, one each

    bool clean() const { return readError.isEmpty() && notUnderstood.isEmpty(); }
};

// Replaces Schemes and SchemeCount with the store's schemes: sections
// Parsing1, Parsing2, ... up to the first whose Name is missing or empty.
SchemeStoreReport LoadSchemes(SchemeTable &table, const SettingsStore &store);

// The report as a message naming the store, listing `listed` items at most.
QString SchemeStoreReportText(const SchemeStoreReport &report, const QString &location, int listed);

// Writes schemes 1..SchemeCount in full. Sections above SchemeCount stay
// untouched, except that `removedCount` sections right after the last
// scheme are removed: the ones left over by schemes deleted since the load,
// which would otherwise come back at the next start. Returns false when the
// store could not be written, or when the save would destroy what the store
// holds but was never loaded and `consent` (asked first) did not allow it.
bool SaveParsings(const SchemeTable &table, SettingsStore &store, int removedCount = 0,
                  const LossConsent &consent = {});

// The number (1 to SchemeCount) of the first scheme named `name`; 0 when none is.
int SchemeNamed(const SchemeTable &table, const QString &name);
// %1 the name.
inline const QString SchemeNameTakenMessage = QStringLiteral("a parsing scheme is already named \"%1\"");

// Stores `scheme` after the others, or in place of the first scheme of its
// name when `replace` is set; a name already taken is refused otherwise. The
// table gets the scheme too, and stays as it was when the store refuses.
Problem StoreScheme(SchemeTable &table, SettingsStore &store, const ParsingScheme &scheme, bool replace,
                    const LossConsent &consent = {});
