#pragma once

#include "engine/batchtag.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// Tagging through Exiv2: the image data stays as it is and only the
// metadata are rewritten. Besides this pair, only re-encoding sees Exiv2's
// headers, to carry a TIFF's metadata over.

// Readies Exiv2 once per process: its XMP toolkit started, its reports
// (which are not for the user) silenced.
void PrepareExiv2();

// What writing one output gave.
struct WriteOutcome {
    Problem failure;      // why nothing usable was written
    QStringList warnings; // for a written file: what the user should know of it
};

// Writes into `target` (an existing or new file, truncated first) the bytes
// of `source` with the tag values of one line in its metadata: each value
// replaces every dataset of its field in IPTC record 2, Keywords and
// SupplementalCategory split at ";" into datasets in order; fields without a
// value, other datasets, EXIF, XMP, ICC profiles, comments and other
// Photoshop resources stay. The XMP is kept in step (UpdateXmpPacket), and
// every other copy of the IPTC (the Photoshop digest, further IPTC
// resources, a FotoStation trailer) is made current or taken out. JPEG,
// TIFF and PNG get IPTC and XMP; other types are copied unchanged. Values
// go to IPTC in UTF-8 when the image declares it, or when `unicodeData` and
// a value needs more than ASCII (the image then gets the 1:90 marker).
WriteOutcome WriteTagsLossless(const QString &source, const QString &target, const QList<TagValue> &values,
                               bool unicodeData);

struct XmpUpdate {
    QByteArray packet;   // the packet to store; the input itself when unchanged
    bool changed = false;
    Problem error;       // the input packet could not be read or the new one written
};

// Sets in `packet` (possibly empty) the XMP property of every value whose
// slot has one; the other properties, rdf:about and the namespaces stay as
// the packet had them. A date or time not in IIM form (CCYYMMDD, HHMMSS±HHMM) is left out.
XmpUpdate UpdateXmpPacket(const QByteArray &packet, const QList<TagValue> &values);

// The ISO 8601 form of an IIM date with an optional IIM time, as XMP
// dates are written; empty when the date (or a given time) is not valid.
QString XmpDateFromIim(const QByteArray &date, const QByteArray &time);
