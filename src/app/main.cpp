#include "app/versiontext.h"
#include "model/appstate.h"
#include "model/lastchoices.h"
#include "model/settingsstore.h"
#include "ui/formmain.h"
#include "ui/uiservices.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

namespace {
const char *const HelpText =
    "Usage:\n"
    "  brindleway [QT-OPTION]...\n"
    "  brindleway --help | --version\n"
    "\n"
    "Opens the Brindleway window, which writes IPTC and XMP metadata into tagged\n"
    "copies of a folder of images: one line of a tab-delimited data file per\n"
    "image, and a parsing scheme that names the column of each field. It starts\n"
    "with the folders, data file and scheme chosen last time. brindleway-batch does\n"
    "the same from the command line.\n"
    "\n"
    "Options:\n"
    "  -h, --help        print this text\n"
    "  --version         print the program's name, version, copyright and licence\n"
    "  QT-OPTION         an option every Qt program takes, such as -platform NAME\n"
    "                    (xcb, wayland or offscreen) or -style NAME\n"
    "\n"
    "Exit status: 0 when the window was closed, and after --help and --version.\n"
    "Without a display the window cannot open: Qt says so on standard error and\n"
    "the program ends with a status other than 0.\n"
    "\n"
    "Files:\n"
    "  ~/.config/Brindleway/Brindleway.ini\n"
    "                    the parsing schemes, shared with brindleway-batch; under\n"
    "                    $XDG_CONFIG_HOME/Brindleway when that is set\n"
    "  ~/.config/Brindleway/Brindleway.ini.bak\n"
    "                    the schemes as they were before the last save changed them\n"
    "  ~/.config/Brindleway/LastChoices.ini\n"
    "                    the folders, data file, scheme and options chosen last\n"
    "                    time, beside the schemes\n"
    "\n"
    "Examples:\n"
    "  Open the window:\n"
    "    brindleway\n"
    "  Open it with the Fusion style, whatever the desktop's:\n"
    "    brindleway -style Fusion\n";

// --help and --version are answered before QApplication is made, which
// needs a display; Qt's own options are left to it.
int answered(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(HelpText, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            PrintVersion("brindleway");
            return 0;
        }
    }
    return -1;
}
} // namespace

int main(int argc, char *argv[])
{
    if (const int status = answered(argc, argv); status >= 0)
        return status;
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
