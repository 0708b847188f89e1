#pragma once

#include "engine/batchline.h"
#include "model/problem.h"

#include <QList>

#include <optional>

struct AppState;

// One data line as a run would treat it, and everything it would meet.
struct CheckedLine {
    LinePlan plan;     // line, row, name, source, output and values
    QList<Note> notes; // what the run will report for the line; empty when it will be saved in full
    std::optional<TagPlace> place; // where its tags will go; none when it will not be written
    int row() const { return plan.row; }
};

struct BatchCheck {
    Problem refusal; // why a run would not start
    QList<CheckedLine> lines;

    bool refused() const { return bool(refusal); }
    qsizetype problemLines() const;
};

// Plans every data line with the run's own planner and foresees what the
// run will report for it, writing nothing: the run's refusals, a refused
// name or output, a source that is missing or no image of a known type,
// what the writer will say of the line's values for that source, and an
// output that will replace a file or the output of an earlier line. Each
// source is opened and only its headers are read.
BatchCheck CheckBatch(const AppState &app, const BatchOptions &options);
