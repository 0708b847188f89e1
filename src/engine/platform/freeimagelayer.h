#pragma once

#include <QByteArray>
#include <QByteArrayView>
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

// Whether re-encoding can run here: the image library was built in and its
// shared library opens. The window and the command line ask before offering
// it, and say ReencodingUnavailableMessage when it cannot.
bool ReencodingAvailable();
inline const QString ReencodingUnavailableMessage =
    QStringLiteral("re-encoding needs the FreeImage library, which is not installed");

struct FreeImageBitmapDeleter {
    void operator()(void *bitmap) const;
};

struct Encoded {
    QByteArray bytes;     // the encoded file; empty when something failed
    bool decoded = false; // false: the source could not be decoded
};

// Decodes every page of `source` (a file's bytes) and encodes them again in
// `type` with `saveFlags`, all in memory: CMYK stays CMYK, and PNG samples
// are taken as stored, whatever gamma the file declares. The library's
// own metadata (EXIF, IPTC, XMP, ICC profile, comments) are left out where
// it lets them be (not in TIFF pages): the caller carries the source's over,
// which the library would not in full.
Encoded EncodeAgain(ImageType type, const QByteArray &source, int saveFlags);

// The image of `file` (any type the library reads; a camera raw file's
// embedded preview) made at most `side` pixels on its longer side, as JPEG
// bytes; empty without the library or when it cannot be read.
QByteArray SmallImage(QByteArrayView file, int side);

// The save flag for JPEG chroma sampled `horizontal` by `vertical` times
// coarser than luma, or the nearest finer form the library writes.
int JpegSubsamplingFlag(int horizontal, int vertical);

// The save flags for an output path and the type its image is written in:
// chosen from the path's last four characters, unless the ending names
// another type than the content's, whose writer would read the number
// differently; then the content type's own row.
int SaveFlagsFor(const QString &saveFile, ImageType contentType);

// Whether the image library tells the file at `path` for an image of a type
// it reads; without the library, whether it is a BMP.
bool ImageLibraryKnows(const QString &path);
