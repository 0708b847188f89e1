#include "engine/metadataedit.h"

#include "engine/iimblock.h"
#include "engine/iimvalues.h"
#include "engine/xmppacket.h"
#include "model/tagslots.h"

namespace {
bool hasSlot(const QList<TagValue> &values, int slot)
{
    return std::any_of(values.begin(), values.end(), [slot](const TagValue &value) { return value.slot == slot; });
}

// The values with the file's own date or time beside a line's time or date.
QList<TagValue> withFileDateAndTime(QList<TagValue> values, const QList<IimDataset> &iim)
{
    const bool date = hasSlot(values, DateCreatedSlot);
    const bool time = hasSlot(values, TimeCreatedSlot);
    if (date == time)
        return values;
    const int missing = date ? TimeCreatedSlot : DateCreatedSlot;
    if (const QString inFile = IimText(iim, slotInfo(missing).dataset); !inFile.isEmpty())
        values.append({missing, inFile});
    return values;
}
// The fields with values that a format of XMP alone has no place for.
QList<Note> homelessNote(const QList<TagValue> &values, const QString &format)
{
    QStringList homeless{format};
    for (const TagValue &value : values) {
        if (slotInfo(value.slot).xmp.empty())
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
    return {NoteCode::MetadataUnwritable,
            {QStringLiteral("its XMP packet cannot be read, and %1 has no other place for the values").arg(format)}};
}

QList<Note> ValueNotes(const FoundMetadata &found, const TagEdit &edit, TagHomes homes, const QString &format)
{
    if (homes == TagHomes::IptcAndXmp)
        return EditIim(found.iimCopies, edit).notes;
    const IimValues checked = ToIimValues(edit.values, true, false);
    return checked.notes + homelessNote(checked.xmpValues, format);
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
        xmpValues = withFileDateAndTime(iim.xmpValues, ParseIim(iim.block));
    } else {
        const IimValues checked = ToIimValues(edit.values, true, false);
        result.notes = checked.notes + homelessNote(checked.xmpValues, format);
        xmpValues = checked.xmpValues;
    }

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
