#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <cstring>

// The one way untrusted bytes are read: a cursor whose every read checks
// its bound. A read or skip that would run past the end reads nothing,
// yields zero (or an empty view), leaves the cursor where it was and marks
// the reader short, so a parser reads a header's fields and asks once
// whether they were all there. Nothing here allocates.
class ByteReader {
public:
    enum Order { Big, Little };

    explicit ByteReader(QByteArrayView data, qsizetype at = 0, Order byteOrder = Big)
        : bytes(data), order(byteOrder), pos(at >= 0 && at <= data.size() ? at : data.size()), failed(at < 0 || at > data.size())
    {
    }

    qsizetype at() const { return pos; }
    qsizetype left() const { return bytes.size() - pos; }
    bool atEnd() const { return pos >= bytes.size(); }
    // False once any read, skip or seek ran past the end.
    bool ok() const { return !failed; }
    bool has(qsizetype count) const { return count >= 0 && count <= left(); }

    bool seek(qsizetype to)
    {
        if (to < 0 || to > bytes.size())
            return fail();
        pos = to;
        return true;
    }
    bool skip(qsizetype count)
    {
        if (!has(count))
            return fail();
        pos += count;
        return true;
    }
    // Moves on to the next `byte` at or after the cursor; false (and the cursor at the end) when none follows.
    bool skipTo(unsigned char byte)
    {
        const void *found = atEnd() ? nullptr : std::memchr(bytes.data() + pos, byte, size_t(left()));
        pos = found ? static_cast<const char *>(found) - bytes.data() : bytes.size();
        return found != nullptr;
    }

    quint8 u8() { return quint8(take(1)); }
    quint16 u16() { return quint16(take(2)); }
    quint32 u32() { return quint32(take(4)); }
    quint64 u64() { return take(8); }
    // The next `count` bytes; empty, and the reader short, when fewer are left.
    QByteArrayView bytesOf(qsizetype count)
    {
        if (!has(count)) {
            fail();
            return {};
        }
        pos += count;
        return bytes.sliced(pos - count, count);
    }

    // Looks without moving or failing: the byte `ahead` of the cursor, or -1 past the end.
    int peek(qsizetype ahead = 0) const
    {
        return ahead >= 0 && ahead < left() ? int(static_cast<unsigned char>(bytes[pos + ahead])) : -1;
    }
    bool startsWith(QByteArrayView prefix) const
    {
        return has(prefix.size()) && std::memcmp(bytes.data() + pos, prefix.data(), size_t(prefix.size())) == 0;
    }

private:
    bool fail()
    {
        failed = true;
        return false;
    }
    quint64 take(int count)
    {
        if (!has(count)) {
            fail();
            return 0;
        }
        const auto *p = reinterpret_cast<const unsigned char *>(bytes.data() + pos);
        pos += count;
        quint64 value = 0;
        for (int i = 0; i < count; ++i)
            value = order == Big ? (value << 8) | p[i] : value | (quint64(p[i]) << (8 * i));
        return value;
    }

    QByteArrayView bytes;
    Order order;
    qsizetype pos;
    bool failed;
};


inline bool StartsWith(QByteArrayView data, QByteArrayView prefix) { return ByteReader(data).startsWith(prefix); }

inline void PutBe16(QByteArray &out, quint32 v)
{
    out += char((v >> 8) & 0xFF);
    out += char(v & 0xFF);
}
inline void PutBe32(QByteArray &out, quint32 v)
{
    PutBe16(out, v >> 16);
    PutBe16(out, v & 0xFFFF);
}
inline void PutLe16(QByteArray &out, quint32 v)
{
    out += char(v & 0xFF);
    out += char((v >> 8) & 0xFF);
}
inline void PutLe32(QByteArray &out, quint32 v)
{
    PutLe16(out, v & 0xFFFF);
    PutLe16(out, v >> 16);
}
