#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <cerrno>

// Reads from and writes into open files, checking every byte.

// The system's words for an error number.
QString SystemError(int error = errno);

// Reads up to `length` bytes at offset `at` of the open file `in` into
// `into`, stopping early only at the file's end; how many were read, or -1
// with errno set.
qint64 ReadAt(int in, char *into, qint64 length, qint64 at);

// Writes all of `bytes` at offset `at` of the open file `out`; returns why
// it could not, empty on success.
QString WriteAt(int out, QByteArrayView bytes, qint64 at);

// Copies `length` bytes from offset `from` of the open file `in` to offset
// `at` of `out`: in the kernel where it can (copy_file_range, which shares
// extents on file systems that can), else through a buffer. A source that
// ends early is an error, never a shorter output. Returns why not all bytes
// were copied; empty on success.
QString CopyFileRange(int in, qint64 from, int out, qint64 at, qint64 length);

// A descriptor that swallows whatever is written to it, for writing that
// only its notes are wanted from; -1 with errno set when there is none.
int OpenDiscardingSink();
void CloseDescriptor(int fd);

// An anonymous file in memory that a path reaches, so that the tags-only
// writer can read a composed image as it reads any source.
class MemoryFile {
public:
    MemoryFile();
    ~MemoryFile();
    MemoryFile(const MemoryFile &) = delete;
    MemoryFile &operator=(const MemoryFile &) = delete;

    bool write(const QByteArray &bytes) { return fd >= 0 && WriteAt(fd, bytes, 0).isEmpty(); }
    QString path() const { return QStringLiteral("/proc/self/fd/%1").arg(fd); }
    QByteArray readAll() const;

private:
    int fd;
};
