#include "engine/run/exporttable.h"

#include "engine/container/sourceimage.h"
#include "engine/container/tagsonly.h"
#include "engine/metadata/xmpsidecar.h"
#include "engine/platform/savefolder.h"
#include "engine/platform/sourcefile.h"
#include "model/codepage.h"
#include "model/xmpfields.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <cerrno>


bool ExportReads(ImageFormat format)
{
    const TagPlace place = TagPlaceOf(format);
    return place == TagPlace::IptcAndXmp || place == TagPlace::XmpOnly;
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
    switch (EntryKindOf(path)) {
    case EntryKind::Missing:
        return {NoteCode::SourceMissing, {}};
    case EntryKind::Other:
        return {NoteCode::SourceNotAFile, {}};
    case EntryKind::FileOrLink:
        break;
    }
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
