#pragma once

#include "engine/batchline.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

// A file the engine only reads: a source image or the sidecar beside it.
// Opened without blocking, so that a FIFO named like an image cannot hold
// the line, and never written.
class SourceFile {
public:
    SourceFile() = default;
    ~SourceFile();
    SourceFile(const SourceFile &) = delete;
    SourceFile &operator=(const SourceFile &) = delete;

    // Why `path` cannot be read (SourceMissing, SourceNotAFile,
    // SourceUnreadable), none when it is open and a plain file.
    Note open(const QString &path);
    // Its bytes as they are now: read whole up to `readWholeBytes`, larger
    // files mapped read-only. SourceUnreadable when they cannot be had.
    Note load(qsizetype readWholeBytes);

    int handle() const { return fd; }
    qint64 size() const { return length; }
    QByteArrayView bytes() const { return {reinterpret_cast<const char *>(mapped), qsizetype(loaded)}; }

private:
    int fd = -1;
    qint64 length = 0;
    const unsigned char *mapped = nullptr;
    qsizetype loaded = 0;
    QByteArray owned;
    bool unmap = false;
};

// Up to `count` first bytes of the plain file at `path`; empty for another
// kind of file, with `*error` set (an errno value) when it could not be read.
QByteArray ReadFileHead(const QString &path, qsizetype count, int *error);

// What the entry at `path` is, without following a link.
enum class EntryKind { Missing, FileOrLink, Other };
EntryKind EntryKindOf(const QString &path);
