#include "engine/run/workerjob.h"

#include <QTimer>

WorkerJob::WorkerJob(int items, std::function<LinePlan(int)> plan, QObject *parent)
    : QObject(parent), total(items), planItem(std::move(plan))
{
}

void WorkerJob::start(QString program, const LineSettings &settings, WorkerPool::Limits limits, WorkerMessage request)
{
    pool = new WorkerPool(std::move(program), settings, limits, this);
    pool->setRequest(request);
    connect(pool, &WorkerPool::ready, this, &WorkerJob::pump);
    connect(pool, &WorkerPool::unavailable, this, &WorkerJob::unavailable);
    connect(pool, &WorkerPool::answered, this, &WorkerJob::answer);
    connect(pool, &WorkerPool::stopped, this, [this] {
        if (ending)
            emit finished(refusal, refusal.isEmpty() && (held || next <= total));
    });
    pool->start();
    emit progress(0, total);
}

void WorkerJob::cancel()
{
    if (ending)
        return;
    stopping = true;
    // Later, so that a slot that cancels never ends the job in the middle of one of its steps.
    QTimer::singleShot(0, this, &WorkerJob::endWhenDone);
}

bool WorkerJob::planNext()
{
    if (!held && next <= total)
        held = planItem(next++);
    return bool(held);
}

void WorkerJob::pump()
{
    if (ending)
        return;
    if (!started) {
        started = true;
        if (going)
            going();
    }
    while (!stopping && planNext()) {
        if (held->problem) {
            const LinePlan skipped = *std::exchange(held, std::nullopt);
            answer(skipped, UnwrittenAnswer(skipped.line, LineOutcome::refused(skipped.problem)));
            continue;
        }
        // Lines that share an output are written one after the other.
        if (pool->sharesOutput(*held) || (waits && waits(*held)) || !pool->canTake())
            break;
        pool->hand(*held);
        held.reset();
    }
    endWhenDone();
}

void WorkerJob::answer(const LinePlan &plan, const WorkerAnswer &reply)
{
    ++done;
    emit answered(plan, reply);
    emit progress(done, total);
    // Not from within the answer of an item the pump itself answered.
    if (!plan.problem)
        pump();
}

void WorkerJob::endWhenDone()
{
    if (!started || ending || pool->inHand() > 0)
        return;
    if (!stopping && (held || next <= total))
        return;
    if (busy && busy())
        return;
    ending = true;
    pool->stop();
}

void WorkerJob::unavailable(const QString &why)
{
    if (started) {
        // The workers are gone and none starts again: the item waiting for one fails, and the next tries anew.
        if (!stopping && planNext()) {
            const LinePlan waiting = *std::exchange(held, std::nullopt);
            const Note failure = waiting.problem ? waiting.problem : Note{NoteCode::WorkerUnavailable, {why}};
            answer(waiting, UnwrittenAnswer(waiting.line, LineOutcome::refused(failure)));
        } else {
            pump();
        }
        return;
    }
    refusal = why.isEmpty() ? QStringLiteral("it did not start") : why;
    ending = true;
    pool->stop();
}
