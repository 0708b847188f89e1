#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <optional>

// zlib streams as PNG's compressed text chunks hold them.

// The inflated bytes, or none when the stream is broken or would inflate
// to more than `limit` bytes (then `*tooLarge` is set): a small chunk must
// not claim a large memory.
std::optional<QByteArray> Inflate(QByteArrayView stream, qsizetype limit, bool *tooLarge = nullptr);
QByteArray Deflate(QByteArrayView data);

// The CRC-32 that PNG puts after each chunk (over its type and data).
quint32 Crc32(QByteArrayView data);
