#include "test_schemedialogs_support.h"

#include "model/appstate.h"
#include "ui/formaggregate.h"

#include <QLabel>

namespace {
struct AggregateFixture : ::testing::Test {
    AppState state;

    QStringList boxTexts(QWidget &dialog)
    {
        QStringList texts;
        for (int k = 0; k < MaxAggregateParts; ++k)
            texts.append(Box(dialog, k)->currentText());
        return texts;
    }
};
} // namespace

TEST_F(AggregateFixture, BuildsFromPiecesInAnyBoxesAndReadsThemBack)
{
    state.Data.FieldCount = 6;
    for (const std::array<int, 3> &boxes : {std::array{0, 1, 2}, std::array{0, 3, 6}}) {
        state.AggregateParts[7] = LeaveBlank;
        FormAggregate dialog(state);
        EXPECT_EQ(Entries(Box(dialog, 4)), QStringList({"IPTC_Field1", "IPTC_Field2", "IPTC_Field3", "IPTC_Field4",
                                                        "IPTC_Field5", "IPTC_Field6"}));
        EXPECT_EQ(boxTexts(dialog), QStringList(7, QString()));
        ChooseEntry(Box(dialog, boxes[0]), "IPTC_Field2");
        TypeInto(Box(dialog, boxes[1]), ", ");
        ChooseEntry(Box(dialog, boxes[2]), "IPTC_Field5");
        EXPECT_EQ(Find<QLabel>(dialog, "LabelAggregate")->text(), "[F2][, ][F5]");
        Click(dialog, "CommandOK");
        EXPECT_EQ(state.AggregateParts[7], "[F2][, ][F5]");
    }

    // Read back into the boxes, and OK without changes returns the text
    // unchanged: fields above FieldCount, words starting with F, and text
    // that the read-back cannot take apart.
    const std::vector<std::pair<QString, QStringList>> readBack{
        {"[F2][, ][F5]", {"IPTC_Field2", ", ", "IPTC_Field5", "", "", "", ""}},
        {"[Fountain][F7][F9]", {"Fountain", "IPTC_Field7", "IPTC_Field9", "", "", "", ""}},
        {"[F2] and more", {"IPTC_Field2", "", "", "", "", "", ""}},
        {"[F][][F2]", {"F", "", "IPTC_Field2", "", "", "", ""}},
        {"[F1][a][F2][b][F3][c][d][e][F9]", {"IPTC_Field1", "a", "IPTC_Field2", "b", "IPTC_Field3", "c", "d"}},
    };
    state.Data.FieldCount = 4;
    for (const auto &[expression, boxes] : readBack) {
        state.AggregateParts[7] = expression;
        FormAggregate dialog(state);
        EXPECT_EQ(boxTexts(dialog), boxes) << expression.toStdString();
        Click(dialog, "CommandOK");
        EXPECT_EQ(state.AggregateParts[7], expression);
    }
}

// Groups beyond the seventh survive an edit; emptied boxes give no
// expression; without a data file a field can still be typed.
TEST_F(AggregateFixture, EditsKeepSurplusGroupsEmptyBoxesGiveNothingAndFieldsCanBeTyped)
{
    state.Data.FieldCount = 3;
    state.AggregateParts[7] = "[F1][a][F2][b][F3][c][d][e][F9]";
    {
        FormAggregate dialog(state);
        QLabel *surplus = Find<QLabel>(dialog, "LabelSurplus");
        EXPECT_TRUE(!surplus->isHidden() && surplus->text().contains("2 more groups")) << surplus->text().toStdString();
        TypeInto(Box(dialog, 1), "A");
        Click(dialog, "CommandOK");
        EXPECT_EQ(state.AggregateParts[7], "[F1][A][F2][b][F3][c][d][e][F9]");
    }
    state.AggregateParts[7] = "[F1][-][F2]";
    {
        FormAggregate dialog(state);
        for (int k = 0; k < 3; ++k)
            TypeInto(Box(dialog, k), "");
        Click(dialog, "CommandOK");
        EXPECT_EQ(state.AggregateParts[7], "");
    }
    state.Data.FieldCount = 0;
    FormAggregate dialog(state);
    EXPECT_EQ(Box(dialog, 0)->count(), 0);
    TypeInto(Box(dialog, 0), "IPTC_Field3");
    TypeInto(Box(dialog, 1), " x ");
    Click(dialog, "CommandOK");
    EXPECT_EQ(state.AggregateParts[7], "[F3][ x ]");
}
