#include "engine/container/outputbytes.h"

#include "engine/container/sourceimage.h"
#include "engine/platform/outputfile.h"

#include <algorithm>

namespace {
// Runs shorter than this go through the buffer: a system call costs more than copying them.
constexpr qsizetype KernelCopyFrom = 16 * 1024;
} // namespace

void OutputBytes::copy(qsizetype from, qsizetype to)
{
    if (to <= from)
        return;
    if (!pieces.isEmpty() && pieces.back().from >= 0 && pieces.back().from + pieces.back().length == from) {
        pieces.back().length += to - from;
    } else {
        pieces.append({from, to - from, {}, total});
    }
    total += to - from;
}

void OutputBytes::add(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    pieces.append({-1, bytes.size(), bytes, total});
    total += bytes.size();
}

qsizetype OutputBytes::mapped(qsizetype offset) const
{
    for (const Piece &piece : pieces) {
        if (piece.from >= 0 && offset >= piece.from && offset < piece.from + piece.length)
            return piece.at + (offset - piece.from);
    }
    return -1;
}

void OutputBytes::patch(qsizetype offset, const QByteArray &bytes)
{
    const qsizetype at = mapped(offset);
    if (at >= 0 && mapped(offset + bytes.size() - 1) == at + bytes.size() - 1)
        patches.append({at, bytes});
}

Note OutputBytes::write(const SourceImage &source, int out) const
{
    QByteArray buffer;
    qsizetype bufferAt = 0;
    const auto flush = [&]() -> Note {
        if (const QString problem = WriteAt(out, buffer, bufferAt); !problem.isEmpty())
            return {NoteCode::WriteFailed, {problem}};
        bufferAt += buffer.size();
        buffer.clear();
        return {};
    };
    for (const Piece &piece : pieces) {
        if (piece.from < 0) {
            buffer += piece.bytes;
            continue;
        }
        if (piece.length < KernelCopyFrom) {
            buffer += source.bytes().sliced(piece.from, piece.length);
            continue;
        }
        if (Note failed = flush())
            return failed;
        if (const QString problem = CopyFileRange(source.handle(), piece.from, out, piece.at, piece.length);
            !problem.isEmpty())
            return {NoteCode::WriteFailed, {problem}};
        bufferAt = piece.at + piece.length;
    }
    if (Note failed = flush())
        return failed;
    for (const auto &[at, bytes] : patches) {
        if (const QString problem = WriteAt(out, bytes, at); !problem.isEmpty())
            return {NoteCode::WriteFailed, {problem}};
    }
    return {};
}

LineOutcome WriteUnchanged(const SourceImage &source, int out, QList<Note> notes)
{
    OutputBytes copy;
    copy.copy(0, source.size());
    if (Note failed = copy.write(source, out))
        return LineOutcome::failed(failed);
    return LineOutcome::saved(std::move(notes));
}
