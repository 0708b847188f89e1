#include "engine/run/batchrunner.h"

#include "engine/platform/savefolder.h"
#include "engine/run/lineplanner.h"
#include "engine/run/workerjob.h"
#include "engine/run/workerpool.h"
#include "engine/run/workerprotocol.h"

#include <QDeadlineTimer>
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
    WorkerJob *work = nullptr;
    QTimer *commitTimer = nullptr;
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
    const auto limits = WorkerPool::Limits::of(options.workers, lines, options.lineMs, options.graceMs);
    Run *started = next.get();
    WorkerJob *work = next->work = new WorkerJob(lines, [started](int line) { return started->planner->plan(line); }, this);
    // Lines that share an output are written one after the other and put in place in line order;
    // a full group waits to be put in place.
    work->waits = [started](const LinePlan &) { return started->written.size() >= GroupFiles; };
    // Only now that the run surely goes ahead: the folders the outputs go into lose what killed runs left.
    work->going = [started] { started->folder.sweep(started->planner->outputNames()); };
    // The workers hold the outputs until they are in place: the last group goes before they leave.
    work->busy = [this, started] {
        if (!started->committing && !started->written.isEmpty())
            commit();
        return started->committing != nullptr;
    };
    next->commitTimer = new QTimer(work);
    next->commitTimer->setSingleShot(true);
    connect(work, &WorkerJob::progress, this, &BatchRunner::progress);
    connect(work, &WorkerJob::answered, this, &BatchRunner::answered);
    connect(work, &WorkerJob::finished, this, &BatchRunner::stopped);
    connect(next->commitTimer, &QTimer::timeout, this, &BatchRunner::commit);
    run = std::move(next);
    // The workers start while the lines are planned: each takes longer to
    // start than planning thousands of lines, and no line is asked of the
    // planner before the event loop runs again.
    work->start(WorkerProgram(), LinePlanner::settingsFor(app, options, run->folder), limits, WorkerMessage::Line);
    run->planner.emplace(app, options, run->folder);
    return {};
}

void BatchRunner::cancel()
{
    if (run)
        run->work->cancel();
}

void BatchRunner::answered(const LinePlan &plan, const WorkerAnswer &answer)
{
    if (!run)
        return;
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
        AddPlacedNotes(notes, plan, bool(each.sidecar), output.replaced, sidecar.replaced, run->writtenBy);
        finishLine(plan, LineOutcome::saved(notes));
    }
    run->work->release(lines);
    if (!run->sweepAfter.isEmpty() || run->written.size() >= GroupFiles || run->writtenBytes >= GroupBytes)
        commit();
    else if (!run->written.isEmpty() && !run->commitTimer->isActive())
        run->commitTimer->start(run->options.commitMs);
    run->work->pump();
}

void BatchRunner::finishLine(const LinePlan &plan, const LineOutcome &outcome)
{
    run->result.reports.append({plan.line, plan.row, plan.name, outcome});
}

void BatchRunner::stopped(const QString &refusal, bool stopped)
{
    if (!run)
        return;
    if (!refusal.isEmpty())
        run->result.refusal = refusal;
    run->result.stopped = stopped;
    BatchResult result = std::move(run->result);
    std::stable_sort(result.reports.begin(), result.reports.end(),
                     [](const LineReport &a, const LineReport &b) { return a.line < b.line; });
    result.files = int(run->writtenBy.size());
    run->work->deleteLater();
    // Gone before the signal, so that whoever hears it may start the next run.
    run.reset();
    emit finished(result);
}
