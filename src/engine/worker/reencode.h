#pragma once

#include "engine/batchline.h"

#include <QString>

class SourceImage;
enum class ImageFormat;

// Whether re-encoding decodes and encodes this format; the others are
// written as tags only writes them.
bool ReencodingCovers(ImageFormat format);

// Why re-encoding refuses this source from its headers alone, before
// decoding it: TooManyPixels when a page declares more than `maxMegapixels`,
// ReencodeRefused for a change the encoder would make that the headers tell
// (a CMYK JPEG, a BigTIFF); none when they tell nothing against it.
Note ReencodeRefusal(const SourceImage &source, int maxMegapixels);

// Fills `out` with the image of `source` decoded and encoded again in its
// own type, with the save flags the output's name `outputName` chooses,
// carrying with it everything of the source's metadata that the type holds:
// JPEG segments and trailer, PNG ancillary chunks, and a TIFF's EXIF,
// descriptive tags, ICC profile, Photoshop resources, IPTC and XMP, every
// page included. The tags then go in as WriteTagsOnly writes them, so both
// save modes give the same IPTC and XMP. Skipped when a page declares more
// than `maxMegapixels`; fails with a reason where the encoder would change
// the image's colour space, bit depth or page count (a CMYK JPEG, a Lab
// TIFF...), and for formats it does not encode.
LineOutcome WriteReencoded(const SourceImage &source, const TagEdit &edit, const QString &outputName,
                           int maxMegapixels, int out);
