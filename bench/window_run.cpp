#include "model/appstate.h"
#include "model/lastchoices.h"
#include "model/settingsstore.h"
#include "ui/formmain.h"
#include "ui/uiservices.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>

// One batch run in the window, as a user starts it with the choices of the
// last session (LastChoices.ini and the schemes under XDG_CONFIG_HOME):
// prints the CPU seconds of the window's main thread from the click to the
// run's end, and the run's wall seconds, so bench/batch can set what the
// window adds to a run against brindleway-batch's main thread. Both put
// their outputs in place on a thread of their own, which does the same in
// either and is left out of both.
//   window_run [--startup-only] [QT-OPTION]...
namespace {
// A message would wait for a click that never comes: it is printed, and the run counts as failed.
class PrintingUi : public QtUiServices {
public:
    int messages = 0;
    void message(QWidget *, const QString &text) override
    {
        ++messages;
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    }
    bool ask(QWidget *parent, const QString &text) override
    {
        message(parent, text);
        return false;
    }
};

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    const auto seconds = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}
} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    AppState state;
    IniSettingsStore store;
    IniSettingsStore choices(LastChoicesLocation(), IniSettingsStore::Backup::None);
    PrintingUi ui;
    FormMain window(state, store, choices, ui);
    window.show();
    auto *start = window.findChild<QPushButton *>(QStringLiteral("CmdBatchTag"));
    auto *summary = window.findChild<QLabel *>(QStringLiteral("LabelRunSummary"));
    if (!start || !summary)
        return 2;
    QElapsedTimer clock;
    double cpuBefore = 0;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &app, [&] {
        if (!window.batchRunning())
            app.quit();
    });
    // Without a run, what the window costs to open and close, for bench/batch to take off.
    const bool startupOnly = app.arguments().contains(QStringLiteral("--startup-only"));
    QTimer::singleShot(0, &app, [&] {
        if (startupOnly) {
            app.quit();
            return;
        }
        cpuBefore = cpuSeconds();
        clock.start();
        start->click();
        poll.start(20);
    });
    app.exec();
    const double wall = double(clock.nsecsElapsed()) / 1e9;
    const double cpu = cpuSeconds() - cpuBefore;
    std::printf("window-cpu %.3f wall %.3f\n%s\n", cpu, wall, qPrintable(summary->text()));
    return ui.messages == 0 ? 0 : 1;
}
