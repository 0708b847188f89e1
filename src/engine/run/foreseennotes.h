#pragma once

#include "engine/batchline.h"

class SourceImage;

// The notes the writer will give for this line that this program's own
// readers can tell without writing anything or handing the file to a
// library: the value rules with the source's own IPTC character set, fields
// the format has no home for, a copy without tags, a damaged source, and in
// re-encoding the pixel limit and the refusals the file's headers decide.
// Not for a photo whose tags go into a sidecar: the check foresees that itself.
QList<Note> ForeseenNotes(const SourceImage &source, const TagEdit &edit, bool reencode, int maxMegapixels);
