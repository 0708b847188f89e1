#pragma once

#include "engine/batchtag.h"

#include <QByteArray>
#include <QList>
#include <QString>

// Tagging through Exiv2: the image data stays as it is and only the
// metadata are rewritten. This pair is the only code that sees Exiv2's
// headers.

struct LosslessOutcome {
    enum Status {
        Tagged,            // IPTC (and XMP where a slot maps to it) written
        TaggedXmpOnly,     // the type holds no IPTC; the XMP was written
        CopiedWithoutTags, // a plain copy: the type holds neither, or nothing had an XMP home
        Failed,
    };
    Status status = Failed;
    QString reason; // for Failed, one line for the user
};

// Writes into `target` (an existing or new file, truncated first) the bytes
// of `source` with the tag values of one line in its metadata: each value
// replaces every dataset of its field in IPTC record 2, Keywords and
// SupplementalCategory split at ";" into datasets in order; fields without a
// value, other datasets, EXIF, XMP, ICC profiles, comments and other
// Photoshop resources stay. The XMP is kept in step (UpdateXmpPacket) and
// the Photoshop IPTC digest is made current. JPEG and TIFF get IPTC and
// XMP, PNG XMP only; other types are copied unchanged.
LosslessOutcome WriteTagsLossless(const QString &source, const QString &target, const QList<TagValue> &values);

struct XmpUpdate {
    QByteArray packet;   // the packet to store; the input itself when unchanged
    bool changed = false;
    QString error;       // set when the input packet could not be read
};

// Sets in `packet` (possibly empty) the XMP property of every value whose
// slot has one, as UTF-8 of the Windows-1252 bytes; the other properties
// stay. A date or time not in IIM form (CCYYMMDD, HHMMSS±HHMM) is left out.
XmpUpdate UpdateXmpPacket(const QByteArray &packet, const QList<TagValue> &values);

// The ISO 8601 form of an IIM date with an optional IIM time, as XMP
// dates are written; empty when the date (or a given time) is not valid.
QString XmpDateFromIim(const QByteArray &date, const QByteArray &time);
