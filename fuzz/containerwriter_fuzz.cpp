// Whatever a JPEG, PNG, TIFF, WebP, PSD or GIF holds, its tagged copy keeps
// every byte the writer does not own, in order, and reads back with the new
// caption. Built once per container (FUZZ_JPEG, FUZZ_PNG, FUZZ_TIFF,
// FUZZ_WEBP, FUZZ_PSD, FUZZ_GIF), each target takes only inputs of its own
// format.
#include "engine/container/gifcontainer.h"
#include "engine/container/jpegcontainer.h"
#include "engine/container/pngcontainer.h"
#include "engine/container/psdcontainer.h"
#include "engine/container/sourceimage.h"
#include "engine/container/tagsonly.h"
#include "engine/container/tiffcontainer.h"
#include "engine/container/tiffstructure.h"
#include "engine/container/webpcontainer.h"
#include "engine/metadata/iimblock.h"
#include "engine/metadata/photoshopresources.h"
#include "engine/metadata/xmppacket.h"
#include "fuzzcheck.h"

#include <QFile>

#include <cstdint>

#include <sys/mman.h>
#include <unistd.h>

namespace {
// Segments and chunks reach 64 KB or so; longer inputs only slow each run down.
constexpr size_t MaxInput = 256 * 1024;
const QByteArray Caption("fuzz caption");

class MemoryFile {
public:
    MemoryFile() : fd(memfd_create("fuzz", MFD_CLOEXEC)) {}
    ~MemoryFile() { ::close(fd); }
    QString path() const { return QStringLiteral("/proc/self/fd/%1").arg(fd); }
    QByteArray read() const
    {
        QFile file(path());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    int fd;
};

QList<QByteArray> notOwnedJpegParts(const QByteArray &file)
{
    const JpegLayout layout = JpegSegments(file);
    QList<QByteArray> parts;
    for (const JpegSegment &segment : layout.segments) {
        const QByteArray bytes = file.mid(segment.start, segment.end - segment.start);
        const QByteArray body = bytes.mid(4);
        // The Extended XMP is ours too: set again where the line's properties live there, and
        // dropped (with a note) when it cannot be read.
        if ((segment.marker == 0xE1 && body.startsWith(QByteArray("http://ns.adobe.com/xap/1.0/\0", 29)))
            || (segment.marker == 0xE1 && body.startsWith(QByteArray("http://ns.adobe.com/xmp/extension/\0", 35)))
            || (segment.marker == 0xED && body.startsWith(QByteArray("Photoshop 3.0\0", 14))))
            continue;
        // Pointers in EXIF and MPF segments are set again when what they point at moved.
        const bool pointers = body.startsWith(QByteArray("Exif\0\0", 6)) || body.startsWith(QByteArray("MPF\0", 4));
        parts.append(pointers ? QByteArray::number(bytes.size()) : bytes);
    }
    return parts;
}

QList<QByteArray> notOwnedPngChunks(const QByteArray &file)
{
    QList<QByteArray> parts;
    for (const PngChunk &chunk : PngChunks(file).chunks) {
        const QByteArray bytes = file.mid(chunk.start, chunk.end - chunk.start);
        const QByteArray data = bytes.mid(8);
        const bool text = chunk.type == "tEXt" || chunk.type == "zTXt" || chunk.type == "iTXt";
        if (text && (data.startsWith(QByteArray("XML:com.adobe.xmp\0", 18)) || data.startsWith("Raw profile type iptc")
                     || data.startsWith("Raw profile type 8bim") || data.startsWith("Raw profile type xmp")))
            continue;
        parts.append(bytes);
    }
    return parts;
}

QList<QByteArray> notOwnedWebpChunks(const QByteArray &file)
{
    QList<QByteArray> parts;
    for (const WebpChunk &chunk : WebpChunks(file).chunks) {
        if (chunk.type != "XMP " && chunk.type != "VP8X")
            parts.append(file.mid(chunk.start, chunk.end - chunk.start));
    }
    return parts;
}

QList<QByteArray> notOwnedGifBlocks(const QByteArray &file)
{
    const GifLayout layout = GifBlocks(file);
    QList<QByteArray> parts{file.mid(6, layout.header - 6)};
    for (const GifBlock &block : layout.blocks) {
        if (!IsGifXmp(file, block))
            parts.append(file.mid(block.start, block.end - block.start));
    }
    const qsizetype end = layout.blocks.isEmpty() ? layout.header : layout.blocks.back().end;
    parts.append(file.mid(end));
    return parts;
}

QList<QByteArray> notOwnedPsdParts(const QByteArray &file)
{
    const PsdLayout layout = PsdSections(file);
    QList<QByteArray> parts{file.left(layout.resources), file.mid(layout.resourcesEnd)};
    const QByteArray block = file.mid(layout.resources + 4, layout.resourcesEnd - layout.resources - 4);
    for (const PhotoshopResource &resource : ParsePhotoshopResources(block)) {
        if (resource.id != IptcResourceId && resource.id != IptcDigestId && resource.id != XmpResourceId)
            parts.append(block.mid(resource.start, resource.end - resource.start));
    }
    return parts;
}

QByteArray captionOf(const FoundMetadata &found)
{
    return found.iimCopies.isEmpty() ? QByteArray() : IimText(ParseIim(found.iimCopies.front()), 120).toUtf8();
}

// Formats of XMP alone, which refuse a packet they cannot read: the caption in the packet readers take.
void requireXmpCaption(const FoundMetadata &found)
{
    Require(!found.xmpPackets.isEmpty() && found.xmpPackets.front().contains(Caption), "the copy does not read back with the new caption");
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *input, size_t size)
{
    if (size > MaxInput)
        return -1;
    const QByteArray original(reinterpret_cast<const char *>(input), qsizetype(size));
    const ImageFormat format = FormatOf(original.first(std::min<qsizetype>(original.size(), FormatHeadBytes)), {});
#if defined(FUZZ_JPEG)
    if (format != ImageFormat::Jpeg)
        return -1;
#elif defined(FUZZ_PNG)
    if (format != ImageFormat::Png)
        return -1;
#elif defined(FUZZ_WEBP)
    if (format != ImageFormat::WebP)
        return -1;
#elif defined(FUZZ_PSD)
    if (format != ImageFormat::Psd)
        return -1;
#elif defined(FUZZ_GIF)
    if (format != ImageFormat::Gif)
        return -1;
#else
    if (format != ImageFormat::Tiff && format != ImageFormat::BigTiff)
        return -1;
#endif
    MemoryFile in;
    MemoryFile out;
    Require(::write(in.fd, original.constData(), size_t(original.size())) == qsizetype(size), "the input is held");
    SourceImage source;
    Require(!source.open(in.path()), "the input opens");
    static XmpMemory memory;
    const TagEdit edit{{{1, QString::fromLatin1(Caption)}, {5, QStringLiteral("a;b")}, {8, QStringLiteral("Zürich")},
                        {7, QStringLiteral("20240131")}},
                       true};
    const LineOutcome outcome = WriteTagsOnly(source, edit, memory, out.fd);
    if (!outcome.written())
        return 0;
    const QByteArray written = out.read();

    switch (format) {
    case ImageFormat::Jpeg: {
        Require(notOwnedJpegParts(written) == notOwnedJpegParts(original), "a JPEG segment we do not own changed");
        const JpegLayout before = JpegSegments(original);
        const JpegLayout after = JpegSegments(written);
        Require(after.scan >= 0 || before.noImage(), "the copy has no image data");
        Require(after.whole, "the copy's segments cannot be followed");
        // The image data up to their end marker; a FotoStation trailer after it holds IPTC of ours.
        const qsizetype end = original.indexOf("\xFF\xD9", before.scan);
        const QByteArray data = original.mid(before.scan, std::min<qsizetype>(4096, end < 0 ? original.size() : end + 2 - before.scan));
        Require(before.noImage() || written.indexOf(data, after.scan) == after.scan, "the image data moved or changed");
        Require(captionOf(ReadJpegMetadata(written)) == Caption, "the copy does not read back with the new caption");
        break;
    }
    case ImageFormat::Png:
        Require(notOwnedPngChunks(written) == notOwnedPngChunks(original), "a PNG chunk we do not own changed");
        Require(written.mid(written.lastIndexOf("IEND") + 8) == original.mid(original.lastIndexOf("IEND") + 8),
                "what follows IEND changed");
        Require(PngChunks(written).whole, "the copy's chunks do not run to IEND");
        Require(captionOf(ReadPngMetadata(written)) == Caption, "the copy does not read back with the new caption");
        break;
    case ImageFormat::WebP: {
        Require(notOwnedWebpChunks(written) == notOwnedWebpChunks(original), "a WebP chunk we do not own changed");
        const WebpLayout before = WebpChunks(original);
        const WebpLayout after = WebpChunks(written);
        Require(after.damage.isEmpty() && !after.chunks.isEmpty() && after.chunks.front().type == "VP8X",
                "the copy's chunks do not run whole from a VP8X chunk");
        Require(written.mid(after.riffEnd) == original.mid(before.riffEnd), "what follows the RIFF changed");
        if (before.chunks.front().type == "VP8X") {
            QByteArray extended = original.mid(before.chunks.front().start, before.chunks.front().end - before.chunks.front().start);
            extended[8] = char(extended[8] | 0x04);
            Require(written.mid(12, extended.size()) == extended, "the VP8X chunk changed more than its XMP flag");
        }
        requireXmpCaption(ReadWebpMetadata(written));
        break;
    }
    case ImageFormat::Psd:
        Require(notOwnedPsdParts(written) == notOwnedPsdParts(original), "a PSD section or resource we do not own changed");
        Require(PsdSections(written).damage.isEmpty(), "the copy's resources cannot be read whole");
        Require(captionOf(ReadPsdMetadata(written)) == Caption, "the copy does not read back with the new caption");
        break;
    case ImageFormat::Gif:
        Require(notOwnedGifBlocks(written) == notOwnedGifBlocks(original), "a GIF block we do not own changed");
        Require(GifBlocks(written).damage.isEmpty(), "the copy's blocks do not run whole");
        requireXmpCaption(ReadGifMetadata(written));
        break;
    default: {
        const qsizetype pointer = TiffStructure(original).firstPointerAt();
        const qsizetype after = pointer + TiffStructure(original).offsetSize();
        Require(written.left(pointer) == original.left(pointer)
                    && written.mid(after, original.size() - after) == original.mid(after),
                "a byte of the TIFF other than the first directory's pointer changed");
        Require(TiffStructure(written).directories().size() == TiffStructure(original).directories().size(),
                "the copy has another number of pages");
        Require(captionOf(ReadTiffMetadata(written)) == Caption, "the copy does not read back with the new caption");
    }
    }
    return 0;
}
