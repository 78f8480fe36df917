#include "WindowManager.h"

#include "platform/linux/XcbConnection.h"

#include <QTest>

#include <cstdlib>
#include <cstring>

WindowManager* WindowManager::current = nullptr;

namespace {

std::optional<xcb_window_t> supportingCheck(XcbConnection& x, xcb_window_t window)
{
    xcb_connection_t* c = x.get();
    const char name[] = "_NET_SUPPORTING_WM_CHECK";
    auto* atom = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, strlen(name), name), nullptr);
    if (!atom)
        return std::nullopt;
    auto* reply = xcb_get_property_reply(c, xcb_get_property(c, 0, window, atom->atom, XCB_ATOM_WINDOW, 0, 1), nullptr);
    free(atom);
    std::optional<xcb_window_t> result;
    if (reply && xcb_get_property_value_length(reply) == 4)
        result = *static_cast<xcb_window_t*>(xcb_get_property_value(reply));
    free(reply);
    return result;
}

} // namespace

WindowManager::~WindowManager()
{
    if (m_started) {
        m_started->terminate();
        m_started->waitForFinished(3000);
    }
}

bool WindowManager::isRunning()
{
    auto x = XcbConnection::open();
    if (!x)
        return false;
    const auto check = supportingCheck(*x, x->root());
    return check && supportingCheck(*x, *check) == check;
}

bool WindowManager::stop()
{
    if (QProcess::execute(QStringLiteral("openbox"), {QStringLiteral("--exit")}) != 0)
        return false;
    return QTest::qWaitFor([] { return !isRunning(); }, 5000);
}

bool WindowManager::start()
{
    if (m_started) {
        m_started->terminate();
        m_started->waitForFinished(3000);
    }
    m_started = std::make_unique<QProcess>();
    m_started->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_started->start(QStringLiteral("openbox"), {});
    return QTest::qWaitFor([] { return isRunning(); }, 5000);
}
