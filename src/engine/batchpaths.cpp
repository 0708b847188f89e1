#include "engine/batchpaths.h"

#include "engine/batchtag.h"

#include <QDir>
#include <QFileInfo>

#include <sys/stat.h>

namespace {
QString cleanAbsolute(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

} // namespace

QString NameAsRelativePath(const QString &name)
{
    QString path = name;
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return path;
}

QString JoinFolderAndName(const QString &folder, const QString &name)
{
    const QString relative = NameAsRelativePath(name);
    if (folder.endsWith(QLatin1Char('/')))
        return folder + relative;
    return folder + QLatin1Char('/') + relative;
}

QString OutputName(const QString &name, const BatchOptions &options)
{
    if (options.saveOption != SaveOption::AppendFileName || options.appendText.isEmpty())
        return name;
    const QString relative = NameAsRelativePath(name);
    const qsizetype base = relative.lastIndexOf(QLatin1Char('/')) + 1;
    const qsizetype dot = relative.lastIndexOf(QLatin1Char('.'));
    // A leading dot starts a hidden name, not an extension.
    if (dot <= base)
        return name + options.appendText;
    return name.left(dot) + options.appendText + name.mid(dot);
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
    return cleanAbsolute(a) == cleanAbsolute(b);
}

Problem NameRefusal(const QString &name)
{
    if (name.isEmpty())
        return QStringLiteral("the line gives no file name");
    const QString relative = NameAsRelativePath(name);
    if (QDir::isAbsolutePath(relative))
        return QStringLiteral("the file name is an absolute path");
    if (relative.split(QLatin1Char('/')).contains(QLatin1String("..")))
        return QStringLiteral("the file name holds \"..\", which saving does not follow");
    return {};
}

std::optional<FileIdentity> IdentityOf(const QString &path, bool followLink)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat info {};
    const int status = followLink ? ::stat(native.constData(), &info) : ::lstat(native.constData(), &info);
    if (status != 0)
        return std::nullopt;
    return FileIdentity{static_cast<unsigned long long>(info.st_dev), static_cast<unsigned long long>(info.st_ino)};
}
