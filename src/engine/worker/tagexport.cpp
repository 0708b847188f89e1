#include "engine/worker/tagexport.h"

#include "engine/metadata/iimblock.h"
#include "engine/platform/savefolder.h"
#include "engine/container/sourceimage.h"
#include "engine/container/tagsonly.h"
#include "engine/metadata/xmpsidecar.h"
#include "model/codepage.h"
#include "model/xmpfields.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <cerrno>

#include <sys/stat.h>

bool ExportReads(ImageFormat format)
{
    const TagPlace place = TagPlaceOf(format);
    return place == TagPlace::IptcAndXmp || place == TagPlace::XmpOnly;
}

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

namespace {
// Why the export does not list the file; none when it does: its first bytes
// show a type it reads, or it cannot be opened to read them. Other files
// (text, sidecars, types only the image library knows) are left out without
// being opened by a library. `sidecar` gets the sidecar read for a listed
// camera raw file or HEIF image.
Note leftOut(const QString &path, QString &sidecar)
{
    // A run's temporary may hold a whole image, but it is no photo of the folder.
    if (IsTemporaryName(QFileInfo(path).fileName()))
        return {NoteCode::TemporaryName, {}};
    // Anything but a file or a link to one (a device, a pipe) is not even opened.
    struct stat entry {};
    const QByteArray native = QFile::encodeName(path);
    if (::lstat(native.constData(), &entry) != 0)
        return {NoteCode::SourceMissing, {}};
    if (!(S_ISREG(entry.st_mode) || S_ISLNK(entry.st_mode)))
        return {NoteCode::SourceNotAFile, {}};
    const FileHead head = FormatOfFileHead(path);
    if (head.error)
        return head.error == ENOENT ? Note{NoteCode::SourceMissing, {}} : Note{};
    if (ExportReads(head.format))
        return {};
    if (TagPlaceOf(head.format) != TagPlace::Sidecar)
        return {NoteCode::UnknownType, {}};
    sidecar = ExistingSidecar(path);
    if (sidecar.isEmpty())
        return {NoteCode::ReadFailed, {QStringLiteral("it has no XMP sidecar, where its tags would be")}};
    return {};
}
} // namespace

ExportListing ExportableImages(const QString &folder)
{
    ExportListing listing;
    const QDir dir(folder);
    QSet<QString> readFor; // the sidecars read for listed photos
    // System too, for links that lead nowhere readable.
    const QStringList entries = dir.entryList(QDir::Files | QDir::System | QDir::Hidden, QDir::Name);
    for (const QString &name : entries) {
        QString sidecar;
        if (Note why = leftOut(dir.filePath(name), sidecar)) {
            listing.leftOut.append({name, why});
            continue;
        }
        listing.images.append(name);
        if (!sidecar.isEmpty())
            readFor.insert(QFileInfo(sidecar).fileName());
    }
    listing.leftOut.removeIf([&readFor](const LeftOutFile &file) { return readFor.contains(file.name); });
    return listing;
}

ExportTable BuildExportTable(const QStringList &names, const QList<ImageTags> &tags, bool allFields)
{
    ExportTable table;
    table.header << QString::fromLatin1(slotInfo(FileNameSlot).label.data(), qsizetype(slotInfo(FileNameSlot).label.size()));
    table.columnSlots << FileNameSlot;
    for (int slot = 1; slot <= AllSlotCount; ++slot) {
        if (!isValueSlot(slot))
            continue;
        const bool held = std::any_of(tags.begin(), tags.end(), [slot](const ImageTags &image) {
            return !image.values[slot - 1].isEmpty();
        });
        if (!held && !allFields)
            continue;
        table.header << (isXmpSlot(slot) ? XmpFieldLabel(slot)
                                         : QString::fromLatin1(slotInfo(slot).label.data(), qsizetype(slotInfo(slot).label.size())));
        table.columnSlots << slot;
    }
    for (qsizetype i = 0; i < names.size(); ++i) {
        QStringList row{names[i]};
        for (qsizetype c = 1; c < table.columnSlots.size(); ++c)
            row << tags.value(i).values[table.columnSlots[c] - 1];
        table.rows << row;
    }
    return table;
}
