#include "engine/metadata/tagreading.h"

#include "engine/metadata/iimblock.h"
#include "engine/metadata/iimvalues.h"
#include "engine/metadata/xmppacket.h"
#include "model/codepage.h"
#include "model/xmpfields.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QSet>
#include <QStringDecoder>

#include <algorithm>
#include <string>

IptcDigest DigestState(const std::optional<QByteArray> &stored, const QByteArray &block)
{
    if (!stored)
        return IptcDigest::Absent;
    return *stored == QCryptographicHash::hash(block, QCryptographicHash::Md5) ? IptcDigest::Matches
                                                                                : IptcDigest::Differs;
}

namespace {
// A side's items of one field; none when that side lacks the field.
using Items = std::optional<QStringList>;

struct IimField {
    QStringList items;
    bool notUtf8 = false;
    qsizetype largest = 0; // bytes of the largest item as stored
};

struct IimFields {
    bool utf8 = false;
    std::array<IimField, TagSlotCount> fields;

    Items of(int slot) const
    {
        const QStringList &items = fields[slot - 1].items;
        return items.isEmpty() ? Items() : items;
    }
};

// Some writers end IIM text with NUL bytes, which are no part of the value.
QByteArray withoutTrailingNuls(QByteArray bytes)
{
    while (bytes.endsWith('\0'))
        bytes.chop(1);
    return bytes;
}

IimFields readIim(const QByteArray &block)
{
    const QList<IimDataset> datasets = ParseIim(block);
    IimFields read;
    read.utf8 = IimDeclaresUtf8(datasets);
    for (const IimDataset &dataset : datasets) {
        for (int slot = 1; slot <= TagSlotCount && dataset.record == 2; ++slot) {
            if (slotInfo(slot).dataset != dataset.dataset)
                continue;
            IimField &field = read.fields[slot - 1];
            const QByteArray bytes = withoutTrailingNuls(dataset.bytes);
            field.largest = std::max(field.largest, bytes.size());
            if (!read.utf8) {
                field.items.append(DecodeAnsi(bytes));
                continue;
            }
            // A leading U+FEFF is part of the value, not a mark to drop.
            QStringDecoder decoder(QStringConverter::Utf8,
                                   QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
            field.items.append(decoder.decode(bytes));
            field.notUtf8 = field.notUtf8 || decoder.hasError();
        }
    }
    return read;
}

struct XmpFields {
    bool readable = true;
    std::array<Items, TagSlotCount> fields;

    Items of(int slot) const { return fields[slot - 1]; }
};

// A property's items: a language alternative's default, an array's items,
// or the text. Translations are not the value a run writes, so a property
// without a default counts as absent.
XmpFields readXmp(const QByteArray &packet)
{
    XmpFields read;
    if (packet.isEmpty())
        return read;
    QList<XmpName> names;
    for (int slot = 1; slot <= TagSlotCount; ++slot)
        names.append(SlotXmpName(slot));
    const XmpRead xmp = ReadXmp(packet, names);
    read.readable = xmp.unreadable.isEmpty();
    for (int slot = 1; slot <= TagSlotCount && read.readable; ++slot) {
        const bool alternative = SlotXmpForm(slot) == XmpForm::Alt;
        if (!names[slot - 1].name.isEmpty() && xmp.present[slot - 1] && !(alternative && xmp.values[slot - 1].isEmpty()))
            read.fields[slot - 1] = xmp.values[slot - 1];
    }
    return read;
}

int encodedSize(QStringView text, bool utf8)
{
    return int(utf8 ? text.toUtf8().size() : EncodeAnsi(text).size());
}

// Whether the IIM text is the XMP text cut to the field's limit at a
// character, as writers keep the two when the text outgrows IIM.
bool cutFrom(const QString &iim, const QString &xmp, int limit, bool utf8)
{
    if (iim.size() >= xmp.size() || !xmp.startsWith(iim))
        return false;
    const qsizetype next = xmp.at(iim.size()).isHighSurrogate() && iim.size() + 1 < xmp.size() ? 2 : 1;
    return encodedSize(iim, utf8) <= limit && encodedSize(QStringView(xmp).first(iim.size() + next), utf8) > limit;
}

bool sameItem(const QString &iim, const QString &xmp, int limit, bool utf8)
{
    return iim == xmp || cutFrom(iim, xmp, limit, utf8);
}

bool agree(const QStringList &iim, const QStringList &xmp, int limit, bool utf8)
{
    if (iim.size() != xmp.size())
        return false;
    for (qsizetype i = 0; i < iim.size(); ++i) {
        if (!sameItem(iim.at(i), xmp.at(i), limit, utf8))
            return false;
    }
    return true;
}

bool anyText(const Items &items)
{
    return items && std::any_of(items->begin(), items->end(), [](const QString &item) { return !item.isEmpty(); });
}

// An XMP date in IIM form; `exact` when a run given that form writes the
// same XMP date back.
struct IimDateTime {
    QString date;
    QString time;
    bool exact = false;
};

IimDateTime iimFromXmpDate(const QString &text)
{
    static const QRegularExpression form(QStringLiteral("^([0-9]{4})-([0-9]{2})-([0-9]{2})"
                                                        "(?:T([0-9]{2}):([0-9]{2})(?::([0-9]{2})(?:\\.([0-9]+))?)?"
                                                        "(Z|[+-][0-9]{2}:[0-9]{2})?)?$"));
    const QRegularExpressionMatch match = form.match(text);
    IimDateTime result;
    if (!match.hasMatch())
        return result;
    result.date = match.captured(1) + match.captured(2) + match.captured(3);
    if (!IsIimDate(result.date))
        return {};
    if (!match.hasCaptured(4)) {
        result.exact = true;
        return result;
    }
    const QString zone = match.captured(8);
    const QString seconds = match.hasCaptured(6) ? match.captured(6) : QStringLiteral("00");
    result.time = match.captured(4) + match.captured(5) + seconds
        + (zone == QLatin1String("Z") ? QStringLiteral("+0000") : zone.left(3) + zone.mid(4));
    // IIM has no fraction of a second and no time without a zone.
    const QString fraction = match.captured(7);
    const bool wholeSecond = std::all_of(fraction.begin(), fraction.end(), [](QChar c) { return c == u'0'; });
    result.exact = !zone.isEmpty() && wholeSecond && IsIimTime(result.time);
    return result;
}

class Reconciler {
public:
    Reconciler(const QByteArray &iimBlock, const QByteArray &packet, IptcDigest digest, bool unicodeData)
        : packet(packet), iim(readIim(iimBlock)), xmp(readXmp(packet)),
          xmpPreferred(iimBlock.isEmpty() || digest != IptcDigest::Differs),
          growsToUtf8(!iimBlock.isEmpty() && !iim.utf8 && unicodeData)
    {
    }

    TagReading read()
    {
        if (!xmp.readable)
            note(TagReadCode::XmpUnreadable, 0, {});
        for (int slot = 1; slot <= TagSlotCount; ++slot) {
            if (slot != DateCreatedSlot && slot != TimeCreatedSlot)
                readField(slot);
        }
        readDateAndTime();
        noteUtf8Growth();
        noteRefusals();
        readXmpSlots();
        return std::move(result);
    }

private:
    void note(TagReadCode code, int slot, QStringList details)
    {
        result.notes.append({code, slot, std::move(details)});
    }

    void readField(int slot)
    {
        const TagSlotInfo &info = slotInfo(slot);
        const Items fromIim = iim.of(slot);
        const Items fromXmp = xmp.of(slot);
        const bool xmpTaken = xmpPreferred && fromXmp;
        QStringList chosen;
        if (xmpTaken) {
            chosen = *fromXmp;
        } else if (fromIim) {
            chosen = *fromIim;
            for (qsizetype i = 0; fromXmp && i < chosen.size() && i < fromXmp->size(); ++i) {
                if (cutFrom(chosen.at(i), fromXmp->at(i), info.maxBytes, iim.utf8))
                    chosen[i] = fromXmp->at(i);
            }
        }
        const Items &other = xmpTaken ? fromIim : fromXmp;
        const bool differ = !fromIim || !fromXmp || !agree(*fromIim, *fromXmp, info.maxBytes, iim.utf8);
        if (differ && anyText(other))
            note(TagReadCode::Disagrees, slot,
                 {xmpTaken ? QStringLiteral("IPTC") : QStringLiteral("XMP"), other->join(QLatin1Char(';'))});
        result.values[slot - 1] = chosen.join(QLatin1Char(';'));

        if (info.role != SlotRole::List && chosen.size() > 1)
            note(TagReadCode::Repeated, slot, {QString::number(chosen.size())});
        for (const QString &item : chosen) {
            if (info.role == SlotRole::List && (item.isEmpty() || item.contains(QLatin1Char(';'))))
                note(TagReadCode::ListItemSplit, slot, {item});
        }
        if (xmpTaken || !fromIim)
            return;
        const IimField &field = iim.fields[slot - 1];
        if (field.notUtf8)
            note(TagReadCode::NotUtf8, slot, {});
        // Text too long is cut by a run; other forms are refused, as noteRefusals() says.
        const bool cut = info.role == SlotRole::Text || info.role == SlotRole::List;
        if (cut && field.largest > info.maxBytes && result.values[slot - 1] == fromIim->join(QLatin1Char(';')))
            note(TagReadCode::OverLimit, slot, {QString::number(field.largest), QString::number(info.maxBytes)});
    }

    // One XMP property stands for both IIM fields. An XMP date without a
    // time holds no time, so the IIM's stands, as a run would join them.
    void readDateAndTime()
    {
        const QString iimDate = iim.of(DateCreatedSlot).value_or(QStringList()).join(QLatin1Char(';'));
        const QString iimTime = iim.of(TimeCreatedSlot).value_or(QStringList()).join(QLatin1Char(';'));
        const Items fromXmp = xmp.of(DateCreatedSlot);
        const QString xmpDate = fromXmp.value_or(QStringList()).join(QLatin1Char(';'));
        const IimDateTime converted = iimFromXmpDate(xmpDate);
        QString &date = result.values[DateCreatedSlot - 1];
        QString &time = result.values[TimeCreatedSlot - 1];
        if (!xmpPreferred || !fromXmp) {
            date = iimDate;
            time = iimTime;
            const bool kept = converted.exact && converted.date == iimDate
                && (converted.time.isEmpty() || converted.time == iimTime);
            if (!kept && !xmpDate.isEmpty())
                note(TagReadCode::Disagrees, DateCreatedSlot, {QStringLiteral("XMP"), xmpDate});
            return;
        }
        date = converted.exact ? converted.date : xmpDate;
        time = !converted.exact ? QString() : converted.time.isEmpty() ? iimTime : converted.time;
        if (!converted.exact && !xmpDate.isEmpty())
            note(TagReadCode::DateForm, DateCreatedSlot, {xmpDate});
        if ((!iimDate.isEmpty() && iimDate != date) || (!iimTime.isEmpty() && iimTime != time))
            note(TagReadCode::Disagrees, DateCreatedSlot,
                 {QStringLiteral("IPTC"), (iimDate + QLatin1Char(' ') + iimTime).trimmed()});
    }

    // A run that writes one non-ASCII value of a Unicode data file into a
    // Windows-1252 block converts the whole block to UTF-8, where text takes more bytes.
    void noteUtf8Growth()
    {
        if (!growsToUtf8 || std::all_of(result.values.begin(), result.values.end(), IsAscii))
            return;
        for (int slot = 1; slot <= TagSlotCount; ++slot) {
            const TagSlotInfo &info = slotInfo(slot);
            const QString &value = result.values[slot - 1];
            if (info.role != SlotRole::Text && info.role != SlotRole::List)
                continue;
            const QStringList items = info.role == SlotRole::List ? ListItems(value) : QStringList{value};
            for (const QString &item : items) {
                const int bytes = encodedSize(item, true);
                if (bytes > info.maxBytes && encodedSize(item, false) <= info.maxBytes)
                    note(TagReadCode::GrowsInUtf8, slot, {QString::number(bytes), QString::number(info.maxBytes)});
            }
        }
    }

    // What the run's own rule for values would not write.
    void noteRefusals()
    {
        QList<TagValue> given;
        for (int slot = 1; slot <= TagSlotCount; ++slot) {
            const bool asStored = std::any_of(result.notes.begin(), result.notes.end(), [slot](const TagReadNote &n) {
                return n.slot == slot && n.code == TagReadCode::DateForm;
            });
            if (!result.values[slot - 1].isEmpty() && !asStored)
                given.append({slot, result.values[slot - 1]});
        }
        QSet<int> written;
        for (const TagValue &value : ToIimValues(given, iim.utf8).xmpValues)
            written.insert(value.slot);
        for (const TagValue &value : given) {
            if (!written.contains(value.slot))
                note(TagReadCode::Refused, value.slot, {value.text});
        }
    }

    // The properties of XMP alone, each as its slot's value would write it
    // again; what the rule for values would not write is told.
    void readXmpSlots()
    {
        if (packet.isEmpty() || !xmp.readable)
            return;
        QList<XmpName> names;
        for (int slot = FirstXmpSlot; slot <= AllSlotCount; ++slot)
            names.append(SlotXmpName(slot));
        const XmpRead read = ReadXmp(packet, names);
        for (int slot = FirstXmpSlot; slot <= AllSlotCount && read.unreadable.isEmpty(); ++slot) {
            const QStringList &items = read.values[slot - FirstXmpSlot];
            const XmpForm form = SlotXmpForm(slot);
            for (const QString &item : (form == XmpForm::Bag || form == XmpForm::Seq) ? items : QStringList()) {
                if (item.isEmpty() || item.contains(QLatin1Char(';')))
                    note(TagReadCode::ListItemSplit, slot, {item});
            }
            const QString value = items.join(QLatin1Char(';'));
            result.values[slot - 1] = value;
            QString rule;
            if (!value.isEmpty() && !XmpFieldValue(slot, value, &rule))
                note(TagReadCode::Refused, slot, {value});
        }
    }

    const QByteArray &packet;
    const IimFields iim;
    const XmpFields xmp;
    const bool xmpPreferred; // the guidelines' choice for fields that both sides hold
    const bool growsToUtf8;  // a run may write the Windows-1252 block in UTF-8
    TagReading result;
};
} // namespace

TagReading ReadTagSlots(const QByteArray &iim, const QByteArray &xmpPacket, IptcDigest digest, bool unicodeData)
{
    return Reconciler(iim, xmpPacket, digest, unicodeData).read();
}
