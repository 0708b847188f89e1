#include "engine/imageheader.h"

#include <QFile>

#include <FreeImage.h>
#include <tiffio.h>

#include <memory>

namespace {
struct Unloader {
    void operator()(FIBITMAP *bitmap) const { FreeImage_Unload(bitmap); }
};

struct TiffCloser {
    void operator()(TIFF *tiff) const { TIFFClose(tiff); }
};

// The image library's TIFF header load reads an ICC profile after freeing
// it; libtiff alone reads the first directory's size safely.
std::optional<qint64> tiffPixels(const QString &path)
{
    const std::unique_ptr<TIFF, TiffCloser> tiff(TIFFOpen(QFile::encodeName(path).constData(), "rm"));
    uint32_t width = 0;
    uint32_t height = 0;
    if (!tiff || TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &width) != 1
        || TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &height) != 1)
        return std::nullopt;
    return qint64(width) * qint64(height);
}
} // namespace

std::optional<qint64> DeclaredPixels(ImageType type, const QString &path)
{
    if (type == ImageType::Tiff)
        return tiffPixels(path);
    const auto format = FREE_IMAGE_FORMAT(type);
    // A type without a header-only load would decode everything here.
    if (type == ImageType::Unknown || !FreeImage_FIFSupportsNoPixels(format))
        return std::nullopt;
    const std::unique_ptr<FIBITMAP, Unloader> header(
        FreeImage_Load(format, QFile::encodeName(path).constData(), FIF_LOAD_NOPIXELS));
    if (!header)
        return std::nullopt;
    return qint64(FreeImage_GetWidth(header.get())) * qint64(FreeImage_GetHeight(header.get()));
}
