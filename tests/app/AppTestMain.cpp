#include "support/TemporaryHome.h"

#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <vector>

// Widgets need a QApplication. It runs on the offscreen platform, chosen by
// argument rather than environment so that the real binary, which some
// tests start, still finds the X server. HOME and the XDG folders point into
// a temporary folder, as in every suite.
int main(int argc, char** argv)
{
    QTemporaryDir home;
    if (!useTemporaryHome(home))
        return 1;

    ::testing::InitGoogleTest(&argc, argv);
    std::vector<char*> arguments(argv, argv + argc);
    char platform[] = "-platform";
    char offscreen[] = "offscreen";
    arguments.push_back(platform);
    arguments.push_back(offscreen);
    int count = int(arguments.size());
    QApplication application(count, arguments.data());
    return RUN_ALL_TESTS();
}
