#include "support/TemporaryHome.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// Every suite runs inside a Qt application object, so timers, sockets and
// queued signals work, and with HOME and the XDG folders in a temporary
// folder, so nothing a test does reaches the real home.
int main(int argc, char** argv)
{
    QTemporaryDir home;
    if (!useTemporaryHome(home))
        return 1;

    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
