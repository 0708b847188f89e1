#pragma once

#include "engine/batchtag.h"

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
    QList<TagValue> xmpValues; // what the XMP gets: every value IPTC did not refuse
    QStringList warnings;      // for the line's report
};

// The items of a list value in their order; empty pieces (a trailing ";")
// would only make empty keywords.
QStringList ListItems(const QString &value);

// Turns a line's values into IIM datasets, in UTF-8 or Windows-1252. Both
// save paths go through here so that their files say the same thing: text
// longer than its dataset allows is cut at a character (XMP keeps it whole),
// while a date, time, urgency or country code that does not fit is written
// nowhere, since a cut one would be wrong.
IimValues ToIimValues(const QList<TagValue> &values, bool utf8);

// Whether a value needs more than ASCII.
bool IsAscii(const QString &text);

// Whether a value is an IIM date (CCYYMMDD, a day of the calendar) or an
// IIM time (HHMMSS+HHMM or HHMMSS-HHMM, within a day and a zone's range).
bool IsIimDate(const QString &text);
bool IsIimTime(const QString &text);
