#include "engine/run/workerjob.h"

#include <QDir>
#include <QTimer>

#include <algorithm>

WorkerJob::WorkerJob(int items, std::function<LinePlan(int)> plan, QObject *parent)
    : QObject(parent), total(items), planItem(std::move(plan))
{
}

void WorkerJob::start(QString program, const LineSettings &settings, WorkerPool::Limits limits, WorkerMessage request)
{
    this->program = program;
    pool = new WorkerPool(std::move(program), settings, limits, this);
    pool->setRequest(request);
    connect(pool, &WorkerPool::ready, this, &WorkerJob::pump);
    connect(pool, &WorkerPool::unavailable, this, &WorkerJob::unavailable);
    connect(pool, &WorkerPool::answered, this, &WorkerJob::answer);
    connect(pool, &WorkerPool::givenBack, this, &WorkerJob::takeBack);
    connect(pool, &WorkerPool::stopped, this, [this] {
        if (ending)
            emit finished(refusal, refusal.isEmpty() && (!pending.empty() || next <= total));
    });
    pool->start();
    emit progress(0, total);
}

void WorkerJob::cancel()
{
    if (ending)
        return;
    stopping = true;
    // The lines sent ahead and not begun come back and stay out.
    if (pool)
        pool->skip();
    // Later, so that a slot that cancels never ends the job in the middle of one of its steps.
    QTimer::singleShot(0, this, &WorkerJob::endWhenDone);
}

bool WorkerJob::planNext()
{
    if (pending.empty() && next <= total)
        pending.push_back(planItem(next++));
    return !pending.empty();
}

void WorkerJob::takeBack(const QList<LinePlan> &lines)
{
    for (const LinePlan &plan : lines) {
        const auto after = std::find_if(pending.begin(), pending.end(),
                                        [&](const LinePlan &each) { return each.line > plan.line; });
        pending.insert(after, plan);
    }
    // Not while a cancel waits for the workers: what comes back then stays out.
    if (!stopping)
        pump();
    else
        endWhenDone();
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
        LinePlan &first = pending.front();
        if (first.problem) {
            const LinePlan skipped = std::move(first);
            pending.pop_front();
            answer(skipped, UnwrittenAnswer(skipped.line, LineOutcome::refused(skipped.problem)));
            continue;
        }
        // Lines that share an output are written one after the other.
        if (pool->sharesOutput(first) || (waits && waits(first)) || !pool->canTake())
            break;
        pool->hand(first);
        pending.pop_front();
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
    if (!stopping && (!pending.empty() || next <= total))
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
            const LinePlan waiting = std::move(pending.front());
            pending.pop_front();
            const Note failure = waiting.problem ? waiting.problem : Note{NoteCode::WorkerUnavailable, {why}};
            answer(waiting, UnwrittenAnswer(waiting.line, LineOutcome::refused(failure)));
        } else {
            pump();
        }
        return;
    }
    refusal = NoWorkerMessage.arg(QDir::toNativeSeparators(program), why.isEmpty() ? QStringLiteral("it did not start") : why);
    ending = true;
    pool->stop();
}
