#include "test_schemedialogs_support.h"

#include "model/appstate.h"
#include "ui/formaggregate.h"

#include <QLabel>
#include <QSignalSpy>

namespace {
struct AggregateFixture : ::testing::Test {
    AppState state;

    QString label(QWidget &dialog) { return Find<QLabel>(dialog, QStringLiteral("LabelAggregate"))->text(); }

    QStringList boxTexts(QWidget &dialog)
    {
        QStringList texts;
        for (int k = 0; k < MaxAggregateParts; ++k)
            texts.append(Box(dialog, k)->currentText());
        return texts;
    }
};
} // namespace

TEST_F(AggregateFixture, BuildsFromPiecesInAnyBoxesAndSkipsEmptyOnes)
{
    state.Data.FieldCount = 6;
    for (const std::array<int, 3> &boxes : {std::array{0, 1, 2}, std::array{0, 3, 6}}) {
        state.AggregateParts[7] = LeaveBlank;
        FormAggregate dialog(state);
        EXPECT_EQ(dialog.windowTitle(), "Text and field aggregation");
        EXPECT_EQ(Entries(Box(dialog, 4)), QStringList({"IPTC_Field1", "IPTC_Field2", "IPTC_Field3", "IPTC_Field4",
                                                        "IPTC_Field5", "IPTC_Field6"}));
        EXPECT_EQ(boxTexts(dialog), QStringList(7, QString()));
        EXPECT_EQ(label(dialog), "");

        ChooseEntry(Box(dialog, boxes[0]), "IPTC_Field2");
        EXPECT_EQ(label(dialog), "[F2]");
        TypeInto(Box(dialog, boxes[1]), ", ");
        EXPECT_EQ(label(dialog), "[F2][, ]");
        ChooseEntry(Box(dialog, boxes[2]), "IPTC_Field5");
        EXPECT_EQ(label(dialog), "[F2][, ][F5]");

        Click(dialog, "CommandOK");
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(state.AggregateParts[7], "[F2][, ][F5]");
        EXPECT_EQ(state.AggregateParts[boxes[1]], ", ");
        EXPECT_EQ(state.AggregateParts[boxes[2]], "F5");
    }
}

TEST_F(AggregateFixture, ReadsBackWhatItBuiltAndReturnsItUnchanged)
{
    state.Data.FieldCount = 4;
    state.AggregateParts[7] = "[F2][, ][F5]";
    {
        FormAggregate dialog(state);
        EXPECT_EQ(boxTexts(dialog), QStringList({"IPTC_Field2", ", ", "IPTC_Field5", "", "", "", ""}));
        EXPECT_EQ(label(dialog), "[F2][, ][F5]");
        Click(dialog, "CommandOK");
        EXPECT_EQ(state.AggregateParts[7], "[F2][, ][F5]");
    }

    // A word that begins with F is text; a field above FieldCount is kept.
    state.AggregateParts[7] = "[Fountain][F7][F9]";
    {
        FormAggregate dialog(state);
        EXPECT_EQ(boxTexts(dialog), QStringList({"Fountain", "IPTC_Field7", "IPTC_Field9", "", "", "", ""}));
        Click(dialog, "CommandOK");
        EXPECT_EQ(state.AggregateParts[7], "[Fountain][F7][F9]");
    }

    // Text the read-back cannot take apart comes back whole until a piece changes.
    state.AggregateParts[7] = "[F2] and more";
    {
        FormAggregate dialog(state);
        EXPECT_EQ(Box(dialog, 0)->currentText(), "IPTC_Field2");
        Click(dialog, "CommandOK");
        EXPECT_EQ(state.AggregateParts[7], "[F2] and more");
    }
}

TEST_F(AggregateFixture, MoreThanSevenGroupsKeepsTheRest)
{
    state.Data.FieldCount = 3;
    const QString nine = "[F1][a][F2][b][F3][c][d][e][F9]";
    state.AggregateParts[7] = nine;
    {
        FormAggregate dialog(state);
        EXPECT_EQ(boxTexts(dialog), QStringList({"IPTC_Field1", "a", "IPTC_Field2", "b", "IPTC_Field3", "c", "d"}));
        QLabel *surplus = Find<QLabel>(dialog, QStringLiteral("LabelSurplus"));
        EXPECT_FALSE(surplus->isHidden());
        EXPECT_TRUE(surplus->text().contains("2 more groups")) << surplus->text().toStdString();
        Click(dialog, "CommandOK");
        EXPECT_EQ(state.AggregateParts[7], nine);
    }
    {
        FormAggregate dialog(state);
        TypeInto(Box(dialog, 1), "A");
        EXPECT_EQ(label(dialog), "[F1][A][F2][b][F3][c][d][e][F9]");
        Click(dialog, "CommandOK");
        EXPECT_EQ(state.AggregateParts[7], "[F1][A][F2][b][F3][c][d][e][F9]");
    }
    state.AggregateParts[7] = "[x]";
    FormAggregate dialog(state);
    EXPECT_TRUE(Find<QLabel>(dialog, QStringLiteral("LabelSurplus"))->isHidden());
}

TEST_F(AggregateFixture, CancelAndEmptyBoxesGiveNoExpression)
{
    state.Data.FieldCount = 2;
    state.AggregateParts[7] = "[F1][-][F2]";
    {
        FormAggregate dialog(state);
        QSignalSpy finished(&dialog, &QDialog::finished);
        // Escape presses no button.
        QTest::keyClick(&dialog, Qt::Key_Escape);
        EXPECT_EQ(finished.count(), 0);
        Click(dialog, "CommandCancel");
        EXPECT_EQ(finished.count(), 1);
    }
    EXPECT_EQ(state.AggregateParts, AggregatePartsTable{});

    state.AggregateParts[7] = "[F1][-][F2]";
    {
        FormAggregate dialog(state);
        for (int k = 0; k < 3; ++k)
            TypeInto(Box(dialog, k), "");
        EXPECT_EQ(label(dialog), "");
        Click(dialog, "CommandOK");
    }
    EXPECT_EQ(state.AggregateParts[7], "");

    // Closing the window keeps what was composed.
    state.AggregateParts[7] = "";
    {
        FormAggregate dialog(state);
        dialog.show();
        TypeInto(Box(dialog, 2), "x");
        dialog.close();
    }
    EXPECT_EQ(state.AggregateParts[7], "[x]");

    // With no data file, field pieces can still be typed.
    state.Data.FieldCount = 0;
    state.AggregateParts[7] = "";
    FormAggregate dialog(state);
    EXPECT_EQ(Box(dialog, 0)->count(), 0);
    TypeInto(Box(dialog, 0), "IPTC_Field3");
    TypeInto(Box(dialog, 1), " x ");
    EXPECT_EQ(label(dialog), "[F3][ x ]");
}
