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

    QListWidget *list(QWidget &dialog) { return Find<QListWidget>(dialog, "List1"); }

    QStringList listed(QWidget &dialog)
    {
        QStringList names;
        for (int i = 0; i < list(dialog)->count(); ++i)
            names.append(list(dialog)->item(i)->text());
        return names;
    }

    bool deleteShown(QWidget &dialog) { return !Find<QPushButton>(dialog, "CmdDeleteSheme")->isHidden(); }

    void pressOn(QWidget &dialog, int row, const QString &button)
    {
        list(dialog)->setCurrentRow(row);
        Click(dialog, button);
    }

    // Queues an editor run that names the scheme, does `more`, and presses `button`.
    void queueEditor(const QString &name, std::function<void(QDialog &)> more = {}, QString button = "CmdOK")
    {
        ui.dialogHandlers.push_back([=](QDialog &d) {
            EXPECT_EQ(d.objectName(), "FormFieldParsing");
            if (!name.isNull())
                TypeInto(Find<QLineEdit>(d, "TextParsingName"), name);
            if (more)
                more(d);
            Click(d, button);
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

TEST_F(ManagerFixture, CancelledAddAddsNothingAndEmptyListIgnoresEditAndDelete)
{
    state.Schemes.Schemes[0] = MakeScheme("working");
    queueEditor("Dropped", {}, "CmdCancel");
    FormFieldParsingManage dialog(state, store, ui);
    ExpectNoDefaultButton(dialog);
    EXPECT_EQ(state.Schemes.Schemes.size(), 1);
    EXPECT_TRUE(listed(dialog).isEmpty());
    EXPECT_FALSE(deleteShown(dialog));

    // The working record is no scheme to edit or delete.
    const SchemeTable before = state.Schemes;
    Click(dialog, "CmdEditScheme");
    Click(dialog, "CmdDeleteSheme");
    EXPECT_EQ(state.Schemes, before);

    // The editor refuses an empty name; giving up afterwards adds nothing either.
    queueEditor(
        QString(),
        [](QDialog &d) {
            TypeInto(Find<QLineEdit>(d, "TextParsingName"), "");
            Click(d, "CmdOK");
        },
        "CmdCancel");
    Click(dialog, "CmdAddSheme");
    EXPECT_EQ(ui.messages, QStringList{EmptySchemeNameMessage});
    EXPECT_EQ(state.Schemes.SchemeCount, 0);

    Click(dialog, "CmdOK");
    EXPECT_EQ(store.valueCount(), 0);
}

TEST_F(ManagerFixture, AddEditAndDeleteChangeMemoryAndOkWritesExactlyTheRest)
{
    startWith({"A", "B", "C"});
    {
        FormFieldParsingManage dialog(state, store, ui);
        EXPECT_EQ(listed(dialog), QStringList({"A", "B", "C"}));
        EXPECT_TRUE(ui.dialogHandlers.empty());

        queueEditor("B2", [](QDialog &d) { EXPECT_EQ(Box(d, 0)->currentText(), "B1"); });
        pressOn(dialog, 1, "CmdEditScheme");
        EXPECT_EQ(listed(dialog), QStringList({"A", "B2", "C"}));
        EXPECT_EQ(state.Schemes.Schemes[2].slot(1), "B1");

        // An edit closed with Cancel leaves the scheme as it was.
        queueEditor("ignored", [](QDialog &d) { TypeInto(Box(d, 3), "ignored"); }, "CmdCancel");
        pressOn(dialog, 2, "CmdEditScheme");
        EXPECT_EQ(state.Schemes.Schemes[3], MakeScheme("C"));

        queueEditor("D");
        Click(dialog, "CmdAddSheme");
        EXPECT_EQ(listed(dialog), QStringList({"A", "B2", "C", "D"}));

        pressOn(dialog, 0, "CmdDeleteSheme");
        pressOn(dialog, 1, "CmdDeleteSheme");
        EXPECT_EQ(listed(dialog), QStringList({"B2", "D"}));
        EXPECT_EQ(list(dialog)->currentRow(), 0);
        EXPECT_EQ(state.Schemes.SchemeCount, 2);
        EXPECT_EQ(state.Schemes.Schemes.size(), 3);
        // Nothing reaches the store before OK.
        EXPECT_EQ(storedNames(), QStringList({"A", "B", "C"}));

        Click(dialog, "CmdOK");
        EXPECT_EQ(storedNames(), QStringList({"B2", "D"}));
        // A deleted scheme's section would come back at the next start.
        EXPECT_FALSE(store.contains("Parsing3", "Name"));
        EXPECT_FALSE(store.contains("Parsing3", "Tag1"));
    }
    FormFieldParsingManage dialog(state, store, ui);
    Click(dialog, "CmdDeleteSheme");
    Click(dialog, "CmdDeleteSheme");
    EXPECT_TRUE(listed(dialog).isEmpty());
    EXPECT_FALSE(deleteShown(dialog));
    Click(dialog, "CmdOK");
    EXPECT_EQ(store.valueCount(), 0);
}

TEST_F(ManagerFixture, SectionsBeyondTheLoadedSchemesStayUntouched)
{
    startWith({"A", "B", "C", "D", "E"});
    // Memory holds the first three, as if the store had grown behind our back.
    state.Schemes.Schemes.resize(4);
    state.Schemes.SchemeCount = 3;
    FormFieldParsingManage dialog(state, store, ui);
    pressOn(dialog, 0, "CmdDeleteSheme");
    Click(dialog, "CmdOK");
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
        queueEditor("C");
        Click(dialog, "CmdAddSheme");
        queueEditor("A2");
        pressOn(dialog, 0, "CmdEditScheme");
        Click(dialog, "CmdDeleteSheme");
        ASSERT_NE(state.Schemes, before);
        QTest::keyClick(&dialog, Qt::Key_Escape);
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
    }
}

TEST_F(ManagerFixture, UnwritableStoreKeepsTheDialogOpen)
{
    startWith({"A"});
    store.failWrites = true;
    FormFieldParsingManage dialog(state, store, ui);
    QSignalSpy finished(&dialog, &QDialog::finished);
    queueEditor("B");
    Click(dialog, "CmdAddSheme");
    Click(dialog, "CmdOK");
    EXPECT_EQ(ui.messages, QStringList{SchemesNotSavedMessage(store.location())});
    EXPECT_EQ(finished.count(), 0);
    EXPECT_EQ(listed(dialog), QStringList({"A", "B"}));

    store.failWrites = false;
    Click(dialog, "CmdOK");
    EXPECT_EQ(finished.count(), 1);
    EXPECT_EQ(storedNames(), QStringList({"A", "B"}));
}

TEST(SchemeRestart, FreshLoadReturnsEverySchemeExactly)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("Brindleway.ini");
    AppState state;
    state.Data.FieldCount = 5;
    FakeUiServices ui;
    // Texts an INI file could mangle: blanks, separators, comment and escape characters.
    const QStringList tricky{"  Caption with blanks  ", "", "#not a comment", "C:\\photos\\a.jpg",
                             "Ünïcödé – ✓", "[F2][, ][F5]", "@Invalid()", "a%20b/x\\y"};
    {
        IniSettingsStore store(path);
        LoadSchemes(state.Schemes, store);
        ASSERT_EQ(state.Schemes.SchemeCount, 0);
        // First use: the editor opens as the manager loads, before the manager's own
        // handler, which finds the one scheme selected and adds two more.
        ui.dialogHandlers.push_back([&](QDialog &d) {
            TypeInto(Find<QLineEdit>(d, "TextParsingName"), "  Spaced, name; = \"quoted\" ");
            for (int k = 0; k < tricky.size(); ++k)
                TypeInto(Box(d, k), tricky[k]);
            ChooseEntry(Box(d, 23), "IPTC_Field5");
            Click(d, "CmdOK");
            return d.result();
        });
        ui.dialogHandlers.push_back([](QDialog &d) {
            auto *list = Find<QListWidget>(d, "List1");
            EXPECT_TRUE(list->count() == 1 && list->currentRow() == 0);
            EXPECT_FALSE(Find<QPushButton>(d, "CmdDeleteSheme")->isHidden());
            Click(d, "CmdAddSheme");
            Click(d, "CmdAddSheme");
            Click(d, "CmdOK");
            return d.result();
        });
        for (const char *name : {"Second", "Third"})
            ui.dialogHandlers.push_back([name](QDialog &d) {
                TypeInto(Find<QLineEdit>(d, "TextParsingName"), name);
                ChooseEntry(Box(d, 22), "Constant text");
                TypeInto(Box(d, 23), "");
                Click(d, "CmdOK");
                return d.result();
            });
        ShowSchemeManager(nullptr, state, store, ui);
        ASSERT_TRUE(ui.dialogHandlers.empty());
        ASSERT_EQ(state.Schemes.SchemeCount, 3);
    }
    for (int k = 0; k < tricky.size(); ++k)
        EXPECT_EQ(state.Schemes.Schemes[1].slot(k + 1), tricky[k]);

    IniSettingsStore reopened(path);
    SchemeTable loaded;
    LoadSchemes(loaded, reopened);
    ASSERT_EQ(loaded.SchemeCount, 3);
    for (int n = 1; n <= 3; ++n)
        EXPECT_EQ(loaded.Schemes[n], state.Schemes.Schemes[n]) << n;
}
