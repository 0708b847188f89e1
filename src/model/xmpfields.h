#pragma once

#include "model/tagslots.h"

#include <QString>

#include <array>
#include <optional>
#include <string_view>

// The IPTC Core, IPTC Extension and PLUS properties that live in XMP alone.
// Each is a slot after the file-name slot, numbered from FirstXmpSlot in
// table order; a scheme stores it under its key. Everything that lists these
// slots reads this one table.

// Where the value stands in the property.
enum class XmpShape {
    Text,       // a simple value
    LangAlt,    // a language alternative, written as x-default
    Bag,        // an unordered list, ";"-joined in a cell
    Seq,        // an ordered list, ";"-joined in a cell
    Part,       // a field of a structure
    FirstPart,  // a field of the first structure of a list of them (Bag or Seq, as `list` says)
};

// What a value must look like to be written.
enum class XmpRule {
    Free,              // any text
    Url,               // http:// or https:// and a host
    Email,             // local part, "@", domain with a dot
    DigitalSourceType, // an IPTC NewsCodes digital source type
    ModelRelease,      // a PLUS model release status
    PropertyRelease,   // a PLUS property release status
    DataMining,        // a PLUS data-mining constraint
};

struct XmpFieldInfo {
    std::string_view key;      // the key a scheme stores it under, as ExifTool names the tag
    std::string_view label;    // caption in the scheme editor and the export
    std::string_view prefix;   // the namespace's usual prefix
    std::string_view property; // the top-level property's local name
    XmpShape shape;
    std::string_view part{};   // Part and FirstPart: the field's local name, in the same namespace
    XmpRule rule = XmpRule::Free;
    std::string_view list{};   // FirstPart: "Bag" or "Seq"
};

// Namespaces by their usual prefixes.
inline constexpr std::string_view Iptc4xmpCoreUri = "http://iptc.org/std/Iptc4xmpCore/1.0/xmlns/";
inline constexpr std::string_view Iptc4xmpExtUri = "http://iptc.org/std/Iptc4xmpExt/2008-02-29/";
inline constexpr std::string_view XmpRightsUri = "http://ns.adobe.com/xap/1.0/rights/";
inline constexpr std::string_view PlusUri = "http://ns.useplus.org/ldf/xmp/1.0/";

inline constexpr std::array XmpFields{
    // IPTC Core
    XmpFieldInfo{"AltTextAccessibility", "Alt Text (Accessibility)", "Iptc4xmpCore", "AltTextAccessibility", XmpShape::LangAlt},
    XmpFieldInfo{"ExtDescrAccessibility", "Extended Description", "Iptc4xmpCore", "ExtDescrAccessibility", XmpShape::LangAlt},
    XmpFieldInfo{"CreatorAddress", "Creator's address", "Iptc4xmpCore", "CreatorContactInfo", XmpShape::Part, "CiAdrExtadr"},
    XmpFieldInfo{"CreatorCity", "Creator's city", "Iptc4xmpCore", "CreatorContactInfo", XmpShape::Part, "CiAdrCity"},
    XmpFieldInfo{"CreatorRegion", "Creator's state/province", "Iptc4xmpCore", "CreatorContactInfo", XmpShape::Part, "CiAdrRegion"},
    XmpFieldInfo{"CreatorPostalCode", "Creator's postal code", "Iptc4xmpCore", "CreatorContactInfo", XmpShape::Part, "CiAdrPcode"},
    XmpFieldInfo{"CreatorCountry", "Creator's country", "Iptc4xmpCore", "CreatorContactInfo", XmpShape::Part, "CiAdrCtry"},
    XmpFieldInfo{"CreatorWorkEmail", "Creator's e-mail", "Iptc4xmpCore", "CreatorContactInfo", XmpShape::Part, "CiEmailWork", XmpRule::Email},
    XmpFieldInfo{"CreatorWorkTelephone", "Creator's telephone", "Iptc4xmpCore", "CreatorContactInfo", XmpShape::Part, "CiTelWork"},
    XmpFieldInfo{"CreatorWorkURL", "Creator's web address", "Iptc4xmpCore", "CreatorContactInfo", XmpShape::Part, "CiUrlWork", XmpRule::Url},
    XmpFieldInfo{"IntellectualGenre", "Intellectual Genre", "Iptc4xmpCore", "IntellectualGenre", XmpShape::Text},
    XmpFieldInfo{"Scene", "Scene Codes", "Iptc4xmpCore", "Scene", XmpShape::Bag},
    XmpFieldInfo{"SubjectCode", "Subject Codes", "Iptc4xmpCore", "SubjectCode", XmpShape::Bag},
    XmpFieldInfo{"Location", "Sublocation", "Iptc4xmpCore", "Location", XmpShape::Text},
    XmpFieldInfo{"UsageTerms", "Usage Terms", "xmpRights", "UsageTerms", XmpShape::LangAlt},
    XmpFieldInfo{"WebStatement", "Web Statement of Rights", "xmpRights", "WebStatement", XmpShape::Text, {}, XmpRule::Url},
    // IPTC Extension
    XmpFieldInfo{"DigitalSourceType", "Digital Source Type", "Iptc4xmpExt", "DigitalSourceType", XmpShape::Text, {}, XmpRule::DigitalSourceType},
    XmpFieldInfo{"PersonInImage", "Person In Image", "Iptc4xmpExt", "PersonInImage", XmpShape::Bag},
    XmpFieldInfo{"OrganisationInImageName", "Organisation In Image", "Iptc4xmpExt", "OrganisationInImageName", XmpShape::Bag},
    XmpFieldInfo{"LocationShownSublocation", "Location Shown: sublocation", "Iptc4xmpExt", "LocationShown", XmpShape::FirstPart, "Sublocation", XmpRule::Free, "Bag"},
    XmpFieldInfo{"LocationShownCity", "Location Shown: city", "Iptc4xmpExt", "LocationShown", XmpShape::FirstPart, "City", XmpRule::Free, "Bag"},
    XmpFieldInfo{"LocationShownProvinceState", "Location Shown: state/province", "Iptc4xmpExt", "LocationShown", XmpShape::FirstPart, "ProvinceState", XmpRule::Free, "Bag"},
    XmpFieldInfo{"LocationShownCountryName", "Location Shown: country name", "Iptc4xmpExt", "LocationShown", XmpShape::FirstPart, "CountryName", XmpRule::Free, "Bag"},
    XmpFieldInfo{"LocationShownCountryCode", "Location Shown: country code", "Iptc4xmpExt", "LocationShown", XmpShape::FirstPart, "CountryCode", XmpRule::Free, "Bag"},
    XmpFieldInfo{"LocationShownWorldRegion", "Location Shown: world region", "Iptc4xmpExt", "LocationShown", XmpShape::FirstPart, "WorldRegion", XmpRule::Free, "Bag"},
    XmpFieldInfo{"LocationCreatedSublocation", "Location Created: sublocation", "Iptc4xmpExt", "LocationCreated", XmpShape::FirstPart, "Sublocation", XmpRule::Free, "Bag"},
    XmpFieldInfo{"LocationCreatedCity", "Location Created: city", "Iptc4xmpExt", "LocationCreated", XmpShape::FirstPart, "City", XmpRule::Free, "Bag"},
    XmpFieldInfo{"LocationCreatedProvinceState", "Location Created: state/province", "Iptc4xmpExt", "LocationCreated", XmpShape::FirstPart, "ProvinceState", XmpRule::Free, "Bag"},
    XmpFieldInfo{"LocationCreatedCountryName", "Location Created: country name", "Iptc4xmpExt", "LocationCreated", XmpShape::FirstPart, "CountryName", XmpRule::Free, "Bag"},
    XmpFieldInfo{"LocationCreatedCountryCode", "Location Created: country code", "Iptc4xmpExt", "LocationCreated", XmpShape::FirstPart, "CountryCode", XmpRule::Free, "Bag"},
    XmpFieldInfo{"LocationCreatedWorldRegion", "Location Created: world region", "Iptc4xmpExt", "LocationCreated", XmpShape::FirstPart, "WorldRegion", XmpRule::Free, "Bag"},
    XmpFieldInfo{"Event", "Event", "Iptc4xmpExt", "Event", XmpShape::LangAlt},
    // PLUS, as the IPTC Extension takes it
    XmpFieldInfo{"CopyrightOwnerName", "Copyright Owner", "plus", "CopyrightOwner", XmpShape::FirstPart, "CopyrightOwnerName", XmpRule::Free, "Seq"},
    XmpFieldInfo{"ImageSupplierName", "Image Supplier", "plus", "ImageSupplier", XmpShape::FirstPart, "ImageSupplierName", XmpRule::Free, "Seq"},
    XmpFieldInfo{"LicensorName", "Licensor", "plus", "Licensor", XmpShape::FirstPart, "LicensorName", XmpRule::Free, "Seq"},
    XmpFieldInfo{"LicensorURL", "Licensor's web address", "plus", "Licensor", XmpShape::FirstPart, "LicensorURL", XmpRule::Url, "Seq"},
    XmpFieldInfo{"LicensorEmail", "Licensor's e-mail", "plus", "Licensor", XmpShape::FirstPart, "LicensorEmail", XmpRule::Email, "Seq"},
    XmpFieldInfo{"ImageCreatorName", "Image Creator", "plus", "ImageCreator", XmpShape::FirstPart, "ImageCreatorName", XmpRule::Free, "Seq"},
    XmpFieldInfo{"ModelReleaseStatus", "Model Release Status", "plus", "ModelReleaseStatus", XmpShape::Text, {}, XmpRule::ModelRelease},
    XmpFieldInfo{"PropertyReleaseStatus", "Property Release Status", "plus", "PropertyReleaseStatus", XmpShape::Text, {}, XmpRule::PropertyRelease},
    XmpFieldInfo{"DataMining", "Data Mining", "plus", "DataMining", XmpShape::Text, {}, XmpRule::DataMining},
};

inline constexpr int XmpFieldCount = int(XmpFields.size());
inline constexpr int FirstXmpSlot = FileNameSlot + 1;
// Slots 1 to AllSlotCount: the tag slots, the file name, then these.
inline constexpr int AllSlotCount = FileNameSlot + XmpFieldCount;

constexpr bool isXmpSlot(int slot) { return slot >= FirstXmpSlot && slot <= AllSlotCount; }
// The slots that give a tag value: 1 to 23 and the XMP slots.
constexpr bool isValueSlot(int slot) { return (slot >= 1 && slot <= TagSlotCount) || isXmpSlot(slot); }
constexpr const XmpFieldInfo &xmpField(int slot) { return XmpFields[slot - FirstXmpSlot]; }

QString XmpFieldUri(const XmpFieldInfo &field);
QString XmpFieldLabel(int slot);

// The XMP slot stored under `key`; 0 when no slot is.
int XmpSlotOfKey(const QString &key);

// The one rule for an XMP slot's value, which the run and the check both
// ask: the value to write (a vocabulary's code given short becomes its full
// URI), or nullopt with `rule` naming what it breaks.
std::optional<QString> XmpFieldValue(int slot, const QString &text, QString *rule);

// A slot's key as text (an XMP slot's too), for messages and tables.
QString SlotKey(int slot);
// A slot's caption (an XMP slot's too), for the editor and tables.
QString SlotLabel(int slot);
