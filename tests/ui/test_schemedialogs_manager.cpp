#include "test_schemedialogs_support.h"

#include "fakeuiservices.h"
#include "model/appstate.h"
#include "model/schemestore.h"
#include "model/settingsstore.h"
#include "testsupport.h"
#include "ui/formaggregate.h"
#include "ui/formfieldparsing.h"
#include "ui/formfieldparsingmanage.h"

#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QSignalSpy>
#include <QTemporaryDir>

namespace {
// A scheme whose slot i holds its name and i, so that a mixed-up slot shows.
ParsingScheme Numbered(const QString &name)
{
    QHash<int, QString> values;
    for (int i = 1; i <= SlotCount; ++i)
        values[i] = name + QString::number(i);
    return MakeScheme(name, values);
}

struct ManagerFixture : ::testing::Test {
    QTemporaryDir dir;
    const QString file = dir.filePath("Brindleway.ini");
    IniSettingsStore store{file};
    AppState state;
    FakeUiServices ui;

    void SetUp() override { state.Data.FieldCount = 3; }

    // Memory and store as after a start with these schemes saved.
    void startWith(const QStringList &names)
    {
        QList<ParsingScheme> schemes;
        for (const QString &name : names)
            schemes.append(Numbered(name));
        state.Schemes = MakeTable(schemes);
        ASSERT_TRUE(SaveParsings(state.Schemes, store));
    }

    QListWidget *list(QWidget &dialog) { return Find<QListWidget>(dialog, "List1"); }
    QStringList listed(QWidget &dialog) { return Entries(list(dialog)->model()); }
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
            TypeInto(Find<QLineEdit>(d, "TextParsingName"), name);
            if (more)
                more(d);
            Click(d, button);
            return d.result();
        });
    }

    // What a fresh start would load from the file.
    QStringList storedNames()
    {
        SchemeTable loaded;
        LoadSchemes(loaded, IniSettingsStore(file));
        return SchemeNames(loaded);
    }
};
} // namespace

TEST_F(ManagerFixture, AddEditAndDeleteChangeMemoryAndOkWritesExactlyTheRestDownToNone)
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
        EXPECT_EQ(state.Schemes.Schemes[3], Numbered("C"));

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
        EXPECT_EQ(store.sections(), QStringList({"Parsing1", "Parsing2"}));
    }
    {
        FormFieldParsingManage dialog(state, store, ui);
        Click(dialog, "CmdDeleteSheme");
        Click(dialog, "CmdDeleteSheme");
        EXPECT_TRUE(listed(dialog).isEmpty());
        EXPECT_FALSE(deleteShown(dialog));
        // The working record is no scheme to edit or delete.
        const SchemeTable before = state.Schemes;
        Click(dialog, "CmdEditScheme");
        Click(dialog, "CmdDeleteSheme");
        EXPECT_EQ(state.Schemes, before);
        // The editor refuses an empty name; giving up afterwards adds nothing either.
        queueEditor("", [](QDialog &d) { Click(d, "CmdOK"); }, "CmdCancel");
        Click(dialog, "CmdAddSheme");
        EXPECT_EQ(ui.messages, QStringList{EmptySchemeNameMessage});
        Click(dialog, "CmdOK");
        EXPECT_EQ(store.sections(), QStringList{});
    }
    // With no scheme the editor opens at once; cancelled, it adds nothing.
    queueEditor("Dropped", {}, "CmdCancel");
    FormFieldParsingManage dialog(state, store, ui);
    EXPECT_TRUE(ui.dialogHandlers.empty());
    EXPECT_EQ(state.Schemes.Schemes.size(), 1);
    EXPECT_TRUE(listed(dialog).isEmpty());
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

TEST_F(ManagerFixture, UnwritableStoreKeepsTheDialogOpen)
{
    startWith({"A"});
    // A folder where the file was: every save fails, as on a full disk.
    QFile::remove(file);
    QDir().mkpath(file);
    FormFieldParsingManage dialog(state, store, ui);
    QSignalSpy finished(&dialog, &QDialog::finished);
    queueEditor("B");
    Click(dialog, "CmdAddSheme");
    Click(dialog, "CmdOK");
    EXPECT_EQ(ui.messages, QStringList{SchemesNotSavedMessage(store.location(), store.lastError())});
    EXPECT_EQ(finished.count(), 0);
    EXPECT_EQ(listed(dialog), QStringList({"A", "B"}));

    QDir().rmdir(file);
    Click(dialog, "CmdOK");
    EXPECT_EQ(finished.count(), 1);
    EXPECT_EQ(storedNames(), QStringList({"A", "B"}));
}

// The three scheme dialogs keep one contract: no button is the default (Enter
// in a half-typed box must not close the dialog), Escape does nothing, Cancel
// drops every change, and so does closing the window, except in the
// aggregation editor, where closing keeps the pieces.
TEST_F(ManagerFixture, EveryDialogHasNoDefaultIgnoresEscapeAndCancelDropsTheChanges)
{
    using Opener = std::function<std::unique_ptr<QDialog>(ManagerFixture &)>;
    const struct {
        const char *dialog;
        Opener open;
        std::function<void(ManagerFixture &, QDialog &)> change;
        const char *cancel;
        QString partsAfterClose;
    } cases[] = {
        {"editor", [](ManagerFixture &f) { return std::make_unique<FormFieldParsing>(f.state, f.ui); },
         [](ManagerFixture &, QDialog &d) {
             TypeInto(Find<QLineEdit>(d, "TextParsingName"), "Renamed");
             ChooseEntry(Box(d, 0), "IPTC_Field1");
         },
         "CmdCancel", "[F1][-][F2]"},
        {"aggregation editor", [](ManagerFixture &f) { return std::make_unique<FormAggregate>(f.state); },
         [](ManagerFixture &, QDialog &d) { TypeInto(Box(d, 1), " x "); }, "CommandCancel", "[F1][ x ][F2]"},
        {"manager", [](ManagerFixture &f) { return std::make_unique<FormFieldParsingManage>(f.state, f.store, f.ui); },
         [](ManagerFixture &f, QDialog &d) {
             f.queueEditor("C");
             Click(d, "CmdAddSheme");
             f.queueEditor("A2");
             f.pressOn(d, 0, "CmdEditScheme");
             Click(d, "CmdDeleteSheme");
         },
         "CmdCancel", "[F1][-][F2]"},
    };
    startWith({"A", "B"});
    state.Schemes.Schemes[0] = Numbered("working");
    const SchemeTable before = state.Schemes;
    for (const auto &c : cases) {
        for (const bool closeWindow : {false, true}) {
            SCOPED_TRACE(std::string(c.dialog) + (closeWindow ? ", window closed" : ", Cancel"));
            state.AggregateParts[7] = "[F1][-][F2]";
            const std::unique_ptr<QDialog> dialog = c.open(*this);
            for (QPushButton *button : dialog->findChildren<QPushButton *>())
                EXPECT_FALSE(button->isDefault() || button->autoDefault()) << button->objectName().toStdString();
            QSignalSpy finished(dialog.get(), &QDialog::finished);
            c.change(*this, *dialog);
            QTest::keyClick(dialog.get(), Qt::Key_Escape);
            EXPECT_EQ(finished.count(), 0);
            if (closeWindow) {
                dialog->show();
                dialog->close();
            } else {
                Click(*dialog, c.cancel);
            }
            EXPECT_EQ(finished.count(), 1);
            EXPECT_EQ(state.Schemes, before);
            EXPECT_EQ(storedNames(), QStringList({"A", "B"}));
            const bool cancelledAggregate = !closeWindow && QByteArray(c.cancel) == "CommandCancel";
            EXPECT_EQ(state.AggregateParts[7], cancelledAggregate ? QString() : c.partsAfterClose);
        }
    }
}
