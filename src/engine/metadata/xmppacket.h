#pragma once

#include "engine/batchline.h"

#include <QByteArray>
#include <QString>


#include "engine/metadata/xmpeditor.h"

// The XMP a line's values become: the properties it sets are written into
// the packet the file holds, and every other byte of it stays.

// What a process that writes many images keeps from one to the next; the
// editor reads each packet afresh, which costs less than keeping a parse.
class XmpMemory {
public:
    XmpMemory();
    ~XmpMemory();
    XmpMemory(const XmpMemory &) = delete;
    XmpMemory &operator=(const XmpMemory &) = delete;
};

// The XMP property a slot is kept in step with, and the form of its value;
// an empty name for a slot with none.
XmpName SlotXmpName(int slot);
XmpForm SlotXmpForm(int slot);

struct XmpUpdate {
    QByteArray packet; // the packet to store; the input itself when unchanged
    bool changed = false;
    Note error;        // XmpUnreadable or MetadataUnwritable: the input packet was kept
};

// The XMP properties `values` set, in slot order; the date joins the
// values' DateCreated and TimeCreated, and without a date none is set.
QList<XmpSetting> XmpSettingsOf(const QList<TagValue> &values);

// Sets in `packet` (possibly empty) the XMP property of every value whose
// slot has one; every other byte stays as the packet had it. The XMP date joins the values' DateCreated and
// TimeCreated; without a date it is left alone.
XmpUpdate UpdateXmpPacket(const QByteArray &packet, const QList<TagValue> &values, XmpMemory &memory);

// Whether `packet` reads as XMP, as the editor reads it; linear, and safe on any bytes.
bool ReadableXmp(const QByteArray &packet);

// The ISO 8601 form of an IIM date with an optional IIM time, as XMP
// dates are written; empty when the date (or a given time) is not valid.
QString XmpDateFromIim(const QString &date, const QString &time);

// The packet padded with whitespace before its trailer to exactly `size`
// bytes, as XMP writers leave room for edits in place; the packet itself
// when it has no trailer or is larger.
QByteArray PaddedXmpPacket(const QByteArray &packet, qsizetype size);
