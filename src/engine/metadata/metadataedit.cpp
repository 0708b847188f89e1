#include "engine/metadata/metadataedit.h"

#include "engine/metadata/iimblock.h"
#include "engine/metadata/iimvalues.h"
#include "engine/metadata/tagreading.h"
#include "engine/metadata/xmppacket.h"
#include "model/tagslots.h"
#include "model/xmpfields.h"

namespace {
bool hasSlot(const QList<TagValue> &values, int slot)
{
    return std::any_of(values.begin(), values.end(), [slot](const TagValue &value) { return value.slot == slot; });
}

// The values with the file's own date or time beside a line's time or date.
QList<TagValue> withFileDateAndTime(QList<TagValue> values, const QString &fileDate, const QString &fileTime)
{
    const bool date = hasSlot(values, DateCreatedSlot);
    const bool time = hasSlot(values, TimeCreatedSlot);
    if (date == time)
        return values;
    const int missing = date ? TimeCreatedSlot : DateCreatedSlot;
    if (const QString inFile = date ? fileTime : fileDate; !inFile.isEmpty())
        values.append({missing, inFile});
    return values;
}

// The date and time a file of XMP alone holds, in their IIM forms; empty where it has none in that form.
std::pair<QString, QString> xmpDateAndTime(const QList<QByteArray> &packets)
{
    if (packets.isEmpty())
        return {};
    const TagReading read = ReadTagSlots({}, packets.front(), IptcDigest::Absent);
    const QString date = read.value(DateCreatedSlot);
    const QString time = read.value(TimeCreatedSlot);
    return {IsIimDate(date) ? date : QString(), IsIimTime(time) ? time : QString()};
}
// The fields with values that a format of XMP alone has no place for; a
// time is one when there is no date to join it with.
QList<Note> homelessNote(const QList<TagValue> &values, const QString &format)
{
    QStringList homeless{format};
    for (const TagValue &value : values) {
        if (isXmpSlot(value.slot))
            continue;
        if (slotInfo(value.slot).xmp.empty() || (value.slot == TimeCreatedSlot && !hasSlot(values, DateCreatedSlot)))
            homeless << SlotKey(value.slot);
    }
    if (homeless.size() == 1)
        return {};
    return {{NoteCode::FieldsWithoutHome, homeless}};
}
} // namespace

Note XmpOnlyRefusal(const Note &refusal, const QString &format)
{
    if (refusal.code != NoteCode::XmpUnreadable)
        return refusal;
    const QString why = refusal.details.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(refusal.details.front());
    return {NoteCode::MetadataUnwritable,
            {QStringLiteral("its XMP packet cannot be read%1, and %2 has no other place for the values").arg(why, format)}};
}

QList<Note> ValueNotes(const FoundMetadata &found, const TagEdit &edit, TagHomes homes, const QString &format)
{
    if (homes == TagHomes::IptcAndXmp)
        return EditIim(found.iimCopies, edit).notes;
    const IimValues checked = ToIimValues(edit.values, true, false);
    const bool timeAlone = hasSlot(checked.xmpValues, TimeCreatedSlot) && !hasSlot(checked.xmpValues, DateCreatedSlot);
    const QString date = timeAlone ? xmpDateAndTime(found.xmpPackets).first : QString();
    return checked.notes + homelessNote(withFileDateAndTime(checked.xmpValues, date, {}), format);
}

EditedMetadata EditMetadata(const FoundMetadata &found, const TagEdit &edit, TagHomes homes, const QString &format,
                            XmpMemory &memory)
{
    EditedMetadata result;
    QList<TagValue> xmpValues;
    if (homes == TagHomes::IptcAndXmp) {
        IimEdit iim = EditIim(found.iimCopies, edit);
        result.iim = iim.block;
        result.notes = iim.notes;
        const QList<IimDataset> datasets = ParseIim(iim.block);
        xmpValues = withFileDateAndTime(iim.xmpValues, IimText(datasets, slotInfo(DateCreatedSlot).dataset),
                                        IimText(datasets, slotInfo(TimeCreatedSlot).dataset));
    } else {
        const IimValues checked = ToIimValues(edit.values, true, false);
        const bool dateOrTimeAlone = hasSlot(checked.xmpValues, DateCreatedSlot) != hasSlot(checked.xmpValues, TimeCreatedSlot);
        const auto [date, time] = dateOrTimeAlone ? xmpDateAndTime(found.xmpPackets) : std::pair<QString, QString>();
        xmpValues = withFileDateAndTime(checked.xmpValues, date, time);
        result.notes = checked.notes + homelessNote(xmpValues, format);
    }

    result.xmpSet = XmpSettingsOf(xmpValues);
    const QList<QByteArray> packets = found.xmpPackets.isEmpty() ? QList<QByteArray>{QByteArray()} : found.xmpPackets;
    for (const QByteArray &packet : packets) {
        const XmpUpdate update = UpdateXmpPacket(packet, xmpValues, memory);
        if (update.error && homes == TagHomes::XmpOnly && !result.refusal)
            result.refusal = update.error;
        else if (update.error && !result.notes.contains(update.error))
            result.notes.append(update.error);
        result.xmpChanged = result.xmpChanged || update.changed;
        result.xmpPackets.append(update.packet);
    }
    if (!result.xmpChanged)
        result.xmpPackets = found.xmpPackets;
    return result;
}
