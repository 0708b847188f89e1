#pragma once

#include "engine/batchline.h"
#include "engine/run/workerprotocol.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QThread>

#include <memory>
#include <vector>

class QProcess;

// The worker program: $BRINDLEWAY_WORKER, else brindleway-worker where an
// install puts it (libexec/brindleway/ beside the running program's bin/),
// else beside the running program, as in a build tree.
QString WorkerProgram();

// Worker processes that write planned lines, each one line at a time, so
// that whatever an image library does with a file costs no more than that
// line. Nothing here waits: requests are written as the workers read them,
// a few lines ahead of each worker, answers come as signals, and timers end
// the workers that take too long over a line.
class WorkerPool : public QObject {
    Q_OBJECT
public:
    struct Limits {
        int workers = 1; // at most this many at once
        int lineMs = 600000; // a line still unanswered after this long fails and ends its worker
        int graceMs = 2000;  // a worker told to end is killed when it is still there after this long

        // `wanted` workers (0: one a processor), never more than there are `items`.
        static Limits of(int wanted, qsizetype items, int lineMs, int graceMs)
        {
            return {int(std::min<qsizetype>(wanted > 0 ? wanted : QThread::idealThreadCount(), items)), lineMs, graceMs};
        }
    };

    WorkerPool(QString program, const LineSettings &settings, Limits limits, QObject *parent = nullptr);
    ~WorkerPool() override;

    // Lines go out as `kind` requests: Line (the default), for the worker to
    // write, Check, for it to do all but the write, or ReadTags, for it to
    // read the source's tags. Set before start().
    void setRequest(WorkerMessage kind) { request = kind; }
    // Starts the workers: `ready` as each can take lines, `unavailable` when none could start.
    void start();
    // Whether a worker has room for a line. When none is, one more is
    // started if the limit allows, and `ready` comes when it can take one.
    bool canTake();
    // The lines handed out and not yet answered.
    int inHand() const;
    // Whether a line in hand writes an output (or sidecar) that `plan` writes.
    bool sharesOutput(const LinePlan &plan) const;
    // Hands a line to a worker that has room for one.
    void hand(const LinePlan &plan);
    // Tells the workers to leave the lines they have not begun: they come back through `givenBack`.
    void skip();
    // Tells the workers that hold the outputs of `lines` to let them go.
    void release(const QList<int> &lines);
    // Ends every worker (their input closed, a kill after the grace);
    // `stopped` comes when all are gone.
    void stop();

signals:
    // A worker can take a line (or one more may be started).
    void ready();
    // No worker runs and none could be started.
    void unavailable(const QString &why);
    // What became of a line handed out: a worker's answer, or the pool's
    // own when the worker stopped, took too long or answered garbage.
    void answered(const LinePlan &plan, const WorkerAnswer &answer);
    // Lines handed out that no worker began (it left, failed a line before
    // them or was told to skip), in the order handed: to go out again, or not at all.
    void givenBack(const QList<LinePlan> &lines);
    void stopped();

private:
    struct Worker;
    void spawn();
    // Sends a Skip when the worker has at least `fewest` lines in hand.
    void skip(Worker &worker, size_t fewest);
    // A retiring worker gives back the lines it has not begun, and leaves
    // once none is left and the run has put its outputs in place.
    void retire(Worker &worker);
    Worker *find(const QProcess *process) const;
    void read(Worker &worker);
    void timedOut(Worker &worker);
    // Ends a worker: gently (its input closed) or not (killed at once).
    void end(Worker &worker, bool kill);
    void ended(Worker &worker, int code, bool crashed);
    int alive() const;

    QString program;
    LineSettings settings;
    Limits limits;
    WorkerMessage request = WorkerMessage::Line;
    int room; // workers at most for now: lowered when a start fails while others run
    bool stopping = false;
    std::vector<std::unique_ptr<Worker>> workers;
};
