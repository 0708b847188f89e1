#include "engine/container/jpegcontainer.h"

#include "engine/container/outputbytes.h"
#include "engine/container/sourceimage.h"
#include "engine/container/tiffstructure.h"
#include "engine/metadata/photoshopresources.h"
#include "engine/metadata/xmppacket.h"
#include "engine/platform/bytereader.h"

#include <QCryptographicHash>
#include <QHash>
#include <QSet>

#include <cstring>
#include <algorithm>
#include <optional>

namespace {
const QByteArray XmpSignature("http://ns.adobe.com/xap/1.0/\0", 29);
// What some writers put before the main packet instead; readers take it for
// XMP, so it is read, and replaced under the standard signature.
const QByteArray OddXmpSignature("XMP\0://ns.adobe.com/xap/1.0/\0", 29);
const QByteArray ExtendedXmpSignature("http://ns.adobe.com/xmp/extension/\0", 35);
// The signature, the GUID, the extension's full length and this part's offset.
constexpr qsizetype ExtendedXmpHeader = 35 + 32 + 4 + 4;
const QByteArray PhotoshopSignature("Photoshop 3.0\0", 14);
const QByteArray ExifSignature("Exif\0\0", 6);
const QByteArray MpfSignature("MPF\0", 4);
constexpr quint32 FotoStationSignature = 0xA1B2C3D4;
constexpr qsizetype FotoStationFooter = 10;
constexpr quint16 FotoStationIptc = 1;
// In Canon's maker note: the absolute offset of its original decision data.
constexpr quint16 CanonDecisionData = 0x0083;
// What a segment holds after its marker and length.
constexpr qsizetype MaxSegmentBody = 0xFFFF - 2;
constexpr qsizetype MaxXmpPacket = MaxSegmentBody - 29;

QByteArrayView bodyOf(QByteArrayView file, const JpegSegment &segment)
{
    return file.sliced(segment.body, segment.end - segment.body);
}

bool holds(QByteArrayView file, const JpegSegment &segment, unsigned char marker, const QByteArray &signature)
{
    return segment.marker == marker && StartsWith(bodyOf(file, segment), signature);
}

bool isXmp(QByteArrayView file, const JpegSegment &segment)
{
    return holds(file, segment, 0xE1, XmpSignature) || holds(file, segment, 0xE1, OddXmpSignature);
}

// The Extended XMP the main packet points at by its GUID.
struct ExtendedXmp {
    QList<qsizetype> segments; // indices
    QByteArray packet;         // empty when its parts do not make a whole
};

ExtendedXmp extendedXmp(QByteArrayView file, const QList<JpegSegment> &segments, const QByteArray &guid)
{
    ExtendedXmp extended;
    QList<std::pair<quint32, QByteArrayView>> parts;
    quint32 full = 0;
    bool consistent = true;
    for (qsizetype i = 0; i < segments.size(); ++i) {
        const QByteArrayView body = bodyOf(file, segments[i]);
        if (!holds(file, segments[i], 0xE1, ExtendedXmpSignature) || body.size() < ExtendedXmpHeader
            || body.sliced(ExtendedXmpSignature.size(), 32) != guid)
            continue;
        extended.segments.append(i);
        ByteReader reader(body, ExtendedXmpHeader - 8);
        const quint32 length = reader.u32();
        consistent = consistent && (parts.isEmpty() || length == full);
        full = length;
        parts.append({reader.u32(), body.sliced(ExtendedXmpHeader)});
    }
    std::stable_sort(parts.begin(), parts.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    QByteArray packet;
    for (const auto &[offset, data] : parts) {
        consistent = consistent && offset == quint32(packet.size());
        if (consistent)
            packet += data;
    }
    if (consistent && packet.size() == qsizetype(full))
        extended.packet = packet;
    return extended;
}

QByteArray segmentBytes(unsigned char marker, const QByteArray &signature, QByteArrayView payload);

// The Extended XMP's segments for `packet`, named by its GUID.
QByteArray extendedXmpSegments(const QByteArray &packet, const QByteArray &guid)
{
    QByteArray out;
    const qsizetype chunk = MaxSegmentBody - ExtendedXmpHeader;
    for (qsizetype at = 0; at < packet.size(); at += chunk) {
        QByteArray part = guid;
        PutBe32(part, quint32(packet.size()));
        PutBe32(part, quint32(at));
        part += QByteArrayView(packet).sliced(at, std::min(chunk, packet.size() - at));
        out += segmentBytes(0xE1, ExtendedXmpSignature, part);
    }
    return out;
}

// What becomes of the Extended XMP when a line sets properties that live
// there: they are set in the extension, which readers take them from, the
// main packet loses any copy, and names the new extension by its GUID. An
// extension that cannot be read goes, and the main packet names none.
struct ExtendedXmpEdit {
    QList<qsizetype> segments; // the extension's segments, which `replacement` takes the place of
    QByteArray replacement;
    QByteArray mainPacket;
    Note note;
};

std::optional<ExtendedXmpEdit> editExtendedXmp(QByteArrayView file, const QList<JpegSegment> &segments,
                                               const QByteArray &mainPacket, const QList<XmpSetting> &set)
{
    // A packet whose bytes never name the pointer (nor are UTF-16 or UTF-32,
    // where they could not) holds none: most photos are spared a second parse.
    if (set.isEmpty() || (!mainPacket.contains("HasExtendedXMP") && !mainPacket.contains('\0')))
        return std::nullopt;
    const XmpName pointer{QStringLiteral("http://ns.adobe.com/xmp/note/"), QStringLiteral("xmpNote"),
                          QStringLiteral("HasExtendedXMP")};
    const XmpRead read = ReadXmp(mainPacket, {pointer});
    if (set.isEmpty() || !read.unreadable.isEmpty() || !read.present[0])
        return std::nullopt;
    const ExtendedXmp extended = extendedXmp(file, segments, read.values[0].value(0).toLatin1());
    QList<XmpName> names;
    for (const XmpSetting &setting : set)
        names.append(setting.property);
    const XmpRead inside = extended.packet.isEmpty() ? XmpRead{QStringLiteral("missing"), {}, {}, 0}
                                                     : ReadXmp(extended.packet, names);
    QList<XmpSetting> there;
    QList<XmpSetting> fromMain;
    for (qsizetype i = 0; i < set.size() && inside.unreadable.isEmpty(); ++i) {
        if (!inside.present[i])
            continue;
        there.append(set[i]);
        fromMain.append(set[i]);
        fromMain.last().remove = true;
    }
    if (inside.unreadable.isEmpty() && there.isEmpty())
        return std::nullopt;
    const XmpEditResult edited = inside.unreadable.isEmpty() ? EditXmp(extended.packet, there) : XmpEditResult{};
    ExtendedXmpEdit edit;
    edit.segments = extended.segments;
    XmpSetting update{pointer, XmpForm::Text, {}, true};
    if (inside.unreadable.isEmpty() && edited.unreadable.isEmpty() && edited.unwritable.isEmpty()) {
        const QByteArray guid = QCryptographicHash::hash(edited.packet, QCryptographicHash::Md5).toHex().toUpper();
        edit.replacement = extendedXmpSegments(edited.packet, guid);
        update = {pointer, XmpForm::Text, {QString::fromLatin1(guid)}};
    } else {
        fromMain.clear();
        edit.note = {NoteCode::MetadataLost, {QStringLiteral("the Extended XMP the main packet named, which could not be read")}};
    }
    edit.mainPacket = EditXmp(mainPacket, fromMain + QList<XmpSetting>{update}).packet;
    return edit;
}

// Photoshop resources of consecutive APP13 segments, joined where one
// resource runs on into the next segment.
struct PhotoshopGroup {
    QList<qsizetype> segments; // indices
    QByteArray payload;
};

QList<PhotoshopGroup> photoshopGroups(QByteArrayView file, const QList<JpegSegment> &segments)
{
    QList<PhotoshopGroup> groups;
    bool open = false;
    qsizetype parsed = 0; // in the open group's payload: where its first unfinished resource starts
    for (qsizetype i = 0; i < segments.size(); ++i) {
        if (!holds(file, segments[i], 0xED, PhotoshopSignature)) {
            open = false;
            continue;
        }
        if (!open) {
            groups.append(PhotoshopGroup{});
            parsed = 0;
        }
        PhotoshopGroup &group = groups.back();
        group.segments.append(i);
        group.payload += bodyOf(file, segments[i]).sliced(PhotoshopSignature.size());
        // Each resource is parsed once, however many segments it spans.
        while (parsed < group.payload.size()) {
            const qsizetype end = PhotoshopResourceEnd(group.payload, parsed);
            if (end == -1)
                break;
            parsed = end < 0 ? group.payload.size() : end;
        }
        open = parsed < group.payload.size();
    }
    return groups;
}

struct TrailerRecord {
    quint16 tag = 0;
    qsizetype data = 0; // in the file
    qsizetype size = 0;
};

// The records of a FotoStation trailer in file order; *start gets where the
// trailer begins (the file's size when there is none). A trailer follows the
// image's EOI marker, at most a few padding bytes after it: records that
// reach back into the image are none.
QList<TrailerRecord> fotoStationRecords(QByteArrayView file, qsizetype scan, qsizetype *start)
{
    QList<TrailerRecord> records;
    qsizetype end = file.size();
    while (end >= FotoStationFooter) {
        ByteReader footer(file, end - FotoStationFooter);
        const quint16 tag = footer.u16();
        const qsizetype length = footer.u32();
        if (footer.u32() != FotoStationSignature || length < FotoStationFooter || length > end)
            break;
        records.prepend({tag, end - length, length - FotoStationFooter});
        end -= length;
    }
    const qsizetype from = std::max<qsizetype>(scan, end - 16);
    if (records.isEmpty() || scan < 0 || end < scan + 2 || file.sliced(from, end - from).indexOf("\xFF\xD9") < 0) {
        *start = file.size();
        return {};
    }
    *start = end;
    return records;
}

QByteArray segmentBytes(unsigned char marker, const QByteArray &signature, QByteArrayView payload)
{
    QByteArray out;
    out += char(0xFF);
    out += char(marker);
    PutBe16(out, quint32(2 + signature.size() + payload.size()));
    out += signature;
    out += payload;
    return out;
}

// A Photoshop block cut into as many APP13 segments as it needs.
QByteArray app13Segments(const QByteArray &payload)
{
    QByteArray out;
    const qsizetype chunk = MaxSegmentBody - PhotoshopSignature.size();
    for (qsizetype at = 0; at < payload.size(); at += chunk)
        out += segmentBytes(0xED, PhotoshopSignature, QByteArrayView(payload).sliced(at, std::min(chunk, payload.size() - at)));
    return out;
}

QByteArray encode32(const TiffStructure &tiff, quint32 value)
{
    QByteArray out;
    if (tiff.littleEndian())
        PutLe32(out, value);
    else
        PutBe32(out, value);
    return out;
}

// Multi-picture offsets count from the MPF header: they are set again
// when what lies between the header and a picture changed size.
void fixMultiPictureOffsets(QByteArrayView file, const JpegSegment &segment, OutputBytes &output)
{
    const qsizetype header = segment.body + MpfSignature.size();
    const TiffStructure mpf(file.sliced(header, segment.end - header));
    const QList<qsizetype> ifds = mpf.directories();
    if (ifds.isEmpty() || output.mapped(header) < 0)
        return;
    const auto entries = mpf.entry(ifds.front(), TiffTag::MpEntries);
    if (!entries)
        return;
    for (qsizetype at = entries->value; at + 16 <= entries->value + entries->size; at += 16) {
        const quint32 offset = mpf.u32(at + 8);
        if (offset == 0)
            continue;
        const qsizetype target = output.mapped(header + offset);
        if (target < 0)
            continue;
        const qint64 now = target - output.mapped(header);
        if (now != offset && now > 0 && now <= 0xFFFFFFFF)
            output.patch(header + at + 8, encode32(mpf, quint32(now)));
    }
}

// Canon's original decision data is found by an absolute file offset in its
// maker note, which is set again when the data moved.
void fixCanonDecisionData(QByteArrayView file, const JpegSegment &segment, OutputBytes &output)
{
    const qsizetype header = segment.body + ExifSignature.size();
    const TiffStructure exif(file.sliced(header, segment.end - header));
    const QList<qsizetype> ifds = exif.directories();
    if (ifds.isEmpty())
        return;
    const auto make = exif.entry(ifds.front(), TiffTag::Make);
    const auto exifIfd = exif.entry(ifds.front(), TiffTag::ExifIfd);
    if (!make || !exif.valueBytes(*make).startsWith("Canon") || !exifIfd)
        return;
    const auto makerNote = exif.entry(qsizetype(exif.number(*exifIfd).value_or(0)), TiffTag::MakerNote);
    if (!makerNote)
        return;
    const auto decisionData = exif.entry(makerNote->value, CanonDecisionData);
    if (!decisionData || decisionData->type != quint16(TiffType::Long) || decisionData->count != 1)
        return;
    const quint32 offset = exif.u32(decisionData->value);
    const qsizetype now = offset > 0 ? output.mapped(offset) : -1;
    if (now > 0 && now != offset && now <= 0xFFFFFFFF)
        output.patch(header + decisionData->value, encode32(exif, quint32(now)));
}
} // namespace

FoundMetadata ReadJpegMetadata(QByteArrayView file)
{
    FoundMetadata found;
    const JpegLayout layout = JpegSegments(file);
    for (const JpegSegment &segment : layout.segments) {
        if (isXmp(file, segment))
            found.xmpPackets.append(bodyOf(file, segment).sliced(XmpSignature.size()).toByteArray());
    }
    for (const PhotoshopGroup &group : photoshopGroups(file, layout.segments)) {
        for (const PhotoshopResource &resource : ParsePhotoshopResources(group.payload)) {
            if (resource.id == IptcResourceId)
                found.iimCopies.append(group.payload.sliced(resource.data, resource.size));
            else if (resource.id == IptcDigestId && !found.iptcDigest)
                found.iptcDigest = group.payload.sliced(resource.data, resource.size);
        }
    }
    qsizetype trailer = file.size();
    for (const TrailerRecord &record : fotoStationRecords(file, layout.scan, &trailer)) {
        if (record.tag == FotoStationIptc)
            found.iimCopies.append(file.sliced(record.data, record.size).toByteArray());
    }
    return found;
}

QString JpegDamage(QByteArrayView file, const JpegLayout &layout)
{
    const QString stray = layout.stray == 0
        ? QString()
        : QStringLiteral("%1 bytes between its segments start no marker, which readers skip").arg(layout.stray);
    if (layout.noImage())
        return stray;
    if (layout.scan < 0)
        return QStringLiteral("its segments do not lead to image data");
    // Searched from the end, where the marker nearly always is: a forward
    // search would read the whole image data of every photo.
    const auto *data = reinterpret_cast<const unsigned char *>(file.data());
    for (qsizetype at = file.size() - 1; at > layout.scan + 1; --at) {
        const void *found = ::memrchr(data + layout.scan + 2, 0xD9, size_t(at - layout.scan - 1));
        if (!found)
            break;
        at = static_cast<const unsigned char *>(found) - data;
        if (data[at - 1] == 0xFF)
            return stray;
    }
    return QStringLiteral("its image data ends early");
}

Note JpegTagsRefusal(const JpegLayout &layout)
{
    if (layout.whole)
        return {};
    return DamagedFileRefusal(QStringLiteral("its segments do not lead to image data"));
}

LineOutcome WriteTaggedJpeg(const SourceImage &source, const TagEdit &edit, XmpMemory &memory, int out)
{
    const QByteArrayView file = source.bytes();
    const JpegLayout layout = JpegSegments(file);
    if (Note refusal = JpegTagsRefusal(layout))
        return LineOutcome::failed(refusal);
    const QList<JpegSegment> &segments = layout.segments;
    const FoundMetadata found = ReadJpegMetadata(file);
    const EditedMetadata edited = EditMetadata(found, edit, TagHomes::IptcAndXmp, FormatName(ImageFormat::Jpeg), memory);
    QList<Note> notes = edited.notes;
    if (const QString damage = JpegDamage(file, layout); !damage.isEmpty())
        notes.prepend({NoteCode::SourceDamaged, {damage}});
    if (layout.noImage())
        notes.prepend({NoteCode::NoImage, {}});
    QList<QByteArray> packets = edited.xmpPackets;
    bool xmpChanged = edited.xmpChanged;
    QSet<qsizetype> extensionSegments;
    std::optional<ExtendedXmpEdit> extension;
    if (!found.xmpPackets.isEmpty() && !packets.isEmpty())
        extension = editExtendedXmp(file, segments, packets.front(), edited.xmpSet);
    if (extension) {
        packets.front() = extension->mainPacket;
        xmpChanged = true;
        extensionSegments = QSet<qsizetype>(extension->segments.begin(), extension->segments.end());
        if (extension->note)
            notes.append(extension->note);
    }
    for (const QByteArray &packet : packets) {
        if (packet.size() > MaxXmpPacket)
            return LineOutcome::failed(
                {NoteCode::BlockTooLarge, {QStringLiteral("XMP"), QString::number(packet.size()), QString::number(MaxXmpPacket)}});
    }

    // The IPTC goes into the first Photoshop block that holds it, else the
    // first there is; the others lose theirs, which the new block took in.
    const QList<PhotoshopGroup> groups = photoshopGroups(file, segments);
    const bool writeIptc = !edited.iim.isEmpty();
    qsizetype target = -1;
    for (qsizetype g = 0; g < groups.size() && target < 0; ++g) {
        bool held = false;
        PhotoshopResourceData(groups[g].payload, IptcResourceId, &held);
        if (held)
            target = g;
    }
    if (target < 0 && !groups.isEmpty())
        target = 0;
    const QByteArray digest = IptcDigestOf(edited.iim);
    QList<std::optional<QByteArray>> rebuilt; // per group; none when it stays as it is
    QHash<qsizetype, qsizetype> groupOf; // segment index -> group
    for (qsizetype g = 0; g < groups.size(); ++g) {
        for (const qsizetype s : groups[g].segments)
            groupOf.insert(s, g);
        std::optional<QByteArray> payload;
        if (writeIptc)
            payload = WithIptcResource(groups[g].payload, {g == target ? edited.iim : QByteArray(), digest, g == target},
                                       g == target ? LaterIptcRecords(groups[g].payload, edit) : QList<QByteArray>());
        rebuilt.append(payload && *payload != groups[g].payload ? payload : std::nullopt);
    }

    // New blocks go right after the EXIF segment, which stays where it is,
    // or after the JFIF segment.
    qsizetype anchor = -1;
    for (qsizetype i = 0; i < segments.size() && anchor < 0; ++i) {
        if (holds(file, segments[i], 0xE1, ExifSignature))
            anchor = i;
    }
    for (qsizetype i = 0; i < segments.size() && anchor < 0; ++i) {
        if (holds(file, segments[i], 0xE0, "JFIF"))
            anchor = i;
    }
    const auto insertNew = [&](OutputBytes &output) {
        if (found.xmpPackets.isEmpty() && !packets.isEmpty())
            output.add(segmentBytes(0xE1, XmpSignature, packets.front()));
        if (groups.isEmpty() && writeIptc)
            output.add(app13Segments(WithIptcResource({}, {edited.iim, {}, true})));
    };

    OutputBytes output;
    qsizetype cursor = 2;
    output.copy(0, cursor);
    if (anchor < 0)
        insertNew(output);
    qsizetype xmpIndex = 0;
    for (qsizetype i = 0; i < segments.size(); ++i) {
        const JpegSegment &segment = segments[i];
        const qsizetype group = groupOf.value(i, -1);
        if (isXmp(file, segment) && xmpChanged) {
            output.copy(cursor, segment.start);
            // The same size where the new packet fits, so nothing after it moves.
            const qsizetype room = segment.end - segment.body - XmpSignature.size();
            const QByteArray packet = PaddedXmpPacket(packets.value(xmpIndex++), room);
            output.add(segmentBytes(0xE1, XmpSignature, packet));
            cursor = segment.end;
        } else if (extensionSegments.contains(i)) {
            output.copy(cursor, segment.start);
            if (extension->segments.front() == i)
                output.add(extension->replacement);
            cursor = segment.end;
        } else if (group >= 0 && rebuilt[group]) {
            output.copy(cursor, segment.start);
            if (groups[group].segments.front() == i)
                output.add(app13Segments(*rebuilt[group]));
            cursor = segment.end;
        }
        if (i == anchor) {
            output.copy(cursor, segment.end);
            cursor = segment.end;
            insertNew(output);
        }
    }

    qsizetype trailer = file.size();
    QByteArray newTrailer;
    const QList<TrailerRecord> records = fotoStationRecords(file, layout.scan, &trailer);
    const bool rewriteTrailer = writeIptc
        && std::any_of(records.begin(), records.end(), [](const TrailerRecord &r) { return r.tag == FotoStationIptc; });
    if (rewriteTrailer) {
        for (const TrailerRecord &record : records) {
            const QByteArray data = record.tag == FotoStationIptc ? edited.iim : file.sliced(record.data, record.size).toByteArray();
            newTrailer += data;
            PutBe16(newTrailer, record.tag);
            PutBe32(newTrailer, quint32(data.size() + FotoStationFooter));
            PutBe32(newTrailer, FotoStationSignature);
        }
    } else {
        trailer = file.size();
    }
    output.copy(cursor, trailer);
    output.add(newTrailer);

    for (const JpegSegment &segment : segments) {
        if (holds(file, segment, 0xE2, MpfSignature))
            fixMultiPictureOffsets(file, segment, output);
        else if (holds(file, segment, 0xE1, ExifSignature))
            fixCanonDecisionData(file, segment, output);
    }
    if (Note failed = output.write(source, out))
        return LineOutcome::failed(failed);
    return LineOutcome::saved(notes);
}

namespace {
bool isMetadataSegment(unsigned char marker)
{
    return (marker >= 0xE0 && marker <= 0xEF) || marker == 0xFE;
}

// One past the EOI of the image whose first scan starts at `scan`, walking
// the entropy-coded data and any segments between scans; -1 when the data
// end first.
qsizetype imageEnd(QByteArrayView file, qsizetype scan)
{
    ByteReader reader(file, scan);
    while (reader.has(2)) {
        if (reader.peek() != 0xFF)
            return -1;
        const int marker = reader.peek(1);
        if (marker == 0xFF) {
            reader.skip(1);
            continue;
        }
        reader.skip(2);
        if (marker == 0xD9)
            return reader.at();
        const qsizetype length = reader.u16();
        if (!reader.ok() || length < 2 || !reader.skip(length - 2))
            return -1;
        if (marker != 0xDA)
            continue;
        // Stuffed zeros, restart markers and fill bytes belong to the scan.
        // Only a 0xFF can start anything else, so the rest is skipped by memchr.
        while (reader.skipTo(0xFF)) {
            const int next = reader.peek(1);
            if (next < 0 || (next != 0x00 && next != 0xFF && !(next >= 0xD0 && next <= 0xD7)))
                break;
            reader.skip(1);
        }
    }
    return -1;
}

// The offsets of the pictures an MPF header lists after the first: from the
// header, as the file holds them. None when the file has no such header.
struct MultiPicture {
    qsizetype header = -1;        // in the file
    QList<qsizetype> offsetsAt;   // in the file: where each offset is stored
    qsizetype firstSizeAt = -1;   // in the file: where the first picture's size is stored
    bool little = false;
};

MultiPicture multiPictureOf(QByteArrayView file)
{
    MultiPicture found;
    for (const JpegSegment &segment : JpegSegments(file).segments) {
        if (!holds(file, segment, 0xE2, MpfSignature))
            continue;
        const qsizetype header = segment.body + MpfSignature.size();
        const TiffStructure mpf(file.sliced(header, segment.end - header));
        const QList<qsizetype> ifds = mpf.directories();
        const auto entries = ifds.isEmpty() ? std::nullopt : mpf.entry(ifds.front(), TiffTag::MpEntries);
        if (!entries)
            return found;
        found.header = header;
        found.little = mpf.littleEndian();
        for (qsizetype at = entries->value; at + 16 <= entries->value + entries->size; at += 16) {
            if (mpf.u32(at + 8) == 0)
                found.firstSizeAt = header + at + 4;
            else
                found.offsetsAt.append(header + at + 8);
        }
        return found;
    }
    return found;
}

quint32 u32In(QByteArrayView file, qsizetype at, bool little)
{
    return ByteReader(file, at, little ? ByteReader::Little : ByteReader::Big).u32();
}

void putU32(QByteArray &out, qsizetype at, quint32 value, bool little)
{
    QByteArray bytes;
    little ? PutLe32(bytes, value) : PutBe32(bytes, value);
    out.replace(at, 4, bytes);
}
} // namespace

QString JpegPicturesUnmovable(QByteArrayView file)
{
    const MultiPicture pictures = multiPictureOf(file);
    if (pictures.offsetsAt.isEmpty())
        return {};
    const JpegLayout layout = JpegSegments(file);
    const qsizetype end = layout.scan < 0 ? -1 : imageEnd(file, layout.scan);
    for (const qsizetype at : pictures.offsetsAt) {
        if (end < 0 || pictures.header + qint64(u32In(file, at, pictures.little)) < end)
            return QStringLiteral("re-encoding cannot tell where this file's first picture ends and its further "
                                  "pictures (MPF) begin; use tags only");
    }
    return {};
}

namespace {
// The composed file's MPF header set again for its new first picture: the
// first picture's size, and the offsets of the others, which follow it as
// they followed the source's (from `sourceEnd` on, now from `primaryEnd`).
void withMultiPictureOffsets(QByteArray &out, QByteArrayView source, qsizetype sourceEnd, qsizetype primaryEnd)
{
    const MultiPicture was = multiPictureOf(source);
    const MultiPicture now = multiPictureOf(out);
    if (now.header < 0 || was.offsetsAt.size() != now.offsetsAt.size())
        return;
    if (now.firstSizeAt >= 0)
        putU32(out, now.firstSizeAt, quint32(primaryEnd), now.little);
    for (qsizetype i = 0; i < now.offsetsAt.size(); ++i) {
        const qint64 picture = was.header + qint64(u32In(source, was.offsetsAt[i], was.little));
        const qint64 offset = primaryEnd + (picture - sourceEnd) - now.header;
        if (offset > 0 && offset <= 0xFFFFFFFF)
            putU32(out, now.offsetsAt[i], quint32(offset), now.little);
    }
}
} // namespace

JpegFrame JpegFrameOf(QByteArrayView file)
{
    JpegFrame frame;
    for (const JpegSegment &segment : JpegSegments(file).segments) {
        if (!IsJpegFrameMarker(segment.marker))
            continue;
        // Precision, height and width, then the components: an id, the sampling factors and a table each.
        ByteReader reader(bodyOf(file, segment), 5);
        const int count = reader.u8();
        if (!reader.has(3 * qsizetype(count)))
            return frame;
        for (int i = 0; i < count; ++i) {
            reader.skip(1);
            const int factors = reader.u8();
            reader.skip(1);
            frame.sampling.append({factors >> 4, factors & 0x0F});
        }
        return frame;
    }
    return frame;
}

QByteArray ComposeReencodedJpeg(QByteArrayView source, QByteArrayView encoded, QString *why)
{
    const JpegLayout sourceLayout = JpegSegments(source);
    const JpegLayout encodedLayout = JpegSegments(encoded);
    const qsizetype encodedEnd = encodedLayout.scan < 0 ? -1 : imageEnd(encoded, encodedLayout.scan);
    if (sourceLayout.scan < 0 || encodedEnd < 0) {
        *why = QStringLiteral("the image's structure cannot be followed");
        return {};
    }
    // A damaged source keeps no trailer: where its image ends is unknown.
    const qsizetype sourceEnd = imageEnd(source, sourceLayout.scan);

    const auto isJfif = [](QByteArrayView file, const JpegSegment &s) { return holds(file, s, 0xE0, QByteArray("JFIF\0", 5)); };
    const auto isAdobe = [](QByteArrayView file, const JpegSegment &s) { return holds(file, s, 0xEE, "Adobe"); };
    const bool sourceJfif = std::any_of(sourceLayout.segments.begin(), sourceLayout.segments.end(),
                                        [&](const JpegSegment &s) { return isJfif(source, s); });

    QByteArray out("\xFF\xD8", 2);
    const auto append = [&out](QByteArrayView file, qsizetype from, qsizetype to) { out += file.sliced(from, to - from); };
    for (const JpegSegment &segment : encodedLayout.segments) {
        if (!sourceJfif && isJfif(encoded, segment))
            append(encoded, segment.start, segment.end);
    }
    for (const JpegSegment &segment : sourceLayout.segments) {
        if (isMetadataSegment(segment.marker) && !isAdobe(source, segment))
            append(source, segment.start, segment.end);
    }
    for (const JpegSegment &segment : encodedLayout.segments) {
        if (isAdobe(encoded, segment) || !isMetadataSegment(segment.marker))
            append(encoded, segment.start, segment.end);
    }
    append(encoded, encodedLayout.scan, encodedEnd);
    const qsizetype primaryEnd = out.size();
    if (sourceEnd > 0)
        append(source, sourceEnd, source.size());
    if (sourceEnd > 0)
        withMultiPictureOffsets(out, source, sourceEnd, primaryEnd);
    return out;
}
