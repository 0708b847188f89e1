#pragma once

#include "engine/batchtag.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <chrono>
#include <optional>
#include <vector>

// A line's request or answer is far smaller; anything larger is garbage.
inline constexpr quint32 MaxWorkerMessageBytes = 64u << 20;

// One message on the wire between the run and a worker: its length (4
// bytes, big-endian), then the bytes.
QByteArray EncodeWorkerRequest(const LinePlan &plan, const LineSettings &settings);
bool DecodeWorkerRequest(const QByteArray &bytes, LinePlan &plan, LineSettings &settings);
QByteArray EncodeWorkerAnswer(const SaveOutcome &outcome);
std::optional<SaveOutcome> DecodeWorkerAnswer(const QByteArray &bytes);

// The worker program: $BRINDLEWAY_WORKER, else brindleway-worker beside
// the running program.
QString WorkerProgram();

// Sends all of `bytes` on the socket `fd`; false when the other end is gone.
bool SendWhole(int fd, const QByteArray &bytes);

struct FinishedLine {
    LinePlan plan;
    SaveOutcome outcome;
};

// Worker processes that write planned lines, one line each at a time, so
// that whatever an image library does with a file costs no more than that
// line. Driven from the run's own thread: hand lines out, then wait.
class WorkerPool {
public:
    // A line still in hand after `lineSeconds` fails, and its worker is stopped.
    WorkerPool(QString program, LineSettings settings, int maxWorkers, int lineSeconds);
    ~WorkerPool();
    WorkerPool(const WorkerPool &) = delete;
    WorkerPool &operator=(const WorkerPool &) = delete;

    // Starts the first worker; why it could not, empty when it runs.
    QString start();
    // Whether a worker is idle or another may be started.
    bool canTake() const;
    // The lines handed out and not yet finished.
    int inHand() const;
    // Whether a line in hand writes the output `key` (OutputTarget::key).
    bool writes(const QString &key) const;
    // Hands a line to an idle or a fresh worker; the line comes back
    // finished at once when no worker can take it.
    std::optional<FinishedLine> hand(const LinePlan &plan);
    // Waits up to `timeoutMs` for answers; the lines that finished.
    QList<FinishedLine> wait(int timeoutMs);

private:
    struct Worker {
        int pid = -1;
        int fd = -1; // our end of the socket that is the worker's stdin and stdout
        std::optional<LinePlan> plan;
        QByteArray received;
        std::chrono::steady_clock::time_point handedAt; // when `plan` was handed over
    };
    QString spawn();
    FinishedLine lose(Worker &worker, const QString &why);
    // Closes the worker's socket and waits for it to end; its wait status.
    int stop(Worker &worker);

    QString program;
    LineSettings settings;
    int maxWorkers;
    std::chrono::seconds lineLimit;
    std::vector<Worker> workers;
};
