#include "engine/run/batchrunner.h"

#include "engine/run/lineplanner.h"
#include "engine/platform/savefolder.h"
#include "engine/run/workerpool.h"
#include "engine/run/workerprotocol.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QHash>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <optional>

namespace {
// A group of outputs is made durable and put in place once it holds this
// many files or bytes, or has waited BatchOptions::commitMs: one sync for
// many outputs. The workers write the next group meanwhile, up to as many
// again; each temporary holds a descriptor in its worker until then.
constexpr qsizetype GroupFiles = 256;
constexpr qint64 GroupBytes = qint64(256) << 20;
// A run that goes while its group is being put in place waits this long
// for it; a disk that does not answer by then keeps the run's memory.
constexpr int CommitWaitMs = 10 * 60 * 1000;

bool workerLost(const LineOutcome &outcome)
{
    const NoteCode why = outcome.notes.value(0).code;
    return why == NoteCode::WorkerStopped || why == NoteCode::WorkerTimedOut || why == NoteCode::WorkerGarbled;
}
} // namespace

qsizetype BatchResult::count(LineStatus status) const
{
    return std::count_if(reports.begin(), reports.end(), [status](const LineReport &r) { return r.outcome.status == status; });
}

QList<LineReport> BatchResult::with(LineStatus status) const
{
    QList<LineReport> chosen;
    std::copy_if(reports.begin(), reports.end(), std::back_inserter(chosen),
                 [status](const LineReport &r) { return r.outcome.status == status; });
    return chosen;
}

struct BatchRunner::Run {
    struct Written {
        LinePlan plan;
        LineOutcome outcome;
        WrittenOutput output;
        std::optional<WrittenOutput> sidecar;
    };

    explicit Run(const BatchOptions &runOptions) : options(runOptions) {}

    BatchOptions options;
    SaveFolder folder;
    std::optional<LinePlanner> planner;
    WorkerPool *pool = nullptr;
    QTimer *commitTimer = nullptr;
    bool started = false;   // a worker greeted; lines go out
    bool cancelled = false;
    bool ending = false;    // every line is finished; the workers are leaving
    int next = 1;
    int done = 0;
    std::optional<LinePlan> held; // planned, waiting for a worker or for an earlier line of the same output
    QList<Written> written;       // answered and not yet put in place
    qint64 writtenBytes = 0;
    QThread *committing = nullptr; // puts `placing` in place, away from the event loop, which the syncs would hold
    QList<Written> placing;
    QList<Committed> placed;       // what became of each of `placing`, once `committing` has finished
    QStringList sweepAfter;        // outputs of lost workers, whose temporaries are swept once their group is in place
    QHash<QString, int> writtenBy; // output key -> the row of the last line put in place there
    BatchResult result;
};

BatchRunner::BatchRunner(QObject *parent) : QObject(parent) {}

BatchRunner::~BatchRunner()
{
    // The group in hand reaches its place before the folder it is put in closes.
    if (!run || !run->committing || run->committing->wait(QDeadlineTimer(CommitWaitMs)))
        return;
    run->committing->setParent(nullptr);
    [[maybe_unused]] Run *kept = run.release();
}

Problem BatchRunner::start(const AppState &app, const BatchOptions &options)
{
    if (run)
        return BusyMessage;
    if (Problem refusal = RunRefusal(app))
        return refusal;
    auto next = std::make_unique<Run>(options);
    if (const QString refusal = OpenSaveFolder(next->folder, app.SavePath); !refusal.isEmpty())
        return refusal;
    const int lines = LinePlanner::linesOf(app);
    next->result.lines = lines;
    WorkerPool::Limits limits;
    limits.workers = std::min(options.workers > 0 ? options.workers : QThread::idealThreadCount(), lines);
    limits.lineMs = options.lineMs;
    limits.graceMs = options.graceMs;
    next->pool = new WorkerPool(WorkerProgram(), LinePlanner::settingsFor(app, options, next->folder), limits, this);
    next->commitTimer = new QTimer(next->pool);
    next->commitTimer->setSingleShot(true);
    connect(next->pool, &WorkerPool::ready, this, &BatchRunner::pump);
    connect(next->pool, &WorkerPool::unavailable, this, &BatchRunner::unavailable);
    connect(next->pool, &WorkerPool::answered, this, &BatchRunner::answered);
    connect(next->pool, &WorkerPool::stopped, this, &BatchRunner::stopped);
    connect(next->commitTimer, &QTimer::timeout, this, &BatchRunner::commit);
    run = std::move(next);
    // The workers start while the lines are planned: each takes longer to
    // start than planning thousands of lines, and nothing comes from them
    // before the event loop runs again.
    run->pool->start();
    run->planner.emplace(app, options, run->folder);
    emit progress(0, lines);
    return {};
}

void BatchRunner::cancel()
{
    if (!run || run->ending)
        return;
    run->cancelled = true;
    // Later, so that a slot that cancels never ends the run in the middle of one of its steps.
    QTimer::singleShot(0, this, [this] {
        if (run)
            endWhenDone();
    });
}

bool BatchRunner::planNext()
{
    if (!run->held && run->next <= run->planner->lines())
        run->held = run->planner->plan(run->next++);
    return bool(run->held);
}

void BatchRunner::pump()
{
    if (!run || run->ending)
        return;
    if (!run->started) {
        run->started = true;
        // Only now that the run surely goes ahead: the folders the outputs go into lose what killed runs left.
        run->folder.sweep(run->planner->outputNames());
    }
    while (!run->cancelled && planNext()) {
        const LinePlan &plan = *run->held;
        if (plan.problem) {
            const LinePlan skipped = *std::exchange(run->held, std::nullopt);
            ++run->done;
            finishLine(skipped, LineOutcome::refused(skipped.problem));
            emit progress(run->done, run->result.lines);
            continue;
        }
        // Lines that share an output are written one after the other and put in place in line order.
        if (run->pool->sharesOutput(plan) || run->written.size() >= GroupFiles || !run->pool->canTake())
            break;
        run->pool->hand(plan);
        run->held.reset();
    }
    endWhenDone();
}

void BatchRunner::answered(const LinePlan &plan, const WorkerAnswer &answer)
{
    if (!run)
        return;
    ++run->done;
    if (answer.written) {
        run->written.append({plan, answer.outcome, *answer.written, answer.sidecar});
        run->writtenBytes += answer.written->bytes + (answer.sidecar ? answer.sidecar->bytes : 0);
        if (run->written.size() >= GroupFiles || run->writtenBytes >= GroupBytes)
            commit();
        else if (!run->commitTimer->isActive())
            run->commitTimer->start(run->options.commitMs);
    } else {
        finishLine(plan, answer.outcome);
        if (workerLost(answer.outcome)) {
            // Its outputs no longer locked, they are put in place before the sweep of what it left.
            run->sweepAfter.append(plan.output);
            commit();
        }
    }
    emit progress(run->done, run->result.lines);
    pump();
}

void BatchRunner::commit()
{
    run->commitTimer->stop();
    if (run->committing)
        return;
    if (run->written.isEmpty()) {
        run->folder.sweep(std::exchange(run->sweepAfter, {}));
        return;
    }
    run->placing = std::exchange(run->written, {});
    run->writtenBytes = 0;
    std::sort(run->placing.begin(), run->placing.end(), [](const auto &a, const auto &b) { return a.plan.line < b.plan.line; });
    QList<CommitItem> items;
    for (const Run::Written &each : run->placing) {
        items.append({each.plan.output, each.output, each.sidecar.has_value()});
        if (each.sidecar)
            items.append({each.plan.sidecar, *each.sidecar, false});
    }
    Run *group = run.get();
    const auto place = [group, items] { group->placed = group->folder.commit(items, group->planner->sources()); };
    run->committing = QThread::create(place);
    run->committing->setParent(this);
    connect(run->committing, &QThread::finished, this, &BatchRunner::committed);
    run->committing->start();
    if (run->committing->isRunning() || run->committing->isFinished())
        return;
    // No thread to be had (a process limit): the group is put in place here, and the run goes on as it would.
    place();
    QMetaObject::invokeMethod(this, &BatchRunner::committed, Qt::QueuedConnection);
}

void BatchRunner::committed()
{
    run->committing->deleteLater();
    run->committing = nullptr;
    const QList<Run::Written> group = std::exchange(run->placing, {});
    const QList<Committed> results = std::exchange(run->placed, {});
    QList<int> lines;
    qsizetype item = 0;
    for (const Run::Written &each : group) {
        const LinePlan &plan = each.plan;
        lines.append(plan.line);
        const Committed output = results[item++];
        const Committed sidecar = each.sidecar ? results[item++] : Committed();
        if (Note failure = output.failure ? output.failure : sidecar.failure) {
            finishLine(plan, LineOutcome::refused(failure));
            continue;
        }
        QList<Note> notes = each.outcome.notes;
        if (plan.blanks)
            notes.append(plan.blanks);
        if (output.replaced)
            notes.append(ReplacedNote(run->writtenBy, plan.outputKey, {}));
        if (each.sidecar && plan.sidecarNote)
            notes.append(plan.sidecarNote);
        if (sidecar.replaced)
            notes.append(ReplacedNote(run->writtenBy, plan.sidecarKey, plan.sidecar));
        run->writtenBy.insert(plan.outputKey, plan.row);
        if (each.sidecar)
            run->writtenBy.insert(plan.sidecarKey, plan.row);
        finishLine(plan, LineOutcome::saved(notes));
    }
    run->pool->release(lines);
    if (!run->sweepAfter.isEmpty() || run->written.size() >= GroupFiles || run->writtenBytes >= GroupBytes)
        commit();
    else if (!run->written.isEmpty() && !run->commitTimer->isActive())
        run->commitTimer->start(run->options.commitMs);
    pump();
}

void BatchRunner::finishLine(const LinePlan &plan, const LineOutcome &outcome)
{
    run->result.reports.append({plan.line, plan.row, plan.name, outcome});
    emit lineFinished(run->result.reports.last());
}

void BatchRunner::endWhenDone()
{
    if (!run->started || run->ending || run->pool->inHand() > 0 || run->committing)
        return;
    if (!run->cancelled && (run->held || run->next <= run->planner->lines()))
        return;
    if (!run->written.isEmpty()) {
        // Ends once the last group is in place.
        commit();
        return;
    }
    run->ending = true;
    run->result.stopped = run->held || run->next <= run->planner->lines();
    run->pool->stop();
}

void BatchRunner::unavailable(const QString &why)
{
    if (!run)
        return;
    if (run->started) {
        // The workers are gone and none starts again: the line waiting for one fails, and the next tries anew.
        if (planNext()) {
            const LinePlan waiting = *std::exchange(run->held, std::nullopt);
            ++run->done;
            finishLine(waiting, LineOutcome::failed({NoteCode::WorkerUnavailable, {why}}));
            emit progress(run->done, run->result.lines);
        }
        pump();
        return;
    }
    run->result.refusal = NoWorkerMessage.arg(QDir::toNativeSeparators(WorkerProgram()), why);
    run->ending = true;
    run->pool->stop();
}

void BatchRunner::stopped()
{
    if (!run || !run->ending)
        return;
    BatchResult result = std::move(run->result);
    std::stable_sort(result.reports.begin(), result.reports.end(),
                     [](const LineReport &a, const LineReport &b) { return a.line < b.line; });
    result.files = int(run->writtenBy.size());
    run->pool->deleteLater();
    // Gone before the signal, so that whoever hears it may start the next run.
    run.reset();
    emit finished(result);
}
