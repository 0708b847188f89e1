// Whatever a JPEG, PNG or TIFF holds, its tagged copy keeps every byte the
// writer does not own, in order, and reads back with the new caption. Built
// once per container (FUZZ_JPEG, FUZZ_PNG, FUZZ_TIFF), each target takes
// only inputs of its own format.
#include "engine/iimblock.h"
#include "engine/jpegcontainer.h"
#include "engine/pngcontainer.h"
#include "engine/sourceimage.h"
#include "engine/tagsonly.h"
#include "engine/tiffcontainer.h"
#include "engine/tiffstructure.h"
#include "engine/xmppacket.h"
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
        if ((segment.marker == 0xE1 && body.startsWith(QByteArray("http://ns.adobe.com/xap/1.0/\0", 29)))
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

QByteArray captionOf(const FoundMetadata &found)
{
    return found.iimCopies.isEmpty() ? QByteArray() : IimText(ParseIim(found.iimCopies.front()), 120).toUtf8();
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
    const LineOutcome outcome = WriteTagsOnly(source, edit, out.fd, memory);
    if (!outcome.written())
        return 0;
    const QByteArray written = out.read();

    switch (format) {
    case ImageFormat::Jpeg: {
        Require(notOwnedJpegParts(written) == notOwnedJpegParts(original), "a JPEG segment we do not own changed");
        const JpegLayout before = JpegSegments(original);
        const JpegLayout after = JpegSegments(written);
        Require(after.scan >= 0, "the copy has no image data");
        // The image data up to their end marker; a FotoStation trailer after it holds IPTC of ours.
        const qsizetype end = original.indexOf("\xFF\xD9", before.scan);
        const QByteArray data = original.mid(before.scan, std::min<qsizetype>(4096, end < 0 ? original.size() : end + 2 - before.scan));
        Require(written.indexOf(data, after.scan) == after.scan, "the image data moved or changed");
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
