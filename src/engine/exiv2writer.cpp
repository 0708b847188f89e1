#include "engine/exiv2writer.h"

#include "engine/iimvalues.h"
#include "engine/metadatabytes.h"
#include "engine/notetext.h"
#include "engine/outputfile.h"
#include "model/codepage.h"
#include "model/tagslots.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRegularExpression>

#include <exiv2/exiv2.hpp>

#include <cerrno>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

void PrepareExiv2()
{
    struct Library {
        Library()
        {
            Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
            Exiv2::XmpParser::initialize();
        }
        ~Library() { Exiv2::XmpParser::terminate(); }
    };
    static Library library;
}

namespace {
const std::string Utf8Designation = "\x1b%G"; // ISO 2022 escape for UTF-8 in envelope dataset 1:90

std::string_view xmpKeyOf(int slot)
{
    return slotInfo(slot).xmp;
}

const TagValue *valueOfSlot(const QList<TagValue> &values, int slot)
{
    for (const TagValue &value : values) {
        if (value.slot == slot)
            return &value;
    }
    return nullptr;
}

void eraseDatasets(Exiv2::IptcData &iptc, uint16_t dataset)
{
    for (auto it = iptc.begin(); it != iptc.end();) {
        if (it->record() == Exiv2::IptcDataSets::application2 && it->tag() == dataset)
            it = iptc.erase(it);
        else
            ++it;
    }
}

bool hasRecord2(const Exiv2::IptcData &iptc)
{
    for (const Exiv2::Iptcdatum &datum : iptc) {
        if (datum.record() == Exiv2::IptcDataSets::application2)
            return true;
    }
    return false;
}

bool declaresUtf8(const Exiv2::IptcData &iptc)
{
    const auto it = iptc.findId(Exiv2::IptcDataSets::CharacterSet, Exiv2::IptcDataSets::envelope);
    return it != iptc.end() && it->toString() == Utf8Designation;
}

// Datasets of the file's further IPTC copies that its first copy lacks, so
// that taking those copies out loses nothing.
void mergeDatasets(Exiv2::IptcData &iptc, const QByteArray &block)
{
    // Added as raw bytes: Exiv2's typed values would reread some datasets
    // (a preview format written as text, say) and write other bytes back.
    for (const IimDataset &dataset : ParseIim(block)) {
        if (iptc.findId(uint16_t(dataset.dataset), uint16_t(dataset.record)) != iptc.end())
            continue;
        Exiv2::DataValue value(Exiv2::undefined);
        value.read(reinterpret_cast<const Exiv2::byte *>(dataset.bytes.constData()), long(dataset.bytes.size()));
        iptc.add(Exiv2::IptcKey(uint16_t(dataset.dataset), uint16_t(dataset.record)), &value);
    }
}

// Text without a 1:90 marker is Latin by convention; once the marker says
// UTF-8, every dataset the line does not replace must be UTF-8 too.
void declareUtf8(Exiv2::IptcData &iptc)
{
    for (Exiv2::Iptcdatum &datum : iptc) {
        if (datum.typeId() != Exiv2::string)
            continue;
        const std::string bytes = datum.toString();
        Exiv2::StringValue value(DecodeAnsi(QByteArray::fromStdString(bytes)).toUtf8().toStdString());
        datum.setValue(&value);
    }
    Exiv2::StringValue marker(Utf8Designation);
    iptc.add(Exiv2::IptcKey(Exiv2::IptcDataSets::CharacterSet, Exiv2::IptcDataSets::envelope), &marker);
}

// Replaces the datasets of every value taken (`values`) with `items`.
void writeIptc(Exiv2::IptcData &iptc, const QList<TagValue> &values, const QList<IimItem> &items)
{
    if (!hasRecord2(iptc)) {
        Exiv2::UShortValue version;
        version.value_.push_back(4);
        iptc.add(Exiv2::IptcKey(Exiv2::IptcDataSets::RecordVersion, Exiv2::IptcDataSets::application2), &version);
    }
    for (const TagValue &value : values)
        eraseDatasets(iptc, uint16_t(slotInfo(value.slot).dataset));
    for (const IimItem &item : items) {
        // A string value keeps the bytes as given, where the dataset's own
        // type (a date, say) would reject or reformat them.
        Exiv2::StringValue text(item.bytes.toStdString());
        iptc.add(Exiv2::IptcKey(uint16_t(item.dataset), Exiv2::IptcDataSets::application2), &text);
    }
}

QByteArray iimValue(const Exiv2::IptcData &iptc, int dataset, bool utf8)
{
    const auto it = iptc.findId(uint16_t(dataset), Exiv2::IptcDataSets::application2);
    if (it == iptc.end())
        return {};
    const QByteArray bytes = QByteArray::fromStdString(it->toString());
    return utf8 ? bytes : DecodeAnsi(bytes).toUtf8();
}

// The XMP date follows the IIM date and time the file ends up with, so a
// line that gives only one of them joins it with the other one in the file.
QList<TagValue> withIimDateAndTime(QList<TagValue> values, const Exiv2::IptcData &iptc)
{
    const bool date = valueOfSlot(values, DateCreatedSlot);
    const bool time = valueOfSlot(values, TimeCreatedSlot);
    if (date == time)
        return values;
    const int missing = date ? TimeCreatedSlot : DateCreatedSlot;
    const QByteArray inFile = iimValue(iptc, slotInfo(missing).dataset, declaresUtf8(iptc));
    if (!inFile.isEmpty())
        values.append({missing, QString::fromUtf8(inFile)});
    return values;
}

// The digest of an IPTC block as stored, zero-padded to a multiple of `unit`.
QByteArray md5(const Exiv2::DataBuf &data, int unit)
{
    QByteArray block(reinterpret_cast<const char *>(data.pData_), data.size_);
    while (block.size() % unit != 0)
        block.append('\0');
    return QCryptographicHash::hash(block, QCryptographicHash::Md5);
}

QByteArray bytesOf(const Exiv2::DataBuf &data)
{
    return QByteArray(reinterpret_cast<const char *>(data.pData_), data.size_);
}

// A TIFF keeps its Photoshop resources in one tag that Exiv2 exposes, and
// its encoder replaces only the IPTC resource inside it; the digest is set
// beforehand.
void updateTiffDigest(Exiv2::ExifData &exif, const QByteArray &digest)
{
    const auto it = exif.findKey(Exiv2::ExifKey("Exif.Image.ImageResources"));
    if (it == exif.end() || it->size() <= 0)
        return;
    Exiv2::DataBuf resources(long(it->size()));
    it->copy(resources.pData_, Exiv2::invalidByteOrder);
    if (!SetIptcDigest(resources.pData_, resources.size_, digest))
        return;
    Exiv2::DataValue value(Exiv2::undefined);
    value.read(resources.pData_, resources.size_);
    it->setValue(&value);
}

// Exiv2 writes the standard IPTC tag of a TIFF only when the file has one or
// lacks Photoshop resources; other readers look for it first, so it is
// always there. Exiv2 replaces this stand-in with the encoded block, typed
// LONG as other writers type it.
// A TIFF's packet as stored: Exiv2 keeps only its parse of it.
QByteArray tiffXmpPacket(const Exiv2::ExifData &exif)
{
    const auto it = exif.findKey(Exiv2::ExifKey("Exif.Image.XMLPacket"));
    if (it == exif.end() || it->size() <= 0)
        return {};
    QByteArray packet(qsizetype(it->size()), Qt::Uninitialized);
    it->copy(reinterpret_cast<Exiv2::byte *>(packet.data()), Exiv2::invalidByteOrder);
    return packet;
}

void ensureTiffIptcTag(Exiv2::ExifData &exif)
{
    const Exiv2::ExifKey key("Exif.Image.IPTCNAA");
    if (exif.findKey(key) != exif.end())
        return;
    Exiv2::ULongValue placeholder;
    placeholder.value_.push_back(0);
    exif.add(key, &placeholder);
}

QString errorText(const QString &what, const QFile &file)
{
    return QStringLiteral("%1: %2").arg(what, file.errorString());
}

// Bytes of an open source file that go into the output between the head
// and the tail as they are.
struct SourceRange {
    int fd = -1;
    qint64 from = 0;
    qint64 length = 0;
};

QString writeBytes(int fd, QByteArrayView head, QByteArrayView tail = {}, SourceRange middle = {})
{
    const qint64 size = head.size() + middle.length + tail.size();
    QString problem = WriteAt(fd, head, 0);
    if (problem.isEmpty() && middle.length > 0)
        problem = CopyFileRange(middle.fd, middle.from, fd, head.size(), middle.length);
    if (problem.isEmpty())
        problem = WriteAt(fd, tail, head.size() + middle.length);
    if (!problem.isEmpty())
        return problem;
    // A retry may write less than the try before it. Only a longer file is
    // cut: on ext4, truncating a file to nothing makes its close start
    // writing it to disk, at a cost beyond the rest of the save.
    struct stat written {};
    if (::fstat(fd, &written) != 0 || (written.st_size > size && ::ftruncate(fd, off_t(size)) != 0))
        return QStringLiteral("cannot write the file: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
    return {};
}

// A source's bytes, mapped copy-on-write where the file system allows: Exiv2
// edits some TIFFs in place and the masking of JPEG segments happens in
// place too, and that must never reach the source, while a private mapping
// spares reading the whole image into fresh memory.
class SourceBytes {
public:
    SourceBytes() = default;
    SourceBytes(const SourceBytes &) = delete;
    SourceBytes &operator=(const SourceBytes &) = delete;
    ~SourceBytes()
    {
        if (mapped)
            ::munmap(mapped, size_t(size));
        if (fd >= 0)
            ::close(fd);
    }

    QString open(const QString &path)
    {
        fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        struct stat info {};
        if (fd < 0 || ::fstat(fd, &info) != 0)
            return failure();
        if (!S_ISREG(info.st_mode))
            return QStringLiteral("cannot read the image: it is not a file");
        if (info.st_size > 0 && qint64(info.st_size) <= std::numeric_limits<qsizetype>::max()) {
            void *at = ::mmap(nullptr, size_t(info.st_size), PROT_READ | PROT_WRITE, MAP_PRIVATE, fd, 0);
            if (at != MAP_FAILED) {
                mapped = static_cast<Exiv2::byte *>(at);
                size = qsizetype(info.st_size);
                return {};
            }
        }
        QFile file;
        if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
            return failure();
        copy = file.readAll();
        if (file.error() != QFileDevice::NoError)
            return errorText(QStringLiteral("cannot read the image"), file);
        size = copy.size();
        return {};
    }
    Exiv2::byte *data() { return mapped ? mapped : reinterpret_cast<Exiv2::byte *>(copy.data()); }
    int handle() const { return fd; }
    qsizetype length() const { return size; }
    QByteArrayView view() { return {reinterpret_cast<const char *>(data()), size}; }

private:
    static QString failure()
    {
        return QStringLiteral("cannot read the image: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
    }

    int fd = -1;
    Exiv2::byte *mapped = nullptr;
    QByteArray copy;
    qsizetype size = 0;
};

// Exiv2 rewrites an image by building the new file in a buffer of its own
// and handing that to the source's transfer(). Here the buffer goes straight
// into the target instead, finished on the way (digest, masked segments,
// trailer), so the image data is not copied through further buffers.
class TargetIo : public Exiv2::MemIo {
public:
    TargetIo(const Exiv2::byte *data, long size, int target) : Exiv2::MemIo(data, size), target(target) {}

    void transfer(Exiv2::BasicIo &src) override
    {
        transferred = true;
        error = writeOut(src);
    }

    // Writes the bytes as they stand, for when Exiv2 changed them in place.
    QString writeInPlaceResult() { return writeOut(*this); }

    // Set before writeMetadata() once the IPTC is final.
    const JpegPreparation *jpeg = nullptr;
    // Set when Exiv2 sees a JPEG only up to and with its SOS marker: the
    // image data then go from the source into the target in the kernel,
    // never through memory. Exiv2 copies everything from that marker on as
    // it is, so the output is the same as from the whole file.
    SourceBytes *imageData = nullptr;
    qsizetype imageDataFrom = 0; // in the source, just past the SOS marker
    bool headEndedWrongly = false;
    QByteArray iim;
    QByteArray digest;
    bool dropTiffResourceIptc = false;

    bool transferred = false;
    QString error;

private:
    QString writeOut(Exiv2::BasicIo &src)
    {
        if (src.open() != 0)
            return QStringLiteral("the tagged image cannot be read back");
        const qsizetype size = qsizetype(src.size());
        Exiv2::byte *bytes = size > 0 ? src.mmap(true) : nullptr;
        QByteArray copy;
        if (size > 0 && !bytes) {
            copy.resize(size);
            bytes = reinterpret_cast<Exiv2::byte *>(copy.data());
            if (src.read(bytes, long(size)) != long(size))
                return QStringLiteral("the tagged image cannot be read back");
        }
        qsizetype keep = size;
        QByteArray tail;
        SourceRange middle;
        if (imageData) {
            if (size < 2 || bytes[size - 2] != 0xFF || bytes[size - 1] != 0xDA) {
                headEndedWrongly = true;
                return QStringLiteral("the metadata library wrote an unexpected JPEG");
            }
            JpegPreparation head = *jpeg;
            head.fotoStationIptc = false;
            FinishJpeg(bytes, size, head, iim, digest, &keep, &tail);
            qsizetype end = imageData->length();
            if (jpeg->fotoStationIptc)
                end = RewriteFotoStationTrailer(imageData->data(), imageData->length(), iim, &tail);
            middle = {imageData->handle(), imageDataFrom, end - imageDataFrom};
        } else if (jpeg) {
            FinishJpeg(bytes, size, *jpeg, iim, digest, &keep, &tail);
        }
        if (dropTiffResourceIptc)
            DropTiffResourceIptc(bytes, size);
        const QString problem = writeBytes(target, {reinterpret_cast<const char *>(bytes), keep}, tail, middle);
        src.close();
        return problem;
    }

    int target;
};

void setLangAlt(Exiv2::XmpData &xmp, const Exiv2::XmpKey &key, const std::string &text)
{
    // Only the default language is replaced; translations stay.
    Exiv2::LangAltValue value;
    const auto it = xmp.findKey(key);
    if (it != xmp.end()) {
        if (const auto *old = dynamic_cast<const Exiv2::LangAltValue *>(&it->value()))
            value.value_ = old->value_;
        xmp.erase(it);
    }
    value.value_["x-default"] = text;
    xmp.add(key, &value);
}

void setArray(Exiv2::XmpData &xmp, const Exiv2::XmpKey &key, Exiv2::TypeId type, const QStringList &items)
{
    const auto it = xmp.findKey(key);
    if (it != xmp.end())
        xmp.erase(it);
    Exiv2::XmpArrayValue value(type);
    for (const QString &item : items)
        value.read(item.toStdString());
    xmp.add(key, &value);
}

void setText(Exiv2::XmpData &xmp, const Exiv2::XmpKey &key, const std::string &text)
{
    const auto it = xmp.findKey(key);
    if (it != xmp.end())
        xmp.erase(it);
    // Assigned directly: reading it from text would take a leading
    // "type=" as an instruction.
    Exiv2::XmpTextValue value;
    value.value_ = text;
    xmp.add(key, &value);
}

// Exiv2's XMP toolkit drops the description's rdf:about and gives namespaces
// it did not know a trailing "/", so strict readers lose those properties:
// both are put back as the source had them.
QString packetText(const QByteArray &packet)
{
    // Packets may be stored in UTF-16, as the XMP specification allows.
    if (packet.size() >= 2 && (packet.at(0) == '\0' || packet.at(1) == '\0'))
        return DecodeText(packet, packet.at(0) == '\0' ? TextEncoding::Utf16BE : TextEncoding::Utf16LE);
    return QString::fromUtf8(packet);
}

QByteArray keepSourceForm(const QByteArray &source, QByteArray encoded)
{
    static const QRegularExpression about(QStringLiteral("\\s(?:rdf:)?about=(\"[^\"]*\"|'[^']*')"));
    static const QRegularExpression declaration(QStringLiteral("xmlns:([A-Za-z_][\\w.-]*)=(\"[^\"]*\"|'[^']*')"));
    const QString was = packetText(source);
    QString now = QString::fromUtf8(encoded);
    const QRegularExpressionMatch aboutMatch = about.match(was);
    if (aboutMatch.hasMatch()) {
        QString value = aboutMatch.captured(1).mid(1).chopped(1);
        if (aboutMatch.captured(1).startsWith(QLatin1Char('\'')))
            value.replace(QLatin1Char('"'), QStringLiteral("&quot;"));
        now.replace(QStringLiteral("rdf:about=\"\""), QStringLiteral("rdf:about=\"%1\"").arg(value));
    }
    for (auto it = declaration.globalMatch(was); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        const QString uri = match.captured(2).mid(1).chopped(1);
        now.replace(QStringLiteral("xmlns:%1=\"%2/\"").arg(match.captured(1), uri),
                    QStringLiteral("xmlns:%1=\"%2\"").arg(match.captured(1), uri));
    }
    return now.toUtf8();
}
} // namespace

QString XmpDateFromIim(const QByteArray &date, const QByteArray &time)
{
    const QString day = QString::fromUtf8(date);
    const QString clock = QString::fromUtf8(time);
    if (!IsIimDate(day))
        return {};
    const QString result = day.left(4) + QLatin1Char('-') + day.mid(4, 2) + QLatin1Char('-') + day.mid(6, 2);
    if (!IsIimTime(clock))
        return result;
    return result
        + QStringLiteral("T%1:%2:%3%4%5:%6")
              .arg(clock.left(2), clock.mid(2, 2), clock.mid(4, 2), clock.mid(6, 1), clock.mid(7, 2), clock.mid(9, 2));
}

namespace {
// `parsed`, when given, is `packet` as the metadata library already parsed
// it: parsing it once more would cost as much as the rest of the update.
XmpUpdate updateXmp(const QByteArray &packet, const Exiv2::XmpData *parsed, const QList<TagValue> &values)
{
    XmpUpdate update;
    update.packet = packet;

    const TagValue *date = valueOfSlot(values, DateCreatedSlot);
    const TagValue *time = valueOfSlot(values, TimeCreatedSlot);
    const QString isoDate
        = date ? XmpDateFromIim(date->text.toUtf8(), time ? time->text.toUtf8() : QByteArray()) : QString();
    bool anyProperty = !isoDate.isEmpty();
    for (const TagValue &value : values) {
        if (value.slot != DateCreatedSlot && value.slot != TimeCreatedSlot && !xmpKeyOf(value.slot).empty())
            anyProperty = true;
    }
    if (!anyProperty)
        return update;

    try {
        Exiv2::XmpData xmp;
        if (parsed)
            xmp = *parsed;
        else if (!packet.isEmpty() && Exiv2::XmpParser::decode(xmp, packet.toStdString()) != 0) {
            update.error = QStringLiteral("the image's XMP packet cannot be read");
            return update;
        }
        for (const TagValue &value : values) {
            const std::string_view name = xmpKeyOf(value.slot);
            if (name.empty() || value.slot == DateCreatedSlot || value.slot == TimeCreatedSlot)
                continue;
            const Exiv2::XmpKey key{std::string(name)};
            const Exiv2::TypeId type = Exiv2::XmpProperties::propertyType(key);
            if (type == Exiv2::langAlt)
                setLangAlt(xmp, key, value.text.toStdString());
            else if (type == Exiv2::xmpBag || type == Exiv2::xmpSeq)
                setArray(xmp, key, type,
                         slotInfo(value.slot).role == SlotRole::List ? ListItems(value.text) : QStringList{value.text});
            else
                setText(xmp, key, value.text.toStdString());
        }
        if (!isoDate.isEmpty())
            setText(xmp, Exiv2::XmpKey(std::string(xmpKeyOf(DateCreatedSlot))), isoDate.toStdString());

        std::string encoded;
        if (Exiv2::XmpParser::encode(encoded, xmp, Exiv2::XmpParser::useCompactFormat) != 0) {
            update.error = QStringLiteral("the XMP packet cannot be written");
            return update;
        }
        update.packet = keepSourceForm(packet, QByteArray::fromStdString(encoded));
        update.changed = true;
    } catch (const std::exception &error) {
        update.error = QStringLiteral("the image's XMP cannot be updated: %1").arg(QString::fromLocal8Bit(error.what()));
    }
    return update;
}
} // namespace

XmpUpdate UpdateXmpPacket(const QByteArray &packet, const QList<TagValue> &values)
{
    PrepareExiv2();
    return updateXmp(packet, nullptr, values);
}

struct XmpMemory::Parse {
    QByteArray packet;
    Exiv2::XmpData xmp;
    bool read = false;

    // The parse of `next`, from memory when it is the last packet parsed;
    // none when it does not parse or holds nothing.
    const Exiv2::XmpData *of(const QByteArray &next)
    {
        if (packet != next) {
            // Cleared first: a parse that throws must leave no earlier one behind.
            read = false;
            packet = next;
            read = Exiv2::XmpParser::decode(xmp, next.toStdString()) == 0;
        }
        return read && !xmp.empty() ? &xmp : nullptr;
    }
};

XmpMemory::XmpMemory() : last(std::make_unique<Parse>()) {}
XmpMemory::~XmpMemory() = default;

namespace {
// Where the image data of a JPEG start in `source` (just past its SOS
// marker) when Exiv2 may be handed only the bytes before them, `data` being
// what it gets (the source or its rebuilt form); -1 when it needs the whole
// file. A FotoStation trailer must lie wholly in the image data, so that
// finding it reads nothing Exiv2 rewrites.
qsizetype imageDataStart(const Exiv2::byte *source, qsizetype sourceSize, const Exiv2::byte *data, qsizetype size,
                         const JpegPreparation &preparation)
{
    const qsizetype scan = JpegScanStart(source, sourceSize);
    if (scan < 0 || JpegScanStart(data, size) < 0)
        return -1;
    if (preparation.fotoStationIptc) {
        QByteArray tail;
        if (RewriteFotoStationTrailer(source, sourceSize, {}, &tail) < scan + 2 + 10)
            return -1;
    }
    return scan + 2;
}

enum class Split { Allowed, Never };

WriteOutcome tagWithExiv2(SourceBytes &original, FileKind kind, int target,
                             const QList<TagValue> &values, bool unicodeData, QStringList warnings, Split split,
                             XmpMemory &memory, bool *headEndedWrongly)
{
    const bool jpeg = kind == FileKind::Jpeg;
    const bool tiff = kind == FileKind::Tiff;
    Exiv2::byte *data = original.data();
    qsizetype size = original.length();
    QByteArray rebuilt;
    JpegPreparation preparation;
    qsizetype imageFrom = -1;
    if (jpeg) {
        preparation = PrepareJpeg(data, size, &rebuilt);
        if (!rebuilt.isEmpty()) {
            data = reinterpret_cast<Exiv2::byte *>(rebuilt.data());
            size = rebuilt.size();
        }
        if (split == Split::Allowed && original.handle() >= 0)
            imageFrom = imageDataStart(original.data(), original.length(), data, size, preparation);
        if (imageFrom >= 0)
            size = JpegScanStart(data, size) + 2;
    }
    const bool resourcesHeldIptc = tiff && TiffResourcesHoldIptc(data, size);

    auto *io = new TargetIo(data, long(size), target);
    if (imageFrom >= 0) {
        io->imageData = &original;
        io->imageDataFrom = imageFrom;
    }
    Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(Exiv2::BasicIo::AutoPtr(io));
    if (!image.get())
        return {QStringLiteral("the image's metadata cannot be read"), {}};
    image->readMetadata();

    Exiv2::IptcData &iptc = image->iptcData();
    for (const QByteArray &block : preparation.extraIptc)
        mergeDatasets(iptc, block);
    mergeDatasets(iptc, preparation.trailerIptc);
    bool anyWide = false;
    for (const TagValue &value : values)
        anyWide = anyWide || !IsAscii(value.text);
    if (unicodeData && anyWide && !declaresUtf8(iptc))
        declareUtf8(iptc);
    const IimValues iim = ToIimValues(values, declaresUtf8(iptc));
    for (const Note &note : iim.notes)
        warnings << NoteText(note);
    writeIptc(iptc, iim.xmpValues, iim.items);

    // Asked for before the packet is read: Exiv2 otherwise hands out its own
    // encoding of what it parsed instead of the file's packet.
    image->writeXmpFromPacket(true);
    QByteArray packet;
    const Exiv2::XmpData *parsed = nullptr;
    if (preparation.xmpHeld) {
        packet = preparation.xmpPacket;
        parsed = memory.last->of(packet);
    } else {
        const std::string &readPacket = image->xmpPacket();
        packet = tiff ? tiffXmpPacket(image->exifData()) : QByteArray::fromStdString(readPacket);
        // Reading parsed the packet already. A parse that failed left nothing,
        // and an empty result is parsed again so that the failure is told.
        const Exiv2::XmpData &read = image->xmpData();
        if (!read.empty() && read.xmpPacket() == readPacket
            && std::string_view(readPacket) == std::string_view(packet.constData(), size_t(packet.size())))
            parsed = &read;
    }
    const XmpUpdate xmp = updateXmp(packet, parsed, withIimDateAndTime(iim.xmpValues, iptc));
    if (xmp.error)
        warnings << xmp.error.text() + QStringLiteral(", so it was left as it was; the IPTC was written");
    // The packet goes in as built, and an untouched one byte for byte.
    // setXmpPacket() would parse it once more only to check it, and the
    // toolkit's own output with attribute values the source's parse
    // accepted needs no check; the TIFF encoder takes the parsed form.
    if (xmp.changed && tiff)
        image->setXmpPacket(xmp.packet.toStdString());
    else if (xmp.changed || preparation.xmpHeld)
        image->xmpPacket() = xmp.packet.toStdString();

    const Exiv2::DataBuf block = Exiv2::IptcParser::encode(iptc);
    if (jpeg) {
        io->jpeg = &preparation;
        io->iim = bytesOf(block);
        io->digest = md5(block, 1);
    }
    if (tiff) { // the IPTC tag holds whole 32-bit words, and readers hash its padding too
        ensureTiffIptcTag(image->exifData());
        updateTiffDigest(image->exifData(), md5(block, 4));
        io->dropTiffResourceIptc = !resourcesHeldIptc;
    }
    image->writeMetadata();
    const QString writeError = io->transferred ? io->error : io->writeInPlaceResult();
    *headEndedWrongly = io->headEndedWrongly;
    if (!writeError.isEmpty())
        return {writeError, {}};
    return {{}, warnings};
}
} // namespace

WriteOutcome WriteTagsLossless(const QString &source, int target, const QList<TagValue> &values,
                               bool unicodeData, XmpMemory *memory)
{
    PrepareExiv2();
    SourceBytes original;
    if (const QString problem = original.open(source); !problem.isEmpty())
        return {problem, {}};

    const FileKind kind = KindOf(original.data(), original.length());
    QStringList warnings;
    if (const QString damage = SourceDamage(original.data(), original.length(), kind); !damage.isEmpty())
        warnings << QStringLiteral("the source image itself is damaged: %1").arg(damage);
    const auto copyUnchanged = [&](const QString &why) {
        if (const QString problem = writeBytes(target, original.view()); !problem.isEmpty())
            return WriteOutcome{problem, {}};
        if (!why.isEmpty())
            warnings.prepend(why);
        return WriteOutcome{{}, warnings};
    };
    if (kind == FileKind::BigTiff)
        return copyUnchanged(QStringLiteral("written without tags: metadata cannot be written into a BigTIFF"));
    if (kind == FileKind::Other)
        return copyUnchanged(QStringLiteral("written without tags: this file type carries neither IPTC nor XMP"));
    if (values.isEmpty())
        return copyUnchanged({});

    try {
        XmpMemory own;
        XmpMemory &xmpMemory = memory ? *memory : own;
        bool headEndedWrongly = false;
        WriteOutcome outcome
            = tagWithExiv2(original, kind, target, values, unicodeData, warnings, Split::Allowed, xmpMemory,
                         &headEndedWrongly);
        if (!headEndedWrongly)
            return outcome;
        // Done again the slow way, from a fresh view: the first try masked segments in place.
        SourceBytes again;
        if (const QString problem = again.open(source); !problem.isEmpty())
            return {problem, {}};
        return tagWithExiv2(again, kind, target, values, unicodeData, warnings, Split::Never, xmpMemory,
                            &headEndedWrongly);
    } catch (const std::exception &error) {
        return {QStringLiteral("the metadata cannot be written: %1").arg(QString::fromLocal8Bit(error.what())), {}};
    }
}
