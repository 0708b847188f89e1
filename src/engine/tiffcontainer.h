#pragma once

#include "engine/batchline.h"
#include "engine/metadataedit.h"

#include <QByteArrayView>
#include <QString>

class SourceImage;
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

LineOutcome WriteTaggedTiff(const SourceImage &source, const TagEdit &edit, XmpMemory &memory, int out);
