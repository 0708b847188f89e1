#include "engine/exiv2writer.h"

#include "model/codepage.h"
#include "model/tagslots.h"

#include <QCryptographicHash>
#include <QDate>
#include <QFile>

#include <exiv2/exiv2.hpp>

#include <cstring>
#include <string>
#include <vector>

namespace {
constexpr int DateCreatedSlot = 7;
constexpr int TimeCreatedSlot = 22;
constexpr uint16_t KeywordsDataset = 25;
constexpr uint16_t SupplementalCategoryDataset = 20;
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

const Exiv2::byte *bytesOf(const QByteArray &data)
{
    return reinterpret_cast<const Exiv2::byte *>(data.constData());
}

std::string utf8Of(const QByteArray &ansi)
{
    return DecodeAnsi(ansi).toUtf8().toStdString();
}

bool isListDataset(int dataset)
{
    return dataset == KeywordsDataset || dataset == SupplementalCategoryDataset;
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
bool updateJpegDigest(QByteArray &jpeg, const QByteArray &digest)
{
    static const QByteArray signature("Photoshop 3.0\0", 14);
    struct Piece {
        qsizetype fileOffset;
        qsizetype size;
    };
    std::vector<Piece> pieces;
    QByteArray resources;
    const auto *data = reinterpret_cast<const unsigned char *>(jpeg.constData());
    const qsizetype size = jpeg.size();
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
            resources.append(jpeg.constData() + body + signature.size(), bodySize - signature.size());
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
        std::memcpy(jpeg.data() + piece.fileOffset, resources.constData() + at, size_t(piece.size));
        at += piece.size;
    }
    return true;
}

QString errorText(const QString &what, const QFile &file)
{
    return QStringLiteral("%1: %2").arg(what, file.errorString());
}

QString writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return errorText(QStringLiteral("cannot write the file"), file);
    if (file.write(bytes) != bytes.size() || !file.flush())
        return errorText(QStringLiteral("cannot write the file"), file);
    file.close();
    if (file.error() != QFileDevice::NoError)
        return errorText(QStringLiteral("cannot write the file"), file);
    return {};
}

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
    QFile input(source);
    if (!input.open(QIODevice::ReadOnly))
        return {LosslessOutcome::Failed, errorText(QStringLiteral("cannot read the image"), input)};
    const QByteArray original = input.readAll();
    if (input.error() != QFileDevice::NoError)
        return {LosslessOutcome::Failed, errorText(QStringLiteral("cannot read the image"), input)};
    input.close();

    for (const TagValue &value : values) {
        if (value.bytes.size() > MaxIptcValueBytes)
            return {LosslessOutcome::Failed, QStringLiteral("IPTC cannot hold the value of %1 (at most %2 bytes)")
                                                 .arg(QString::fromLatin1(slotInfo(value.slot).key))
                                                 .arg(MaxIptcValueBytes)};
    }

    const int type = Exiv2::ImageFactory::getType(bytesOf(original), long(original.size()));
    const bool jpeg = type == Exiv2::ImageType::jpeg;
    const bool tiff = type == Exiv2::ImageType::tiff;
    const bool iptc = jpeg || tiff;
    if (!iptc && type != Exiv2::ImageType::png)
        return outcomeOf(LosslessOutcome::CopiedWithoutTags, writeBytes(target, original));
    if (values.isEmpty())
        return outcomeOf(iptc ? LosslessOutcome::Tagged : LosslessOutcome::CopiedWithoutTags,
                         writeBytes(target, original));

    try {
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(bytesOf(original), long(original.size()));
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
            return outcomeOf(LosslessOutcome::CopiedWithoutTags, writeBytes(target, original));
        // The packet goes in as built, and an untouched one as it was read.
        if (xmp.changed)
            image->setXmpPacket(xmp.packet.toStdString());
        else
            image->writeXmpFromPacket(true);

        QByteArray digest;
        if (jpeg)
            digest = md5(Exiv2::IptcParser::encode(image->iptcData()), 1);
        if (tiff) // the IPTC tag holds whole 32-bit words, and readers hash its padding too
            updateTiffDigest(image->exifData(), md5(Exiv2::IptcParser::encode(image->iptcData()), 4));
        image->writeMetadata();

        Exiv2::BasicIo &io = image->io();
        if (io.open() != 0)
            return {LosslessOutcome::Failed, QStringLiteral("the tagged image cannot be read back")};
        QByteArray output(qsizetype(io.size()), Qt::Uninitialized);
        const long read = io.read(reinterpret_cast<Exiv2::byte *>(output.data()), long(output.size()));
        io.close();
        if (read != long(output.size()))
            return {LosslessOutcome::Failed, QStringLiteral("the tagged image cannot be read back")};
        if (jpeg)
            updateJpegDigest(output, digest);
        return outcomeOf(iptc ? LosslessOutcome::Tagged : LosslessOutcome::TaggedXmpOnly, writeBytes(target, output));
    } catch (const Exiv2::AnyError &error) {
        return {LosslessOutcome::Failed,
                QStringLiteral("the metadata cannot be written: %1").arg(QString::fromLocal8Bit(error.what()))};
    }
}
