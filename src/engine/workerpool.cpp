#include "engine/workerpool.h"

#include "engine/outputfile.h"
#include "model/tagslots.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QFile>
#include <QIODevice>

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

extern char **environ;

namespace {
// More is no line of this program's.
constexpr qsizetype MaxValuesPerLine = 1024;
constexpr int HeaderBytes = 4;

QByteArray framed(const QByteArray &payload)
{
    QByteArray bytes;
    QDataStream(&bytes, QIODevice::WriteOnly) << quint32(payload.size());
    return bytes + payload;
}

// Both sides are one build, but the format should not drift with Qt's default.
QDataStream &versioned(QDataStream &stream)
{
    stream.setVersion(QDataStream::Qt_6_0);
    return stream;
}

bool readWhole(QDataStream &stream)
{
    return stream.status() == QDataStream::Ok && stream.atEnd();
}

QString failure(const QString &why)
{
    return QStringLiteral("the image could not be processed: %1").arg(why);
}
} // namespace

QByteArray EncodeWorkerRequest(const LinePlan &plan, const LineSettings &settings)
{
    QByteArray payload;
    QDataStream stream(&payload, QIODevice::WriteOnly);
    versioned(stream);
    // Only lines without a problem are handed out, so none travels.
    stream << qint32(plan.line) << plan.name << plan.source << plan.output.path << plan.output.name
           << qint64(plan.values.size());
    for (const TagValue &value : plan.values)
        stream << qint32(value.slot) << value.text;
    stream << settings.saveFolder << settings.reencode << settings.unicodeData << qint32(settings.maxMegapixels);
    return framed(payload);
}

bool DecodeWorkerRequest(const QByteArray &bytes, LinePlan &plan, LineSettings &settings)
{
    QDataStream stream(bytes);
    versioned(stream);
    qint32 line = 0;
    qint64 count = 0;
    stream >> line >> plan.name >> plan.source >> plan.output.path >> plan.output.name >> count;
    if (stream.status() != QDataStream::Ok || count < 0 || count > MaxValuesPerLine)
        return false;
    plan.line = line;
    plan.values.clear();
    for (qint64 n = 0; n < count; ++n) {
        qint32 slot = 0;
        QString text;
        stream >> slot >> text;
        if (slot < 1 || slot > TagSlotCount)
            return false;
        plan.values.append({slot, text});
    }
    qint32 limit = 0;
    stream >> settings.saveFolder >> settings.reencode >> settings.unicodeData >> limit;
    settings.maxMegapixels = limit;
    return readWhole(stream) && limit > 0;
}

QByteArray EncodeWorkerAnswer(const SaveOutcome &outcome)
{
    QByteArray payload;
    QDataStream stream(&payload, QIODevice::WriteOnly);
    versioned(stream) << qint32(outcome.status) << outcome.reason.text();
    return framed(payload);
}

std::optional<SaveOutcome> DecodeWorkerAnswer(const QByteArray &bytes)
{
    QDataStream stream(bytes);
    versioned(stream);
    qint32 status = -1;
    SaveOutcome outcome;
    QString reason;
    stream >> status >> reason;
    outcome.reason = reason;
    if (!readWhole(stream) || status < SaveOutcome::Saved || status > SaveOutcome::Skipped)
        return std::nullopt;
    outcome.status = SaveOutcome::Status(status);
    return outcome;
}

QString WorkerProgram()
{
    const QString chosen = qEnvironmentVariable("BRINDLEWAY_WORKER");
    if (!chosen.isEmpty())
        return chosen;
    return QCoreApplication::applicationDirPath() + QStringLiteral("/brindleway-worker");
}

WorkerPool::WorkerPool(QString workerProgram, LineSettings lineSettings, int most, int lineSeconds)
    : program(std::move(workerProgram)), settings(std::move(lineSettings)), maxWorkers(std::max(most, 1)),
      lineLimit(std::max(lineSeconds, 1))
{
}

WorkerPool::~WorkerPool()
{
    // An idle worker leaves when its input ends; one still busy is not waited for.
    for (Worker &worker : workers) {
        if (worker.plan)
            ::kill(worker.pid, SIGKILL);
        stop(worker);
    }
}

QString WorkerPool::start()
{
    return workers.empty() ? spawn() : QString();
}

bool WorkerPool::canTake() const
{
    return int(workers.size()) < maxWorkers
        || std::any_of(workers.begin(), workers.end(), [](const Worker &worker) { return !worker.plan; });
}

int WorkerPool::inHand() const
{
    return int(std::count_if(workers.begin(), workers.end(), [](const Worker &worker) { return bool(worker.plan); }));
}

bool WorkerPool::writes(const QString &key) const
{
    return std::any_of(workers.begin(), workers.end(),
                       [&](const Worker &worker) { return worker.plan && worker.plan->output.key() == key; });
}

QString WorkerPool::spawn()
{
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
    QByteArray path = QFile::encodeName(program);
    char *argv[] = {path.data(), nullptr};
    pid_t pid = -1;
    const int error = ::posix_spawn(&pid, path.constData(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(ends[1]);
    if (error != 0) {
        ::close(ends[0]);
        return QString::fromLocal8Bit(std::strerror(error));
    }
    workers.push_back({pid, ends[0], std::nullopt, {}, {}});
    return {};
}

int WorkerPool::stop(Worker &worker)
{
    ::close(worker.fd);
    worker.fd = -1;
    int status = 0;
    while (::waitpid(worker.pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

FinishedLine WorkerPool::lose(Worker &worker, const QString &why)
{
    // A worker that is dead or exiting keeps the status it had.
    ::kill(worker.pid, SIGKILL);
    const int status = stop(worker);
    QString reason = why;
    if (reason.isEmpty()) {
        reason = WIFSIGNALED(status) ? QStringLiteral("the worker stopped (signal %1)").arg(WTERMSIG(status))
                                     : QStringLiteral("the worker stopped (exit status %1)").arg(WEXITSTATUS(status));
    }
    FinishedLine line{*worker.plan, {SaveOutcome::Failed, failure(reason)}};
    worker.plan.reset();
    // Its temporary is no longer locked by anyone.
    RemoveStaleTemporaries(settings.saveFolder, {line.plan.output.name});
    return line;
}

std::optional<FinishedLine> WorkerPool::hand(const LinePlan &plan)
{
    const QByteArray request = EncodeWorkerRequest(plan, settings);
    if (request.size() - HeaderBytes > qsizetype(MaxWorkerMessageBytes))
        return FinishedLine{plan, {SaveOutcome::Failed, failure(QStringLiteral("the line's values are too large"))}};
    bool fresh = false;
    while (true) {
        auto worker = fresh ? workers.end()
                            : std::find_if(workers.begin(), workers.end(), [](const Worker &w) { return !w.plan; });
        if (worker == workers.end()) {
            if (const QString error = spawn(); !error.isEmpty())
                return FinishedLine{plan, {SaveOutcome::Failed, failure(QStringLiteral("no worker could be started (%1)").arg(error))}};
            worker = workers.end() - 1;
            fresh = true;
        }
        worker->plan = plan;
        worker->handedAt = std::chrono::steady_clock::now();
        if (SendWhole(worker->fd, request))
            return std::nullopt;
        FinishedLine lost = lose(*worker, {});
        workers.erase(worker);
        if (fresh)
            return lost;
        // An idle worker that died in between never saw the line: a fresh one gets it.
        fresh = true;
    }
}

QList<FinishedLine> WorkerPool::wait(int timeoutMs)
{
    QList<FinishedLine> finished;
    std::vector<pollfd> polled;
    for (const Worker &worker : workers) {
        if (worker.plan)
            polled.push_back({worker.fd, POLLIN, 0});
    }
    const int ready = polled.empty() ? 0 : ::poll(polled.data(), polled.size(), timeoutMs);
    // A library caught in a loop on a hostile file would hold the run for ever.
    const auto now = std::chrono::steady_clock::now();
    for (Worker &worker : workers) {
        if (worker.plan && now - worker.handedAt > lineLimit)
            finished.append(lose(worker, QStringLiteral("it took longer than %1 seconds").arg(lineLimit.count())));
    }
    if (ready <= 0) {
        std::erase_if(workers, [](const Worker &worker) { return worker.fd < 0; });
        return finished;
    }
    for (Worker &worker : workers) {
        const auto entry = std::find_if(polled.begin(), polled.end(), [&](const pollfd &p) { return p.fd == worker.fd; });
        if (entry == polled.end() || entry->revents == 0)
            continue;
        char buffer[64 * 1024];
        const ssize_t got = ::recv(worker.fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            continue;
        if (got <= 0) {
            finished.append(lose(worker, {}));
            continue;
        }
        worker.received.append(buffer, got);
        if (worker.received.size() < HeaderBytes)
            continue;
        quint32 size = 0;
        QDataStream(worker.received.first(HeaderBytes)) >> size;
        if (size > MaxWorkerMessageBytes) {
            finished.append(lose(worker, QStringLiteral("the worker gave an answer that could not be read")));
            continue;
        }
        if (worker.received.size() < HeaderBytes + qsizetype(size))
            continue;
        const auto outcome = DecodeWorkerAnswer(worker.received.mid(HeaderBytes, size));
        // A worker answers once per line; anything more is as garbled as a broken answer.
        if (!outcome || worker.received.size() != HeaderBytes + qsizetype(size)) {
            finished.append(lose(worker, QStringLiteral("the worker gave an answer that could not be read")));
            continue;
        }
        finished.append({*worker.plan, *outcome});
        worker.plan.reset();
        worker.received.clear();
        // An image library may keep memory it took for a file it failed
        // on: a fresh worker takes the next line.
        if (outcome->status == SaveOutcome::Failed)
            stop(worker);
    }
    std::erase_if(workers, [](const Worker &worker) { return worker.fd < 0; });
    return finished;
}

bool SendWhole(int fd, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        // No SIGPIPE: a worker that died is a lost line, not a lost run.
        const ssize_t sent = ::send(fd, bytes.constData() + done, size_t(bytes.size() - done), MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        done += sent;
    }
    return true;
}
