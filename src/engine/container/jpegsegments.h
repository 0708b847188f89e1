#pragma once

#include <QByteArrayView>
#include <QList>

// How a JPEG file falls into segments: the one walk that writing, reading
// and the image's size all follow, so that none of them sees another file.

struct JpegSegment {
    unsigned char marker = 0;
    qsizetype start = 0; // the 0xFF of its marker
    qsizetype body = 0;  // just past its length
    qsizetype end = 0;   // one past it
};

struct JpegLayout {
    QList<JpegSegment> segments; // those before the first scan
    qsizetype scan = -1;         // the first SOS marker; -1 when the segments do not lead to one
    qsizetype stray = 0;         // bytes between segments that start no marker, which readers skip
    bool whole = false;          // the segments lead to a scan, to an end marker or to the file's end
    // A sound file of metadata alone: its segments end without a scan.
    bool noImage() const { return scan < 0 && whole; }
};

// The segments before the first scan, walked by their lengths; bytes
// between them that start no marker are skipped to the next 0xFF, as
// libjpeg skips them.
JpegLayout JpegSegments(QByteArrayView file);

// A start-of-frame marker, whose segment gives the image's size and components.
inline bool IsJpegFrameMarker(unsigned char marker)
{
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}
