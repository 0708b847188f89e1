#pragma once

#include "engine/batchline.h"
#include "engine/metadata/metadataedit.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

class SourceImage;
class XmpMemory;

// WebP files: a RIFF container of chunks. This program owns the XMP chunk
// ("XMP ") and the XMP flag of the VP8X chunk, which a simple file (VP8 or
// VP8L alone) gets when it gets XMP; every other chunk (ICCP, ANIM, ANMF,
// ALPH, EXIF, unknown ones) is copied as it stands, in its place. WebP has
// no home for IPTC.

struct WebpChunk {
    QByteArray type;
    qsizetype start = 0; // of its type
    qsizetype data = 0;
    qsizetype size = 0;  // of its data
    qsizetype end = 0;   // one past its padding byte (or the RIFF's end, where a last chunk lacks it)
};

struct WebpLayout {
    QList<WebpChunk> chunks;
    qsizetype riffEnd = 0; // one past what the RIFF header declares; bytes after it are kept as they stand
    QString damage;        // why the chunks cannot be walked to the RIFF's end; empty when they can
};

// The chunks, walked by their sizes.
WebpLayout WebpChunks(QByteArrayView file);

FoundMetadata ReadWebpMetadata(QByteArrayView file);

// Fills `out` with the source and the line's XMP; the IPTC-only fields are
// named in a FieldsWithoutHome note. A file whose chunks run past its end
// is refused.
LineOutcome WriteTaggedWebp(const SourceImage &source, const TagEdit &edit, XmpMemory &memory, int out);
