#include "fakeuiservices.h"
#include "ui/formabout.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>

// Where no registry holds the System Information tool, the button says so
// rather than doing nothing; the version shown is the project's.
TEST(FormAbout, SystemInfoIsReportedUnavailableWithoutARegistry)
{
    FakeUiServices ui;
    NoRegistry none;
    FormAbout about(ui, none);
    about.findChild<QPushButton *>("cmdSysInfo")->click();
    EXPECT_EQ(ui.messages, QStringList{SysInfoUnavailableMessage});
    EXPECT_TRUE(ui.startedPrograms.isEmpty());
    EXPECT_EQ(about.findChild<QLabel *>("lblVersion")->text(), "Version " BRINDLEWAY_VERSION);
}
