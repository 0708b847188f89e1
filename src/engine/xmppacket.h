#pragma once

#include "engine/batchline.h"

#include <QByteArray>
#include <QString>

#include <memory>

// XMP packets through Exiv2's XMP toolkit: the properties a line sets are
// written into the packet the file holds, and everything else in it stays.

// Readies Exiv2 once per process: its XMP toolkit started, its reports
// (which are not for the user) silenced.
void PrepareExiv2();

// What a process that writes many images keeps from one to the next: the
// parse of the last packet read, which the next image often repeats (copies,
// photos of one shoot). Parsing a packet is the dearest part of tagging a
// small photo.
class XmpMemory {
public:
    XmpMemory();
    ~XmpMemory();
    XmpMemory(const XmpMemory &) = delete;
    XmpMemory &operator=(const XmpMemory &) = delete;

    struct Parse;
    std::unique_ptr<Parse> last;
};

struct XmpUpdate {
    QByteArray packet; // the packet to store; the input itself when unchanged
    bool changed = false;
    Note error;        // XmpUnreadable or MetadataUnwritable: the input packet was kept
};

// Sets in `packet` (possibly empty) the XMP property of every value whose
// slot has one; the other properties, rdf:about and the namespaces stay as
// the packet had them. The XMP date joins the values' DateCreated and
// TimeCreated; without a date it is left alone.
XmpUpdate UpdateXmpPacket(const QByteArray &packet, const QList<TagValue> &values, XmpMemory &memory);

// Whether `text` is well-formed XML, as every reader of an XMP packet
// needs; linear, and safe on any bytes.
bool WellFormedXml(const QByteArray &text);

// The ISO 8601 form of an IIM date with an optional IIM time, as XMP
// dates are written; empty when the date (or a given time) is not valid.
QString XmpDateFromIim(const QString &date, const QString &time);

// The packet padded with whitespace before its trailer to exactly `size`
// bytes, as XMP writers leave room for edits in place; the packet itself
// when it has no trailer or is larger.
QByteArray PaddedXmpPacket(const QByteArray &packet, qsizetype size);
