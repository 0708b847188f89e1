#include "model/datafile.h"
#include "model/parsingscheme.h"
#include "model/slotexpression.h"

#include "testsupport.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

namespace {
class SlotExpressionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const QString path = dir.filePath(QStringLiteral("data.txt"));
        // Line 1: img004.jpg, Rome, (empty), Colosseum at dusk.
        WriteFileBytes(path, "file\tcity\tnote\tcaption\n"
                             "img004.jpg\tRome\t\tColosseum at dusk\n"
                             " spaced.jpg \t x \n");
        ASSERT_EQ(LoadDataFile(path, data).problem.kind(), Problem::Kind::None);
    }

    std::optional<QString> tag(const QString &expression, int line = 1)
    {
        scheme.slot(1) = expression;
        return EvaluateTagSlot(scheme, 1, line, data);
    }

    QString fileName(const QString &expression, int line = 1)
    {
        scheme.slot(FileNameSlot) = expression;
        return EvaluateFileNameSlot(scheme, line, data);
    }

    QTemporaryDir dir;
    IptcDataFile data;
    ParsingScheme scheme;
};
} // namespace

// A tag slot gives a field, a constant or no value; the file-name slot gives a
// field or an aggregation and otherwise falls back to field 1. Malformed field
// numbers and lines outside the file never read outside the grid; text that is
// not a clean run of [groups] stays as the user wrote it.
TEST_F(SlotExpressionTest, EverySlotExpressionEvaluatesAsDocumented)
{
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
        EXPECT_EQ(tag(c.expression, c.line), c.tag);
        EXPECT_EQ(fileName(c.expression, c.line), c.fileName);
    }
}

TEST(AggregationForm, BuildingAndReadingBackAgree)
{
    QStringList nine{"F2", ", ", "F5"};
    const QString expression = BuildAggregation(nine);
    EXPECT_EQ(expression, QStringLiteral("[F2][, ][F5]"));
    // Empty boxes between pieces leave no trace.
    EXPECT_EQ(BuildAggregation({"F2", {}, {}, ", ", {}, {}, "F5"}), expression);
    EXPECT_EQ(AggregationGroups(expression), nine);
    for (int i = 4; i <= 9; ++i)
        nine.append(QStringLiteral("F%1").arg(i));
    EXPECT_EQ(ReadAggregationPieces(BuildAggregation(nine)), nine);
    EXPECT_TRUE(ReadAggregationPieces(LeaveBlank).isEmpty());
    EXPECT_EQ(ReadAggregationPieces(QStringLiteral("[]")), QStringList{QString()});

    const std::pair<QString, QString> boxToPiece[] = {{"IPTC_Field3", "F3"}, {" text ", " text "}};
    for (const auto &[box, piece] : boxToPiece)
        EXPECT_EQ(PieceFromBoxText(box), piece);
    const std::pair<QString, QString> pieceToBox[] = {{"F9", "IPTC_Field9"}, {"Fog", "Fog"}, {"F", "F"}};
    for (const auto &[piece, box] : pieceToBox)
        EXPECT_EQ(BoxTextFromPiece(piece), box);
}
