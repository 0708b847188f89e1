#include "test_schemedialogs_support.h"

#include "fakeuiservices.h"
#include "model/appstate.h"
#include "testsupport.h"
#include "ui/formfieldparsing.h"

#include <QGroupBox>

namespace {
struct EditorFixture : ::testing::Test {
    AppState state;
    FakeUiServices ui;

    ParsingScheme &record() { return state.Schemes.Schemes[0]; }
    QLineEdit *nameBox(QWidget &dialog) { return Find<QLineEdit>(dialog, "TextParsingName"); }

    // An existing scheme in the working record: every slot "Leave blank" but `values`.
    void editExisting(const QHash<int, QString> &values = {}) { record() = MakeScheme("Holiday", values); }

    // Queues an aggregation editor run; `incoming` gets the expression it was opened on.
    void queueAggregate(QString &incoming, std::function<void(QDialog &)> act = {})
    {
        ui.dialogHandlers.push_back([=, this, &incoming](QDialog &d) {
            incoming = state.AggregateParts[7];
            act ? act(d) : Click(d, "CommandCancel");
            return d.result();
        });
    }
};
} // namespace

TEST_F(EditorFixture, NewSchemeStartsFromTheFirstEntriesWithOrWithoutADataFile)
{
    state.Data.FieldCount = 3;
    // A new scheme's record still holds the slots of the scheme edited before.
    record().slot(1) = "[F3][left over]";
    record().slot(24) = "IPTC_Field2";
    {
        FormFieldParsing dialog(state, ui);
        EXPECT_EQ(nameBox(dialog)->text(), DefaultSchemeName);
        for (int k = 0; k < TagSlotCount; ++k)
            EXPECT_EQ(Entries(Box(dialog, k)), QStringList({"Leave blank", "Constant text", "IPTC_Field1",
                                                            "IPTC_Field2", "IPTC_Field3", "Aggregation"}));
        EXPECT_EQ(Entries(Box(dialog, 23)), QStringList({"IPTC_Field1", "IPTC_Field2", "IPTC_Field3", "Aggregation"}));
        // The aggregation starts from what the box shows, not the left-over slot.
        QString incoming;
        queueAggregate(incoming);
        ChooseEntry(Box(dialog, 0), "Aggregation");
        EXPECT_EQ(incoming, LeaveBlank);
        Click(dialog, "CmdOK");
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
    }
    ParsingScheme expected = MakeScheme(DefaultSchemeName, {{FileNameSlot, "IPTC_Field1"}});
    EXPECT_EQ(record(), expected);

    // Without a data file the file-name box is empty, which names images by field 1.
    state.Data.FieldCount = 0;
    record().Name.clear();
    {
        FormFieldParsing dialog(state, ui);
        EXPECT_EQ(Entries(Box(dialog, 0)), QStringList({"Leave blank", "Constant text", "Aggregation"}));
        EXPECT_EQ(Entries(Box(dialog, 23)), QStringList({"Aggregation"}));
        TypeInto(nameBox(dialog), "Bare");
        Click(dialog, "CmdOK");
    }
    expected.Name = "Bare";
    expected.slot(24) = "";
    EXPECT_EQ(record(), expected);
    EXPECT_TRUE(ui.messages.isEmpty());
}

TEST_F(EditorFixture, StoredAndTypedTextsAreKeptExactly)
{
    state.Data.FieldCount = 4;
    editExisting({{2, "IPTC_Field9"}, {5, "  two blanks each side  "}, {6, ""}, {7, "Aggregation"},
                  {9, "[F1][, ][F2]"}, {24, "[F1][.jpg]"}, {FirstXmpSlot, "[F1][ on ][F3]"}, {AllSlotCount, "IPTC_Field4"}});
    ParsingScheme expected = record();
    FormFieldParsing dialog(state, ui);
    EXPECT_EQ(nameBox(dialog)->text(), "Holiday");
    for (int i = 1; i <= AllSlotCount; ++i)
        EXPECT_EQ(Box(dialog, i - 1)->currentText(), expected.slot(i)) << i;
    // The XMP slots stand in their own group, with the entries of the IPTC slots.
    EXPECT_EQ(Find<QGroupBox>(dialog, "XmpGroup")->title(), "IPTC Core and Extension");
    EXPECT_TRUE(Find<QGroupBox>(dialog, "XmpGroup")->isAncestorOf(Box(dialog, AllSlotCount - 1)));
    EXPECT_EQ(Entries(Box(dialog, FirstXmpSlot - 1)), Entries(Box(dialog, 0)));

    // Typed text is neither completed to an entry nor taken as choosing one.
    const QList<std::pair<int, QString>> typed{
        {8, "  Rome  "}, {1, ""}, {11, "leave"}, {12, "IPTC_Field"}, {13, "Aggregation"}, {4, "Constant"}};
    for (const auto &[slot, text] : typed)
        TypeInto(Box(dialog, slot - 1), expected.slot(slot) = text);
    QTest::keyClick(Box(dialog, 12)->lineEdit(), Qt::Key_Return);
    // A chosen entry replaces typed text; "Constant text" itself is stored unchanged.
    ChooseEntry(Box(dialog, 3), expected.slot(4) = "Constant text");
    ChooseEntry(Box(dialog, 23), expected.slot(24) = "IPTC_Field2");
    TypeInto(Box(dialog, FirstXmpSlot), expected.slot(FirstXmpSlot + 1) = "Constant alt text");
    Click(dialog, "CmdOK");
    EXPECT_EQ(record(), expected);
}

TEST_F(EditorFixture, AggregationEntryOpensTheAggregationEditorOnTheSlot)
{
    state.Data.FieldCount = 5;
    editExisting({{1, "[F2]"}});
    FormFieldParsing dialog(state, ui);
    TypeInto(Box(dialog, 0), "typed meanwhile");
    QString incoming;
    queueAggregate(incoming, [](QDialog &d) {
        EXPECT_EQ(Box(d, 0)->currentText(), "IPTC_Field2");
        TypeInto(Box(d, 1), ", ");
        ChooseEntry(Box(d, 2), "IPTC_Field5");
        Click(d, "CommandOK");
    });
    ChooseEntry(Box(dialog, 0), "Aggregation");
    EXPECT_EQ(incoming, "[F2]");
    EXPECT_EQ(Box(dialog, 0)->currentText(), "[F2][, ][F5]");

    // A second opening starts from the new expression; Cancel keeps it.
    queueAggregate(incoming);
    ChooseEntry(Box(dialog, 0), "Aggregation");
    EXPECT_EQ(incoming, "[F2][, ][F5]");
    EXPECT_EQ(Box(dialog, 0)->currentText(), "[F2][, ][F5]");
    // The file-name slot offers it too; a cancelled one puts the stored text back.
    queueAggregate(incoming);
    ChooseEntry(Box(dialog, 23), "Aggregation");
    EXPECT_EQ(Box(dialog, 23)->currentText(), LeaveBlank);
    EXPECT_TRUE(ui.dialogHandlers.empty());

    // An aggregation result is stored at once, whatever closes the editor later.
    Click(dialog, "CmdCancel");
    EXPECT_EQ(record().slot(1), "[F2][, ][F5]");
    EXPECT_EQ(record().slot(24), LeaveBlank);
}

// The aggregation editor's boxes name them too.
TEST_F(EditorFixture, FieldEntriesNameTheColumnsWhileTheSlotKeepsTheField)
{
    // A header that names the columns: long samples cut, blank ones and missing names left out.
    state.Data.DataLines = {"Ref\tCaption\tByline", "a1\tHarbour at dusk, with the last ferry\t  ", "a2"};
    state.Data.LastDataLine = 2;
    state.Data.FieldGrid.build(state.Data.DataLines);
    state.Data.FieldCount = 4;
    static const QStringList NamedColumnEntries{"IPTC_Field1 — Ref (“a1”)", "IPTC_Field2 — Caption (“Harbour at dusk, with…”)",
                                                "IPTC_Field3 — Byline", "IPTC_Field4"};
    editExisting({{2, "IPTC_Field2"}, {3, "IPTC_Field9"}, {6, "[F2][F9]"}, {24, "IPTC_Field1"}});
    ParsingScheme expected = record();
    expected.slot(5) = "IPTC_Field3";
    expected.slot(6) = "[F2][F9][F1]";
    {
        FormFieldParsing dialog(state, ui);
        EXPECT_EQ(Entries(Box(dialog, 0)),
                  QStringList({LeaveBlank, "Constant text"}) + NamedColumnEntries + QStringList{"Aggregation"});
        EXPECT_EQ(Box(dialog, 1)->currentText(), NamedColumnEntries[1]);
        EXPECT_EQ(Box(dialog, 2)->currentText(), "IPTC_Field9");
        ChooseEntry(Box(dialog, 4), NamedColumnEntries[2]);
        QString incoming;
        queueAggregate(incoming, [](QDialog &d) {
            EXPECT_EQ(Entries(Box(d, 0)), NamedColumnEntries);
            EXPECT_EQ(QStringList({Box(d, 0)->currentText(), Box(d, 1)->currentText()}),
                      QStringList({NamedColumnEntries[1], "IPTC_Field9"}));
            ChooseEntry(Box(d, 2), NamedColumnEntries[0]);
            Click(d, "CommandOK");
        });
        ChooseEntry(Box(dialog, 5), "Aggregation");
        Click(dialog, "CmdOK");
    }
    EXPECT_EQ(record(), expected);
    // A new scheme's file-name slot starts from the first field, stored as such.
    record().Name.clear();
    FormFieldParsing fresh(state, ui);
    TypeInto(nameBox(fresh), "New");
    Click(fresh, "CmdOK");
    EXPECT_EQ(record().slot(24), "IPTC_Field1");
}

// A placeholder gives way to the first keystroke; the wheel moves only the
// focused box and never opens the aggregation.
TEST_F(EditorFixture, PlaceholdersGiveWayToTypingAndTheWheelMovesOnlyTheFocusedBox)
{
    state.Data.FieldCount = 7;
    FormFieldParsing dialog(state, ui);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    ChooseEntry(Box(dialog, 0), "Constant text");
    QTest::keyClicks(Box(dialog, 0)->lineEdit(), "Reuters");
    ChooseEntry(Box(dialog, 1), "Constant text");
    QTest::mouseClick(nameBox(dialog), Qt::LeftButton);
    QTest::keyClicks(nameBox(dialog), "Example");

    QComboBox *byLine = Box(dialog, 12);
    ChooseEntry(byLine, "IPTC_Field7");
    // A wheel passing over the box neither takes the focus nor changes it.
    EXPECT_NE(byLine->focusPolicy(), Qt::WheelFocus);
    EXPECT_FALSE(Wheel(byLine, 1) || Wheel(byLine, -1));
    EXPECT_EQ(byLine->currentText(), "IPTC_Field7");
    QString incoming;
    queueAggregate(incoming);
    byLine->setFocus();
    Wheel(byLine, 1);
    EXPECT_EQ(byLine->currentText(), "IPTC_Field6");
    Wheel(byLine, -1);
    Wheel(byLine, -1);
    QTest::keyClick(byLine, Qt::Key_Down);
    EXPECT_EQ(byLine->currentText(), "IPTC_Field7");
    EXPECT_EQ(ui.dialogHandlers.size(), 1u);
    Click(dialog, "CmdOK");
    EXPECT_EQ(QStringList({record().Name, record().slot(1), record().slot(2)}),
              QStringList({"Example", "Reuters", "Constant text"}));
}
