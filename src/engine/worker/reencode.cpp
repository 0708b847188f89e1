#include "engine/worker/reencode.h"

#include "engine/container/jpegcontainer.h"
#include "engine/container/pngcontainer.h"
#include "engine/container/sourceimage.h"
#include "engine/container/tagsonly.h"
#include "engine/container/tiffcontainer.h"
#include "engine/container/tiffstructure.h"
#include "engine/metadata/xmppacket.h"
#include "engine/platform/exiv2compat.h"
#include "engine/platform/freeimagelayer.h"
#include "engine/platform/librarylog.h"
#include "engine/platform/outputfile.h"

#include <QFile>

#include <exiv2/exiv2.hpp>
#include <tiffio.h>

#include <QSet>

#include <set>

namespace {
// Readies Exiv2 once per process: its XMP toolkit started, its reports
// sent to their logging category.
void PrepareExiv2()
{
    struct Library {
        Library()
        {
            RouteExiv2Messages();
            Exiv2::XmpParser::initialize();
        }
        ~Library() { Exiv2::XmpParser::terminate(); }
    };
    static Library library;
}

// Tags that describe how the encoded image is stored: the encoder's stay,
// the source's would misdescribe it.
const std::set<uint16_t> StructureTags{
    255, 256, 257, 258, 259, 262, 263, 266, 273, 277, 278, 279, 284, 292, 293, 317, 320, 322, 323, 324,
    325, 330, 332, 338, 339, 347, 512, 513, 514, 515, 517, 518, 519, 520, 521, 529, 530, 531, 532,
    TiffTag::Iptc, // written from the IPTC data
    TiffTag::Xmp,  // written from the source's packet
};

// Tags that point at further directories: their contents cannot go across as a value.
const std::set<uint16_t> PointerTags{TiffTag::ExifIfd, TiffTag::GpsIfd, TiffTag::InteroperabilityIfd, TiffTag::SubIfds};

// The descriptive entries of each page of the source that the composed
// image lacks, to put into it; those that cannot go (a page's own EXIF
// directory) are named in *lost.
QList<QList<TiffCarriedEntry>> missingEntries(QByteArrayView source, QByteArrayView composed, QStringList *lost)
{
    const TiffStructure from(source);
    const TiffStructure into(composed);
    const QList<qsizetype> sourcePages = from.directories();
    const QList<qsizetype> composedPages = into.directories();
    QList<QList<TiffCarriedEntry>> added;
    for (qsizetype page = 0; page < std::min(sourcePages.size(), composedPages.size()); ++page) {
        QSet<quint16> present;
        for (const TiffEntry &entry : into.entries(composedPages[page]))
            present.insert(entry.tag);
        QList<TiffCarriedEntry> missing;
        for (const TiffEntry &entry : from.entries(sourcePages[page])) {
            if (present.contains(entry.tag) || StructureTags.count(entry.tag))
                continue;
            if (PointerTags.count(entry.tag)) {
                *lost << QStringLiteral("page %1: tag %2").arg(page + 1).arg(entry.tag);
                continue;
            }
            missing.append({entry.tag, entry.type, entry.count, TiffValueInOrder(from, entry, into.littleEndian())});
        }
        added.append(missing);
    }
    return added;
}

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
    // The Photoshop resources go across byte for byte with the other entries
    // of each page, where Exiv2 would rewrite the IPTC inside them.
    if (group == "Image")
        return !StructureTags.count(datum.tag()) && datum.tag() != TiffTag::Photoshop;
    return group == "Photo" || group == "GPSInfo" || group == "Iop" || group == "MakerNote"
        || Exiv2::ExifTags::isMakerGroup(group);
}

QByteArray bytesOf(Exiv2::BasicIo &io)
{
    if (io.open() != 0)
        return {};
    QByteArray bytes(qsizetype(io.size()), Qt::Uninitialized);
    const Exiv2Size read = io.read(reinterpret_cast<Exiv2::byte *>(bytes.data()), Exiv2Size(bytes.size()));
    io.close();
    return read == Exiv2Size(bytes.size()) ? bytes : QByteArray();
}

// The encoded TIFF with the source's metadata of its first page; the
// encoder's structure tags stay.
QByteArray carryTiffMetadata(const QByteArray &source, const QByteArray &encoded)
{
    PrepareExiv2();
    Exiv2ImagePtr from = Exiv2::ImageFactory::open(
        reinterpret_cast<const Exiv2::byte *>(source.constData()), Exiv2Size(source.size()));
    Exiv2ImagePtr into = Exiv2::ImageFactory::open(
        reinterpret_cast<const Exiv2::byte *>(encoded.constData()), Exiv2Size(encoded.size()));
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
    for (const Exiv2::Exifdatum &datum : from->exifData()) {
        if (carried(datum))
            exif.add(datum);
    }
    into->setExifData(exif);
    // The IPTC and XMP are written afterwards from the source's own blocks.
    into->clearIptcData();
    into->clearXmpData();
    // Exiv2 writes the profile it holds apart from the tags, or none.
    MoveIccProfile(*from, *into);
    into->writeMetadata();
    return bytesOf(into->io());
}

// How one page of a TIFF stores its samples.
struct TiffPageForm {
    int photometric = -1;
    int samples = 1; // per pixel
    int bits = 1;    // per sample, of the first
    bool operator==(const TiffPageForm &) const = default;
};

QList<TiffPageForm> tiffPageForms(QByteArrayView file)
{
    QList<TiffPageForm> forms;
    const TiffStructure tiff(file);
    for (const qsizetype ifd : tiff.directories()) {
        const auto first = [&](quint16 tag, int missing) {
            const auto entry = tiff.entry(ifd, tag);
            return entry ? int(tiff.number(*entry).value_or(quint64(missing))) : missing;
        };
        forms.append({first(TiffTag::Photometric, -1), first(TiffTag::SamplesPerPixel, 1), first(TiffTag::BitsPerSample, 1)});
    }
    return forms;
}

// "16-bit RGB", "8-bit CMYK"... for the user.
QString describe(const TiffPageForm &form)
{
    QString space;
    switch (form.photometric) {
    case 0:
    case 1:
        space = QStringLiteral("grey");
        break;
    case 2:
        space = QStringLiteral("RGB");
        break;
    case 3:
        space = QStringLiteral("palette");
        break;
    case 5:
        space = QStringLiteral("CMYK");
        break;
    case 6:
        space = QStringLiteral("YCbCr");
        break;
    case 8:
    case 9:
    case 10:
        space = QStringLiteral("Lab");
        break;
    case 32803:
        space = QStringLiteral("colour filter array");
        break;
    case 34892:
        space = QStringLiteral("linear raw");
        break;
    default:
        space = QStringLiteral("colour space %1").arg(form.photometric);
    }
    return QStringLiteral("%1-bit %2 with %3 sample(s) per pixel").arg(form.bits).arg(space).arg(form.samples);
}

// The TIFF with the first page's XMP, IPTC, Photoshop resources and ICC
// profile entries renamed, so that the image library's decoder does not read
// them: its TIFF loader reads a freed ICC profile beside EXIF, and crashes
// on some IPTC entries. The source's metadata are carried over apart.
QByteArray withFirstPageMetadataHidden(QByteArrayView file)
{
    QByteArray copy = file.toByteArray();
    const TiffStructure tiff(file);
    const QList<qsizetype> ifds = tiff.directories();
    if (ifds.isEmpty())
        return copy;
    for (const quint16 tag : {TiffTag::Xmp, TiffTag::Iptc, TiffTag::Photoshop, TiffTag::IccProfile}) {
        // One less names no tag the library reads, and keeps the entries in order.
        const quint16 unknown = tag - 1;
        const auto entry = tiff.entry(ifds.front(), tag);
        if (!entry || tiff.entry(ifds.front(), unknown))
            continue;
        copy[entry->at + (tiff.littleEndian() ? 0 : 1)] = char(unknown & 0xFF);
        copy[entry->at + (tiff.littleEndian() ? 1 : 0)] = char(unknown >> 8);
    }
    return copy;
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
        return QStringLiteral("re-encoding would turn this %1 image%2 into %3; use tags only").arg(describe(source[i]), page, describe(encoded[i]));
    }
    return {};
}

QString compose(ImageFormat format, const QString &sourcePath, QByteArrayView source, const QByteArray &encoded,
               QByteArray *composed, QStringList *lost)
{
    QString why;
    switch (format) {
    case ImageFormat::Jpeg:
        *composed = ComposeReencodedJpeg(source, encoded, &why);
        return why;
    case ImageFormat::Png:
        *composed = ComposeReencodedPng(source, encoded, &why);
        return why;
    default: {
        const QList<TiffPageForm> sourceForms = tiffPageForms(source);
        if (const QString change = sourceSpaceChange(sourceForms, tiffPageForms(encoded)); !change.isEmpty())
            return change;
        const QByteArray carried = carryTiffMetadata(source.toByteArray(), withSourceColorimetry(sourcePath, encoded));
        if (carried.isEmpty())
            return QStringLiteral("the source's metadata cannot be carried into the re-encoded image");
        *composed = WithAddedTiffEntries(carried, missingEntries(source, carried, lost));
        return sourceSpaceChange(sourceForms, tiffPageForms(*composed));
    }
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

} // namespace

Note ReencodeRefusal(const SourceImage &source, int maxMegapixels)
{
    // Decoding reserves memory for every pixel a page declares, whatever the file holds.
    const QList<PageSize> pages = source.pages();
    for (qsizetype i = 0; i < pages.size(); ++i) {
        if (pages[i].pixels() <= qint64(maxMegapixels) * 1000000)
            continue;
        return {NoteCode::TooManyPixels, {QString::number(double(pages[i].pixels()) / 1e6, 'f', 1),
                                          QString::number(maxMegapixels),
                                          QString::number(pages.size() > 1 ? i + 1 : 0)}};
    }
    if (source.format() == ImageFormat::Tiff) {
        const TiffStructure tiff(source.bytes());
        const QList<qsizetype> ifds = tiff.directories();
        bool whole = false;
        if (!ifds.isEmpty())
            tiff.entries(ifds.front(), &whole);
        // Nothing the image library could make of it would be this image.
        if (!whole)
            return {NoteCode::DecodeFailed, {}};
        // Carrying the source's entries over would overfill the new directory.
        if (const QString full = TiffDirectoryFull(source.bytes()); !full.isEmpty())
            return {NoteCode::MetadataUnwritable, {full}};
        if (tiff.entry(ifds.front(), TiffTag::DngVersion))
            return {NoteCode::ReencodeRefused, {QStringLiteral("re-encoding would lose a DNG's raw image data; use tags only")}};
    }
    if (source.format() == ImageFormat::BigTiff)
        return {NoteCode::ReencodeRefused, {QStringLiteral("re-encoding cannot carry a BigTIFF's metadata over; use tags only")}};
    if (source.format() == ImageFormat::Jpeg && !JpegSegments(source.bytes()).whole)
        return {NoteCode::DecodeFailed, {}};
    if (source.format() == ImageFormat::Jpeg && JpegFrameOf(source.bytes()).components() == 4)
        return {NoteCode::ReencodeRefused, {QStringLiteral("re-encoding would turn this CMYK image into RGB; use tags only")}};
    if (const QString why = source.format() == ImageFormat::Jpeg ? JpegPicturesUnmovable(source.bytes()) : QString(); !why.isEmpty())
        return {NoteCode::ReencodeRefused, {why}};
    return {};
}

LineOutcome WriteReencoded(const SourceImage &source, const TagEdit &edit, const QString &outputName,
                           int maxMegapixels, int out)
{
    if (!ReencodingCovers(source.format()))
        return refused(QStringLiteral("re-encoding covers JPEG, TIFF and PNG only; use tags only"));
    const LibraryMessagesAbout messages(source.path());
    if (Note refusal = ReencodeRefusal(source, maxMegapixels))
        return refusal.code == NoteCode::TooManyPixels ? LineOutcome::skipped(refusal) : LineOutcome::failed(refusal);
    // Metadata alone: there is no image to re-encode, and tags only writes it whole.
    if (HoldsNoImage(source)) {
        XmpMemory memory;
        return WriteTagsOnly(source, edit, memory, out);
    }
    const ImageType type = imageTypeOf(source.format());
    int saveFlags = SaveFlagsFor(outputName, type);
    QList<Note> warnings;
    if (const QString damage = SourceDamage(source); !damage.isEmpty())
        warnings << Note{NoteCode::SourceDamaged, {damage}};
    if (source.format() == ImageFormat::Jpeg) {
        const JpegFrame frame = JpegFrameOf(source.bytes());
        if (frame.components() == 3 && frame.sampling[1] == frame.sampling[2] && frame.sampling[1].first > 0
            && frame.sampling[1].second > 0)
            saveFlags |= JpegSubsamplingFlag(frame.sampling[0].first / frame.sampling[1].first,
                                             frame.sampling[0].second / frame.sampling[1].second);
    }

    const QByteArray decoderInput = source.format() == ImageFormat::Tiff
        ? withFirstPageMetadataHidden(source.bytes())
        : QByteArray::fromRawData(source.bytes().data(), source.size());
    const Encoded encoded = EncodeAgain(type, decoderInput, saveFlags);
    if (!encoded.decoded)
        return LineOutcome::failed({NoteCode::DecodeFailed, {}});
    if (encoded.bytes.isEmpty())
        return LineOutcome::failed({NoteCode::EncodeFailed, {}});
    QByteArray composed;
    QStringList lost;
    try {
        if (const QString why = compose(source.format(), source.path(), source.bytes(), encoded.bytes, &composed, &lost);
            !why.isEmpty())
            return refused(why);
    } catch (const std::exception &error) {
        return refused(QStringLiteral("the source's metadata cannot be carried over: %1")
                           .arg(QString::fromLocal8Bit(error.what())));
    }

    MemoryFile staged;
    SourceImage composedImage;
    if (!staged.write(composed) || composedImage.open(staged.path()))
        return LineOutcome::failed({NoteCode::WriteFailed, {QStringLiteral("cannot hold the re-encoded image in memory")}});
    if (!lost.isEmpty())
        warnings << Note{NoteCode::MetadataLost, {QStringLiteral("re-encoding could not carry over %1").arg(lost.join(QStringLiteral(", ")))}};
    XmpMemory memory;
    // A TIFF's IPTC and XMP come from the source's blocks, which the
    // composition left out; a JPEG or PNG carries them in its segments.
    const TiffBase base = TiffBaseOf(source.bytes());
    LineOutcome outcome = source.format() == ImageFormat::Tiff && !edit.values.isEmpty()
        ? WriteTaggedTiff(composedImage, edit, memory, out, &base)
        : WriteTagsOnly(composedImage, edit, memory, out);
    if (outcome.written())
        outcome = LineOutcome::saved(warnings + outcome.notes);
    return outcome;
}
