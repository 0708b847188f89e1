#pragma once

#include "engine/batchtag.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

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

// Writes into the open file `target`, from its start, the bytes
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
// What a process that writes many images keeps from one to the next: the
// parse of the last JPEG XMP packet read, which the next image often repeats
// (copies, photos of one shoot). Parsing a packet is the dearest part of
// tagging a small photo.
class XmpMemory {
public:
    XmpMemory();
    ~XmpMemory();
    XmpMemory(const XmpMemory &) = delete;
    XmpMemory &operator=(const XmpMemory &) = delete;

    struct Parse;
    std::unique_ptr<Parse> last;
};

WriteOutcome WriteTagsLossless(const QString &source, int target, const QList<TagValue> &values,
                               bool unicodeData, XmpMemory *memory = nullptr);

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
