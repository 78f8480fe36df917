#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

// These tests draw on a real X server (tests/support/with-desktop), so the
// QApplication uses the xcb platform. HOME and the XDG folders of this
// process point into a temporary folder.
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

    ::testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
