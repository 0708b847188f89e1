#include "engine/worker/imagetags.h"

#include "engine/run/exporttable.h"

#include "engine/container/sourceimage.h"
#include "engine/container/tagsonly.h"
#include "engine/metadata/iimblock.h"
#include "engine/metadata/xmpsidecar.h"
#include "model/codepage.h"

#include <QSet>

namespace {
// The field of a record-2 dataset; 0 for none of the 23.
int slotOfDataset(int dataset)
{
    for (int slot = 1; slot <= TagSlotCount; ++slot) {
        if (slotInfo(slot).dataset == dataset)
            return slot;
    }
    return 0;
}

// Values of later IIM blocks that a run drops, since an earlier block holds their field.
QList<TagReadNote> droppedValues(const QList<QByteArray> &copies, const QList<IimDataset> &kept)
{
    QList<TagReadNote> notes;
    QSet<QByteArray> seen;
    for (const IimDataset &dataset : kept)
        seen.insert(dataset.stored);
    for (qsizetype c = 1; c < copies.size(); ++c) {
        const QList<IimDataset> datasets = ParseIim(copies.at(c));
        const bool utf8 = IimDeclaresUtf8(datasets);
        for (const IimDataset &dataset : datasets) {
            const int slot = dataset.record == 2 ? slotOfDataset(dataset.dataset) : 0;
            if (slot == 0 || seen.contains(dataset.stored))
                continue;
            seen.insert(dataset.stored);
            notes.append({TagReadCode::OtherIimBlock, slot,
                          {utf8 ? QString::fromUtf8(dataset.bytes) : DecodeAnsi(dataset.bytes)}});
        }
    }
    return notes;
}
// A sidecar's XMP alone, as a run writes it for a photo it does not rewrite.
ImageTags readSidecar(const QString &path, bool unicodeData)
{
    ImageTags tags;
    const QString sidecar = ExistingSidecar(path);
    if (sidecar.isEmpty()) {
        tags.failure = {NoteCode::ReadFailed, {QStringLiteral("its XMP sidecar is gone")}};
        return tags;
    }
    const SidecarFile file = ReadSidecarFile(sidecar);
    if (file.failure) {
        tags.failure = file.failure;
        return tags;
    }
    const TagReading reading = ReadTagSlots({}, file.bytes, IptcDigest::Absent, unicodeData);
    tags.values = reading.values;
    tags.notes = reading.notes;
    return tags;
}
} // namespace

ImageTags ReadImageTags(const SourceImage &source, bool unicodeData)
{
    ImageTags tags;
    if (TagPlaceOf(source.format()) == TagPlace::Sidecar)
        return readSidecar(source.path(), unicodeData);
    if (!ExportReads(source.format())) {
        tags.failure = {NoteCode::UnknownType, {}};
        return tags;
    }
    const FoundMetadata found = ReadTagBlocks(source);
    if (found.refusal) {
        tags.failure = found.refusal;
        return tags;
    }
    // A run warns of such a file; its tags are not taken as though it were sound.
    if (const QString damage = SourceDamage(source); !damage.isEmpty()) {
        tags.failure = {NoteCode::SourceDamaged, {damage}};
        return tags;
    }
    // A run keeps what later blocks add, as readers that merge them show it.
    const QList<IimDataset> kept = MergedIim(found.iimCopies);
    QByteArray iim;
    for (const IimDataset &dataset : kept)
        iim += dataset.stored;
    const IptcDigest digest = DigestState(found.iptcDigest, found.iimCopies.value(0));
    const TagReading reading = ReadTagSlots(iim, found.xmpPackets.value(0), digest, unicodeData);
    tags.values = reading.values;
    tags.notes = reading.notes + droppedValues(found.iimCopies, kept);
    return tags;
}

ImageTags ReadImageTagsAt(const QString &path, bool unicodeData)
{
    SourceImage source;
    if (Note why = source.open(path)) {
        ImageTags tags;
        tags.failure = why;
        return tags;
    }
    return ReadImageTags(source, unicodeData);
}

