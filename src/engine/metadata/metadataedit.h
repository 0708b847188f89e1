#pragma once

#include "engine/batchline.h"
#include "engine/metadata/xmpeditor.h"

#include <QByteArray>
#include <QList>

#include <optional>

class XmpMemory;

// What a file holds of the blocks this program owns, as its container's
// reader found them.
struct FoundMetadata {
    QList<QByteArray> iimCopies;  // every IIM block; the first is the one readers take
    QList<QByteArray> xmpPackets; // every main XMP packet as stored; the first is the one readers take
    std::optional<QByteArray> iptcDigest; // the Photoshop resources' digest of the IPTC, where there is one
    Note refusal; // why the blocks could not all be read, so that a line may write none of its values
};

// What a container can hold.
enum class TagHomes {
    IptcAndXmp,
    XmpOnly,
};

// The blocks a line's values make of what the file holds.
struct EditedMetadata {
    QByteArray iim;                // the new IIM block (IptcAndXmp only); empty when the file keeps none
    QList<QByteArray> xmpPackets;  // one new packet for each the file held, or one when it held none
    bool xmpChanged = false;       // false: the packets are the file's own
    QList<XmpSetting> xmpSet;      // the XMP properties the line sets
    QList<Note> notes;             // what the line's report says of the values and the packet
    Note refusal;                  // XmpOnly: why no value can be written (the packet cannot be read or written)
};

// Each value goes into the IIM block (IptcAndXmp) and into every XMP
// packet, as the rules of ToIimValues allow; fields a format has no home
// for are named in a note. With XmpOnly, a packet that cannot be read or
// written is a refusal: the values would reach the file nowhere. The XMP
// date follows the date and time the IIM ends up with, so a line that gives
// only one of them joins it with the other one in the file (its IIM, or its
// XMP where it has no IPTC).
EditedMetadata EditMetadata(const FoundMetadata &found, const TagEdit &edit, TagHomes homes, const QString &format,
                            XmpMemory &memory);

// Why a file of `format`, whose only home for tags is XMP, gets none of a
// line's values, from EditedMetadata::refusal.
Note XmpOnlyRefusal(const Note &refusal, const QString &format);

// The notes EditMetadata gives on the values alone, without the XMP: what
// a check can tell before anything is written.
QList<Note> ValueNotes(const FoundMetadata &found, const TagEdit &edit, TagHomes homes, const QString &format);
