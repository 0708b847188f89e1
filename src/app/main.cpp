#include "model/appstate.h"
#include "model/lastchoices.h"
#include "model/settingsstore.h"
#include "ui/formmain.h"
#include "ui/uiservices.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(ApplicationTitle);
    QApplication::setApplicationVersion(QStringLiteral(BRINDLEWAY_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("brindleway"));

    AppState state;
    IniSettingsStore store;
    IniSettingsStore choices(LastChoicesLocation(), IniSettingsStore::Backup::None);
    QtUiServices ui;
    FormMain window(state, store, choices, ui);
    window.show();
    return app.exec();
}
