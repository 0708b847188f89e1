#pragma once

#include <QString>

#include <array>
#include <string_view>

// The 24 slots of a parsing scheme: 23 IPTC tags in a fixed order, then the
// image file name. Everything that lists slots reads this one table.
// What a slot's value must look like in IIM.
enum class SlotRole {
    Text,  // free text, cut at a character when it outgrows its limit
    List,  // ";"-separated items, one repeated dataset each
    Date,  // CCYYMMDD
    Time,  // HHMMSS+HHMM or HHMMSS-HHMM
    Digit, // one digit, 1 to 8
    Code,  // three letters
    Name,  // the file-name slot: never a tag
};

struct TagSlotInfo {
    std::string_view key;   // IPTC key as stored schemes spell it; empty for the file-name slot
    std::string_view label; // caption in the scheme editor
    int column;             // editor column: 0 left, 1 right
    int group;              // separator group in the editor, 1 to 7
    int dataset;            // IIM record-2 dataset number; 0 for the file-name slot
    SlotRole role;          // the form its value takes
    int maxBytes;           // the IIM limit of one dataset (one item of a list)
    std::string_view xmp{}; // the XMP property kept in step, as "Xmp.group.Name"; empty when IIM only
};

inline constexpr int SlotCount = 24;
inline constexpr int TagSlotCount = 23;
inline constexpr int FileNameSlot = 24;

// Indexed by slot number minus one.
inline constexpr std::array<TagSlotInfo, SlotCount> TagSlots{{
    {"Caption/Abstract", "Caption/Abstract", 0, 1, 120, SlotRole::Text, 2000, "Xmp.dc.description"},
    {"Writer/Editor", "Caption writer", 0, 1, 122, SlotRole::Text, 32, "Xmp.photoshop.CaptionWriter"},
    {"Headline", "Headline", 0, 1, 105, SlotRole::Text, 256, "Xmp.photoshop.Headline"},
    {"SpecialInstructions", "Special Instructions", 0, 1, 40, SlotRole::Text, 256, "Xmp.photoshop.Instructions"},
    {"Keywords", "Keywords", 0, 2, 25, SlotRole::List, 64, "Xmp.dc.subject"},
    {"ObjectName", "ObjectName", 0, 3, 5, SlotRole::Text, 64, "Xmp.dc.title"},
    {"DateCreated", "DateCreated", 0, 3, 55, SlotRole::Date, 8, "Xmp.photoshop.DateCreated"},
    {"City", "City", 0, 3, 90, SlotRole::Text, 32, "Xmp.photoshop.City"},
    {"Province/State", "State/Province", 0, 3, 95, SlotRole::Text, 32, "Xmp.photoshop.State"},
    {"Country/PrimaryLocationCode", "Country code", 0, 3, 100, SlotRole::Code, 3, "Xmp.iptc.CountryCode"},
    {"Country/PrimaryLocationName", "Country name", 0, 3, 101, SlotRole::Text, 64, "Xmp.photoshop.Country"},
    {"OriginalTransmissionReference", "Transmission reference", 0, 3, 103, SlotRole::Text, 32, "Xmp.photoshop.TransmissionReference"},
    {"ByLine", "ByLine", 1, 4, 80, SlotRole::Text, 32, "Xmp.dc.creator"},
    {"BylineTitle", "Byline title", 1, 4, 85, SlotRole::Text, 32, "Xmp.photoshop.AuthorsPosition"},
    {"Credit", "Credit", 1, 4, 110, SlotRole::Text, 32, "Xmp.photoshop.Credit"},
    {"Source", "Source", 1, 4, 115, SlotRole::Text, 32, "Xmp.photoshop.Source"},
    {"Category", "Category", 1, 5, 15, SlotRole::Text, 3, "Xmp.photoshop.Category"},
    {"SupplementalCategory", "Supplemental category", 1, 5, 20, SlotRole::List, 32, "Xmp.photoshop.SupplementalCategories"},
    {"Urgency", "Urgency", 1, 5, 10, SlotRole::Digit, 1, "Xmp.photoshop.Urgency"},
    {"CopyrightNotice", "Copyright Notice", 1, 6, 116, SlotRole::Text, 128, "Xmp.dc.rights"},
    {"ReleaseDate", "Release Date", 1, 6, 30, SlotRole::Date, 8, ""},
    {"TimeCreated", "Time created", 1, 6, 60, SlotRole::Time, 11, "Xmp.photoshop.DateCreated"},
    {"OriginatingProgram", "Originating program", 1, 6, 65, SlotRole::Text, 32, ""},
    {"", "FILE NAME", 1, 7, 0, SlotRole::Name, 0, ""},
}};

constexpr const TagSlotInfo &slotInfo(int slot) { return TagSlots[slot - 1]; }

inline constexpr int KeywordsSlot = 5;
inline constexpr int DateCreatedSlot = 7;
inline constexpr int SupplementalCategorySlot = 18;
inline constexpr int TimeCreatedSlot = 22;

// The fields whose values are lists: split at ";" into repeated datasets.
constexpr bool isListDataset(int dataset)
{
    for (const TagSlotInfo &info : TagSlots) {
        if (info.dataset == dataset)
            return info.role == SlotRole::List;
    }
    return false;
}

// Entry k holds the key of slot k+1; entry 23 stays empty.
using IptcTagKeyTable = std::array<QString, SlotCount>;

void InitIptcTagKeys(IptcTagKeyTable &IptcTagKeys);
