#pragma once

#include "control/DictationController.h"

#include <QLabel>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <optional>

class LevelBars;
class PreviewText;
class ScanningBars;

// The panel's content: an indicator (meter, sweep or notice symbol) and one
// line of status or live text on a dark rounded card, sized to its text and
// standing at the bottom centre of the panel. It only reads the controller.
class HUDView : public QWidget
{
    Q_OBJECT

public:
    static constexpr QSize kPanelSize{520, 120};
    // How late the panel may follow the controller: a frame.
    static constexpr std::chrono::milliseconds kCatchUp{16};

    enum class Indicator { none, levelBars, scanningBars, clipboardSymbol, noticeSymbol };

    // What the panel shows, read from the controller in one go.
    struct Content
    {
        DictationState state = DictationState::idle;
        QString committed;
        QString interim;
        std::optional<QString> notice;
        std::optional<QString> noticeDetail;
        bool noticeOnClipboard = false;
        bool isPolishing = false;
        bool isReconnecting = false;
        std::optional<QString> micNote;
        bool escapeCancels = true;
        bool askingToPaste = false;

        static Content of(const DictationController& controller);
    };

    static Indicator indicator(const Content& content);
    // The committed text joined with the interim text.
    static QString liveText(const Content& content);
    // The main line, before the long-text rule.
    static QString statusLine(const Content& content);
    // The second line under a notice.
    static std::optional<QString> detailLine(const Content& content);

    explicit HUDView(DictationController& controller, QWidget* parent = nullptr);

    // The card within the panel, in the panel's coordinates.
    QRect cardRect() const { return m_card; }
    QString shownText() const;
    QString shownDetail() const;
    Indicator shownIndicator() const { return m_indicator; }
    ScanningBars& scanningBars() { return *m_scanning; }
    LevelBars& levelBars() { return *m_levels; }

    // Reads the controller again and lays the card out. Changes in the
    // controller do this kCatchUp later, once per burst.
    void refresh();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void layOut();

    DictationController& m_controller;
    LevelBars* m_levels;
    ScanningBars* m_scanning;
    QLabel* m_symbol;
    PreviewText* m_text;
    QLabel* m_detail;
    Indicator m_indicator = Indicator::none;
    QRect m_card;
    QTimer m_refreshTimer;
};
