#include "test_schemedialogs_support.h"

#include "engine/batchtag.h"
#include "fakeuiservices.h"
#include "model/appstate.h"
#include "model/schemestore.h"
#include "model/settingsstore.h"
#include "testsupport.h"
#include "ui/formabout.h"
#include "ui/formmain.h"
#include "ui/pathlabel.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QTableWidget>
#include <QDir>
#include <QFile>
#include <QLayout>
#include <QProgressBar>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

namespace {

class FormMainTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    IniSettingsStore store{dir.filePath("store.ini")};
    AppState state;
    BatchState batch;
    FakeUiServices ui;
    std::unique_ptr<FormMain> window;

    QString path(const QString &name) const { return dir.filePath(name); }
    void open()
    {
        window.reset(); // the old window's list must not answer for the new one
        window = std::make_unique<FormMain>(state, batch, store, ui);
    }
    template <typename T> T *child(const QString &name) const { return Find<T>(*window, name); }
    void click(const QString &button) { Click(*window, button); }
    void chooseFolder(const QString &button, const QString &answer)
    {
        ui.folderAnswers.push_back(answer);
        click(button);
    }
    void chooseDataFile(const QString &answer)
    {
        ui.fileAnswers.push_back(answer);
        click("CmdBrowseIPTCfile");
    }

    // Three photos, a data file naming them (and `extraLines`), a scheme with
    // the caption from field 2 and the name from field 1, both folders chosen.
    void prepareBatch(const QByteArray &extraLines = {})
    {
        QDir().mkpath(path("out"));
        for (const char *name : {"img001.jpg", "img002.jpg", "img003.jpg"})
            MakeImage(path("in/") + name, "jpg");
        WriteFileBytes(path("data.txt"), "File\tCaption\r\nimg001.jpg\tHarbour at dawn\r\nimg002.jpg\tCaf\xE9 terrace\r\n"
                                         "img003.jpg\tMarket\r\n" + extraLines);
        SaveParsings(MakeTable({MakeScheme("Captions", {{1, "IPTC_Field2"}, {FileNameSlot, "IPTC_Field1"}})}), store);
        open();
        chooseFolder("CmdBrowseImages", path("in"));
        chooseFolder("CmdBrowseSave", path("out"));
        chooseDataFile(path("data.txt"));
        ASSERT_EQ(state.Data.LastDataLine, 3 + extraLines.count('\n'));
    }

    QString out(const QString &name) const { return path("out/" + name); }
    std::string caption(const QString &name) const { return ReadTags(out(name))["IPTC:Caption-Abstract"]; }
    QStringList outputs(const QString &pattern = "*") const { return QDir(path("out")).entryList({pattern}, QDir::Files); }
    QList<QWidget *> inputs() const
    {
        static const QRegularExpression names("^(CmdBrowse.*|ComboParsing|CmdManageParsing|OptionReplace_[01]|Text1|"
                                              "CheckLossless|CmdCheck|CmdBatchTag)$");
        return window->findChildren<QWidget *>(names);
    }
    std::string shownMessages() const { return ui.messages.join('|').toStdString(); }
};

TEST_F(FormMainTest, SchemeListStartsFromTheStoreAndFollowsTheManager)
{
    open();
    auto *combo = child<QComboBox>("ComboParsing");
    // Typed text would leave the run without a scheme.
    EXPECT_FALSE(combo->isEditable());
    EXPECT_EQ(combo->count(), 0);
    EXPECT_EQ(combo->placeholderText(), NoSchemesText);
    EXPECT_EQ(state.SelectedScheme, -1);
    EXPECT_FALSE(child<QRadioButton>("OptionReplace_2")->isEnabled());

    SaveParsings(MakeTable({MakeScheme("Press"), MakeScheme("Archive")}), store);
    open();
    combo = child<QComboBox>("ComboParsing");
    EXPECT_EQ(Entries(combo), QStringList({"Press", "Archive"}));
    EXPECT_EQ(state.SelectedScheme, 0);
    combo->setCurrentIndex(1);
    EXPECT_EQ(state.SelectedScheme, 1);

    // However the manager closes, the list is rebuilt with the first selected.
    child<QAction>("CmdSetupParsing")->trigger();
    EXPECT_EQ(state.SelectedScheme, 0);
    // With every scheme deleted no stale name is left for a run to pick.
    ui.dialogHandlers.push_back([](QDialog &manager) {
        Click(manager, "CmdDeleteSheme");
        Click(manager, "CmdDeleteSheme");
        Click(manager, "CmdOK");
        return manager.result();
    });
    click("CmdManageParsing");
    EXPECT_EQ(combo->count(), 0);
    EXPECT_EQ(state.SelectedScheme, -1);

    // Where no registry names the System Information tool, its button says so.
    window->show();
    ui.dialogHandlers.push_back([&](QDialog &about) {
        EXPECT_EQ(Find<QLabel>(about, "lblVersion")->text(), "Version " BRINDLEWAY_VERSION);
        Click(about, "cmdSysInfo");
        return 1;
    });
    child<QAction>("CmdHelpAbout")->trigger();
    EXPECT_TRUE(ui.dialogHandlers.empty());
    child<QAction>("CmdFileExit")->trigger();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(ui.messages, QStringList{SysInfoUnavailableMessage});
}

TEST_F(FormMainTest, AStoreReadOnlyInPartIsReportedAtStartAndOverwrittenOnlyAfterAYes)
{
    const QByteArray before = "[Parsing1]\nName=Press\nTag3=caf\xe9\n";
    WriteFileBytes(path("Brindleway.ini"), before);
    IniSettingsStore ini(path("Brindleway.ini"));
    FormMain started(state, batch, ini, ui);
    ASSERT_EQ(ui.messages.size(), 1);
    EXPECT_TRUE(ui.messages.takeFirst().contains("line 3 in [Parsing1] is not UTF-8 text"));
    ui.answers = {false, true};
    ui.dialogHandlers.push_back([&](QDialog &manager) {
        Click(manager, "CmdOK");
        EXPECT_EQ(ReadFileBytes(path("Brindleway.ini")), before);
        Click(manager, "CmdOK");
        return manager.result();
    });
    Click(started, "CmdManageParsing");
    ASSERT_EQ(ui.questions.size(), 2);
    EXPECT_TRUE(ui.questions[0].contains("[Parsing1] Tag3 (line 3): not UTF-8 text, read only in part"));
    EXPECT_TRUE(ui.messages.isEmpty()) << "a No is no failure";
    EXPECT_EQ(ReadFileBytes(path("Brindleway.ini.bak")), before);
}

TEST_F(FormMainTest, FolderButtonsSetThePathCancelClearsItAndAFailedDataFileKeepsTheEarlierOne)
{
    open();
    for (const auto &[button, label, chosen] : {std::tuple{"CmdBrowseImages", "LabelImagePath", &state.ImagePath},
                                                std::tuple{"CmdBrowseSave", "LabelSavePath", &state.SavePath}}) {
        chooseFolder(button, "/srv/photos/");
        EXPECT_EQ(*chosen, "/srv/photos");
        EXPECT_EQ(child<QLabel>(label)->text(), "/srv/photos");
        chooseFolder(button, "/");
        EXPECT_EQ(*chosen, "/");
        chooseFolder(button, QString());
        EXPECT_EQ(*chosen, "");
        EXPECT_EQ(child<QLabel>(label)->text(), "");
    }

    // A long path is elided in the middle and shown in full as tooltip.
    const QString longPath = "/home/user/" + QString(60, 'x') + "/" + QString(60, 'y');
    chooseFolder("CmdBrowseImages", longPath);
    window->show();
    window->resize(420, window->height());
    window->layout()->activate();
    auto *label = child<PathLabel>("LabelImagePath");
    EXPECT_EQ(label->toolTip(), longPath);
    EXPECT_NE(label->shownText(), longPath);
    EXPECT_TRUE(label->shownText().startsWith("/home/") && label->shownText().endsWith("yyy"));

    auto *fileLabel = child<QLabel>("LabelIPTCfilename");
    auto *info = child<QLabel>("LabelIPTCinfo");
    const QString summary = "IPTC data file contains 3 entries each consisting of 2 tags";

    chooseDataFile(QString());
    EXPECT_EQ(state.Data.LastDataLine, -1);

    const QString first = path("first.txt");
    WriteFileBytes(first, "Name\tCity\nimg1.jpg\tKrak\xC3\xB3w\nimg2.jpg\tOslo\n");
    chooseDataFile(first);
    EXPECT_EQ(fileLabel->text(), first);
    EXPECT_EQ(info->text(), summary);
    EXPECT_EQ(child<QLabel>("LabelIPTCencoding")->text(), "UTF-8");

    chooseDataFile(path("gone.txt"));
    EXPECT_EQ(ui.messages, QStringList{"TextIPTCfilename not present"});
    // It opens, but reading the start of the address space fails, for root too.
    chooseDataFile("/proc/self/mem");
    ASSERT_EQ(ui.messages.size(), 2);
    EXPECT_TRUE(ui.messages.last().startsWith("Cannot read file")) << shownMessages();
    // The label never names a file other than the one the tables hold.
    EXPECT_EQ(fileLabel->text(), first);
    EXPECT_EQ(info->text(), summary);
    EXPECT_EQ(state.Data.LastDataLine, 2);
    EXPECT_EQ(state.Data.FieldGrid.cell(2, 2), QStringLiteral("Oslo"));

    ui.fileAnswers.push_back(QString());
    child<QAction>("CmdFileOpen")->trigger();
    EXPECT_TRUE(ui.fileAnswers.empty()) << "the menu asks for a data file too";
}

TEST_F(FormMainTest, BatchFollowsTheWindowLocksItsInputsAndLeavesOneLineAndEveryProblemOneClickAway)
{
    open();
    click("CmdBatchTag");
    EXPECT_EQ(ui.messages, QStringList{NoEntriesMessage});
    ui.messages.clear();
    QByteArray missing;
    for (int i = 1; i <= 7; ++i)
        missing += "missing" + QByteArray::number(i) + ".jpg\tNowhere\r\n";
    ASSERT_NO_FATAL_FAILURE(prepareBatch(missing));
    window->show();
    auto *bar = child<QProgressBar>("ProgressBarBatch");
    auto *summary = child<QLabel>("LabelRunSummary");
    EXPECT_TRUE(bar->isHidden());
    // Runs inside the run's first event processing, just before image 1 is
    // saved; Cancel stops after the image in hand.
    QList<bool> enabledDuringRun;
    QString shown;
    QTimer::singleShot(0, window.get(), [&] {
        for (QWidget *input : inputs())
            enabledDuringRun << input->isEnabled();
        enabledDuringRun << child<QAction>("CmdFileOpen")->isEnabled() << !bar->isVisible();
        shown = bar->text();
        click("CmdCancel");
    });
    click("CmdBatchTag");
    EXPECT_EQ(enabledDuringRun, QList<bool>(13, false));
    EXPECT_EQ(shown, "0 of 10") << "the bar counts lines";
    EXPECT_EQ(outputs(), QStringList{"img001.jpg"});
    EXPECT_EQ(summary->text(), "Cancelled: 1 of 10 lines saved (0 with warnings), 0 skipped, 0 failed, 9 not reached.");
    EXPECT_TRUE(child<QPushButton>("CmdShowProblems")->isHidden());
    EXPECT_TRUE(child<QPushButton>("CmdCancel")->isHidden());
    EXPECT_TRUE(bar->isHidden());
    for (QWidget *input : inputs())
        EXPECT_TRUE(input->isEnabled()) << input->objectName().toStdString();

    click("CmdBatchTag");
    EXPECT_EQ(outputs(), QStringList({"img001.jpg", "img002.jpg", "img003.jpg"}));
    EXPECT_EQ(caption("img001.jpg"), "Harbour at dawn");
    EXPECT_EQ(caption("img002.jpg"), "Café terrace");
    EXPECT_EQ(bar->value(), 10) << "the bar counted every line";
    const QString done = "Done: 3 of 10 lines saved (0 with warnings), 7 skipped, 0 failed.";
    EXPECT_EQ(summary->text(), done);
    EXPECT_TRUE(ui.messages.isEmpty()) << "runs stay silent: " << shownMessages();

    ui.saveAnswers = {path("problems.txt"), path("no/such/folder/problems.txt")};
    QStringList listed;
    ui.dialogHandlers.push_back([&](QDialog &form) {
        listed = Find<QPlainTextEdit>(form, "TextProblems")->toPlainText().split('\n');
        Click(form, "CmdCopy");
        Click(form, "CmdSave");
        Click(form, "CmdSave");
        return int(QDialog::Accepted);
    });
    EXPECT_FALSE(child<QPushButton>("CmdShowProblems")->isHidden());
    click("CmdShowProblems");
    ASSERT_EQ(listed.size(), 7);
    EXPECT_EQ(listed[0], "Row 5 (data line 4), missing1.jpg, skipped: the image file does not exist");
    EXPECT_TRUE(listed[6].startsWith("Row 11 (data line 10), missing7.jpg"));
    const QString kept = done + '\n' + listed.join('\n') + '\n';
    EXPECT_EQ(QGuiApplication::clipboard()->text(), kept);
    EXPECT_EQ(QString::fromUtf8(ReadFileBytes(path("problems.txt"))), kept);
    ASSERT_EQ(ui.messages.size(), 1);
    EXPECT_TRUE(ui.messages.takeFirst().startsWith("Cannot write file"));

    // "Write tags only" is the default and keeps the source's image data;
    // unticked, with "Append file name", the images are encoded again under new names.
    const QByteArray source = ReadFileBytes(path("in/img002.jpg"));
    const QByteArray scan = source.mid(source.indexOf("\xFF\xDA"));
    EXPECT_TRUE(ReadFileBytes(out("img002.jpg")).endsWith(scan));
    auto *lossless = child<QCheckBox>("CheckLossless");
    EXPECT_TRUE(lossless->isChecked());
    lossless->click();
    child<QRadioButton>("OptionReplace_1")->click();
    TypeInto(child<QLineEdit>("Text1"), "_enc");
    click("CmdBatchTag");
    EXPECT_EQ(outputs("*_enc*"), QStringList({"img001_enc.jpg", "img002_enc.jpg", "img003_enc.jpg"}));
    EXPECT_EQ(caption("img003_enc.jpg"), "Market");
    EXPECT_FALSE(ReadFileBytes(out("img002_enc.jpg")).endsWith(scan));

    // Closing mid-run finishes the image in hand, then stops and closes.
    TypeInto(child<QLineEdit>("Text1"), "_cut");
    QTimer::singleShot(0, window.get(), [&] { window->close(); });
    click("CmdBatchTag");
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(window->batchRunning());
    EXPECT_EQ(outputs("*_cut*"), QStringList{"img001_cut.jpg"});
    EXPECT_EQ(caption("img001_cut.jpg"), "Harbour at dawn");
    EXPECT_TRUE(ui.messages.isEmpty()) << shownMessages();
}

TEST_F(FormMainTest, CheckFindsEachProblemClassWithItsRowAndWritesNothing)
{
    ASSERT_NO_FATAL_FAILURE(prepareBatch());
    for (int i = 1; i <= 9; ++i)
        QFile::copy(path("in/img001.jpg"), path("in/v%1.jpg").arg(i));
    WriteFileBytes(path("in/notes.jpg"), "not an image");
    WriteFileBytes(out("v2.jpg"), "last week's");
    const struct {
        QByteArray fields; // name, caption, date, time, urgency, country, keywords
        const char *problem; // empty: none
    } lines[] = {
        {"v1.jpg\tHarbour\t20240131\t183000+0100\t5\tNOR\tharbour;dusk", ""},
        {"gone.jpg\t\t\t\t\t\t", "the image file does not exist"},
        {"notes.jpg\t\t\t\t\t\t", "not an image of a known type"},
        {"../v1.jpg\t\t\t\t\t\t", "\"..\""},
        {"v2.jpg\t\t\t\t\t\t", "would replace an existing file"},
        {"./v1.jpg\t\t\t\t\t\t", "would replace that of line 1"},
        {"v3.jpg\t" + QByteArray(2001, 'c') + "\t\t\t\t\t", "Caption/Abstract cut from 2001 to 2000 bytes"},
        {"v4.jpg\t\t31/01/2024\t\t\t\t", "is not a date (CCYYMMDD)"},
        {"v5.jpg\t\t\t18:30\t\t\t", "is not a time (HHMMSS+HHMM"},
        {"v6.jpg\t\t\t\t9\t\t", "Urgency \"9\" is not an urgency from 1 to 8"},
        {"v7.jpg\t\t\t\t\tUK\t", "not a three-letter country code"},
        {"v8.jpg\t\t\t\t\t\tok;" + QByteArray(65, 'k'), "Keywords cut from 65 to 64 bytes"},
    };
    QByteArray data = "File\tCaption\tDate\tTime\tUrgency\tCountry\tKeywords\n";
    for (const auto &line : lines)
        data += line.fields + '\n';
    WriteFileBytes(path("data.txt"), data);
    chooseDataFile(path("data.txt"));
    ParsingScheme &scheme = state.Schemes.Schemes[1];
    for (const auto &[slot, field] : {std::pair{DateCreatedSlot, 3}, {TimeCreatedSlot, 4}, {19, 5}, {10, 6}, {KeywordsSlot, 7}})
        scheme.slot(slot) = QStringLiteral("IPTC_Field%1").arg(field);

    ui.dialogHandlers.push_back([&](QDialog &form) {
        auto *table = Find<QTableWidget>(form, "TableCheck");
        EXPECT_EQ(table->rowCount(), std::size(lines));
        EXPECT_EQ(table->horizontalHeaderItem(6)->text(), "Keywords");
        EXPECT_EQ(table->item(0, 6)->text(), "harbour;dusk");
        for (int r = 0; r < table->rowCount(); ++r) {
            const QString problems = table->item(r, 4)->text();
            EXPECT_EQ(table->item(r, 0)->text(), QString::number(r + 2)) << "the header is row 1";
            EXPECT_EQ(table->item(r, 1)->text(), QString::number(r + 1));
            EXPECT_EQ(problems.isEmpty(), !*lines[r].problem) << problems.toStdString();
            EXPECT_TRUE(problems.contains(QLatin1String(lines[r].problem))) << r << ": " << problems.toStdString();
            EXPECT_EQ(table->item(r, 0)->icon().isNull(), !*lines[r].problem);
        }
        Find<QCheckBox>(form, "CheckOnlyProblems")->click();
        EXPECT_TRUE(table->isRowHidden(0));
        EXPECT_FALSE(table->isRowHidden(1));
        return int(QDialog::Accepted);
    });
    click("CmdCheck");
    EXPECT_TRUE(ui.dialogHandlers.empty());
    EXPECT_EQ(outputs(), QStringList{"v2.jpg"});
    EXPECT_EQ(ReadFileBytes(out("v2.jpg")), "last week's");

    chooseFolder("CmdBrowseSave", path("in"));
    click("CmdCheck");
    EXPECT_EQ(ui.messages, QStringList{SamePathMessage});
}

} // namespace
