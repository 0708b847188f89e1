#include "engine/container/tagsonly.h"

#include "engine/container/gifcontainer.h"
#include "engine/container/jpegcontainer.h"
#include "engine/container/outputbytes.h"
#include "engine/container/pngcontainer.h"
#include "engine/container/psdcontainer.h"
#include "engine/container/sourceimage.h"
#include "engine/container/tiffcontainer.h"
#include "engine/container/webpcontainer.h"

TagPlace TagPlaceOf(ImageFormat format)
{
    switch (format) {
    case ImageFormat::Jpeg:
    case ImageFormat::Png:
    case ImageFormat::Tiff:
    case ImageFormat::BigTiff:
    case ImageFormat::Psd:
        return TagPlace::IptcAndXmp;
    case ImageFormat::WebP:
    case ImageFormat::Gif:
        return TagPlace::XmpOnly;
    case ImageFormat::Heif:
    case ImageFormat::CameraRaw:
        return TagPlace::Sidecar;
    case ImageFormat::OtherImage:
    case ImageFormat::Unknown:
        return TagPlace::Nowhere;
    }
    return TagPlace::Nowhere;
}

QString UntaggedBecause(ImageFormat format)
{
    switch (TagPlaceOf(format)) {
    case TagPlace::IptcAndXmp:
    case TagPlace::XmpOnly:
    case TagPlace::Sidecar:
        return {};
    case TagPlace::Nowhere:
        break;
    }
    if (format == ImageFormat::OtherImage)
        return QStringLiteral("this type of image carries no IPTC or XMP that Brindleway writes");
    return QStringLiteral("the type of the file is not known");
}

LineOutcome WriteTagsOnly(const SourceImage &source, const TagEdit &edit, int out, XmpMemory &memory)
{
    if (const QString why = UntaggedBecause(source.format()); !why.isEmpty())
        return WriteUnchanged(source, out, {{NoteCode::WrittenWithoutTags, {why}}});
    if (edit.values.isEmpty()) {
        QList<Note> notes;
        if (HoldsNoImage(source))
            notes.append({NoteCode::NoImage, {}});
        if (const QString damage = SourceDamage(source); !damage.isEmpty())
            notes.append({NoteCode::SourceDamaged, {damage}});
        return WriteUnchanged(source, out, notes);
    }
    switch (source.format()) {
    case ImageFormat::Jpeg:
        return WriteTaggedJpeg(source, edit, memory, out);
    case ImageFormat::Png:
        return WriteTaggedPng(source, edit, memory, out);
    case ImageFormat::WebP:
        return WriteTaggedWebp(source, edit, memory, out);
    case ImageFormat::Psd:
        return WriteTaggedPsd(source, edit, memory, out);
    case ImageFormat::Gif:
        return WriteTaggedGif(source, edit, memory, out);
    case ImageFormat::Tiff:
    case ImageFormat::BigTiff:
        return WriteTaggedTiff(source, edit, memory, out);
    default:
        // A photo whose tags go beside it is copied as it is; the line writer makes its sidecar.
        return WriteUnchanged(source, out, {});
    }
}

QString SourceDamage(const SourceImage &source)
{
    const QByteArrayView file = source.bytes();
    switch (source.format()) {
    case ImageFormat::Jpeg:
        return JpegDamage(file, JpegSegments(file));
    case ImageFormat::Png: {
        const PngLayout layout = PngChunks(file);
        // As the writer refuses it when the line has values.
        return layout.whole ? PngDamage(layout) : QStringLiteral("its chunks do not run whole to its end");
    }
    case ImageFormat::Tiff:
    case ImageFormat::BigTiff:
        return TiffDamage(file);
    case ImageFormat::WebP:
        return WebpChunks(file).damage;
    case ImageFormat::Psd: {
        const PsdLayout layout = PsdSections(file);
        return layout.damage.isEmpty() ? layout.laterDamage : layout.damage;
    }
    case ImageFormat::Gif:
        return GifBlocks(file).damage;
    default:
        return {};
    }
}

bool HoldsNoImage(const SourceImage &source)
{
    switch (source.format()) {
    case ImageFormat::Jpeg:
        return JpegSegments(source.bytes()).noImage();
    case ImageFormat::Tiff:
    case ImageFormat::BigTiff:
        return TiffHoldsNoImage(source.bytes());
    default:
        return false;
    }
}

Note TagsRefusal(const SourceImage &source)
{
    switch (source.format()) {
    case ImageFormat::Jpeg:
        return JpegTagsRefusal(JpegSegments(source.bytes()));
    case ImageFormat::Tiff:
    case ImageFormat::BigTiff:
        return TiffTagsRefusal(source.bytes());
    default:
        return {};
    }
}

FoundMetadata ReadTagBlocks(const SourceImage &source)
{
    const QByteArrayView file = source.bytes();
    switch (source.format()) {
    case ImageFormat::Jpeg:
        return ReadJpegMetadata(file);
    case ImageFormat::Png:
        return ReadPngMetadata(file);
    case ImageFormat::Tiff:
    case ImageFormat::BigTiff:
        return ReadTiffMetadata(file);
    case ImageFormat::WebP:
        return ReadWebpMetadata(file);
    case ImageFormat::Psd:
        return ReadPsdMetadata(file);
    case ImageFormat::Gif:
        return ReadGifMetadata(file);
    default:
        return {};
    }
}
