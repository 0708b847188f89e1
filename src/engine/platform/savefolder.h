#pragma once

#include "engine/batchline.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <set>

// The file-system calls that keep every output inside the save folder
// (folders opened one by one without following links, temporaries beside
// their outputs, renames relative to open folders). The rest of the engine
// names files through this unit and stays portable.

// The identity of the file `path` names (not following a final symbolic
// link when `followLink` is false); nullopt when there is none.
std::optional<FileIdentity> IdentityOf(const QString &path, bool followLink = true);
std::optional<FileIdentity> IdentityOf(int fd);

// Whether two folder strings name one folder, however spelled: trailing
// separators, "." and "..", symbolic links. Two empty strings are the same folder.
bool SameFolder(const QString &a, const QString &b);

// Why `path` cannot be used as a folder: it does not exist, it is no
// folder, or the system's reason (permission denied...); empty when it can.
QString FolderProblem(const QString &path);

// Whether the last part of `name` ("/"-separated) is a name a run gives
// its temporaries, which a run's sweep removes: no output or source may have one.
bool IsTemporaryName(const QString &name);

// One written output as the run puts it in place.
struct CommitItem {
    QString output; // its name below the save folder
    WrittenOutput written;
    bool withNext = false; // put in place only when the next item (its sidecar) can follow
};

// What putting one output in place gave.
struct Committed {
    Note failure;          // why it was not put in place (its temporary is gone)
    bool replaced = false; // a file of that name was replaced
};

// The run's save folder, opened once: every name below it is reached from
// this open folder, so renaming or replacing the folder's path during a run
// cannot send an output elsewhere.
class SaveFolder {
public:
    SaveFolder() = default;
    ~SaveFolder();
    SaveFolder(const SaveFolder &) = delete;
    SaveFolder &operator=(const SaveFolder &) = delete;

    // Opens `path`; why it could not. With `expected`, a folder that is
    // not that one (the path was swapped during the run) is refused.
    QString open(const QString &path, std::optional<FileIdentity> expected = std::nullopt);
    FileIdentity identity() const { return id; }
    // Why no file can be made in the folder (a read-only file system, no
    // permission): the system's reason, found by making a temporary and
    // removing it at once; empty when one can.
    QString writeProblem() const;
    int handle() const { return fd; }

    // What saving the output `name` would meet now: why it may not be
    // saved (a name or a folder on the way that leads out, a missing
    // folder, something in the way), and the file it would replace.
    struct Target {
        Note problem;
        std::optional<FileIdentity> existing;
    };
    Target inspect(const QString &name) const;

    // Removes the temporaries that no save holds in this folder and in the
    // folders below it that `names` lead into.
    void sweep(const QStringList &names) const;

    // Makes the temporaries of `items` durable together, then puts each in
    // place in the given order and makes the folders' new names durable.
    // An item whose folder or temporary is not the one written, or whose
    // name now holds something in the way or one of `sources`, is refused
    // and its temporary removed. One result per item.
    QList<Committed> commit(const QList<CommitItem> &items, const std::set<FileIdentity> &sources) const;

private:
    int fd = -1;
    FileIdentity id;
};

// A fresh temporary beside an output, locked while it exists so that no
// run's sweep takes it for stale. Removed when this object goes, unless it
// was finished: then it stays for the run to put in place.
class OutputTemporary {
public:
    OutputTemporary() = default;
    ~OutputTemporary();
    OutputTemporary(const OutputTemporary &) = delete;
    OutputTemporary &operator=(const OutputTemporary &) = delete;

    // Creates it beside the output `name` below `folder`; refused when that
    // name holds `source` or something that may not be replaced.
    Note create(const SaveFolder &folder, const QString &name, const FileIdentity &source);
    int handle() const { return fd; }
    // Readies the written temporary to be put in place (not empty, with
    // the permissions of the file it will replace) and describes it.
    Note finish(WrittenOutput &written);
    // Takes back finish(): the temporary is removed when this object goes.
    void discard() { finished = false; }

private:
    int folder = -1;      // the output's folder: the save folder's own descriptor, or ownedFolder
    int ownedFolder = -1; // a folder below the save folder, opened for this temporary
    FileIdentity folderIdentity;
    QByteArray name;
    int fd = -1;
    bool finished = false;
    bool replacing = false;
    unsigned replacedMode = 0;
    unsigned replacedOwner = 0;
    unsigned replacedGroup = 0;
};
