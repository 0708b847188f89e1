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
        ASSERT_EQ(LoadDataFile(path, data).status, DataFileResult::Loaded);
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

TEST_F(SlotExpressionTest, TagSlotsGiveFieldsConstantsOrNoValue)
{
    EXPECT_EQ(tag(QStringLiteral("IPTC_Field4")), QStringLiteral("Colosseum at dusk"));
    EXPECT_EQ(tag(QStringLiteral("IPTC_Field2")), QStringLiteral("Rome"));
    EXPECT_EQ(tag(QStringLiteral("IPTC_Field2"), 2), QStringLiteral(" x "));
    EXPECT_EQ(tag(QStringLiteral("IPTC_Field3")), std::nullopt); // empty field
    EXPECT_EQ(tag(LeaveBlank), std::nullopt);
    EXPECT_EQ(tag(QString()), std::nullopt);
    EXPECT_EQ(tag(QStringLiteral("Constant text")), QStringLiteral("Constant text"));
    EXPECT_EQ(tag(QStringLiteral("  5  ")), QStringLiteral("  5  "));
    EXPECT_EQ(tag(QStringLiteral(" ")), QStringLiteral(" "));
    EXPECT_EQ(tag(QStringLiteral("leave blank")), QStringLiteral("leave blank"));
    EXPECT_EQ(tag(QStringLiteral("iptc_field2")), QStringLiteral("iptc_field2"));
}

TEST_F(SlotExpressionTest, TheFileNameSlotFallsBackToFieldOne)
{
    EXPECT_EQ(fileName(QStringLiteral("IPTC_Field1")), QStringLiteral("img004.jpg"));
    EXPECT_EQ(fileName(QStringLiteral("IPTC_Field2")), QStringLiteral("Rome"));
    EXPECT_EQ(fileName(QStringLiteral("IPTC_Field3")), QString());
    EXPECT_EQ(fileName(LeaveBlank), QStringLiteral("img004.jpg"));
    EXPECT_EQ(fileName(QString()), QStringLiteral("img004.jpg"));
    EXPECT_EQ(fileName(QStringLiteral("fixed.jpg")), QStringLiteral("img004.jpg"));
    EXPECT_EQ(fileName(LeaveBlank, 2), QStringLiteral(" spaced.jpg "));
}

TEST_F(SlotExpressionTest, MalformedOrOutOfRangeFieldNumbersNeverReadOutsideTheGrid)
{
    for (const char *bad : {"IPTC_Field0", "IPTC_Field5", "IPTC_Field", "IPTC_Field-1", "IPTC_Field+2",
                            "IPTC_Field 2", "IPTC_Field2 ", "IPTC_Fieldx", "IPTC_Field99999999999999999999"}) {
        EXPECT_EQ(tag(QString::fromLatin1(bad)), std::nullopt) << bad;
        EXPECT_EQ(fileName(QString::fromLatin1(bad)), QString()) << bad;
    }
    // Lines outside the file.
    EXPECT_EQ(tag(QStringLiteral("IPTC_Field1"), 0), std::nullopt);
    EXPECT_EQ(tag(QStringLiteral("IPTC_Field1"), 3), std::nullopt);
    EXPECT_EQ(fileName(LeaveBlank, 9), QString());
}

TEST_F(SlotExpressionTest, AggregationsJoinTheirPiecesInOrder)
{
    EXPECT_EQ(tag(QStringLiteral("[F4][, ][F2]")), QStringLiteral("Colosseum at dusk, Rome"));
    EXPECT_EQ(tag(QStringLiteral("[Photo: ][F2]")), QStringLiteral("Photo: Rome"));
    EXPECT_EQ(tag(QStringLiteral("[F3]")), std::nullopt);         // joins to nothing
    EXPECT_EQ(tag(QStringLiteral("[F9][F2]")), QStringLiteral("Rome")); // no such field: empty
    EXPECT_EQ(tag(QStringLiteral("[Fog][F2]")), QStringLiteral("FogRome"));
    EXPECT_EQ(tag(QStringLiteral("[a[b][c]")), QStringLiteral("a[bc"));
    EXPECT_EQ(fileName(QStringLiteral("[F2][.jpg]")), QStringLiteral("Rome.jpg"));
    EXPECT_EQ(fileName(QStringLiteral("[F3]")), QString());

    // Not a clean run of groups: kept as the text the user wrote.
    for (const char *broken : {"[F2", "[F2]x", "[F2] [F4]", "["}) {
        EXPECT_EQ(tag(QString::fromLatin1(broken)), QString::fromLatin1(broken)) << broken;
        EXPECT_EQ(fileName(QString::fromLatin1(broken)), QStringLiteral("img004.jpg")) << broken;
    }
}

TEST(AggregationForm, BuildingAndReadingBackAgree)
{
    const QStringList pieces{QStringLiteral("F2"), QStringLiteral(", "), QStringLiteral("F5")};
    const QString expression = BuildAggregation(pieces);
    EXPECT_EQ(expression, QStringLiteral("[F2][, ][F5]"));
    EXPECT_EQ(ReadAggregationPieces(expression), pieces);
    EXPECT_EQ(BuildAggregation({QStringLiteral("F2"), {}, {}, QStringLiteral(", "), {}, {}, QStringLiteral("F5")}),
              expression);
    EXPECT_EQ(AggregationGroups(expression), pieces);

    QStringList nine;
    for (int i = 1; i <= 9; ++i)
        nine.append(QStringLiteral("F%1").arg(i));
    EXPECT_EQ(ReadAggregationPieces(BuildAggregation(nine)), nine);

    EXPECT_TRUE(ReadAggregationPieces(LeaveBlank).isEmpty());
    EXPECT_EQ(ReadAggregationPieces(QStringLiteral("[]")), QStringList{QString()});
    EXPECT_EQ(ReadAggregationPieces(QStringLiteral("[Word][F7]")), (QStringList{"Word", "F7"}));

    EXPECT_EQ(PieceFromBoxText(QStringLiteral("IPTC_Field3")), QStringLiteral("F3"));
    EXPECT_EQ(PieceFromBoxText(QStringLiteral(" text ")), QStringLiteral(" text "));
    EXPECT_EQ(BoxTextFromPiece(QStringLiteral("F9")), QStringLiteral("IPTC_Field9"));
    EXPECT_EQ(BoxTextFromPiece(QStringLiteral("Fog")), QStringLiteral("Fog"));
    EXPECT_EQ(BoxTextFromPiece(QStringLiteral("F")), QStringLiteral("F"));
}
