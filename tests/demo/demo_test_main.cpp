// Test entry for the demo's tests: one application object per process, as in
// the program, then the GoogleTest runner.
#include <cstdlib>

#include <gtest/gtest.h>
#include <QApplication>

int main(int argc, char **argv)
{
    // ctest sets the offscreen platform; test discovery at build time does not.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
