#include "engine/metadata/photoshopresources.h"

#include "engine/metadata/iimblock.h"
#include "engine/platform/bytereader.h"

#include <QCryptographicHash>

#include <algorithm>
#include <functional>
#include <optional>

namespace {
constexpr int DigestBytes = 16;

bool isSignature(QByteArrayView at)
{
    for (const char *signature : {"8BIM", "MeSa", "PHUT", "AgHg", "DCSR", "8B64"}) {
        if (StartsWith(at, signature))
            return true;
    }
    return false;
}

// The whole resource that starts at `pos`; none when no signature starts
// there or it runs past the block.
std::optional<PhotoshopResource> resourceAt(QByteArrayView block, qsizetype pos)
{
    ByteReader reader(block, pos);
    if (!isSignature(reader.bytesOf(4)))
        return std::nullopt;
    PhotoshopResource resource;
    resource.id = reader.u16();
    // The name is a Pascal string padded to an even size, length byte included.
    const int nameLength = reader.u8();
    reader.skip(nameLength | 1);
    resource.size = reader.u32();
    resource.start = pos;
    resource.data = reader.at();
    if (!reader.skip(resource.size) || !reader.ok())
        return std::nullopt;
    // The padding byte may be missing at the block's end.
    reader.skip(resource.size & 1);
    resource.end = reader.at();
    return resource;
}
} // namespace

qsizetype PhotoshopResourceEnd(QByteArrayView block, qsizetype pos)
{
    const std::optional<PhotoshopResource> resource = resourceAt(block, pos);
    if (resource)
        return resource->end;
    return ByteReader(block, pos).has(4) && !isSignature(block.sliced(pos)) ? -2 : -1;
}

QList<PhotoshopResource> ParsePhotoshopResources(QByteArrayView block, bool *whole)
{
    QList<PhotoshopResource> found;
    qsizetype pos = 0;
    while (pos < block.size()) {
        const std::optional<PhotoshopResource> resource = resourceAt(block, pos);
        if (!resource)
            break;
        found.append(*resource);
        pos = resource->end;
    }
    if (whole)
        *whole = pos == block.size();
    return found;
}

QByteArray PhotoshopResourceData(QByteArrayView block, quint16 id, bool *found)
{
    for (const PhotoshopResource &resource : ParsePhotoshopResources(block)) {
        if (resource.id != id)
            continue;
        if (found)
            *found = true;
        return block.sliced(resource.data, resource.size).toByteArray();
    }
    if (found)
        *found = false;
    return {};
}

QByteArray PhotoshopResourceBytes(quint16 id, QByteArrayView data)
{
    QByteArray out("8BIM");
    PutBe16(out, id);
    out += QByteArray(2, '\0'); // an empty name, padded
    PutBe32(out, quint32(data.size()));
    out += data;
    if (data.size() & 1)
        out += '\0';
    return out;
}

namespace {
// The one rewriter of a block: each resource `id` holds becomes, in order,
// what `replace` makes of it (nothing takes it out); `added` goes in id order
// into a block that holds none. Everything else, and whatever follows the
// resources, byte for byte.
QByteArray rewritten(QByteArrayView block, quint16 id,
                     const std::function<QByteArray(const PhotoshopResource &, qsizetype)> &replace,
                     const std::optional<QByteArray> &added)
{
    const QList<PhotoshopResource> resources = ParsePhotoshopResources(block);
    const qsizetype parsedEnd = resources.isEmpty() ? 0 : resources.back().end;
    const bool held = std::any_of(resources.begin(), resources.end(), [id](const PhotoshopResource &r) { return r.id == id; });
    bool placed = held || !added;
    qsizetype next = 0;
    QByteArray out;
    for (const PhotoshopResource &resource : resources) {
        if (!placed && resource.id > id) {
            out += PhotoshopResourceBytes(id, *added);
            placed = true;
        }
        if (resource.id == id)
            out += replace(resource, next++);
        else
            out += block.sliced(resource.start, resource.end - resource.start);
    }
    if (!placed)
        out += PhotoshopResourceBytes(id, *added);
    out += block.sliced(parsedEnd);
    return out;
}

// The resource with its signature, id and name kept and its data now `value`.
QByteArray withData(QByteArrayView block, const PhotoshopResource &resource, QByteArrayView value)
{
    QByteArray out = block.sliced(resource.start, resource.data - 4 - resource.start).toByteArray();
    PutBe32(out, quint32(value.size()));
    out += value;
    out.append(value.size() & 1, '\0');
    return out;
}
} // namespace

QByteArray WithIptcResource(QByteArrayView block, const IptcResourceUpdate &update, const QList<QByteArray> &later)
{
    const bool add = !update.iim.isEmpty() && update.addWhenMissing;
    QByteArray out = rewritten(
        block, IptcResourceId,
        [&](const PhotoshopResource &, qsizetype index) {
            // A later IPTC resource left as it was would be a stale copy.
            const QByteArray iim = index == 0 ? update.iim : later.value(index - 1);
            return iim.isEmpty() ? QByteArray() : PhotoshopResourceBytes(IptcResourceId, iim);
        },
        add ? std::optional(update.iim) : std::nullopt);
    if (update.digest.size() != DigestBytes)
        return out;
    return rewritten(
        out, IptcDigestId,
        [&](const PhotoshopResource &resource, qsizetype) {
            return resource.size == DigestBytes ? withData(out, resource, update.digest)
                                                : out.sliced(resource.start, resource.end - resource.start);
        },
        std::nullopt);
}

QByteArray WithPhotoshopResource(QByteArrayView block, quint16 id, const QList<QByteArray> &data)
{
    return rewritten(
        block, id,
        [&](const PhotoshopResource &resource, qsizetype index) {
            return index < data.size() ? withData(block, resource, data[index]) : QByteArray();
        },
        data.isEmpty() ? std::nullopt : std::optional(data.front()));
}

QList<QByteArray> LaterIptcRecords(QByteArrayView block, const TagEdit &edit)
{
    QList<QByteArray> later;
    qsizetype records = 0;
    for (const PhotoshopResource &resource : ParsePhotoshopResources(block)) {
        if (resource.id == IptcResourceId && records++ > 0)
            later.append(EditIim({block.sliced(resource.data, resource.size).toByteArray()}, edit).block);
    }
    return later;
}

QByteArray IptcDigestOf(const QByteArray &iim, int unit)
{
    QByteArray padded = iim;
    while (padded.size() % unit != 0)
        padded.append('\0');
    return QCryptographicHash::hash(padded, QCryptographicHash::Md5);
}
