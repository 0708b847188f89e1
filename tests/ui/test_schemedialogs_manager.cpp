#include "test_schemedialogs_support.h"

#include "fakeuiservices.h"
#include "model/appstate.h"
#include "model/schemestore.h"
#include "model/settingsstore.h"
#include "ui/formfieldparsing.h"
#include "ui/formfieldparsingmanage.h"

#include <QListWidget>
#include <QSignalSpy>
#include <QTemporaryDir>

namespace {
ParsingScheme MakeScheme(const QString &name)
{
    ParsingScheme scheme;
    scheme.Name = name;
    for (int i = 1; i <= SlotCount; ++i)
        scheme.slot(i) = name + QString::number(i);
    return scheme;
}

struct ManagerFixture : ::testing::Test {
    AppState state;
    MemorySettingsStore store;
    FakeUiServices ui;

    void SetUp() override { state.Data.FieldCount = 3; }

    // Memory and store as after a start with these schemes saved.
    void startWith(const QStringList &names)
    {
        for (const QString &name : names)
            state.Schemes.Schemes.append(MakeScheme(name));
        state.Schemes.SchemeCount = int(names.size());
        ASSERT_TRUE(SaveParsings(state.Schemes, store));
    }

    QStringList listed(QWidget &dialog)
    {
        QStringList names;
        auto *list = Find<QListWidget>(dialog, "List1");
        for (int i = 0; i < list->count(); ++i)
            names.append(list->item(i)->text());
        return names;
    }

    int selectedRow(QWidget &dialog) { return Find<QListWidget>(dialog, "List1")->currentRow(); }
    void select(QWidget &dialog, int row) { Find<QListWidget>(dialog, "List1")->setCurrentRow(row); }
    bool deleteShown(QWidget &dialog) { return !Find<QPushButton>(dialog, "CmdDeleteSheme")->isHidden(); }

    // Queues an editor run that names the scheme and presses OK.
    void queueEditorOk(const QString &name, std::function<void(QDialog &)> more = {})
    {
        ui.dialogHandlers.push_back([=](QDialog &d) {
            EXPECT_EQ(d.objectName(), "FormFieldParsing");
            if (!name.isNull())
                TypeInto(Find<QLineEdit>(d, "TextParsingName"), name);
            if (more)
                more(d);
            Click(d, "CmdOK");
            return d.result();
        });
    }

    void queueEditorCancel()
    {
        ui.dialogHandlers.push_back([](QDialog &d) {
            Click(d, "CmdCancel");
            return d.result();
        });
    }

    QStringList storedNames()
    {
        SchemeTable loaded;
        LoadSchemes(loaded, store);
        QStringList names;
        for (int i = 1; i <= loaded.SchemeCount; ++i)
            names.append(loaded.Schemes[i].Name);
        return names;
    }
};
} // namespace

TEST_F(ManagerFixture, FirstUseOpensTheEditorAtOnce)
{
    queueEditorOk("First", [](QDialog &d) { TypeInto(Box(d, 0), " caption "); });
    FormFieldParsingManage dialog(state, store, ui);
    EXPECT_TRUE(ui.dialogHandlers.empty());
    EXPECT_EQ(dialog.windowTitle(), "Manage parsing schemes");
    EXPECT_EQ(listed(dialog), QStringList{"First"});
    EXPECT_EQ(selectedRow(dialog), 0);
    EXPECT_TRUE(deleteShown(dialog));
    EXPECT_EQ(dialog.focusWidget(), Find<QListWidget>(dialog, "List1"));
    ASSERT_EQ(state.Schemes.SchemeCount, 1);
    EXPECT_EQ(state.Schemes.Schemes[1].Name, "First");
    EXPECT_EQ(state.Schemes.Schemes[1].slot(1), " caption ");
    EXPECT_EQ(state.Schemes.Schemes[1].slot(24), "IPTC_Field1");

    Click(dialog, "CmdOK");
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(storedNames(), QStringList{"First"});
    EXPECT_EQ(store.read("Parsing1", "Tag1", {}), " caption ");
}

TEST_F(ManagerFixture, CancelledAddAddsNothingAndEmptyListIgnoresEditAndDelete)
{
    state.Schemes.Schemes[0] = MakeScheme("working");
    queueEditorCancel();
    FormFieldParsingManage dialog(state, store, ui);
    EXPECT_EQ(state.Schemes.SchemeCount, 0);
    EXPECT_EQ(state.Schemes.Schemes.size(), 1);
    EXPECT_TRUE(listed(dialog).isEmpty());
    EXPECT_FALSE(deleteShown(dialog));

    const SchemeTable before = state.Schemes;
    Click(dialog, "CmdEditScheme");
    Click(dialog, "CmdDeleteSheme");
    EXPECT_EQ(state.Schemes, before);

    // The editor refuses an empty name; giving up afterwards adds nothing either.
    ui.dialogHandlers.push_back([](QDialog &d) {
        TypeInto(Find<QLineEdit>(d, "TextParsingName"), "");
        Click(d, "CmdOK");
        Click(d, "CmdCancel");
        return d.result();
    });
    Click(dialog, "CmdAddSheme");
    EXPECT_EQ(ui.messages, QStringList{EmptySchemeNameMessage});
    EXPECT_EQ(state.Schemes.SchemeCount, 0);

    Click(dialog, "CmdOK");
    EXPECT_EQ(store.valueCount(), 0);
}

TEST_F(ManagerFixture, AddEditAndDeleteChangeMemoryAndOkWritesExactlyTheRest)
{
    startWith({"A", "B", "C"});
    FormFieldParsingManage dialog(state, store, ui);
    EXPECT_EQ(listed(dialog), QStringList({"A", "B", "C"}));
    EXPECT_TRUE(ui.dialogHandlers.empty());

    select(dialog, 1);
    queueEditorOk("B2", [](QDialog &d) { EXPECT_EQ(Box(d, 0)->currentText(), "B1"); });
    Click(dialog, "CmdEditScheme");
    EXPECT_EQ(listed(dialog), QStringList({"A", "B2", "C"}));
    EXPECT_EQ(selectedRow(dialog), 0);
    EXPECT_EQ(state.Schemes.Schemes[2].slot(1), "B1");

    // An edit closed with Cancel leaves the scheme as it was.
    select(dialog, 2);
    ui.dialogHandlers.push_back([](QDialog &d) {
        TypeInto(Find<QLineEdit>(d, "TextParsingName"), "ignored");
        TypeInto(Box(d, 3), "ignored");
        Click(d, "CmdCancel");
        return d.result();
    });
    Click(dialog, "CmdEditScheme");
    EXPECT_EQ(state.Schemes.Schemes[3], MakeScheme("C"));

    queueEditorOk("D");
    Click(dialog, "CmdAddSheme");
    EXPECT_EQ(listed(dialog), QStringList({"A", "B2", "C", "D"}));
    EXPECT_EQ(state.Schemes.SchemeCount, 4);
    EXPECT_EQ(state.Schemes.Schemes[4].slot(24), "IPTC_Field1");

    select(dialog, 0);
    Click(dialog, "CmdDeleteSheme");
    select(dialog, 1);
    Click(dialog, "CmdDeleteSheme");
    EXPECT_EQ(listed(dialog), QStringList({"B2", "D"}));
    EXPECT_EQ(selectedRow(dialog), 0);
    EXPECT_EQ(state.Schemes.SchemeCount, 2);
    EXPECT_EQ(state.Schemes.Schemes.size(), 3);
    // Nothing reaches the store before OK.
    EXPECT_EQ(storedNames(), QStringList({"A", "B", "C"}));

    Click(dialog, "CmdOK");
    EXPECT_EQ(storedNames(), QStringList({"B2", "D"}));
    EXPECT_FALSE(store.contains("Parsing3", "Name"));
    EXPECT_FALSE(store.contains("Parsing3", "Tag1"));
}

TEST_F(ManagerFixture, DeletingEverySchemeEmptiesTheStore)
{
    startWith({"A", "B"});
    FormFieldParsingManage dialog(state, store, ui);
    Click(dialog, "CmdDeleteSheme");
    Click(dialog, "CmdDeleteSheme");
    EXPECT_TRUE(listed(dialog).isEmpty());
    EXPECT_FALSE(deleteShown(dialog));
    EXPECT_EQ(state.Schemes.SchemeCount, 0);
    Click(dialog, "CmdOK");
    EXPECT_EQ(store.valueCount(), 0);
}

TEST_F(ManagerFixture, SectionsBeyondTheLoadedSchemesStayUntouched)
{
    startWith({"A", "B", "C", "D", "E"});
    // Memory holds the first three, as if the store had grown behind our back.
    state.Schemes.Schemes.resize(4);
    state.Schemes.SchemeCount = 3;
    {
        FormFieldParsingManage dialog(state, store, ui);
        Click(dialog, "CmdOK");
    }
    EXPECT_EQ(storedNames(), QStringList({"A", "B", "C", "D", "E"}));

    {
        FormFieldParsingManage dialog(state, store, ui);
        select(dialog, 0);
        Click(dialog, "CmdDeleteSheme");
        Click(dialog, "CmdOK");
    }
    EXPECT_EQ(storedNames(), QStringList({"B", "C"}));
    EXPECT_EQ(store.read("Parsing4", "Name", {}), "D");
    EXPECT_EQ(store.read("Parsing5", "Tag24", {}), "E24");
}

TEST_F(ManagerFixture, CancelPutsEverythingBack)
{
    startWith({"A", "B"});
    state.Schemes.Schemes[0] = MakeScheme("working");
    const SchemeTable before = state.Schemes;
    const int storedValues = store.valueCount();
    for (const bool titleBar : {false, true}) {
        FormFieldParsingManage dialog(state, store, ui);
        QSignalSpy finished(&dialog, &QDialog::finished);
        queueEditorOk("C");
        Click(dialog, "CmdAddSheme");
        select(dialog, 0);
        queueEditorOk("A2");
        Click(dialog, "CmdEditScheme");
        Click(dialog, "CmdDeleteSheme");
        ASSERT_NE(state.Schemes, before);
        // Escape and Enter press no button.
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QTest::keyClick(&dialog, Qt::Key_Return);
        EXPECT_EQ(finished.count(), 0);
        if (titleBar) {
            dialog.show();
            dialog.close();
        } else {
            Click(dialog, "CmdCancel");
        }
        EXPECT_EQ(finished.count(), 1);
        EXPECT_EQ(state.Schemes, before) << titleBar;
        EXPECT_EQ(store.valueCount(), storedValues);
        EXPECT_EQ(storedNames(), QStringList({"A", "B"}));
    }
}

TEST_F(ManagerFixture, UnwritableStoreKeepsTheDialogOpen)
{
    startWith({"A"});
    store.failWrites = true;
    FormFieldParsingManage dialog(state, store, ui);
    QSignalSpy finished(&dialog, &QDialog::finished);
    queueEditorOk("B");
    Click(dialog, "CmdAddSheme");
    Click(dialog, "CmdOK");
    EXPECT_EQ(ui.messages, QStringList{SchemesNotSavedMessage(store.location())});
    EXPECT_EQ(finished.count(), 0);
    EXPECT_EQ(listed(dialog), QStringList({"A", "B"}));
    EXPECT_EQ(state.Schemes.SchemeCount, 2);

    store.failWrites = false;
    Click(dialog, "CmdOK");
    EXPECT_EQ(finished.count(), 1);
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(storedNames(), QStringList({"A", "B"}));
}

TEST_F(ManagerFixture, ShowSchemeManagerRunsTheManagerModally)
{
    // The editor runs while the manager loads, before the manager's own handler.
    queueEditorOk("Via main window");
    ui.dialogHandlers.push_back([](QDialog &d) {
        EXPECT_EQ(d.objectName(), "FormFieldParsingManage");
        Click(d, "CmdOK");
        return d.result();
    });
    ShowSchemeManager(nullptr, state, store, ui);
    EXPECT_TRUE(ui.dialogHandlers.empty());
    EXPECT_EQ(storedNames(), QStringList{"Via main window"});
}

TEST(SchemeRestart, FreshLoadReturnsEverySchemeExactly)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("Brindleway.ini");
    AppState state;
    state.Data.FieldCount = 5;
    FakeUiServices ui;
    {
        IniSettingsStore store(path);
        LoadSchemes(state.Schemes, store);
        ASSERT_EQ(state.Schemes.SchemeCount, 0);
        // First use: the editor opens as the manager loads, then the manager
        // adds two more schemes.
        ui.dialogHandlers.push_back([](QDialog &d) {
            TypeInto(Find<QLineEdit>(d, "TextParsingName"), "  Spaced, name; = \"quoted\" ");
            TypeInto(Box(d, 0), "  Caption with blanks  ");
            TypeInto(Box(d, 1), "");
            TypeInto(Box(d, 2), "#not a comment");
            TypeInto(Box(d, 3), "C:\\photos\\a.jpg");
            TypeInto(Box(d, 4), "Ünïcödé – ✓");
            TypeInto(Box(d, 5), "[F2][, ][F5]");
            TypeInto(Box(d, 6), "@Invalid()");
            TypeInto(Box(d, 7), "a%20b/x\\y");
            ChooseEntry(Box(d, 23), "IPTC_Field5");
            Click(d, "CmdOK");
            return d.result();
        });
        ui.dialogHandlers.push_back([](QDialog &d) {
            Click(d, "CmdAddSheme");
            Click(d, "CmdAddSheme");
            Click(d, "CmdOK");
            return d.result();
        });
        ui.dialogHandlers.push_back([](QDialog &d) {
            TypeInto(Find<QLineEdit>(d, "TextParsingName"), "Second");
            ChooseEntry(Box(d, 22), "Constant text");
            Click(d, "CmdOK");
            return d.result();
        });
        ui.dialogHandlers.push_back([](QDialog &d) {
            TypeInto(Find<QLineEdit>(d, "TextParsingName"), "Third");
            TypeInto(Box(d, 23), "");
            Click(d, "CmdOK");
            return d.result();
        });
        ShowSchemeManager(nullptr, state, store, ui);
        ASSERT_TRUE(ui.dialogHandlers.empty());
        ASSERT_EQ(state.Schemes.SchemeCount, 3);
    }
    EXPECT_EQ(state.Schemes.Schemes[1].slot(1), "  Caption with blanks  ");
    EXPECT_EQ(state.Schemes.Schemes[1].slot(2), "");
    EXPECT_EQ(state.Schemes.Schemes[2].slot(23), "Constant text");

    IniSettingsStore reopened(path);
    SchemeTable loaded;
    LoadSchemes(loaded, reopened);
    ASSERT_EQ(loaded.SchemeCount, 3);
    for (int n = 1; n <= 3; ++n)
        EXPECT_EQ(loaded.Schemes[n], state.Schemes.Schemes[n]) << n;
}
