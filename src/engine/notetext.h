#pragma once

#include "engine/batchline.h"
#include "engine/tagreading.h"

#include <QString>

// The usual words for a note, one line, for the check, the command line and
// the window.
QString NoteText(const Note &note);

// The notes' words joined by "; ".
QString NotesText(const QList<Note> &notes);

// How a line's tags are written, in a few words: "IPTC and XMP", "XMP only",
// "XMP sidecar", "no tags".
QString TagPlaceText(TagPlace place);

// The words for a value read back that will not come back exactly, naming
// its field as the window does.
QString TagReadNoteText(const TagReadNote &note);
