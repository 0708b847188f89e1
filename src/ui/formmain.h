#pragma once

#include "model/lastchoices.h"
#include "ui/formproblems.h"

#include <QMainWindow>
#include <QStringList>

#include <array>
#include <memory>
#include <utility>

class BatchChecker;
class BatchRunner;
class PathLabel;
class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTimer;
class RegistryAccess;
class SettingsStore;
class TagExporter;
class UiServices;
struct AppState;
struct BatchCheck;
struct BatchOptions;
struct BatchResult;
struct ExportResult;

inline const QString MainWindowTitle = QStringLiteral("Selvenor Brindleway");
inline const QString NoSchemesText =
    QStringLiteral("None available - click \"Manage parsing\" to create one or more schemes");

// The program's one window: folders, data file, scheme and the batch run.
// It starts with the choices of the last session that still hold, read from
// `choicesStore`, and writes them back there when it closes.
class FormMain : public QMainWindow {
    Q_OBJECT
public:
    FormMain(AppState &state, SettingsStore &store, SettingsStore &choicesStore, UiServices &ui, QWidget *parent = nullptr);
    ~FormMain() override;

    // Lists the schemes of state.Schemes and selects state.SelectedScheme,
    // or the first when that is out of range.
    void FillSchemeList();

    // Whether a batch run or an export is under way.
    bool batchRunning() const;

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void Form_Load();
    void restoreChoices();
    void saveChoices();
    void setImageFolder(const QString &path);
    void setSaveFolder(const QString &path);
    // Reads `path` in the chosen encoding; on failure says why (unless
    // `quietly`) and keeps the file read before.
    bool openDataFile(const QString &path, bool quietly = false);
    // A data file the user picked or dropped: read as its bytes show, unless it is the one open.
    bool openChosenDataFile(const QString &path);
    void ComboEncoding_Activated(int index);
    // A run's end line and problems no longer describe the inputs once one changes.
    void clearRunReport();
    // Beside the data file: its name with `what` and .txt, for Save as text.
    QString suggestedFile(const QString &what) const;
    void CmdBrowseImages_Click();
    void CmdBrowseSave_Click();
    void CmdBrowseIPTCfile_Click();
    void CmdManageParsing_Click();
    void CmdHelpAbout_Click();
    void CmdBatchTag_Click();
    void CmdCheck_Click();
    void CmdShowProblems_Click();
    // Reads a folder's tags into a new data file and scheme, which then become the window's.
    void CmdFileExport_Click();
    void exportFinished(const ExportResult &result);
    void ComboParsing_Click(int index);

    void setInputsEnabled(bool enabled);
    void showRunning(bool running);
    void showProgress(int done, int lines);
    void drawProgress();
    void runFinished(const BatchResult &result);
    void checkFinished(const BatchCheck &check);
    void reportRun(const BatchResult &result);
    BatchOptions chosenOptions() const;

    AppState &state;
    SettingsStore &store;
    SettingsStore &choicesStore;
    UiServices &ui;
    std::unique_ptr<RegistryAccess> registry;
    BatchRunner *runner;
    TagExporter *exporter;
    BatchChecker *checker;
    QString exportFolder; // the folder of the export under way
    QTimer *progressFrame;                  // a frame during which later progress waits
    std::pair<int, int> pendingProgress;    // lines done and lines, the latest told
    bool closeRequested = false; // the window closes once the run has finished the lines in hand
    QList<ProblemGroup> problemLines; // the last run's, each naming its row, by kind
    // As chosen last, in this session or an earlier one, even where a path
    // is gone for now: a drive plugged in tomorrow brings its folder back.
    LastChoices remembered;
    QString dataFile;     // the file the tables hold
    QString startMessage; // about the scheme store, shown once the window is up
    int encodingIndex = 0; // the chooser's entry the data file was read in

    PathLabel *LabelImagePath;
    QPushButton *CmdBrowseImages;
    PathLabel *LabelIPTCfilename;
    QPushButton *CmdBrowseIPTCfile;
    QLabel *LabelIPTCinfo;
    QComboBox *ComboEncoding;
    QLabel *LabelIPTCencoding; // the encoding the data file was read in
    QComboBox *ComboParsing;
    QPushButton *CmdManageParsing;
    QGroupBox *FrameSave;
    PathLabel *LabelSavePath;
    QPushButton *CmdBrowseSave;
    std::array<QRadioButton *, 3> OptionReplace;
    QLineEdit *Text1;
    QCheckBox *CheckLossless;
    QCheckBox *CheckSkipExisting;
    QPushButton *CmdBatchTag;
    QPushButton *CmdCheck;
    QProgressBar *ProgressBarBatch;
    QPushButton *CmdCancel;
    QLabel *LabelRunSummary; // what the last run did, in one line
    QPushButton *CmdShowProblems;
    QAction *CmdFileOpen;
    QAction *CmdFileExport;
    QAction *CmdFileExit;
    QAction *CmdSetupParsing;
    QAction *CmdHelpAbout;
};
