#pragma once

#include "engine/batchline.h"
#include "engine/metadata/tagreading.h"

#include <QString>

// A run speaks of what it did; the check, of what a run will do.
enum class Tense { Past, Future };

// The usual words for a note, one line, for the check, the command line and
// the window.
QString NoteText(const Note &note, Tense tense = Tense::Past);

// The notes' words joined by "; ".
QString NotesText(const QList<Note> &notes, Tense tense = Tense::Past);

// How a line's tags are written, in a few words: "IPTC and XMP", "XMP only",
// "XMP sidecar", "no tags".
QString TagPlaceText(TagPlace place);

// The words for a value read back that will not come back exactly, naming
// its field as the window does.
QString TagReadNoteText(const TagReadNote &note);
