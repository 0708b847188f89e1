#include "engine/container/pngcontainer.h"

#include "engine/container/outputbytes.h"
#include "engine/container/sourceimage.h"
#include "engine/metadata/photoshopresources.h"
#include "engine/metadata/xmppacket.h"
#include "engine/platform/bytereader.h"
#include "engine/platform/zlibstream.h"

#include <QHash>

#include <algorithm>
#include <optional>

namespace {
const QByteArray XmpKeyword("XML:com.adobe.xmp");
const QByteArray IptcProfile("Raw profile type iptc");
const QByteArray PhotoshopProfile("Raw profile type 8bim");
const QByteArray XmpProfile("Raw profile type xmp");
// What the chunks of ours in one file may inflate to together: far beyond
// any metadata, and a bound on what a file of small chunks can claim.
constexpr qsizetype InflateBudget = 64 << 20;

struct TextChunk {
    QByteArray type;    // tEXt, zTXt or iTXt
    QByteArray keyword;
    QByteArray text;    // inflated
};

// Whether a text chunk of `type` with `keyword` holds what this program owns.
bool ownedKeyword(const QByteArray &type, QByteArrayView keyword)
{
    return (type == "iTXt" && keyword == XmpKeyword) || keyword == XmpProfile || keyword == IptcProfile
        || keyword == PhotoshopProfile;
}

// A text chunk of ours, its text inflated out of what is left of `budget`;
// none for another chunk, whose text is never inflated. `budget` goes below
// zero when the text would take more than is left.
std::optional<TextChunk> readText(QByteArrayView file, const PngChunk &chunk, qsizetype &budget)
{
    if (chunk.type != "tEXt" && chunk.type != "zTXt" && chunk.type != "iTXt")
        return std::nullopt;
    const QByteArrayView data = file.sliced(chunk.data, chunk.size);
    const qsizetype nul = data.indexOf('\0');
    if (nul < 1 || !ownedKeyword(chunk.type, data.first(nul)))
        return std::nullopt;
    TextChunk text{chunk.type, data.first(nul).toByteArray(), {}};
    QByteArrayView rest = data.sliced(nul + 1);
    bool compressed = chunk.type == "zTXt";
    if (chunk.type == "zTXt") {
        if (rest.isEmpty())
            return std::nullopt;
        rest = rest.sliced(1);
    } else if (chunk.type == "iTXt") {
        if (rest.size() < 2)
            return std::nullopt;
        compressed = rest.at(0) != 0;
        rest = rest.sliced(2);
        for (int skip = 0; skip < 2; ++skip) { // the language tag and the translated keyword
            const qsizetype end = rest.indexOf('\0');
            if (end < 0)
                return std::nullopt;
            rest = rest.sliced(end + 1);
        }
    }
    if (!compressed) {
        text.text = rest.toByteArray();
        return text;
    }
    bool tooLarge = false;
    const std::optional<QByteArray> inflated = Inflate(rest, budget, &tooLarge);
    if (tooLarge)
        budget = -1;
    if (!inflated)
        return std::nullopt;
    budget -= inflated->size();
    text.text = *inflated;
    return text;
}

QByteArray chunkBytes(const QByteArray &type, const QByteArray &data)
{
    QByteArray out;
    PutBe32(out, quint32(data.size()));
    out += type + data;
    PutBe32(out, Crc32(QByteArray(type + data)));
    return out;
}

// A text chunk of the same type: iTXt is written uncompressed, as XMP asks of its chunk.
QByteArray textChunk(const QByteArray &type, const QByteArray &keyword, const QByteArray &text)
{
    if (type == "zTXt")
        return chunkBytes(type, keyword + QByteArray(2, '\0') + Deflate(text));
    if (type == "iTXt")
        return chunkBytes(type, keyword + QByteArray(5, '\0') + text);
    return chunkBytes(type, keyword + '\0' + text);
}

// ImageMagick's raw profile: a newline, the name, the length, then the bytes in hex.
std::optional<QByteArray> readRawProfile(const QByteArray &text)
{
    qsizetype at = 0;
    for (int line = 0; line < 2; ++line) { // past the name's line
        at = text.indexOf('\n', at) + 1;
        if (at <= 0)
            return std::nullopt;
    }
    while (at < text.size() && text.at(at) == ' ')
        ++at;
    qsizetype digitsEnd = at;
    while (digitsEnd < text.size() && text.at(digitsEnd) >= '0' && text.at(digitsEnd) <= '9')
        ++digitsEnd;
    bool number = false;
    const qsizetype length = text.mid(at, digitsEnd - at).toLongLong(&number);
    if (!number || length < 0 || length > (text.size() - digitsEnd) / 2)
        return std::nullopt;
    QByteArray bytes;
    bytes.reserve(length);
    int high = -1;
    for (qsizetype i = digitsEnd; i < text.size() && bytes.size() < length; ++i) {
        const char c = text.at(i);
        const int nibble = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (nibble < 0)
            continue;
        if (high < 0) {
            high = nibble;
            continue;
        }
        bytes += char((high << 4) | nibble);
        high = -1;
    }
    if (bytes.size() != length)
        return std::nullopt;
    return bytes;
}

QByteArray rawProfile(const QByteArray &name, const QByteArray &bytes)
{
    QByteArray text = "\n" + name + "\n" + QByteArray::number(bytes.size()).rightJustified(8, ' ') + "\n";
    const QByteArray hex = bytes.toHex();
    for (qsizetype at = 0; at < hex.size(); at += 72)
        text += hex.mid(at, 72) + '\n';
    return text;
}

// One chunk that holds what this program owns, and what it holds.
struct OwnedChunk {
    qsizetype index = 0;
    TextChunk text;
    enum Kind { Xmp, XmpProfile, IptcProfile, PhotoshopProfile } kind = Xmp;
    QByteArray content; // the packet, or the profile's bytes
};

struct OwnedChunks {
    QList<OwnedChunk> chunks;
    Note refusal; // why they could not all be read
};

OwnedChunks ownedChunks(QByteArrayView file, const QList<PngChunk> &chunks)
{
    OwnedChunks owned;
    qsizetype budget = InflateBudget;
    for (qsizetype i = 0; i < chunks.size(); ++i) {
        std::optional<TextChunk> text = readText(file, chunks[i], budget);
        if (budget < 0) {
            owned.refusal = {NoteCode::MetadataUnwritable,
                             {QStringLiteral("its metadata chunks inflate to more than %1 MB").arg(InflateBudget >> 20)}};
            return owned;
        }
        if (!text)
            continue;
        if (text->keyword == XmpKeyword && text->type == "iTXt") {
            owned.chunks.append({i, *text, OwnedChunk::Xmp, text->text});
            continue;
        }
        OwnedChunk::Kind kind = OwnedChunk::PhotoshopProfile;
        if (text->keyword == XmpProfile)
            kind = OwnedChunk::XmpProfile;
        else if (text->keyword == IptcProfile)
            kind = OwnedChunk::IptcProfile;
        else if (text->keyword != PhotoshopProfile)
            continue;
        if (const std::optional<QByteArray> profile = readRawProfile(text->text))
            owned.chunks.append({i, *text, kind, *profile});
    }
    return owned;
}

// The IIM block a raw profile holds: Photoshop resources, or the block itself.
std::optional<QByteArray> iimOf(const OwnedChunk &chunk)
{
    if (chunk.kind == OwnedChunk::IptcProfile && !chunk.content.startsWith("8BIM"))
        return chunk.content;
    bool found = false;
    QByteArray iim = PhotoshopResourceData(chunk.content, IptcResourceId, &found);
    if (!found)
        return std::nullopt;
    return iim;
}
} // namespace

PngLayout PngChunks(QByteArrayView file)
{
    PngLayout layout;
    ByteReader reader(file, 8);
    while (reader.has(12)) {
        const qsizetype pos = reader.at();
        const qsizetype length = reader.u32();
        const QByteArrayView typed = reader.bytesOf(4 + length); // the type and the data the checksum covers
        const quint32 checksum = reader.u32();
        if (!reader.ok())
            return layout;
        PngChunk chunk{typed.first(4).toByteArray(), pos, pos + 8, length, reader.at()};
        if (Crc32(typed) != checksum)
            layout.badChecksums.append(QString::fromLatin1(chunk.type));
        layout.chunks.append(chunk);
        if (chunk.type == "IEND") {
            layout.whole = true;
            return layout;
        }
    }
    return layout;
}

QString PngDamage(const PngLayout &layout)
{
    if (layout.badChecksums.isEmpty())
        return {};
    return QStringLiteral("the checksum of its %1 chunk is wrong (the chunk was kept as it was)")
        .arg(layout.badChecksums.join(QStringLiteral(", ")));
}

namespace {
FoundMetadata foundIn(const OwnedChunks &owned)
{
    FoundMetadata found;
    found.refusal = owned.refusal;
    for (const OwnedChunk &chunk : owned.chunks) {
        if (chunk.kind == OwnedChunk::Xmp || chunk.kind == OwnedChunk::XmpProfile)
            found.xmpPackets.append(chunk.content);
        else if (const std::optional<QByteArray> iim = iimOf(chunk))
            found.iimCopies.append(*iim);
        bool digest = false;
        const QByteArray stored = chunk.content.startsWith("8BIM") ? PhotoshopResourceData(chunk.content, IptcDigestId, &digest) : QByteArray();
        if (digest && !found.iptcDigest)
            found.iptcDigest = stored;
    }
    return found;
}
} // namespace

FoundMetadata ReadPngMetadata(QByteArrayView file)
{
    return foundIn(ownedChunks(file, PngChunks(file).chunks));
}

LineOutcome WriteTaggedPng(const SourceImage &source, const TagEdit &edit, XmpMemory &memory, int out)
{
    const QByteArrayView file = source.bytes();
    const PngLayout layout = PngChunks(file);
    if (!layout.whole || layout.chunks.isEmpty() || layout.chunks.front().type != "IHDR")
        return LineOutcome::failed(DamagedFileRefusal(QStringLiteral("its chunks do not run whole to its end")));
    // Read once: inflating is what a line of PNG spends its time on.
    const OwnedChunks owned = ownedChunks(file, layout.chunks);
    if (owned.refusal)
        return LineOutcome::failed(owned.refusal);
    const FoundMetadata found = foundIn(owned);
    const EditedMetadata edited = EditMetadata(found, edit, TagHomes::IptcAndXmp, FormatName(ImageFormat::Png), memory);
    QList<Note> notes = edited.notes;
    if (const QString damage = PngDamage(layout); !damage.isEmpty())
        notes.prepend({NoteCode::SourceDamaged, {damage}});
    const QByteArray digest = IptcDigestOf(edited.iim);
    const bool writeIptc = !edited.iim.isEmpty();

    QHash<qsizetype, QByteArray> replaced; // chunk index -> its new bytes
    bool iptcHeld = false;
    qsizetype packet = 0;
    for (const OwnedChunk &chunk : owned.chunks) {
        const QByteArray &type = chunk.text.type;
        switch (chunk.kind) {
        case OwnedChunk::Xmp:
        case OwnedChunk::XmpProfile: {
            const QByteArray next = edited.xmpPackets.value(packet++);
            if (!edited.xmpChanged)
                break;
            replaced.insert(chunk.index, chunk.kind == OwnedChunk::Xmp ? textChunk("iTXt", XmpKeyword, next)
                                                                        : textChunk(type, XmpProfile, rawProfile("xmp", next)));
            break;
        }
        case OwnedChunk::IptcProfile:
        case OwnedChunk::PhotoshopProfile: {
            const bool irb = chunk.content.startsWith("8BIM");
            if (!writeIptc || (chunk.kind == OwnedChunk::PhotoshopProfile && !iimOf(chunk)))
                break;
            iptcHeld = true;
            const QByteArray content = irb ? WithIptcResource(chunk.content, {edited.iim, digest, true}, LaterIptcRecords(chunk.content, edit)) : edited.iim;
            const QByteArray name = chunk.kind == OwnedChunk::IptcProfile ? "iptc" : "8bim";
            replaced.insert(chunk.index, textChunk(type, chunk.text.keyword, rawProfile(name, content)));
            break;
        }
        }
    }
    QByteArray added;
    if (found.xmpPackets.isEmpty() && !edited.xmpPackets.isEmpty())
        added += textChunk("iTXt", XmpKeyword, edited.xmpPackets.front());
    if (!iptcHeld && writeIptc)
        added += textChunk("zTXt", IptcProfile, rawProfile("iptc", WithIptcResource({}, {edited.iim, {}, true})));

    // New chunks go ahead of the image data, where readers look first.
    OutputBytes output;
    qsizetype cursor = 0;
    for (qsizetype i = 0; i < layout.chunks.size(); ++i) {
        const PngChunk &chunk = layout.chunks[i];
        if (!added.isEmpty() && (chunk.type == "IDAT" || chunk.type == "IEND")) {
            output.copy(cursor, chunk.start);
            output.add(added);
            added.clear();
            cursor = chunk.start;
        }
        if (!replaced.contains(i))
            continue;
        output.copy(cursor, chunk.start);
        output.add(replaced.value(i));
        cursor = chunk.end;
    }
    output.copy(cursor, file.size());
    if (Note failed = output.write(source, out))
        return LineOutcome::failed(failed);
    return LineOutcome::saved(notes);
}

namespace {
// A header's bit depth and colour type, which follow its width and height.
struct PngForm {
    int depth = 0;
    int colourType = 0;
    bool operator==(const PngForm &) const = default;
};

PngForm pngForm(QByteArrayView file, const PngChunk &header)
{
    ByteReader reader(file.sliced(header.data, header.size), 8);
    const int depth = reader.u8();
    return {depth, reader.u8()};
}

QString describePng(const PngForm &form)
{
    static const char *const types[] = {"grey", "?", "RGB", "palette", "grey and alpha", "?", "RGBA"};
    return QStringLiteral("%1-bit %2").arg(form.depth).arg(QLatin1String(form.colourType <= 6 ? types[form.colourType] : "?"));
}
} // namespace

QByteArray ComposeReencodedPng(QByteArrayView source, QByteArrayView encoded, QString *why)
{
    const QList<PngChunk> sourceChunks = PngChunks(source).chunks;
    const QList<PngChunk> encodedChunks = PngChunks(encoded).chunks;
    const auto first = [](const QList<PngChunk> &chunks, const char *type) -> const PngChunk * {
        for (const PngChunk &chunk : chunks) {
            if (chunk.type == type)
                return &chunk;
        }
        return nullptr;
    };
    const PngChunk *sourceHeader = first(sourceChunks, "IHDR");
    const PngChunk *encodedHeader = first(encodedChunks, "IHDR");
    if (!sourceHeader || !encodedHeader || sourceHeader->size != 13 || encodedHeader->size != 13
        || !first(encodedChunks, "IDAT")) {
        *why = QStringLiteral("the image's structure cannot be followed");
        return {};
    }
    if (first(sourceChunks, "acTL")) {
        *why = QStringLiteral("re-encoding would keep only the first frame of this animated PNG; use tags only");
        return {};
    }
    const PngForm sourceForm = pngForm(source, *sourceHeader);
    const PngForm encodedForm = pngForm(encoded, *encodedHeader);
    if (sourceForm != encodedForm) {
        *why = QStringLiteral("re-encoding would store this %1 PNG as %2; use tags only")
                   .arg(describePng(sourceForm), describePng(encodedForm));
        return {};
    }

    // The encoder's own ancillary chunks are dropped: the source's take their place.
    const auto isImageChunk = [](const QByteArray &type) {
        return type == "IHDR" || type == "PLTE" || type == "tRNS" || type == "IDAT" || type == "IEND";
    };
    const bool encodedTransparency = first(encodedChunks, "tRNS");
    QByteArray before;  // the source's chunks ahead of its palette
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
