#include "engine/metadata/photoshopresources.h"

#include "engine/platform/bytereader.h"
#include "engine/metadata/iimblock.h"

#include <QCryptographicHash>

#include <algorithm>

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
} // namespace

qsizetype PhotoshopResourceEnd(QByteArrayView block, qsizetype pos)
{
    const QByteArrayView rest = block.sliced(pos);
    if (rest.size() < 4)
        return -1;
    if (!isSignature(rest))
        return -2;
    if (rest.size() < 7)
        return -1;
    const int nameLength = Bytes(rest)[6];
    // The name is a Pascal string padded to an even size, length byte included.
    const qsizetype sizeAt = 6 + ((nameLength + 2) & ~1);
    if (sizeAt + 4 > rest.size())
        return -1;
    const qsizetype dataSize = Be32(Bytes(rest) + sizeAt);
    if (dataSize > rest.size() - sizeAt - 4)
        return -1;
    return pos + std::min(sizeAt + 4 + dataSize + (dataSize & 1), rest.size());
}

QList<PhotoshopResource> ParsePhotoshopResources(QByteArrayView block, bool *whole)
{
    QList<PhotoshopResource> found;
    qsizetype pos = 0;
    while (pos < block.size()) {
        const qsizetype end = PhotoshopResourceEnd(block, pos);
        if (end < 0)
            break;
        const unsigned char *data = Bytes(block) + pos;
        const qsizetype sizeAt = 6 + ((data[6] + 2) & ~1);
        found.append({Be16(data + 4), pos, pos + sizeAt + 4, qsizetype(Be32(data + sizeAt)), end});
        pos = end;
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

QByteArray WithIptcResource(QByteArrayView block, const IptcResourceUpdate &update, const QList<QByteArray> &later)
{
    const QList<PhotoshopResource> resources = ParsePhotoshopResources(block);
    const qsizetype parsedEnd = resources.isEmpty() ? 0 : resources.back().end;
    QByteArray out;
    const bool held = std::any_of(resources.begin(), resources.end(),
                                  [](const PhotoshopResource &r) { return r.id == IptcResourceId; });
    bool placed = held || update.iim.isEmpty() || !update.addWhenMissing;
    qsizetype seenIptc = 0;
    for (const PhotoshopResource &resource : resources) {
        const QByteArrayView bytes = block.sliced(resource.start, resource.end - resource.start);
        if (resource.id == IptcResourceId) {
            // A later IPTC resource left as it was would be a stale copy.
            const QByteArray iim = seenIptc == 0 ? update.iim : later.value(seenIptc - 1);
            if (!iim.isEmpty())
                out += PhotoshopResourceBytes(IptcResourceId, iim);
            ++seenIptc;
            continue;
        }
        if (!placed && resource.id > IptcResourceId) {
            out += PhotoshopResourceBytes(IptcResourceId, update.iim);
            placed = true;
        }
        if (resource.id == IptcDigestId && resource.size == DigestBytes && update.digest.size() == DigestBytes) {
            out += bytes.first(resource.data - resource.start);
            out += update.digest;
            out += bytes.sliced(resource.data - resource.start + DigestBytes);
            continue;
        }
        out += bytes;
    }
    if (!placed)
        out += PhotoshopResourceBytes(IptcResourceId, update.iim);
    out += block.sliced(parsedEnd);
    return out;
}

QByteArray WithPhotoshopResource(QByteArrayView block, quint16 id, const QList<QByteArray> &data)
{
    const QList<PhotoshopResource> resources = ParsePhotoshopResources(block);
    const qsizetype parsedEnd = resources.isEmpty() ? 0 : resources.back().end;
    const bool held = std::any_of(resources.begin(), resources.end(), [id](const PhotoshopResource &r) { return r.id == id; });
    bool placed = held || data.isEmpty();
    qsizetype next = 0;
    QByteArray out;
    for (const PhotoshopResource &resource : resources) {
        if (!placed && resource.id > id) {
            out += PhotoshopResourceBytes(id, data.front());
            placed = true;
        }
        if (resource.id != id) {
            out += block.sliced(resource.start, resource.end - resource.start);
            continue;
        }
        if (next >= data.size())
            continue;
        const QByteArray &value = data[next++];
        out += block.sliced(resource.start, resource.data - 4 - resource.start); // signature, id and name
        PutBe32(out, quint32(value.size()));
        out += value;
        out.append(value.size() & 1, '\0');
    }
    if (!placed)
        out += PhotoshopResourceBytes(id, data.front());
    out += block.sliced(parsedEnd);
    return out;
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

QByteArray IptcDigest(const QByteArray &iim, int unit)
{
    QByteArray padded = iim;
    while (padded.size() % unit != 0)
        padded.append('\0');
    return QCryptographicHash::hash(padded, QCryptographicHash::Md5);
}
