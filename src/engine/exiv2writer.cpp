#include "engine/exiv2writer.h"

#include "model/codepage.h"
#include "model/tagslots.h"

#include <QCryptographicHash>
#include <QDate>
#include <QFile>

#include <exiv2/exiv2.hpp>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {
constexpr int DateCreatedSlot = 7;
constexpr int TimeCreatedSlot = 22;
constexpr uint16_t IptcDigestResource = 0x0425;
constexpr int DigestBytes = 16;
const std::string Utf8Designation = "\x1b%G"; // ISO 2022 escape for UTF-8 in envelope dataset 1:90

void ensureInitialised()
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

std::string utf8Of(const QByteArray &ansi)
{
    return DecodeAnsi(ansi).toUtf8().toStdString();
}

// The items of a list value in their order; empty pieces (a trailing ";")
// would only make empty keywords.
QList<QByteArray> listItems(const QByteArray &value)
{
    QList<QByteArray> items;
    for (const QByteArray &piece : value.split(';')) {
        if (!piece.isEmpty())
            items.append(piece);
    }
    return items;
}

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

bool allDigits(const QByteArray &text)
{
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

// Replaces every record-2 dataset of `dataset` with `items`, in order.
void replaceDatasets(Exiv2::IptcData &iptc, uint16_t dataset, const QList<QByteArray> &items, bool utf8)
{
    for (auto it = iptc.begin(); it != iptc.end();) {
        if (it->record() == Exiv2::IptcDataSets::application2 && it->tag() == dataset)
            it = iptc.erase(it);
        else
            ++it;
    }
    const Exiv2::IptcKey key(dataset, Exiv2::IptcDataSets::application2);
    for (const QByteArray &item : items) {
        // A string value keeps the bytes as given, where the dataset's own
        // type (a date, say) would reject or reformat them.
        Exiv2::StringValue value(utf8 ? utf8Of(item) : item.toStdString());
        iptc.add(key, &value);
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

void writeIptc(Exiv2::IptcData &iptc, const QList<TagValue> &values)
{
    if (!hasRecord2(iptc)) {
        Exiv2::UShortValue version;
        version.value_.push_back(4);
        iptc.add(Exiv2::IptcKey(Exiv2::IptcDataSets::RecordVersion, Exiv2::IptcDataSets::application2), &version);
    }
    // Text that the image already declares as UTF-8 must not be mixed with
    // Windows-1252 bytes, which readers would then decode wrongly.
    const bool utf8 = declaresUtf8(iptc);
    for (const TagValue &value : values) {
        const int dataset = slotInfo(value.slot).dataset;
        const QList<QByteArray> items = isListDataset(dataset) ? listItems(value.bytes) : QList<QByteArray>{value.bytes};
        replaceDatasets(iptc, uint16_t(dataset), items, utf8);
    }
}

QByteArray iimValue(const Exiv2::IptcData &iptc, int dataset)
{
    const auto it = iptc.findId(uint16_t(dataset), Exiv2::IptcDataSets::application2);
    if (it == iptc.end())
        return {};
    return QByteArray::fromStdString(it->toString());
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
    const QByteArray inFile = iimValue(iptc, slotInfo(missing).dataset);
    if (!inFile.isEmpty())
        values.append({missing, {}, inFile});
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

// Puts `digest` over the data of the IPTC digest resource in a block of
// Photoshop image resources, if it has one. False when it has none.
bool setDigestResource(Exiv2::byte *resources, long size, const QByteArray &digest)
{
    const Exiv2::byte *record = nullptr;
    uint32_t sizeHeader = 0;
    uint32_t sizeData = 0;
    if (Exiv2::Photoshop::locateIrb(resources, size, IptcDigestResource, &record, &sizeHeader, &sizeData) != 0)
        return false;
    const long offset = long(record - resources) + long(sizeHeader);
    if (sizeData != DigestBytes || offset < 0 || offset + DigestBytes > size)
        return false;
    std::memcpy(resources + offset, digest.constData(), DigestBytes);
    return true;
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
    if (!setDigestResource(resources.pData_, resources.size_, digest))
        return;
    Exiv2::DataValue value(Exiv2::undefined);
    value.read(resources.pData_, resources.size_);
    it->setValue(&value);
}

// Exiv2 carries a JPEG's Photoshop resources over without updating the
// IPTC digest. It lies in the APP13 segments before the image data, maybe
// split across several; only its 16 bytes are replaced.
bool updateJpegDigest(unsigned char *jpeg, qsizetype size, const QByteArray &digest)
{
    static const QByteArray signature("Photoshop 3.0\0", 14);
    struct Piece {
        qsizetype fileOffset;
        qsizetype size;
    };
    std::vector<Piece> pieces;
    QByteArray resources;
    const unsigned char *data = jpeg;
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8)
        return false;
    qsizetype pos = 2;
    while (pos + 4 <= size) {
        if (data[pos] != 0xFF)
            return false;
        const unsigned char marker = data[pos + 1];
        if (marker == 0xFF) {
            ++pos; // fill byte
            continue;
        }
        if (marker == 0xDA || marker == 0xD9)
            break; // image data: no metadata segment follows
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            pos += 2;
            continue;
        }
        const qsizetype length = (qsizetype(data[pos + 2]) << 8) | data[pos + 3];
        if (length < 2 || pos + 2 + length > size)
            return false;
        const qsizetype body = pos + 4;
        const qsizetype bodySize = length - 2;
        if (marker == 0xED && bodySize >= signature.size()
            && std::memcmp(data + body, signature.constData(), size_t(signature.size())) == 0) {
            pieces.push_back({body + signature.size(), bodySize - signature.size()});
            resources.append(reinterpret_cast<const char *>(data) + body + signature.size(),
                             bodySize - signature.size());
        }
        pos += 2 + length;
    }
    if (resources.isEmpty())
        return false;
    auto *block = reinterpret_cast<Exiv2::byte *>(resources.data());
    if (!setDigestResource(block, long(resources.size()), digest))
        return false;
    qsizetype at = 0;
    for (const Piece &piece : pieces) {
        std::memcpy(jpeg + piece.fileOffset, resources.constData() + at, size_t(piece.size));
        at += piece.size;
    }
    return true;
}

QString errorText(const QString &what, const QFile &file)
{
    return QStringLiteral("%1: %2").arg(what, file.errorString());
}

QString writeBytes(const QString &path, const char *bytes, qsizetype size)
{
    // Not truncated on opening (which WriteOnly alone would do): on ext4,
    // truncating a file to nothing makes its close start writing it to
    // disk, at a cost beyond the rest of the save. Whatever lies beyond the
    // new end is cut off afterwards.
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Unbuffered))
        return errorText(QStringLiteral("cannot write the file"), file);
    if (file.write(bytes, size) != size || (file.size() > size && !file.resize(size)))
        return errorText(QStringLiteral("cannot write the file"), file);
    file.close();
    if (file.error() != QFileDevice::NoError)
        return errorText(QStringLiteral("cannot write the file"), file);
    return {};
}

QString writeBytes(const QString &path, const Exiv2::byte *bytes, qsizetype size)
{
    return writeBytes(path, reinterpret_cast<const char *>(bytes), size);
}

// A source's bytes, mapped copy-on-write where the file system allows: Exiv2
// edits some TIFFs in place, and that must never reach the source, while a
// private mapping spares reading the whole image into fresh memory.
class SourceBytes {
public:
    QString open(const QString &path)
    {
        file.setFileName(path);
        if (!file.open(QIODevice::ReadOnly))
            return errorText(QStringLiteral("cannot read the image"), file);
        const qint64 length = file.size();
        if (length > 0)
            mapped = file.map(0, length, QFileDevice::MapPrivateOption);
        if (mapped) {
            size = qsizetype(length);
            return {};
        }
        copy = file.readAll();
        if (file.error() != QFileDevice::NoError)
            return errorText(QStringLiteral("cannot read the image"), file);
        size = copy.size();
        return {};
    }
    Exiv2::byte *data() { return mapped ? mapped : reinterpret_cast<Exiv2::byte *>(copy.data()); }
    qsizetype length() const { return size; }

private:
    QFile file; // keeps the mapping alive
    uchar *mapped = nullptr;
    QByteArray copy;
    qsizetype size = 0;
};

// Exiv2 rewrites an image by building the new file in a buffer of its own
// and handing that to the source's transfer(). Here the buffer goes straight
// into the target instead, with the JPEG digest made current on the way, so
// the image data is not copied through further buffers.
class TargetIo : public Exiv2::MemIo {
public:
    TargetIo(const Exiv2::byte *data, long size, QString target) : Exiv2::MemIo(data, size), target(std::move(target))
    {
    }

    void transfer(Exiv2::BasicIo &src) override
    {
        transferred = true;
        error = writeOut(src);
    }

    // Writes the bytes as they stand, for when Exiv2 changed them in place.
    QString writeInPlaceResult() { return writeOut(*this); }

    QByteArray digest; // set before writeMetadata() once the IPTC is final
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
        if (!digest.isEmpty())
            updateJpegDigest(bytes, size, digest);
        const QString problem = writeBytes(target, bytes, size);
        src.close();
        return problem;
    }

    QString target;
};

LosslessOutcome outcomeOf(LosslessOutcome::Status status, const QString &writeError)
{
    if (!writeError.isEmpty())
        return {LosslessOutcome::Failed, writeError};
    return {status, {}};
}

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

void setArray(Exiv2::XmpData &xmp, const Exiv2::XmpKey &key, Exiv2::TypeId type, const QList<QByteArray> &items)
{
    const auto it = xmp.findKey(key);
    if (it != xmp.end())
        xmp.erase(it);
    Exiv2::XmpArrayValue value(type);
    for (const QByteArray &item : items)
        value.read(utf8Of(item));
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
} // namespace

QString XmpDateFromIim(const QByteArray &date, const QByteArray &time)
{
    if (date.size() != 8 || !allDigits(date))
        return {};
    const QDate day(date.left(4).toInt(), date.mid(4, 2).toInt(), date.mid(6, 2).toInt());
    if (!day.isValid())
        return {};
    QString result = day.toString(QStringLiteral("yyyy-MM-dd"));
    if (time.size() != 11)
        return result;
    const QByteArray clock = time.left(6);
    const QByteArray zone = time.mid(7, 4);
    const char sign = time.at(6);
    if (!allDigits(clock) || !allDigits(zone) || (sign != '+' && sign != '-'))
        return result;
    const int hours = clock.left(2).toInt();
    const int minutes = clock.mid(2, 2).toInt();
    const int seconds = clock.mid(4, 2).toInt();
    const int zoneHours = zone.left(2).toInt();
    const int zoneMinutes = zone.mid(2, 2).toInt();
    if (hours > 23 || minutes > 59 || seconds > 59 || zoneHours > 23 || zoneMinutes > 59)
        return result;
    return result
        + QStringLiteral("T%1:%2:%3%4%5:%6")
              .arg(QString::fromLatin1(clock.left(2)), QString::fromLatin1(clock.mid(2, 2)),
                   QString::fromLatin1(clock.mid(4, 2)), QChar::fromLatin1(sign), QString::fromLatin1(zone.left(2)),
                   QString::fromLatin1(zone.mid(2, 2)));
}

XmpUpdate UpdateXmpPacket(const QByteArray &packet, const QList<TagValue> &values)
{
    ensureInitialised();
    XmpUpdate update;
    update.packet = packet;

    const TagValue *date = valueOfSlot(values, DateCreatedSlot);
    const TagValue *time = valueOfSlot(values, TimeCreatedSlot);
    const QString isoDate = date ? XmpDateFromIim(date->bytes, time ? time->bytes : QByteArray()) : QString();
    bool anyProperty = !isoDate.isEmpty();
    for (const TagValue &value : values) {
        if (value.slot != DateCreatedSlot && value.slot != TimeCreatedSlot && !xmpKeyOf(value.slot).empty())
            anyProperty = true;
    }
    if (!anyProperty)
        return update;

    try {
        Exiv2::XmpData xmp;
        if (!packet.isEmpty() && Exiv2::XmpParser::decode(xmp, packet.toStdString()) != 0) {
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
                setLangAlt(xmp, key, utf8Of(value.bytes));
            else if (type == Exiv2::xmpBag || type == Exiv2::xmpSeq)
                setArray(xmp, key, type,
                         isListDataset(slotInfo(value.slot).dataset) ? listItems(value.bytes)
                                                                     : QList<QByteArray>{value.bytes});
            else
                setText(xmp, key, utf8Of(value.bytes));
        }
        if (!isoDate.isEmpty())
            setText(xmp, Exiv2::XmpKey(std::string(xmpKeyOf(DateCreatedSlot))), isoDate.toStdString());

        std::string encoded;
        if (Exiv2::XmpParser::encode(encoded, xmp, Exiv2::XmpParser::useCompactFormat) != 0) {
            update.error = QStringLiteral("the XMP packet cannot be written");
            return update;
        }
        update.packet = QByteArray::fromStdString(encoded);
        update.changed = true;
    } catch (const Exiv2::AnyError &error) {
        update.error = QStringLiteral("the image's XMP cannot be updated: %1").arg(QString::fromLocal8Bit(error.what()));
    }
    return update;
}

LosslessOutcome WriteTagsLossless(const QString &source, const QString &target, const QList<TagValue> &values)
{
    ensureInitialised();
    SourceBytes original;
    if (const QString problem = original.open(source); !problem.isEmpty())
        return {LosslessOutcome::Failed, problem};

    for (const TagValue &value : values) {
        if (value.bytes.size() > MaxIptcValueBytes)
            return {LosslessOutcome::Failed, QStringLiteral("IPTC cannot hold the value of %1 (at most %2 bytes)")
                                                 .arg(QString::fromLatin1(slotInfo(value.slot).key))
                                                 .arg(MaxIptcValueBytes)};
    }

    const auto copyUnchanged = [&](LosslessOutcome::Status status) {
        return outcomeOf(status, writeBytes(target, original.data(), original.length()));
    };
    const int type = Exiv2::ImageFactory::getType(original.data(), long(original.length()));
    const bool jpeg = type == Exiv2::ImageType::jpeg;
    const bool tiff = type == Exiv2::ImageType::tiff;
    const bool iptc = jpeg || tiff;
    if (!iptc && type != Exiv2::ImageType::png)
        return copyUnchanged(LosslessOutcome::CopiedWithoutTags);
    if (values.isEmpty())
        return copyUnchanged(iptc ? LosslessOutcome::Tagged : LosslessOutcome::CopiedWithoutTags);

    try {
        auto *io = new TargetIo(original.data(), long(original.length()), target);
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(Exiv2::BasicIo::AutoPtr(io));
        if (!image.get())
            return {LosslessOutcome::Failed, QStringLiteral("the image's metadata cannot be read")};
        image->readMetadata();

        QList<TagValue> xmpValues = values;
        if (iptc) {
            writeIptc(image->iptcData(), values);
            xmpValues = withIimDateAndTime(values, image->iptcData());
        }
        const XmpUpdate xmp = UpdateXmpPacket(QByteArray::fromStdString(image->xmpPacket()), xmpValues);
        if (!xmp.error.isEmpty())
            return {LosslessOutcome::Failed, xmp.error};
        if (!iptc && !xmp.changed)
            return copyUnchanged(LosslessOutcome::CopiedWithoutTags);
        // The packet goes in as built, and an untouched one as it was read.
        if (xmp.changed)
            image->setXmpPacket(xmp.packet.toStdString());
        else
            image->writeXmpFromPacket(true);

        if (jpeg)
            io->digest = md5(Exiv2::IptcParser::encode(image->iptcData()), 1);
        if (tiff) // the IPTC tag holds whole 32-bit words, and readers hash its padding too
            updateTiffDigest(image->exifData(), md5(Exiv2::IptcParser::encode(image->iptcData()), 4));
        image->writeMetadata();
        const QString writeError = io->transferred ? io->error : io->writeInPlaceResult();
        return outcomeOf(iptc ? LosslessOutcome::Tagged : LosslessOutcome::TaggedXmpOnly, writeError);
    } catch (const Exiv2::AnyError &error) {
        return {LosslessOutcome::Failed,
                QStringLiteral("the metadata cannot be written: %1").arg(QString::fromLocal8Bit(error.what()))};
    }
}
