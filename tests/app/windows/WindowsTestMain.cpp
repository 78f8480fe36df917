#include "support/TemporaryHome.h"

#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// The windows run in a real application object, on the offscreen platform
// unless screenshots are wanted (then on the X server the wrapper started),
// with HOME and the XDG folders in a temporary folder, so nothing a test
// does reaches the real home.
int main(int argc, char** argv)
{
    QTemporaryDir home;
    if (!useTemporaryHome(home))
        return 1;
    if (!qEnvironmentVariableIsSet("VELL_SCREENSHOT_DIR"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // No desktop bus: nothing to find, and no stray bus started.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/vell-test-bus");

    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
