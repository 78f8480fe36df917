#pragma once

#include <QProcess>
#include <QString>

// Sets a keyboard layout on the test's X server for the life of the object,
// and the US one back after it, also when the test fails.
class KeyboardLayout
{
public:
    explicit KeyboardLayout(const QString& name) { set(name); }
    ~KeyboardLayout() { set(QStringLiteral("us")); }
    KeyboardLayout(const KeyboardLayout&) = delete;
    KeyboardLayout& operator=(const KeyboardLayout&) = delete;

    static void set(const QString& name) { QProcess::execute(QStringLiteral("setxkbmap"), {name}); }
};
