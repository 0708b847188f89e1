// brindleway-worker: writes the lines a batch run hands it (or, for a
// check, does all but the write), or reads the
// tags of the images an export hands it, one at a time, so that whatever an
// image library does with a file ends this process rather than the run. Requests come on standard input, answers go out on
// standard output, each as workerprotocol.h frames them.
#include "engine/run/workerprotocol.h"
#include "engine/worker/imagetags.h"
#include "engine/worker/linewriter.h"

#include <QByteArray>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <optional>

namespace {
// Far above what an image within the pixel limit needs decoded, far below
// what would push the machine into swap.
constexpr rlim_t MemoryLimit = rlim_t(4) << 30;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool AddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool AddressSanitizer = true;
#else
constexpr bool AddressSanitizer = false;
#endif
#else
constexpr bool AddressSanitizer = false;
#endif

void limitResources()
{
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    // Each written output holds a descriptor until the run has put it in place.
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
    }
    // AddressSanitizer reserves terabytes of address space up front.
    if (AddressSanitizer)
        return;
    rlimit memory{MemoryLimit, MemoryLimit};
    rlimit current{};
    if (::getrlimit(RLIMIT_AS, &current) == 0 && current.rlim_max != RLIM_INFINITY && current.rlim_max < MemoryLimit)
        memory = {current.rlim_max, current.rlim_max};
    ::setrlimit(RLIMIT_AS, &memory);
}

// False at the end of input or on a read error, and when it ends part-way.
bool readExactly(int fd, char *data, qsizetype size, bool *ended = nullptr)
{
    qsizetype done = 0;
    while (done < size) {
        const ssize_t got = ::read(fd, data + done, size_t(size - done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            if (ended)
                *ended = done == 0 && got == 0;
            return false;
        }
        done += got;
    }
    return true;
}

// Sends all of `bytes`; false when the run is gone.
bool writeAll(int fd, const QByteArray &bytes)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t put = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        done += put;
    }
    return true;
}

// The next message; nullopt at the end of input (`ended`) or when it is broken.
std::optional<WorkerRequest> readRequest(bool &ended)
{
    char header[FrameHeaderBytes];
    if (!readExactly(STDIN_FILENO, header, sizeof header, &ended))
        return std::nullopt;
    const quint32 size = FrameLength(header);
    if (size > MaxWorkerMessageBytes)
        return std::nullopt;
    QByteArray request(qsizetype(size), Qt::Uninitialized);
    if (!readExactly(STDIN_FILENO, request.data(), request.size()))
        return std::nullopt;
    return DecodeRequest(request);
}
} // namespace

int main(int argc, char **)
{
    // Run by hand it would wait for requests on standard input and say nothing.
    if (argc > 1 || ::isatty(STDIN_FILENO) == 1) {
        std::fputs("brindleway-worker: not meant to be run by hand; brindleway and brindleway-batch start it\n", stderr);
        return 2;
    }
    limitResources();
    // Answers get a descriptor of their own; what a library prints on
    // standard output goes to standard error instead of into an answer.
    const int answers = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (answers < 0 || ::dup2(STDERR_FILENO, STDOUT_FILENO) < 0)
        return 2;
    bool ended = false;
    const auto first = readRequest(ended);
    if (!first || first->kind != WorkerMessage::Settings)
        return ended ? 0 : 2;
    LineWriter writer(first->settings);
    if (!writeAll(answers, EncodeHello()))
        return 2;
    for (;;) {
        const auto request = readRequest(ended);
        if (!request)
            return ended ? 0 : 2;
        if (request->kind == WorkerMessage::Release) {
            writer.release(request->released);
            continue;
        }
        if (request->kind == WorkerMessage::ReadTags) {
            const ImageTags tags = ReadImageTagsAt(request->plan.source, first->settings.unicodeData);
            if (!writeAll(answers, EncodeTags(request->plan.line, tags)))
                return 2;
            continue;
        }
        if (request->kind == WorkerMessage::Check) {
            if (!writeAll(answers, EncodeAnswer(writer.check(request->plan))))
                return 2;
            continue;
        }
        if (request->kind != WorkerMessage::Line || !writeAll(answers, EncodeAnswer(writer.write(request->plan))))
            return 2;
    }
}
