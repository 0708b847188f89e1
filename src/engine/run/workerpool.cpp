#include "engine/run/workerpool.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTimer>

#include <algorithm>
#include <deque>
#include <optional>

namespace {
// Lines sent to a worker before its answers come: it never waits on the
// run for its next line, and the run wakes for several answers at once.
constexpr size_t LinesAhead = 2;
} // namespace

struct WorkerPool::Worker {
    enum class State {
        Starting, // settings sent, no greeting yet
        Idle,
        Busy,     // lines in hand
        Retiring, // takes no more lines, and ends once the run has put its outputs in place
        Ending,   // told to end, or killed
    };
    QProcess *process = nullptr;
    QTimer *deadline = nullptr; // the greeting's or the line's
    QTimer *grace = nullptr;    // kills a worker told to end that is still there
    State state = State::Starting;
    std::deque<LinePlan> lines; // in hand, in the order sent: it works on the first
    bool skipping = false;      // told to leave the lines not begun, its Hello not yet read
    FrameReader reader;
    QList<int> held; // lines whose outputs wait in its temporaries
    Note lost;       // why the line it works on fails, when the pool ends the worker for it

    bool takes() const
    {
        return (state == State::Idle || state == State::Busy) && !skipping && lines.size() < LinesAhead;
    }
};

namespace {
// A worker that has not greeted has read no image: it needs no line's time,
// only room for a slow start on a busy machine.
constexpr int StartMs = 30000;

Note garbled()
{
    return {NoteCode::WorkerGarbled, {}};
}
} // namespace

QString WorkerProgram()
{
    const QString chosen = qEnvironmentVariable("BRINDLEWAY_WORKER");
    if (!chosen.isEmpty())
        return chosen;
    // Installed, the worker lives off PATH; in a build tree it sits beside the programs. The installed
    // place comes first so that a worker left in bin/ by an older install is not taken.
    const QDir programs(QCoreApplication::applicationDirPath());
    const QString installed = QDir::cleanPath(programs.filePath(QStringLiteral(BRINDLEWAY_WORKER_FROM_BINDIR "/brindleway-worker")));
    const QString beside = programs.filePath(QStringLiteral("brindleway-worker"));
    if (!QFileInfo::exists(installed) && QFileInfo::exists(beside))
        return beside;
    return installed;
}

WorkerPool::WorkerPool(QString workerProgram, const LineSettings &lineSettings, Limits poolLimits, QObject *parent)
    : QObject(parent), program(std::move(workerProgram)), settings(lineSettings), limits(poolLimits),
      room(std::max(poolLimits.workers, 1))
{
}

WorkerPool::~WorkerPool()
{
    // Nothing of theirs may reach a pool that is gone; QProcess kills and reaps each.
    for (const auto &worker : workers)
        worker->process->disconnect();
}

void WorkerPool::start()
{
    // All at once: each start costs a few milliseconds of the run's own.
    while (int(workers.size()) < room)
        spawn();
}

void WorkerPool::spawn()
{
    auto worker = std::make_unique<Worker>();
    auto *process = new QProcess(this);
    worker->process = process;
    worker->deadline = new QTimer(process);
    worker->deadline->setSingleShot(true);
    worker->grace = new QTimer(process);
    worker->grace->setSingleShot(true);
    process->setProgram(program);
    // A library's messages go where the run's own go, not into a buffer no one reads.
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    connect(process, &QProcess::readyReadStandardOutput, this, [this, process] {
        if (Worker *found = find(process))
            read(*found);
    });
    // Queued, so that no worker leaves the pool in the middle of a call into it.
    connect(process, &QProcess::finished, process, [this, process](int code, QProcess::ExitStatus status) {
        if (Worker *found = find(process))
            ended(*found, code, status == QProcess::CrashExit);
    }, Qt::QueuedConnection);
    connect(process, &QProcess::errorOccurred, process, [this, process](QProcess::ProcessError error) {
        Worker *found = find(process);
        if (found && error == QProcess::FailedToStart) {
            found->lost = {NoteCode::WorkerUnavailable, {process->errorString()}};
            ended(*found, -1, false);
        }
    }, Qt::QueuedConnection);
    connect(worker->deadline, &QTimer::timeout, this, [this, process] {
        if (Worker *found = find(process))
            timedOut(*found);
    });
    connect(worker->grace, &QTimer::timeout, process, &QProcess::kill);
    workers.push_back(std::move(worker));
    process->start(QIODevice::ReadWrite);
    if (process->state() != QProcess::NotRunning)
        process->write(EncodeSettings(settings));
    workers.back()->deadline->start(StartMs);
}

WorkerPool::Worker *WorkerPool::find(const QProcess *process) const
{
    const auto found = std::find_if(workers.begin(), workers.end(),
                                    [process](const auto &worker) { return worker->process == process; });
    return found == workers.end() ? nullptr : found->get();
}

int WorkerPool::alive() const
{
    return int(std::count_if(workers.begin(), workers.end(),
                             [](const auto &worker) { return worker->state != Worker::State::Ending; }));
}

bool WorkerPool::canTake()
{
    if (std::any_of(workers.begin(), workers.end(), [](const auto &worker) { return worker->takes(); }))
        return true;
    const int working = int(std::count_if(workers.begin(), workers.end(), [](const auto &worker) {
        return worker->state != Worker::State::Retiring && worker->state != Worker::State::Ending;
    }));
    if (!stopping && working < room)
        spawn();
    return false;
}

int WorkerPool::inHand() const
{
    int lines = 0;
    for (const auto &worker : workers)
        lines += int(worker->lines.size());
    return lines;
}

bool WorkerPool::sharesOutput(const LinePlan &plan) const
{
    const auto writes = [](const LinePlan &line, const QString &key) {
        return !key.isEmpty() && (line.outputKey == key || line.sidecarKey == key);
    };
    return std::any_of(workers.begin(), workers.end(), [&](const auto &worker) {
        return std::any_of(worker->lines.begin(), worker->lines.end(), [&](const LinePlan &line) {
            return writes(line, plan.outputKey) || writes(line, plan.sidecarKey);
        });
    });
}

void WorkerPool::hand(const LinePlan &plan)
{
    // The worker with the fewest lines in hand, so that the lines spread over all of them.
    Worker *chosen = nullptr;
    for (const auto &worker : workers) {
        if (worker->takes() && (!chosen || worker->lines.size() < chosen->lines.size()))
            chosen = worker.get();
    }
    if (!chosen)
        return;
    Worker &worker = *chosen;
    worker.lines.push_back(plan);
    worker.state = Worker::State::Busy;
    // Written as the worker reads it: one that does not read cannot hold the run, only its lines.
    worker.process->write(request == WorkerMessage::ReadTags ? EncodeReadTags(plan) : EncodeLine(plan, request));
    // The deadline is the first line's: the others have not begun.
    if (worker.lines.size() == 1)
        worker.deadline->start(limits.lineMs);
}

void WorkerPool::release(const QList<int> &lines)
{
    for (const auto &worker : workers) {
        QList<int> theirs;
        for (const int line : lines) {
            if (worker->held.removeOne(line))
                theirs.append(line);
        }
        if (theirs.isEmpty() || worker->state == Worker::State::Ending)
            continue;
        worker->process->write(EncodeRelease(theirs));
        retire(*worker);
    }
}

void WorkerPool::skip()
{
    // A worker with one line in hand is on it, or about to be: it finishes it, as it always did.
    for (const auto &worker : workers)
        skip(*worker, 2);
}

void WorkerPool::skip(Worker &worker, size_t fewest)
{
    if (worker.skipping || worker.lines.size() < fewest || worker.state == Worker::State::Ending
        || worker.state == Worker::State::Starting)
        return;
    worker.skipping = true;
    worker.process->write(EncodeSkip());
}

void WorkerPool::retire(Worker &worker)
{
    if (worker.state != Worker::State::Retiring)
        return;
    if (worker.held.isEmpty() && worker.lines.empty())
        end(worker, false);
    else
        skip(worker, 1);
}

void WorkerPool::stop()
{
    stopping = true;
    for (const auto &worker : workers) {
        if (worker->state != Worker::State::Ending)
            end(*worker, false);
    }
    if (workers.empty())
        QTimer::singleShot(0, this, &WorkerPool::stopped);
}

void WorkerPool::end(Worker &worker, bool kill)
{
    worker.state = Worker::State::Ending;
    worker.deadline->stop();
    if (kill) {
        worker.process->kill();
        return;
    }
    // A worker leaves when its input ends; one that is stopped or stuck is killed after the grace.
    worker.process->closeWriteChannel();
    worker.grace->start(limits.graceMs);
}

void WorkerPool::timedOut(Worker &worker)
{
    if (worker.state == Worker::State::Starting) {
        worker.lost = {NoteCode::WorkerUnavailable, {QStringLiteral("it did not start within %1 seconds").arg(StartMs / 1000.0)}};
        end(worker, true);
        return;
    }
    worker.lost = {NoteCode::WorkerTimedOut, {QString::number(limits.lineMs / 1000.0)}};
    // Asked first, so that a worker caught in a library loop can still leave cleanly; killed after the grace.
    worker.state = Worker::State::Ending;
    worker.process->terminate();
    worker.grace->start(limits.graceMs);
}

void WorkerPool::read(Worker &worker)
{
    worker.reader.append(worker.process->readAllStandardOutput());
    while (worker.state != Worker::State::Ending) {
        const std::optional<QByteArray> frame = worker.reader.next();
        if (!frame)
            break;
        const std::optional<WorkerAnswer> answer = DecodeAnswer(*frame);
        if (worker.state == Worker::State::Starting) {
            if (!answer || answer->line != 0) {
                worker.lost = {NoteCode::WorkerUnavailable, {QStringLiteral("it did not greet as a worker does")}};
                end(worker, true);
                return;
            }
            worker.state = Worker::State::Idle;
            worker.deadline->stop();
            emit ready();
            continue;
        }
        if (answer && worker.skipping && answer->line == 0 && !answer->tags) {
            // Its Hello after a Skip: the lines it has not answered it never began.
            worker.skipping = false;
            QList<LinePlan> back(worker.lines.begin(), worker.lines.end());
            worker.lines.clear();
            worker.deadline->stop();
            if (worker.state == Worker::State::Busy)
                worker.state = Worker::State::Idle;
            retire(worker);
            if (!back.isEmpty())
                emit givenBack(back);
            continue;
        }
        // A worker answers once per line, in kind and in order; anything more is as garbled as a broken answer.
        if (!answer || worker.lines.empty() || answer->line != worker.lines.front().line
            || answer->tags.has_value() != (request == WorkerMessage::ReadTags)) {
            worker.lost = garbled();
            end(worker, true);
            return;
        }
        const LinePlan plan = std::move(worker.lines.front());
        worker.lines.pop_front();
        // The next line's time starts now: it waited for this one.
        if (worker.lines.empty())
            worker.deadline->stop();
        else
            worker.deadline->start(limits.lineMs);
        // A checked line leaves nothing in the worker.
        if (answer->written && request == WorkerMessage::Line)
            worker.held.append(plan.line);
        // An image library may keep memory it took for a file it failed
        // on: the worker takes no more lines, and gives back those it has not begun.
        if (answer->outcome.status == LineStatus::Failed)
            worker.state = Worker::State::Retiring;
        else if (worker.state == Worker::State::Busy && worker.lines.empty())
            worker.state = Worker::State::Idle;
        retire(worker);
        emit answered(plan, *answer);
    }
    if (worker.reader.garbled() && worker.state != Worker::State::Ending) {
        worker.lost = garbled();
        end(worker, true);
    }
}

void WorkerPool::ended(Worker &worker, int code, bool crashed)
{
    const bool started = worker.state != Worker::State::Starting && worker.lost.code != NoteCode::WorkerUnavailable;
    // The first line is the one it was on; it never began the others.
    std::optional<LinePlan> plan;
    QList<LinePlan> back(worker.lines.begin(), worker.lines.end());
    if (!back.isEmpty())
        plan = back.takeFirst();
    Note why = worker.lost;
    if (!why)
        why = {NoteCode::WorkerStopped, {crashed ? QStringLiteral("signal") : QStringLiteral("exit"), QString::number(code)}};
    QProcess *process = worker.process;
    std::erase_if(workers, [&](const auto &each) { return each.get() == &worker; });
    process->deleteLater();
    if (!back.isEmpty())
        emit givenBack(back);
    if (plan)
        emit answered(*plan, UnwrittenAnswer(plan->line, LineOutcome::failed(why)));
    if (stopping) {
        if (workers.empty())
            emit stopped();
        return;
    }
    if (!started) {
        // Lines wait for a worker that runs; only with none at all is there nothing to wait for.
        if (alive() == 0) {
            emit unavailable(why.details.value(0));
            return;
        }
        // Another start would fail the same way until a worker leaves, which brings `ready`.
        room = std::max(1, alive());
        return;
    }
    // A worker that ran has left: there is room again for as many as the limit allows.
    room = std::max(limits.workers, 1);
    emit ready();
}
