#include "ui/formmain.h"

#include "engine/batchcheck.h"
#include "engine/batchtag.h"
#include "model/appstate.h"
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

#include "ui/tabchain.h"
#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QComboBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {
const QStringList DataFileFilters{QStringLiteral("Tab delimited text file (*.txt)"),
                                  QStringLiteral("All files (*.*)")};

// How many problems the scheme store's report lists before it only counts the rest.
constexpr int ListedProblems = 5;

class ProgressBarSink : public ProgressSink {
public:
    explicit ProgressBarSink(QProgressBar *bar) : bar(bar) {}
    void setValue(double value) override { bar->setValue(int(value)); }
    void setMax(double max) override { bar->setMaximum(std::max(0, int(max))); }
    void setVisible(bool visible) override { bar->setVisible(visible); }

private:
    QProgressBar *bar;
};

// Hidden until a run needs it, holding its place so the window keeps its height.
void hideKeepingSpace(QWidget *widget)
{
    QSizePolicy policy = widget->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    widget->setSizePolicy(policy);
    widget->setVisible(false);
}

QPushButton *fixedButton(const QString &caption, const QString &name, QWidget *parent)
{
    auto *button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    return button;
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

// Each problem line of a run, in line order, naming the data file's row as
// a spreadsheet shows it.
QStringList listProblems(const BatchResult &result, const IptcDataFile &data)
{
    QList<std::pair<const LineProblem *, QString>> all;
    for (const auto &[list, kind] : {std::pair{&result.skipped, QStringLiteral("skipped")},
                                     std::pair{&result.failed, QStringLiteral("failed")},
                                     std::pair{&result.warnings, QStringLiteral("saved with warnings")}}) {
        for (const LineProblem &problem : *list)
            all.append({&problem, kind});
    }
    std::stable_sort(all.begin(), all.end(), [](const auto &a, const auto &b) { return a.first->line < b.first->line; });
    QStringList lines;
    for (const auto &[problem, kind] : all) {
        const QString name = problem->fileName.isEmpty() ? QStringLiteral("(no file name)") : problem->fileName;
        lines << QStringLiteral("Row %1 (data line %2), %3, %4: %5")
                     .arg(data.row(problem->line))
                     .arg(problem->line)
                     .arg(name, kind, problem->reason);
    }
    return lines;
}

QString runSummary(const BatchResult &result)
{
    const qsizetype reached = result.saved + result.skipped.size() + result.failed.size();
    QString text = QStringLiteral("%1: %2 of %3 lines saved (%4 with warnings), %5 skipped, %6 failed")
                       .arg(result.stopped ? QStringLiteral("Cancelled") : QStringLiteral("Done"))
                       .arg(result.saved)
                       .arg(result.lines)
                       .arg(result.warnings.size())
                       .arg(result.skipped.size())
                       .arg(result.failed.size());
    if (reached < result.lines)
        text += QStringLiteral(", %1 not reached").arg(result.lines - reached);
    return text + QLatin1Char('.');
}
} // namespace

FormMain::FormMain(AppState &state, BatchState &batch, SettingsStore &store, UiServices &ui, QWidget *parent)
    : QMainWindow(parent), state(state), batch(batch), store(store), ui(ui), registry(std::make_unique<NoRegistry>())
{
    setObjectName(QStringLiteral("FormMain"));
    auto *central = new QWidget(this);

    auto *frameImages = group(QStringLiteral("Path to images to be tagged with IPTC data"),
                              QStringLiteral("FrameImages"), central);
    LabelImagePath = pathLabel(QStringLiteral("Imagepath"), QStringLiteral("LabelImagePath"), frameImages);
    CmdBrowseImages = fixedButton(QStringLiteral("Browse"), QStringLiteral("CmdBrowseImages"), frameImages);

    auto *frameData = group(QStringLiteral("IPTC data file (tab delimited text file)"),
                            QStringLiteral("FrameDataFile"), central);
    LabelIPTCfilename = pathLabel(QStringLiteral("Datafile"), QStringLiteral("LabelIPTCfilename"), frameData);
    LabelIPTCinfo = new QLabel(QStringLiteral("IPTC info"), frameData);
    LabelIPTCinfo->setObjectName(QStringLiteral("LabelIPTCinfo"));
    LabelIPTCinfo->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    LabelIPTCencoding = new QLabel(frameData);
    LabelIPTCencoding->setObjectName(QStringLiteral("LabelIPTCencoding"));
    CmdBrowseIPTCfile = fixedButton(QStringLiteral("Browse"), QStringLiteral("CmdBrowseIPTCfile"), frameData);

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
    CmdManageParsing = fixedButton(QStringLiteral("Manage parsing"), QStringLiteral("CmdManageParsing"), frameParsing);

    auto *frameSave = group(QStringLiteral("Embed tags and save images"), QStringLiteral("FrameSave"), central);
    LabelSavePath = pathLabel(QStringLiteral("Imagepath"), QStringLiteral("LabelSavePath"), frameSave);
    CmdBrowseSave = fixedButton(QStringLiteral("Browse"), QStringLiteral("CmdBrowseSave"), frameSave);
    const std::array<QString, 3> optionCaptions{QStringLiteral("Replace images"), QStringLiteral("Append file name"),
                                                QStringLiteral("Different file type")};
    for (int i = 0; i < 3; ++i) {
        OptionReplace[i] = new QRadioButton(optionCaptions[i], frameSave);
        OptionReplace[i]->setObjectName(QStringLiteral("OptionReplace_%1").arg(i));
    }
    OptionReplace[0]->setChecked(true);
    // There is no other file type to offer, so the option is shown but cannot be chosen.
    OptionReplace[2]->setEnabled(false);
    Text1 = new QLineEdit(QStringLiteral("IPTC"), frameSave);
    Text1->setObjectName(QStringLiteral("Text1"));
    Text1->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    CheckLossless = new QCheckBox(QStringLiteral("Write tags only (keep image data unchanged)"), frameSave);
    CheckLossless->setObjectName(QStringLiteral("CheckLossless"));
    CheckLossless->setChecked(true); // re-encoding is a deliberate choice
    CmdBatchTag = fixedButton(QStringLiteral("Batch tag"), QStringLiteral("CmdBatchTag"), frameSave);
    CmdCheck = fixedButton(QStringLiteral("Check"), QStringLiteral("CmdCheck"), frameSave);
    CmdCheck->setToolTip(QStringLiteral("Show what the run will read and write, and what it will meet, without writing"));
    ProgressBarBatch = new QProgressBar(frameSave);
    ProgressBarBatch->setObjectName(QStringLiteral("ProgressBarBatch"));
    ProgressBarBatch->setRange(0, 0);
    ProgressBarBatch->setFormat(QStringLiteral("%v of %m"));
    hideKeepingSpace(ProgressBarBatch);
    CmdCancel = fixedButton(QStringLiteral("Cancel"), QStringLiteral("CmdCancel"), frameSave);
    CmdCancel->setToolTip(QStringLiteral("Stop after the image in hand"));
    hideKeepingSpace(CmdCancel);
    LabelRunSummary = new QLabel(frameSave);
    LabelRunSummary->setObjectName(QStringLiteral("LabelRunSummary"));
    LabelRunSummary->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    CmdShowProblems = fixedButton(QStringLiteral("Problems..."), QStringLiteral("CmdShowProblems"), frameSave);
    CmdShowProblems->setToolTip(QStringLiteral("Every line of the last run that was not saved in full"));
    hideKeepingSpace(CmdShowProblems);

    QMenu *CmdFile = menuBar()->addMenu(QStringLiteral("&File"));
    CmdFile->setObjectName(QStringLiteral("CmdFile"));
    CmdFileOpen = CmdFile->addAction(QStringLiteral("Open tab delimited IPTC text file"));
    CmdFileOpen->setObjectName(QStringLiteral("CmdFileOpen"));
    CmdFile->addSeparator()->setObjectName(QStringLiteral("CmdFileSeparator01"));
    CmdFileExit = CmdFile->addAction(QStringLiteral("Exit"));
    CmdFileExit->setObjectName(QStringLiteral("CmdFileExit"));
    QMenu *CmdSetup = menuBar()->addMenu(QStringLiteral("Setup"));
    CmdSetup->setObjectName(QStringLiteral("CmdSetup"));
    CmdSetupParsing = CmdSetup->addAction(QStringLiteral("Manage Field parsing"));
    CmdSetupParsing->setObjectName(QStringLiteral("CmdSetupParsing"));
    QMenu *CmdHelp = menuBar()->addMenu(QStringLiteral("Help"));
    CmdHelp->setObjectName(QStringLiteral("CmdHelp"));
    CmdHelpAbout = CmdHelp->addAction(QStringLiteral("About"));
    CmdHelpAbout->setObjectName(QStringLiteral("CmdHelpAbout"));

    connect(CmdBrowseImages, &QPushButton::clicked, this, &FormMain::CmdBrowseImages_Click);
    connect(CmdBrowseIPTCfile, &QPushButton::clicked, this, &FormMain::CmdBrowseIPTCfile_Click);
    connect(CmdManageParsing, &QPushButton::clicked, this, &FormMain::CmdManageParsing_Click);
    connect(CmdBrowseSave, &QPushButton::clicked, this, &FormMain::CmdBrowseSave_Click);
    connect(CmdBatchTag, &QPushButton::clicked, this, &FormMain::CmdBatchTag_Click);
    connect(CmdCheck, &QPushButton::clicked, this, &FormMain::CmdCheck_Click);
    connect(CmdCancel, &QPushButton::clicked, this, [this] { cancelRequested = true; });
    connect(CmdShowProblems, &QPushButton::clicked, this, &FormMain::CmdShowProblems_Click);
    connect(ComboParsing, &QComboBox::currentIndexChanged, this, &FormMain::ComboParsing_Click);
    connect(CmdFileOpen, &QAction::triggered, this, &FormMain::CmdBrowseIPTCfile_Click);
    connect(CmdFileExit, &QAction::triggered, this, &QWidget::close);
    connect(CmdSetupParsing, &QAction::triggered, this, &FormMain::CmdManageParsing_Click);
    connect(CmdHelpAbout, &QAction::triggered, this, &FormMain::CmdHelpAbout_Click);

    auto *imagesLayout = new QGridLayout(frameImages);
    imagesLayout->addWidget(LabelImagePath, 0, 0, 1, 2);
    imagesLayout->addWidget(CmdBrowseImages, 1, 1);
    imagesLayout->setColumnStretch(0, 1);

    auto *dataLayout = new QGridLayout(frameData);
    dataLayout->addWidget(LabelIPTCfilename, 0, 0, 1, 2);
    auto *infoLayout = new QHBoxLayout;
    infoLayout->addWidget(LabelIPTCinfo, 1);
    infoLayout->addWidget(LabelIPTCencoding);
    dataLayout->addLayout(infoLayout, 1, 0);
    dataLayout->addWidget(CmdBrowseIPTCfile, 1, 1);
    dataLayout->setColumnStretch(0, 1);

    auto *parsingLayout = new QHBoxLayout(frameParsing);
    parsingLayout->addWidget(ComboParsing, 1);
    parsingLayout->addWidget(CmdManageParsing);

    auto *saveLayout = new QGridLayout(frameSave);
    saveLayout->addWidget(LabelSavePath, 0, 0, 1, 4);
    saveLayout->addWidget(OptionReplace[0], 1, 0);
    saveLayout->addWidget(CmdBrowseSave, 1, 3);
    saveLayout->addWidget(OptionReplace[1], 2, 0);
    saveLayout->addWidget(Text1, 2, 1);
    saveLayout->addWidget(CmdCheck, 2, 2, Qt::AlignRight);
    saveLayout->addWidget(CmdBatchTag, 2, 3);
    saveLayout->addWidget(OptionReplace[2], 3, 0);
    saveLayout->addWidget(CheckLossless, 3, 1, 1, 3);
    saveLayout->addWidget(ProgressBarBatch, 4, 0, 1, 3);
    saveLayout->addWidget(CmdCancel, 4, 3);
    saveLayout->addWidget(LabelRunSummary, 5, 0, 1, 3);
    saveLayout->addWidget(CmdShowProblems, 5, 3);
    saveLayout->setColumnStretch(2, 1);

    auto *layout = new QVBoxLayout(central);
    layout->addWidget(frameImages);
    layout->addWidget(frameData);
    layout->addWidget(frameParsing);
    layout->addWidget(frameSave);
    layout->addStretch();
    setCentralWidget(central);

    SetTabChain({CmdBrowseImages, CmdBrowseIPTCfile, ComboParsing, CmdManageParsing, CmdBrowseSave, OptionReplace[0],
                 OptionReplace[1], Text1, OptionReplace[2], CmdCheck, CmdBatchTag, CmdCancel, CmdShowProblems});
    CmdBrowseImages->setFocus();

    setWindowTitle(MainWindowTitle);
    setWindowIcon(ApplicationIcon());
    resize(620, sizeHint().height());

    Form_Load();
}

FormMain::~FormMain() = default;

void FormMain::Form_Load()
{
    InitIptcTagKeys(state.IptcTagKeys);
    const SchemeStoreReport report = LoadSchemes(state.Schemes, store);
    FillSchemeList();
    if (!report.clean())
        ui.message(this, SchemeStoreReportText(report, store.location(), ListedProblems));
}

void FormMain::FillSchemeList()
{
    // With no scheme left the list must not keep names of schemes that are
    // gone, or a run would pick one of them.
    ComboParsing->clear();
    for (int i = 1; i <= state.Schemes.SchemeCount; ++i)
        ComboParsing->addItem(state.Schemes.Schemes.at(i).Name);
    ComboParsing->setCurrentIndex(state.Schemes.SchemeCount > 0 ? 0 : -1);
    state.SelectedScheme = ComboParsing->currentIndex();
}

void FormMain::ComboParsing_Click(int index)
{
    state.SelectedScheme = index;
}

void FormMain::CmdBrowseImages_Click()
{
    LabelImagePath->setPath(BrowseForFolder(this, ui).value_or(QString()));
    state.ImagePath = LabelImagePath->text();
}

void FormMain::CmdBrowseSave_Click()
{
    LabelSavePath->setPath(BrowseForFolder(this, ui).value_or(QString()));
    state.SavePath = LabelSavePath->text();
}

void FormMain::CmdBrowseIPTCfile_Click()
{
    const std::optional<QString> path = ui.chooseOpenFile(this, DataFileFilters);
    if (!path)
        return;
    // On failure the tables still hold the earlier file, and so does the label.
    const DataFileResult result = LoadDataFile(*path, state.Data);
    if (!result.loaded()) {
        ui.message(this, result.problem.kind() == Problem::Kind::MissingFile
                             ? MissingDataFileMessage
                             : QStringLiteral("Cannot read file %1:\n%2.")
                                   .arg(QDir::toNativeSeparators(*path), result.problem.text()));
        return;
    }
    LabelIPTCfilename->setPath(*path);
    LabelIPTCinfo->setText(result.summary);
    LabelIPTCencoding->setText(EncodingName(state.Data.Encoding));
}

void FormMain::CmdManageParsing_Click()
{
    ShowSchemeManager(this, state, store, ui);
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
    return options;
}

void FormMain::CmdCheck_Click()
{
    if (running)
        return;
    const BatchCheck check = CheckBatch(batch, state, chosenOptions());
    if (check.refused()) {
        ui.message(this, check.refusal.text());
        return;
    }
    FormCheck form(check, state.Data, this);
    ui.execDialog(form);
}

void FormMain::CmdBatchTag_Click()
{
    if (running)
        return;
    const BatchOptions options = chosenOptions();
    running = true;
    closeRequested = false;
    cancelRequested = false;
    setInputsEnabled(false);
    LabelRunSummary->clear();
    CmdShowProblems->setVisible(false);
    CmdCancel->setVisible(true);
    ProgressBarSink progress(ProgressBarBatch);
    const BatchResult result = BatchTag(batch, state, options, &progress, [this] {
        QCoreApplication::processEvents();
        return !closeRequested && !cancelRequested;
    });
    ProgressBarBatch->setVisible(false);
    CmdCancel->setVisible(false);
    setInputsEnabled(true);
    running = false;

    if (closeRequested) {
        close();
        return;
    }
    reportRun(result);
}

void FormMain::CmdShowProblems_Click()
{
    FormProblems form(LabelRunSummary->text(), problemLines, ui, this);
    ui.execDialog(form);
}

void FormMain::setInputsEnabled(bool enabled)
{
    for (QWidget *input : std::initializer_list<QWidget *>{CmdBrowseImages, CmdBrowseIPTCfile, ComboParsing,
                                                           CmdManageParsing, CmdBrowseSave, OptionReplace[0],
                                                           OptionReplace[1], Text1, CheckLossless, CmdCheck,
                                                           CmdBatchTag})
        input->setEnabled(enabled);
    for (QAction *action : {CmdFileOpen, CmdSetupParsing, CmdHelpAbout})
        action->setEnabled(enabled);
}

void FormMain::reportRun(const BatchResult &result)
{
    if (result.refused()) {
        ui.message(this, result.refusal.text());
        return;
    }
    problemLines = listProblems(result, state.Data);
    LabelRunSummary->setText(runSummary(result));
    CmdShowProblems->setVisible(!problemLines.isEmpty());
}

void FormMain::closeEvent(QCloseEvent *event)
{
    // Closing mid-run lets the image in hand be saved; the run then stops
    // and the window closes itself.
    if (running) {
        closeRequested = true;
        event->ignore();
        return;
    }
    event->accept();
}
