#include "engine/tagsonly.h"

#include "engine/iimblock.h"
#include "engine/jpegcontainer.h"
#include "engine/outputbytes.h"
#include "engine/pngcontainer.h"
#include "engine/reencode.h"
#include "engine/sourceimage.h"
#include "engine/tiffcontainer.h"

namespace {
// Why a format is copied without tags; empty for the formats written here.
QString untaggedBecause(ImageFormat format)
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
    if (const QString why = untaggedBecause(source.format()); !why.isEmpty())
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

QList<Note> ForeseenNotes(const SourceImage &source, const TagEdit &edit, bool reencode, int maxMegapixels)
{
    QList<Note> notes;
    if (reencode && ReencodingCovers(source.format())) {
        if (Note refusal = ReencodeRefusal(source, maxMegapixels))
            return {refusal};
    }
    if (const QString why = untaggedBecause(source.format()); !why.isEmpty())
        return {{NoteCode::WrittenWithoutTags, {why}}};
    if (const QString damage = SourceDamage(source); !damage.isEmpty())
        notes.append({NoteCode::SourceDamaged, {damage}});
    const QByteArrayView file = source.bytes();
    const FoundMetadata found = source.format() == ImageFormat::Jpeg ? ReadJpegMetadata(file)
        : source.format() == ImageFormat::Png                         ? ReadPngMetadata(file)
                                                                       : ReadTiffMetadata(file);
    if (edit.values.isEmpty())
        return notes;
    return notes + EditIim(found.iimCopies, edit).notes;
}
