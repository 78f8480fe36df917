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
    if (!home.isValid())
        return 1;
    const QByteArray root = home.path().toUtf8();
    qputenv("HOME", root);
    qputenv("XDG_CONFIG_HOME", root + "/config");
    qputenv("XDG_DATA_HOME", root + "/data");
    qputenv("XDG_STATE_HOME", root + "/state");
    qputenv("XDG_CACHE_HOME", root + "/cache");
    if (!qEnvironmentVariableIsSet("VELL_SCREENSHOT_DIR"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // No desktop bus: nothing to find, and no stray bus started.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/vell-test-bus");

    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
