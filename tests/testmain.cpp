#include <gtest/gtest.h>

#include <QApplication>

// Tests never need a display: widgets render offscreen.
int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (qEnvironmentVariableIsEmpty("BRINDLEWAY_BUILD_DIR"))
        qputenv("BRINDLEWAY_BUILD_DIR", BRINDLEWAY_DEFAULT_BUILD_DIR);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
