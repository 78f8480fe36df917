#include <QCoreApplication>

#include <gtest/gtest.h>

// Every suite runs inside a Qt application object, so timers, sockets and
// queued signals work.
int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
