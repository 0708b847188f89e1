#pragma once

#include "engine/batchline.h"
#include "engine/platform/sourcefile.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

// The kinds of file the engine tells apart, from their first bytes (and,
// for camera raw files built on TIFF, their name).
enum class ImageFormat {
    Unknown,    // no image this program knows
    Jpeg,
    Png,
    Tiff,       // DNG included
    BigTiff,
    WebP,
    Psd,        // PSB included
    Gif,
    Heif,       // HEIC, HEIF and AVIF
    CameraRaw,  // CR2, CR3, NEF, ARW, RAF, ORF, RW2...
    OtherImage, // an image type the image library reads (BMP...), which carries no tags here
};

// "JPEG", "WebP"... for the user.
QString FormatName(ImageFormat format);

// The format of a file from its first bytes (FormatHeadBytes of them, or
// fewer when the file is shorter) and its name.
inline constexpr qsizetype FormatHeadBytes = 32;
ImageFormat FormatOf(QByteArrayView head, const QString &name);

// A writer's refusal of a file whose structure it cannot follow, and why.
Note DamagedFileRefusal(const QString &damage);

// The format the first bytes of the file at `path` show to this program's
// own reader (never the image library's, which may run its decoders: this
// is safe in the run's own process). Unknown for anything but a plain file,
// which is not read; `error` is the system's error number when the file
// cannot be opened or read.
struct FileHead {
    ImageFormat format = ImageFormat::Unknown;
    int error = 0;
};
FileHead FormatOfFileHead(const QString &path);

// A page's size as its header declares it.
struct PageSize {
    qint64 width = 0;
    qint64 height = 0;
    qint64 pixels() const { return width * height; }
};

// A line's source image, opened and read (or, when large, mapped read-only)
// once: every part of the line's writing reads these bytes.
class SourceImage {
public:
    SourceImage() = default;
    SourceImage(const SourceImage &) = delete;
    SourceImage &operator=(const SourceImage &) = delete;

    // Opens `path`; why it could not (SourceMissing, SourceNotAFile,
    // SourceUnreadable), none when it is open.
    Note open(const QString &path);

    const QString &path() const { return filePath; }
    QByteArrayView bytes() const { return file.bytes(); }
    const unsigned char *data() const { return reinterpret_cast<const unsigned char *>(file.bytes().data()); }
    qsizetype size() const { return file.bytes().size(); }
    int handle() const { return file.handle(); }
    ImageFormat format() const { return kind; }

    // The declared size of every page of a JPEG, PNG or classic TIFF, read
    // from its headers without decoding; empty for other formats.
    QList<PageSize> pages() const;

private:
    QString filePath;
    SourceFile file;
    // Files up to this size are read; larger ones are mapped.
    static constexpr qsizetype ReadWholeBytes = 1 << 20;
    ImageFormat kind = ImageFormat::Unknown;
};
