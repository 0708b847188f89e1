#include "engine/metadata/xmppacket.h"

#include "engine/metadata/iimvalues.h"
#include "model/codepage.h"
#include "model/xmpfields.h"


#include <array>
#include <optional>
#include <string_view>

namespace {
const TagValue *valueOfSlot(const QList<TagValue> &values, int slot)
{
    for (const TagValue &value : values) {
        if (value.slot == slot)
            return &value;
    }
    return nullptr;
}
} // namespace

XmpName SlotXmpName(int slot)
{
    if (isXmpSlot(slot)) {
        const XmpFieldInfo &field = xmpField(slot);
        const auto text = [](std::string_view s) { return QString::fromLatin1(s.data(), qsizetype(s.size())); };
        return {XmpFieldUri(field), text(field.prefix), text(field.property), text(field.part), text(field.list)};
    }
    // The slot table names a property by its group and name, as "Xmp.dc.description".
    struct Group {
        std::string_view group;
        const char *prefix;
        const char *uri;
    };
    static constexpr Group groups[]{
        {"dc", "dc", "http://purl.org/dc/elements/1.1/"},
        {"photoshop", "photoshop", "http://ns.adobe.com/photoshop/1.0/"},
        {"iptc", "Iptc4xmpCore", "http://iptc.org/std/Iptc4xmpCore/1.0/xmlns/"},
    };
    const std::string_view key = slotInfo(slot).xmp;
    for (const Group &group : groups) {
        const std::size_t dot = 4 + group.group.size();
        if (key.size() > dot && key.substr(4, group.group.size()) == group.group && key[dot] == '.') {
            const std::string_view name = key.substr(dot + 1);
            return {QString::fromLatin1(group.uri), QString::fromLatin1(group.prefix),
                    QString::fromLatin1(name.data(), qsizetype(name.size()))};
        }
    }
    return {};
}

XmpForm SlotXmpForm(int slot)
{
    if (isXmpSlot(slot)) {
        switch (xmpField(slot).shape) {
        case XmpShape::LangAlt: return XmpForm::Alt;
        case XmpShape::Bag: return XmpForm::Bag;
        case XmpShape::Seq: return XmpForm::Seq;
        default: return XmpForm::Text;
        }
    }
    // As the XMP and IPTC Core schemas and the Metadata Working Group give them.
    static constexpr std::pair<std::string_view, XmpForm> forms[]{
        {"Xmp.dc.description", XmpForm::Alt}, {"Xmp.dc.rights", XmpForm::Alt},
        {"Xmp.dc.title", XmpForm::Alt},       {"Xmp.dc.subject", XmpForm::Bag},
        {"Xmp.dc.creator", XmpForm::Seq},     {"Xmp.photoshop.SupplementalCategories", XmpForm::Bag},
    };
    for (const auto &[key, form] : forms) {
        if (key == slotInfo(slot).xmp)
            return form;
    }
    return XmpForm::Text;
}

XmpMemory::XmpMemory() = default;
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

bool ReadableXmp(const QByteArray &packet)
{
    return ReadXmp(packet, {}).unreadable.isEmpty();
}

QList<XmpSetting> XmpSettingsOf(const QList<TagValue> &values)
{
    const TagValue *date = valueOfSlot(values, DateCreatedSlot);
    const TagValue *time = valueOfSlot(values, TimeCreatedSlot);
    const QString isoDate = date ? XmpDateFromIim(date->text, time ? time->text : QString()) : QString();
    // In slot order, the last value of a slot winning: the same line gives the same bytes.
    std::array<std::optional<XmpSetting>, AllSlotCount> bySlot;
    for (const TagValue &value : values) {
        if (isXmpSlot(value.slot)) {
            const XmpForm form = SlotXmpForm(value.slot);
            const bool list = form == XmpForm::Bag || form == XmpForm::Seq;
            bySlot[value.slot - 1] = XmpSetting{SlotXmpName(value.slot), form, list ? ListItems(value.text) : QStringList{value.text}};
            continue;
        }
        if (value.slot < 1 || value.slot > TagSlotCount || slotInfo(value.slot).xmp.empty() || value.slot == DateCreatedSlot
            || value.slot == TimeCreatedSlot)
            continue;
        const XmpForm form = SlotXmpForm(value.slot);
        const bool list = slotInfo(value.slot).role == SlotRole::List && form != XmpForm::Text && form != XmpForm::Alt;
        bySlot[value.slot - 1] = XmpSetting{SlotXmpName(value.slot), form, list ? ListItems(value.text) : QStringList{value.text}};
    }
    if (!isoDate.isEmpty())
        bySlot[DateCreatedSlot - 1] = XmpSetting{SlotXmpName(DateCreatedSlot), XmpForm::Text, {isoDate}};
    QList<XmpSetting> settings;
    for (const std::optional<XmpSetting> &setting : bySlot) {
        if (setting)
            settings.append(*setting);
    }
    return settings;
}

XmpUpdate UpdateXmpPacket(const QByteArray &packet, const QList<TagValue> &values, XmpMemory &)
{
    XmpUpdate update;
    update.packet = packet;
    const QList<XmpSetting> settings = XmpSettingsOf(values);
    if (settings.isEmpty())
        return update;

    const XmpEditResult edited = EditXmp(packet, settings);
    if (!edited.unreadable.isEmpty()) {
        update.error = {NoteCode::XmpUnreadable, {edited.unreadable}};
        return update;
    }
    if (!edited.unwritable.isEmpty()) {
        update.error = {NoteCode::MetadataUnwritable, {edited.unwritable}};
        return update;
    }
    update.packet = edited.packet;
    update.changed = edited.packet != packet;
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
