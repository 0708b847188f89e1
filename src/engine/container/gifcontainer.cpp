#include "engine/container/gifcontainer.h"

#include "engine/container/outputbytes.h"
#include "engine/container/sourceimage.h"
#include "engine/platform/bytereader.h"

#include <QHash>

namespace {
constexpr unsigned char ExtensionIntroducer = 0x21;
constexpr unsigned char ImageIntroducer = 0x2C;
constexpr unsigned char Trailer = 0x3B;
constexpr unsigned char ApplicationLabel = 0xFF;
constexpr unsigned char PlainTextLabel = 0x01;
const QByteArray XmpIdentifier("\x0BXMP DataXMP"); // its sub-block: the size, then the name and code
constexpr qsizetype XmpHeader = 14; // introducer, label and identifier
constexpr qsizetype MagicSize = 258;

// Read as sub-blocks, the packet's bytes lead any reader into this ramp,
// which leads it on to the terminator at its end.
const QByteArray &magicTrailer()
{
    static const QByteArray magic = [] {
        QByteArray bytes(1, '\x01');
        for (int value = 0xFF; value >= 0; --value)
            bytes += char(value);
        return bytes + '\0';
    }();
    return magic;
}

// Moves past the terminator of the sub-blocks at the cursor; false when they run past the end.
bool skipSubBlocks(ByteReader &reader)
{
    for (int size = reader.u8(); size != 0 && reader.ok(); size = reader.u8())
        reader.skip(size);
    return reader.ok();
}

// The colour table a flags byte announces, in bytes.
qsizetype colourTableSize(int flags)
{
    return flags & 0x80 ? qsizetype(3) << ((flags & 7) + 1) : 0;
}

QByteArray xmpExtension(const QByteArray &packet)
{
    return QByteArray(1, char(ExtensionIntroducer)) + char(ApplicationLabel) + XmpIdentifier + packet + magicTrailer();
}
} // namespace

GifLayout GifBlocks(QByteArrayView file)
{
    GifLayout layout;
    ByteReader reader(file, 10);
    const int flags = reader.u8();
    if (!reader.skip(2)) {
        layout.damage = QStringLiteral("it ends inside its header");
        return layout;
    }
    if (!reader.skip(colourTableSize(flags))) {
        layout.damage = QStringLiteral("its colour table runs past the end of the file");
        return layout;
    }
    layout.header = reader.at();
    while (!reader.atEnd()) {
        const qsizetype pos = reader.at();
        const unsigned char introducer = reader.u8();
        if (introducer == Trailer) {
            layout.blocks.append({Trailer, 0, pos, pos + 1});
            return layout;
        }
        if (introducer != ExtensionIntroducer && introducer != ImageIntroducer) {
            layout.damage = QStringLiteral("a block of no known kind starts at byte %1").arg(pos);
            return layout;
        }
        unsigned char label = 0;
        bool whole = false;
        if (introducer == ExtensionIntroducer) {
            label = reader.u8();
            whole = skipSubBlocks(reader);
        } else {
            // The descriptor, its colour table, the code size, then the data's sub-blocks.
            reader.skip(8);
            const int imageFlags = reader.u8();
            whole = reader.skip(colourTableSize(imageFlags)) && reader.skip(1) && skipSubBlocks(reader);
        }
        if (!whole) {
            layout.damage = introducer == ImageIntroducer ? QStringLiteral("an image runs past the end of the file")
                                                          : QStringLiteral("an extension runs past the end of the file");
            return layout;
        }
        layout.blocks.append({introducer, label, pos, reader.at()});
    }
    return layout;
}

bool IsGifXmp(QByteArrayView file, const GifBlock &block)
{
    return block.introducer == ExtensionIntroducer && block.label == ApplicationLabel
        && block.end - block.start >= XmpHeader && file.sliced(block.start + 2, XmpIdentifier.size()) == XmpIdentifier;
}

FoundMetadata ReadGifMetadata(QByteArrayView file)
{
    FoundMetadata found;
    for (const GifBlock &block : GifBlocks(file).blocks) {
        if (!IsGifXmp(file, block))
            continue;
        const qsizetype from = block.start + XmpHeader;
        const bool magic = block.end - MagicSize >= from && file.sliced(block.end - MagicSize, MagicSize) == magicTrailer();
        // Without its trailer the packet runs to the terminator, as readers that walk its sub-blocks find it.
        const qsizetype to = magic ? block.end - MagicSize : std::max(from, block.end - 1);
        found.xmpPackets.append(file.sliced(from, to - from).toByteArray());
    }
    return found;
}

LineOutcome WriteTaggedGif(const SourceImage &source, const TagEdit &edit, XmpMemory &memory, int out)
{
    const QByteArrayView file = source.bytes();
    const GifLayout layout = GifBlocks(file);
    if (!layout.damage.isEmpty())
        return LineOutcome::failed(DamagedFileRefusal(layout.damage));
    const EditedMetadata edited = EditMetadata(ReadGifMetadata(file), edit, TagHomes::XmpOnly, FormatName(ImageFormat::Gif), memory);
    if (edited.refusal)
        return LineOutcome::failed(XmpOnlyRefusal(edited.refusal, FormatName(ImageFormat::Gif)));
    if (!edited.xmpChanged)
        return WriteUnchanged(source, out, edited.notes);
    for (const QByteArray &packet : edited.xmpPackets) {
        // A zero byte would end the extension inside the packet.
        if (packet.contains('\0'))
            return LineOutcome::failed({NoteCode::MetadataUnwritable, {QStringLiteral("the XMP holds a zero byte, which GIF cannot carry")}});
    }
    OutputBytes output;

    // Each XMP extension is replaced where it stands. A new one goes right
    // ahead of the first image, behind the loop extension and the frame's
    // graphic control (whichever comes first), where ExifTool puts it too.
    QHash<qsizetype, QByteArray> replaced;
    qsizetype packet = 0;
    for (qsizetype i = 0; i < layout.blocks.size(); ++i) {
        if (IsGifXmp(file, layout.blocks[i]))
            replaced.insert(i, xmpExtension(edited.xmpPackets.value(packet++)));
    }
    qsizetype insertAt = -1; // a block index; the blocks' count when the file ends first
    if (replaced.isEmpty()) {
        insertAt = layout.blocks.size();
        for (qsizetype i = 0; i < layout.blocks.size() && insertAt == layout.blocks.size(); ++i) {
            const GifBlock &block = layout.blocks[i];
            if (block.introducer != ExtensionIntroducer || block.label == PlainTextLabel)
                insertAt = i;
        }
    }

    // Extensions came with version 89a.
    output.add("GIF89a");
    qsizetype cursor = 6;
    for (qsizetype i = 0; i <= layout.blocks.size(); ++i) {
        const qsizetype start = i < layout.blocks.size() ? layout.blocks[i].start : file.size();
        if (i == insertAt) {
            output.copy(cursor, start);
            output.add(xmpExtension(edited.xmpPackets.value(0)));
            cursor = start;
        }
        if (!replaced.contains(i))
            continue;
        output.copy(cursor, start);
        output.add(replaced.value(i));
        cursor = layout.blocks[i].end;
    }
    output.copy(cursor, file.size());
    if (Note failed = output.write(source, out))
        return LineOutcome::failed(failed);
    return LineOutcome::saved(edited.notes);
}
