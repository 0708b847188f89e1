#include "engine/container/webpcontainer.h"

#include "engine/container/outputbytes.h"
#include "engine/container/sourceimage.h"
#include "engine/platform/bytereader.h"

#include <QHash>

#include <algorithm>
#include <optional>

namespace {
const QByteArray XmpChunk("XMP ");
constexpr qsizetype ChunkHeader = 8;
constexpr qsizetype ExtendedSize = 10; // of the VP8X chunk's data
// Flags in the VP8X chunk's first byte.
constexpr unsigned char IccFlag = 0x20;
constexpr unsigned char AlphaFlag = 0x10;
constexpr unsigned char ExifFlag = 0x08;
constexpr unsigned char XmpFlag = 0x04;
// RIFF sizes are 32-bit, and readers refuse the last few values.
constexpr qint64 MaxRiffSize = 0xFFFFFFFFll - 10;

QByteArray chunkBytes(const QByteArray &type, const QByteArray &data)
{
    QByteArray out = type;
    PutLe32(out, quint32(data.size()));
    out += data;
    out.append(data.size() & 1, '\0');
    return out;
}

// A chunk's type as the user reads it: its letters, or its bytes in hex when they are none.
QString chunkName(const QByteArray &type)
{
    const bool letters = std::all_of(type.begin(), type.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
    return letters ? QString::fromLatin1(type.trimmed()) : QStringLiteral("0x") + QString::fromLatin1(type.toHex());
}

struct Canvas {
    quint32 width = 0;
    quint32 height = 0;
    bool alpha = false;
};

// The canvas of a simple file, from its bitstream's header.
std::optional<Canvas> canvasOf(QByteArrayView file, const WebpChunk &image)
{
    ByteReader reader(file.sliced(image.data, image.size), 0, ByteReader::Little);
    if (image.type == "VP8L") {
        if (reader.u8() != 0x2F)
            return std::nullopt;
        const quint32 bits = reader.u32();
        if (!reader.ok())
            return std::nullopt;
        return Canvas{(bits & 0x3FFF) + 1, ((bits >> 14) & 0x3FFF) + 1, ((bits >> 28) & 1) != 0};
    }
    // A key frame: its tag's low bit clear, then the start code and the sizes.
    const int tag = reader.u8();
    reader.skip(2);
    const bool startCode = reader.startsWith("\x9D\x01\x2A");
    reader.skip(3);
    const Canvas canvas{quint32(reader.u16() & 0x3FFF), quint32(reader.u16() & 0x3FFF), false};
    if (!reader.ok() || (tag & 1) != 0 || !startCode || canvas.width == 0 || canvas.height == 0)
        return std::nullopt;
    return canvas;
}

// The VP8X chunk a simple file becomes extended with, its flags set for
// the chunks it holds.
QByteArray extendedChunk(const WebpLayout &layout, const Canvas &canvas)
{
    unsigned char flags = XmpFlag | (canvas.alpha ? AlphaFlag : 0);
    for (const WebpChunk &chunk : layout.chunks) {
        if (chunk.type == "ICCP")
            flags |= IccFlag;
        else if (chunk.type == "EXIF")
            flags |= ExifFlag;
    }
    QByteArray data(1, char(flags));
    data += QByteArray(3, '\0');
    for (const quint32 side : {canvas.width - 1, canvas.height - 1}) {
        data += char(side & 0xFF);
        data += char((side >> 8) & 0xFF);
        data += char((side >> 16) & 0xFF);
    }
    return chunkBytes("VP8X", data);
}
} // namespace

WebpLayout WebpChunks(QByteArrayView file)
{
    WebpLayout layout;
    layout.riffEnd = file.size();
    ByteReader header(file, 4, ByteReader::Little);
    const quint64 declared = header.u32();
    if (!header.skip(4)) {
        layout.damage = QStringLiteral("it ends inside its header");
        return layout;
    }
    if (declared < 4) {
        layout.damage = QStringLiteral("its RIFF header declares no room for its chunks");
        return layout;
    }
    if (declared > quint64(file.size() - 8)) {
        layout.damage = QStringLiteral("its RIFF runs past the end of the file");
        return layout;
    }
    layout.riffEnd = qsizetype(8 + declared);
    ByteReader reader(file.first(layout.riffEnd), 12, ByteReader::Little);
    while (!reader.atEnd()) {
        const qsizetype pos = reader.at();
        const QByteArray type = reader.bytesOf(4).toByteArray();
        const qsizetype size = reader.u32();
        if (!reader.ok()) {
            layout.damage = QStringLiteral("a chunk's header runs past the end of the file");
            return layout;
        }
        if (!reader.skip(size)) {
            layout.damage = QStringLiteral("its %1 chunk runs past the end of the file").arg(chunkName(type));
            return layout;
        }
        // The padding byte may be missing at the RIFF's end.
        reader.skip(size & 1);
        layout.chunks.append({type, pos, pos + ChunkHeader, size, reader.at()});
    }
    return layout;
}

FoundMetadata ReadWebpMetadata(QByteArrayView file)
{
    FoundMetadata found;
    for (const WebpChunk &chunk : WebpChunks(file).chunks) {
        if (chunk.type == XmpChunk)
            found.xmpPackets.append(file.sliced(chunk.data, chunk.size).toByteArray());
    }
    return found;
}

LineOutcome WriteTaggedWebp(const SourceImage &source, const TagEdit &edit, XmpMemory &memory, int out)
{
    const QByteArrayView file = source.bytes();
    const WebpLayout layout = WebpChunks(file);
    if (!layout.damage.isEmpty())
        return LineOutcome::failed(DamagedFileRefusal(layout.damage));
    const QList<WebpChunk> &chunks = layout.chunks;
    const QByteArray first = chunks.isEmpty() ? QByteArray() : chunks.front().type;
    const bool extended = first == "VP8X";
    if (!extended && first != "VP8 " && first != "VP8L")
        return LineOutcome::failed(DamagedFileRefusal(QStringLiteral("it starts with no image chunk")));
    if (extended && chunks.front().size < ExtendedSize)
        return LineOutcome::failed(DamagedFileRefusal(QStringLiteral("its VP8X chunk is cut short")));
    std::optional<Canvas> canvas;
    if (!extended && !(canvas = canvasOf(file, chunks.front())))
        return LineOutcome::failed(DamagedFileRefusal(QStringLiteral("its image's header cannot be read")));

    const EditedMetadata edited = EditMetadata(ReadWebpMetadata(file), edit, TagHomes::XmpOnly, FormatName(ImageFormat::WebP), memory);
    if (edited.refusal)
        return LineOutcome::failed(XmpOnlyRefusal(edited.refusal, FormatName(ImageFormat::WebP)));
    if (!edited.xmpChanged)
        return WriteUnchanged(source, out, edited.notes);
    OutputBytes output;

    // Each XMP chunk is replaced where it stands; a file without one gets it last, as WebP orders them.
    QHash<qsizetype, QByteArray> replaced;
    qint64 grown = 0;
    qsizetype packet = 0;
    for (qsizetype i = 0; i < chunks.size(); ++i) {
        if (chunks[i].type != XmpChunk)
            continue;
        const QByteArray bytes = chunkBytes(XmpChunk, edited.xmpPackets.value(packet++));
        grown += bytes.size() - (chunks[i].end - chunks[i].start);
        replaced.insert(i, bytes);
    }
    QByteArray added;
    if (replaced.isEmpty()) {
        const WebpChunk &last = chunks.back();
        // A last chunk of odd size that lacks its padding byte gets it, so the new chunk starts where readers look.
        const bool unpadded = (last.size & 1) && last.end == last.data + last.size;
        added.append(unpadded ? 1 : 0, '\0');
        added += chunkBytes(XmpChunk, edited.xmpPackets.value(0));
    }
    const QByteArray newExtended = extended ? QByteArray() : extendedChunk(layout, *canvas);
    const qint64 riffSize = layout.riffEnd - 8 + grown + added.size() + newExtended.size();
    if (riffSize > MaxRiffSize)
        return LineOutcome::failed({NoteCode::BlockTooLarge, {QStringLiteral("XMP"), QString::number(edited.xmpPackets.value(0).size()),
                                                              QString::number(MaxRiffSize - (riffSize - edited.xmpPackets.value(0).size()))}});

    QByteArray header("RIFF");
    PutLe32(header, quint32(riffSize));
    output.add(header);
    output.copy(8, 12); // "WEBP"
    qsizetype cursor = 12;
    output.add(newExtended);
    if (extended) {
        const qsizetype flags = chunks.front().data;
        output.copy(cursor, flags);
        output.add(QByteArray(1, char(ByteReader(file, flags).u8() | XmpFlag)));
        cursor = flags + 1;
    }
    for (qsizetype i = 0; i < chunks.size(); ++i) {
        if (!replaced.contains(i))
            continue;
        output.copy(cursor, chunks[i].start);
        output.add(replaced.value(i));
        cursor = chunks[i].end;
    }
    output.copy(cursor, layout.riffEnd);
    output.add(added);
    output.copy(layout.riffEnd, file.size());
    if (Note failed = output.write(source, out))
        return LineOutcome::failed(failed);
    return LineOutcome::saved(edited.notes);
}
