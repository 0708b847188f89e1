#include "engine/metadata/iimblock.h"

#include "engine/metadata/iimvalues.h"
#include "engine/platform/bytereader.h"
#include "model/codepage.h"
#include "model/xmpfields.h"

#include <QSet>

#include <algorithm>

namespace {
constexpr int Marker = 0x1C;
constexpr int Envelope = 1;
constexpr int Application = 2;
constexpr int CodedCharacterSet = 90;
constexpr int RecordVersion = 0;
const QByteArray Utf8Designation("\x1b%G", 3); // ISO 2022's escape for UTF-8

using Key = QPair<int, int>;
Key keyOf(const IimDataset &dataset) { return {dataset.record, dataset.dataset}; }

// Text by convention in these datasets; the others hold numbers or binary data.
bool holdsText(const IimDataset &dataset)
{
    if (dataset.record == Application)
        return dataset.dataset != RecordVersion && dataset.dataset != 200 && dataset.dataset != 201
            && dataset.dataset != 202;
    if (dataset.record == Envelope) {
        static const QSet<int> text{5, 30, 40, 50, 60, 70, 80, 100};
        return text.contains(dataset.dataset);
    }
    return false;
}

IimDataset made(int record, int dataset, const QByteArray &value)
{
    return {record, dataset, value, IimDatasetBytes(record, dataset, value)};
}

bool anyWide(const QList<TagValue> &values)
{
    // The XMP slots never reach the IIM.
    return std::any_of(values.begin(), values.end(),
                       [](const TagValue &value) { return !isXmpSlot(value.slot) && !IsAscii(value.text); });
}
} // namespace

QList<IimDataset> ParseIim(QByteArrayView block)
{
    QList<IimDataset> datasets;
    ByteReader reader(block);
    while (reader.peek() == Marker) {
        const qsizetype start = reader.at();
        reader.skip(1);
        const int record = reader.u8();
        const int dataset = reader.u8();
        quint64 length = reader.u16();
        if (length & 0x8000) { // the length itself takes the next (length & 0x7FFF) bytes
            const qsizetype lengthBytes = qsizetype(length & 0x7FFF);
            if (lengthBytes > 4)
                break;
            length = 0;
            for (qsizetype i = 0; i < lengthBytes; ++i)
                length = (length << 8) | reader.u8();
        }
        const QByteArrayView value = reader.bytesOf(qsizetype(length));
        if (!reader.ok())
            break;
        datasets.append({record, dataset, value.toByteArray(), block.sliced(start, reader.at() - start).toByteArray()});
    }
    return datasets;
}

QByteArray IimDatasetBytes(int record, int dataset, QByteArrayView value)
{
    QByteArray out;
    out += char(Marker);
    out += char(record);
    out += char(dataset);
    if (value.size() < 0x8000) {
        PutBe16(out, quint32(value.size()));
    } else {
        PutBe16(out, 0x8004);
        PutBe32(out, quint32(value.size()));
    }
    out += value;
    return out;
}

bool IimDeclaresUtf8(const QList<IimDataset> &datasets)
{
    return std::any_of(datasets.begin(), datasets.end(), [](const IimDataset &d) {
        return d.record == Envelope && d.dataset == CodedCharacterSet && d.bytes == Utf8Designation;
    });
}

QString IimText(const QList<IimDataset> &datasets, int dataset)
{
    for (const IimDataset &d : datasets) {
        if (d.record == Application && d.dataset == dataset)
            return IimDeclaresUtf8(datasets) ? QString::fromUtf8(d.bytes) : DecodeAnsi(d.bytes);
    }
    return {};
}

QList<IimDataset> MergedIim(const QList<QByteArray> &copies)
{
    QList<IimDataset> datasets = copies.isEmpty() ? QList<IimDataset>() : ParseIim(copies.front());
    QSet<Key> present;
    for (const IimDataset &dataset : datasets)
        present.insert(keyOf(dataset));
    for (qsizetype c = 1; c < copies.size(); ++c) {
        QSet<Key> added;
        for (IimDataset &dataset : ParseIim(copies[c])) {
            if (present.contains(keyOf(dataset)))
                continue;
            added.insert(keyOf(dataset));
            datasets.append(std::move(dataset));
        }
        present.unite(added);
    }
    return datasets;
}

IimEdit EditIim(const QList<QByteArray> &copies, const TagEdit &edit)
{
    QList<IimDataset> datasets = MergedIim(copies);
    IimEdit result;
    result.utf8 = IimDeclaresUtf8(datasets);
    if (!result.utf8 && edit.unicodeData && anyWide(edit.values)) {
        // Text without the marker is Latin by convention; once it says UTF-8,
        // every dataset the line does not replace must be UTF-8 too.
        for (IimDataset &dataset : datasets) {
            if (holdsText(dataset) && !IsAscii(QString::fromLatin1(dataset.bytes)))
                dataset = made(dataset.record, dataset.dataset, DecodeAnsi(dataset.bytes).toUtf8());
        }
        datasets.removeIf([](const IimDataset &d) { return d.record == Envelope && d.dataset == CodedCharacterSet; });
        datasets.append(made(Envelope, CodedCharacterSet, Utf8Designation));
        result.utf8 = true;
    }

    const IimValues values = ToIimValues(edit.values, result.utf8);
    result.xmpValues = values.xmpValues;
    result.notes = values.notes;
    QSet<int> replaced;
    for (const TagValue &value : values.xmpValues) {
        if (!isXmpSlot(value.slot))
            replaced.insert(slotInfo(value.slot).dataset);
    }
    datasets.removeIf([&](const IimDataset &d) { return d.record == Application && replaced.contains(d.dataset); });
    const bool hasVersion = std::any_of(datasets.begin(), datasets.end(), [](const IimDataset &d) {
        return d.record == Application && d.dataset == RecordVersion;
    });
    if (!hasVersion && !values.items.isEmpty())
        datasets.append(made(Application, RecordVersion, QByteArray("\0\4", 2)));
    for (const IimItem &item : values.items)
        datasets.append(made(Application, item.dataset, item.bytes));

    // Records in order, and record 2's datasets by number as IIM lays them
    // out; datasets of one number keep their order.
    std::stable_sort(datasets.begin(), datasets.end(), [](const IimDataset &a, const IimDataset &b) {
        if (a.record != b.record)
            return a.record < b.record;
        return a.record <= Application && a.dataset < b.dataset;
    });
    for (const IimDataset &dataset : datasets)
        result.block += dataset.stored;
    return result;
}
