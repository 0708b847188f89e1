#include "engine/batchtag.h"
#include "fakeuiservices.h"
#include "model/appstate.h"
#include "model/schemestore.h"
#include "model/settingsstore.h"
#include "testsupport.h"
#include "ui/folderpicker.h"
#include "ui/formmain.h"
#include "ui/pathlabel.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <unistd.h>

namespace {

void StoreScheme(SettingsStore &store, int n, const QString &name, const QHash<int, QString> &slotValues)
{
    store.write(ParsingSection(n), QStringLiteral("Name"), name);
    for (int slot = 1; slot <= SlotCount; ++slot)
        store.write(ParsingSection(n), TagKey(slot), slotValues.value(slot, LeaveBlank));
}

void WriteJpeg(const QString &path, QColor colour)
{
    QImage image(24, 16, QImage::Format_RGB32);
    image.fill(colour);
    ASSERT_TRUE(image.save(path, "JPEG")) << path.toStdString();
}

QString ExifTool(const QString &file, const QString &tag)
{
    QProcess tool;
    tool.start(QStringLiteral("exiftool"), {QStringLiteral("-s3"), QStringLiteral("-IPTC:") + tag, file});
    if (!tool.waitForFinished(60000))
        return QStringLiteral("<exiftool did not finish>");
    return QString::fromUtf8(tool.readAllStandardOutput()).trimmed();
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
        window = std::make_unique<FormMain>(state, batch, store, ui);
    }

    template <typename T> T *child(const QString &name) const
    {
        T *found = window->findChild<T *>(name);
        EXPECT_NE(found, nullptr) << name.toStdString();
        return found;
    }

    void click(const QString &button) { child<QPushButton>(button)->click(); }

    void chooseFolder(const QString &button, std::optional<QString> answer)
    {
        ui.folderAnswers.push_back(answer);
        click(button);
    }

    void chooseDataFile(std::optional<QString> answer)
    {
        ui.fileAnswers.push_back(answer);
        click(QStringLiteral("CmdBrowseIPTCfile"));
    }

    // Three photos, a data file naming them (and `extraLines`), a scheme
    // "Captions" with the caption from field 2 and the name from field 1,
    // and both folders chosen.
    void prepareBatch(const QByteArray &extraLines = {})
    {
        QDir().mkpath(path(QStringLiteral("in")));
        QDir().mkpath(path(QStringLiteral("out")));
        WriteJpeg(path(QStringLiteral("in/img001.jpg")), Qt::red);
        WriteJpeg(path(QStringLiteral("in/img002.jpg")), Qt::green);
        WriteJpeg(path(QStringLiteral("in/img003.jpg")), Qt::blue);
        WriteFileBytes(path(QStringLiteral("data.txt")),
                       "File\tCaption\r\nimg001.jpg\tHarbour at dawn\r\nimg002.jpg\tCaf\xE9 terrace\r\n"
                       "img003.jpg\tMarket\r\n" + extraLines);
        StoreScheme(store, 1, QStringLiteral("Captions"),
                    {{1, QStringLiteral("IPTC_Field2")}, {24, QStringLiteral("IPTC_Field1")}});
        open();
        chooseFolder(QStringLiteral("CmdBrowseImages"), path(QStringLiteral("in")));
        chooseFolder(QStringLiteral("CmdBrowseSave"), path(QStringLiteral("out")));
        chooseDataFile(path(QStringLiteral("data.txt")));
        ASSERT_EQ(state.Data.LastDataLine, 3 + extraLines.count('\n'));
    }

    QStringList outputs() const
    {
        return QDir(path(QStringLiteral("out"))).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }

    QList<QWidget *> inputs() const
    {
        QList<QWidget *> list;
        for (const char *name : {"CmdBrowseImages", "CmdBrowseIPTCfile", "ComboParsing", "CmdManageParsing",
                                 "CmdBrowseSave", "OptionReplace_0", "OptionReplace_1", "Text1", "CheckLossless", "CmdBatchTag"})
            list << child<QWidget>(QString::fromLatin1(name));
        return list;
    }
};

TEST_F(FormMainTest, StartsWithTheInitialCaptionsAndAnEmptyStore)
{
    open();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Selvenor Brindleway"));
    EXPECT_EQ(state.IptcTagKeys[0], QStringLiteral("Caption/Abstract"));
    EXPECT_EQ(child<QLabel>(QStringLiteral("LabelImagePath"))->text(), QStringLiteral("Imagepath"));
    EXPECT_EQ(child<QLabel>(QStringLiteral("LabelIPTCfilename"))->text(), QStringLiteral("Datafile"));
    EXPECT_EQ(child<QLabel>(QStringLiteral("LabelIPTCinfo"))->text(), QStringLiteral("IPTC info"));
    EXPECT_EQ(child<QLabel>(QStringLiteral("LabelSavePath"))->text(), QStringLiteral("Imagepath"));
    for (const char *name : {"CmdBrowseImages", "CmdBrowseIPTCfile", "CmdBrowseSave"})
        EXPECT_EQ(child<QPushButton>(QString::fromLatin1(name))->text(), QStringLiteral("Browse"));
    EXPECT_EQ(child<QPushButton>(QStringLiteral("CmdManageParsing"))->text(), QStringLiteral("Manage parsing"));
    EXPECT_EQ(child<QPushButton>(QStringLiteral("CmdBatchTag"))->text(), QStringLiteral("Batch tag"));
    EXPECT_EQ(child<QLineEdit>(QStringLiteral("Text1"))->text(), QStringLiteral("IPTC"));
    EXPECT_TRUE(child<QRadioButton>(QStringLiteral("OptionReplace_0"))->isChecked());
    EXPECT_EQ(child<QRadioButton>(QStringLiteral("OptionReplace_1"))->text(), QStringLiteral("Append file name"));
    EXPECT_FALSE(child<QRadioButton>(QStringLiteral("OptionReplace_2"))->isEnabled());
    EXPECT_TRUE(child<QProgressBar>(QStringLiteral("ProgressBarBatch"))->isHidden());

    auto *combo = child<QComboBox>(QStringLiteral("ComboParsing"));
    EXPECT_FALSE(combo->isEditable());
    EXPECT_EQ(combo->count(), 0);
    EXPECT_EQ(combo->currentIndex(), -1);
    EXPECT_EQ(combo->placeholderText(),
              QStringLiteral("None available - click \"Manage parsing\" to create one or more schemes"));
    EXPECT_EQ(state.SelectedScheme, -1);

    QStringList menus;
    for (QAction *menu : window->menuBar()->actions())
        menus << menu->text();
    EXPECT_EQ(menus, QStringList({QStringLiteral("&File"), QStringLiteral("Setup"), QStringLiteral("Help")}));
    EXPECT_EQ(child<QAction>(QStringLiteral("CmdFileOpen"))->text(), QStringLiteral("Open tab delimited IPTC text file"));
    EXPECT_EQ(child<QAction>(QStringLiteral("CmdSetupParsing"))->text(), QStringLiteral("Manage Field parsing"));
    EXPECT_TRUE(child<QAction>(QStringLiteral("CmdFileSeparator01"))->isSeparator());
    EXPECT_TRUE(ui.messages.isEmpty());
}

TEST_F(FormMainTest, SchemeListFollowsTheStoreAndAlwaysHasASelection)
{
    StoreScheme(store, 1, QStringLiteral("Press"), {});
    StoreScheme(store, 2, QStringLiteral("Archive"), {});
    open();
    auto *combo = child<QComboBox>(QStringLiteral("ComboParsing"));
    ASSERT_EQ(combo->count(), 2);
    EXPECT_EQ(combo->itemText(0), QStringLiteral("Press"));
    EXPECT_EQ(combo->itemText(1), QStringLiteral("Archive"));
    EXPECT_EQ(combo->currentIndex(), 0);
    EXPECT_EQ(state.SelectedScheme, 0);

    combo->setCurrentIndex(1);
    EXPECT_EQ(state.SelectedScheme, 1);

    // However the manager closes, the list is rebuilt with the first selected.
    click(QStringLiteral("CmdManageParsing"));
    EXPECT_EQ(combo->currentIndex(), 0);
    EXPECT_EQ(state.SelectedScheme, 0);
    combo->setCurrentIndex(1);
    child<QAction>(QStringLiteral("CmdSetupParsing"))->trigger();
    EXPECT_EQ(state.SelectedScheme, 0);
}

TEST_F(FormMainTest, SchemeListEmptiedWhenNoSchemeIsLeft)
{
    StoreScheme(store, 1, QStringLiteral("Press"), {});
    open();
    state.Schemes.SchemeCount = 0;
    state.Schemes.Schemes.resize(1);
    window->FillSchemeList();
    EXPECT_EQ(child<QComboBox>(QStringLiteral("ComboParsing"))->count(), 0);
    EXPECT_EQ(state.SelectedScheme, -1);
}

TEST_F(FormMainTest, FolderButtonsSetLabelAndPathAndCancelClears)
{
    open();
    auto *imageLabel = child<PathLabel>(QStringLiteral("LabelImagePath"));
    chooseFolder(QStringLiteral("CmdBrowseImages"), QStringLiteral("/srv/photos/"));
    EXPECT_EQ(imageLabel->text(), QStringLiteral("/srv/photos"));
    EXPECT_EQ(imageLabel->toolTip(), QStringLiteral("/srv/photos"));
    EXPECT_EQ(state.ImagePath, QStringLiteral("/srv/photos"));
    chooseFolder(QStringLiteral("CmdBrowseImages"), std::nullopt);
    EXPECT_EQ(imageLabel->text(), QString());
    EXPECT_EQ(state.ImagePath, QString());

    chooseFolder(QStringLiteral("CmdBrowseSave"), QStringLiteral("/"));
    EXPECT_EQ(state.SavePath, QStringLiteral("/"));
    EXPECT_EQ(child<QLabel>(QStringLiteral("LabelSavePath"))->text(), QStringLiteral("/"));
    chooseFolder(QStringLiteral("CmdBrowseSave"), std::nullopt);
    EXPECT_EQ(state.SavePath, QString());

    EXPECT_EQ(ui.folderTitles,
              QStringList(4, QStringLiteral("Select directory containing images to be tagged.")));
    EXPECT_TRUE(ui.messages.isEmpty());

    EXPECT_EQ(WithoutTrailingSeparator(QStringLiteral("/a/b//")), QStringLiteral("/a/b"));
    EXPECT_EQ(WithoutTrailingSeparator(QStringLiteral("///")), QStringLiteral("/"));
    EXPECT_EQ(WithoutTrailingSeparator(QStringLiteral("C:\\")), QStringLiteral("C:\\"));
}

TEST_F(FormMainTest, DataFileChooserLoadsAndKeepsTheEarlierFileOnFailure)
{
    open();
    auto *fileLabel = child<QLabel>(QStringLiteral("LabelIPTCfilename"));
    auto *info = child<QLabel>(QStringLiteral("LabelIPTCinfo"));

    chooseDataFile(std::nullopt);
    ASSERT_EQ(ui.fileFilters.size(), 1);
    EXPECT_EQ(ui.fileFilters.first(), QStringList({QStringLiteral("Tab delimited text file (*.txt)"),
                                                   QStringLiteral("All files (*.*)")}));
    EXPECT_EQ(fileLabel->text(), QStringLiteral("Datafile"));
    EXPECT_EQ(state.Data.LastDataLine, -1);

    const QString first = path(QStringLiteral("first.txt"));
    WriteFileBytes(first, "Name\tCity\nimg1.jpg\tRome\nimg2.jpg\tOslo\n");
    chooseDataFile(first);
    EXPECT_EQ(fileLabel->text(), first);
    EXPECT_EQ(fileLabel->toolTip(), first);
    EXPECT_EQ(info->text(), QStringLiteral("IPTC data file contains 3 entries each consisting of 2 tags"));
    EXPECT_EQ(state.Data.FieldGrid.cell(2, 2), QStringLiteral("Oslo"));

    chooseDataFile(path(QStringLiteral("gone.txt")));
    EXPECT_EQ(ui.messages, QStringList{QStringLiteral("TextIPTCfilename not present")});
    EXPECT_EQ(fileLabel->text(), first);
    EXPECT_EQ(state.Data.LastDataLine, 2);
    EXPECT_EQ(state.Data.FieldGrid.cell(2, 2), QStringLiteral("Oslo"));

    // Permissions do not stop root, but the kernel refuses to read this one.
    QString unreadable = QStringLiteral("/proc/self/mem");
    if (geteuid() != 0) {
        unreadable = path(QStringLiteral("locked.txt"));
        WriteFileBytes(unreadable, "Name\nx\n");
        QFile::setPermissions(unreadable, {});
    }
    chooseDataFile(unreadable);
    ASSERT_EQ(ui.messages.size(), 2);
    EXPECT_TRUE(ui.messages.last().startsWith(QStringLiteral("Cannot read file"))) << ui.messages.last().toStdString();
    EXPECT_EQ(fileLabel->text(), first);
    EXPECT_EQ(info->text(), QStringLiteral("IPTC data file contains 3 entries each consisting of 2 tags"));

    // The menu item does what the button does.
    ui.fileAnswers.push_back(std::nullopt);
    child<QAction>(QStringLiteral("CmdFileOpen"))->trigger();
    EXPECT_EQ(ui.fileFilters.size(), 5);
}

TEST_F(FormMainTest, BatchTagWritesTaggedCopiesSilently)
{
    ASSERT_NO_FATAL_FAILURE(prepareBatch());
    click(QStringLiteral("CmdBatchTag"));
    EXPECT_TRUE(ui.messages.isEmpty()) << ui.messages.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(outputs(), QStringList({QStringLiteral("img001.jpg"), QStringLiteral("img002.jpg"),
                                      QStringLiteral("img003.jpg")}));
    EXPECT_EQ(ExifTool(path(QStringLiteral("out/img001.jpg")), QStringLiteral("Caption-Abstract")),
              QStringLiteral("Harbour at dawn"));
    EXPECT_EQ(ExifTool(path(QStringLiteral("out/img002.jpg")), QStringLiteral("Caption-Abstract")),
              QStringLiteral("Café terrace"));
    auto *bar = child<QProgressBar>(QStringLiteral("ProgressBarBatch"));
    EXPECT_TRUE(bar->isHidden());
    EXPECT_EQ(bar->maximum(), 3);
    for (QWidget *input : inputs())
        EXPECT_TRUE(input->isEnabled()) << input->objectName().toStdString();
}

TEST_F(FormMainTest, AppendFileNameSavesUnderTheNameWithText1)
{
    ASSERT_NO_FATAL_FAILURE(prepareBatch());
    child<QRadioButton>(QStringLiteral("OptionReplace_1"))->click();
    auto *text = child<QLineEdit>(QStringLiteral("Text1"));
    text->clear();
    QTest::keyClicks(text, QStringLiteral("_web"));
    click(QStringLiteral("CmdBatchTag"));
    EXPECT_TRUE(ui.messages.isEmpty()) << ui.messages.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(outputs(), QStringList({QStringLiteral("img001_web.jpg"), QStringLiteral("img002_web.jpg"),
                                      QStringLiteral("img003_web.jpg")}));
    EXPECT_EQ(ExifTool(path(QStringLiteral("out/img003_web.jpg")), QStringLiteral("Caption-Abstract")),
              QStringLiteral("Market"));
}

TEST_F(FormMainTest, WriteTagsOnlyIsOffByDefaultAndKeepsTheSourceImageData)
{
    ASSERT_NO_FATAL_FAILURE(prepareBatch());
    auto *check = child<QCheckBox>(QStringLiteral("CheckLossless"));
    EXPECT_EQ(check->text(), QStringLiteral("Write tags only (keep image data unchanged)"));
    EXPECT_FALSE(check->isChecked());
    EXPECT_EQ(check->parentWidget()->objectName(), QStringLiteral("FrameSave"));

    check->click();
    click(QStringLiteral("CmdBatchTag"));
    EXPECT_TRUE(ui.messages.isEmpty()) << ui.messages.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(ExifTool(path(QStringLiteral("out/img002.jpg")), QStringLiteral("Caption-Abstract")),
              QStringLiteral("Café terrace"));
    // Only metadata were added: the source's bytes follow the new segments unchanged.
    const QByteArray source = ReadFileBytes(path(QStringLiteral("in/img002.jpg")));
    const QByteArray output = ReadFileBytes(path(QStringLiteral("out/img002.jpg")));
    const QByteArray imageData = source.mid(source.indexOf("\xFF\xDA"));
    EXPECT_TRUE(output.endsWith(imageData));
}

TEST_F(FormMainTest, BatchTagRefusals)
{
    StoreScheme(store, 1, QStringLiteral("Captions"), {});
    open();
    click(QStringLiteral("CmdBatchTag"));
    EXPECT_EQ(ui.messages, QStringList{QStringLiteral("No entires in IPTC datafile")});

    WriteFileBytes(path(QStringLiteral("data.txt")), "File\nimg001.jpg\n");
    chooseDataFile(path(QStringLiteral("data.txt")));
    chooseFolder(QStringLiteral("CmdBrowseImages"), dir.path());
    chooseFolder(QStringLiteral("CmdBrowseSave"), dir.path() + QStringLiteral("/"));
    click(QStringLiteral("CmdBatchTag"));
    ASSERT_EQ(ui.messages.size(), 2);
    EXPECT_EQ(ui.messages.last(), QStringLiteral("Open path must differ from save path"));
    EXPECT_TRUE(child<QProgressBar>(QStringLiteral("ProgressBarBatch"))->isHidden());
}

TEST_F(FormMainTest, FailedLinesAreReportedWithLineAndName)
{
    ASSERT_NO_FATAL_FAILURE(prepareBatch("missing.jpg\tNowhere\r\n"));
    click(QStringLiteral("CmdBatchTag"));
    ASSERT_EQ(ui.messages.size(), 1);
    const QString text = ui.messages.first();
    EXPECT_TRUE(text.startsWith(QStringLiteral("1 of 4 lines not tagged or not saved:"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("Line 4, missing.jpg: "))) << text.toStdString();
    EXPECT_EQ(outputs().size(), 3);
}

TEST_F(FormMainTest, InputsDisabledDuringARunAndClosingStopsAfterTheImageInHand)
{
    ASSERT_NO_FATAL_FAILURE(prepareBatch());
    window->show();
    QList<bool> enabledDuringRun;
    bool barShown = false;
    bool menuEnabled = true;
    // Runs inside the run's first event processing, just before image 1 is saved.
    QTimer::singleShot(0, window.get(), [&] {
        for (QWidget *input : inputs())
            enabledDuringRun << input->isEnabled();
        barShown = child<QProgressBar>(QStringLiteral("ProgressBarBatch"))->isVisible();
        menuEnabled = child<QAction>(QStringLiteral("CmdFileOpen"))->isEnabled();
        window->close();
    });
    click(QStringLiteral("CmdBatchTag"));

    EXPECT_EQ(enabledDuringRun, QList<bool>(inputs().size(), false));
    EXPECT_TRUE(barShown);
    EXPECT_FALSE(menuEnabled);
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(window->batchRunning());
    EXPECT_EQ(outputs(), QStringList{QStringLiteral("img001.jpg")});
    EXPECT_EQ(ExifTool(path(QStringLiteral("out/img001.jpg")), QStringLiteral("Caption-Abstract")),
              QStringLiteral("Harbour at dawn"));
    EXPECT_TRUE(ui.messages.isEmpty()) << ui.messages.join(QLatin1Char('|')).toStdString();
}

TEST_F(FormMainTest, MenusOpenAboutAndExit)
{
    open();
    window->show();
    QString aboutTitle;
    ui.dialogHandlers.push_back([&](QDialog &dialog) {
        aboutTitle = dialog.objectName() + QLatin1Char('|') + dialog.windowTitle();
        return int(QDialog::Accepted);
    });
    child<QAction>(QStringLiteral("CmdHelpAbout"))->trigger();
    EXPECT_EQ(aboutTitle, QStringLiteral("FormAbout|About Brindleway"));
    child<QAction>(QStringLiteral("CmdFileExit"))->trigger();
    EXPECT_FALSE(window->isVisible());
}

TEST_F(FormMainTest, LongPathsElideAndTheWindowResizes)
{
    open();
    const QString longPath = QStringLiteral("/home/user/") + QString(40, QLatin1Char('x')) +
                             QStringLiteral("/photographs/2024/summer/") + QString(40, QLatin1Char('y'));
    chooseFolder(QStringLiteral("CmdBrowseImages"), longPath);
    window->show();
    EXPECT_LT(window->minimumSizeHint().width(), 500);
    window->resize(420, window->height());
    window->layout()->activate();
    QApplication::sendPostedEvents();

    auto *label = child<PathLabel>(QStringLiteral("LabelImagePath"));
    EXPECT_EQ(label->text(), longPath);
    EXPECT_EQ(label->toolTip(), longPath);
    EXPECT_NE(label->shownText(), longPath);
    EXPECT_TRUE(label->shownText().startsWith(QStringLiteral("/home/")));
    EXPECT_TRUE(label->shownText().endsWith(QStringLiteral("yyy")));

    auto *browse = child<QPushButton>(QStringLiteral("CmdBrowseImages"));
    const int narrowLabel = label->width();
    window->resize(900, window->height());
    window->layout()->activate();
    QApplication::sendPostedEvents();
    EXPECT_GT(label->width(), narrowLabel + 300);
    EXPECT_EQ(browse->width(), browse->sizeHint().width());
}

TEST_F(FormMainTest, TabOrderFollowsTheGroups)
{
    open();
    const QStringList expected{QStringLiteral("CmdBrowseImages"), QStringLiteral("CmdBrowseIPTCfile"),
                               QStringLiteral("ComboParsing"),    QStringLiteral("CmdManageParsing"),
                               QStringLiteral("CmdBrowseSave"),   QStringLiteral("OptionReplace_0"),
                               QStringLiteral("OptionReplace_1"), QStringLiteral("Text1"),
                               QStringLiteral("OptionReplace_2"), QStringLiteral("CmdBatchTag")};
    QStringList seen;
    QWidget *start = child<QWidget>(expected.first());
    QWidget *w = start;
    do {
        if (expected.contains(w->objectName()))
            seen << w->objectName();
        w = w->nextInFocusChain();
    } while (w != start);
    EXPECT_EQ(seen, expected);
}

TEST_F(FormMainTest, ShippedExampleTagsEveryPhoto)
{
    const QString examples = QStringLiteral(QT_TESTCASE_SOURCEDIR "/../examples");
    const QString config = path(QStringLiteral("Brindleway.ini"));
    ASSERT_TRUE(QFile::copy(examples + QStringLiteral("/example-scheme.ini"), config));
    IniSettingsStore ini(config);
    FormMain example(state, batch, ini, ui);
    ASSERT_EQ(state.SelectedScheme, 0);
    ui.fileAnswers.push_back(examples + QStringLiteral("/photos.txt"));
    ui.folderAnswers.push_back(examples + QStringLiteral("/images/"));
    ui.folderAnswers.push_back(dir.path());
    for (const char *name : {"CmdBrowseIPTCfile", "CmdBrowseImages", "CmdBrowseSave", "CmdBatchTag"})
        example.findChild<QPushButton *>(QString::fromLatin1(name))->click();
    EXPECT_TRUE(ui.messages.isEmpty()) << ui.messages.join(QLatin1Char('|')).toStdString();
    EXPECT_EQ(QDir(dir.path()).entryList({QStringLiteral("*.jpg")}).size(), 5);
    EXPECT_EQ(ExifTool(dir.filePath(QStringLiteral("terrace.jpg")), QStringLiteral("Headline")),
              QStringLiteral("Café terrace"));
    EXPECT_EQ(ExifTool(dir.filePath(QStringLiteral("harbour.jpg")), QStringLiteral("By-line")),
              QStringLiteral("Ann Corlett"));
}

} // namespace
