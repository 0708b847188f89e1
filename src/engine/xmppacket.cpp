#include "engine/xmppacket.h"

#include "engine/iimvalues.h"
#include "model/codepage.h"
#include "model/tagslots.h"

#include <QRegularExpression>
#include <QXmlStreamReader>

#include <exiv2/exiv2.hpp>

#include <string>
#include <string_view>

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
const TagValue *valueOfSlot(const QList<TagValue> &values, int slot)
{
    for (const TagValue &value : values) {
        if (value.slot == slot)
            return &value;
    }
    return nullptr;
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

// Packets may be stored in UTF-16, as the XMP specification allows.
QString packetText(const QByteArray &packet)
{
    if (packet.size() >= 2 && (packet.at(0) == '\0' || packet.at(1) == '\0'))
        return DecodeText(packet, packet.at(0) == '\0' ? TextEncoding::Utf16BE : TextEncoding::Utf16LE);
    return QString::fromUtf8(packet);
}

// Exiv2's XMP toolkit drops the description's rdf:about and gives namespaces
// it did not know a trailing "/", so strict readers lose those properties:
// both are put back as the source had them.
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

QString XmpDateFromIim(const QString &day, const QString &clock)
{
    if (!IsIimDate(day))
        return {};
    const QString result = day.left(4) + QLatin1Char('-') + day.mid(4, 2) + QLatin1Char('-') + day.mid(6, 2);
    if (!IsIimTime(clock))
        return result;
    return result
        + QStringLiteral("T%1:%2:%3%4%5:%6")
              .arg(clock.left(2), clock.mid(2, 2), clock.mid(4, 2), clock.mid(6, 1), clock.mid(7, 2), clock.mid(9, 2));
}

bool WellFormedXml(const QByteArray &text)
{
    QXmlStreamReader reader(text);
    while (!reader.atEnd())
        reader.readNext();
    return !reader.hasError();
}

XmpUpdate UpdateXmpPacket(const QByteArray &packet, const QList<TagValue> &values, XmpMemory &memory)
{
    XmpUpdate update;
    update.packet = packet;

    const TagValue *date = valueOfSlot(values, DateCreatedSlot);
    const TagValue *time = valueOfSlot(values, TimeCreatedSlot);
    const QString isoDate = date ? XmpDateFromIim(date->text, time ? time->text : QString()) : QString();
    bool anyProperty = !isoDate.isEmpty();
    for (const TagValue &value : values) {
        if (value.slot != DateCreatedSlot && value.slot != TimeCreatedSlot && !slotInfo(value.slot).xmp.empty())
            anyProperty = true;
    }
    if (!anyProperty)
        return update;

    PrepareExiv2();
    try {
        Exiv2::XmpData xmp;
        // Parsing a packet costs as much as the rest of the update: the
        // memory spares it for a packet the last image held too.
        if (const Exiv2::XmpData *parsed = packet.isEmpty() ? nullptr : memory.last->of(packet))
            xmp = *parsed;
        else if (!packet.isEmpty() && Exiv2::XmpParser::decode(xmp, packet.toStdString()) != 0) {
            update.error = {NoteCode::XmpUnreadable, {}};
            return update;
        }
        for (const TagValue &value : values) {
            const std::string_view name = slotInfo(value.slot).xmp;
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
            setText(xmp, Exiv2::XmpKey(std::string(slotInfo(DateCreatedSlot).xmp)), isoDate.toStdString());

        std::string encoded;
        if (Exiv2::XmpParser::encode(encoded, xmp, Exiv2::XmpParser::useCompactFormat) != 0) {
            update.error = {NoteCode::MetadataUnwritable, {QStringLiteral("the XMP packet cannot be written")}};
            return update;
        }
        const QByteArray written = keepSourceForm(packet, QByteArray::fromStdString(encoded));
        // The XMP toolkit writes a namespace's name as it read it, quotes
        // and all; what no reader could parse is not written.
        if (!WellFormedXml(written)) {
            update.error = {NoteCode::MetadataUnwritable, {QStringLiteral("the XMP packet would not be valid XML once written")}};
            return update;
        }
        update.packet = written;
        update.changed = true;
    } catch (const std::exception &error) {
        update.error = {NoteCode::MetadataUnwritable, {QString::fromLocal8Bit(error.what())}};
    }
    return update;
}

QByteArray PaddedXmpPacket(const QByteArray &packet, qsizetype size)
{
    const qsizetype trailer = packet.lastIndexOf("<?xpacket end=");
    if (trailer < 0 || packet.size() >= size)
        return packet;
    // Lines of spaces, as Adobe's writers pad: some readers choke on one long line.
    QByteArray padding(size - packet.size(), ' ');
    for (qsizetype i = 99; i < padding.size(); i += 100)
        padding[i] = '\n';
    return packet.left(trailer) + padding + packet.mid(trailer);
}
