#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

// The image library behind a few owning handles. This layer is the only code
// that sees the library's own header; the engine speaks its terms.

// The library's format numbers for the types the engine treats specially.
enum class ImageType : int {
    Unknown = -1,
    Bmp = 0,
    Jpeg = 2,
    Png = 13,
    Tiff = 18,
    Gif = 25,
};

struct FreeImageBitmapDeleter {
    void operator()(void *bitmap) const;
};

// One decoded image with its metadata; unloads itself.
class Bitmap {
public:
    Bitmap() = default;
    explicit operator bool() const { return bool(handle); }

    // The library's type for the file's content; Unknown when it cannot tell.
    static ImageType DetectType(const QString &path);
    // Loads with the given type and flags; an empty Bitmap when that fails.
    static Bitmap Load(ImageType type, const QString &path, int flags);

    // Makes `value` the image's IPTC entry for `key` (a key as the tag slots
    // spell it), replacing an entry of the same dataset. False when the
    // library refused the tag.
    bool AttachIptcAscii(const QString &key, const QByteArray &value);
    // The image's XMP packet as loaded; empty when it has none.
    QByteArray XmpPacket() const;
    // Makes `packet` the XMP the image is saved with. False when refused.
    bool SetXmpPacket(const QByteArray &packet);
    // Writes the image to `path` in `type`. Corrects on the way what this
    // library gets wrong in the IPTC it writes, so the file carries the
    // in-memory entries in full and lists in their own order.
    bool Save(ImageType type, const QString &path, int flags);

private:
    std::unique_ptr<void, FreeImageBitmapDeleter> handle;
};

// Whether the library writes IPTC metadata into files of this type.
bool WritesIptc(ImageType type);
// Whether the library writes an XMP packet into files of this type.
bool WritesXmp(ImageType type);

// The library's key for an IIM record-2 dataset; empty for one it lacks.
QByteArray LibraryIptcKey(int dataset);
