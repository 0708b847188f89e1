#pragma once

#include "engine/batchtag.h"
#include "engine/exiv2writer.h"

#include <QString>

enum class ImageType : int;

// Writes into the open file `target` the image of `source` decoded and encoded again in
// `type` with `saveFlags`, carrying with it everything of the source's
// metadata that the type holds: JPEG segments and trailer, PNG ancillary
// chunks, and a TIFF's EXIF, descriptive tags, ICC profile, Photoshop
// resources, IPTC and XMP, every page included. The tags then go in as
// WriteTagsLossless writes them, so both save modes give the same IPTC and
// XMP. Fails with a reason where the encoder would change the image's
// colour space, bit depth or page count (a CMYK JPEG, a Lab TIFF...).
WriteOutcome WriteReencoded(const QString &source, ImageType type, int saveFlags, int target,
                            const QList<TagValue> &values, bool unicodeData);
