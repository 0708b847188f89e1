#pragma once

#include "model/parsingscheme.h"
#include "model/settingsstore.h"

#include "ui/nodefaultdialog.h"

class QLabel;
class QListWidget;
class QPushButton;
class QWidget;
class UiServices;
struct AppState;

// Lists the schemes by name; adds, edits and deletes them in memory through
// the scheme editor, and writes them all to the store on OK. It opens with
// the main window's scheme selected, and OK makes the scheme selected then
// the window's. Cancel puts the schemes back as they were when the dialog
// opened and leaves the window's choice alone.
class FormFieldParsingManage : public NoDefaultDialog {
    Q_OBJECT

public:
    FormFieldParsingManage(AppState &state, SettingsStore &store, UiServices &ui, QWidget *parent = nullptr);

    void reject() override;

private:
    void SetButtonVisibility();
    // Fills the list and selects scheme `number` (1-based): the first for 0,
    // the last when there are fewer.
    void ListParsings(int number);
    bool SaveParsings(const LossConsent &consent);
    // The number of the scheme selected in the list; 0 when none is.
    int selectedScheme() const;

    void Form_Load();
    void CmdAddSheme_Click();
    void CmdEditScheme_Click();
    void CmdDeleteSheme_Click();
    void CmdOK_Click();
    void CmdCancel_Click();

    AppState &state;
    SettingsStore &store;
    UiServices &ui;
    QLabel *Label1 = nullptr;
    QListWidget *List1 = nullptr;
    QPushButton *CmdAddSheme = nullptr;
    QPushButton *CmdEditScheme = nullptr;
    QPushButton *CmdDeleteSheme = nullptr;
    QPushButton *CmdCancel = nullptr;
    QPushButton *CmdOK = nullptr;

    SchemeTable schemesAtOpen;
    // The main window's scheme, followed through deletions; 0 once deleted.
    int windowScheme = 0;
    // Schemes the store would load back at the next start, counted at opening.
    int storedSchemeCount = 0;
};

// Opens the scheme manager modally on state.Schemes; its OK writes the store
// and sets state.SelectedScheme. True when it closed with OK.
bool ShowSchemeManager(QWidget *parent, AppState &state, SettingsStore &store, UiServices &ui);

QString SchemesNotSavedMessage(const QString &location, const QString &reason = {});
// Asks before a save overwrites what the store holds but never loaded.
QString SchemeLossQuestion(const QString &location, const QStringList &losses);
