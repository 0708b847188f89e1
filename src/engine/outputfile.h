#pragma once

#include "model/problem.h"

#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <functional>

// Fills the open, empty temporary `fd` from offset 0, checking every write;
// returns why it could not. It may be called on a file it filled before
// (a retry), and leaves the descriptor open: saving syncs and closes it.
using OutputWriter = std::function<Problem(int fd)>;

// Writes all of `bytes` at offset `at` of the open file `out`; returns why
// it could not, empty on success.
QString WriteAt(int out, QByteArrayView bytes, qint64 at);

// Copies `length` bytes from offset `from` of the open file `in` to offset
// `at` of `out`: in the kernel where it can (copy_file_range, which shares
// extents on file systems that can), else through a buffer. A source that
// ends early is an error, never a shorter output. Returns why not all bytes
// were copied; empty on success.
QString CopyFileRange(int in, qint64 from, int out, qint64 at, qint64 length);

// Why the output `name` ("/"-separated, below `saveFolder`) may not be
// written there: a ".." in it, or a folder on the way that is a symbolic link
// or no folder. The folders are opened one by one without following links,
// just as saving opens them. A folder that does not exist is no refusal:
// saving reports it. None when the name may be written.
Problem OutputNameRefusal(const QString &saveFolder, const QString &name);

// Saves the output `name` below `saveFolder`: `write` fills a fresh, locked
// temporary in the name's folder, which reaches the disk and is renamed over
// the name only once it is complete and not empty, so a failure or a power
// cut leaves the earlier output whole. A replaced output keeps its
// permission bits; one without its owner's write bit is never replaced.
// Returns why nothing was saved; none on success.
Problem SaveOutputFile(const QString &saveFolder, const QString &name, const OutputWriter &write);

// Removes the temporaries that interrupted saves left in `saveFolder` and in
// the folders below it that `names` lead into. Those a save still writes
// are locked, and stay.
void RemoveStaleTemporaries(const QString &saveFolder, const QStringList &names);
