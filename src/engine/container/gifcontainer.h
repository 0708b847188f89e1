#pragma once

#include "engine/batchline.h"
#include "engine/metadata/metadataedit.h"

#include <QByteArrayView>
#include <QList>
#include <QString>

class SourceImage;
class XmpMemory;

// GIF files. This program owns the XMP application extension ("XMP
// DataXMP", the packet followed by its 258-byte magic trailer); every
// other block (frames, their colour tables, graphic control, comment,
// loop and ICC extensions) is copied as it stands. GIF has no home for
// IPTC.

struct GifBlock {
    unsigned char introducer = 0; // 0x21 an extension, 0x2C an image, 0x3B the trailer
    unsigned char label = 0;      // an extension's label
    qsizetype start = 0;
    qsizetype end = 0;            // one past its terminator
};

struct GifLayout {
    qsizetype header = 0;   // one past the header, the screen descriptor and the global colour table
    QList<GifBlock> blocks; // in order, up to the trailer (a file may end without one)
    QString damage;         // why the blocks cannot be walked to the end; empty when they can
};

// The blocks, each walked sub-block by sub-block.
GifLayout GifBlocks(QByteArrayView file);

// Whether the block is an XMP application extension.
bool IsGifXmp(QByteArrayView file, const GifBlock &block);

FoundMetadata ReadGifMetadata(QByteArrayView file);

// Fills `out` with the source and the line's XMP; the IPTC-only fields are
// named in a FieldsWithoutHome note. A file whose blocks run past its end
// is refused.
LineOutcome WriteTaggedGif(const SourceImage &source, const TagEdit &edit, XmpMemory &memory, int out);
