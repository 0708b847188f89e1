#include "engine/container/tiffstructure.h"

#include "engine/platform/bytereader.h"

#include <QSet>

int TiffTypeSize(quint16 type)
{
    switch (TiffType(type)) {
    case TiffType::Byte:
    case TiffType::Ascii:
    case TiffType::SByte:
    case TiffType::Undefined:
        return 1;
    case TiffType::Short:
    case TiffType::SShort:
        return 2;
    case TiffType::Long:
    case TiffType::SLong:
    case TiffType::Float:
    case TiffType::Ifd:
        return 4;
    case TiffType::Rational:
    case TiffType::SRational:
    case TiffType::Double:
    case TiffType::Long8:
    case TiffType::SLong8:
    case TiffType::Ifd8:
        return 8;
    }
    return 0;
}

TiffStructure::TiffStructure(QByteArrayView bytes) : file(bytes)
{
    if (file.size() < 8)
        return;
    if (StartsWith(file, "II"))
        little = true;
    else if (!StartsWith(file, "MM"))
        return;
    const quint16 magic = u16(2);
    if (magic == 43) {
        // BigTIFF: offsets are 8 bytes, and the header says so.
        if (file.size() < 16 || u16(4) != 8 || u16(6) != 0)
            return;
        bigTiff = true;
    } else if (magic != 42) {
        return;
    }
    entriesLeft = 4 * (file.size() / entrySize()) + 4096;
    ok = true;
}

ByteReader TiffStructure::readerAt(qsizetype at) const
{
    return ByteReader(file, at, little ? ByteReader::Little : ByteReader::Big);
}

quint16 TiffStructure::u16(qsizetype at) const { return readerAt(at).u16(); }
quint32 TiffStructure::u32(qsizetype at) const { return readerAt(at).u32(); }
quint64 TiffStructure::u64(qsizetype at) const { return readerAt(at).u64(); }

qsizetype TiffStructure::nextPointerAt(qsizetype ifd) const
{
    // The count, the entries, then the offset of the next directory.
    ByteReader reader = readerAt(ifd);
    const quint64 count = bigTiff ? reader.u64() : reader.u16();
    if (!reader.ok() || count > quint64(reader.left() / entrySize()) || !reader.skip(qsizetype(count) * entrySize())
        || !reader.has(offsetSize()))
        return -1;
    return reader.at();
}

QList<qsizetype> TiffStructure::directories() const
{
    QList<qsizetype> found;
    if (!ok)
        return found;
    QSet<qsizetype> seen;
    quint64 at = offsetAt(firstPointerAt());
    while (at > 0 && at < quint64(file.size()) && !seen.contains(qsizetype(at))) {
        seen.insert(qsizetype(at));
        const qsizetype next = nextPointerAt(qsizetype(at));
        if (next < 0)
            break;
        found.append(qsizetype(at));
        at = offsetAt(next);
    }
    return found;
}

QList<TiffEntry> TiffStructure::entries(qsizetype ifd, bool *whole) const
{
    QList<TiffEntry> found;
    const qsizetype end = nextPointerAt(ifd);
    if (whole)
        *whole = end >= 0;
    if (end < 0)
        return found;
    const qint64 count = (end - ifd - countSize()) / entrySize();
    if (count > entriesLeft) {
        if (whole)
            *whole = false;
        return found;
    }
    entriesLeft -= count;
    ByteReader reader = readerAt(ifd + countSize());
    for (qint64 i = 0; i < count; ++i) {
        TiffEntry entry;
        entry.at = reader.at();
        entry.tag = reader.u16();
        entry.type = reader.u16();
        entry.count = bigTiff ? reader.u64() : reader.u32();
        const qsizetype valueField = reader.at();
        const quint64 offset = bigTiff ? reader.u64() : reader.u32();
        const int unit = TiffTypeSize(entry.type);
        // A value larger than the file cannot be in it.
        if (unit == 0 || entry.count > quint64(file.size()) / quint64(unit)) {
            if (whole)
                *whole = false;
            continue;
        }
        entry.size = qsizetype(entry.count) * unit;
        entry.inlined = entry.size <= offsetSize();
        entry.value = entry.inlined ? valueField : qsizetype(std::min(offset, quint64(file.size()) + 1));
        if (!readerAt(entry.value).has(entry.size) || entry.value > file.size()) {
            if (whole)
                *whole = false;
            continue;
        }
        found.append(entry);
    }
    return found;
}

std::optional<TiffEntry> TiffStructure::entry(qsizetype ifd, quint16 tag) const
{
    for (const TiffEntry &entry : entries(ifd)) {
        if (entry.tag == tag)
            return entry;
    }
    return std::nullopt;
}

QList<quint64> TiffStructure::numbers(const TiffEntry &entry, qsizetype limit) const
{
    QList<quint64> values;
    const int unit = TiffTypeSize(entry.type);
    const bool integral = entry.type == quint16(TiffType::Byte) || entry.type == quint16(TiffType::Short)
        || entry.type == quint16(TiffType::Long) || entry.type == quint16(TiffType::Long8)
        || entry.type == quint16(TiffType::Ifd) || entry.type == quint16(TiffType::Ifd8)
        || entry.type == quint16(TiffType::Undefined);
    if (!integral)
        return values;
    const qsizetype count = qsizetype(std::min<quint64>(entry.count, quint64(limit)));
    ByteReader reader = readerAt(entry.value);
    // Entries hold only values inside the file; the reader says so again.
    values.reserve(std::min(count, reader.left() / unit));
    for (qsizetype i = 0; i < count && reader.ok(); ++i) {
        switch (unit) {
        case 1:
            values.append(reader.u8());
            break;
        case 2:
            values.append(reader.u16());
            break;
        case 4:
            values.append(reader.u32());
            break;
        default:
            values.append(reader.u64());
        }
    }
    if (!reader.ok())
        values.removeLast();
    return values;
}

std::optional<quint64> TiffStructure::number(const TiffEntry &entry) const
{
    const QList<quint64> values = numbers(entry, 1);
    if (values.isEmpty())
        return std::nullopt;
    return values.front();
}
