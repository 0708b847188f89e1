#pragma once

#include "engine/batchline.h"
#include "engine/container/jpegsegments.h"
#include "engine/metadata/metadataedit.h"

#include <QByteArrayView>
#include <QList>
#include <QPair>
#include <QString>

class SourceImage;
class XmpMemory;

// JPEG files. This program owns the IPTC resource and its digest among the
// Photoshop resources of APP13, the standard XMP segments, and the IPTC
// record of a FotoStation trailer; every other byte is copied as it stands.


// The blocks this program owns, as readers find them.
FoundMetadata ReadJpegMetadata(QByteArrayView file);

// Why the image data is damaged; empty when nothing is seen wrong.
QString JpegDamage(QByteArrayView file, const JpegLayout &layout);

// The colour components of a JPEG's first frame, each with its horizontal
// and vertical sampling factors; no components when there is no frame.
struct JpegFrame {
    QList<QPair<int, int>> sampling;
    int components() const { return int(sampling.size()); }
};
JpegFrame JpegFrameOf(QByteArrayView file);

// Why the pictures an MPF header lists after the first (a gain map, a
// second view) cannot follow a re-encoded first picture: they do not all
// lie after its end. Empty when they can, or when there are none.
QString JpegPicturesUnmovable(QByteArrayView file);

// A re-encoded JPEG: the encoded image's frame (tables, frame header, scans)
// with every APPn and COM segment of the source around it, byte for byte,
// and whatever followed the source's image (a FotoStation trailer, further
// pictures, whose MPF offsets are set again). The
// source's JFIF segment is kept, else the encoded one; the Adobe segment is
// the encoded one, since it describes the encoded colour transform. Empty,
// with `*why`, when either file cannot be walked.
QByteArray ComposeReencodedJpeg(QByteArrayView source, QByteArrayView encoded, QString *why);

// Why tags cannot go into a JPEG of this layout (its segments cannot be
// followed to a scan or an end); none when they can.
Note JpegTagsRefusal(const JpegLayout &layout);

// Fills `out` with the source and the line's tags.
LineOutcome WriteTaggedJpeg(const SourceImage &source, const TagEdit &edit, XmpMemory &memory, int out);
