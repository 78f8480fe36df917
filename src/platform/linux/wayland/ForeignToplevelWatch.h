#pragma once

#include <QHash>
#include <QObject>
#include <QString>

#include <optional>

class WaylandConnection;
struct zwlr_foreign_toplevel_handle_v1;
struct zwlr_foreign_toplevel_manager_v1;

// Follows the compositor's windows through the wlroots foreign-toplevel
// protocol and tells which one is activated: its title and app id. For
// compositors without an IPC of their own; the protocol names no process.
// The connection must outlive this object.
class ForeignToplevelWatch final : public QObject
{
    Q_OBJECT

public:
    struct Toplevel
    {
        QString title;
        QString appId;

        bool operator==(const Toplevel&) const = default;
    };

    explicit ForeignToplevelWatch(WaylandConnection& connection, QObject* parent = nullptr);
    ~ForeignToplevelWatch() override;

    bool isAvailable() const { return m_manager != nullptr; }
    // The activated window; none when no window is activated.
    std::optional<Toplevel> activated() const;

Q_SIGNALS:
    // The activated window, or its title or app id, changed.
    void activatedChanged();

private:
    struct Window
    {
        Toplevel pending, current;
        bool pendingActive = false, active = false;
    };

    void changed(const std::optional<Toplevel>& before);

    static void onToplevel(void* data, zwlr_foreign_toplevel_manager_v1*, zwlr_foreign_toplevel_handle_v1* handle);
    static void onFinished(void* data, zwlr_foreign_toplevel_manager_v1*);

    WaylandConnection& m_connection;
    zwlr_foreign_toplevel_manager_v1* m_manager = nullptr;
    QHash<zwlr_foreign_toplevel_handle_v1*, Window> m_windows;
};
