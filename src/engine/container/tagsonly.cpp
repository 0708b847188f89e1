#include "engine/container/tagsonly.h"

#include "engine/container/gifcontainer.h"
#include "engine/container/jpegcontainer.h"
#include "engine/container/outputbytes.h"
#include "engine/container/pngcontainer.h"
#include "engine/container/psdcontainer.h"
#include "engine/container/sourceimage.h"
#include "engine/container/tiffcontainer.h"
#include "engine/container/webpcontainer.h"

namespace {

using Bytes = QByteArrayView;

// One row per container this program writes: where a line's tags go in it,
// its writer, and the readers the run and the export ask of it. A reader
// left out means the container never answers yes to it.
struct Container {
    ImageFormat format;
    TagPlace place;
    LineOutcome (*write)(const SourceImage &, const TagEdit &, XmpMemory &, int out);
    FoundMetadata (*read)(Bytes);
    QString (*damage)(Bytes);
    bool (*holdsNoImage)(Bytes);
    Note (*refusal)(Bytes);
};

LineOutcome writeTiff(const SourceImage &source, const TagEdit &edit, XmpMemory &memory, int out)
{
    return WriteTaggedTiff(source, edit, memory, out);
}

const Container Containers[] = {
    {ImageFormat::Jpeg, TagPlace::IptcAndXmp, WriteTaggedJpeg, ReadJpegMetadata,
     [](Bytes file) { return JpegDamage(file, JpegSegments(file)); },
     [](Bytes file) { return JpegSegments(file).noImage(); },
     [](Bytes file) { return JpegTagsRefusal(JpegSegments(file)); }},
    {ImageFormat::Png, TagPlace::IptcAndXmp, WriteTaggedPng, ReadPngMetadata,
     [](Bytes file) {
         const PngLayout layout = PngChunks(file);
         // As the writer refuses it when the line has values.
         return layout.whole ? PngDamage(layout) : QStringLiteral("its chunks do not run whole to its end");
     },
     nullptr, nullptr},
    {ImageFormat::Tiff, TagPlace::IptcAndXmp, writeTiff, ReadTiffMetadata, TiffDamage, TiffHoldsNoImage, TiffTagsRefusal},
    {ImageFormat::BigTiff, TagPlace::IptcAndXmp, writeTiff, ReadTiffMetadata, TiffDamage, TiffHoldsNoImage, TiffTagsRefusal},
    {ImageFormat::Psd, TagPlace::IptcAndXmp, WriteTaggedPsd, ReadPsdMetadata,
     [](Bytes file) {
         const PsdLayout layout = PsdSections(file);
         return layout.damage.isEmpty() ? layout.laterDamage : layout.damage;
     },
     nullptr, nullptr},
    {ImageFormat::WebP, TagPlace::XmpOnly, WriteTaggedWebp, ReadWebpMetadata, [](Bytes file) { return WebpChunks(file).damage; },
     nullptr, nullptr},
    {ImageFormat::Gif, TagPlace::XmpOnly, WriteTaggedGif, ReadGifMetadata, [](Bytes file) { return GifBlocks(file).damage; },
     nullptr, nullptr},
    // Their tags go into a sidecar: the photo itself is copied as it is.
    {ImageFormat::Heif, TagPlace::Sidecar, nullptr, nullptr, nullptr, nullptr, nullptr},
    {ImageFormat::CameraRaw, TagPlace::Sidecar, nullptr, nullptr, nullptr, nullptr, nullptr},
};

const Container *containerOf(ImageFormat format)
{
    for (const Container &container : Containers) {
        if (container.format == format)
            return &container;
    }
    return nullptr;
}

} // namespace

TagPlace TagPlaceOf(ImageFormat format)
{
    const Container *container = containerOf(format);
    return container ? container->place : TagPlace::Nowhere;
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

LineOutcome WriteTagsOnly(const SourceImage &source, const TagEdit &edit, XmpMemory &memory, int out)
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
    const Container *container = containerOf(source.format());
    if (!container || !container->write)
        return WriteUnchanged(source, out, {}); // the line writer makes the sidecar
    return container->write(source, edit, memory, out);
}

QString SourceDamage(const SourceImage &source)
{
    const Container *container = containerOf(source.format());
    return container && container->damage ? container->damage(source.bytes()) : QString();
}

bool HoldsNoImage(const SourceImage &source)
{
    const Container *container = containerOf(source.format());
    return container && container->holdsNoImage && container->holdsNoImage(source.bytes());
}

Note TagsRefusal(const SourceImage &source)
{
    const Container *container = containerOf(source.format());
    return container && container->refusal ? container->refusal(source.bytes()) : Note{};
}

FoundMetadata ReadTagBlocks(const SourceImage &source)
{
    const Container *container = containerOf(source.format());
    return container && container->read ? container->read(source.bytes()) : FoundMetadata{};
}
