#include "ui/folderpicker.h"

#include "ui/uiservices.h"

#include <QDir>
#include <QFileInfo>

QString WithoutTrailingSeparator(const QString &path)
{
    QString result = path;
    const auto isSeparator = [](QChar c) { return c == QLatin1Char('/') || c == QDir::separator(); };
    // A drive root such as C:\ keeps its separator, like the root "/".
    const auto isDriveRoot = [&result] { return result.size() == 3 && result.at(1) == QLatin1Char(':'); };
    while (result.size() > 1 && isSeparator(result.back()) && !isDriveRoot())
        result.chop(1);
    return result;
}

std::optional<QString> BrowseForFolder(QWidget *owner, UiServices &ui, const QString &title, const QString &startIn)
{
    const std::optional<QString> folder = ui.chooseFolder(owner, title, startIn);
    if (!folder || folder->isEmpty())
        return std::nullopt;
    return WithoutTrailingSeparator(*folder);
}

QString NearestExisting(const QString &path)
{
    if (path.isEmpty())
        return {};
    // Each step drops one component, so the walk ends at the root at the latest.
    for (QFileInfo info(path);; info.setFile(info.absolutePath())) {
        if (info.exists())
            return WithoutTrailingSeparator(info.absoluteFilePath());
        if (info.isRoot() || info.absolutePath() == info.absoluteFilePath())
            return {};
    }
}

QString BreakableAtSeparators(const QString &path)
{
    constexpr QChar ZeroWidthSpace(0x200B);
    constexpr QChar WordJoiner(0x2060);
    const QString native = QDir::toNativeSeparators(path);
    QString shown;
    shown.reserve(native.size() * 2);
    for (const QChar c : native) {
        shown += c;
        if (c == QDir::separator())
            shown += ZeroWidthSpace;
        else if (!c.isLetterOrNumber() && c != QLatin1Char('.') && c != QLatin1Char('_'))
            shown += WordJoiner;
    }
    return shown;
}
