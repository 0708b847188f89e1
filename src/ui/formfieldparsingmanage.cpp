#include "ui/formfieldparsingmanage.h"

#include "model/appstate.h"
#include "model/schemestore.h"
#include "model/settingsstore.h"
#include "ui/formfieldparsing.h"
#include "ui/uiservices.h"

#include "ui/tabchain.h"
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

QString SchemesNotSavedMessage(const QString &location, const QString &reason)
{
    return QStringLiteral("The parsing schemes could not be saved to %1.%2\n"
                          "They are still open here: choose OK again once the file can be written, or Cancel.")
        .arg(QDir::toNativeSeparators(location), reason.isEmpty() ? QString() : QLatin1Char('\n') + reason);
}

QString SchemeLossQuestion(const QString &location, const QStringList &losses)
{
    constexpr int Listed = 10;
    QStringList listed = losses.mid(0, Listed);
    if (losses.size() > Listed)
        listed << QStringLiteral("... and %1 more.").arg(losses.size() - Listed);
    return QStringLiteral("Saving the parsing schemes to %1 would overwrite what this program did not read there:\n"
                          "%2\nThe file as it is now will be kept as %1.bak.\nSave anyway?")
        .arg(QDir::toNativeSeparators(location), listed.join(QLatin1Char('\n')));
}

FormFieldParsingManage::FormFieldParsingManage(AppState &state, SettingsStore &store, UiServices &ui,
                                               QWidget *parent)
    : NoDefaultDialog(parent), state(state), store(store), ui(ui), schemesAtOpen(state.Schemes),
      windowScheme(state.SelectedScheme + 1)
{
    setObjectName(QStringLiteral("FormFieldParsingManage"));

    Label1 = new QLabel(QStringLiteral("Field parsing &schemes"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    List1 = new QListWidget(this);
    List1->setObjectName(QStringLiteral("List1"));
    List1->setSelectionMode(QAbstractItemView::SingleSelection);
    List1->setSortingEnabled(false);
    Label1->setBuddy(List1);
    CmdAddSheme = plainButton(QStringLiteral("&Add new"), QStringLiteral("CmdAddSheme"));
    CmdEditScheme = plainButton(QStringLiteral("&Edit"), QStringLiteral("CmdEditScheme"));
    CmdDeleteSheme = plainButton(QStringLiteral("&Delete"), QStringLiteral("CmdDeleteSheme"));
    CmdCancel = plainButton(QStringLiteral("&Cancel"), QStringLiteral("CmdCancel"));
    CmdOK = plainButton(QStringLiteral("&OK"), QStringLiteral("CmdOK"));
    const QList<QPushButton *> buttonRow{CmdAddSheme, CmdEditScheme, CmdDeleteSheme, CmdCancel, CmdOK};

    connect(CmdAddSheme, &QPushButton::clicked, this, &FormFieldParsingManage::CmdAddSheme_Click);
    connect(CmdEditScheme, &QPushButton::clicked, this, &FormFieldParsingManage::CmdEditScheme_Click);
    connect(CmdDeleteSheme, &QPushButton::clicked, this, &FormFieldParsingManage::CmdDeleteSheme_Click);
    connect(CmdCancel, &QPushButton::clicked, this, &FormFieldParsingManage::CmdCancel_Click);
    connect(CmdOK, &QPushButton::clicked, this, &FormFieldParsingManage::CmdOK_Click);
    connect(List1, &QListWidget::itemDoubleClicked, this, &FormFieldParsingManage::CmdEditScheme_Click);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addWidget(List1, 1);
    auto *buttons = new QHBoxLayout;
    for (QPushButton *button : buttonRow)
        buttons->addWidget(button);
    layout->addLayout(buttons);

    SetTabChain({List1, CmdAddSheme, CmdEditScheme, CmdDeleteSheme, CmdCancel, CmdOK});

    setWindowTitle(QStringLiteral("Manage parsing schemes"));

    SchemeTable stored;
    LoadSchemes(stored, store);
    storedSchemeCount = stored.SchemeCount;

    Form_Load();
    List1->setFocus();
}

void FormFieldParsingManage::reject()
{
    CmdCancel_Click();
}

void FormFieldParsingManage::SetButtonVisibility()
{
    CmdDeleteSheme->setVisible(state.Schemes.SchemeCount != 0);
}

void FormFieldParsingManage::ListParsings(int number)
{
    const SchemeTable &table = state.Schemes;
    if (table.SchemeCount < 1)
        return;
    List1->clear();
    for (int i = 1; i <= table.SchemeCount; ++i)
        List1->addItem(table.Schemes[i].Name);
    List1->setCurrentRow(std::clamp(number, 1, table.SchemeCount) - 1);
}

bool FormFieldParsingManage::SaveParsings(const LossConsent &consent)
{
    // Sections that held schemes deleted since the opening would otherwise
    // be read back at the next start; sections beyond those stay untouched.
    const int known = std::min(storedSchemeCount, schemesAtOpen.SchemeCount);
    const int removed = std::max(0, known - state.Schemes.SchemeCount);
    return ::SaveParsings(state.Schemes, store, removed, consent);
}

void FormFieldParsingManage::Form_Load()
{
    if (state.Schemes.SchemeCount == 0)
        CmdAddSheme_Click();
    ListParsings(windowScheme);
    SetButtonVisibility();
}

void FormFieldParsingManage::CmdAddSheme_Click()
{
    SchemeTable &table = state.Schemes;
    table.Schemes[0].Name.clear();
    FormFieldParsing editor(state, ui, this);
    ui.execDialog(editor);
    // The editor refuses an empty name, so one still empty means it was cancelled.
    if (table.Schemes[0].Name.isEmpty())
        return;
    table.Schemes.append(table.Schemes[0]);
    table.SchemeCount = int(table.Schemes.size()) - 1;
    ListParsings(table.SchemeCount);
    SetButtonVisibility();
}

int FormFieldParsingManage::selectedScheme() const
{
    const int i = List1->currentRow() + 1;
    return i >= 1 && i <= state.Schemes.SchemeCount ? i : 0;
}

void FormFieldParsingManage::CmdEditScheme_Click()
{
    const int i = selectedScheme();
    if (i == 0)
        return;
    SchemeTable &table = state.Schemes;
    table.Schemes[0] = table.Schemes[i];
    FormFieldParsing editor(state, ui, this);
    ui.execDialog(editor);
    table.Schemes[i] = table.Schemes[0];
    ListParsings(i);
}

void FormFieldParsingManage::CmdDeleteSheme_Click()
{
    const int i = selectedScheme();
    if (i == 0)
        return;
    SchemeTable &table = state.Schemes;
    table.Schemes.removeAt(i);
    table.SchemeCount = int(table.Schemes.size()) - 1;
    windowScheme = windowScheme == i ? 0 : windowScheme - (windowScheme > i ? 1 : 0);
    // ListParsings keeps the list as it is when no scheme is left.
    if (table.SchemeCount == 0)
        List1->clear();
    // Deleting another scheme must not move the selection off the window's;
    // with the window's gone, the first is selected, as the window would.
    ListParsings(windowScheme);
    SetButtonVisibility();
}

void FormFieldParsingManage::CmdOK_Click()
{
    bool declined = false;
    const auto consent = [&](const QStringList &losses) {
        declined = !ui.ask(this, SchemeLossQuestion(store.location(), losses));
        return !declined;
    };
    if (!SaveParsings(consent)) {
        if (!declined)
            ui.message(this, SchemesNotSavedMessage(store.location(), store.lastError()));
        return;
    }
    state.SelectedScheme = state.Schemes.SchemeCount > 0 ? List1->currentRow() : -1;
    accept();
}

void FormFieldParsingManage::CmdCancel_Click()
{
    state.Schemes = schemesAtOpen;
    QDialog::reject();
}

bool ShowSchemeManager(QWidget *parent, AppState &state, SettingsStore &store, UiServices &ui)
{
    FormFieldParsingManage manager(state, store, ui, parent);
    return ui.execDialog(manager) == QDialog::Accepted;
}
