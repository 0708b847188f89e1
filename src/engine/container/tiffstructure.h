#pragma once

#include "engine/platform/bytereader.h"

#include <QByteArrayView>
#include <QList>

#include <optional>

// The directories and entries of a classic TIFF or a BigTIFF, read from a
// file's bytes. Every offset and count is checked against the file before
// it is used, the walk of the directory chain stops at a loop, and the
// entries read through one TiffStructure are bounded by a few times what
// the file can hold, however its directories overlap: a reader of these is
// linear in the file's size.

enum class TiffType : quint16 {
    Byte = 1, Ascii = 2, Short = 3, Long = 4, Rational = 5, SByte = 6, Undefined = 7, SShort = 8, SLong = 9,
    SRational = 10, Float = 11, Double = 12, Ifd = 13, Long8 = 16, SLong8 = 17, Ifd8 = 18,
};

// Bytes of one value of `type`; 0 for a type TIFF does not define.
int TiffTypeSize(quint16 type);

namespace TiffTag {
inline constexpr quint16 ImageWidth = 256;
inline constexpr quint16 ImageLength = 257;
inline constexpr quint16 BitsPerSample = 258;
inline constexpr quint16 Compression = 259;
inline constexpr quint16 Photometric = 262;
inline constexpr quint16 Make = 271;
inline constexpr quint16 StripOffsets = 273;
inline constexpr quint16 SamplesPerPixel = 277;
inline constexpr quint16 StripByteCounts = 279;
inline constexpr quint16 Xmp = 700;
inline constexpr quint16 TileOffsets = 324;
inline constexpr quint16 TileByteCounts = 325;
inline constexpr quint16 SubIfds = 330;
inline constexpr quint16 JpegInterchange = 513;
inline constexpr quint16 Iptc = 33723;
inline constexpr quint16 Photoshop = 34377;
inline constexpr quint16 ExifIfd = 34665;
inline constexpr quint16 IccProfile = 34675;
inline constexpr quint16 GpsIfd = 34853;
inline constexpr quint16 MakerNote = 37500;         // in the EXIF directory
inline constexpr quint16 InteroperabilityIfd = 40965; // in the EXIF directory
inline constexpr quint16 MpEntries = 45058;         // in a multi-picture (MPF) header's first directory
inline constexpr quint16 DngVersion = 50706;
} // namespace TiffTag

struct TiffEntry {
    quint16 tag = 0;
    quint16 type = 0;
    quint64 count = 0;
    qsizetype at = 0;    // of the entry itself
    qsizetype value = 0; // of its value, inline or not
    qsizetype size = 0;  // of its value in bytes
    bool inlined = false;
};

class TiffStructure {
public:
    explicit TiffStructure(QByteArrayView file);

    bool valid() const { return ok; }
    bool big() const { return bigTiff; }
    bool littleEndian() const { return little; }
    // Where the header keeps the offset of the first directory.
    qsizetype firstPointerAt() const { return bigTiff ? 8 : 4; }
    int entrySize() const { return bigTiff ? 20 : 12; }
    int countSize() const { return bigTiff ? 8 : 2; }
    int offsetSize() const { return bigTiff ? 8 : 4; }

    // The directories of the main chain, in order; a loop or an offset
    // outside the file ends it.
    QList<qsizetype> directories() const;
    // The entries of the directory at `ifd` whose values lie inside the
    // file; *whole is false when some did not, when the directory itself ran
    // past the end, or when the reads of this structure reached their bound.
    QList<TiffEntry> entries(qsizetype ifd, bool *whole = nullptr) const;
    std::optional<TiffEntry> entry(qsizetype ifd, quint16 tag) const;
    // Where the directory at `ifd` keeps the offset of the next one; -1
    // when the directory runs past the file.
    qsizetype nextPointerAt(qsizetype ifd) const;

    // The entry's values as unsigned numbers (BYTE, SHORT, LONG, LONG8, IFD
    // types), at most `limit` of them.
    QList<quint64> numbers(const TiffEntry &entry, qsizetype limit) const;
    std::optional<quint64> number(const TiffEntry &entry) const;
    QByteArrayView valueBytes(const TiffEntry &entry) const { return file.sliced(entry.value, entry.size); }

    quint16 u16(qsizetype at) const;
    quint32 u32(qsizetype at) const;
    quint64 u64(qsizetype at) const;
    quint64 offsetAt(qsizetype at) const { return bigTiff ? u64(at) : u32(at); }

private:
    ByteReader readerAt(qsizetype at) const;

    QByteArrayView file;
    mutable qint64 entriesLeft = 0; // what entries() may still read
    bool ok = false;
    bool bigTiff = false;
    bool little = false;
};
