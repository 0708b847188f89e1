#include "test_schemedialogs_support.h"

#include "fakeuiservices.h"
#include "model/appstate.h"
#include "ui/formaggregate.h"
#include "ui/formfieldparsing.h"

#include <QLabel>
#include <QSignalSpy>

namespace {
struct EditorFixture : ::testing::Test {
    AppState state;
    FakeUiServices ui;

    ParsingScheme &record() { return state.Schemes.Schemes[0]; }

    QLineEdit *nameBox(QWidget &dialog) { return Find<QLineEdit>(dialog, QStringLiteral("TextParsingName")); }

    ParsingScheme existing()
    {
        ParsingScheme scheme;
        scheme.Name = "Holiday";
        for (int i = 1; i <= SlotCount; ++i)
            scheme.slot(i) = LeaveBlank;
        return scheme;
    }
};
} // namespace

TEST_F(EditorFixture, NewSchemeOffersFieldsOfTheDataFileAndStoresFirstEntries)
{
    state.Data.FieldCount = 3;
    // A new scheme's record still holds the slots of the scheme edited before.
    record().slot(1) = "[F3]";
    record().slot(24) = "IPTC_Field2";
    FormFieldParsing dialog(state, ui);
    EXPECT_EQ(dialog.windowTitle(), "Field to IPTC tag parsing scheme");
    EXPECT_EQ(nameBox(dialog)->text(), "Enter parsing scheme name");
    for (int k = 0; k < TagSlotCount; ++k) {
        EXPECT_EQ(Entries(Box(dialog, k)), QStringList({"Leave blank", "Constant text", "IPTC_Field1", "IPTC_Field2",
                                                        "IPTC_Field3", "Aggregation"}));
        EXPECT_EQ(Box(dialog, k)->currentText(), "Leave blank");
    }
    EXPECT_EQ(Entries(Box(dialog, 23)), QStringList({"IPTC_Field1", "IPTC_Field2", "IPTC_Field3", "Aggregation"}));
    EXPECT_EQ(Box(dialog, 23)->currentText(), "IPTC_Field1");
    EXPECT_EQ(Find<QLabel>(dialog, "Label23")->text(), "FILE NAME");
    EXPECT_TRUE(Find<QLabel>(dialog, "Label23")->font().bold());
    EXPECT_EQ(Find<QLabel>(dialog, "Label1")->text(), "Caption writer");
    EXPECT_NE(dialog.findChild<QFrame *>("Line9"), nullptr);
    EXPECT_EQ(dialog.findChild<QFrame *>("Line10"), nullptr);
    EXPECT_EQ(dialog.focusWidget(), Box(dialog, 0));

    Click(dialog, "CmdOK");
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(record().Name, "Enter parsing scheme name");
    for (int i = 1; i <= TagSlotCount; ++i)
        EXPECT_EQ(record().slot(i), LeaveBlank) << i;
    EXPECT_EQ(record().slot(24), "IPTC_Field1");
    EXPECT_TRUE(ui.messages.isEmpty());
}

TEST_F(EditorFixture, WithoutDataFileEveryDialogStillWorks)
{
    state.Data.FieldCount = 0;
    {
        FormFieldParsing dialog(state, ui);
        EXPECT_EQ(Entries(Box(dialog, 0)), QStringList({"Leave blank", "Constant text", "Aggregation"}));
        EXPECT_EQ(Entries(Box(dialog, 23)), QStringList({"Aggregation"}));
        EXPECT_EQ(Box(dialog, 23)->currentText(), "");
        TypeInto(nameBox(dialog), "Bare");
        Click(dialog, "CmdOK");
    }
    EXPECT_EQ(record().Name, "Bare");
    EXPECT_EQ(record().slot(1), LeaveBlank);
    EXPECT_EQ(record().slot(24), "");

    record() = existing();
    record().slot(3) = "IPTC_Field2";
    record().slot(24) = "IPTC_Field1";
    FormFieldParsing dialog(state, ui);
    EXPECT_EQ(Box(dialog, 2)->currentText(), "IPTC_Field2");
    EXPECT_EQ(Box(dialog, 23)->currentText(), "IPTC_Field1");
    Click(dialog, "CmdOK");
    EXPECT_EQ(record().slot(3), "IPTC_Field2");
    EXPECT_EQ(record().slot(24), "IPTC_Field1");
}

TEST_F(EditorFixture, StoredTextsThatAreNoEntriesAreShownAndKept)
{
    state.Data.FieldCount = 4;
    ParsingScheme scheme = existing();
    scheme.slot(2) = "IPTC_Field9";
    scheme.slot(5) = "  two blanks each side  ";
    scheme.slot(6) = "";
    scheme.slot(7) = "Aggregation";
    scheme.slot(9) = "[F1][, ][F2]";
    scheme.slot(24) = "[F1][.jpg]";
    record() = scheme;
    FormFieldParsing dialog(state, ui);
    EXPECT_EQ(nameBox(dialog)->text(), "Holiday");
    for (int i = 1; i <= SlotCount; ++i)
        EXPECT_EQ(Box(dialog, i - 1)->currentText(), scheme.slot(i)) << i;
    // Showing the stored "Aggregation" text is no choice of that entry.
    EXPECT_EQ(ui.dialogHandlers.size(), 0u);
    Click(dialog, "CmdOK");
    EXPECT_EQ(record(), scheme);

    // A record without a name is a new scheme whatever its slots hold.
    record().Name.clear();
    FormFieldParsing fresh(state, ui);
    EXPECT_EQ(Box(fresh, 1)->currentText(), LeaveBlank);
    EXPECT_EQ(Box(fresh, 23)->currentText(), "IPTC_Field1");
}

TEST_F(EditorFixture, TypedTextIsStoredExactly)
{
    state.Data.FieldCount = 2;
    record() = existing();
    bool aggregationOpened = false;
    ui.dialogHandlers.push_back([&](QDialog &) {
        aggregationOpened = true;
        return int(QDialog::Rejected);
    });
    FormFieldParsing dialog(state, ui);
    TypeInto(Box(dialog, 7), "  Rome  ");
    ChooseEntry(Box(dialog, 3), "Constant text");
    EXPECT_EQ(Box(dialog, 3)->currentText(), "Constant text");
    // Choosing the entry again puts it back over typed text.
    ChooseEntry(Box(dialog, 4), "Constant text");
    TypeInto(Box(dialog, 4), "Constant");
    ChooseEntry(Box(dialog, 4), "Constant text");
    EXPECT_EQ(Box(dialog, 4)->currentText(), "Constant text");
    // Text that merely starts like an entry is not completed to it.
    TypeInto(Box(dialog, 10), "leave");
    TypeInto(Box(dialog, 11), "IPTC_Field");
    TypeInto(Box(dialog, 0), "");
    // Typing the entry's word is not choosing it.
    TypeInto(Box(dialog, 12), "Aggregation");
    QTest::keyClick(Box(dialog, 12)->lineEdit(), Qt::Key_Return);
    EXPECT_FALSE(aggregationOpened);
    ChooseEntry(Box(dialog, 23), "IPTC_Field2");

    Click(dialog, "CmdOK");
    EXPECT_EQ(record().slot(8), "  Rome  ");
    EXPECT_EQ(record().slot(4), "Constant text");
    EXPECT_EQ(record().slot(5), "Constant text");
    EXPECT_EQ(record().slot(11), "leave");
    EXPECT_EQ(record().slot(12), "IPTC_Field");
    EXPECT_EQ(record().slot(1), "");
    EXPECT_EQ(record().slot(13), "Aggregation");
    EXPECT_EQ(record().slot(24), "IPTC_Field2");
    EXPECT_EQ(record().slot(2), LeaveBlank);
}

TEST_F(EditorFixture, EmptyNameIsRefusedAndCancelStoresNothing)
{
    state.Data.FieldCount = 2;
    record() = existing();
    const ParsingScheme before = record();
    FormFieldParsing dialog(state, ui);
    QSignalSpy finished(&dialog, &QDialog::finished);
    TypeInto(nameBox(dialog), "");
    ChooseEntry(Box(dialog, 0), "IPTC_Field1");
    Click(dialog, "CmdOK");
    EXPECT_EQ(ui.messages, QStringList{EmptySchemeNameMessage});
    EXPECT_EQ(finished.count(), 0);
    EXPECT_EQ(record(), before);

    // Escape and Enter press no button.
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QTest::keyClick(&dialog, Qt::Key_Return);
    EXPECT_EQ(finished.count(), 0);

    TypeInto(nameBox(dialog), " Renamed ");
    Click(dialog, "CmdCancel");
    EXPECT_EQ(finished.count(), 1);
    EXPECT_EQ(record(), before);

    FormFieldParsing again(state, ui);
    again.show();
    TypeInto(nameBox(again), "Closed");
    again.close();
    EXPECT_EQ(record(), before);
}

TEST_F(EditorFixture, AggregationEntryOpensTheAggregationEditorOnTheSlot)
{
    state.Data.FieldCount = 5;
    record() = existing();
    record().slot(1) = "[F2]";
    QStringList seen;
    FormFieldParsing dialog(state, ui);
    TypeInto(Box(dialog, 0), "typed meanwhile");

    ui.dialogHandlers.push_back([&](QDialog &d) {
        EXPECT_EQ(d.objectName(), "FormAggregate");
        seen.append(Box(d, 0)->currentText());
        TypeInto(Box(d, 1), ", ");
        ChooseEntry(Box(d, 2), "IPTC_Field5");
        Click(d, "CommandOK");
        return d.result();
    });
    ChooseEntry(Box(dialog, 0), "Aggregation");
    EXPECT_EQ(seen, QStringList{"IPTC_Field2"});
    EXPECT_EQ(Box(dialog, 0)->currentText(), "[F2][, ][F5]");
    // Stored at once, whatever closes the editor later.
    EXPECT_EQ(record().slot(1), "[F2][, ][F5]");

    ui.dialogHandlers.push_back([&](QDialog &d) {
        seen.append(Box(d, 2)->currentText());
        Click(d, "CommandCancel");
        return d.result();
    });
    ChooseEntry(Box(dialog, 0), "Aggregation");
    EXPECT_EQ(seen.last(), "IPTC_Field5");
    EXPECT_EQ(Box(dialog, 0)->currentText(), "[F2][, ][F5]");

    // The file-name slot offers it too; a cancelled one puts the stored text back.
    ui.dialogHandlers.push_back([&](QDialog &d) {
        Click(d, "CommandCancel");
        return d.result();
    });
    ChooseEntry(Box(dialog, 23), "Aggregation");
    EXPECT_EQ(Box(dialog, 23)->currentText(), LeaveBlank);
    EXPECT_TRUE(ui.dialogHandlers.empty());

    Click(dialog, "CmdCancel");
    EXPECT_EQ(record().slot(1), "[F2][, ][F5]");
    EXPECT_EQ(record().slot(24), LeaveBlank);
}

TEST_F(EditorFixture, NewSchemeAggregationStartsFromWhatTheBoxShows)
{
    state.Data.FieldCount = 3;
    record().slot(1) = "[F3][left over]";
    FormFieldParsing dialog(state, ui);
    QString incoming = "unset";
    ui.dialogHandlers.push_back([&](QDialog &d) {
        incoming = state.AggregateParts[7];
        EXPECT_EQ(Box(d, 0)->currentText(), "");
        Click(d, "CommandCancel");
        return d.result();
    });
    ChooseEntry(Box(dialog, 0), "Aggregation");
    EXPECT_EQ(incoming, LeaveBlank);
    EXPECT_EQ(Box(dialog, 0)->currentText(), LeaveBlank);
}
