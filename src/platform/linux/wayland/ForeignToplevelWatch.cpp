#include "platform/linux/wayland/ForeignToplevelWatch.h"

#include "platform/linux/wayland/WaylandConnection.h"

#include <wayland-client.h>
#include <wlr-foreign-toplevel-management-unstable-v1-client.h>

namespace {

ForeignToplevelWatch* watchOf(void* data)
{
    return static_cast<ForeignToplevelWatch*>(data);
}

} // namespace

ForeignToplevelWatch::ForeignToplevelWatch(WaylandConnection& connection, QObject* parent)
    : QObject(parent), m_connection(connection)
{
    m_manager =
        static_cast<zwlr_foreign_toplevel_manager_v1*>(connection.bind(zwlr_foreign_toplevel_manager_v1_interface, 3));
    if (!m_manager)
        return;
    static const zwlr_foreign_toplevel_manager_v1_listener listener = {.toplevel = &onToplevel,
                                                                       .finished = &onFinished};
    zwlr_foreign_toplevel_manager_v1_add_listener(m_manager, &listener, this);
    // The windows that exist are announced as the manager is bound.
    connection.roundtrip();
}

ForeignToplevelWatch::~ForeignToplevelWatch()
{
    for (zwlr_foreign_toplevel_handle_v1* handle : m_windows.keys())
        zwlr_foreign_toplevel_handle_v1_destroy(handle);
    // Events already on their way then go to a destroyed proxy, which drops them.
    if (m_manager) {
        zwlr_foreign_toplevel_manager_v1_stop(m_manager);
        zwlr_foreign_toplevel_manager_v1_destroy(m_manager);
    }
    m_connection.flush();
}

std::optional<ForeignToplevelWatch::Toplevel> ForeignToplevelWatch::activated() const
{
    for (const Window& window : m_windows)
        if (window.active)
            return window.current;
    return std::nullopt;
}

void ForeignToplevelWatch::changed(const std::optional<Toplevel>& before)
{
    if (activated() != before)
        Q_EMIT activatedChanged();
}

void ForeignToplevelWatch::onToplevel(void* data, zwlr_foreign_toplevel_manager_v1*,
                                      zwlr_foreign_toplevel_handle_v1* handle)
{
    // Each window's changes come as a batch that its done event ends.
    static const zwlr_foreign_toplevel_handle_v1_listener listener = {
        .title = [](void* data, zwlr_foreign_toplevel_handle_v1* handle,
                    const char* title) { watchOf(data)->m_windows[handle].pending.title = QString::fromUtf8(title); },
        .app_id = [](void* data, zwlr_foreign_toplevel_handle_v1* handle,
                     const char* appId) { watchOf(data)->m_windows[handle].pending.appId = QString::fromUtf8(appId); },
        .output_enter = [](void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {},
        .output_leave = [](void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {},
        .state =
            [](void* data, zwlr_foreign_toplevel_handle_v1* handle, wl_array* states) {
                bool active = false;
                const auto* state = static_cast<const uint32_t*>(states->data);
                for (size_t i = 0; i < states->size / sizeof(uint32_t); ++i)
                    active = active || state[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED;
                watchOf(data)->m_windows[handle].pendingActive = active;
            },
        .done =
            [](void* data, zwlr_foreign_toplevel_handle_v1* handle) {
                ForeignToplevelWatch* self = watchOf(data);
                const std::optional<Toplevel> before = self->activated();
                Window& window = self->m_windows[handle];
                window.current = window.pending;
                window.active = window.pendingActive;
                self->changed(before);
            },
        .closed =
            [](void* data, zwlr_foreign_toplevel_handle_v1* handle) {
                ForeignToplevelWatch* self = watchOf(data);
                const std::optional<Toplevel> before = self->activated();
                self->m_windows.remove(handle);
                zwlr_foreign_toplevel_handle_v1_destroy(handle);
                self->changed(before);
            },
        .parent = [](void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*) {},
    };
    watchOf(data)->m_windows.insert(handle, {});
    zwlr_foreign_toplevel_handle_v1_add_listener(handle, &listener, data);
}

void ForeignToplevelWatch::onFinished(void* data, zwlr_foreign_toplevel_manager_v1* manager)
{
    ForeignToplevelWatch* self = watchOf(data);
    zwlr_foreign_toplevel_manager_v1_destroy(manager);
    self->m_manager = nullptr;
}
