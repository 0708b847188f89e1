#pragma once

#include "engine/batchline.h"

class SourceImage;
class XmpMemory;

// Fills `out` (an open, empty file) with `source` byte for byte except the
// metadata blocks this program owns (IPTC, XMP and their companions), which
// carry the line's values. Each value replaces every dataset of its field;
// fields without a value, other datasets, EXIF, ICC profiles and every other
// segment, chunk or directory stay as they were. Formats that carry no tags
// here are copied unchanged, with a note. `memory` is what a worker keeps
// from line to line.
LineOutcome WriteTagsOnly(const SourceImage &source, const TagEdit &edit, int out, XmpMemory &memory);

// The notes the writer will give for this line that this program's own
// readers can tell without writing anything or handing the file to a
// library: the value rules with the source's own IPTC character set, fields
// the format has no home for, a copy without tags, a damaged source, and in
// re-encoding the pixel limit and the refusals the file's headers decide.
QList<Note> ForeseenNotes(const SourceImage &source, const TagEdit &edit, bool reencode, int maxMegapixels);

// Why the source's image data are damaged (ending early, running past the
// end, a chunk's checksum wrong); empty when nothing is seen wrong.
QString SourceDamage(const SourceImage &source);
