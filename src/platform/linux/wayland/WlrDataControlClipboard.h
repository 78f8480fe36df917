#pragma once

#include "platform/Clipboard.h"

#include <QHash>
#include <QObject>

#include <chrono>
#include <future>
#include <optional>

class WaylandConnection;
struct zwlr_data_control_device_v1;
struct zwlr_data_control_manager_v1;
struct zwlr_data_control_offer_v1;
struct zwlr_data_control_source_v1;

// How long another client may take to hand over its contents.
struct ClipboardReadLimits
{
    std::chrono::milliseconds perType{100};
    std::chrono::milliseconds whole{300};
};

// The clipboard, or the primary selection, through the wlroots data-control
// protocol: no window and no focus needed. Another client's contents are
// read through pipes with a deadline for each type and one for the whole
// read, so an owner that does not answer costs at most that. What this
// program writes is served from the event loop, large contents in pieces
// as the reader takes them. The primary selection needs version 2 of the
// protocol. The connection must outlive this object.
class WlrDataControlClipboard final : public QObject, public Clipboard
{
    Q_OBJECT

public:
    enum class Mode { clipboard, primarySelection };

    using Limits = ClipboardReadLimits;

    static constexpr char kConcealedType[] = "x-kde-passwordManagerHint";
    static constexpr char kConcealedValue[] = "secret";

    explicit WlrDataControlClipboard(WaylandConnection& connection, Mode mode = Mode::clipboard, Limits limits = {},
                                     QObject* parent = nullptr);
    ~WlrDataControlClipboard() override;

    // Whether the compositor offers what this mode needs.
    bool isAvailable() const { return m_device != nullptr; }

    ClipboardContents snapshot() override;
    void prefetch() override;
    bool restore(const ClipboardContents& contents) override;
    bool setText(const QString& text, Visibility visibility) override;
    quint64 changeCount() const override { return m_changeCount; }

private:
    struct Offer
    {
        zwlr_data_control_offer_v1* offer = nullptr;
        QStringList types;
    };
    struct Prefetch
    {
        quint64 changeCount = 0;
        std::future<ClipboardContents> contents;
    };
    class Transfer;

    // Asks the owner for every type; the pipes' read ends, in order.
    QList<std::pair<QString, int>> requestAll();
    bool offer(const ClipboardContents& contents);
    void dropSource();
    // Destroys an offer of the other selection.
    void ignore(zwlr_data_control_offer_v1* offer);

    static void onDataOffer(void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer);
    static void onSelection(void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer);
    static void onPrimarySelection(void* data, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer);
    static void onFinished(void* data, zwlr_data_control_device_v1*);
    static void onOfferType(void* data, zwlr_data_control_offer_v1* offer, const char* type);
    static void onSend(void* data, zwlr_data_control_source_v1* source, const char* type, int32_t fd);
    static void onCancelled(void* data, zwlr_data_control_source_v1* source);

    void selectionChanged(zwlr_data_control_offer_v1* offer);

    WaylandConnection& m_connection;
    const Mode m_mode;
    const Limits m_limits;
    zwlr_data_control_manager_v1* m_manager = nullptr;
    zwlr_data_control_device_v1* m_device = nullptr;
    // Offers announced but not yet named a selection, with their types.
    QHash<zwlr_data_control_offer_v1*, QStringList> m_announced;
    std::optional<Offer> m_current; // another client's contents, or the echo of ours
    zwlr_data_control_source_v1* m_source = nullptr;
    ClipboardContents m_own; // what m_source offers
    quint64 m_changeCount = 0;
    std::optional<Prefetch> m_prefetch;
};
