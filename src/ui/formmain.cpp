#include "ui/formmain.h"

#include "engine/platform/freeimagelayer.h"
#include "engine/run/batchcheck.h"
#include "engine/run/batchrunner.h"
#include "engine/run/lineplanner.h"
#include "engine/run/notetext.h"
#include "engine/run/tagexporter.h"
#include "model/appstate.h"
#include "model/codepage.h"
#include "model/datafile.h"
#include "model/schemestore.h"
#include "model/settingsstore.h"
#include "model/tagslots.h"
#include "ui/appicon.h"
#include "ui/folderpicker.h"
#include "ui/formabout.h"
#include "ui/formcheck.h"
#include "ui/formfieldparsingmanage.h"
#include "ui/formproblems.h"
#include "ui/pathlabel.h"
#include "ui/uiservices.h"
#include "ui/wrappedlabel.h"

#include "ui/tabchain.h"
#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <optional>
#include <utility>

namespace {
const QStringList DataFileFilters{QStringLiteral("Tab delimited text file (*.txt)"),
                                  QStringLiteral("All files (*.*)")};

// How many problems the scheme store's report lists before it only counts the rest.
constexpr int ListedProblems = 5;

// Hidden until a run needs it, holding its place so the window keeps its height.
void hideKeepingSpace(QWidget *widget)
{
    QSizePolicy policy = widget->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    widget->setSizePolicy(policy);
    widget->setVisible(false);
}

QPushButton *fixedButton(const QString &caption, const QString &name, QWidget *parent, const QString &tip = {})
{
    auto *button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    // The tooltip names the key, since three buttons share the caption Browse.
    if (!tip.isEmpty())
        button->setToolTip(QStringLiteral("%1 (%2)").arg(tip, button->shortcut().toString(QKeySequence::NativeText)));
    return button;
}

// The one file or folder a drag carries, when it is a single local one that exists.
std::optional<QString> droppedPath(const QMimeData *mime)
{
    if (!mime || mime->urls().size() != 1 || !mime->urls().constFirst().isLocalFile())
        return std::nullopt;
    const QFileInfo info(mime->urls().constFirst().toLocalFile());
    if (!info.isDir() && !info.isFile())
        return std::nullopt;
    return QDir::toNativeSeparators(WithoutTrailingSeparator(info.absoluteFilePath()));
}

// The folder holding `path`; empty for an empty path.
QString folderOf(const QString &path)
{
    return path.isEmpty() ? QString() : QFileInfo(path).absolutePath();
}

// Where a picker opens: at its own choice, else at `otherwise`, each as far
// as it still exists.
QString startFolder(const QString &own, const QString &otherwise)
{
    const QString start = NearestExisting(own);
    return start.isEmpty() ? NearestExisting(otherwise) : start;
}

// What the entry line leaves out, since it counts the header among the entries
// and calls columns tags.
QString photosAndColumns(const IptcDataFile &data)
{
    const int photos = std::max(data.LastDataLine, 0);
    return QStringLiteral(" (%1 %2, %3 %4)")
        .arg(photos)
        .arg(photos == 1 ? QStringLiteral("photo") : QStringLiteral("photos"))
        .arg(data.FieldCount)
        .arg(data.FieldCount == 1 ? QStringLiteral("column") : QStringLiteral("columns"));
}

PathLabel *pathLabel(const QString &caption, const QString &name, QWidget *parent)
{
    auto *label = new PathLabel(caption, parent);
    label->setObjectName(name);
    return label;
}

QGroupBox *group(const QString &caption, const QString &name, QWidget *parent)
{
    auto *box = new QGroupBox(caption, parent);
    box->setObjectName(name);
    return box;
}

// Each line of a run not saved in full, by the data file's row as a
// spreadsheet shows it, grouped by kind (its first note's code): failures
// first, then skipped lines, then warnings, so that a few real problems are
// not buried under thousands of replaced files. Groups of one status come
// in the order of their first line, and lines in line order.
QList<ProblemGroup> listProblems(const BatchResult &result)
{
    QList<ProblemGroup> groups;
    QList<const LineReport *> firsts;
    for (const LineStatus status : {LineStatus::Failed, LineStatus::Skipped, LineStatus::SavedWithWarnings}) {
        const qsizetype begin = groups.size();
        const QString kind = status == LineStatus::Skipped ? QStringLiteral("skipped")
            : status == LineStatus::Failed                 ? QStringLiteral("failed")
                                                           : QStringLiteral("saved with warnings");
        for (const LineReport &report : result.reports) {
            if (report.outcome.status != status)
                continue;
            const int code = int(report.outcome.notes.value(0).code);
            auto group = std::find_if(groups.begin() + begin, groups.end(), [code](const ProblemGroup &g) { return g.code == code; });
            if (group == groups.end()) {
                groups.append({kind, code, {}});
                firsts.append(&report);
                group = groups.end() - 1;
            }
            const QString name = report.name.isEmpty() ? QStringLiteral("(no file name)") : report.name;
            group->lines << QStringLiteral("Row %1, %2, %3: %4").arg(report.row).arg(name, kind, NotesText(report.outcome.notes));
        }
    }
    for (qsizetype i = 0; i < groups.size(); ++i) {
        ProblemGroup &group = groups[i];
        const LineReport &first = *firsts[i];
        QString heading = QStringLiteral("%1 %2 %3").arg(group.lines.size()).arg(group.lines.size() == 1 ? QStringLiteral("line") : QStringLiteral("lines"), group.heading);
        if (!first.outcome.notes.isEmpty())
            heading += QStringLiteral(", like row %1: %2").arg(first.row).arg(NoteText(first.outcome.notes.first()));
        group.heading = heading;
    }
    return groups;
}

QString runSummary(const BatchResult &result)
{
    const qsizetype reached = result.reports.size();
    QString text = QStringLiteral("%1: %2 of %3 lines saved (%4 with warnings), %5 %6 written, %7 skipped, %8 failed")
                       .arg(result.stopped ? QStringLiteral("Cancelled") : QStringLiteral("Done"))
                       .arg(result.saved())
                       .arg(result.lines)
                       .arg(result.count(LineStatus::SavedWithWarnings))
                       .arg(result.files)
                       .arg(result.files == 1 ? QStringLiteral("file") : QStringLiteral("files"))
                       .arg(result.count(LineStatus::Skipped))
                       .arg(result.count(LineStatus::Failed));
    if (reached < result.lines)
        text += QStringLiteral(", %1 not reached").arg(result.lines - reached);
    return text + QLatin1Char('.');
}
} // namespace

FormMain::FormMain(AppState &state, SettingsStore &store, SettingsStore &choicesStore, UiServices &ui, QWidget *parent)
    : QMainWindow(parent), state(state), store(store), choicesStore(choicesStore), ui(ui),
      registry(std::make_unique<NoRegistry>()), runner(new BatchRunner(this)), exporter(new TagExporter(this)),
      checker(new BatchChecker(this))
{
    setObjectName(QStringLiteral("FormMain"));
    auto *central = new QWidget(this);

    auto *frameImages = group(QStringLiteral("Path to images to be tagged with IPTC data"),
                              QStringLiteral("FrameImages"), central);
    LabelImagePath = pathLabel(QStringLiteral("Imagepath"), QStringLiteral("LabelImagePath"), frameImages);
    CmdBrowseImages = fixedButton(QStringLiteral("&Browse"), QStringLiteral("CmdBrowseImages"), frameImages,
                                  QStringLiteral("Choose the folder of images to tag"));

    auto *frameData = group(QStringLiteral("IPTC data file (tab delimited text file)"),
                            QStringLiteral("FrameDataFile"), central);
    LabelIPTCfilename = pathLabel(QStringLiteral("Datafile"), QStringLiteral("LabelIPTCfilename"), frameData);
    LabelIPTCinfo = new WrappedLabel(frameData);
    LabelIPTCinfo->setText(QStringLiteral("IPTC info"));
    LabelIPTCinfo->setObjectName(QStringLiteral("LabelIPTCinfo"));
    auto *labelEncoding = new QLabel(QStringLiteral("&Encoding:"), frameData);
    ComboEncoding = new QComboBox(frameData);
    ComboEncoding->setObjectName(QStringLiteral("ComboEncoding"));
    ComboEncoding->setToolTip(QStringLiteral("How the data file's bytes are read: Automatic follows a byte-order "
                                             "mark, else takes UTF-8 where the bytes are valid UTF-8, else Windows-1252"));
    for (const EncodingChoice &choice : EncodingChoices())
        ComboEncoding->addItem(choice.name);
    labelEncoding->setBuddy(ComboEncoding);
    LabelIPTCencoding = new QLabel(frameData);
    LabelIPTCencoding->setObjectName(QStringLiteral("LabelIPTCencoding"));
    LabelIPTCencoding->setToolTip(QStringLiteral("The encoding the data file was read in"));
    CmdBrowseIPTCfile = fixedButton(QStringLiteral("B&rowse"), QStringLiteral("CmdBrowseIPTCfile"), frameData,
                                    QStringLiteral("Choose the data file"));

    auto *frameParsing = group(QStringLiteral("Field to IPTC tag and image file name parsing schemes"),
                               QStringLiteral("FrameParsing"), central);
    ComboParsing = new QComboBox(frameParsing);
    ComboParsing->setObjectName(QStringLiteral("ComboParsing"));
    // Typed text would leave the run without a scheme, so the list is pick-only.
    ComboParsing->setEditable(false);
    ComboParsing->setPlaceholderText(NoSchemesText);
    ComboParsing->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    ComboParsing->setMinimumContentsLength(16);
    // The long placeholder would otherwise set the window's least width.
    ComboParsing->setMinimumWidth(ComboParsing->fontMetrics().averageCharWidth() * 24);
    ComboParsing->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    CmdManageParsing = fixedButton(QStringLiteral("&Manage parsing"), QStringLiteral("CmdManageParsing"), frameParsing,
                                   QStringLiteral("Add, edit and delete parsing schemes"));

    FrameSave = group(QStringLiteral("Embed tags and save images"), QStringLiteral("FrameSave"), central);
    LabelSavePath = pathLabel(QStringLiteral("Imagepath"), QStringLiteral("LabelSavePath"), FrameSave);
    CmdBrowseSave = fixedButton(QStringLiteral("Bro&wse"), QStringLiteral("CmdBrowseSave"), FrameSave,
                                QStringLiteral("Choose the folder for the tagged images"));
    const std::array<QString, 3> optionCaptions{QStringLiteral("Replace &images"), QStringLiteral("&Append file name"),
                                                QStringLiteral("&Different file type")};
    for (int i = 0; i < 3; ++i) {
        OptionReplace[i] = new QRadioButton(optionCaptions[i], FrameSave);
        OptionReplace[i]->setObjectName(QStringLiteral("OptionReplace_%1").arg(i));
    }
    OptionReplace[0]->setChecked(true);
    // There is no other file type to offer, so the option is shown but cannot be chosen.
    OptionReplace[2]->setEnabled(false);
    Text1 = new QLineEdit(QStringLiteral("IPTC"), FrameSave);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    // A folder dropped here means the window's folder, not text to append.
    Text1->setAcceptDrops(false);
    CheckLossless = new QCheckBox(QStringLiteral("Write tags &only (keep image data unchanged)"), FrameSave);
    CheckLossless->setObjectName(QStringLiteral("CheckLossless"));
    CheckLossless->setChecked(true); // re-encoding is a deliberate choice
    if (!ReencodingAvailable()) {
        CheckLossless->setEnabled(false);
        CheckLossless->setToolTip(ReencodingUnavailableMessage);
    }
    CheckSkipExisting = new QCheckBox(QStringLiteral("S&kip images already in the save folder"), FrameSave);
    CheckSkipExisting->setObjectName(QStringLiteral("CheckSkipExisting"));
    CmdBatchTag = fixedButton(QStringLiteral("Batch &tag"), QStringLiteral("CmdBatchTag"), FrameSave,
                              QStringLiteral("Write the tagged images"));
    CmdCheck = fixedButton(QStringLiteral("&Check"), QStringLiteral("CmdCheck"), FrameSave,
                           QStringLiteral("Show what the run will read and write, and what it will meet, without writing"));
    ProgressBarBatch = new QProgressBar(FrameSave);
    ProgressBarBatch->setObjectName(QStringLiteral("ProgressBarBatch"));
    ProgressBarBatch->setRange(0, 0);
    ProgressBarBatch->setFormat(QStringLiteral("%v of %m"));
    hideKeepingSpace(ProgressBarBatch);
    CmdCancel = fixedButton(QStringLiteral("Cancel"), QStringLiteral("CmdCancel"), FrameSave);
    CmdCancel->setShortcut(Qt::Key_Escape);
    CmdCancel->setToolTip(QStringLiteral("Stop after the image in hand (Esc)"));
    hideKeepingSpace(CmdCancel);
    // Wraps rather than cuts off, at any width and font size.
    LabelRunSummary = new WrappedLabel(FrameSave);
    LabelRunSummary->setObjectName(QStringLiteral("LabelRunSummary"));
    CmdShowProblems = fixedButton(QStringLiteral("&Problems..."), QStringLiteral("CmdShowProblems"), FrameSave,
                                  QStringLiteral("Every line of the last run that was not saved in full"));
    hideKeepingSpace(CmdShowProblems);

    QMenu *CmdFile = menuBar()->addMenu(QStringLiteral("&File"));
    CmdFile->setObjectName(QStringLiteral("CmdFile"));
    CmdFileOpen = CmdFile->addAction(QStringLiteral("&Open tab delimited IPTC text file..."));
    CmdFileOpen->setObjectName(QStringLiteral("CmdFileOpen"));
    CmdFileOpen->setShortcut(QKeySequence::Open);
    CmdFileExport = CmdFile->addAction(QStringLiteral("&Export tags to data file..."));
    CmdFileExport->setObjectName(QStringLiteral("CmdFileExport"));
    CmdFile->addSeparator()->setObjectName(QStringLiteral("CmdFileSeparator01"));
    CmdFileExit = CmdFile->addAction(QStringLiteral("E&xit"));
    CmdFileExit->setObjectName(QStringLiteral("CmdFileExit"));
    CmdFileExit->setShortcut(QKeySequence::Quit);
    QMenu *CmdSetup = menuBar()->addMenu(QStringLiteral("&Setup"));
    CmdSetup->setObjectName(QStringLiteral("CmdSetup"));
    CmdSetupParsing = CmdSetup->addAction(QStringLiteral("Manage &Field parsing..."));
    CmdSetupParsing->setObjectName(QStringLiteral("CmdSetupParsing"));
    QMenu *CmdHelp = menuBar()->addMenu(QStringLiteral("&Help"));
    CmdHelp->setObjectName(QStringLiteral("CmdHelp"));
    CmdHelpAbout = CmdHelp->addAction(QStringLiteral("&About"));
    CmdHelpAbout->setObjectName(QStringLiteral("CmdHelpAbout"));

    connect(CmdBrowseImages, &QPushButton::clicked, this, &FormMain::CmdBrowseImages_Click);
    connect(CmdBrowseIPTCfile, &QPushButton::clicked, this, &FormMain::CmdBrowseIPTCfile_Click);
    connect(ComboEncoding, &QComboBox::activated, this, &FormMain::ComboEncoding_Activated);
    connect(CmdManageParsing, &QPushButton::clicked, this, &FormMain::CmdManageParsing_Click);
    connect(CmdBrowseSave, &QPushButton::clicked, this, &FormMain::CmdBrowseSave_Click);
    connect(CmdBatchTag, &QPushButton::clicked, this, &FormMain::CmdBatchTag_Click);
    connect(CmdCheck, &QPushButton::clicked, this, &FormMain::CmdCheck_Click);
    connect(CmdCancel, &QPushButton::clicked, runner, &BatchRunner::cancel);
    connect(CmdCancel, &QPushButton::clicked, exporter, &TagExporter::cancel);
    // The bar is drawn at most once a frame: it repaints at once on each new
    // value, which over a run of small photos would cost more than the run.
    progressFrame = new QTimer(this);
    progressFrame->setSingleShot(true);
    progressFrame->setInterval(1000 / 30);
    connect(progressFrame, &QTimer::timeout, this, &FormMain::drawProgress);
    connect(runner, &BatchRunner::progress, this, &FormMain::showProgress);
    connect(exporter, &TagExporter::progress, this, &FormMain::showProgress);
    connect(checker, &BatchChecker::progress, this, &FormMain::showProgress);
    connect(CmdCancel, &QPushButton::clicked, checker, &BatchChecker::cancel);
    connect(checker, &BatchChecker::finished, this, &FormMain::checkFinished);
    connect(runner, &BatchRunner::finished, this, &FormMain::runFinished);
    connect(exporter, &TagExporter::finished, this, &FormMain::exportFinished);
    connect(CmdShowProblems, &QPushButton::clicked, this, &FormMain::CmdShowProblems_Click);
    connect(ComboParsing, &QComboBox::currentIndexChanged, this, &FormMain::ComboParsing_Click);
    // Replace and Append toggle together, so one of them tells of either.
    connect(OptionReplace[1], &QRadioButton::toggled, this, &FormMain::clearRunReport);
    connect(CheckLossless, &QCheckBox::toggled, this, &FormMain::clearRunReport);
    connect(CheckSkipExisting, &QCheckBox::toggled, this, &FormMain::clearRunReport);
    connect(Text1, &QLineEdit::textChanged, this, &FormMain::clearRunReport);
    connect(CmdFileOpen, &QAction::triggered, this, &FormMain::CmdBrowseIPTCfile_Click);
    connect(CmdFileExport, &QAction::triggered, this, &FormMain::CmdFileExport_Click);
    connect(CmdFileExit, &QAction::triggered, this, &QWidget::close);
    connect(CmdSetupParsing, &QAction::triggered, this, &FormMain::CmdManageParsing_Click);
    connect(CmdHelpAbout, &QAction::triggered, this, &FormMain::CmdHelpAbout_Click);

    auto *imagesLayout = new QGridLayout(frameImages);
    imagesLayout->addWidget(LabelImagePath, 0, 0, 1, 2);
    imagesLayout->addWidget(CmdBrowseImages, 1, 1);
    imagesLayout->setColumnStretch(0, 1);

    auto *dataLayout = new QGridLayout(frameData);
    dataLayout->addWidget(LabelIPTCfilename, 0, 0, 1, 2);
    dataLayout->addWidget(LabelIPTCinfo, 1, 0);
    dataLayout->addWidget(CmdBrowseIPTCfile, 1, 1, Qt::AlignTop);
    auto *encodingLayout = new QHBoxLayout;
    encodingLayout->addWidget(labelEncoding);
    encodingLayout->addWidget(ComboEncoding);
    encodingLayout->addWidget(LabelIPTCencoding, 1);
    dataLayout->addLayout(encodingLayout, 2, 0, 1, 2);
    dataLayout->setColumnStretch(0, 1);

    auto *parsingLayout = new QHBoxLayout(frameParsing);
    parsingLayout->addWidget(ComboParsing, 1);
    parsingLayout->addWidget(CmdManageParsing);

    auto *saveLayout = new QGridLayout(FrameSave);
    saveLayout->addWidget(LabelSavePath, 0, 0, 1, 4);
    saveLayout->addWidget(OptionReplace[0], 1, 0);
    saveLayout->addWidget(CmdBrowseSave, 1, 3);
    saveLayout->addWidget(OptionReplace[1], 2, 0);
    saveLayout->addWidget(Text1, 2, 1);
    saveLayout->addWidget(CmdCheck, 2, 2, Qt::AlignRight);
    saveLayout->addWidget(CmdBatchTag, 2, 3);
    saveLayout->addWidget(OptionReplace[2], 3, 0);
    saveLayout->addWidget(CheckLossless, 3, 1, 1, 3);
    saveLayout->addWidget(CheckSkipExisting, 4, 1, 1, 3);
    saveLayout->addWidget(ProgressBarBatch, 5, 0, 1, 3);
    saveLayout->addWidget(CmdCancel, 5, 3);
    saveLayout->addWidget(LabelRunSummary, 6, 0, 1, 3);
    saveLayout->addWidget(CmdShowProblems, 6, 3, Qt::AlignTop);
    saveLayout->setColumnStretch(2, 1);

    auto *layout = new QVBoxLayout(central);
    layout->addWidget(frameImages);
    layout->addWidget(frameData);
    layout->addWidget(frameParsing);
    layout->addWidget(FrameSave);
    layout->addStretch();
    setCentralWidget(central);

    SetTabChain({CmdBrowseImages, CmdBrowseIPTCfile, ComboEncoding, ComboParsing, CmdManageParsing, CmdBrowseSave,
                 OptionReplace[0], OptionReplace[1], Text1, OptionReplace[2], CheckLossless, CheckSkipExisting, CmdCheck,
                 CmdBatchTag, CmdCancel, CmdShowProblems});
    CmdBrowseImages->setFocus();

    setWindowTitle(MainWindowTitle);
    setWindowIcon(ApplicationIcon());
    setAcceptDrops(true);
    resize(620, sizeHint().height());

    Form_Load();
}

FormMain::~FormMain() = default;

void FormMain::Form_Load()
{
    InitIptcTagKeys(state.IptcTagKeys);
    const SchemeStoreReport report = LoadSchemes(state.Schemes, store);
    FillSchemeList();
    // Shown once the window is up, over it, rather than alone before it.
    if (!report.clean())
        startMessage = SchemeStoreReportText(report, BreakableAtSeparators(store.location()), ListedProblems);
    restoreChoices();
}

void FormMain::restoreChoices()
{
    remembered.encoding = ComboEncoding->currentText();
    remembered.appendText = Text1->text();
    remembered.reencode = !CheckLossless->isChecked();
    remembered.skipExisting = CheckSkipExisting->isChecked();
    LoadLastChoices(choicesStore, remembered);

    if (const std::optional<EncodingChoice> choice = EncodingChoiceNamed(remembered.encoding)) {
        encodingIndex = ComboEncoding->findText(choice->name);
        ComboEncoding->setCurrentIndex(encodingIndex);
    }
    // A path that is gone is not shown, but stays remembered for the pickers and the next start.
    if (QFileInfo(remembered.imageFolder).isDir())
        setImageFolder(remembered.imageFolder);
    if (QFileInfo(remembered.dataFile).isFile())
        openDataFile(remembered.dataFile, true);
    const int scheme = ComboParsing->findText(remembered.scheme, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (scheme >= 0)
        ComboParsing->setCurrentIndex(scheme);
    if (QFileInfo(remembered.saveFolder).isDir())
        setSaveFolder(remembered.saveFolder);
    OptionReplace[remembered.appendFileName ? 1 : 0]->setChecked(true);
    Text1->setText(remembered.appendText);
    CheckLossless->setChecked(!remembered.reencode || !ReencodingAvailable());
    CheckSkipExisting->setChecked(remembered.skipExisting);
    if (!remembered.windowGeometry.isEmpty())
        restoreGeometry(remembered.windowGeometry);
}

void FormMain::saveChoices()
{
    if (ComboParsing->currentIndex() >= 0)
        remembered.scheme = ComboParsing->currentText();
    remembered.appendFileName = OptionReplace[1]->isChecked();
    remembered.appendText = Text1->text();
    // Without the image library the box says nothing of the choice to keep.
    if (ReencodingAvailable())
        remembered.reencode = !CheckLossless->isChecked();
    remembered.skipExisting = CheckSkipExisting->isChecked();
    remembered.windowGeometry = saveGeometry();
    // Losing the choices costs the user a few clicks at the next start, not work: no message.
    SaveLastChoices(remembered, choicesStore);
}

void FormMain::FillSchemeList()
{
    // With no scheme left the list must not keep names of schemes that are
    // gone, or a run would pick one of them.
    const int wanted = state.SelectedScheme;
    const int count = state.Schemes.SchemeCount;
    {
        const QSignalBlocker quiet(ComboParsing);
        ComboParsing->clear();
        for (int i = 1; i <= count; ++i)
            ComboParsing->addItem(state.Schemes.Schemes.at(i).Name);
        ComboParsing->setCurrentIndex(count == 0 ? -1 : wanted >= 0 && wanted < count ? wanted : 0);
    }
    state.SelectedScheme = ComboParsing->currentIndex();
}

void FormMain::ComboParsing_Click(int index)
{
    state.SelectedScheme = index;
    clearRunReport();
}

void FormMain::setImageFolder(const QString &path)
{
    LabelImagePath->setPath(path);
    state.ImagePath = path;
    remembered.imageFolder = path;
    clearRunReport();
}

void FormMain::setSaveFolder(const QString &path)
{
    LabelSavePath->setPath(path);
    state.SavePath = path;
    remembered.saveFolder = path;
    clearRunReport();
}

void FormMain::CmdBrowseImages_Click()
{
    // Cancel keeps the folder chosen before.
    const QString start = startFolder(remembered.imageFolder, folderOf(remembered.dataFile));
    if (const std::optional<QString> folder = BrowseForFolder(this, ui, FolderPickerTitle, start))
        setImageFolder(*folder);
}

void FormMain::CmdBrowseSave_Click()
{
    // With no save folder yet, beside the image folder, where one usually is.
    const QString start = startFolder(remembered.saveFolder, folderOf(remembered.imageFolder));
    if (const std::optional<QString> folder = BrowseForFolder(this, ui, SaveFolderPickerTitle, start))
        setSaveFolder(*folder);
}

void FormMain::CmdBrowseIPTCfile_Click()
{
    const QString start = startFolder(folderOf(remembered.dataFile), remembered.imageFolder);
    if (const std::optional<QString> path = ui.chooseOpenFile(this, DataFileFilters, start))
        openChosenDataFile(*path);
}

bool FormMain::openChosenDataFile(const QString &path)
{
    // The encoding forced for one file says nothing of the next: a UTF-8 file read as
    // Windows-1250 would go wrong without a word. Choosing the same file again keeps it.
    if (path == dataFile)
        return openDataFile(path);
    ComboEncoding->setCurrentIndex(0); // Automatic
    if (openDataFile(path))
        return true;
    ComboEncoding->setCurrentIndex(encodingIndex);
    return false;
}

bool FormMain::openDataFile(const QString &path, bool quietly)
{
    // On failure the tables still hold the earlier file, and so does the label.
    const DataFileResult result =
        LoadDataFile(path, state.Data, EncodingChoices().value(ComboEncoding->currentIndex()).forced);
    if (!result.loaded()) {
        if (!quietly)
            ui.message(this, result.problem.kind() == Problem::Kind::MissingFile
                                 ? MissingDataFileMessage
                                 : QStringLiteral("Cannot read file %1:\n%2.")
                                       .arg(QDir::toNativeSeparators(path), result.problem.text()));
        return false;
    }
    dataFile = path;
    remembered.dataFile = path;
    remembered.encoding = ComboEncoding->currentText();
    encodingIndex = ComboEncoding->currentIndex();
    LabelIPTCfilename->setPath(path);
    LabelIPTCinfo->setText(result.summary + photosAndColumns(state.Data));
    LabelIPTCencoding->setText(QStringLiteral("read as ") + EncodingName(state.Data.Encoding));
    clearRunReport();
    return true;
}

void FormMain::ComboEncoding_Activated(int index)
{
    if (dataFile.isEmpty()) {
        encodingIndex = index;
        remembered.encoding = ComboEncoding->currentText();
        return;
    }
    // The file is read again at once, so that the window never shows one
    // encoding and holds values read in another.
    if (!openDataFile(dataFile))
        ComboEncoding->setCurrentIndex(encodingIndex);
}

void FormMain::clearRunReport()
{
    LabelRunSummary->clear();
    LabelRunSummary->setToolTip({});
    CmdShowProblems->setVisible(false);
    problemLines.clear();
}

QString FormMain::suggestedFile(const QString &what) const
{
    if (dataFile.isEmpty())
        return what + QStringLiteral(".txt");
    const QFileInfo data(dataFile);
    return QDir(data.absolutePath()).filePath(data.completeBaseName() + QLatin1Char('-') + what + QStringLiteral(".txt"));
}

void FormMain::CmdManageParsing_Click()
{
    if (ShowSchemeManager(this, state, store, ui))
        clearRunReport();
    FillSchemeList();
}

void FormMain::CmdHelpAbout_Click()
{
    FormAbout about(ui, *registry, {}, this);
    ui.execDialog(about);
}

BatchOptions FormMain::chosenOptions() const
{
    BatchOptions options;
    if (OptionReplace[1]->isChecked()) {
        options.saveOption = SaveOption::AppendFileName;
        options.appendText = Text1->text();
    }
    options.reencode = !CheckLossless->isChecked();
    options.skipExisting = CheckSkipExisting->isChecked();
    return options;
}

void FormMain::CmdCheck_Click()
{
    closeRequested = false;
    // In the workers, as the run goes: the window stays responsive, with progress and Cancel.
    // Pictures for a day's work of lines: each costs the window some 30 KB.
    constexpr int PicturedLines = 3000;
    if (const Problem refusal = checker->start(state, chosenOptions(), PicturedLines)) {
        ui.message(this, refusal.text());
        return;
    }
    showRunning(true);
}

void FormMain::checkFinished(const BatchCheck &check)
{
    showRunning(false);
    if (closeRequested) {
        close();
        return;
    }
    if (check.refused()) {
        ui.message(this, check.refusal.text());
        return;
    }
    // Cancelled: what was reached would read as the whole batch.
    if (check.stopped)
        return;
    FormCheck form(check, state.Data, remembered.checkOnlyProblems, suggestedFile(QStringLiteral("check")), ui, this);
    ui.execDialog(form);
    remembered.checkOnlyProblems = form.onlyProblems();
}

void FormMain::CmdBatchTag_Click()
{
    closeRequested = false;
    clearRunReport();
    if (const Problem refusal = runner->start(state, chosenOptions())) {
        ui.message(this, refusal.text());
        return;
    }
    showRunning(true);
}

void FormMain::runFinished(const BatchResult &result)
{
    showRunning(false);
    if (closeRequested) {
        close();
        return;
    }
    reportRun(result);
}

bool FormMain::batchRunning() const
{
    return runner->running() || exporter->running() || checker->running();
}

void FormMain::CmdFileExport_Click()
{
    const QString start = startFolder(remembered.imageFolder, folderOf(remembered.dataFile));
    const std::optional<QString> folder = BrowseForFolder(this, ui, ExportFolderPickerTitle, start);
    if (!folder)
        return;
    // Beside the folder, named after it.
    const QFileInfo info(*folder);
    const QString name = info.fileName().isEmpty() ? QStringLiteral("tags") : info.fileName();
    const std::optional<QString> file =
        ui.chooseSaveFile(this, DataFileFilters, QDir(info.absolutePath()).filePath(name + QStringLiteral(".txt")));
    if (!file)
        return;
    closeRequested = false;
    clearRunReport();
    ExportRequest request;
    request.imageFolder = *folder;
    request.dataFile = *file;
    // The save dialog has asked before replacing a file.
    request.replace = true;
    const auto consent = [this](const QStringList &losses) { return ui.ask(this, SchemeLossQuestion(store.location(), losses)); };
    if (const Problem refusal = exporter->start(request, state.Schemes, store, consent)) {
        ui.message(this, refusal.text());
        return;
    }
    exportFolder = *folder;
    showRunning(true);
}

void FormMain::exportFinished(const ExportResult &result)
{
    showRunning(false);
    if (closeRequested) {
        close();
        return;
    }
    QStringList problems;
    for (const ExportedImage &image : result.images) {
        if (image.tags.failure)
            problems << QStringLiteral("%1, not read: %2").arg(image.name, NoteText(image.tags.failure));
        for (const TagReadNote &note : image.tags.notes)
            problems << QStringLiteral("%1: %2").arg(image.name, TagReadNoteText(note));
    }
    for (const LeftOutFile &file : result.leftOut)
        problems << QStringLiteral("%1, left out: %2").arg(file.name, NoteText(file.why));
    if (!result.problem && !result.stopped) {
        // What the user exported is what they will tag next.
        FillSchemeList();
        const int scheme = ComboParsing->findText(result.schemeName, Qt::MatchExactly | Qt::MatchCaseSensitive);
        ComboParsing->setCurrentIndex(scheme);
        setImageFolder(exportFolder);
        ComboEncoding->setCurrentIndex(ComboEncoding->findText(EncodingName(TextEncoding::Utf8)));
        openDataFile(result.dataFile);
    }
    if (result.problem)
        ui.message(this, result.problem.text());
    const qsizetype read = result.images.size() - result.unreadable();
    QString summary = result.stopped ? QStringLiteral("Export cancelled: nothing was written.")
                                     : QStringLiteral("Exported: %1 of %2 images read (%3 with values that will not come back exactly)")
                                           .arg(read)
                                           .arg(result.images.size())
                                           .arg(result.noted());
    if (!result.stopped && !result.leftOut.isEmpty())
        summary += QStringLiteral("; %1 other files left out").arg(result.leftOut.size());
    if (result.written())
        summary += QStringLiteral("; the data file and the scheme \u201c%1\u201d are now chosen.").arg(result.schemeName);
    else if (!result.stopped)
        summary += result.dataFile.isEmpty() ? QStringLiteral("; nothing was written.") : QStringLiteral("; no scheme was stored.");
    problemLines.clear();
    if (!problems.isEmpty())
        problemLines.append({{}, 0, problems});
    LabelRunSummary->setText(summary);
    LabelRunSummary->setToolTip(summary);
    CmdShowProblems->setVisible(!problemLines.isEmpty());
}

void FormMain::CmdShowProblems_Click()
{
    FormProblems form(LabelRunSummary->text(), problemLines, suggestedFile(QStringLiteral("problems")), ui, this);
    ui.execDialog(form);
}

void FormMain::showProgress(int done, int lines)
{
    pendingProgress = {done, lines};
    if (!progressFrame->isActive())
        drawProgress();
}

void FormMain::drawProgress()
{
    const auto [done, lines] = pendingProgress;
    if (ProgressBarBatch->maximum() == lines && ProgressBarBatch->value() == done)
        return; // a frame with nothing new: the next value is drawn as it comes
    ProgressBarBatch->setMaximum(lines);
    ProgressBarBatch->setValue(done);
    // A run's start is not a frame, so that its first line shows as it is done.
    if (done > 0)
        progressFrame->start();
}

void FormMain::showRunning(bool running)
{
    // The bar keeps the last value told, even one its frame has not drawn yet.
    progressFrame->stop();
    ProgressBarBatch->setMaximum(pendingProgress.second);
    ProgressBarBatch->setValue(pendingProgress.first);
    setInputsEnabled(!running);
    ProgressBarBatch->setVisible(running);
    CmdCancel->setVisible(running);
}

void FormMain::setInputsEnabled(bool enabled)
{
    for (QWidget *input : std::initializer_list<QWidget *>{CmdBrowseImages, CmdBrowseIPTCfile, ComboEncoding,
                                                           ComboParsing, CmdManageParsing, CmdBrowseSave,
                                                           OptionReplace[0], OptionReplace[1], Text1, CheckLossless,
                                                           CheckSkipExisting, CmdCheck, CmdBatchTag})
        input->setEnabled(enabled);
    CheckLossless->setEnabled(enabled && ReencodingAvailable());
    for (QAction *action : {CmdFileOpen, CmdFileExport, CmdSetupParsing, CmdHelpAbout})
        action->setEnabled(enabled);
}

void FormMain::reportRun(const BatchResult &result)
{
    if (result.refused()) {
        ui.message(this, result.refusal.text());
        return;
    }
    problemLines = listProblems(result);
    LabelRunSummary->setText(runSummary(result));
    LabelRunSummary->setToolTip(LabelRunSummary->text());
    CmdShowProblems->setVisible(!problemLines.isEmpty());
}

void FormMain::closeEvent(QCloseEvent *event)
{
    // Closing mid-run lets the lines in hand be saved; the run then stops
    // and the window closes itself.
    if (batchRunning()) {
        closeRequested = true;
        runner->cancel();
        exporter->cancel();
        checker->cancel();
        event->ignore();
        return;
    }
    saveChoices();
    event->accept();
}

void FormMain::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (startMessage.isEmpty())
        return;
    QTimer::singleShot(0, this, [this] { ui.message(this, std::exchange(startMessage, QString())); });
}

void FormMain::dragEnterEvent(QDragEnterEvent *event)
{
    if (!batchRunning() && droppedPath(event->mimeData()))
        event->acceptProposedAction();
}

void FormMain::dropEvent(QDropEvent *event)
{
    const std::optional<QString> path = droppedPath(event->mimeData());
    if (batchRunning() || !path)
        return;
    event->acceptProposedAction();
    if (!QFileInfo(*path).isDir()) {
        openChosenDataFile(*path);
        return;
    }
    // A folder fills the save folder when it lands on that frame, else the image folder.
    const QWidget *target = childAt(event->position().toPoint());
    if (target && (target == FrameSave || FrameSave->isAncestorOf(target)))
        setSaveFolder(*path);
    else
        setImageFolder(*path);
}
