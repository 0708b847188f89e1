#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <cstring>

// Reading and writing numbers in image files. Readers take a view and an
// offset and check the bound themselves before they ask: these helpers
// only assemble bytes.

inline quint16 Be16(const unsigned char *p) { return quint16((p[0] << 8) | p[1]); }
inline quint32 Be32(const unsigned char *p)
{
    return (quint32(p[0]) << 24) | (quint32(p[1]) << 16) | (quint32(p[2]) << 8) | p[3];
}
inline quint16 Le16(const unsigned char *p) { return quint16(p[0] | (p[1] << 8)); }
inline quint32 Le32(const unsigned char *p)
{
    return quint32(p[0]) | (quint32(p[1]) << 8) | (quint32(p[2]) << 16) | (quint32(p[3]) << 24);
}
inline quint64 Le64(const unsigned char *p) { return quint64(Le32(p)) | (quint64(Le32(p + 4)) << 32); }
inline quint64 Be64(const unsigned char *p) { return (quint64(Be32(p)) << 32) | quint64(Be32(p + 4)); }

inline const unsigned char *Bytes(QByteArrayView view) { return reinterpret_cast<const unsigned char *>(view.data()); }

inline bool StartsWith(QByteArrayView data, QByteArrayView prefix)
{
    return data.size() >= prefix.size() && std::memcmp(data.data(), prefix.data(), size_t(prefix.size())) == 0;
}

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
