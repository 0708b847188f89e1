#include "test_schemedialogs_support.h"

#include "engine/batchtag.h"
#include "fakeuiservices.h"
#include "model/appstate.h"
#include "model/schemestore.h"
#include "model/settingsstore.h"
#include "testsupport.h"
#include "ui/folderpicker.h"
#include "ui/formmain.h"
#include "ui/pathlabel.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLayout>
#include <QProgressBar>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>

#include <unistd.h>

namespace {

void StoreScheme(SettingsStore &store, int n, const QString &name, const QHash<int, QString> &values = {})
{
    store.write(ParsingSection(n), "Name", name);
    for (int slot = 1; slot <= SlotCount; ++slot)
        store.write(ParsingSection(n), TagKey(slot), values.value(slot, LeaveBlank));
}

class FormMainTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    MemorySettingsStore store;
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
    void chooseFolder(const QString &button, std::optional<QString> answer)
    {
        ui.folderAnswers.push_back(answer);
        click(button);
    }
    void chooseDataFile(std::optional<QString> answer)
    {
        ui.fileAnswers.push_back(answer);
        click("CmdBrowseIPTCfile");
    }

    // Three photos, a data file naming them (and `extraLines`), a scheme with
    // the caption from field 2 and the name from field 1, both folders chosen.
    void prepareBatch(const QByteArray &extraLines = {})
    {
        QDir().mkpath(path("in"));
        QDir().mkpath(path("out"));
        QImage image(24, 16, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        for (const char *name : {"img001.jpg", "img002.jpg", "img003.jpg"})
            ASSERT_TRUE(image.save(path("in/") + name, "JPEG"));
        WriteFileBytes(path("data.txt"), "File\tCaption\r\nimg001.jpg\tHarbour at dawn\r\nimg002.jpg\tCaf\xE9 terrace\r\n"
                                         "img003.jpg\tMarket\r\n" + extraLines);
        StoreScheme(store, 1, "Captions", {{1, "IPTC_Field2"}, {24, "IPTC_Field1"}});
        open();
        chooseFolder("CmdBrowseImages", path("in"));
        chooseFolder("CmdBrowseSave", path("out"));
        chooseDataFile(path("data.txt"));
        ASSERT_EQ(state.Data.LastDataLine, 3 + extraLines.count('\n'));
    }

    QString out(const QString &name) const { return path("out/" + name); }
    QStringList outputs(const QString &pattern = "*") const { return QDir(path("out")).entryList({pattern}, QDir::Files); }
    QList<QWidget *> inputs() const
    {
        QList<QWidget *> list;
        for (const char *name : {"CmdBrowseImages", "CmdBrowseIPTCfile", "ComboParsing", "CmdManageParsing",
                                 "CmdBrowseSave", "OptionReplace_0", "OptionReplace_1", "Text1", "CheckLossless",
                                 "CmdBatchTag"})
            list << child<QWidget>(name);
        return list;
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

    StoreScheme(store, 1, "Press");
    StoreScheme(store, 2, "Archive");
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

    window->show();
    QString opened;
    ui.dialogHandlers.push_back([&](QDialog &about) {
        opened = about.objectName();
        return int(QDialog::Accepted);
    });
    child<QAction>("CmdHelpAbout")->trigger();
    EXPECT_EQ(opened, "FormAbout");
    child<QAction>("CmdFileExit")->trigger();
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(ui.messages.isEmpty()) << shownMessages();
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

TEST_F(FormMainTest, FolderButtonsSetThePathAndCancelClearsIt)
{
    open();
    for (const auto &[button, label, chosen] : {std::tuple{"CmdBrowseImages", "LabelImagePath", &state.ImagePath},
                                                std::tuple{"CmdBrowseSave", "LabelSavePath", &state.SavePath}}) {
        chooseFolder(button, "/srv/photos/");
        EXPECT_EQ(*chosen, "/srv/photos");
        EXPECT_EQ(child<QLabel>(label)->text(), "/srv/photos");
        chooseFolder(button, "/");
        EXPECT_EQ(*chosen, "/");
        chooseFolder(button, std::nullopt);
        EXPECT_EQ(*chosen, "");
        EXPECT_EQ(child<QLabel>(label)->text(), "");
    }
    EXPECT_EQ(ui.folderTitles, QStringList(6, FolderPickerTitle));

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
}

TEST_F(FormMainTest, DataFileLoadsAndAFailureKeepsTheEarlierFile)
{
    open();
    auto *fileLabel = child<QLabel>("LabelIPTCfilename");
    auto *info = child<QLabel>("LabelIPTCinfo");
    const QString summary = "IPTC data file contains 3 entries each consisting of 2 tags";

    chooseDataFile(std::nullopt);
    EXPECT_EQ(ui.fileFilters.value(0), QStringList({"Tab delimited text file (*.txt)", "All files (*.*)"}));
    EXPECT_EQ(state.Data.LastDataLine, -1);

    const QString first = path("first.txt");
    WriteFileBytes(first, "Name\tCity\nimg1.jpg\tKrak\xC3\xB3w\nimg2.jpg\tOslo\n");
    chooseDataFile(first);
    EXPECT_EQ(fileLabel->text(), first);
    EXPECT_EQ(info->text(), summary);
    EXPECT_EQ(child<QLabel>("LabelIPTCencoding")->text(), "UTF-8");

    chooseDataFile(path("gone.txt"));
    EXPECT_EQ(ui.messages, QStringList{"TextIPTCfilename not present"});
    // Permissions do not stop root, but the kernel refuses to read this one.
    QString unreadable = "/proc/self/mem";
    if (geteuid() != 0) {
        unreadable = path("locked.txt");
        WriteFileBytes(unreadable, "Name\nx\n");
        QFile::setPermissions(unreadable, {});
    }
    chooseDataFile(unreadable);
    ASSERT_EQ(ui.messages.size(), 2);
    EXPECT_TRUE(ui.messages.last().startsWith("Cannot read file")) << shownMessages();
    // The label never names a file other than the one the tables hold.
    EXPECT_EQ(fileLabel->text(), first);
    EXPECT_EQ(info->text(), summary);
    EXPECT_EQ(state.Data.LastDataLine, 2);
    EXPECT_EQ(state.Data.FieldGrid.cell(2, 2), QStringLiteral("Oslo"));

    ui.fileAnswers.push_back(std::nullopt);
    child<QAction>("CmdFileOpen")->trigger();
    EXPECT_EQ(ui.fileFilters.size(), 5);
}

TEST_F(FormMainTest, BatchWritesTaggedFilesReplacingAppendingKeepingImageDataAndStoppingOnClose)
{
    ASSERT_NO_FATAL_FAILURE(prepareBatch());
    window->show();
    auto *bar = child<QProgressBar>("ProgressBarBatch");
    EXPECT_TRUE(bar->isHidden());
    QList<bool> enabledDuringRun;
    // Runs inside the run's first event processing, just before image 1 is saved.
    QTimer::singleShot(0, window.get(), [&] {
        for (QWidget *input : inputs())
            enabledDuringRun << input->isEnabled();
        enabledDuringRun << child<QAction>("CmdFileOpen")->isEnabled() << !bar->isVisible();
    });
    click("CmdBatchTag");
    EXPECT_EQ(enabledDuringRun, QList<bool>(12, false));
    EXPECT_EQ(outputs(), QStringList({"img001.jpg", "img002.jpg", "img003.jpg"}));
    EXPECT_EQ(Iptc(out("img001.jpg")), "Harbour at dawn");
    EXPECT_EQ(Iptc(out("img002.jpg")), "Café terrace");
    EXPECT_TRUE(bar->isHidden());
    for (QWidget *input : inputs())
        EXPECT_TRUE(input->isEnabled()) << input->objectName().toStdString();

    // "Append file name" puts Text1 before the extension.
    child<QRadioButton>("OptionReplace_1")->click();
    TypeInto(child<QLineEdit>("Text1"), "_web");
    click("CmdBatchTag");
    EXPECT_EQ(outputs("*_web*"), QStringList({"img001_web.jpg", "img002_web.jpg", "img003_web.jpg"}));
    EXPECT_EQ(Iptc(out("img003_web.jpg")), "Market");

    // "Write tags only" is the default: the source's bytes follow the new segments unchanged.
    auto *lossless = child<QCheckBox>("CheckLossless");
    EXPECT_TRUE(lossless->isChecked());
    TypeInto(child<QLineEdit>("Text1"), "_raw");
    click("CmdBatchTag");
    EXPECT_EQ(Iptc(out("img002_raw.jpg")), "Café terrace");
    const QByteArray source = ReadFileBytes(path("in/img002.jpg"));
    const QByteArray scan = source.mid(source.indexOf("\xFF\xDA"));
    EXPECT_TRUE(ReadFileBytes(out("img002_raw.jpg")).endsWith(scan));
    // Unticked, the images are decoded and encoded again.
    lossless->click();
    TypeInto(child<QLineEdit>("Text1"), "_enc");
    click("CmdBatchTag");
    EXPECT_EQ(Iptc(out("img002_enc.jpg")), "Café terrace");
    EXPECT_FALSE(ReadFileBytes(out("img002_enc.jpg")).endsWith(scan));

    // Closing mid-run finishes the image in hand, then stops and closes.
    TypeInto(child<QLineEdit>("Text1"), "_cut");
    QTimer::singleShot(0, window.get(), [&] { window->close(); });
    click("CmdBatchTag");
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(window->batchRunning());
    EXPECT_EQ(outputs("*_cut*"), QStringList{"img001_cut.jpg"});
    EXPECT_EQ(Iptc(out("img001_cut.jpg")), "Harbour at dawn");
    // Runs without failures stay silent.
    EXPECT_TRUE(ui.messages.isEmpty()) << shownMessages();
}

TEST_F(FormMainTest, BatchRefusalsAndFailedLinesAreReported)
{
    StoreScheme(store, 1, "Captions");
    open();
    click("CmdBatchTag");
    EXPECT_EQ(ui.messages, QStringList{"No entires in IPTC datafile"});
    WriteFileBytes(path("data.txt"), "File\nimg001.jpg\n");
    chooseDataFile(path("data.txt"));
    chooseFolder("CmdBrowseImages", dir.path());
    chooseFolder("CmdBrowseSave", dir.path() + "/");
    click("CmdBatchTag");
    EXPECT_EQ(ui.messages.value(1), "Open path must differ from save path");
    EXPECT_TRUE(child<QProgressBar>("ProgressBarBatch")->isHidden());

    ui.messages.clear();
    ASSERT_NO_FATAL_FAILURE(prepareBatch("missing.jpg\tNowhere\r\n"));
    click("CmdBatchTag");
    ASSERT_EQ(ui.messages.size(), 1);
    EXPECT_TRUE(ui.messages[0].startsWith("1 of 4 lines not tagged or not saved:")) << shownMessages();
    EXPECT_TRUE(ui.messages[0].contains("Line 4, missing.jpg: ")) << shownMessages();
    EXPECT_EQ(outputs().size(), 3);
}

TEST_F(FormMainTest, ShippedExampleTagsEveryPhoto)
{
    const QString examples = QT_TESTCASE_SOURCEDIR "/../examples";
    ASSERT_TRUE(QFile::copy(examples + "/example-scheme.ini", path("Brindleway.ini")));
    IniSettingsStore ini(path("Brindleway.ini"));
    FormMain example(state, batch, ini, ui);
    ui.fileAnswers = {examples + "/photos.txt"};
    ui.folderAnswers = {examples + "/images/", dir.path()};
    for (const char *name : {"CmdBrowseIPTCfile", "CmdBrowseImages", "CmdBrowseSave", "CmdBatchTag"})
        Click(example, name);
    EXPECT_TRUE(ui.messages.isEmpty()) << shownMessages();
    EXPECT_EQ(QDir(dir.path()).entryList({"*.jpg"}).size(), 5);
    EXPECT_EQ(Iptc(path("terrace.jpg"), "Headline"), "Café terrace");
    EXPECT_EQ(Iptc(path("harbour.jpg"), "By-line"), "Ann Corlett");
}

} // namespace
