#pragma once

#include <QString>

#include <optional>

class QWidget;
class UiServices;

inline const QString FolderPickerTitle = QStringLiteral("Select directory containing images to be tagged.");
inline const QString SaveFolderPickerTitle = QStringLiteral("Select the directory for the tagged images.");
inline const QString ExportFolderPickerTitle = QStringLiteral("Select the directory whose tags to export.");

// Drops trailing separators so a folder reads the same however the chooser
// spelled it; the root stays "/".
QString WithoutTrailingSeparator(const QString &path);

// Lets the user pick an existing folder, starting at `startIn`; its full
// path, or nullopt on cancel.
std::optional<QString> BrowseForFolder(QWidget *owner, UiServices &ui, const QString &title, const QString &startIn);

// `path` in native form for a message that wraps it after its separators
// only, never inside a folder's name (where a hyphen or a blank would allow
// a break).
QString BreakableAtSeparators(const QString &path);

// `path` when it exists, else its nearest folder that does; empty when none does.
QString NearestExisting(const QString &path);
