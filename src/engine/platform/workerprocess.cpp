#include "engine/platform/workerprocess.h"

#include <cerrno>

#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <poll.h>
#include <unistd.h>

namespace {
// Far above what an image within the pixel limit needs decoded, far below
// what would push the machine into swap.
constexpr rlim_t MemoryLimit = rlim_t(4) << 30;
// Free heap a worker keeps between lines: a 24 MP photo decoded, and its copies.
constexpr int KeptHeapBytes = 256 << 20;

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

} // namespace

void LimitWorkerResources()
{
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    // Each written output holds a descriptor until the run has put it in place.
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
    }
    // A re-encoded photo's pixels take tens of megabytes, which the C library
    // would map afresh for each photo and hand back after it: the kernel then
    // zeroes and faults in every page again, an eighth of a worker's time.
    // From the heap, and kept there up to a large photo's size, the next
    // photo reuses them.
    ::mallopt(M_MMAP_MAX, 0);
    ::mallopt(M_TRIM_THRESHOLD, KeptHeapBytes);
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
bool ReadExactly(int fd, char *data, qsizetype size, bool *ended)
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

bool InputWaiting(int fd)
{
    pollfd input{fd, POLLIN, 0};
    int ready = 0;
    do
        ready = ::poll(&input, 1, 0);
    while (ready < 0 && errno == EINTR);
    return ready > 0;
}

// Sends all of `bytes`; false when the run is gone.
bool WriteAll(int fd, const QByteArray &bytes)
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


bool InputIsTerminal()
{
    return ::isatty(STDIN_FILENO) == 1;
}

int TakeAnswerChannel()
{
    const int answers = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (answers < 0 || ::dup2(STDERR_FILENO, STDOUT_FILENO) < 0)
        return -1;
    return answers;
}
