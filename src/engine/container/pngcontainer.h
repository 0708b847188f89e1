#pragma once

#include "engine/batchline.h"
#include "engine/metadata/metadataedit.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

class SourceImage;
class XmpMemory;

// PNG files. This program owns the XMP chunk (iTXt "XML:com.adobe.xmp")
// and the raw profile text chunks that hold IPTC or XMP ("Raw profile type
// iptc", "Raw profile type 8bim", "Raw profile type xmp"); every other
// chunk is copied as it stands, its checksum checked.

struct PngChunk {
    QByteArray type;
    qsizetype start = 0; // of its length field
    qsizetype data = 0;
    qsizetype size = 0;  // of its data
    qsizetype end = 0;   // one past its CRC
};

struct PngLayout {
    QList<PngChunk> chunks;
    bool whole = false; // the chunks run from the signature to IEND without a gap or a cut
    QStringList badChecksums; // the types of chunks whose CRC does not match
};

PngLayout PngChunks(QByteArrayView file);

// What is seen wrong in the chunks (checksums that do not match); empty when nothing.
QString PngDamage(const PngLayout &layout);

FoundMetadata ReadPngMetadata(QByteArrayView file);

// A re-encoded PNG: the encoded IHDR, PLTE, tRNS and IDAT with every
// ancillary chunk of the source in its place. Empty, with `*why`, when the
// encoded image is stored in another colour type or bit depth, so that the
// source's chunks (gamma, profile, significant bits) would no longer fit.
QByteArray ComposeReencodedPng(QByteArrayView source, QByteArrayView encoded, QString *why);

LineOutcome WriteTaggedPng(const SourceImage &source, const TagEdit &edit, XmpMemory &memory, int out);
