#include "platform/linux/AtspiAccessibility.h"

#include "storage/VellLog.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QList>
#include <QString>

#include <atspi/atspi.h>

#include <memory>
#include <vector>

namespace {

struct Unref
{
    void operator()(gpointer object) const { g_object_unref(object); }
};
using Object = std::unique_ptr<AtspiAccessible, Unref>;

// libatspi keeps one bus connection per process and aborts the process on any
// call after a failed start, so the first answer is kept and obeyed.
bool atspiStarted()
{
    static const bool started = [] {
        if (atspi_init() > 1) {
            VellLog::insert().info(QStringLiteral("no accessibility bus; the text before the caret is unknown"));
            return false;
        }
        const int timeout = int(AtspiAccessibility::kCallTimeout.count());
        atspi_set_timeout(timeout, timeout);
        return true;
    }();
    return started;
}

// Calls report failure through a GError that must be freed; the answer is unusable then.
class Error
{
public:
    ~Error() { g_clear_error(&m_error); }
    GError** out()
    {
        g_clear_error(&m_error);
        return &m_error;
    }
    bool isSet() const { return m_error != nullptr; }

private:
    GError* m_error = nullptr;
};

bool hasState(AtspiAccessible* object, AtspiStateType state)
{
    std::unique_ptr<AtspiStateSet, Unref> states(atspi_accessible_get_state_set(object));
    return states && atspi_state_set_contains(states.get(), state);
}

std::vector<Object> children(AtspiAccessible* object, const QDeadlineTimer& deadline)
{
    std::vector<Object> result;
    Error error;
    const gint count = atspi_accessible_get_child_count(object, error.out());
    for (gint i = 0; !error.isSet() && i < count && !deadline.hasExpired(); ++i)
        if (Object child{atspi_accessible_get_child_at_index(object, i, error.out())})
            result.push_back(std::move(child));
    return result;
}

std::unique_ptr<AtspiText, Unref> textOf(AtspiAccessible* object)
{
    return std::unique_ptr<AtspiText, Unref>(atspi_accessible_get_text_iface(object));
}

// Children a list that manages its descendants may have before it counts as
// endless: such lists create them on demand. Documents are such lists too,
// with a handful of paragraphs showing.
constexpr gint kManyChildren = 200;

// Parts of a window that never hold the text caret.
bool holdsNoCaret(AtspiAccessible* object)
{
    Error error;
    const AtspiRole role = atspi_accessible_get_role(object, error.out());
    return !error.isSet() && (role == ATSPI_ROLE_MENU_BAR || role == ATSPI_ROLE_MENU || role == ATSPI_ROLE_TOOL_BAR ||
                              role == ATSPI_ROLE_STATUS_BAR);
}

// Editable text with the caret inside it, past its start.
bool hasCaretInside(AtspiAccessible* object)
{
    const auto text = textOf(object);
    if (!text || !hasState(object, ATSPI_STATE_EDITABLE))
        return false;
    Error error;
    return atspi_text_get_caret_offset(text.get(), error.out()) > 0 && !error.isSet();
}

// The focused text element below `application`, searched depth first through
// what is showing. Where the focus is on a window that holds no text itself
// (LibreOffice's paragraphs never take it), the editable text below it that
// holds the caret stands in.
Object focusedElement(Object application, const QDeadlineTimer& deadline)
{
    struct Pending
    {
        Object object;
        bool belowFocus = false;
    };
    std::vector<Pending> pending;
    pending.push_back({std::move(application)});
    bool isRoot = true;
    while (!pending.empty() && !deadline.hasExpired()) {
        auto [object, belowFocus] = std::move(pending.back());
        pending.pop_back();
        if (!isRoot) {
            const bool focused = hasState(object.get(), ATSPI_STATE_FOCUSED);
            if (focused && textOf(object.get()))
                return std::move(object);
            if (belowFocus && hasCaretInside(object.get()))
                return std::move(object);
            belowFocus = belowFocus || focused;
            // Hidden parts cannot hold the focus.
            if (!hasState(object.get(), ATSPI_STATE_SHOWING) || holdsNoCaret(object.get()))
                continue;
            if (hasState(object.get(), ATSPI_STATE_MANAGES_DESCENDANTS)) {
                Error error;
                if (atspi_accessible_get_child_count(object.get(), error.out()) > kManyChildren || error.isSet())
                    continue;
            }
        }
        isRoot = false;
        std::vector<Object> below = children(object.get(), deadline);
        for (auto it = below.rbegin(); it != below.rend(); ++it)
            pending.push_back({std::move(*it), belowFocus});
    }
    return nullptr;
}

std::optional<char32_t> characterBefore(AtspiAccessible* element)
{
    const auto text = textOf(element);
    if (!text)
        return std::nullopt;
    Error error;
    const gint caret = atspi_text_get_caret_offset(text.get(), error.out());
    if (error.isSet() || caret < 1)
        return std::nullopt;
    // Offsets count characters, not bytes.
    std::unique_ptr<gchar, decltype(&g_free)> before(atspi_text_get_text(text.get(), caret - 1, caret, error.out()),
                                                     &g_free);
    if (error.isSet() || !before)
        return std::nullopt;
    const QList<uint> codePoints = QString::fromUtf8(before.get()).toUcs4();
    if (codePoints.isEmpty())
        return std::nullopt;
    return char32_t(codePoints.back());
}

bool isPasswordField(AtspiAccessible* element)
{
    Error error;
    return atspi_accessible_get_role(element, error.out()) == ATSPI_ROLE_PASSWORD_TEXT && !error.isSet();
}

// The focused element of the application with process id `pid`, if it answers in time.
Object focusedElementOf(qint32 pid)
{
    // This program cannot answer its own calls while it waits for them.
    if (pid <= 0 || pid == QCoreApplication::applicationPid() || !atspiStarted())
        return nullptr;
    const QDeadlineTimer deadline(AtspiAccessibility::kSearchLimit);
    Object desktop{atspi_get_desktop(0)};
    if (!desktop)
        return nullptr;
    for (Object& application : children(desktop.get(), deadline)) {
        Error error;
        if (atspi_accessible_get_process_id(application.get(), error.out()) != guint(pid) || error.isSet())
            continue;
        return focusedElement(std::move(application), deadline);
    }
    return nullptr;
}

} // namespace

AtspiAccessible* AtspiAccessibility::focusedElement(qint32 pid)
{
    if (m_focused && m_focusedPid == pid && hasState(m_focused.get(), ATSPI_STATE_FOCUSED))
        return static_cast<AtspiAccessible*>(g_object_ref(m_focused.get()));
    Object found = focusedElementOf(pid);
    m_focusedPid = pid;
    if (found)
        m_focused.reset(static_cast<AtspiAccessible*>(g_object_ref(found.get())), Unref());
    else
        m_focused.reset();
    return found.release();
}

std::optional<char32_t> AtspiAccessibility::characterBeforeCaret(qint32 pid)
{
    const Object element{focusedElement(pid)};
    if (!element || isPasswordField(element.get()))
        return std::nullopt;
    return characterBefore(element.get());
}

std::optional<RunningApplication> AtspiAccessibility::activeApplication()
{
    if (!atspiStarted())
        return std::nullopt;
    const QDeadlineTimer deadline(kSearchLimit);
    Object desktop{atspi_get_desktop(0)};
    if (!desktop)
        return std::nullopt;
    for (Object& application : children(desktop.get(), deadline)) {
        Error error;
        const guint pid = atspi_accessible_get_process_id(application.get(), error.out());
        if (error.isSet() || pid == 0 || qint64(pid) == QCoreApplication::applicationPid())
            continue;
        for (const Object& window : children(application.get(), deadline)) {
            if (!hasState(window.get(), ATSPI_STATE_ACTIVE))
                continue;
            std::unique_ptr<gchar, decltype(&g_free)> name(atspi_accessible_get_name(application.get(), error.out()),
                                                           &g_free);
            const QString appName = name && !error.isSet() ? QString::fromUtf8(name.get()) : QString();
            const std::optional<QString> known = appName.isEmpty() ? std::nullopt : std::optional(appName);
            return RunningApplication{qint32(pid), known, known};
        }
    }
    return std::nullopt;
}

bool AtspiAccessibility::isPasswordFieldFocused(qint32 pid)
{
    const Object element{focusedElement(pid)};
    return element && isPasswordField(element.get());
}
