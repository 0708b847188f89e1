#pragma once

#include "engine/batchline.h"

#include <QByteArray>
#include <QList>

class SourceImage;

// A tagged copy as a container writer lays it out: runs of the source's
// bytes, copied as they stand, between blocks the writer made. Writing it
// copies the long runs in the kernel and the rest through one buffer.
class OutputBytes {
public:
    // The source's bytes [from, to).
    void copy(qsizetype from, qsizetype to);
    void add(const QByteArray &bytes);

    qsizetype size() const { return total; }
    // Where the source's byte at `offset` lands in the output; -1 when it is not copied.
    qsizetype mapped(qsizetype offset) const;
    // Overwrites the copy of the source's bytes at `offset` with `bytes`
    // (a pointer set right after its target moved).
    void patch(qsizetype offset, const QByteArray &bytes);

    // Writes everything into `out` from its start; WriteFailed or ReadFailed when it cannot.
    Note write(const SourceImage &source, int out) const;

private:
    struct Piece {
        qsizetype from = -1; // in the source; -1 for made bytes
        qsizetype length = 0;
        QByteArray bytes;
        qsizetype at = 0; // in the output
    };
    QList<Piece> pieces;
    QList<std::pair<qsizetype, QByteArray>> patches; // output offset, bytes
    qsizetype total = 0;
};

// Writes the source into `out` byte for byte: the line is saved with `notes`,
// or fails when the copy cannot be written.
LineOutcome WriteUnchanged(const SourceImage &source, int out, QList<Note> notes);
