#include "engine/imageheader.h"

#include <QFile>

#include <FreeImage.h>

#include <memory>

namespace {
struct Unloader {
    void operator()(FIBITMAP *bitmap) const { FreeImage_Unload(bitmap); }
};
} // namespace

std::optional<qint64> DeclaredPixels(ImageType type, const QString &path)
{
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
