#include "support/TemporaryHome.h"

#include <QTemporaryDir>

bool useTemporaryHome(const QTemporaryDir& home)
{
    if (!home.isValid())
        return false;
    const QByteArray root = home.path().toUtf8();
    qputenv("HOME", root);
    qputenv("XDG_CONFIG_HOME", root + "/config");
    qputenv("XDG_DATA_HOME", root + "/data");
    qputenv("XDG_STATE_HOME", root + "/state");
    qputenv("XDG_CACHE_HOME", root + "/cache");
    return true;
}
