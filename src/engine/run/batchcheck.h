#pragma once

#include "engine/batchline.h"
#include "model/problem.h"

#include <QByteArray>
#include <QList>
#include <QObject>

#include <memory>
#include <optional>

struct AppState;
struct WorkerAnswer;

// One data line as a run would treat it, and everything it would meet.
struct CheckedLine {
    LinePlan plan;     // line, row, name, source, output and values
    QList<Note> notes; // what the run will report for the line; empty when it will be saved in full
    std::optional<TagPlace> place; // where its tags will go; none when it will not be written
    QByteArray thumbnail;          // JPEG bytes a worker made, when asked for; empty when none
    int row() const { return plan.row; }
};

struct BatchCheck {
    Problem refusal; // why a run would not start
    QList<CheckedLine> lines; // every line reached, in line order
    bool stopped = false;     // cancelled before its last line

    bool refused() const { return bool(refusal); }
    qsizetype problemLines() const;
};

// Checks a batch as its run would go, writing nothing: each data line is
// planned by the run's own planner and handed to the run's worker
// processes, which do everything the run does with it up to the write,
// whose bytes go nowhere. The run's refusals, each line's notes as the
// writer gives them, and an output that will replace a file or the output
// of an earlier line. Nothing here waits: the caller's event loop drives
// the check, which reports through its signals.
class BatchChecker : public QObject {
    Q_OBJECT
public:
    explicit BatchChecker(QObject *parent = nullptr);
    ~BatchChecker() override;

    // Starts a check of app's selected scheme over app's data lines; each
    // line up to `thumbnails` that would be written brings a thumbnail of its
    // image. Why it may not start; none when it started (`finished` may still
    // bring a refusal when no worker starts).
    Problem start(const AppState &app, const BatchOptions &options, int thumbnails = 0);
    // Hands out no more lines; the check finishes with those reached.
    void cancel();
    bool running() const { return bool(job); }

signals:
    void progress(int done, int lines);
    void finished(const BatchCheck &check);

private:
    struct Job;
    void answered(const LinePlan &plan, const WorkerAnswer &answer);
    void ended(const QString &refusal, bool stopped);

    std::unique_ptr<Job> job;
};

// The same check, waited for: for the command line and tests.
BatchCheck CheckBatch(const AppState &app, const BatchOptions &options);
