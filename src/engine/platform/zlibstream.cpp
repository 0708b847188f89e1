#include "engine/platform/zlibstream.h"

#include <zlib.h>

std::optional<QByteArray> Inflate(QByteArrayView stream, qsizetype limit, bool *tooLarge)
{
    z_stream z{};
    if (inflateInit(&z) != Z_OK)
        return std::nullopt;
    QByteArray out;
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(stream.data()));
    z.avail_in = uInt(stream.size());
    int status = Z_OK;
    while (status == Z_OK) {
        const qsizetype step = std::min<qsizetype>(64 * 1024, limit + 1 - out.size());
        if (step <= 0)
            break;
        const qsizetype at = out.size();
        out.resize(at + step);
        z.next_out = reinterpret_cast<Bytef *>(out.data() + at);
        z.avail_out = uInt(step);
        status = inflate(&z, Z_NO_FLUSH);
        out.resize(at + step - qsizetype(z.avail_out));
        // No progress with input left means the stream wants what it lacks.
        if (status == Z_BUF_ERROR && z.avail_in == 0)
            break;
    }
    inflateEnd(&z);
    if (tooLarge)
        *tooLarge = out.size() > limit;
    if (status != Z_STREAM_END || out.size() > limit)
        return std::nullopt;
    return out;
}

QByteArray Deflate(QByteArrayView data)
{
    uLongf size = compressBound(uLong(data.size()));
    QByteArray out(qsizetype(size), Qt::Uninitialized);
    if (compress2(reinterpret_cast<Bytef *>(out.data()), &size, reinterpret_cast<const Bytef *>(data.data()),
                  uLong(data.size()), Z_BEST_COMPRESSION)
        != Z_OK)
        return {};
    out.resize(qsizetype(size));
    return out;
}

quint32 Crc32(QByteArrayView data)
{
    return quint32(crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef *>(data.data()), uInt(data.size())));
}
