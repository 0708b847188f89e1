#pragma once

#include "engine/batchline.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// One IIM dataset of record 2 as it goes into a file.
struct IimItem {
    int slot = 0;
    int dataset = 0;
    QByteArray bytes;
};

struct IimValues {
    QList<IimItem> items;      // slot order; a list's items in their order
    QList<TagValue> xmpValues; // what the XMP gets: every value the rules accept
    QList<Note> notes;         // ValueCut and ValueNotWritten, for the line's report
};

// The items of a list value in their order; empty pieces (a trailing ";")
// would only make empty keywords.
QStringList ListItems(const QString &value);

// The one rule for a line's values, which the run and the check both ask:
// a date, time, urgency or country code not in its IIM form is written
// nowhere, in IPTC or XMP, since no reader could take it for what it
// claims; a value holding a character XML 1.0 cannot carry (a control
// character, U+FFFE...) is written nowhere either, so IPTC and XMP never
// differ; a text longer than its dataset allows is cut at a character in
// IPTC (in UTF-8 or Windows-1252 as `utf8` says) while the XMP keeps it
// whole. Without `iptc` (a format with no IPTC) nothing is cut.
IimValues ToIimValues(const QList<TagValue> &values, bool utf8, bool iptc = true);

// Whether a value needs more than ASCII.
bool IsAscii(const QString &text);

// Whether a value is an IIM date (CCYYMMDD, a day of the calendar) or an
// IIM time (HHMMSS+HHMM or HHMMSS-HHMM, within a day and a zone's range).
bool IsIimDate(const QString &text);
bool IsIimTime(const QString &text);
