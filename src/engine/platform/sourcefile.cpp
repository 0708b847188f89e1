#include "engine/platform/sourcefile.h"

#include "engine/platform/outputfile.h"

#include <QFile>

#include <cerrno>
#include <limits>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int openWithoutBlocking(const QString &path)
{
    return ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
}

} // namespace

SourceFile::~SourceFile()
{
    if (unmap)
        ::munmap(const_cast<unsigned char *>(mapped), size_t(loaded));
    if (fd >= 0)
        ::close(fd);
}

Note SourceFile::open(const QString &path)
{
    fd = openWithoutBlocking(path);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return {NoteCode::SourceMissing, {}};
        return {NoteCode::SourceUnreadable, {SystemError(errno)}};
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return {NoteCode::SourceUnreadable, {SystemError(errno)}};
    if (!S_ISREG(info.st_mode))
        return {NoteCode::SourceNotAFile, {}};
    if (qint64(info.st_size) > std::numeric_limits<qsizetype>::max() / 2)
        return {NoteCode::SourceUnreadable, {SystemError(EFBIG)}};
    length = qint64(info.st_size);
    return {};
}

Note SourceFile::load(qsizetype readWholeBytes)
{
    static const unsigned char empty = 0;
    mapped = &empty;
    if (length > 0 && length <= readWholeBytes) {
        // Small files are read: mapping and unmapping one costs more than
        // copying it.
        owned.resize(qsizetype(length));
        if (const qint64 got = ReadAt(fd, owned.data(), length, 0); got != length)
            return {NoteCode::SourceUnreadable, {got < 0 ? SystemError(errno) : QStringLiteral("the file shrank while it was read")}};
        mapped = reinterpret_cast<const unsigned char *>(owned.constData());
    } else if (length > 0) {
        void *at = ::mmap(nullptr, size_t(length), PROT_READ, MAP_PRIVATE, fd, 0);
        if (at == MAP_FAILED)
            return {NoteCode::SourceUnreadable, {SystemError(errno)}};
        mapped = static_cast<const unsigned char *>(at);
        unmap = true;
    }
    loaded = qsizetype(length);
    return {};
}

QByteArray ReadFileHead(const QString &path, qsizetype count, int *error)
{
    *error = 0;
    QByteArray head;
    const int fd = openWithoutBlocking(path);
    if (fd < 0) {
        *error = errno;
        return head;
    }
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        head.resize(count);
        const ssize_t got = ::pread(fd, head.data(), size_t(count), 0);
        if (got < 0)
            *error = errno;
        head.truncate(std::max<ssize_t>(got, 0));
    }
    ::close(fd);
    return head;
}

EntryKind EntryKindOf(const QString &path)
{
    struct stat entry {};
    if (::lstat(QFile::encodeName(path).constData(), &entry) != 0)
        return EntryKind::Missing;
    return S_ISREG(entry.st_mode) || S_ISLNK(entry.st_mode) ? EntryKind::FileOrLink : EntryKind::Other;
}
