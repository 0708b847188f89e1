#pragma once

#include "engine/batchtag.h"

#include <QList>
#include <QString>
#include <QStringList>

// The data file's row of data line L: the header is row 1.
constexpr int DataRow(int line) { return line + 1; }

// One data line as a run would treat it, and everything it would meet.
struct CheckedLine {
    LinePlan plan;       // line, name, source, output and values
    QStringList problems; // for the user, one line each; empty when the line is fine
    int row() const { return DataRow(plan.line); }
};

struct BatchCheck {
    Problem refusal; // why a run would not start
    QList<CheckedLine> lines;

    bool refused() const { return bool(refusal); }
    qsizetype problemLines() const;
};

// Plans every data line as BatchTag would and lists what would go wrong,
// writing nothing: a missing source or one that is no image of a known type
// (told from its first bytes only), a refused name, an output that would
// replace a file or another line's output, a value longer than IIM allows,
// and a date, time, urgency or country code not in IIM form.
BatchCheck CheckBatch(const BatchState &state, const AppState &app, const BatchOptions &options);
