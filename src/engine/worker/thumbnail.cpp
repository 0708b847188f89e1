#include "engine/worker/thumbnail.h"

#include "engine/container/sourceimage.h"
#include "engine/platform/exiv2compat.h"
#include "engine/platform/freeimagelayer.h"
#include "engine/run/workerprotocol.h"

#include <algorithm>

namespace {
// The EXIF thumbnail as the file holds it; empty when it has none or its metadata cannot be read.
QByteArray embedded(QByteArrayView file)
{
    try {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2ImagePtr image = Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte *>(file.data()), Exiv2Size(file.size()));
        if (!image.get())
            return {};
        image->readMetadata();
        const Exiv2::ExifThumbC thumb(image->exifData());
        const Exiv2::DataBuf bytes = thumb.copy();
#if EXIV2_TEST_VERSION(0, 28, 0)
        return QByteArray(reinterpret_cast<const char *>(bytes.c_data()), qsizetype(bytes.size()));
#else
        return QByteArray(reinterpret_cast<const char *>(bytes.pData_), qsizetype(bytes.size_));
#endif
    } catch (...) {
        return {};
    }
}
} // namespace

QByteArray Thumbnail(const SourceImage &source, int maxMegapixels)
{
    const QByteArray inside = embedded(source.bytes());
    if (!inside.isEmpty() && inside.size() <= MaxThumbnailBytes) {
        // Made again where it can be, so that the window decodes only bytes of ours.
        const QByteArray made = SmallImage(inside, ThumbnailSide);
        if (ReencodingAvailable())
            return made.size() <= MaxThumbnailBytes ? made : QByteArray();
        return inside.startsWith("\xFF\xD8") ? inside : QByteArray();
    }
    // Only an image whose size its headers tell, and within the limit: a library left to
    // decode whatever a file declares could end the worker, and the check would then say
    // of the line what the run would not.
    const QList<PageSize> pages = source.pages();
    const bool small = std::all_of(pages.begin(), pages.end(),
                                   [&](const PageSize &page) { return page.pixels() <= qint64(maxMegapixels) * 1000000; });
    if ((pages.isEmpty() && source.format() != ImageFormat::CameraRaw) || !small)
        return {};
    const QByteArray made = SmallImage(source.bytes(), ThumbnailSide);
    return made.size() <= MaxThumbnailBytes ? made : QByteArray();
}
