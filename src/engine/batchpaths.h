#pragma once

#include "model/problem.h"

#include <QString>

#include <compare>
#include <optional>

struct BatchOptions;

// Data files written on Windows name subfolders with "\": on every platform
// that is a folder separator here.
QString NameAsRelativePath(const QString &name);

// Folder, one separator and the name, the name's "\" read as separators.
QString JoinFolderAndName(const QString &folder, const QString &name);

// The output's name for a source name under the chosen save option.
QString OutputName(const QString &name, const BatchOptions &options);

// Whether two folder strings name one folder, however spelled: trailing
// separators, "." and "..", symbolic links, letter case on file systems
// that ignore it. Two empty strings are the same folder.
bool SameFolder(const QString &a, const QString &b);

// Why a name from the data file may not be used below its folder (empty,
// absolute, or holding ".." anywhere, which saving does not follow); none
// when it may.
Problem NameRefusal(const QString &name);

// A file's identity on its device, to tell that two names reach one file.
struct FileIdentity {
    unsigned long long device = 0;
    unsigned long long inode = 0;
    friend auto operator<=>(const FileIdentity &, const FileIdentity &) = default;
};

// The identity of the file `path` names (not following a final symbolic
// link when `followLink` is false); nullopt when there is none.
std::optional<FileIdentity> IdentityOf(const QString &path, bool followLink = true);
