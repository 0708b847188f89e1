#include "engine/run/batchcheck.h"

#include "engine/platform/savefolder.h"
#include "engine/run/batchrunner.h"
#include "engine/run/lineplanner.h"
#include "engine/run/workerjob.h"
#include "engine/run/workerprotocol.h"
#include "model/appstate.h"

#include <QEventLoop>
#include <QHash>
#include <QThread>

#include <algorithm>

namespace {
bool written(const QList<Note> &notes)
{
    return std::all_of(notes.begin(), notes.end(),
                       [](const Note &note) { return StatusOf(note.code) == LineStatus::SavedWithWarnings; });
}
} // namespace

qsizetype BatchCheck::problemLines() const
{
    return std::count_if(lines.begin(), lines.end(), [](const CheckedLine &line) { return !line.notes.isEmpty(); });
}

struct BatchChecker::Job {
    SaveFolder folder;
    std::optional<LinePlanner> planner;
    WorkerJob *work = nullptr;
    struct Answered {
        CheckedLine line;
        bool sidecar = false; // a sidecar will be written beside the copy
    };
    QList<std::optional<Answered>> answered; // by line, as the workers answer
};

BatchChecker::BatchChecker(QObject *parent) : QObject(parent) {}

BatchChecker::~BatchChecker() = default;

Problem BatchChecker::start(const AppState &app, const BatchOptions &options, int thumbnails)
{
    if (job)
        return BusyMessage;
    if (Problem refusal = RunRefusal(app))
        return refusal;
    auto next = std::make_unique<Job>();
    if (const QString refusal = OpenSaveFolder(next->folder, app.SavePath); !refusal.isEmpty())
        return refusal;
    const LinePlanner &planner = next->planner.emplace(app, options, next->folder);
    const int lines = planner.lines();
    next->answered.resize(lines);
    next->work = new WorkerJob(lines, [&planner](int line) { return planner.plan(line); }, this);
    connect(next->work, &WorkerJob::answered, this, &BatchChecker::answered);
    connect(next->work, &WorkerJob::progress, this, &BatchChecker::progress);
    connect(next->work, &WorkerJob::finished, this, &BatchChecker::ended);
    LineSettings settings = planner.settings();
    settings.thumbnailLines = thumbnails;
    const auto limits = WorkerPool::Limits::of(options.workers, lines, options.lineMs, options.graceMs);
    job = std::move(next);
    job->work->start(WorkerProgram(), settings, limits, WorkerMessage::Check);
    return {};
}

void BatchChecker::cancel()
{
    if (job)
        job->work->cancel();
}

void BatchChecker::answered(const LinePlan &plan, const WorkerAnswer &answer)
{
    if (!job)
        return;
    job->answered[plan.line - 1] = Job::Answered{{plan, answer.outcome.notes, answer.place, answer.thumbnail},
                                                 answer.sidecar.has_value()};
}

void BatchChecker::ended(const QString &refusal, bool stopped)
{
    BatchCheck check;
    if (!refusal.isEmpty()) {
        check.refusal = refusal;
    } else {
        check.stopped = stopped;
        // In line order, as the run will find the outputs when it puts each line's in place.
        QHash<QString, int> writtenBy; // output key -> the row of the last line that will write it
        for (std::optional<Job::Answered> &answered : job->answered) {
            if (!answered)
                continue;
            CheckedLine line = std::move(answered->line);
            const LinePlan &plan = line.plan;
            const bool sidecar = answered->sidecar;
            if (!written(line.notes)) {
                line.place.reset();
            } else {
                // What the run will find in place when it gets there.
                AddPlacedNotes(line.notes, plan, sidecar, plan.outputExists || writtenBy.contains(plan.outputKey),
                               plan.sidecarExists || writtenBy.contains(plan.sidecarKey), writtenBy);
            }
            check.lines.append(std::move(line));
        }
    }
    job->work->deleteLater();
    // Gone before the signal, so that whoever hears it may start the next check.
    job.reset();
    emit finished(check);
}

BatchCheck CheckBatch(const AppState &app, const BatchOptions &options)
{
    BatchChecker checker;
    BatchCheck check;
    QEventLoop loop;
    QObject::connect(&checker, &BatchChecker::finished, &loop, [&](const BatchCheck &done) {
        check = done;
        loop.quit();
    });
    if (Problem refusal = checker.start(app, options)) {
        check.refusal = refusal;
        return check;
    }
    loop.exec();
    return check;
}
