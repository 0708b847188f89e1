#pragma once

#include "engine/batchline.h"
#include "engine/metadata/metadataedit.h"

#include <QByteArrayView>
#include <QList>
#include <QString>

class SourceImage;
class TiffStructure;
struct TiffEntry;
class XmpMemory;

// TIFF, BigTIFF and DNG files. This program owns three entries of the first
// directory: IPTC (33723), XMP (700) and the IPTC resource and digest among
// its Photoshop resources (34377). A tagged copy is the source byte for
// byte with new blocks and a new first directory appended, and the header's
// pointer set to that directory: every page, strip, tile, sub-directory and
// maker note stays where it was.

FoundMetadata ReadTiffMetadata(QByteArrayView file);

// Why the image data is damaged (strips or tiles that run past the end);
// empty when nothing is seen wrong.
QString TiffDamage(QByteArrayView file);
// Why new directory blocks cannot be added to the file (its first directory
// unreadable, its chain in a circle or leading out); empty when they can.
QString TiffUnwritable(QByteArrayView file);

// Whether the file is sound but none of its directories holds image data
// (strips, tiles, sub-images or an old-style JPEG).
bool TiffHoldsNoImage(QByteArrayView file);
// Why the first directory has no room for the entries a tagged copy may
// add (a classic TIFF counts them in 16 bits); empty when it has.
QString TiffDirectoryFull(QByteArrayView file);
// Why tags cannot go into the file (TiffUnwritable, TiffDirectoryFull), as
// the run and the check both say it; none when they can.
Note TiffTagsRefusal(QByteArrayView file);

// Where the blocks a tagged copy starts from come from: by default the
// file's own; a re-encoded image takes the source's.
struct TiffBase {
    FoundMetadata found;
    bool resourcesHoldIptc = false; // the Photoshop resources keep a copy of the IPTC
};
TiffBase TiffBaseOf(QByteArrayView file);

LineOutcome WriteTaggedTiff(const SourceImage &source, const TagEdit &edit, XmpMemory &memory, int out,
                            const TiffBase *base = nullptr);

// An entry to be put into a page's directory, its value in the target's byte order.
struct TiffCarriedEntry {
    quint16 tag = 0;
    quint16 type = 0;
    quint64 count = 0;
    QByteArray value;
};

// The entry's value as `from` stores it, in the byte order `little` says.
QByteArray TiffValueInOrder(const TiffStructure &from, const TiffEntry &entry, bool little);

// The TIFF with the entries of added[i] put into page i's directory (each
// page gets a new directory, appended, so nothing else moves); the file
// itself when nothing is added.
QByteArray WithAddedTiffEntries(QByteArrayView file, const QList<QList<TiffCarriedEntry>> &added);
