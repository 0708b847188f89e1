#include "engine/platform/savefolder.h"

#include "engine/platform/outputfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
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


FileIdentity identityOf(const struct stat &info)
{
    return {quint64(info.st_dev), quint64(info.st_ino)};
}

// Whether `name` in `folder` is now the file `file`.
bool nameIs(int folder, const char *name, const FileIdentity &file)
{
    struct stat named {};
    return ::fstatat(folder, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && identityOf(named) == file;
}

// A fresh name of the kind a sweep removes.
QByteArray temporaryName()
{
    static constexpr char Alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QByteArray name(TemporaryPrefix.data(), qsizetype(TemporaryPrefix.size()));
    // One draw a name: each draw from the system's generator costs a system call.
    quint64 random = QRandomGenerator::global()->generate64();
    for (int i = 0; i < TemporaryRandomLength; ++i, random /= sizeof Alphabet - 1)
        name += Alphabet[random % (sizeof Alphabet - 1)];
    return name + QByteArray(TemporarySuffix.data(), qsizetype(TemporarySuffix.size()));
}

Note writeFailed(const QString &what)
{
    return {NoteCode::WriteFailed, {what}};
}

// A folder below the save folder, opened component by component without
// following links, or why it could not be. The save folder itself is
// borrowed, not opened again.
struct OpenFolder {
    Fd own;
    int base = -1;
    Note problem;

    int get() const { return own ? own.get() : base; }
    explicit operator bool() const { return get() >= 0; }
    // The folder's identity; `saveFolder`'s when it is the save folder itself.
    std::optional<FileIdentity> identity(const FileIdentity &saveFolder) const
    {
        return own ? IdentityOf(own.get()) : std::optional(saveFolder);
    }
};

OpenFolder openBelow(int saveFolder, const QList<QByteArray> &parts)
{
    OpenFolder result;
    const auto fail = [&result](Note problem) {
        result.own.reset();
        result.base = -1;
        result.problem = std::move(problem);
        return std::move(result);
    };
    result.base = saveFolder;
    QString walked;
    for (const QByteArray &part : parts) {
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..")
            return fail({NoteCode::NameHoldsDotDot, {}});
        walked += (walked.isEmpty() ? QString() : QStringLiteral("/")) + QFile::decodeName(part);
        Fd next(::openat(result.get(), part.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (next) {
            result.own = std::move(next);
            continue;
        }
        const int error = errno;
        struct stat info {};
        if (error == ENOENT)
            return fail({NoteCode::OutputFolderMissing, {walked}});
        if (::fstatat(result.get(), part.constData(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode))
            return fail({NoteCode::OutsideSaveFolder, {QStringLiteral("%1 is a symbolic link").arg(walked)}});
        if (error == ENOTDIR)
            return fail({NoteCode::OutsideSaveFolder, {QStringLiteral("%1 is not a folder").arg(walked)}});
        return fail(writeFailed(QStringLiteral("the folder %1 cannot be opened (%2)").arg(walked, SystemError(error))));
    }
    return result;
}

// The folder an output name leads into, and the name's last component.
struct NameFolder : OpenFolder {
    QByteArray fileName; // native bytes
};

NameFolder openFolderOf(int saveFolder, const QString &name)
{
    NameFolder result;
    const QByteArray native = QFile::encodeName(name);
    // The system would end the name at the first NUL, wherever that leads.
    if (native.contains('\0')) {
        result.problem = {NoteCode::NameHoldsControl, {QStringLiteral("U+0000")}};
        return result;
    }
    QList<QByteArray> parts = native.split('/');
    result.fileName = parts.takeLast();
    if (result.fileName.isEmpty() || result.fileName == "." || result.fileName == "..") {
        result.problem = {NoteCode::NameNotFileName, {}};
        return result;
    }
    static_cast<OpenFolder &>(result) = openBelow(saveFolder, parts);
    return result;
}

// Why the name `file` in `folder` may not be replaced; `existing` gets
// what is there, if anything.
Note targetProblem(int folder, const char *file, std::optional<struct stat> &existing)
{
    struct stat info {};
    existing.reset();
    if (::fstatat(folder, file, &info, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno == ENOENT)
            return {};
        return writeFailed(QStringLiteral("the file it would replace cannot be looked at (%1)").arg(SystemError()));
    }
    existing = info;
    if (S_ISLNK(info.st_mode))
        return {NoteCode::OutputInTheWay, {QStringLiteral("link")}};
    if (S_ISDIR(info.st_mode))
        return {NoteCode::OutputInTheWay, {QStringLiteral("folder")}};
    if (!S_ISREG(info.st_mode))
        return {NoteCode::OutputInTheWay, {QStringLiteral("special")}};
    // The mode bits, not access(): root may write anything, but the owner meant this one to stay.
    if (!(info.st_mode & S_IWUSR))
        return {NoteCode::OutputInTheWay, {QStringLiteral("read-only")}};
    return {};
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
void sweepFolder(int folder)
{
    Fd copy(::fcntl(folder, F_DUPFD_CLOEXEC, 0));
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
        if (file && ::flock(file.get(), LOCK_EX | LOCK_NB) == 0 && nameIs(folder, entry->d_name, identityOf(info)))
            ::unlinkat(folder, entry->d_name, 0);
    }
}

// Makes the temporaries of the items not yet refused durable, all at once
// where the system can: one sync of each file system they lie on.
void syncTogether(const QList<CommitItem> &items, const std::vector<OpenFolder> &folders, QList<Committed> &results)
{
#ifdef __linux__
    std::map<quint64, int> devices; // device -> an open folder on it
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (!results[i].failure)
            devices.emplace(items[i].written.folder.device, folders[size_t(i)].get());
    }
    for (const auto &[device, folder] : devices) {
        if (::syncfs(folder) == 0)
            continue;
        const Note failure = writeFailed(QStringLiteral("the disk did not take it (%1)").arg(SystemError()));
        for (qsizetype i = 0; i < items.size(); ++i) {
            if (!results[i].failure && items[i].written.folder.device == device)
                results[i].failure = failure;
        }
    }
#else
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (results[i].failure)
            continue;
        Fd file(::openat(folders[size_t(i)].get(), items[i].written.temporary.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (!file || ::fsync(file.get()) != 0)
            results[i].failure = writeFailed(QStringLiteral("the disk did not take it (%1)").arg(SystemError()));
    }
#endif
}
} // namespace

std::optional<FileIdentity> IdentityOf(const QString &path, bool followLink)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat info {};
    const int status = followLink ? ::stat(native.constData(), &info) : ::lstat(native.constData(), &info);
    if (status != 0)
        return std::nullopt;
    return identityOf(info);
}

std::optional<FileIdentity> IdentityOf(int fd)
{
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return std::nullopt;
    return identityOf(info);
}

bool IsTemporaryName(const QString &name)
{
    const QByteArray last = QFile::encodeName(name.mid(name.lastIndexOf(QLatin1Char('/')) + 1));
    return isTemporaryName(std::string_view(last.constData(), size_t(last.size())));
}

bool SameFolder(const QString &a, const QString &b)
{
    if (a == b)
        return true;
    if (a.isEmpty() || b.isEmpty())
        return false;
    const auto idA = IdentityOf(a);
    const auto idB = IdentityOf(b);
    if (idA && idB)
        return *idA == *idB;
    const auto clean = [](const QString &path) { return QDir::cleanPath(QFileInfo(path).absoluteFilePath()); };
    return clean(a) == clean(b);
}

QString FolderProblem(const QString &path)
{
    const Fd folder(::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder)
        return {};
    if (errno == ENOENT)
        return QStringLiteral("it does not exist");
    if (errno == ENOTDIR)
        return QStringLiteral("it is not a folder");
    return SystemError();
}

SaveFolder::~SaveFolder()
{
    if (fd >= 0)
        ::close(fd);
}

QString SaveFolder::open(const QString &path, std::optional<FileIdentity> expected)
{
    Fd folder(::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder)
        return FolderProblem(path);
    const auto identity = IdentityOf(folder.get());
    if (!identity)
        return SystemError();
    if (expected && *identity != *expected)
        return QStringLiteral("it is no longer the folder the run began with");
    if (fd >= 0)
        ::close(fd);
    fd = folder.release();
    id = *identity;
    return {};
}

QString SaveFolder::writeProblem() const
{
    for (int attempt = 0; attempt < 32; ++attempt) {
        const QByteArray name = temporaryName();
        const Fd probe(::openat(fd, name.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!probe && errno == EEXIST)
            continue;
        if (!probe)
            return SystemError();
        ::unlinkat(fd, name.constData(), 0);
        return {};
    }
    return {};
}

SaveFolder::Target SaveFolder::inspect(const QString &name) const
{
    Target target;
    const NameFolder folder = openFolderOf(fd, name);
    if (folder.problem) {
        target.problem = folder.problem;
        return target;
    }
    std::optional<struct stat> existing;
    target.problem = targetProblem(folder.get(), folder.fileName.constData(), existing);
    if (existing)
        target.existing = identityOf(*existing);
    return target;
}

void SaveFolder::sweep(const QStringList &names) const
{
    QSet<QString> folders{QString()};
    for (const QString &name : names)
        folders.insert(name.left(std::max<qsizetype>(name.lastIndexOf(QLatin1Char('/')), 0)));
    std::set<FileIdentity> swept;
    for (const QString &folderName : folders) {
        const QByteArray native = QFile::encodeName(folderName);
        if (native.contains('\0'))
            continue;
        const OpenFolder folder = openBelow(fd, native.split('/'));
        const auto identity = folder ? folder.identity(id) : std::nullopt;
        if (identity && swept.insert(*identity).second)
            sweepFolder(folder.get());
    }
}

QList<Committed> SaveFolder::commit(const QList<CommitItem> &items, const std::set<FileIdentity> &sources) const
{
    QList<Committed> results(items.size());
    std::vector<OpenFolder> folders(size_t(items.size()));
    std::vector<QByteArray> finalNames(size_t(items.size()));
    for (qsizetype i = 0; i < items.size(); ++i) {
        const WrittenOutput &written = items[i].written;
        // A worker names the file to move: only a temporary of ours beside the output may be it.
        if (!isTemporaryName(std::string_view(written.temporary.constData(), size_t(written.temporary.size())))) {
            results[i].failure = {NoteCode::WorkerGarbled, {}};
            continue;
        }
        NameFolder folder = openFolderOf(fd, items[i].output);
        if (folder.problem) {
            results[i].failure = folder.problem;
            continue;
        }
        if (folder.identity(id) != written.folder) {
            results[i].failure = {NoteCode::SaveFolderChanged, {}};
            continue;
        }
        if (!nameIs(folder.get(), written.temporary.constData(), written.file)) {
            results[i].failure = writeFailed(QStringLiteral("its temporary was removed before it could be put in place"));
            continue;
        }
        finalNames[size_t(i)] = folder.fileName;
        folders[size_t(i)] = std::move(folder);
    }
    syncTogether(items, folders, results);

    // Why item i may not be put in place now; `existing` is what it would replace.
    const auto problemOf = [&](qsizetype i, std::optional<struct stat> &existing) {
        Note why = results[i].failure;
        if (!why && folders[size_t(i)].get() >= 0)
            why = targetProblem(folders[size_t(i)].get(), finalNames[size_t(i)].constData(), existing);
        if (!why && existing && sources.contains(identityOf(*existing)))
            why = {NoteCode::WouldReplaceSource, {}};
        return why;
    };
    std::map<FileIdentity, qsizetype> renamedIn; // folder -> an item put in place there
    for (qsizetype i = 0; i < items.size(); ++i) {
        const int folder = folders[size_t(i)].get();
        if (folder < 0)
            continue;
        const char *temporary = items[i].written.temporary.constData();
        std::optional<struct stat> existing;
        Note why = problemOf(i, existing);
        // A photo's copy goes in place only when its sidecar can follow it.
        if (!why && items[i].withNext && i + 1 < items.size()) {
            std::optional<struct stat> next;
            why = problemOf(i + 1, next);
        }
        if (!why && ::renameat(folder, temporary, folder, finalNames[size_t(i)].constData()) != 0)
            why = writeFailed(QStringLiteral("it cannot be put in place (%1)").arg(SystemError()));
        if (why) {
            results[i].failure = why;
            ::unlinkat(folder, temporary, 0);
            continue;
        }
        results[i].replaced = existing.has_value();
        renamedIn.emplace(items[i].written.folder, i);
    }
    // The new names reach the disk too; some file systems cannot sync a folder and say so with EINVAL.
    for (const auto &[identity, i] : renamedIn) {
        if (::fsync(folders[size_t(i)].get()) == 0 || errno == EINVAL)
            continue;
        const Note failure = writeFailed(QStringLiteral("its name in the folder did not reach the disk (%1)").arg(SystemError()));
        for (qsizetype j = 0; j < items.size(); ++j) {
            if (!results[j].failure && items[j].written.folder == identity)
                results[j].failure = failure;
        }
    }
    return results;
}

OutputTemporary::~OutputTemporary()
{
    // Unlinked while still locked, so no sweep can take it for stale first.
    if (fd >= 0 && !finished)
        ::unlinkat(folder, name.constData(), 0);
    if (fd >= 0)
        ::close(fd);
    if (ownedFolder >= 0)
        ::close(ownedFolder);
}

Note OutputTemporary::create(const SaveFolder &saveFolder, const QString &output, const FileIdentity &source)
{
    NameFolder target = openFolderOf(saveFolder.handle(), output);
    if (target.problem)
        return target.problem;
    std::optional<struct stat> existing;
    if (Note why = targetProblem(target.get(), target.fileName.constData(), existing))
        return why;
    const auto targetFolder = target.identity(saveFolder.identity());
    if (!targetFolder)
        return writeFailed(QStringLiteral("its folder cannot be looked at (%1)").arg(SystemError()));
    if (existing && identityOf(*existing) == source)
        return {NoteCode::WouldReplaceSource, {}};
    if (existing) {
        replacing = true;
        replacedMode = existing->st_mode & (S_IRWXU | S_IRWXG | S_IRWXO | S_ISVTX);
        replacedOwner = existing->st_uid;
        replacedGroup = existing->st_gid;
    }
    for (int attempt = 0; attempt < 32; ++attempt) {
        const QByteArray candidate = temporaryName();
        Fd created(::openat(target.get(), candidate.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
        if (!created) {
            if (errno == EEXIST)
                continue;
            return writeFailed(QStringLiteral("no file can be made in the folder (%1)").arg(SystemError()));
        }
        // A file system without locks gets none; sweeps cannot lock there either, so they leave it be.
        int locked = 0;
        do
            locked = ::flock(created.get(), LOCK_EX | LOCK_NB);
        while (locked != 0 && errno == EINTR);
        // Another run's sweep holds it and removes it: no waiting on that, another name is drawn.
        if (locked != 0 && errno == EWOULDBLOCK)
            continue;
        if (locked != 0 && errno != ENOLCK && errno != EOPNOTSUPP && errno != EINVAL)
            return writeFailed(QStringLiteral("its temporary cannot be locked (%1)").arg(SystemError()));
        // Another run's sweep may have removed it before the lock was held.
        const auto identity = IdentityOf(created.get());
        if (!identity || !nameIs(target.get(), candidate.constData(), *identity))
            continue;
        name = candidate;
        fd = created.release();
        folder = target.get();
        folderIdentity = *targetFolder;
        ownedFolder = target.own.release();
        return {};
    }
    return writeFailed(QStringLiteral("no free name for a temporary was found"));
}

Note OutputTemporary::finish(WrittenOutput &written)
{
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return writeFailed(QStringLiteral("the written file cannot be looked at (%1)").arg(SystemError()));
    if (info.st_size == 0)
        return writeFailed(QStringLiteral("nothing was written"));
    if (replacing) {
        // Only root can give the file back to its owner; others keep it as theirs.
        [[maybe_unused]] const int owned = ::fchown(fd, replacedOwner, replacedGroup);
        if (::fchmod(fd, replacedMode) != 0)
            return writeFailed(QStringLiteral("it cannot be given the permissions of the file it replaces (%1)").arg(SystemError()));
    }
    written = {name, folderIdentity, identityOf(info), qint64(info.st_size)};
    finished = true;
#ifdef __linux__
    // The disk starts on it while the next line is tagged; the group's sync then waits less.
    ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
    return {};
}
