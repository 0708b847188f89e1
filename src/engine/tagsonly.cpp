#include "engine/tagsonly.h"

#include "engine/jpegcontainer.h"
#include "engine/outputbytes.h"
#include "engine/pngcontainer.h"
#include "engine/sourceimage.h"
#include "engine/tiffcontainer.h"

QString UntaggedBecause(ImageFormat format)
{
    switch (format) {
    case ImageFormat::Jpeg:
    case ImageFormat::Png:
    case ImageFormat::Tiff:
    case ImageFormat::BigTiff:
        return {};
    case ImageFormat::OtherImage:
        return QStringLiteral("this type of image carries no IPTC or XMP that Brindleway writes");
    case ImageFormat::Unknown:
        return QStringLiteral("the type of the file is not known");
    default:
        return QStringLiteral("%1 is not written yet").arg(FormatName(format));
    }
}

namespace {
LineOutcome copyUnchanged(const SourceImage &source, int out, QList<Note> notes)
{
    OutputBytes copy;
    copy.copy(0, source.size());
    if (Note failed = copy.write(source, out))
        return LineOutcome::failed(failed);
    return LineOutcome::saved(notes);
}
} // namespace

LineOutcome WriteTagsOnly(const SourceImage &source, const TagEdit &edit, int out, XmpMemory &memory)
{
    if (const QString why = UntaggedBecause(source.format()); !why.isEmpty())
        return copyUnchanged(source, out, {{NoteCode::WrittenWithoutTags, {why}}});
    if (edit.values.isEmpty())
        return copyUnchanged(source, out, {});
    switch (source.format()) {
    case ImageFormat::Jpeg:
        return WriteTaggedJpeg(source, edit, memory, out);
    case ImageFormat::Png:
        return WriteTaggedPng(source, edit, memory, out);
    default:
        return WriteTaggedTiff(source, edit, memory, out);
    }
}

QString SourceDamage(const SourceImage &source)
{
    const QByteArrayView file = source.bytes();
    switch (source.format()) {
    case ImageFormat::Jpeg:
        return JpegDamage(file, JpegSegments(file));
    case ImageFormat::Png:
        return PngDamage(PngChunks(file));
    case ImageFormat::Tiff:
    case ImageFormat::BigTiff:
        return TiffDamage(file);
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
    default:
        return {};
    }
}
