#pragma once

#include "engine/batchline.h"
#include "model/xmpfields.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

// Reading an image's tags back into the values of the 23 tag slots, as a
// run would be given them to write the same tags again.

// What the file's Photoshop IPTC digest says of its IIM block.
enum class IptcDigest {
    Absent,  // no digest
    Matches, // the digest of the block as stored: the XMP was written in step with it
    Differs, // the IIM changed after the XMP was written
};

// The digest state of an IIM block as stored (a TIFF's with its padding)
// against the stored digest, if any.
IptcDigest DigestState(const std::optional<QByteArray> &stored, const QByteArray &block);

// Why a slot's value will not come back exactly when a run writes it.
enum class TagReadCode {
    Disagrees,     // IPTC and XMP differ: the side not taken ("IPTC" or "XMP"), its value
    Repeated,      // a field of one value holds several, joined with ";": how many
    ListItemSplit, // a list item is empty or holds ";", so it would not split back: the item
    NotUtf8,       // the IIM declares UTF-8 but the value is not (the bad bytes read as U+FFFD)
    OverLimit,     // the IIM value already exceeds its field's limit, so a run cuts it: its bytes, the limit
    GrowsInUtf8,   // the Windows-1252 IIM value fits its limit, but a run from a Unicode data file writes
                   // the IIM in UTF-8, where it does not, and cuts it: its UTF-8 bytes, the limit
    DateForm,      // the XMP date has no IIM form and stands in DateCreated as stored, where a run
                   // leaves the image's dates as they are: the XMP date
    Refused,       // a run would not write the value: the value
    XmpUnreadable, // the XMP packet does not parse and was not read (slot 0)
    OtherIimBlock, // a later IIM block of the file holds another value of a field the first holds,
                   // which a run drops: the value
    SpreadsheetFormula, // a spreadsheet opening the data file would take the value for a formula
                        // (added by the export, never read from an image): the value
    // New codes go above: the protocol takes a code below this one.
    EndOfTagReadCodes
};

struct TagReadNote {
    TagReadCode code = TagReadCode::Disagrees;
    int slot = 0;
    QStringList details;
    friend bool operator==(const TagReadNote &, const TagReadNote &) = default;
};

struct TagReading {
    std::array<QString, AllSlotCount> values; // values[k - 1] is slot k's (the XMP slots' too); empty when the image has none
    QList<TagReadNote> notes;

    const QString &value(int slot) const { return values[slot - 1]; }
};

// The slot values of an image from its IIM block (records 1 and 2, possibly
// empty) and its XMP packet (possibly empty), reconciled as the Metadata
// Working Group's guidelines say: the XMP where the file has no IIM, or where
// the digest is absent or matches and the XMP holds the field; otherwise the
// IIM, each value taken whole from the XMP where the IIM holds it cut to its
// limit. IIM text is UTF-8 when dataset 1:90 says so, else Windows-1252.
// Lists are joined with ";" in stored order; DateCreated and TimeCreated
// take their IIM forms, CCYYMMDD and HHMMSS±HHMM. `unicodeData` says that
// the values go into a data file a run reads as Unicode, so that a run
// writes a Windows-1252 IIM block with any non-ASCII value in UTF-8.
TagReading ReadTagSlots(const QByteArray &iim, const QByteArray &xmpPacket, IptcDigest digest, bool unicodeData = false);

// What one image's tags read as.
struct ImageTags {
    std::array<QString, AllSlotCount> values; // values[k - 1] is slot k's (the XMP slots' too)
    QList<TagReadNote> notes;                 // values that will not come back exactly
    Note failure;                             // why the image could not be read
};
