#include "engine/tagexport.h"

#include "engine/sourceimage.h"
#include "engine/tagsonly.h"
#include "model/tagslots.h"

#include <QDir>

bool ExportReads(ImageFormat format)
{
    return UntaggedBecause(format).isEmpty();
}

ImageTags ReadImageTags(const SourceImage &source)
{
    ImageTags tags;
    if (!ExportReads(source.format())) {
        tags.failure = {NoteCode::WrittenWithoutTags, {UntaggedBecause(source.format())}};
        return tags;
    }
    const FoundMetadata found = ReadTagBlocks(source);
    const QByteArray iim = found.iimCopies.value(0);
    const TagReading reading = ReadTagSlots(iim, found.xmpPackets.value(0), DigestState(found.iptcDigest, iim));
    tags.values = reading.values;
    tags.notes = reading.notes;
    return tags;
}

QStringList ExportableImages(const QString &folder)
{
    QStringList names;
    const QStringList entries = QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    for (const QString &name : entries) {
        if (ExportReads(DetectFormat(QDir(folder).filePath(name))))
            names.append(name);
    }
    return names;
}

ExportTable BuildExportTable(const QStringList &names, const QList<ImageTags> &tags, bool allFields)
{
    ExportTable table;
    table.header << QString::fromLatin1(slotInfo(FileNameSlot).label.data(), qsizetype(slotInfo(FileNameSlot).label.size()));
    table.columnSlots << FileNameSlot;
    for (int slot = 1; slot <= TagSlotCount; ++slot) {
        const bool held = std::any_of(tags.begin(), tags.end(), [slot](const ImageTags &image) {
            return !image.values[slot - 1].isEmpty();
        });
        if (!held && !allFields)
            continue;
        table.header << QString::fromLatin1(slotInfo(slot).label.data(), qsizetype(slotInfo(slot).label.size()));
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
