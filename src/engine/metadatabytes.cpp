#include "engine/metadatabytes.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <set>
#include <vector>

namespace {
using Byte = unsigned char;

// Segments the metadata library must leave alone, and what they wear
// while it works: the same length, so nothing else moves.
struct MaskedSegment {
    unsigned char marker;
    QByteArray signature;
    QByteArray mask;
};
const MaskedSegment MaskedSegments[] = {
    {0xE2, QByteArray("ICC_PROFILE\0", 12), QByteArray("Brindleway\0\1", 12)},
    {0xE1, QByteArray("Exif\0\0", 6), QByteArray("Brw\0\1\2", 6)},
    // The XMP segment the caller takes over, which leaves the library's output.
    {0xE1, QByteArray("http://ns.adobe.com/xap/1.0/\0", 29), QByteArray("Brindleway held back its XMP\0", 29)},
};
const MaskedSegment &HeldXmp = MaskedSegments[2];
const QByteArray PhotoshopSignature("Photoshop 3.0\0", 14);
constexpr quint16 DigestResource = 0x0425;
constexpr int DigestBytes = 16;
constexpr quint32 FotoStationSignature = 0xA1B2C3D4;
constexpr int FotoStationFooter = 10;
constexpr quint16 FotoStationIptc = 1;
constexpr qsizetype MaxSegmentBody = 0xFFFF - 2;

quint16 be16(const Byte *p) { return quint16((p[0] << 8) | p[1]); }
quint32 be32(const Byte *p) { return (quint32(p[0]) << 24) | (quint32(p[1]) << 16) | (quint32(p[2]) << 8) | p[3]; }

bool startsWith(const Byte *p, qsizetype size, const QByteArray &prefix)
{
    return size >= prefix.size() && std::memcmp(p, prefix.constData(), size_t(prefix.size())) == 0;
}

struct Segment {
    Byte marker;
    qsizetype start; // the 0xFF of the marker
    qsizetype body;  // first byte after the length
    qsizetype end;   // one past the segment
};

// The segments before the first scan; *scan gets the offset of the SOS
// marker, or -1 when there is none.
std::vector<Segment> jpegSegments(const Byte *data, qsizetype size, qsizetype *scan = nullptr)
{
    std::vector<Segment> segments;
    if (scan)
        *scan = -1;
    qsizetype pos = 2;
    while (pos + 4 <= size) {
        if (data[pos] != 0xFF)
            break;
        const Byte marker = data[pos + 1];
        if (marker == 0xFF) {
            ++pos;
            continue;
        }
        if (marker == 0xDA) {
            if (scan)
                *scan = pos;
            break;
        }
        if (marker == 0xD9)
            break;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            pos += 2;
            continue;
        }
        const qsizetype length = be16(data + pos + 2);
        if (length < 2 || pos + 2 + length > size)
            break;
        segments.push_back({marker, pos, pos + 4, pos + 2 + length});
        pos += 2 + length;
    }
    return segments;
}

// The mask a segment wears, if any.
const MaskedSegment *maskOf(const Byte *bytes, const Segment &segment)
{
    for (const MaskedSegment &masked : MaskedSegments) {
        if (segment.marker == masked.marker && startsWith(bytes + segment.body, segment.end - segment.body, masked.mask))
            return &masked;
    }
    return nullptr;
}

struct Resource {
    quint16 id;
    qsizetype start; // of the resource's signature
    qsizetype data;  // of its data
    qsizetype size;  // of its data
    qsizetype end;   // one past its padding
};

// The image resources of a Photoshop block; *clean is false when the last
// one runs past the block (it then continues in the next segment).
std::vector<Resource> resources(const Byte *block, qsizetype size, bool *clean = nullptr)
{
    std::vector<Resource> found;
    qsizetype pos = 0;
    bool whole = true;
    while (pos + 12 <= size && (startsWith(block + pos, 4, "8BIM") || startsWith(block + pos, 4, "MeSa")
                                || startsWith(block + pos, 4, "PHUT") || startsWith(block + pos, 4, "AgHg")
                                || startsWith(block + pos, 4, "DCSR"))) {
        const int nameLength = block[pos + 6];
        const qsizetype sizeAt = pos + 6 + nameLength + 1 + ((nameLength + 1) & 1);
        if (sizeAt + 4 > size) {
            whole = false;
            break;
        }
        const qsizetype dataSize = be32(block + sizeAt);
        const qsizetype end = sizeAt + 4 + dataSize + (dataSize & 1);
        if (sizeAt + 4 + dataSize > size) {
            whole = false;
            break;
        }
        found.push_back({be16(block + pos + 4), pos, sizeAt + 4, dataSize, qMin(end, size)});
        pos = end;
    }
    if (clean)
        *clean = whole;
    return found;
}

// The Photoshop APP13 segments, grouped where one resource runs on into the
// next segment.
std::vector<std::vector<Segment>> photoshopGroups(const Byte *data, const std::vector<Segment> &segments)
{
    std::vector<std::vector<Segment>> groups;
    QByteArray open; // the running group's payload while it is not whole
    for (const Segment &segment : segments) {
        const Byte *body = data + segment.body;
        const qsizetype bodySize = segment.end - segment.body;
        if (segment.marker != 0xED || !startsWith(body, bodySize, PhotoshopSignature))
            continue;
        const QByteArray payload(reinterpret_cast<const char *>(body) + PhotoshopSignature.size(),
                                 bodySize - PhotoshopSignature.size());
        if (open.isEmpty()) {
            groups.push_back({segment});
            open = payload;
        } else {
            groups.back().push_back(segment);
            open += payload;
        }
        bool clean = true;
        resources(reinterpret_cast<const Byte *>(open.constData()), open.size(), &clean);
        if (clean)
            open.clear();
    }
    return groups;
}

QByteArray groupPayload(const Byte *data, const std::vector<Segment> &group)
{
    QByteArray payload;
    for (const Segment &segment : group)
        payload.append(reinterpret_cast<const char *>(data) + segment.body + PhotoshopSignature.size(),
                       segment.end - segment.body - PhotoshopSignature.size());
    return payload;
}

QByteArray app13Segments(const QByteArray &payload)
{
    QByteArray out;
    const qsizetype chunk = MaxSegmentBody - 2 - PhotoshopSignature.size();
    qsizetype at = 0;
    do { // an empty payload still gets its one segment
        const QByteArray piece = payload.mid(at, chunk);
        const qsizetype length = 2 + PhotoshopSignature.size() + piece.size();
        out += char(0xFF);
        out += char(0xED);
        out += char(length >> 8);
        out += char(length & 0xFF);
        out += PhotoshopSignature + piece;
        at += chunk;
    } while (at < payload.size());
    return out;
}

struct TrailerRecord {
    quint16 tag;
    qsizetype data; // offset of its data in the file
    qsizetype size; // of its data
};

// The records of a FotoStation trailer, last first; *start gets where the
// trailer begins (the file's size when there is none).
std::vector<TrailerRecord> fotoStationRecords(const Byte *data, qsizetype size, qsizetype *start)
{
    std::vector<TrailerRecord> records;
    qsizetype end = size;
    while (end >= FotoStationFooter) {
        const Byte *footer = data + end - FotoStationFooter;
        const qsizetype length = be32(footer + 2);
        if (be32(footer + 6) != FotoStationSignature || length < FotoStationFooter || length > end)
            break;
        records.push_back({be16(footer), end - length, length - FotoStationFooter});
        end -= length;
    }
    *start = end;
    return records;
}

void putBe16(QByteArray &out, quint16 v)
{
    out += char(v >> 8);
    out += char(v & 0xFF);
}

void putBe32(QByteArray &out, quint32 v)
{
    putBe16(out, quint16(v >> 16));
    putBe16(out, quint16(v & 0xFFFF));
}

// A classic TIFF's directory entries.
class TiffReader {
public:
    TiffReader(const Byte *data, qsizetype size) : data(data), size(size)
    {
        if (size >= 8 && startsWith(data, size, QByteArray("II*\0", 4)))
            little = true;
        else if (!(size >= 8 && startsWith(data, size, QByteArray("MM\0*", 4))))
            return;
        valid = true;
    }

    bool valid = false;

    quint16 u16(qsizetype at) const
    {
        return little ? quint16(data[at] | (data[at + 1] << 8)) : be16(data + at);
    }
    quint32 u32(qsizetype at) const
    {
        return little ? quint32(data[at]) | (quint32(data[at + 1]) << 8) | (quint32(data[at + 2]) << 16)
                            | (quint32(data[at + 3]) << 24)
                      : be32(data + at);
    }

    // Offsets of the directories in the chain, loops and overruns cut off.
    std::vector<qsizetype> directories() const
    {
        std::vector<qsizetype> found;
        std::set<qsizetype> seen;
        qsizetype at = u32(4);
        while (at > 0 && at + 2 <= size && seen.insert(at).second && found.size() < 1000) {
            found.push_back(at);
            const qsizetype next = at + 2 + 12 * qsizetype(u16(at));
            at = next + 4 <= size ? qsizetype(u32(next)) : 0;
        }
        return found;
    }

    // The entry of `tag` in the directory at `ifd`; -1 when absent.
    qsizetype entry(qsizetype ifd, quint16 tag) const
    {
        const int count = u16(ifd);
        for (int i = 0; i < count; ++i) {
            const qsizetype at = ifd + 2 + 12 * i;
            if (at + 12 > size)
                return -1;
            if (u16(at) == tag)
                return at;
        }
        return -1;
    }

    static int typeSize(int type)
    {
        switch (type) {
        case 3:
        case 8:
            return 2;
        case 4:
        case 9:
        case 11:
        case 13:
            return 4;
        case 5:
        case 10:
        case 12:
            return 8;
        default:
            return 1;
        }
    }

    // Where an entry's values lie and how many bytes they take; false when
    // they run outside the file.
    bool values(qsizetype entryAt, qsizetype *at, qsizetype *bytes) const
    {
        const qint64 length = qint64(typeSize(u16(entryAt + 2))) * u32(entryAt + 4);
        *bytes = qsizetype(length);
        *at = length <= 4 ? entryAt + 8 : qsizetype(u32(entryAt + 8));
        return length >= 0 && *at >= 0 && *at + length <= size;
    }

    std::vector<quint32> integers(qsizetype entryAt) const
    {
        std::vector<quint32> result;
        qsizetype at = 0;
        qsizetype bytes = 0;
        const int type = u16(entryAt + 2);
        if ((type != 3 && type != 4) || !values(entryAt, &at, &bytes))
            return result;
        for (qsizetype i = 0; i < bytes; i += typeSize(type))
            result.push_back(type == 3 ? u16(at + i) : u32(at + i));
        return result;
    }

private:
    const Byte *data;
    qsizetype size;
    bool little = false;
};

constexpr quint16 PhotoshopTag = 34377;

bool tiffResources(const TiffReader &tiff, qsizetype *entryAt, qsizetype *at, qsizetype *bytes)
{
    const std::vector<qsizetype> ifds = tiff.directories();
    if (ifds.empty())
        return false;
    *entryAt = tiff.entry(ifds.front(), PhotoshopTag);
    return *entryAt >= 0 && TiffReader::typeSize(tiff.u16(*entryAt + 2)) == 1 && tiff.values(*entryAt, at, bytes);
}
} // namespace

FileKind KindOf(const unsigned char *data, qsizetype size)
{
    if (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF)
        return FileKind::Jpeg;
    if (startsWith(data, size, QByteArray("\x89PNG\r\n\x1a\n", 8)))
        return FileKind::Png;
    if (startsWith(data, size, QByteArray("II*\0", 4)) || startsWith(data, size, QByteArray("MM\0*", 4)))
        return size >= 8 ? FileKind::Tiff : FileKind::Other;
    if (startsWith(data, size, QByteArray("II+\0", 4)) || startsWith(data, size, QByteArray("MM\0+", 4)))
        return FileKind::BigTiff;
    return FileKind::Other;
}

QString SourceDamage(const unsigned char *data, qsizetype size, FileKind kind)
{
    if (kind == FileKind::Jpeg) {
        qsizetype scan = -1;
        jpegSegments(data, size, &scan);
        if (scan < 0)
            return QStringLiteral("it holds no image data");
        // Searched from the end, where the marker nearly always is: a forward
        // search would read the whole image data of every photo.
        for (qsizetype at = size - 1; at > scan + 1; --at) {
            const void *found = ::memrchr(data + scan + 2, 0xD9, size_t(at - scan - 1));
            if (!found)
                break;
            at = static_cast<const Byte *>(found) - data;
            if (data[at - 1] == 0xFF)
                return {};
        }
        return QStringLiteral("its image data ends early");
    }
    if (kind != FileKind::Tiff)
        return {};
    const TiffReader tiff(data, size);
    for (const qsizetype ifd : tiff.directories()) {
        for (const auto &[offsetsTag, countsTag] : {std::pair<quint16, quint16>{273, 279}, {324, 325}}) {
            const qsizetype offsets = tiff.entry(ifd, offsetsTag);
            const qsizetype counts = tiff.entry(ifd, countsTag);
            if (offsets < 0 || counts < 0)
                continue;
            const std::vector<quint32> starts = tiff.integers(offsets);
            const std::vector<quint32> lengths = tiff.integers(counts);
            for (size_t i = 0; i < qMin(starts.size(), lengths.size()); ++i) {
                if (qint64(starts[i]) + lengths[i] > size)
                    return QStringLiteral("its strips or tiles run past the end of the file");
            }
        }
    }
    return {};
}

JpegPreparation PrepareJpeg(unsigned char *bytes, qsizetype size, QByteArray *rebuilt)
{
    JpegPreparation preparation;
    const std::vector<Segment> segments = jpegSegments(bytes, size);
    const auto isXmp = [bytes](const Segment &segment) {
        return segment.marker == HeldXmp.marker
            && startsWith(bytes + segment.body, segment.end - segment.body, HeldXmp.signature);
    };
    // With more than one, which the library reads and which it replaces is its own affair.
    const bool holdXmp = std::count_if(segments.begin(), segments.end(), isXmp) == 1;
    for (const Segment &segment : segments) {
        if (maskOf(bytes, segment)) {
            preparation.ours.append(false);
            continue;
        }
        for (const MaskedSegment &masked : MaskedSegments) {
            if (segment.marker != masked.marker
                || !startsWith(bytes + segment.body, segment.end - segment.body, masked.signature))
                continue;
            if (&masked == &HeldXmp) {
                if (!holdXmp)
                    break;
                const qsizetype packet = segment.body + HeldXmp.signature.size();
                preparation.xmpPacket = QByteArray(reinterpret_cast<const char *>(bytes) + packet, segment.end - packet);
                preparation.xmpHeld = true;
            }
            std::memcpy(bytes + segment.body, masked.mask.constData(), size_t(masked.mask.size()));
            preparation.ours.append(true);
            break;
        }
    }

    qsizetype trailer = size;
    for (const TrailerRecord &record : fotoStationRecords(bytes, size, &trailer)) {
        if (record.tag == FotoStationIptc) {
            preparation.fotoStationIptc = true;
            preparation.trailerIptc = QByteArray(reinterpret_cast<const char *>(bytes) + record.data, record.size);
        }
    }

    // Every IPTC resource after the first is taken out, its datasets kept
    // for the caller to merge.
    bool seenIptc = false;
    bool anyTaken = false;
    struct Replacement {
        qsizetype start; // of a segment of a group
        qsizetype end;
        QByteArray with; // the group's new segments in place of its first, nothing for the rest
    };
    std::vector<Replacement> replaced;
    for (const std::vector<Segment> &group : photoshopGroups(bytes, segments)) {
        const QByteArray payload = groupPayload(bytes, group);
        QByteArray kept;
        bool taken = false;
        qsizetype at = 0;
        for (const Resource &resource : resources(reinterpret_cast<const Byte *>(payload.constData()), payload.size())) {
            kept += payload.mid(at, resource.start - at);
            at = resource.end;
            if (resource.id == IptcResource && seenIptc) {
                preparation.extraIptc.append(payload.mid(resource.data, resource.size));
                taken = true;
                continue;
            }
            seenIptc = seenIptc || resource.id == IptcResource;
            kept += payload.mid(resource.start, resource.end - resource.start);
        }
        kept += payload.mid(at);
        if (!taken)
            continue;
        anyTaken = true;
        for (size_t i = 0; i < group.size(); ++i) {
            replaced.push_back({group[i].start, group[i].end, i == 0 ? app13Segments(kept) : QByteArray()});
        }
    }
    if (!anyTaken)
        return preparation;
    rebuilt->clear();
    qsizetype at = 0;
    for (const Replacement &replacement : replaced) {
        rebuilt->append(reinterpret_cast<const char *>(bytes) + at, replacement.start - at);
        rebuilt->append(replacement.with);
        at = replacement.end;
    }
    rebuilt->append(reinterpret_cast<const char *>(bytes) + at, size - at);
    return preparation;
}

void FinishJpeg(unsigned char *bytes, qsizetype size, const JpegPreparation &preparation, const QByteArray &iim,
                const QByteArray &digest, qsizetype *keep, QByteArray *tail)
{
    tail->clear();
    // Segments the library copied keep their order, so the masks come back
    // in the order they went on.
    qsizetype worn = 0;
    std::optional<Segment> held;
    for (const Segment &segment : jpegSegments(bytes, size)) {
        const MaskedSegment *masked = maskOf(bytes, segment);
        if (!masked || !preparation.ours.value(worn++))
            continue;
        if (masked == &HeldXmp)
            held = segment;
        else
            std::memcpy(bytes + segment.body, masked->signature.constData(), size_t(masked->signature.size()));
    }
    if (held) {
        std::memmove(bytes + held->start, bytes + held->end, size_t(size - held->end));
        size -= held->end - held->start;
    }
    *keep = size;
    const std::vector<Segment> segments = jpegSegments(bytes, size);
    for (const std::vector<Segment> &group : photoshopGroups(bytes, segments)) {
        // Resources may run across segments: the digest is set in the joined
        // payload, which then goes back where each piece lies in the file.
        QByteArray payload = groupPayload(bytes, group);
        if (!SetIptcDigest(reinterpret_cast<Byte *>(payload.data()), payload.size(), digest))
            continue;
        qsizetype at = 0;
        for (const Segment &segment : group) {
            const qsizetype length = segment.end - segment.body - PhotoshopSignature.size();
            std::memcpy(bytes + segment.body + PhotoshopSignature.size(), payload.constData() + at, size_t(length));
            at += length;
        }
    }

    if (preparation.fotoStationIptc)
        *keep = RewriteFotoStationTrailer(bytes, size, iim, tail);
}

qsizetype RewriteFotoStationTrailer(const unsigned char *bytes, qsizetype size, const QByteArray &iim,
                                    QByteArray *tail)
{
    tail->clear();
    qsizetype start = size;
    std::vector<TrailerRecord> records = fotoStationRecords(bytes, size, &start);
    if (records.empty())
        return size;
    for (auto record = records.rbegin(); record != records.rend(); ++record) {
        const QByteArray data = record->tag == FotoStationIptc
            ? iim
            : QByteArray(reinterpret_cast<const char *>(bytes) + record->data, record->size);
        tail->append(data);
        putBe16(*tail, record->tag);
        putBe32(*tail, quint32(data.size() + FotoStationFooter));
        putBe32(*tail, FotoStationSignature);
    }
    return start;
}

qsizetype JpegScanStart(const unsigned char *data, qsizetype size)
{
    qsizetype scan = -1;
    jpegSegments(data, size, &scan);
    return scan;
}

bool SetIptcDigest(unsigned char *block, qsizetype size, const QByteArray &digest)
{
    if (digest.size() != DigestBytes)
        return false;
    for (const Resource &resource : resources(block, size)) {
        if (resource.id != DigestResource || resource.size != DigestBytes)
            continue;
        std::memcpy(block + resource.data, digest.constData(), DigestBytes);
        return true;
    }
    return false;
}

QList<IimDataset> ParseIim(const QByteArray &block)
{
    QList<IimDataset> datasets;
    const auto *data = reinterpret_cast<const Byte *>(block.constData());
    const qsizetype size = block.size();
    qsizetype pos = 0;
    while (pos + 5 <= size && data[pos] == 0x1C) {
        const int record = data[pos + 1];
        const int dataset = data[pos + 2];
        qsizetype length = be16(data + pos + 3);
        pos += 5;
        if (length & 0x8000) { // the length itself takes the next (length & 0x7FFF) bytes
            const qsizetype lengthBytes = length & 0x7FFF;
            if (lengthBytes > 4 || pos + lengthBytes > size)
                break;
            length = 0;
            for (qsizetype i = 0; i < lengthBytes; ++i)
                length = (length << 8) | data[pos + i];
            pos += lengthBytes;
        }
        if (length > size - pos)
            break;
        datasets.append({record, dataset, block.mid(pos, length)});
        pos += length;
    }
    return datasets;
}

bool TiffResourcesHoldIptc(const unsigned char *data, qsizetype size)
{
    const TiffReader tiff(data, size);
    qsizetype entryAt = 0;
    qsizetype at = 0;
    qsizetype bytes = 0;
    if (!tiff.valid || !tiffResources(tiff, &entryAt, &at, &bytes))
        return false;
    for (const Resource &resource : resources(data + at, bytes)) {
        if (resource.id == IptcResource)
            return true;
    }
    return false;
}

void HideFirstTiffMetadata(unsigned char *data, qsizetype size)
{
    const TiffReader tiff(data, size);
    const std::vector<qsizetype> ifds = tiff.valid ? tiff.directories() : std::vector<qsizetype>{};
    if (ifds.empty())
        return;
    const bool little = data[0] == 'I';
    // XMP, IPTC, Photoshop resources, ICC profile.
    for (const quint16 tag : {quint16(700), quint16(33723), PhotoshopTag, quint16(34675)}) {
        // One less names no tag the library reads, and keeps the entries in order.
        const quint16 unknown = tag - 1;
        const qsizetype entry = tiff.entry(ifds.front(), tag);
        if (entry < 0 || tiff.entry(ifds.front(), unknown) >= 0)
            continue;
        data[entry + (little ? 0 : 1)] = Byte(unknown & 0xFF);
        data[entry + (little ? 1 : 0)] = Byte(unknown >> 8);
    }
}

void DropTiffResourceIptc(unsigned char *data, qsizetype size)
{
    const TiffReader tiff(data, size);
    qsizetype entryAt = 0;
    qsizetype at = 0;
    qsizetype bytes = 0;
    if (!tiff.valid || !tiffResources(tiff, &entryAt, &at, &bytes) || bytes <= 4)
        return;
    for (const Resource &resource : resources(data + at, bytes)) {
        if (resource.id != IptcResource)
            continue;
        const qsizetype removed = resource.end - resource.start;
        std::memmove(data + at + resource.start, data + at + resource.end, size_t(bytes - resource.end));
        std::memset(data + at + bytes - removed, 0, size_t(removed));
        const quint32 count = quint32(bytes - removed);
        const bool little = data[0] == 'I';
        for (int i = 0; i < 4; ++i)
            data[entryAt + 4 + i] = Byte(little ? count >> (8 * i) : count >> (8 * (3 - i)));
        return;
    }
}

namespace {
bool isMetadataSegment(Byte marker)
{
    return (marker >= 0xE0 && marker <= 0xEF) || marker == 0xFE;
}

bool isSofMarker(Byte marker)
{
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// One past the EOI of the image whose first scan starts at `scan`, walking
// the entropy-coded data and any segments between scans; -1 when the data
// end first.
qsizetype jpegImageEnd(const Byte *data, qsizetype size, qsizetype scan)
{
    qsizetype pos = scan;
    while (pos + 2 <= size) {
        if (data[pos] != 0xFF)
            return -1;
        const Byte marker = data[pos + 1];
        if (marker == 0xFF) {
            ++pos;
            continue;
        }
        if (marker == 0xD9)
            return pos + 2;
        if (pos + 4 > size)
            return -1;
        const qsizetype length = be16(data + pos + 2);
        if (length < 2 || pos + 2 + length > size)
            return -1;
        pos += 2 + length;
        if (marker != 0xDA)
            continue;
        // Stuffed zeros, restart markers and fill bytes belong to the scan.
        // Only a 0xFF can start anything else, so the rest is skipped by
        // memchr: a byte at a time, this walk cost as much as a tenth of
        // decoding the image.
        while (pos + 1 < size) {
            const void *mark = std::memchr(data + pos, 0xFF, size_t(size - 1 - pos));
            if (!mark) {
                pos = size - 1;
                break;
            }
            pos = static_cast<const Byte *>(mark) - data;
            const Byte next = data[pos + 1];
            if (next != 0x00 && next != 0xFF && !(next >= 0xD0 && next <= 0xD7))
                break;
            ++pos;
        }
    }
    return -1;
}

bool hasSignature(const Byte *data, const Segment &segment, Byte marker, const char *signature)
{
    return segment.marker == marker
        && startsWith(data + segment.body, segment.end - segment.body, QByteArray(signature, qsizetype(std::strlen(signature)) + 1));
}

const Byte *bytesOf(QByteArrayView view)
{
    return reinterpret_cast<const Byte *>(view.data());
}

struct PngChunk {
    QByteArray type;
    qsizetype start; // of its length field
    qsizetype end;   // one past its CRC
};

std::vector<PngChunk> pngChunks(QByteArrayView file)
{
    std::vector<PngChunk> chunks;
    const Byte *data = bytesOf(file);
    qsizetype pos = 8;
    while (pos + 12 <= file.size()) {
        const qsizetype length = be32(data + pos);
        if (length > file.size() - pos - 12)
            break;
        chunks.push_back({QByteArray(file.data() + pos + 4, 4), pos, pos + 12 + length});
        pos += 12 + length;
        if (chunks.back().type == "IEND")
            break;
    }
    return chunks;
}

QString describePng(const Byte *ihdrData)
{
    static const char *const types[] = {"grey", "?", "RGB", "palette", "grey and alpha", "?", "RGBA"};
    const int type = ihdrData[9];
    return QStringLiteral("%1-bit %2").arg(ihdrData[8]).arg(QLatin1String(type <= 6 ? types[type] : "?"));
}
} // namespace

JpegFrame JpegFrameOf(const unsigned char *data, qsizetype size)
{
    JpegFrame frame;
    for (const Segment &segment : jpegSegments(data, size)) {
        if (!isSofMarker(segment.marker))
            continue;
        const qsizetype body = segment.end - segment.body;
        if (body < 6)
            return frame;
        const int count = data[segment.body + 5];
        if (6 + 3 * count > body)
            return frame;
        for (int i = 0; i < count; ++i) {
            const Byte factors = data[segment.body + 6 + 3 * i + 1];
            frame.sampling.append({factors >> 4, factors & 0x0F});
        }
        return frame;
    }
    return frame;
}

QByteArray ComposeJpeg(QByteArrayView source, QByteArrayView encoded, QString *why)
{
    const Byte *src = bytesOf(source);
    const Byte *enc = bytesOf(encoded);
    qsizetype sourceScan = -1;
    qsizetype encodedScan = -1;
    const std::vector<Segment> sourceSegments = jpegSegments(src, source.size(), &sourceScan);
    const std::vector<Segment> encodedSegments = jpegSegments(enc, encoded.size(), &encodedScan);
    const qsizetype encodedEnd = encodedScan < 0 ? -1 : jpegImageEnd(enc, encoded.size(), encodedScan);
    if (sourceScan < 0 || encodedEnd < 0) {
        *why = QStringLiteral("the image's structure cannot be followed");
        return {};
    }
    // A damaged source keeps no trailer: where its image ends is unknown.
    const qsizetype sourceEnd = jpegImageEnd(src, source.size(), sourceScan);

    const auto isJfif = [](const Byte *data, const Segment &s) { return hasSignature(data, s, 0xE0, "JFIF"); };
    const auto isAdobe = [](const Byte *data, const Segment &s) {
        return s.marker == 0xEE && startsWith(data + s.body, s.end - s.body, QByteArray("Adobe"));
    };
    bool sourceJfif = false;
    for (const Segment &segment : sourceSegments)
        sourceJfif = sourceJfif || isJfif(src, segment);

    QByteArray out("\xFF\xD8", 2);
    const auto append = [&out](const Byte *data, qsizetype from, qsizetype to) {
        out.append(reinterpret_cast<const char *>(data) + from, to - from);
    };
    for (const Segment &segment : encodedSegments) {
        if (!sourceJfif && isJfif(enc, segment))
            append(enc, segment.start, segment.end);
    }
    for (const Segment &segment : sourceSegments) {
        if (isMetadataSegment(segment.marker) && !isAdobe(src, segment))
            append(src, segment.start, segment.end);
    }
    for (const Segment &segment : encodedSegments) {
        if (isAdobe(enc, segment) || !isMetadataSegment(segment.marker))
            append(enc, segment.start, segment.end);
    }
    append(enc, encodedScan, encodedEnd);
    if (sourceEnd > 0)
        append(src, sourceEnd, source.size());
    return out;
}

QByteArray ComposePng(QByteArrayView source, QByteArrayView encoded, QString *why)
{
    const std::vector<PngChunk> sourceChunks = pngChunks(source);
    const std::vector<PngChunk> encodedChunks = pngChunks(encoded);
    const auto first = [](const std::vector<PngChunk> &chunks, const char *type) -> const PngChunk * {
        for (const PngChunk &chunk : chunks) {
            if (chunk.type == type)
                return &chunk;
        }
        return nullptr;
    };
    const PngChunk *sourceHeader = first(sourceChunks, "IHDR");
    const PngChunk *encodedHeader = first(encodedChunks, "IHDR");
    if (!sourceHeader || !encodedHeader || sourceHeader->end - sourceHeader->start != 25
        || encodedHeader->end - encodedHeader->start != 25 || !first(encodedChunks, "IDAT")) {
        *why = QStringLiteral("the image's structure cannot be followed");
        return {};
    }
    if (first(sourceChunks, "acTL")) {
        *why = QStringLiteral("re-encoding would keep only the first frame of this animated PNG; use tags only");
        return {};
    }
    const Byte *sourceForm = bytesOf(source) + sourceHeader->start + 8;
    const Byte *encodedForm = bytesOf(encoded) + encodedHeader->start + 8;
    if (sourceForm[8] != encodedForm[8] || sourceForm[9] != encodedForm[9]) {
        *why = QStringLiteral("re-encoding would store this %1 PNG as %2; use tags only")
                   .arg(describePng(sourceForm), describePng(encodedForm));
        return {};
    }

    // The encoder's own ancillary chunks are dropped: the source's take their place.
    const auto isImageChunk = [](const QByteArray &type) {
        return type == "IHDR" || type == "PLTE" || type == "tRNS" || type == "IDAT" || type == "IEND";
    };
    const bool encodedTransparency = first(encodedChunks, "tRNS");
    QByteArray before; // the source's chunks ahead of its palette
    QByteArray between; // ahead of its image data
    QByteArray after;
    QByteArray sourceTransparency;
    int stage = 0;
    for (const PngChunk &chunk : sourceChunks) {
        const QByteArrayView bytes = source.sliced(chunk.start, chunk.end - chunk.start);
        if (chunk.type == "PLTE")
            stage = std::max(stage, 1);
        else if (chunk.type == "IDAT")
            stage = 2;
        if (chunk.type == "tRNS")
            sourceTransparency = bytes.toByteArray();
        if (isImageChunk(chunk.type) || !(chunk.type.at(0) & 0x20))
            continue;
        (stage == 0 ? before : stage == 1 ? between : after).append(bytes);
    }

    QByteArray out = source.first(8).toByteArray();
    const auto appendEncoded = [&](const char *type) {
        for (const PngChunk &chunk : encodedChunks) {
            if (chunk.type == type)
                out.append(encoded.sliced(chunk.start, chunk.end - chunk.start));
        }
    };
    appendEncoded("IHDR");
    out += before;
    appendEncoded("PLTE");
    if (encodedTransparency)
        appendEncoded("tRNS");
    else
        out += sourceTransparency;
    out += between;
    appendEncoded("IDAT");
    out += after;
    out.append(QByteArray("\0\0\0\0IEND\xAE\x42\x60\x82", 12));
    return out;
}

QList<TiffPageForm> TiffPageForms(const unsigned char *data, qsizetype size)
{
    QList<TiffPageForm> forms;
    const TiffReader tiff(data, size);
    if (!tiff.valid)
        return forms;
    const auto firstValue = [&](qsizetype ifd, quint16 tag, int missing) {
        const qsizetype entry = tiff.entry(ifd, tag);
        const std::vector<quint32> values = entry < 0 ? std::vector<quint32>() : tiff.integers(entry);
        return values.empty() ? missing : int(values.front());
    };
    for (const qsizetype ifd : tiff.directories())
        forms.append({firstValue(ifd, 262, -1), firstValue(ifd, 277, 1), firstValue(ifd, 258, 1)});
    return forms;
}

QString DescribeTiffForm(const TiffPageForm &form)
{
    QString space;
    switch (form.photometric) {
    case 0:
    case 1:
        space = QStringLiteral("grey");
        break;
    case 2:
    case 6:
        space = QStringLiteral("RGB");
        break;
    case 3:
        space = QStringLiteral("palette");
        break;
    case 5:
        space = QStringLiteral("CMYK");
        break;
    case 8:
    case 9:
    case 10:
        space = QStringLiteral("Lab");
        break;
    default:
        space = QStringLiteral("colour space %1").arg(form.photometric);
    }
    return QStringLiteral("%1-bit %2").arg(form.bits).arg(space);
}
