#include "WindowManager.h"
#include "support/TemporaryHome.h"

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
    if (!useTemporaryHome(home))
        return 1;
    qputenv("QT_QPA_PLATFORM", "xcb");

    QGuiApplication application(argc, argv);
    WindowManager windowManager;
    WindowManager::current = &windowManager;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
