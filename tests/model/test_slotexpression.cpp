#include "model/datafile.h"
#include "model/parsingscheme.h"
#include "model/slotexpression.h"
#include "model/tagslots.h"
#include "model/xmpfields.h"

#include <gtest/gtest.h>

#include <set>
#include <tuple>

// A tag slot gives a field, a constant or no value; the file-name slot gives a
// field or an aggregation and otherwise falls back to field 1. Malformed field
// numbers and lines outside the file never read outside the grid; text that is
// not a clean run of [groups] stays as the user wrote it.
TEST(SlotExpression, EverySlotExpressionEvaluatesAsDocumented)
{
    IptcDataFile data;
    data.DataLines = {"file\tcity\tnote\tcaption", "img004.jpg\tRome\t\tColosseum at dusk", " spaced.jpg \t x "};
    data.LastDataLine = 2;
    data.FieldCount = 4;
    data.FieldGrid.build(data.DataLines);
    ParsingScheme scheme;
    const std::optional<QString> none;
    const QString first = QStringLiteral("img004.jpg");
    const struct {
        QString expression;
        int line;
        std::optional<QString> tag;
        QString fileName;
    } cases[] = {
        {"IPTC_Field4", 1, "Colosseum at dusk", "Colosseum at dusk"},
        {"IPTC_Field1", 1, "img004.jpg", first},
        {"IPTC_Field2", 2, " x ", " x "},
        {"IPTC_Field3", 1, none, ""}, // an empty field
        {LeaveBlank, 1, none, first},
        {LeaveBlank, 2, none, " spaced.jpg "},
        {"", 1, none, first},
        {"Constant text", 1, "Constant text", first},
        {"  5  ", 1, "  5  ", first}, {" ", 1, " ", first},
        {"leave blank", 1, "leave blank", first}, {"iptc_field2", 1, "iptc_field2", first},
        {"IPTC_Field0", 1, none, ""}, {"IPTC_Field5", 1, none, ""}, {"IPTC_Field", 1, none, ""},
        {"IPTC_Field-1", 1, none, ""}, {"IPTC_Field+2", 1, none, ""}, {"IPTC_Field 2", 1, none, ""},
        {"IPTC_Field2 ", 1, none, ""}, {"IPTC_Fieldx", 1, none, ""}, {"IPTC_Field99999999999999999999", 1, none, ""},
        {"IPTC_Field1", 0, none, ""}, {"IPTC_Field1", 3, none, ""}, {LeaveBlank, 9, none, ""},
        {"[F4][, ][F2]", 1, "Colosseum at dusk, Rome", "Colosseum at dusk, Rome"},
        {"[Photo: ][F2]", 1, "Photo: Rome", "Photo: Rome"},
        {"[F2][.jpg]", 1, "Rome.jpg", "Rome.jpg"},
        {"[F3]", 1, none, ""},            // joins to nothing
        {"[F9][F2]", 1, "Rome", "Rome"}, // no such field: empty
        {"[Fog][F2]", 1, "FogRome", "FogRome"},
        {"[a[b][c]", 1, "a[bc", "a[bc"},
        {"[F2", 1, "[F2", first}, {"[F2]x", 1, "[F2]x", first}, {"[F2] [F4]", 1, "[F2] [F4]", first},
        {"[", 1, "[", first},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.expression.toStdString() + " on line " + std::to_string(c.line));
        scheme.slot(1) = scheme.slot(FileNameSlot) = c.expression;
        EXPECT_EQ(EvaluateTagSlot(scheme, 1, c.line, data), c.tag);
        EXPECT_EQ(EvaluateFileNameSlot(scheme, c.line, data), c.fileName);
    }
    // The columns a slot reads that its line lacks, whether the line is short or the file has no such column;
    // an empty cell is there, and text that only looks like a field reads nothing.
    for (const auto &[expression, line, missing] : {std::tuple{"IPTC_Field4", 2, QList<int>{4}}, {"IPTC_Field5", 1, {5}},
                                                    {"IPTC_Field3", 1, {}}, {"[F9][F2][F9][F7]", 1, {9, 7}},
                                                    {"[F2", 9, {}}, {"IPTC_Fieldx", 1, {}}, {"Constant", 2, {}}}) {
        scheme.slot(1) = QString::fromLatin1(expression);
        EXPECT_EQ(MissingColumns(scheme, 1, line, data), missing) << expression;
    }
}

// Messages, the check table and the command line name a slot by its key.
TEST(TagSlots, EverySlotHasItsOwnKeyAndXmpValuesKeepTheirForm)
{
    std::set<std::string_view> keys{"Name"};
    for (const TagSlotInfo &slot : TagSlots)
        EXPECT_TRUE(keys.insert(slot.key).second) << slot.key;
    for (int slot = FirstXmpSlot; slot <= AllSlotCount; ++slot) {
        EXPECT_TRUE(keys.insert(xmpField(slot).key).second) << xmpField(slot).key;
        EXPECT_EQ(XmpSlotOfKey(SlotKey(slot)), slot);
        EXPECT_FALSE(SlotKey(slot).startsWith("Tag")) << "a stored key of the 24 slots";
    }

    const QString dst = "http://cv.iptc.org/newscodes/digitalsourcetype/";
    const QString plus = "http://ns.useplus.org/ldf/vocab/";
    const struct {
        const char *key;
        QString value;
        QString written; // empty: written nowhere
    } cases[] = {
        {"WebStatement", "https://example.com/rights?id=1", "https://example.com/rights?id=1"},
        {"WebStatement", "example.com/rights", {}},
        {"LicensorURL", "ftp://example.com/", {}},
        {"CreatorWorkURL", "http://exa mple.com", {}},
        {"CreatorWorkEmail", "desk@example.co.uk", "desk@example.co.uk"},
        {"LicensorEmail", "desk@example", {}},
        {"CreatorWorkEmail", "a@b@example.com", {}},
        {"CreatorWorkEmail", "Desk <desk@example.com>", {}},
        {"DigitalSourceType", "TRAINEDALGORITHMICMEDIA", dst + "trainedAlgorithmicMedia"},
        {"DigitalSourceType", dst + "digitalCapture", dst + "digitalCapture"},
        {"DigitalSourceType", "http://example.com/digitalCapture", {}},
        {"DigitalSourceType", "aiGenerated", {}},
        {"ModelReleaseStatus", " mr-non ", plus + "MR-NON"},
        {"PropertyReleaseStatus", "MR-NON", {}},
        {"PropertyReleaseStatus", plus + "PR-LPR", plus + "PR-LPR"},
        {"DataMining", "DMI-PROHIBITED-GENAIMLTRAINING", plus + "DMI-PROHIBITED-GENAIMLTRAINING"},
        {"DataMining", "allowed", {}},
        {"Scene", "011900;012000", "011900;012000"},
    };
    for (const auto &c : cases) {
        QString rule;
        EXPECT_EQ(XmpFieldValue(XmpSlotOfKey(c.key), c.value, &rule).value_or(QString()), c.written) << c.key << ' ' << c.value.toStdString();
        EXPECT_EQ(rule.isEmpty(), !c.written.isEmpty()) << c.key << ' ' << c.value.toStdString();
    }
}
