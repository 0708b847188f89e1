#pragma once

#include "engine/batchline.h"
#include "model/problem.h"

#include <QList>
#include <QObject>
#include <QString>

#include <memory>

struct AppState;
struct WorkerAnswer;

inline const QString BusyMessage = QStringLiteral("A batch run is already in progress");

// What became of one data line.
struct LineReport {
    int line = 0; // the data line
    int row = 0;  // its row in the data file
    QString name; // the name the file-name slot gave
    LineOutcome outcome;
};

struct BatchResult {
    Problem refusal;            // why the run did not start
    int lines = 0;              // data lines in the file
    int files = 0;              // outputs written, each counted once however many lines wrote it
    QList<LineReport> reports;  // every line reached, in line order
    bool stopped = false;       // the run was cancelled before its last line

    bool refused() const { return bool(refusal); }
    qsizetype count(LineStatus status) const;
    // Lines saved, with warnings or without.
    qsizetype saved() const { return count(LineStatus::Saved) + count(LineStatus::SavedWithWarnings); }
    QList<LineReport> with(LineStatus status) const;
    bool allTaggedAndSaved() const { return !refused() && !stopped && count(LineStatus::Saved) == lines; }
};

// Runs a batch: plans each data line, hands it to a worker process, and
// puts the written outputs in place in groups, each group made durable
// with one sync before any of its outputs replaces anything. Nothing here
// waits: the caller's event loop drives the run, which reports through
// its signals.
class BatchRunner : public QObject {
    Q_OBJECT
public:
    explicit BatchRunner(QObject *parent = nullptr);
    ~BatchRunner() override;

    // Starts a run of app's selected scheme over app's data lines, with a
    // copy of everything it reads. Why it may not start; none when it
    // started (`finished` may still bring a refusal when no worker starts).
    Problem start(const AppState &app, const BatchOptions &options);
    // Hands out no more lines: those in hand are finished and put in place.
    void cancel();
    bool running() const { return bool(run); }

signals:
    // Lines done (read and written, or skipped) of all the data lines.
    void progress(int done, int lines);
    void finished(const BatchResult &result);

private:
    struct Run;
    void answered(const LinePlan &plan, const WorkerAnswer &answer);
    void commit();
    void committed();
    void finishLine(const LinePlan &plan, const LineOutcome &outcome);
    void stopped(const QString &refusal, bool stopped);

    std::unique_ptr<Run> run;
};
