#include "AccessibleText.h"

#include <QDeadlineTimer>
#include <QStringList>

#include <atspi/atspi.h>

#include <chrono>
#include <memory>
#include <vector>

namespace {

using namespace std::chrono_literals;

constexpr std::chrono::milliseconds kCallTimeout = 2s;
constexpr std::chrono::milliseconds kSearchLimit = 10s;
constexpr gint kManyChildren = 200;

struct Unref
{
    void operator()(gpointer object) const { g_object_unref(object); }
};
using Object = std::unique_ptr<AtspiAccessible, Unref>;

bool atspiStarted()
{
    static const bool started = [] {
        if (atspi_init() > 1)
            return false;
        atspi_set_timeout(int(kCallTimeout.count()), int(kCallTimeout.count()));
        return true;
    }();
    return started;
}

bool hasState(AtspiAccessible* object, AtspiStateType state)
{
    std::unique_ptr<AtspiStateSet, Unref> states(atspi_accessible_get_state_set(object));
    return states && atspi_state_set_contains(states.get(), state);
}

gint childCount(AtspiAccessible* object)
{
    GError* error = nullptr;
    const gint count = atspi_accessible_get_child_count(object, &error);
    g_clear_error(&error);
    return count;
}

std::vector<Object> children(AtspiAccessible* object)
{
    std::vector<Object> result;
    GError* error = nullptr;
    const gint count = childCount(object);
    // A child that cannot be had is skipped: its siblings may still answer.
    for (gint i = 0; i < count; ++i) {
        if (Object child{atspi_accessible_get_child_at_index(object, i, &error)})
            result.push_back(std::move(child));
        g_clear_error(&error);
    }
    return result;
}

// Depth first through what is showing, the first element that `matches`.
template <typename Predicate> Object find(Object application, Predicate matches)
{
    const QDeadlineTimer deadline(kSearchLimit);
    std::vector<Object> pending;
    for (Object& window : children(application.get()))
        pending.push_back(std::move(window));
    while (!pending.empty() && !deadline.hasExpired()) {
        Object object = std::move(pending.back());
        pending.pop_back();
        if (matches(object.get()))
            return object;
        if (!hasState(object.get(), ATSPI_STATE_SHOWING))
            continue;
        // Lists that manage their descendants may be endless; but Qt marks
        // whole windows so, and those must be searched.
        if (hasState(object.get(), ATSPI_STATE_MANAGES_DESCENDANTS) && childCount(object.get()) > kManyChildren)
            continue;
        std::vector<Object> below = children(object.get());
        for (auto it = below.rbegin(); it != below.rend(); ++it)
            pending.push_back(std::move(*it));
    }
    return nullptr;
}

Object applicationOf(qint64 pid)
{
    if (pid <= 0 || !atspiStarted())
        return nullptr;
    Object desktop{atspi_get_desktop(0)};
    if (!desktop)
        return nullptr;
    for (Object& application : children(desktop.get())) {
        GError* error = nullptr;
        const guint owner = atspi_accessible_get_process_id(application.get(), &error);
        g_clear_error(&error);
        if (owner == guint(pid)) {
            // States and children are cached; what a test waits for is a change.
            atspi_accessible_clear_cache(application.get());
            return std::move(application);
        }
    }
    return nullptr;
}

std::optional<QString> textOf(AtspiAccessible* element)
{
    std::unique_ptr<AtspiText, Unref> text(atspi_accessible_get_text_iface(element));
    if (!text)
        return std::nullopt;
    GError* error = nullptr;
    const gint count = atspi_text_get_character_count(text.get(), &error);
    gchar* whole = error ? nullptr : atspi_text_get_text(text.get(), 0, count, &error);
    std::optional<QString> result;
    if (!error && whole)
        result = QString::fromUtf8(whole);
    g_free(whole);
    g_clear_error(&error);
    return result;
}

} // namespace

std::optional<QString> focusedText(qint64 pid)
{
    Object application = applicationOf(pid);
    if (!application)
        return std::nullopt;
    // A whole window is focused too in some toolkits, so the element must also be editable.
    const Object element = find(std::move(application), [](AtspiAccessible* object) {
        return hasState(object, ATSPI_STATE_FOCUSED) && hasState(object, ATSPI_STATE_EDITABLE);
    });
    return element ? textOf(element.get()) : std::nullopt;
}

std::optional<QString> documentText(qint64 pid)
{
    Object application = applicationOf(pid);
    if (!application)
        return std::nullopt;
    const Object document = find(std::move(application), [](AtspiAccessible* object) {
        GError* error = nullptr;
        const AtspiRole role = atspi_accessible_get_role(object, &error);
        g_clear_error(&error);
        return role == ATSPI_ROLE_DOCUMENT_FRAME || role == ATSPI_ROLE_DOCUMENT_TEXT;
    });
    if (!document)
        return std::nullopt;
    QStringList paragraphs;
    for (const Object& paragraph : children(document.get())) {
        const std::optional<QString> text = textOf(paragraph.get());
        if (!text)
            return std::nullopt;
        paragraphs.append(*text);
    }
    return paragraphs.join(u'\n');
}
