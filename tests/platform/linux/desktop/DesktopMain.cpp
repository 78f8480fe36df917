#include "WindowManager.h"

#include <QDir>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// The clipboard needs a GUI application object, so this suite has a main of
// its own; like the shared one it keeps HOME and the XDG folders in a
// temporary folder.
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
    qputenv("QT_QPA_PLATFORM", "xcb");

    QGuiApplication application(argc, argv);
    WindowManager windowManager;
    WindowManager::current = &windowManager;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
