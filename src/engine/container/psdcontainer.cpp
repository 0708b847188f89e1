#include "engine/container/psdcontainer.h"

#include "engine/container/outputbytes.h"
#include "engine/container/sourceimage.h"
#include "engine/metadata/photoshopresources.h"
#include "engine/platform/bytereader.h"

#include <algorithm>

namespace {
constexpr qsizetype HeaderSize = 26;
constexpr qint64 MaxSection = 0xFFFFFFFFll;

QByteArrayView resourcesOf(QByteArrayView file, const PsdLayout &layout)
{
    return file.sliced(layout.resources + 4, layout.resourcesEnd - layout.resources - 4);
}
} // namespace

PsdLayout PsdSections(QByteArrayView file)
{
    PsdLayout layout;
    ByteReader reader(file, 4);
    const int version = reader.u16();
    reader.seek(HeaderSize);
    const qsizetype colourModeData = reader.u32();
    if (!reader.ok()) {
        layout.damage = QStringLiteral("it ends inside its header");
        return layout;
    }
    if (version != 1 && version != 2) {
        layout.damage = QStringLiteral("its header names version %1, neither PSD's nor PSB's").arg(version);
        return layout;
    }
    layout.resources = HeaderSize + 4 + colourModeData;
    if (!reader.skip(colourModeData) || !reader.has(4)) {
        layout.damage = QStringLiteral("its colour mode data run past the end of the file");
        return layout;
    }
    const qsizetype length = reader.u32();
    if (!reader.skip(length)) {
        layout.damage = QStringLiteral("its image resources run past the end of the file");
        return layout;
    }
    layout.resourcesEnd = layout.resources + 4 + length;
    bool whole = false;
    const QByteArrayView block = resourcesOf(file, layout);
    const QList<PhotoshopResource> resources = ParsePhotoshopResources(block, &whole);
    // Zeros after the last resource are padding; anything else is no resource a reader could pass.
    const QByteArrayView tail = block.sliced(resources.isEmpty() ? 0 : resources.back().end);
    if (!whole && !std::all_of(tail.begin(), tail.end(), [](char c) { return c == 0; })) {
        layout.damage = QStringLiteral("its image resources cannot be read whole");
        return layout;
    }
    // The layers' length takes eight bytes in a PSB.
    const quint64 layers = version == 2 ? reader.u64() : reader.u32();
    if (!reader.ok()) {
        layout.laterDamage = QStringLiteral("it ends before its layers");
        return layout;
    }
    if (layers > quint64(reader.left()))
        layout.laterDamage = QStringLiteral("its layers run past the end of the file");
    return layout;
}

FoundMetadata ReadPsdMetadata(QByteArrayView file)
{
    FoundMetadata found;
    const PsdLayout layout = PsdSections(file);
    if (layout.resourcesEnd == 0)
        return found;
    const QByteArrayView block = resourcesOf(file, layout);
    for (const PhotoshopResource &resource : ParsePhotoshopResources(block)) {
        const QByteArray data = block.sliced(resource.data, resource.size).toByteArray();
        if (resource.id == IptcResourceId)
            found.iimCopies.append(data);
        else if (resource.id == XmpResourceId)
            found.xmpPackets.append(data);
        else if (resource.id == IptcDigestId && !found.iptcDigest)
            found.iptcDigest = data;
    }
    return found;
}

LineOutcome WriteTaggedPsd(const SourceImage &source, const TagEdit &edit, XmpMemory &memory, int out)
{
    const QByteArrayView file = source.bytes();
    const PsdLayout layout = PsdSections(file);
    if (!layout.damage.isEmpty())
        return LineOutcome::failed(DamagedFileRefusal(layout.damage));
    const EditedMetadata edited = EditMetadata(ReadPsdMetadata(file), edit, TagHomes::IptcAndXmp, FormatName(ImageFormat::Psd), memory);
    QList<Note> notes = edited.notes;
    if (!layout.laterDamage.isEmpty())
        notes.prepend({NoteCode::SourceDamaged, {layout.laterDamage}});

    const QByteArrayView block = resourcesOf(file, layout);
    QByteArray updated = block.toByteArray();
    if (!edited.iim.isEmpty()) {
        const QByteArray digest = IptcDigestOf(edited.iim);
        updated = WithIptcResource(updated, {edited.iim, digest, true}, LaterIptcRecords(updated, edit));
        // Readers tell by the digest that the IPTC and the XMP were written in step.
        bool digestHeld = false;
        PhotoshopResourceData(updated, IptcDigestId, &digestHeld);
        if (!digestHeld)
            updated = WithPhotoshopResource(updated, IptcDigestId, {digest});
    }
    if (edited.xmpChanged)
        updated = WithPhotoshopResource(updated, XmpResourceId, edited.xmpPackets);
    if (updated.size() > MaxSection)
        return LineOutcome::failed({NoteCode::BlockTooLarge, {QStringLiteral("image resources"), QString::number(updated.size()),
                                                              QString::number(MaxSection)}});

    OutputBytes output;
    if (updated == block) {
        output.copy(0, file.size());
    } else {
        QByteArray section;
        PutBe32(section, quint32(updated.size()));
        output.copy(0, layout.resources);
        output.add(section + updated);
        // Layers and image data, the bulk of the file, go in the kernel.
        output.copy(layout.resourcesEnd, file.size());
    }
    if (Note failed = output.write(source, out))
        return LineOutcome::failed(failed);
    return LineOutcome::saved(notes);
}
