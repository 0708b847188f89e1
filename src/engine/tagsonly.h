#pragma once

#include "engine/batchline.h"

#include <QList>

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
