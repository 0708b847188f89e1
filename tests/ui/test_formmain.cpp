#include "test_schemedialogs_support.h"

#include "engine/platform/freeimagelayer.h"
#include "engine/run/batchrunner.h"
#include "engine/run/lineplanner.h"
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
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QGuiApplication>
#include <QLayout>
#include <QListWidget>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>

#include <cmath>

namespace {

class FormMainTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    IniSettingsStore store{dir.filePath("store.ini")};
    IniSettingsStore choices{dir.filePath("choices.ini"), IniSettingsStore::Backup::None};
    AppState state;
    FakeUiServices ui;
    std::unique_ptr<FormMain> window;

    QString path(const QString &name) const { return dir.filePath(name); }
    void open()
    {
        window.reset(); // the old window's list must not answer for the new one
        window = std::make_unique<FormMain>(state, store, choices, ui);
    }
    template <typename T> T *child(const QString &name) const { return Find<T>(*window, name); }
    void click(const QString &button) { Click(*window, button); }
    // Batch tag, then the window's own event loop until the run has ended.
    void runBatch()
    {
        click("CmdBatchTag");
        WaitUntil([this] { return !window->batchRunning(); });
    }
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
        static const QRegularExpression names("^(CmdBrowse.*|Combo(Parsing|Encoding)|CmdManageParsing|OptionReplace_[01]|Text1|"
                                              "CheckLossless|CheckSkipExisting|CmdCheck|CmdBatchTag)$");
        return window->findChildren<QWidget *>(names);
    }
    std::string shownMessages() const { return ui.messages.join('|').toStdString(); }
};

// The contrast ratio of two colours as WCAG defines it, from 1 to 21.
double Contrast(const QColor &a, const QColor &b)
{
    const auto luminance = [](const QColor &c) {
        const auto linear = [](double v) { return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
        return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
    };
    const auto [low, high] = std::minmax({luminance(a), luminance(b)});
    return (high + 0.05) / (low + 0.05);
}

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

    // Cancel keeps the window's scheme; the manager opens on it, a double
    // click edits, and OK takes the scheme selected then.
    child<QAction>("CmdSetupParsing")->trigger();
    EXPECT_EQ(state.SelectedScheme, 1);
    ui.dialogHandlers.push_back([](QDialog &manager) {
        auto *list = Find<QListWidget>(manager, "List1");
        manager.show();
        EXPECT_EQ(list->currentRow(), 1);
        const QPoint first = list->visualItemRect(list->item(0)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, first);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, first);
        Click(manager, "CmdOK");
        return manager.result();
    });
    ui.dialogHandlers.push_back([](QDialog &editor) { return int(editor.objectName() == "FormFieldParsing"); });
    click("CmdManageParsing");
    EXPECT_TRUE(ui.dialogHandlers.empty()) << "the double click opened the editor";
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
    FormMain started(state, ini, choices, ui);
    EXPECT_TRUE(ui.messages.isEmpty()) << "the message waits for its window";
    started.show();
    QCoreApplication::processEvents();
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

TEST_F(FormMainTest, FolderButtonsSetThePathCancelKeepsItAFailedDataFileKeepsTheEarlierOneAndTheEncodingRereadsIt)
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
        EXPECT_EQ(*chosen, "/") << "a cancelled picker keeps the folder chosen before";
        EXPECT_EQ(child<QLabel>(label)->text(), "/");
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
    const QString summary = "IPTC data file contains 3 entries each consisting of 2 tags (2 photos, 2 columns)";

    chooseDataFile(QString());
    EXPECT_EQ(state.Data.LastDataLine, -1);

    const QString first = path("first.txt");
    WriteFileBytes(first, "Name\tCity\nimg1.jpg\tKrak\xC3\xB3w\nimg2.jpg\tOslo\n");
    chooseDataFile(first);
    EXPECT_EQ(fileLabel->text(), first);
    EXPECT_EQ(info->text(), summary);
    EXPECT_EQ(child<QLabel>("LabelIPTCencoding")->text(), "read as UTF-8");

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

    // Bytes that are Łódź in Windows-1250: the chooser reads the file again at once.
    const QString central = path("central.txt");
    WriteFileBytes(central, "Name\tCity\nimg1.jpg\t\xA3\xF3\x64\x9F\n");
    chooseDataFile(central);
    EXPECT_EQ(state.Data.FieldGrid.cell(1, 2), u"£ódŸ"_qs) << "Automatic takes what is not UTF-8 for Windows-1252";
    auto *encoding = child<QComboBox>("ComboEncoding");
    EXPECT_EQ(Entries(encoding), QStringList({"Automatic", "UTF-8", "UTF-16", "Windows-1252", "Windows-1250",
                                              "Windows-1251", "Windows-1253", "Windows-1254", "Windows-1257"}));
    ChooseEntry(encoding, "Windows-1250");
    EXPECT_EQ(state.Data.FieldGrid.cell(1, 2), u"Łódź"_qs);
    EXPECT_EQ(child<QLabel>("LabelIPTCencoding")->text(), "read as Windows-1250");
    // Where the file cannot be read again, the chooser goes back to what the tables hold.
    QFile::remove(central);
    ChooseEntry(encoding, "UTF-8");
    EXPECT_EQ(encoding->currentText(), "Windows-1250");
    EXPECT_EQ(ui.messages.last(), MissingDataFileMessage);
    EXPECT_EQ(state.Data.FieldGrid.cell(1, 2), u"Łódź"_qs);
    // A new data file is read as its bytes show, not as the last one was forced; one that fails leaves the chooser be.
    chooseDataFile(path("gone.txt"));
    EXPECT_EQ(encoding->currentText(), "Windows-1250");
    chooseDataFile(first);
    EXPECT_EQ(encoding->currentText(), "Automatic");
    EXPECT_EQ(state.Data.FieldGrid.cell(1, 2), u"Kraków"_qs);
}

TEST_F(FormMainTest, BatchFollowsTheWindowLocksItsInputsAndLeavesOneLineAndEveryProblemOneClickAway)
{
    open();
    click("CmdBatchTag");
    EXPECT_EQ(ui.messages, QStringList{NoEntriesMessage});
    ui.messages.clear();
    QByteArray missing;
    for (int i = 1; i <= 7; ++i)
        missing += (i == 7 ? "..\\missing" : "missing") + QByteArray::number(i) + ".jpg\tNowhere\r\n";
    ASSERT_NO_FATAL_FAILURE(prepareBatch(missing));
    window->show();
    auto *bar = child<QProgressBar>("ProgressBarBatch");
    auto *summary = child<QLabel>("LabelRunSummary");
    EXPECT_TRUE(bar->isHidden());
    // Once the first line is written the inputs are locked and the bar counts
    // lines; Cancel then stops after the lines in hand.
    QList<bool> enabledDuringRun;
    QString shown;
    auto cancelAtFirst = QObject::connect(bar, &QProgressBar::valueChanged, window.get(), [&](int value) {
        if (value != 1)
            return;
        for (QWidget *input : inputs())
            enabledDuringRun << input->isEnabled();
        enabledDuringRun << child<QAction>("CmdFileOpen")->isEnabled() << !bar->isVisible();
        shown = bar->text();
        click("CmdCancel");
    });
    runBatch();
    QObject::disconnect(cancelAtFirst);
    EXPECT_EQ(enabledDuringRun, QList<bool>(15, false));
    EXPECT_EQ(shown, "1 of 10") << "the bar counts lines";
    const QStringList written = outputs();
    ASSERT_FALSE(written.isEmpty());
    EXPECT_EQ(written.first(), "img001.jpg");
    // The first missing file is reported as soon as it is planned, which may come before the cancel.
    const int skipped = summary->text().contains(" 1 skipped") ? 1 : 0;
    EXPECT_EQ(summary->text(), QString("Cancelled: %1 of 10 lines saved (0 with warnings), %1 %2 written, %3 skipped, "
                                       "0 failed, %4 not reached.")
                                   .arg(written.size())
                                   .arg(written.size() == 1 ? "file" : "files")
                                   .arg(skipped)
                                   .arg(10 - written.size() - skipped));
    // The end line wraps in a narrow window and at twice the font size, never cut off.
    for (const int width : {380, 620}) {
        QFont large = window->font();
        large.setPointSizeF(large.pointSizeF() * (width == 380 ? 1 : 2));
        window->setFont(large);
        window->resize(width, window->height());
        // One round gives the label its width, the next the height its lines need there.
        for (int round = 0; round < 2; ++round)
            QCoreApplication::processEvents();
        EXPECT_GE(summary->height(), summary->heightForWidth(summary->width())) << width;
        EXPECT_EQ(summary->toolTip(), summary->text());
    }
    window->setFont({});
    EXPECT_EQ(child<QPushButton>("CmdShowProblems")->isHidden(), skipped == 0);
    EXPECT_TRUE(child<QPushButton>("CmdCancel")->isHidden());
    EXPECT_TRUE(bar->isHidden());
    // Lines done faster than frames are drawn once a frame, not each: the
    // first as it comes, the last once the frame is over.
    {
        auto *runner = window->findChild<BatchRunner *>();
        QList<int> drawn;
        auto counting = QObject::connect(bar, &QProgressBar::valueChanged, window.get(), [&](int value) { drawn << value; });
        for (int done = 0; done <= 500; ++done)
            emit runner->progress(done, 500);
        EXPECT_EQ(drawn, QList<int>({0, 1}));
        WaitUntil([&] { return drawn.last() == 500; });
        EXPECT_LE(drawn.size(), 3);
        QObject::disconnect(counting);
    }
    for (QWidget *input : inputs())
        EXPECT_EQ(input->isEnabled(), ReencodingAvailable() || input->objectName() != "CheckLossless")
            << input->objectName().toStdString();

    QDir(path("out")).removeRecursively();
    QDir().mkpath(path("out"));
    WriteFileBytes(out("img003.jpg"), "last week's");
    runBatch();
    EXPECT_EQ(outputs(), QStringList({"img001.jpg", "img002.jpg", "img003.jpg"}));
    EXPECT_EQ(caption("img001.jpg"), "Harbour at dawn");
    EXPECT_EQ(caption("img002.jpg"), "Café terrace");
    EXPECT_EQ(bar->value(), 10) << "the bar counted every line";
    const QString done = "Done: 3 of 10 lines saved (1 with warnings), 3 files written, 7 skipped, 0 failed.";
    EXPECT_EQ(summary->text(), done);
    EXPECT_TRUE(ui.messages.isEmpty()) << "runs stay silent: " << shownMessages();

    ui.saveAnswers = {path("problems.txt"), path("no/such/folder/problems.txt")};
    QStringList listed;
    QList<std::pair<int, int>> groups; // the kind's code, its lines
    ui.dialogHandlers.push_back([&](QDialog &form) {
        const auto *tree = Find<QTreeWidget>(form, "TreeProblems");
        for (int g = 0; g < tree->topLevelItemCount(); ++g) {
            const QTreeWidgetItem *group = tree->topLevelItem(g);
            groups.append({group->data(0, Qt::UserRole).toInt(), group->childCount()});
            for (int i = 0; i < group->childCount(); ++i)
                listed << group->child(i)->text(0);
        }
        Click(form, "CmdCopy");
        Click(form, "CmdSave");
        Click(form, "CmdSave");
        return int(QDialog::Accepted);
    });
    EXPECT_FALSE(child<QPushButton>("CmdShowProblems")->isHidden());
    click("CmdShowProblems");
    // By kind, skipped lines before those saved with warnings whatever their rows.
    EXPECT_EQ(groups, (QList<std::pair<int, int>>{
                          {int(NoteCode::SourceMissing), 6}, {int(NoteCode::NameHoldsDotDot), 1}, {int(NoteCode::ReplacedFile), 1}}));
    ASSERT_EQ(listed.size(), 8);
    EXPECT_EQ(listed[0], "Row 5, missing1.jpg, skipped: the image file does not exist");
    EXPECT_TRUE(listed[7].startsWith("Row 4, img003.jpg"));
    const QString kept = QGuiApplication::clipboard()->text();
    EXPECT_TRUE(kept.startsWith(done + '\n') && kept.contains("\n  " + listed[6] + '\n') && kept.endsWith(listed[7] + '\n'));
    EXPECT_EQ(QString::fromUtf8(ReadFileBytes(path("problems.txt"))), kept);
    ASSERT_EQ(ui.messages.size(), 1);
    EXPECT_TRUE(ui.messages.takeFirst().startsWith("Cannot write file"));
    EXPECT_EQ(ui.startedAt.last(), path("data-problems.txt"));

    // "Write tags only" is the default and keeps the source's image data;
    // unticked, with "Append file name", the images are encoded again under new names.
    // Without the image library it stays ticked, and its tip says why.
    const QByteArray source = ReadFileBytes(path("in/img002.jpg"));
    const QByteArray scan = source.mid(source.indexOf("\xFF\xDA"));
    EXPECT_TRUE(ReadFileBytes(out("img002.jpg")).endsWith(scan));
    auto *lossless = child<QCheckBox>("CheckLossless");
    EXPECT_TRUE(lossless->isChecked());
    if (!ReencodingAvailable()) {
        EXPECT_EQ(lossless->toolTip(), ReencodingUnavailableMessage);
    }
    lossless->click();
    EXPECT_EQ(lossless->isChecked(), !ReencodingAvailable());
    if (ReencodingAvailable()) {
        EXPECT_TRUE(summary->text().isEmpty()) << "the end line no longer tells of the window's inputs";
        EXPECT_TRUE(child<QPushButton>("CmdShowProblems")->isHidden());
    }
    child<QRadioButton>("OptionReplace_1")->click();
    TypeInto(child<QLineEdit>("Text1"), "_enc");
    runBatch();
    EXPECT_EQ(outputs("*_enc*"), QStringList({"img001_enc.jpg", "img002_enc.jpg", "img003_enc.jpg"}));
    EXPECT_EQ(caption("img003_enc.jpg"), "Market");
    EXPECT_EQ(ReadFileBytes(out("img002_enc.jpg")).endsWith(scan), !ReencodingAvailable());

    // Closing mid-run finishes the lines in hand, then stops and closes.
    TypeInto(child<QLineEdit>("Text1"), "_cut");
    QObject::connect(bar, &QProgressBar::valueChanged, window.get(), [&](int value) {
        if (value == 1)
            window->close();
    });
    runBatch();
    EXPECT_FALSE(window->isVisible());
    const QStringList cut = outputs("*_cut*");
    ASSERT_FALSE(cut.isEmpty());
    EXPECT_EQ(cut.first(), "img001_cut.jpg");
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
        {"v2.jpg\t\t\t\t\t\t", "will replace an existing file"},
        {"./v1.jpg\t\t\t\t\t\t", "will replace the output of row 2"},
        {"v3.jpg\t" + QByteArray(2001, 'c') + "\t\t\t\t\t", "Caption/Abstract will be cut from 2001 to 2000 bytes"},
        {"v4.jpg\t\t31/01/2024\t\t\t\t", "is not a date (CCYYMMDD), so it will be written nowhere"},
        {"v5.jpg\t\t\t18:30\t\t\t", "is not a time (HHMMSS+HHMM"},
        {"v6.jpg\t\t\t\t9\t\t", "Urgency \"9\" is not an urgency from 1 to 8"},
        {"v7.jpg\t\t\t\t\tUK\t", "not a three-letter country code"},
        {"v8.jpg\t\t\t\t\t\tok;" + QByteArray(65, 'k'), "Keywords will be cut from 65 to 64 bytes"},
        {"v9.jpg\tHarbour", "so it will be left blank"},
    };
    QByteArray data = "File\tCaption\tDate\tTime\tUrgency\tCountry\tKeywords\n";
    for (const auto &line : lines)
        data += line.fields + '\n';
    WriteFileBytes(path("data.txt"), data);
    chooseDataFile(path("data.txt"));
    ParsingScheme &scheme = state.Schemes.Schemes[1];
    for (const auto &[slot, field] : {std::pair{DateCreatedSlot, 3}, {TimeCreatedSlot, 4}, {19, 5}, {10, 6}, {KeywordsSlot, 7}})
        scheme.slot(slot) = QStringLiteral("IPTC_Field%1").arg(field);

    bool dark = false;
    const auto handler = [&](QDialog &form) {
        auto *table = Find<QTableWidget>(form, "TableCheck");
        EXPECT_EQ(table->rowCount(), std::size(lines));
        EXPECT_EQ(table->horizontalHeaderItem(7)->text(), "Keywords");
        EXPECT_EQ(table->item(0, 7)->text(), "harbour;dusk");
        EXPECT_EQ(table->item(0, 5)->text(), "IPTC and XMP");
        // A thumbnail beside each image the image library could make one of, made in a worker.
        EXPECT_EQ(table->item(0, 2)->icon().isNull(), !ReencodingAvailable());
        EXPECT_TRUE(table->item(1, 2)->icon().isNull()) << "no image, no thumbnail";
        for (int r = 0; r < table->rowCount(); ++r) {
            const QString problems = table->item(r, 4)->text();
            EXPECT_EQ(table->item(r, 0)->text(), QString::number(r + 2)) << "the header is row 1";
            EXPECT_EQ(table->item(r, 1)->text(), QString::number(r + 1));
            EXPECT_EQ(problems.isEmpty(), !*lines[r].problem) << problems.toStdString();
            EXPECT_TRUE(problems.contains(QLatin1String(lines[r].problem))) << r << ": " << problems.toStdString();
            EXPECT_EQ(table->item(r, 0)->icon().isNull(), !*lines[r].problem);
            // A problem row reads in any theme: its text keeps a contrast of 4.5 on its colour.
            const auto shown = [&](const QBrush &brush, QPalette::ColorRole role) {
                return brush.style() == Qt::NoBrush ? table->palette().color(role) : brush.color();
            };
            const QColor text = shown(table->item(r, 3)->foreground(), QPalette::Text);
            const QColor back = shown(table->item(r, 3)->background(), QPalette::Base);
            if (*lines[r].problem) {
                EXPECT_GE(Contrast(text, back), 4.5) << r << ' ' << text.name().toStdString() << " on " << back.name().toStdString();
            }
        }
        // Selected rows copy as tab-separated text; Save as text keeps the rows shown, with a header.
        for (const int r : {1, 3})
            table->selectionModel()->select(table->model()->index(r, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
        Click(form, "CmdCopy");
        const QStringList copied = QGuiApplication::clipboard()->text().split('\n');
        EXPECT_EQ(copied.size(), 3);
        EXPECT_EQ(copied.value(0).split('\t').mid(0, 4), QStringList({"3", "2", "gone.jpg", "gone.jpg"}));
        EXPECT_EQ(copied.value(1).split('\t').size(), table->columnCount());
        EXPECT_TRUE(copied.value(1).startsWith("5\t4\t../v1.jpg\t"));
        auto *only = Find<QCheckBox>(form, "CheckOnlyProblems");
        EXPECT_EQ(only->isChecked(), dark) << "the filter is as the user left it";
        only->setChecked(true);
        EXPECT_TRUE(table->isRowHidden(0));
        EXPECT_FALSE(table->isRowHidden(1));
        ui.saveAnswers.push_back(path("check.txt"));
        Click(form, "CmdSave");
        const QList<QByteArray> saved = ReadFileBytes(path("check.txt")).split('\n');
        EXPECT_EQ(saved.size(), std::size(lines) + 1) << "a header and 12 problem rows";
        EXPECT_TRUE(saved[0].startsWith("\xEF\xBB\xBFRow\tLine\tFile\tOutput\tProblems\tTags go\tCaption/Abstract"));
        EXPECT_TRUE(saved[0].endsWith('\r') && saved[1].endsWith('\r')) << "CR LF, as the export writes";
        EXPECT_GE(table->columnWidth(0), table->fontMetrics().horizontalAdvance("999999") + 16) << "six digits beside the icon";
        EXPECT_EQ(ui.startedAt.last(), path("data-check.txt"));
        return int(QDialog::Accepted);
    };
    // The light theme, and a dark Fusion palette whose text is light.
    const QPalette light = QApplication::palette();
    QPalette darkPalette(QColor(53, 53, 53));
    darkPalette.setColor(QPalette::Base, QColor(42, 42, 42));
    darkPalette.setColor(QPalette::Text, Qt::white);
    for (const bool shade : {false, true}) {
        dark = shade;
        QApplication::setStyle("Fusion");
        QApplication::setPalette(dark ? darkPalette : light);
        ui.dialogHandlers.push_back(handler);
        click("CmdCheck");
        EXPECT_TRUE(window->batchRunning()) << "the check runs while the window goes on";
        WaitUntil([this] { return !window->batchRunning(); });
    }
    QApplication::setPalette(light);
    EXPECT_TRUE(ui.dialogHandlers.empty());
    // Cancelled, the check ends without a table that would read as the whole batch.
    bool shown = false;
    ui.dialogHandlers.push_back([&](QDialog &) { return int(shown = true); });
    click("CmdCheck");
    click("CmdCancel");
    WaitUntil([this] { return !window->batchRunning(); });
    EXPECT_FALSE(shown);
    EXPECT_TRUE(child<QPushButton>("CmdCheck")->isEnabled());
    ui.dialogHandlers.clear();
    EXPECT_EQ(outputs(), QStringList{"v2.jpg"});
    EXPECT_EQ(ReadFileBytes(out("v2.jpg")), "last week's");

    chooseFolder("CmdBrowseSave", path("in"));
    click("CmdCheck");
    EXPECT_EQ(ui.messages, QStringList{SamePathMessage});
}

TEST_F(FormMainTest, TheLastChoicesComeBackWhereTheyStillHoldAndThePickersStartThere)
{
    ASSERT_NO_FATAL_FAILURE(prepareBatch());
    window->show();
    ChooseEntry(child<QComboBox>("ComboEncoding"), "UTF-8");
    child<QRadioButton>("OptionReplace_1")->click();
    TypeInto(child<QLineEdit>("Text1"), "_web");
    child<QCheckBox>("CheckLossless")->click();
    child<QCheckBox>("CheckSkipExisting")->click();
    window->resize(700, 560);
    window->close();
    EXPECT_FALSE(ReadFileBytes(path("store.ini")).contains("Folder")) << "the schemes' store stays the schemes'";

    // The image folder is gone, and the scheme is now the second of the store.
    QDir(path("in")).removeRecursively();
    SaveParsings(MakeTable({MakeScheme("Press"), MakeScheme("Captions", {{FileNameSlot, "IPTC_Field1"}})}), store);
    state = {};
    open();
    EXPECT_EQ(state.ImagePath, "");
    EXPECT_EQ(child<QLabel>("LabelImagePath")->text(), "Imagepath");
    EXPECT_EQ(state.SavePath, path("out"));
    EXPECT_EQ(child<QLabel>("LabelIPTCfilename")->text(), path("data.txt"));
    EXPECT_EQ(state.Data.LastDataLine, 3);
    EXPECT_EQ(child<QComboBox>("ComboEncoding")->currentText(), "UTF-8");
    EXPECT_EQ(state.Data.Encoding, TextEncoding::Utf8);
    EXPECT_EQ(state.SelectedScheme, 1);
    EXPECT_TRUE(child<QRadioButton>("OptionReplace_1")->isChecked());
    EXPECT_EQ(child<QLineEdit>("Text1")->text(), "_web");
    EXPECT_EQ(child<QCheckBox>("CheckLossless")->isChecked(), !ReencodingAvailable());
    EXPECT_TRUE(child<QCheckBox>("CheckSkipExisting")->isChecked());
    EXPECT_EQ(window->size(), QSize(700, 560));

    // Each picker starts at its choice; the gone folder's at its nearest folder that exists.
    ui.startedAt.clear();
    for (const char *button : {"CmdBrowseImages", "CmdBrowseSave"})
        chooseFolder(button, QString());
    chooseDataFile(QString());
    EXPECT_EQ(ui.startedAt, QStringList({dir.path(), path("out"), dir.path()}));

    // The folder not shown while it was gone is still remembered, for when it is back.
    window->close();
    QDir().mkpath(path("in"));
    state = {};
    open();
    EXPECT_EQ(state.ImagePath, path("in"));

    // Dropped on the save frame a folder is the save folder, elsewhere the
    // image folder; a dropped file is the data file.
    window->show();
    QDir().mkpath(path("new"));
    WriteFileBytes(path("more.txt"), "File\nimg009.jpg\n");
    const auto drop = [&](const QString &what, const char *frame) {
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(what)});
        QWidget *target = child<QWidget>(frame);
        const QPoint at = target->mapTo(window.get(), target->rect().center());
        QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, {});
        QApplication::sendEvent(window.get(), &enter);
        QDropEvent event(at, Qt::CopyAction, &mime, Qt::LeftButton, {});
        QApplication::sendEvent(window.get(), &event);
    };
    drop(path("new"), "FrameSave");
    EXPECT_EQ(state.SavePath, path("new"));
    drop(path("new"), "FrameParsing");
    EXPECT_EQ(state.ImagePath, path("new"));
    drop(path("more.txt"), "FrameImages");
    EXPECT_EQ(state.Data.LastDataLine, 1);
    EXPECT_TRUE(ui.messages.isEmpty()) << shownMessages();
}

TEST_F(FormMainTest, ExportingAFolderMakesItsDataFileAndSchemeTheWindowsForTheNextRun)
{
    ASSERT_NO_FATAL_FAILURE(prepareBatch());
    runBatch();
    auto *exportTags = child<QAction>("CmdFileExport");
    // A cancelled chooser exports nothing; a refused export says why, as a run does.
    for (const QString &file : {QString(), path("no/such/folder/tags.txt")}) {
        ui.folderAnswers = {path("out")};
        ui.saveAnswers = {file};
        exportTags->trigger();
        EXPECT_FALSE(window->batchRunning());
    }
    ASSERT_EQ(ui.messages.size(), 1);
    EXPECT_TRUE(ui.messages.takeFirst().startsWith("Cannot write the data file")) << shownMessages();
    EXPECT_EQ(ui.startedAt.mid(ui.startedAt.size() - 2), QStringList({path("in"), path("out.txt")}))
        << "from the image folder, beside the folder chosen";

    ui.folderAnswers = {path("out")};
    ui.saveAnswers = {path("tags.txt")};
    exportTags->trigger();
    EXPECT_TRUE(window->batchRunning());
    EXPECT_FALSE(child<QPushButton>("CmdBatchTag")->isEnabled());
    EXPECT_FALSE(exportTags->isEnabled());
    WaitUntil([this] { return !window->batchRunning(); });
    EXPECT_EQ(ReadFileBytes(path("tags.txt")), "\xEF\xBB\xBF" "FILE NAME\tCaption/Abstract\r\nimg001.jpg\tHarbour at dawn\r\n"
                                               "img002.jpg\tCaf\xC3\xA9 terrace\r\nimg003.jpg\tMarket\r\n");
    EXPECT_EQ(child<QLabel>("LabelRunSummary")->text(), "Exported: 3 of 3 images read (0 with values that will not come back "
                                                         "exactly); the data file and the scheme \u201cExported\u201d are now chosen.");
    EXPECT_EQ(child<QComboBox>("ComboParsing")->currentText(), "Exported");
    EXPECT_EQ(state.ImagePath, path("out"));
    EXPECT_EQ(state.Data.LastDataLine, 3);
    EXPECT_TRUE(ReadFileBytes(path("store.ini")).contains("Name=Exported"));
    EXPECT_TRUE(ui.messages.isEmpty()) << shownMessages();

    // They tag the next folder at once.
    QDir().mkpath(path("again"));
    chooseFolder("CmdBrowseSave", path("again"));
    runBatch();
    EXPECT_EQ(ReadTags(path("again/img002.jpg"))["IPTC:Caption-Abstract"], "Café terrace");
    EXPECT_TRUE(ui.messages.isEmpty()) << shownMessages();
}

} // namespace
