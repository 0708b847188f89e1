#include "ui/folderpicker.h"

#include "ui/uiservices.h"

#include <QDir>

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

std::optional<QString> BrowseForFolder(QWidget *owner, UiServices &ui)
{
    const std::optional<QString> folder = ui.chooseFolder(owner, FolderPickerTitle);
    if (!folder || folder->isEmpty())
        return std::nullopt;
    return WithoutTrailingSeparator(*folder);
}
