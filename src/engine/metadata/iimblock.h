#pragma once

#include "engine/batchline.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

// IPTC IIM blocks: the datasets as stored, and the block a line's values
// make of them. Datasets the line does not set are carried byte for byte.

struct IimDataset {
    int record = 0;
    int dataset = 0;
    QByteArray bytes;  // its value
    QByteArray stored; // the whole dataset as the block holds it: marker, numbers, length and value
};

// The datasets of an IIM block, up to the first byte that starts none.
QList<IimDataset> ParseIim(QByteArrayView block);

// One dataset as it goes into a block, with an extended length when the
// value needs one.
QByteArray IimDatasetBytes(int record, int dataset, QByteArrayView value);

// Whether the envelope's coded character set (1:90) says UTF-8.
bool IimDeclaresUtf8(const QList<IimDataset> &datasets);

// The datasets of `copies` (every IIM block a file holds, the one readers
// take first) as one: the first copy's, then each dataset of a later copy
// whose record and dataset no copy before it holds.
QList<IimDataset> MergedIim(const QList<QByteArray> &copies);

struct IimEdit {
    QByteArray block;          // the new block
    QList<TagValue> xmpValues; // the values the XMP gets (the rules refuse some)
    QList<Note> notes;         // what the rules said of the values
    bool utf8 = false;         // the block's text is UTF-8
};

// The block that `copies` (every IIM block the file holds, the one readers
// take first) become with the line's values: each value replaces every
// dataset of its field in record 2; datasets a later copy holds and the
// first lacks are kept; everything else stays as stored, in record order.
// Values go in UTF-8 when the first copy declares it, or when the data file
// needs it and a value is not ASCII: the block then gets the 1:90 marker and
// its other text datasets, Latin by convention until then, become UTF-8.
IimEdit EditIim(const QList<QByteArray> &copies, const TagEdit &edit);

// The text of record 2's dataset `dataset` in the block, decoded as the
// block declares; empty when it has none.
QString IimText(const QList<IimDataset> &datasets, int dataset);
