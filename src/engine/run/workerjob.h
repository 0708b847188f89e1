#pragma once

#include "engine/batchline.h"
#include "engine/run/workerpool.h"

#include <QObject>
#include <QString>

#include <deque>
#include <functional>

// %1 the worker program, %2 why it could not be started.
inline const QString NoWorkerMessage = QStringLiteral("Cannot start the image worker %1:\n%2.");

// One job of a run, an export or a check over the worker pool: its items
// are planned one at a time, handed out as workers take them, and the
// workers end once every item is answered or the job is cancelled. An item
// planned with a problem is answered here with it, without a worker.
class WorkerJob : public QObject {
    Q_OBJECT
public:
    // `plan` gives item n (1-based) of `items`.
    WorkerJob(int items, std::function<LinePlan(int)> plan, QObject *parent = nullptr);

    // What the owner adds: whether a planned item must wait for answers
    // before it goes out (the run's full group), whether the owner still has
    // work the workers must stay for (outputs to put in place), and what it
    // does once, when the first worker greets and the job surely goes ahead.
    std::function<bool(const LinePlan &)> waits;
    std::function<bool()> busy;
    std::function<void()> going;

    // Starts the workers with `settings`, sending items as `request`s.
    void start(QString program, const LineSettings &settings, WorkerPool::Limits limits, WorkerMessage request);
    // Hands out no more items: those in hand are answered first.
    void cancel();
    // Hands out what may go now, and ends the workers when nothing is left.
    void pump();
    void release(const QList<int> &lines) { pool->release(lines); }

    int items() const { return total; }
    bool cancelled() const { return stopping; }
    // Items before the first one not answered nor in hand.
    int reached() const { return (pending.empty() ? next : pending.front().line) - 1; }

signals:
    // An item's answer: a worker's, the pool's own for a lost worker, the
    // item's problem, or WorkerUnavailable when no worker runs any more.
    void answered(const LinePlan &plan, const WorkerAnswer &answer);
    void progress(int done, int items);
    // The workers are gone: `refusal` (NoWorkerMessage, worded) when none
    // ever started (nothing was done), `stopped` when items were left out.
    void finished(const QString &refusal, bool stopped);

private:
    bool planNext();
    void takeBack(const QList<LinePlan> &lines);
    void answer(const LinePlan &plan, const WorkerAnswer &answer);
    void endWhenDone();
    void unavailable(const QString &why);

    int total;
    std::function<LinePlan(int)> planItem;
    WorkerPool *pool = nullptr;
    bool started = false; // a worker greeted; items go out
    bool stopping = false;
    bool ending = false;  // every item is answered; the workers are leaving
    int next = 1;
    int done = 0;
    // Planned, waiting for a worker or for earlier answers, by line: those
    // given back come before the next planned.
    std::deque<LinePlan> pending;
    QString program;
    QString refusal;
};
