#pragma once

#include <QString>

#include <optional>

class QWidget;
class UiServices;

inline const QString FolderPickerTitle = QStringLiteral("Select directory containing images to be tagged.");

// Drops trailing separators so a folder reads the same however the chooser
// spelled it; the root stays "/".
QString WithoutTrailingSeparator(const QString &path);

// Lets the user pick an existing folder; its full path, or nullopt on cancel.
std::optional<QString> BrowseForFolder(QWidget *owner, UiServices &ui);
