#pragma once

#include <QString>

#include <array>
#include <string_view>

// The 24 slots of a parsing scheme: 23 IPTC tags in a fixed order, then the
// image file name. Everything that lists slots reads this one table.
struct TagSlotInfo {
    std::string_view key;   // IPTC key as the design spells it; empty for the file-name slot
    std::string_view label; // caption in the scheme editor
    int column;             // editor column: 0 left, 1 right
    int group;              // separator group in the editor, 1 to 7
    int dataset;            // IIM record-2 dataset number; 0 for the file-name slot
};

inline constexpr int SlotCount = 24;
inline constexpr int TagSlotCount = 23;
inline constexpr int FileNameSlot = 24;

// Indexed by slot number minus one.
inline constexpr std::array<TagSlotInfo, SlotCount> TagSlots{{
    {"Caption/Abstract", "Caption/Abstract", 0, 1, 120},
    {"Writer/Editor", "Caption writer", 0, 1, 122},
    {"Headline", "Headline", 0, 1, 105},
    {"SpecialInstructions", "Special Instructions", 0, 1, 40},
    {"Keywords", "Keywords", 0, 2, 25},
    {"ObjectName", "ObjectName", 0, 3, 5},
    {"DateCreated", "DateCreated", 0, 3, 55},
    {"City", "City", 0, 3, 90},
    {"Province/State", "State/Province", 0, 3, 95},
    {"Country/PrimaryLocationCode", "Country code", 0, 3, 100},
    {"Country/PrimaryLocationName", "Country name", 0, 3, 101},
    {"OriginalTransmissionReference", "Transmission reference", 0, 3, 103},
    {"ByLine", "ByLine", 1, 4, 80},
    {"BylineTitle", "Byline title", 1, 4, 85},
    {"Credit", "Credit", 1, 4, 110},
    {"Source", "Source", 1, 4, 115},
    {"Category", "Category", 1, 5, 15},
    {"SupplementalCategory", "Supplemental category", 1, 5, 20},
    {"Urgency", "Urgency", 1, 5, 10},
    {"CopyrightNotice", "Copyright Notice", 1, 6, 116},
    {"ReleaseDate", "Release Date", 1, 6, 30},
    {"TimeCreated", "Time created", 1, 6, 60},
    {"OriginatingProgram", "Originating program", 1, 6, 65},
    {"", "FILE NAME", 1, 7, 0},
}};

constexpr const TagSlotInfo &slotInfo(int slot) { return TagSlots[slot - 1]; }

// Entry k holds the key of slot k+1; entry 23 stays empty.
using IptcTagKeyTable = std::array<QString, SlotCount>;

void InitIptcTagKeys(IptcTagKeyTable &IptcTagKeys);
