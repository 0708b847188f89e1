#include "ui/formfieldparsingmanage.h"

#include "ui/uiservices.h"

// Stand-in until the scheme dialogs arrive.
void ShowSchemeManager(QWidget *parent, AppState &, SettingsStore &, UiServices &ui)
{
    ui.message(parent, QStringLiteral("The scheme manager is not yet available."));
}
