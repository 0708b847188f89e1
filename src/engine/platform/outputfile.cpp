#include "engine/platform/outputfile.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

QString SystemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

qint64 ReadAt(int in, char *into, qint64 length, qint64 at)
{
    qint64 done = 0;
    while (done < length) {
        const ssize_t got = ::pread(in, into + done, size_t(length - done), off_t(at + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        done += got;
    }
    return done;
}

QString WriteAt(int out, QByteArrayView bytes, qint64 at)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t put = ::pwrite(out, bytes.data() + done, size_t(bytes.size() - done), off_t(at + done));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return SystemError(put < 0 ? errno : EIO);
        done += put;
    }
    return {};
}

QString CopyFileRange(int in, qint64 from, int out, qint64 at, qint64 length)
{
    bool kernelCopies = true;
    std::vector<char> buffer;
    for (qint64 done = 0; done < length;) {
        const qint64 left = length - done;
        if (kernelCopies) {
            loff_t inAt = from + done;
            loff_t outAt = at + done;
            const ssize_t copied = ::copy_file_range(in, &inAt, out, &outAt, size_t(std::min<qint64>(left, 1 << 30)), 0);
            if (copied > 0) {
                done += copied;
                continue;
            }
            if (copied == 0)
                return QStringLiteral("the image ended before all of it was copied");
            if (errno == EINTR)
                continue;
            // Older kernels and some file systems copy only through user space.
            if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP && errno != EBADF)
                return SystemError();
            kernelCopies = false;
            buffer.resize(1 << 20);
        }
        const ssize_t got = ::pread(in, buffer.data(), size_t(std::min<qint64>(left, qint64(buffer.size()))),
                                    off_t(from + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return QStringLiteral("the image cannot be read (%1)").arg(SystemError());
        if (got == 0)
            return QStringLiteral("the image ended before all of it was copied");
        if (const QString problem = WriteAt(out, {buffer.data(), qsizetype(got)}, at + done); !problem.isEmpty())
            return problem;
        done += got;
    }
    return {};
}

int OpenDiscardingSink()
{
    return ::open("/dev/null", O_WRONLY | O_CLOEXEC);
}

void CloseDescriptor(int fd)
{
    if (fd >= 0)
        ::close(fd);
}

MemoryFile::MemoryFile() : fd(memfd_create("brindleway-reencoded", MFD_CLOEXEC)) {}

MemoryFile::~MemoryFile()
{
    CloseDescriptor(fd);
}

QByteArray MemoryFile::readAll() const
{
    QFile file(path());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
