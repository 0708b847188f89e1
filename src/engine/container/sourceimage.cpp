#include "engine/container/sourceimage.h"

#include "engine/container/jpegsegments.h"
#include "engine/container/tiffstructure.h"
#include "engine/platform/bytereader.h"
#include "engine/platform/freeimagelayer.h"
#include "engine/platform/outputfile.h"
#include "engine/platform/sourcefile.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <cerrno>
#include <cstring>


namespace {

// Camera raw files that are TIFF inside: only their name tells them from a TIFF.
const QSet<QString> TiffRawEndings{"cr2", "nef", "nrw", "arw", "sr2", "srf", "pef", "3fr", "srw", "erf",
                                   "mef", "mos", "dcr", "kdc", "rwl", "iiq", "mrw", "raw"};

// An ISO media file whose major brand, or a compatible brand within the
// head, is one of `brands`: phones write HEIF with a major brand of their own.
bool isBmffBrand(QByteArrayView head, std::initializer_list<const char *> brands)
{
    if (head.size() < 12 || head.sliced(4, 4) != "ftyp")
        return false;
    const qsizetype boxEnd = std::min<qsizetype>(head.size(), ByteReader(head).u32());
    for (qsizetype at = 8; at + 4 <= boxEnd; at += at == 8 ? 8 : 4) { // past the minor version
        for (const char *brand : brands) {
            if (head.sliced(at, 4) == brand)
                return true;
        }
    }
    return false;
}
} // namespace

QString FormatName(ImageFormat format)
{
    switch (format) {
    case ImageFormat::Unknown:
        return QStringLiteral("unknown");
    case ImageFormat::Jpeg:
        return QStringLiteral("JPEG");
    case ImageFormat::Png:
        return QStringLiteral("PNG");
    case ImageFormat::Tiff:
        return QStringLiteral("TIFF");
    case ImageFormat::BigTiff:
        return QStringLiteral("BigTIFF");
    case ImageFormat::WebP:
        return QStringLiteral("WebP");
    case ImageFormat::Psd:
        return QStringLiteral("PSD");
    case ImageFormat::Gif:
        return QStringLiteral("GIF");
    case ImageFormat::Heif:
        return QStringLiteral("HEIF");
    case ImageFormat::CameraRaw:
        return QStringLiteral("camera raw");
    case ImageFormat::OtherImage:
        return QStringLiteral("image");
    }
    return {};
}

ImageFormat FormatOf(QByteArrayView head, const QString &name)
{
    if (StartsWith(head, "\xFF\xD8\xFF"))
        return ImageFormat::Jpeg;
    if (StartsWith(head, QByteArrayView("\x89PNG\r\n\x1a\n", 8)))
        return ImageFormat::Png;
    if (StartsWith(head, QByteArrayView("II*\0", 4)) || StartsWith(head, QByteArrayView("MM\0*", 4))) {
        // Too short to be whole, but a TIFF still: its writer says what is wrong with it.
        if (head.size() < 8)
            return ImageFormat::Tiff;
        // Canon's CR2 says so at 8, Phase One's IIQ puts its own header there.
        if (StartsWith(head.sliced(8), "CR") || StartsWith(head.sliced(8), "IIII")
            || TiffRawEndings.contains(QFileInfo(name).suffix().toLower()))
            return ImageFormat::CameraRaw;
        return ImageFormat::Tiff;
    }
    if (StartsWith(head, QByteArrayView("II+\0", 4)) || StartsWith(head, QByteArrayView("MM\0+", 4)))
        return ImageFormat::BigTiff;
    if (head.size() >= 12 && StartsWith(head, "RIFF") && head.sliced(8, 4) == "WEBP")
        return ImageFormat::WebP;
    if (StartsWith(head, "8BPS"))
        return ImageFormat::Psd;
    if (StartsWith(head, "GIF87a") || StartsWith(head, "GIF89a"))
        return ImageFormat::Gif;
    if (isBmffBrand(head, {"heic", "heix", "hevc", "hevx", "heim", "heis", "hevm", "hevs", "mif1", "msf1", "avif", "avis"}))
        return ImageFormat::Heif;
    if (isBmffBrand(head, {"crx "}) || StartsWith(head, "FUJIFILMCCD-RAW") || StartsWith(head, "IIRO")
        || StartsWith(head, "IIRS") || StartsWith(head, "MMOR") || StartsWith(head, QByteArrayView("IIU\0", 4))
        || StartsWith(head, "FOVb") || StartsWith(head, QByteArrayView("\0MRM", 4))
        || (head.size() >= 14 && (StartsWith(head, "II") || StartsWith(head, "MM")) && head.sliced(6, 8) == "HEAPCCDR"))
        return ImageFormat::CameraRaw;
    return ImageFormat::Unknown;
}

Note DamagedFileRefusal(const QString &damage)
{
    return {NoteCode::MetadataUnwritable, {QStringLiteral("the file is damaged: %1").arg(damage)}};
}

FileHead FormatOfFileHead(const QString &path)
{
    FileHead found;
    const QByteArray head = ReadFileHead(path, FormatHeadBytes, &found.error);
    if (!head.isEmpty())
        found.format = FormatOf(head, path);
    return found;
}

Note SourceImage::open(const QString &path)
{
    filePath = path;
    if (Note why = file.open(path))
        return why;
    // A small file's copy holds still while the line parses it, but long
    // runs of the output still come from the file itself (in the kernel), so
    // a source rewritten during its line is no safer read than mapped.
    if (Note why = file.load(ReadWholeBytes))
        return why;
    kind = FormatOf(bytes().first(std::min(size(), FormatHeadBytes)), path);
    if (kind == ImageFormat::Unknown && ImageLibraryKnows(path))
        kind = ImageFormat::OtherImage;
    return {};
}

QList<PageSize> SourceImage::pages() const
{
    QList<PageSize> sizes;
    const QByteArrayView file = bytes();
    switch (kind) {
    case ImageFormat::Jpeg:
        // The first frame header, found by the walk that writing follows.
        for (const JpegSegment &segment : JpegSegments(file).segments) {
            if (!IsJpegFrameMarker(segment.marker))
                continue;
            // The precision, then the height and the width.
            ByteReader reader(file.sliced(segment.body, segment.end - segment.body), 1);
            const quint16 height = reader.u16();
            const quint16 width = reader.u16();
            if (reader.ok()) {
                sizes.append({width, height});
                break;
            }
        }
        break;
    case ImageFormat::Png: {
        ByteReader reader(file, 12);
        if (reader.bytesOf(4) != "IHDR")
            break;
        const quint32 width = reader.u32();
        const quint32 height = reader.u32();
        if (reader.ok())
            sizes.append({width, height});
        break;
    }
    case ImageFormat::Tiff:
    case ImageFormat::BigTiff: {
        const TiffStructure tiff(file);
        for (const qsizetype ifd : tiff.directories()) {
            const auto width = tiff.entry(ifd, TiffTag::ImageWidth);
            const auto height = tiff.entry(ifd, TiffTag::ImageLength);
            if (width && height)
                sizes.append({qint64(tiff.number(*width).value_or(0)), qint64(tiff.number(*height).value_or(0))});
        }
        break;
    }
    default:
        break;
    }
    return sizes;
}
