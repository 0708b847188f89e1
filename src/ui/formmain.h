#pragma once

#include <QMainWindow>
#include <QStringList>

#include <array>
#include <memory>

class PathLabel;
class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class RegistryAccess;
class SettingsStore;
class UiServices;
struct AppState;
struct BatchOptions;
struct BatchResult;
struct BatchState;

inline const QString MainWindowTitle = QStringLiteral("Selvenor Brindleway");
inline const QString NoSchemesText =
    QStringLiteral("None available - click \"Manage parsing\" to create one or more schemes");

// The program's one window: folders, data file, scheme and the batch run.
class FormMain : public QMainWindow {
    Q_OBJECT
public:
    FormMain(AppState &state, BatchState &batch, SettingsStore &store, UiServices &ui, QWidget *parent = nullptr);
    ~FormMain() override;

    // Lists the schemes of state.Schemes and selects the first.
    void FillSchemeList();

    bool batchRunning() const { return running; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void Form_Load();
    void CmdBrowseImages_Click();
    void CmdBrowseSave_Click();
    void CmdBrowseIPTCfile_Click();
    void CmdManageParsing_Click();
    void CmdHelpAbout_Click();
    void CmdBatchTag_Click();
    void CmdCheck_Click();
    void CmdShowProblems_Click();
    void ComboParsing_Click(int index);

    void setInputsEnabled(bool enabled);
    void reportRun(const BatchResult &result);
    BatchOptions chosenOptions() const;

    AppState &state;
    BatchState &batch;
    SettingsStore &store;
    UiServices &ui;
    std::unique_ptr<RegistryAccess> registry;
    bool running = false;
    bool closeRequested = false;
    bool cancelRequested = false;
    QStringList problemLines; // the last run's, each naming its row and data line

    PathLabel *LabelImagePath;
    QPushButton *CmdBrowseImages;
    PathLabel *LabelIPTCfilename;
    QPushButton *CmdBrowseIPTCfile;
    QLabel *LabelIPTCinfo;
    QLabel *LabelIPTCencoding; // the encoding the data file was read in
    QComboBox *ComboParsing;
    QPushButton *CmdManageParsing;
    PathLabel *LabelSavePath;
    QPushButton *CmdBrowseSave;
    std::array<QRadioButton *, 3> OptionReplace;
    QLineEdit *Text1;
    QCheckBox *CheckLossless;
    QPushButton *CmdBatchTag;
    QPushButton *CmdCheck;
    QProgressBar *ProgressBarBatch;
    QPushButton *CmdCancel;
    QLabel *LabelRunSummary; // what the last run did, in one line
    QPushButton *CmdShowProblems;
    QAction *CmdFileOpen;
    QAction *CmdFileExit;
    QAction *CmdSetupParsing;
    QAction *CmdHelpAbout;
};
