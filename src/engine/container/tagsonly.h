#pragma once

#include "engine/batchline.h"
#include "engine/metadata/metadataedit.h"

class SourceImage;
enum class ImageFormat;
class XmpMemory;

// Fills `out` (an open, empty file) with `source` byte for byte except the
// metadata blocks this program owns (IPTC, XMP and their companions), which
// carry the line's values. Each value replaces every dataset of its field;
// fields without a value, other datasets, EXIF, ICC profiles and every other
// segment, chunk or directory stay as they were. Formats that carry no tags
// here are copied unchanged, with a note; those whose tags go into a
// sidecar are copied unchanged without one. `memory` is what a worker keeps
// from line to line.
LineOutcome WriteTagsOnly(const SourceImage &source, const TagEdit &edit, XmpMemory &memory, int out);

// Why the source's image data are damaged (ending early, running past the
// end, a chunk's checksum wrong); empty when nothing is seen wrong.
QString SourceDamage(const SourceImage &source);

// Whether the source is a sound JPEG or TIFF that holds metadata but no image data.
bool HoldsNoImage(const SourceImage &source);

// Why the container writer refuses to put tags into the source, as the run
// and the check both say it (a JPEG or TIFF it cannot walk, a TIFF
// directory without room); none when it writes them.
Note TagsRefusal(const SourceImage &source);

// Where a line's tags go in an image of a format.
TagPlace TagPlaceOf(ImageFormat format);

// Why tags only copies a file of this format without tags; empty for the
// formats it writes.
QString UntaggedBecause(ImageFormat format);

// The blocks this program owns as the source holds them, read by its
// container's reader; none for a format it does not write.
FoundMetadata ReadTagBlocks(const SourceImage &source);
