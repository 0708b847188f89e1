#include "engine/reencode.h"

#include "engine/exiv2writer.h"
#include "engine/freeimagelayer.h"
#include "engine/metadatabytes.h"
#include "engine/outputfile.h"
#include "engine/sourceimage.h"
#include "engine/tagsonly.h"

#include <QFile>

#include <exiv2/exiv2.hpp>
#include <tiffio.h>

#include <sys/mman.h>
#include <unistd.h>

#include <set>

namespace {
// An anonymous file in memory that a path reaches, so that the tags-only
// writer can read the composed image as it reads any source.
class MemoryFile {
public:
    MemoryFile() : fd(memfd_create("brindleway-reencoded", MFD_CLOEXEC)) {}
    ~MemoryFile()
    {
        if (fd >= 0)
            ::close(fd);
    }
    MemoryFile(const MemoryFile &) = delete;
    MemoryFile &operator=(const MemoryFile &) = delete;

    bool write(const QByteArray &bytes) { return fd >= 0 && WriteAt(fd, bytes, 0).isEmpty(); }
    QString path() const { return QStringLiteral("/proc/self/fd/%1").arg(fd); }
    QByteArray readAll() const
    {
        QFile file(path());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    int fd;
};

// IFD0 tags that describe how the encoded image is stored: the encoder's
// stay, the source's would misdescribe it.
const std::set<uint16_t> StructureTags{
    254, 255, 256, 257, 258, 259, 262, 263, 266, 273, 277, 278, 279, 280, 281, 284, 292, 293, 297,
    317, 320, 322, 323, 324, 325, 330, 332, 338, 339, 340, 341, 347, 512, 513, 514, 515, 517, 518,
    519, 520, 521, 529, 530, 531, 532,
    33723, // IPTC-NAA: written from the IPTC data
};

// Exiv2 takes these colour and resolution tags of a TIFF's first page from
// the file it rewrites, whatever its own data say, so they go across through
// libtiff beforehand.
QByteArray withSourceColorimetry(const QString &sourcePath, const QByteArray &encoded)
{
    MemoryFile staged;
    if (!staged.write(encoded))
        return {};
    TIFF *from = TIFFOpen(QFile::encodeName(sourcePath).constData(), "r");
    TIFF *into = TIFFOpen(QFile::encodeName(staged.path()).constData(), "r+");
    bool changed = false;
    if (from && into) {
        for (const ttag_t tag : {TIFFTAG_XRESOLUTION, TIFFTAG_YRESOLUTION}) {
            float value = 0;
            if (TIFFGetField(from, tag, &value) == 1)
                changed = TIFFSetField(into, tag, value) == 1 || changed;
        }
        uint16_t unit = 0;
        if (TIFFGetField(from, TIFFTAG_RESOLUTIONUNIT, &unit) == 1)
            changed = TIFFSetField(into, TIFFTAG_RESOLUTIONUNIT, unit) == 1 || changed;
        for (const ttag_t tag : {TIFFTAG_WHITEPOINT, TIFFTAG_PRIMARYCHROMATICITIES}) {
            float *values = nullptr;
            if (TIFFGetField(from, tag, &values) == 1 && values)
                changed = TIFFSetField(into, tag, values) == 1 || changed;
        }
        changed = changed && TIFFRewriteDirectory(into) == 1;
    }
    if (from)
        TIFFClose(from);
    if (into)
        TIFFClose(into);
    return changed ? staged.readAll() : encoded;
}

bool carried(const Exiv2::Exifdatum &datum)
{
    const std::string group = datum.groupName();
    if (group == "Image")
        return !StructureTags.count(datum.tag());
    return group == "Photo" || group == "GPSInfo" || group == "Iop" || group == "MakerNote"
        || Exiv2::ExifTags::isMakerGroup(group);
}

QByteArray bytesOf(Exiv2::BasicIo &io)
{
    if (io.open() != 0)
        return {};
    QByteArray bytes(qsizetype(io.size()), Qt::Uninitialized);
    const long read = io.read(reinterpret_cast<Exiv2::byte *>(bytes.data()), long(bytes.size()));
    io.close();
    return read == long(bytes.size()) ? bytes : QByteArray();
}

// The encoded TIFF with the source's metadata of its first page; the
// encoder's structure tags stay.
QByteArray carryTiffMetadata(const QByteArray &source, const QByteArray &encoded)
{
    PrepareExiv2();
    Exiv2::Image::AutoPtr from = Exiv2::ImageFactory::open(
        reinterpret_cast<const Exiv2::byte *>(source.constData()), long(source.size()));
    Exiv2::Image::AutoPtr into = Exiv2::ImageFactory::open(
        reinterpret_cast<const Exiv2::byte *>(encoded.constData()), long(encoded.size()));
    if (!from.get() || !into.get())
        return {};
    from->readMetadata();
    into->readMetadata();
    // What the encoder wrote of its own (the library copies some of the
    // source's metadata, not all, and some wrongly) makes way for the source's.
    Exiv2::ExifData exif;
    for (const Exiv2::Exifdatum &datum : into->exifData()) {
        if (!carried(datum))
            exif.add(datum);
    }
    QByteArray packet;
    for (const Exiv2::Exifdatum &datum : from->exifData()) {
        if (datum.key() == "Exif.Image.XMLPacket" && datum.size() > 0) {
            packet.resize(qsizetype(datum.size()));
            datum.copy(reinterpret_cast<Exiv2::byte *>(packet.data()), Exiv2::invalidByteOrder);
        }
        if (carried(datum))
            exif.add(datum);
    }
    into->setExifData(exif);
    into->setIptcData(from->iptcData());
    // Exiv2 writes the profile it holds apart from the tags, or none.
    into->setIccProfile(*from->iccProfile(), false);
    // The packet goes across as stored, unparsed.
    into->xmpData().setPacket(packet.toStdString());
    into->writeXmpFromPacket(true);
    into->writeMetadata();
    return bytesOf(into->io());
}

QString sourceSpaceChange(const QList<TiffPageForm> &source, const QList<TiffPageForm> &encoded)
{
    if (encoded.size() != source.size())
        return QStringLiteral("re-encoding would keep %1 of this TIFF's %2 pages; use tags only")
            .arg(encoded.size())
            .arg(source.size());
    for (qsizetype i = 0; i < source.size(); ++i) {
        if (encoded[i] == source[i])
            continue;
        const QString page = source.size() > 1 ? QStringLiteral(" (page %1)").arg(i + 1) : QString();
        QString was = DescribeTiffForm(source[i]);
        QString now = DescribeTiffForm(encoded[i]);
        if (was == now) {
            was += QStringLiteral(" with %1 samples per pixel").arg(source[i].samples);
            now += QStringLiteral(" with %1").arg(encoded[i].samples);
        }
        return QStringLiteral("re-encoding would turn this %1 image%2 into %3; use tags only").arg(was, page, now);
    }
    return {};
}

QString compose(FileKind kind, const QString &sourcePath, const QByteArray &source, const QByteArray &encoded, QByteArray *composed)
{
    QString why;
    switch (kind) {
    case FileKind::Jpeg:
        *composed = ComposeJpeg(source, encoded, &why);
        return why;
    case FileKind::Png:
        *composed = ComposePng(source, encoded, &why);
        return why;
    case FileKind::Tiff: {
        const auto formsOf = [](const QByteArray &bytes) {
            return TiffPageForms(reinterpret_cast<const unsigned char *>(bytes.constData()), bytes.size());
        };
        const QList<TiffPageForm> sourceForms = formsOf(source);
        if (const QString change = sourceSpaceChange(sourceForms, formsOf(encoded)); !change.isEmpty())
            return change;
        *composed = carryTiffMetadata(source, withSourceColorimetry(sourcePath, encoded));
        if (composed->isEmpty())
            return QStringLiteral("the source's metadata cannot be carried into the re-encoded image");
        return sourceSpaceChange(sourceForms, formsOf(*composed));
    }
    default:
        *composed = encoded;
        return {};
    }
}
} // namespace

bool ReencodingCovers(ImageFormat format)
{
    return format == ImageFormat::Jpeg || format == ImageFormat::Png || format == ImageFormat::Tiff
        || format == ImageFormat::BigTiff;
}

namespace {
LineOutcome refused(const QString &why)
{
    return LineOutcome::failed({NoteCode::ReencodeRefused, {why}});
}

ImageType imageTypeOf(ImageFormat format)
{
    switch (format) {
    case ImageFormat::Jpeg:
        return ImageType::Jpeg;
    case ImageFormat::Png:
        return ImageType::Png;
    default:
        return ImageType::Tiff;
    }
}

// Decoding reserves memory for every pixel a page declares, whatever the file holds.
Note pixelRefusal(const SourceImage &source, int maxMegapixels)
{
    const QList<PageSize> pages = source.pages();
    for (qsizetype i = 0; i < pages.size(); ++i) {
        if (pages[i].pixels() <= qint64(maxMegapixels) * 1000000)
            continue;
        return {NoteCode::TooManyPixels, {QString::number(double(pages[i].pixels()) / 1e6, 'f', 1),
                                          QString::number(maxMegapixels),
                                          QString::number(pages.size() > 1 ? i + 1 : 0)}};
    }
    return {};
}
} // namespace

LineOutcome WriteReencoded(const SourceImage &source, const TagEdit &edit, const QString &outputName,
                           int maxMegapixels, int out)
{
    if (!ReencodingCovers(source.format()))
        return refused(QStringLiteral("re-encoding covers JPEG, TIFF and PNG only; use tags only"));
    if (Note refusal = pixelRefusal(source, maxMegapixels))
        return LineOutcome::skipped(refusal);
    const ImageType type = imageTypeOf(source.format());
    int saveFlags = SaveFlagsFor(outputName, type);
    const QByteArray bytes = QByteArray::fromRawData(source.bytes().data(), source.size());
    const auto *data = source.data();
    const FileKind kind = KindOf(data, bytes.size());
    QList<Note> warnings;
    if (const QString damage = SourceDamage(data, bytes.size(), kind); !damage.isEmpty())
        warnings << Note{NoteCode::SourceDamaged, {damage}};
    if (kind == FileKind::BigTiff)
        return refused(QStringLiteral("re-encoding cannot carry a BigTIFF's metadata over; use tags only"));
    if (kind == FileKind::Jpeg) {
        const JpegFrame frame = JpegFrameOf(data, bytes.size());
        if (frame.components() == 4)
            return refused(QStringLiteral("re-encoding would turn this CMYK image into RGB; use tags only"));
        if (frame.components() == 3 && frame.sampling[1] == frame.sampling[2] && frame.sampling[1].first > 0
            && frame.sampling[1].second > 0)
            saveFlags |= JpegSubsamplingFlag(frame.sampling[0].first / frame.sampling[1].first,
                                             frame.sampling[0].second / frame.sampling[1].second);
    }

    QByteArray decoderInput = bytes;
    if (kind == FileKind::Tiff) {
        decoderInput.detach();
        HideFirstTiffMetadata(reinterpret_cast<unsigned char *>(decoderInput.data()), decoderInput.size());
    }
    const Encoded encoded = EncodeAgain(type, decoderInput, saveFlags);
    if (!encoded.decoded)
        return LineOutcome::failed({NoteCode::DecodeFailed, {}});
    if (encoded.bytes.isEmpty())
        return LineOutcome::failed({NoteCode::EncodeFailed, {}});
    QByteArray composed;
    try {
        if (const QString why = compose(kind, source.path(), bytes, encoded.bytes, &composed); !why.isEmpty())
            return refused(why);
    } catch (const std::exception &error) {
        return refused(QStringLiteral("the source's metadata cannot be carried over: %1")
                           .arg(QString::fromLocal8Bit(error.what())));
    }

    MemoryFile staged;
    SourceImage composedImage;
    if (!staged.write(composed) || composedImage.open(staged.path()))
        return LineOutcome::failed({NoteCode::WriteFailed, {QStringLiteral("cannot hold the re-encoded image in memory")}});
    XmpMemory memory;
    LineOutcome outcome = WriteTagsOnly(composedImage, edit, out, memory);
    if (outcome.written())
        outcome = LineOutcome::saved(warnings + outcome.notes);
    return outcome;
}
