#include "engine/container/tiffcontainer.h"

#include "engine/container/outputbytes.h"
#include "engine/container/sourceimage.h"
#include "engine/container/tiffstructure.h"
#include "engine/metadata/photoshopresources.h"
#include "engine/platform/bytereader.h"

#include <QSet>

#include <QHash>
#include <QMap>

#include <algorithm>

namespace {
// Numbers in the file's byte order and offset size.
class TiffWriter {
public:
    explicit TiffWriter(const TiffStructure &tiff) : tiff(tiff) {}

    void u16(QByteArray &out, quint32 v) const { tiff.littleEndian() ? PutLe16(out, v) : PutBe16(out, v); }
    void u32(QByteArray &out, quint32 v) const { tiff.littleEndian() ? PutLe32(out, v) : PutBe32(out, v); }
    void offset(QByteArray &out, quint64 v) const
    {
        if (!tiff.big()) {
            u32(out, quint32(v));
            return;
        }
        if (tiff.littleEndian()) {
            u32(out, quint32(v));
            u32(out, quint32(v >> 32));
        } else {
            u32(out, quint32(v >> 32));
            u32(out, quint32(v));
        }
    }

    // An entry whose value is `value`: in the entry when it fits, else
    // appended to `data` (kept on even offsets), which starts at `dataAt` in the file.
    QByteArray entry(quint16 tag, quint16 type, quint64 count, const QByteArray &value, QByteArray &data, qsizetype dataAt) const
    {
        QByteArray out;
        u16(out, tag);
        u16(out, type);
        offset(out, count); // the count takes as many bytes as an offset
        if (value.size() <= tiff.offsetSize())
            return out + value + QByteArray(tiff.offsetSize() - value.size(), '\0');
        offset(out, quint64(dataAt + data.size()));
        data += value;
        data.append(data.size() & 1, '\0');
        return out;
    }

    // A directory of `entries`, each as it goes into the file, in tag order
    // (entries of one tag keep theirs), then the offset of the next one.
    QByteArray directory(QList<std::pair<quint16, QByteArray>> entries, quint64 next) const
    {
        std::stable_sort(entries.begin(), entries.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
        QByteArray out;
        if (tiff.big())
            offset(out, quint64(entries.size()));
        else
            u16(out, quint32(entries.size()));
        for (const auto &entry : entries)
            out += entry.second;
        offset(out, next);
        return out;
    }

private:
    const TiffStructure &tiff;
};

// A classic TIFF counts a directory's entries in 16 bits.
constexpr quint32 MaxClassicEntries = 0xFFFF;
// The entries a tagged copy may add to the first directory: IPTC, XMP and Photoshop resources.
constexpr quint32 OwnedEntries = 3;

struct NewBlock {
    quint16 tag = 0;
    quint16 type = 0;
    QByteArray value;
};

quint16 typeOr(const std::optional<TiffEntry> &entry, std::initializer_list<TiffType> allowed, TiffType otherwise)
{
    if (entry) {
        for (const TiffType type : allowed) {
            if (entry->type == quint16(type))
                return entry->type;
        }
    }
    return quint16(otherwise);
}
} // namespace

TiffBase TiffBaseOf(QByteArrayView file)
{
    TiffBase base{ReadTiffMetadata(file), false};
    const TiffStructure tiff(file);
    const QList<qsizetype> ifds = tiff.directories();
    if (const auto resources = ifds.isEmpty() ? std::nullopt : tiff.entry(ifds.front(), TiffTag::Photoshop))
        PhotoshopResourceData(tiff.valueBytes(*resources), IptcResourceId, &base.resourcesHoldIptc);
    return base;
}

FoundMetadata ReadTiffMetadata(QByteArrayView file)
{
    FoundMetadata found;
    const TiffStructure tiff(file);
    const QList<qsizetype> ifds = tiff.directories();
    if (ifds.isEmpty())
        return found;
    QByteArray photoshopIptc;
    bool photoshopHeld = false;
    for (const TiffEntry &entry : tiff.entries(ifds.front())) {
        if (entry.tag == TiffTag::Iptc)
            found.iimCopies.prepend(tiff.valueBytes(entry).toByteArray());
        else if (entry.tag == TiffTag::Xmp)
            found.xmpPackets.append(tiff.valueBytes(entry).toByteArray());
        else if (entry.tag == TiffTag::Photoshop) {
            photoshopIptc = PhotoshopResourceData(tiff.valueBytes(entry), IptcResourceId, &photoshopHeld);
            bool digest = false;
            const QByteArray stored = PhotoshopResourceData(tiff.valueBytes(entry), IptcDigestId, &digest);
            if (digest)
                found.iptcDigest = stored;
        }
    }
    if (photoshopHeld)
        found.iimCopies.append(photoshopIptc);
    return found;
}

QString TiffUnwritable(QByteArrayView file)
{
    const TiffStructure tiff(file);
    const QList<qsizetype> ifds = tiff.directories();
    bool whole = false;
    if (!ifds.isEmpty())
        tiff.entries(ifds.front(), &whole);
    if (!whole)
        return QStringLiteral("its first directory cannot be read whole");
    // A new first directory would make the way back into a loop one page
    // more, and what is appended could make a directory that ran past the
    // end one page more too.
    const quint64 last = tiff.offsetAt(tiff.nextPointerAt(ifds.back()));
    if (quint64(ifds.front()) == last)
        return QStringLiteral("its chain of directories runs in a circle");
    if (last != 0 && !ifds.contains(qsizetype(last)))
        return QStringLiteral("its chain of directories leads outside it");
    return {};
}

bool TiffHoldsNoImage(QByteArrayView file)
{
    if (!TiffUnwritable(file).isEmpty())
        return false;
    const TiffStructure tiff(file);
    for (const qsizetype ifd : tiff.directories()) {
        for (const TiffEntry &entry : tiff.entries(ifd)) {
            if (entry.tag == TiffTag::StripOffsets || entry.tag == TiffTag::TileOffsets || entry.tag == TiffTag::SubIfds
                || entry.tag == TiffTag::JpegInterchange)
                return false;
        }
    }
    return true;
}

QString TiffDirectoryFull(QByteArrayView file)
{
    const TiffStructure tiff(file);
    const QList<qsizetype> ifds = tiff.directories();
    if (tiff.big() || ifds.isEmpty())
        return {};
    const quint32 count = tiff.u16(ifds.front());
    if (count + OwnedEntries <= MaxClassicEntries)
        return {};
    return QStringLiteral("its first directory holds %1 entries, too many to add tags to in a TIFF, whose directories hold at most %2")
        .arg(count)
        .arg(MaxClassicEntries);
}

Note TiffTagsRefusal(QByteArrayView file)
{
    if (const QString why = TiffUnwritable(file); !why.isEmpty())
        return DamagedFileRefusal(why);
    if (const QString why = TiffDirectoryFull(file); !why.isEmpty())
        return {NoteCode::MetadataUnwritable, {why}};
    return {};
}

QString TiffDamage(QByteArrayView file)
{
    if (QString why = TiffUnwritable(file); !why.isEmpty())
        return why;
    const TiffStructure tiff(file);
    // An array that several directories share is checked once, and the
    // numbers read in all are bounded by the file's size: a file of many
    // directories over one large array costs its size, not more.
    QSet<qsizetype> checked;
    qsizetype budget = file.size() + 4096;
    for (const qsizetype ifd : tiff.directories()) {
        for (const auto &[offsetsTag, countsTag] : {std::pair{TiffTag::StripOffsets, TiffTag::StripByteCounts},
                                                    std::pair{TiffTag::TileOffsets, TiffTag::TileByteCounts}}) {
            const auto offsets = tiff.entry(ifd, offsetsTag);
            const auto counts = tiff.entry(ifd, countsTag);
            if (!offsets || !counts || checked.contains(offsets->value))
                continue;
            checked.insert(offsets->value);
            const QList<quint64> starts = tiff.numbers(*offsets, budget);
            const QList<quint64> lengths = tiff.numbers(*counts, starts.size());
            budget -= 2 * starts.size();
            if (budget <= 0)
                return {};
            for (qsizetype i = 0; i < std::min(starts.size(), lengths.size()); ++i) {
                if (starts[i] > quint64(file.size()) || lengths[i] > quint64(file.size()) - starts[i])
                    return QStringLiteral("its image data runs past the end of the file");
            }
        }
    }
    return {};
}

LineOutcome WriteTaggedTiff(const SourceImage &source, const TagEdit &edit, XmpMemory &memory, int out,
                            const TiffBase *base)
{
    const QByteArrayView file = source.bytes();
    if (Note refusal = TiffTagsRefusal(file))
        return LineOutcome::failed(refusal);
    const TiffStructure tiff(file);
    const QList<qsizetype> ifds = tiff.directories();
    const QList<TiffEntry> entries = tiff.entries(ifds.front());
    const TiffBase own = base ? TiffBase() : TiffBaseOf(file);
    const TiffBase &from = base ? *base : own;
    const FoundMetadata &found = from.found;
    const EditedMetadata edited = EditMetadata(found, edit, TagHomes::IptcAndXmp, FormatName(source.format()), memory);
    QList<Note> notes = edited.notes;
    if (const QString damage = TiffDamage(file); !damage.isEmpty())
        notes.prepend({NoteCode::SourceDamaged, {damage}});
    if (TiffHoldsNoImage(file))
        notes.prepend({NoteCode::NoImage, {}});

    const auto existing = [&](quint16 tag) -> std::optional<TiffEntry> {
        for (const TiffEntry &entry : entries) {
            if (entry.tag == tag)
                return entry;
        }
        return std::nullopt;
    };
    QList<NewBlock> blocks;
    if (!edited.iim.isEmpty()) {
        // The tag holds whole 32-bit words, and readers hash its padding too.
        QByteArray iim = edited.iim;
        iim.append(QByteArray((4 - iim.size() % 4) % 4, '\0'));
        blocks.append({TiffTag::Iptc, typeOr(existing(TiffTag::Iptc), {TiffType::Long, TiffType::Undefined, TiffType::Byte}, TiffType::Long), iim});
        if (const auto resources = existing(TiffTag::Photoshop)) {
            const QByteArrayView block = tiff.valueBytes(*resources);
            // A copy in the resources is kept current where the file had one, never added.
            const QByteArray updated
                = WithIptcResource(block, {from.resourcesHoldIptc ? edited.iim : QByteArray(), IptcDigestOf(iim), from.resourcesHoldIptc},
                                   from.resourcesHoldIptc ? LaterIptcRecords(block, edit) : QList<QByteArray>());
            if (updated != block)
                blocks.append({TiffTag::Photoshop, typeOr(resources, {TiffType::Byte, TiffType::Undefined}, TiffType::Undefined), updated});
        }
    }
    if (edited.xmpChanged && !edited.xmpPackets.isEmpty())
        blocks.append({TiffTag::Xmp, typeOr(existing(TiffTag::Xmp), {TiffType::Byte, TiffType::Undefined}, TiffType::Byte),
                       edited.xmpPackets.front()});
    if (blocks.isEmpty())
        return WriteUnchanged(source, out, notes);

    // The new blocks, then the new first directory, each on an even offset.
    const TiffWriter writer(tiff);
    QByteArray appended;
    const qsizetype end = file.size() + (file.size() & 1);
    QHash<quint16, QByteArray> newEntries;
    for (const NewBlock &block : blocks) {
        const int unit = TiffTypeSize(block.type);
        newEntries.insert(block.tag, writer.entry(block.tag, block.type, quint64(block.value.size() / unit), block.value, appended, end));
    }
    QList<std::pair<quint16, QByteArray>> directory;
    for (const TiffEntry &entry : entries) {
        if (!newEntries.contains(entry.tag))
            directory.append({entry.tag, file.sliced(entry.at, tiff.entrySize()).toByteArray()});
    }
    for (auto it = newEntries.begin(); it != newEntries.end(); ++it)
        directory.append({it.key(), it.value()});
    const quint64 ifdAt = quint64(end + appended.size());
    appended += writer.directory(directory, tiff.offsetAt(tiff.nextPointerAt(ifds.front())));
    if (!tiff.big() && quint64(end) + quint64(appended.size()) > 0xFFFFFFFFull)
        return LineOutcome::failed({NoteCode::BlockTooLarge, {QStringLiteral("TIFF"), QString::number(end + appended.size()),
                                                              QString::number(0xFFFFFFFFull)}});

    OutputBytes output;
    QByteArray pointer;
    writer.offset(pointer, ifdAt);
    output.copy(0, tiff.firstPointerAt());
    output.add(pointer);
    output.copy(tiff.firstPointerAt() + tiff.offsetSize(), file.size());
    output.add(QByteArray(end - file.size(), '\0') + appended);
    if (Note failed = output.write(source, out))
        return LineOutcome::failed(failed);
    return LineOutcome::saved(notes);
}

QByteArray TiffValueInOrder(const TiffStructure &from, const TiffEntry &entry, bool little)
{
    QByteArray value = from.valueBytes(entry).toByteArray();
    if (from.littleEndian() == little)
        return value;
    // Rationals are two numbers of four bytes, as are the signed ones.
    int unit = TiffTypeSize(entry.type);
    if (entry.type == quint16(TiffType::Rational) || entry.type == quint16(TiffType::SRational))
        unit = 4;
    if (entry.type == quint16(TiffType::Ascii) || entry.type == quint16(TiffType::Undefined))
        unit = 1;
    for (qsizetype at = 0; unit > 1 && at + unit <= value.size(); at += unit)
        std::reverse(value.begin() + at, value.begin() + at + unit);
    return value;
}

QByteArray WithAddedTiffEntries(QByteArrayView file, const QList<QList<TiffCarriedEntry>> &added)
{
    if (std::all_of(added.begin(), added.end(), [](const QList<TiffCarriedEntry> &page) { return page.isEmpty(); }))
        return file.toByteArray();
    const TiffStructure tiff(file);
    const TiffWriter writer(tiff);
    const QList<qsizetype> ifds = tiff.directories();
    QByteArray out = file.toByteArray();
    out.append(out.size() & 1, '\0');
    QList<qsizetype> newIfds;
    QList<qsizetype> nextFields;
    for (qsizetype page = 0; page < ifds.size(); ++page) {
        QMap<quint16, QByteArray> entries; // by tag, as a directory orders them
        for (const TiffEntry &entry : tiff.entries(ifds[page]))
            entries.insert(entry.tag, file.sliced(entry.at, tiff.entrySize()).toByteArray());
        for (const TiffCarriedEntry &carried : added.value(page)) {
            // A count that does not fit would wrap and lose the whole directory.
            if (entries.contains(carried.tag) || (!tiff.big() && quint32(entries.size()) >= MaxClassicEntries))
                continue;
            QByteArray value;
            entries.insert(carried.tag, writer.entry(carried.tag, carried.type, carried.count, carried.value, value, out.size()));
            out += value;
        }
        QList<std::pair<quint16, QByteArray>> directory;
        for (auto it = entries.begin(); it != entries.end(); ++it)
            directory.append({it.key(), it.value()});
        newIfds.append(out.size());
        out += writer.directory(directory, 0);
        nextFields.append(out.size() - tiff.offsetSize());
    }
    // The chain runs through the new directories, and ends where the old one did.
    for (qsizetype page = 0; page + 1 < newIfds.size(); ++page) {
        QByteArray pointer;
        writer.offset(pointer, quint64(newIfds[page + 1]));
        out.replace(nextFields[page], pointer.size(), pointer);
    }
    QByteArray first;
    writer.offset(first, quint64(newIfds.value(0)));
    out.replace(tiff.firstPointerAt(), first.size(), first);
    return out;
}
