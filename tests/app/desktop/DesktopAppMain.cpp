#include "support/TemporaryHome.h"

#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// These tests draw on a real X server (tests/support/with-desktop), so the
// QApplication uses the xcb platform. HOME and the XDG folders of this
// process point into a temporary folder.
int main(int argc, char** argv)
{
    QTemporaryDir home;
    if (!useTemporaryHome(home))
        return 1;
    qputenv("QT_QPA_PLATFORM", "xcb");

    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
