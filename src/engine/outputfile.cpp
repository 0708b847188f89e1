#include "engine/outputfile.h"

#include <QFile>
#include <QRandomGenerator>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string_view>
#include <set>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Temporaries never take a longer name than the output's own, so that any
// name the file system accepts can be saved.
constexpr std::string_view TemporaryPrefix = ".brindleway-";
constexpr std::string_view TemporarySuffix = ".part";
constexpr int TemporaryRandomLength = 6;

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : fd(fd) {}
    Fd(Fd &&other) noexcept : fd(std::exchange(other.fd, -1)) {}
    Fd &operator=(Fd &&other) noexcept
    {
        reset(std::exchange(other.fd, -1));
        return *this;
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    ~Fd() { reset(); }

    int get() const { return fd; }
    int release() { return std::exchange(fd, -1); }
    explicit operator bool() const { return fd >= 0; }
    void reset(int next = -1)
    {
        if (fd >= 0)
            ::close(fd);
        fd = next;
    }

private:
    int fd = -1;
};

struct DirCloser {
    void operator()(DIR *dir) const { ::closedir(dir); }
};

QString systemError(int error = errno)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

bool sameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether `name` in `folder` is still the file open as `fd`.
bool nameIsFile(int folder, const char *name, int fd)
{
    struct stat named {}, opened {};
    return ::fstatat(folder, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && ::fstat(fd, &opened) == 0
        && sameFile(named, opened);
}

// A folder below the save folder, opened component by component without
// following links, or why it could not be.
struct OpenFolder {
    Fd fd;
    QString problem;      // why none was opened
    bool refused = false; // the name leads astray, rather than the disk failing
};

OpenFolder openBelow(const QString &saveFolder, const QList<QByteArray> &parts)
{
    OpenFolder result;
    const auto fail = [&result](QString problem, bool refused) {
        result.fd.reset();
        result.problem = std::move(problem);
        result.refused = refused;
        return std::move(result);
    };
    result.fd.reset(::open(QFile::encodeName(saveFolder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!result.fd)
        return fail(QStringLiteral("cannot open the save folder %1: %2").arg(saveFolder, systemError()), false);
    QString walked = saveFolder;
    for (const QByteArray &part : parts) {
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..")
            return fail(QStringLiteral("the file name holds \"..\", which saving does not follow"), true);
        walked += QLatin1Char('/') + QFile::decodeName(part);
        Fd next(::openat(result.fd.get(), part.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (next) {
            result.fd = std::move(next);
            continue;
        }
        const int error = errno;
        struct stat info {};
        if (error == ENOENT)
            return fail(QStringLiteral("the folder %1 does not exist").arg(walked), false);
        if (::fstatat(result.fd.get(), part.constData(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode))
            return fail(QStringLiteral("%1 is a symbolic link, which could lead out of the save folder").arg(walked), true);
        if (error == ENOTDIR)
            return fail(QStringLiteral("%1 is not a folder").arg(walked), true);
        return fail(QStringLiteral("cannot open the folder %1: %2").arg(walked, systemError(error)), false);
    }
    return result;
}

// The folder an output name leads into, and the name's last component.
struct NameFolder : OpenFolder {
    QByteArray fileName; // native bytes
};

bool isFileName(const QByteArray &name)
{
    return !name.isEmpty() && name != "." && name != "..";
}

const QString NoFileNameMessage = QStringLiteral("the name does not end in a file name");

NameFolder openFolderOf(const QString &saveFolder, const QString &name)
{
    QList<QByteArray> parts = QFile::encodeName(name).split('/');
    NameFolder result;
    result.fileName = parts.takeLast();
    if (!isFileName(result.fileName)) {
        result.problem = NoFileNameMessage;
        result.refused = true;
        return result;
    }
    static_cast<OpenFolder &>(result) = openBelow(saveFolder, parts);
    return result;
}

bool isTemporaryName(std::string_view name)
{
    if (name.size() != TemporaryPrefix.size() + TemporaryRandomLength + TemporarySuffix.size()
        || !name.starts_with(TemporaryPrefix) || !name.ends_with(TemporarySuffix))
        return false;
    for (const char c : name.substr(TemporaryPrefix.size(), TemporaryRandomLength)) {
        if (!(c >= '0' && c <= '9') && !(c >= 'a' && c <= 'z') && !(c >= 'A' && c <= 'Z'))
            return false;
    }
    return true;
}

// Unlinks every temporary in `folder` that no save holds locked.
void sweep(int folder)
{
    Fd copy(::dup(folder));
    std::unique_ptr<DIR, DirCloser> listing(copy ? ::fdopendir(copy.get()) : nullptr);
    if (!listing)
        return;
    copy.release();
    while (const dirent *entry = ::readdir(listing.get())) {
        struct stat info {};
        // Only plain files are opened: opening a device could have effects.
        if (!isTemporaryName(entry->d_name) || ::fstatat(folder, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0
            || !S_ISREG(info.st_mode))
            continue;
        Fd file(::openat(folder, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (file && ::flock(file.get(), LOCK_EX | LOCK_NB) == 0 && nameIsFile(folder, entry->d_name, file.get()))
            ::unlinkat(folder, entry->d_name, 0);
    }
}

// A temporary file in a folder, locked while it is written and removed
// unless it was renamed into place.
class Temporary {
public:
    explicit Temporary(int folder) : folder(folder) {}
    Temporary(const Temporary &) = delete;
    Temporary &operator=(const Temporary &) = delete;
    ~Temporary()
    {
        // Unlinked while still locked, so no sweep can take it for stale first.
        if (fd && !renamed)
            ::unlinkat(folder, name.constData(), 0);
    }

    QString create()
    {
        static constexpr char Alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
        for (int attempt = 0; attempt < 32; ++attempt) {
            name = QByteArray(TemporaryPrefix.data(), qsizetype(TemporaryPrefix.size()));
            // One draw a name: each draw from the system's generator costs a system call.
            quint64 random = QRandomGenerator::global()->generate64();
            for (int i = 0; i < TemporaryRandomLength; ++i, random /= sizeof Alphabet - 1)
                name += Alphabet[random % (sizeof Alphabet - 1)];
            name += QByteArray(TemporarySuffix.data(), qsizetype(TemporarySuffix.size()));
            Fd created(::openat(folder, name.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
            if (!created) {
                if (errno == EEXIST)
                    continue;
                return QStringLiteral("cannot create a file in the folder: %1").arg(systemError());
            }
            // A file system without locks gets none; sweeps cannot lock there either, so they leave it be.
            int locked = 0;
            do
                locked = ::flock(created.get(), LOCK_EX);
            while (locked != 0 && errno == EINTR);
            if (locked != 0 && errno != ENOLCK && errno != EOPNOTSUPP && errno != EINVAL)
                return QStringLiteral("cannot lock the temporary file: %1").arg(systemError());
            // Another run's sweep may have removed it before the lock was held.
            if (!nameIsFile(folder, name.constData(), created.get()))
                continue;
            fd = std::move(created);
            return {};
        }
        return QStringLiteral("cannot find a free name for a temporary file");
    }

    int get() const { return fd.get(); }
    const char *fileName() const { return name.constData(); }
    void markRenamed() { renamed = true; }

private:
    int folder;
    QByteArray name;
    Fd fd;
    bool renamed = false;
};

} // namespace

QString WriteAt(int out, QByteArrayView bytes, qint64 at)
{
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t put = ::pwrite(out, bytes.data() + done, size_t(bytes.size() - done), off_t(at + done));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return QStringLiteral("cannot write the file: %1").arg(systemError(put < 0 ? errno : EIO));
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
                return QStringLiteral("cannot copy the image data: %1").arg(systemError());
            kernelCopies = false;
            buffer.resize(1 << 20);
        }
        const ssize_t got = ::pread(in, buffer.data(), size_t(std::min<qint64>(left, qint64(buffer.size()))),
                                    off_t(from + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return QStringLiteral("cannot read the image data: %1").arg(systemError());
        if (got == 0)
            return QStringLiteral("the image ended before all of it was copied");
        if (const QString problem = WriteAt(out, {buffer.data(), qsizetype(got)}, at + done); !problem.isEmpty())
            return problem;
        done += got;
    }
    return {};
}

Problem OutputNameRefusal(const QString &saveFolder, const QString &name)
{
    // A name without folders can only fail on its own form: nothing to open.
    if (!name.contains(QLatin1Char('/')))
        return isFileName(QFile::encodeName(name)) ? Problem() : Problem(NoFileNameMessage);
    const NameFolder folder = openFolderOf(saveFolder, name);
    if (folder.refused)
        return folder.problem;
    return {};
}

Problem SaveOutputFile(const QString &saveFolder, const QString &name, const OutputWriter &write)
{
    const NameFolder folder = openFolderOf(saveFolder, name);
    if (!folder.fd)
        return folder.problem;
    const char *fileName = folder.fileName.constData();
    struct stat existing {};
    const bool replacing = ::fstatat(folder.fd.get(), fileName, &existing, AT_SYMLINK_NOFOLLOW) == 0;
    if (!replacing && errno != ENOENT)
        return QStringLiteral("cannot look at the existing file: %1").arg(systemError());
    if (replacing && S_ISLNK(existing.st_mode))
        return QStringLiteral("a symbolic link of that name is in the way");
    if (replacing && S_ISDIR(existing.st_mode))
        return QStringLiteral("a folder of that name is in the way");
    if (replacing && !S_ISREG(existing.st_mode))
        return QStringLiteral("something that is not a plain file is in the way");
    // The mode bits, not access(): root may write anything, but the owner meant this one to stay.
    if (replacing && !(existing.st_mode & S_IWUSR))
        return QStringLiteral("the existing file is read-only");

    Temporary temporary(folder.fd.get());
    if (const QString problem = temporary.create(); !problem.isEmpty())
        return problem;
    if (Problem problem = write(temporary.get()))
        return problem;
    struct stat written {};
    if (::fstat(temporary.get(), &written) != 0)
        return QStringLiteral("cannot look at the written file: %1").arg(systemError());
    if (written.st_size == 0)
        return QStringLiteral("nothing was written");
    if (replacing) {
        // Only root can give the file back to its owner; others keep it as theirs.
        [[maybe_unused]] const int owned = ::fchown(temporary.get(), existing.st_uid, existing.st_gid);
        if (::fchmod(temporary.get(), existing.st_mode & (S_IRWXU | S_IRWXG | S_IRWXO | S_ISVTX)) != 0)
            return QStringLiteral("cannot give the file its permissions: %1").arg(systemError());
    }
    if (::fsync(temporary.get()) != 0)
        return QStringLiteral("cannot write the file to disk: %1").arg(systemError());
    if (::renameat(folder.fd.get(), temporary.fileName(), folder.fd.get(), fileName) != 0)
        return QStringLiteral("cannot replace the file: %1").arg(systemError());
    temporary.markRenamed();
    // The new name reaches the disk too; some file systems cannot sync a folder and say so with EINVAL.
    if (::fsync(folder.fd.get()) != 0 && errno != EINVAL)
        return QStringLiteral("saved, but the folder cannot be written to disk: %1").arg(systemError());
    return {};
}

void RemoveStaleTemporaries(const QString &saveFolder, const QStringList &names)
{
    QSet<QString> folders{QString()};
    for (const QString &name : names)
        folders.insert(name.left(std::max<qsizetype>(name.lastIndexOf(QLatin1Char('/')), 0)));
    std::set<std::pair<dev_t, ino_t>> swept;
    for (const QString &folderName : folders) {
        const OpenFolder folder = openBelow(saveFolder, QFile::encodeName(folderName).split('/'));
        struct stat info {};
        if (folder.fd && ::fstat(folder.fd.get(), &info) == 0 && swept.insert({info.st_dev, info.st_ino}).second)
            sweep(folder.fd.get());
    }
}
