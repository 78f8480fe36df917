#include "app/panel/HUDView.h"

#include "app/panel/LevelBars.h"
#include "app/panel/PreviewText.h"
#include "app/panel/ScanningBars.h"
#include "app/widgets/SymbolIcon.h"
#include "text/TextInserter.h"

#include <QPainter>
#include <QPainterPath>

using State = DictationState;

namespace {

constexpr int kPaddingX = 16;
constexpr int kPaddingY = 12;
constexpr int kIndicatorWidth = 24;
constexpr int kIndicatorGap = 12;
constexpr int kMinimumCardWidth = 200;
constexpr int kMinimumCardHeight = 44;
constexpr int kCornerRadius = 14;
constexpr int kSymbolSize = 18;

const QColor kCardColour(28, 28, 30);
const QColor kTextColour(245, 245, 247);
const QColor kSecondaryColour(170, 170, 176);

} // namespace

HUDView::Content HUDView::Content::of(const DictationController& c)
{
    return {c.state(),         c.committed(),       c.interim(),
            c.notice().text(), c.notice().detail(), c.notice().isAboutClipboard(),
            c.isPolishing(),   c.isReconnecting(),  c.micNote(),
            c.escapeCancels(), c.isAskingToPaste()};
}

HUDView::Indicator HUDView::indicator(const Content& content)
{
    switch (content.state) {
    case State::idle:
        if (!content.notice)
            return Indicator::none;
        return content.noticeOnClipboard ? Indicator::clipboardSymbol : Indicator::noticeSymbol;
    case State::starting:
        return Indicator::none;
    case State::listening:
        return Indicator::levelBars;
    case State::finishing:
        return Indicator::scanningBars;
    }
    return Indicator::none;
}

QString HUDView::liveText(const Content& content)
{
    return TextInserter::joinFragment(content.interim, content.committed);
}

QString HUDView::statusLine(const Content& content)
{
    switch (content.state) {
    case State::idle:
        return content.notice.value_or(QString());
    case State::starting:
        return QStringLiteral("Starting…");
    case State::listening: {
        if (content.isReconnecting)
            return QStringLiteral("Reconnecting… keep talking");
        const QString live = liveText(content);
        if (!live.isEmpty())
            return live;
        if (content.micNote)
            return *content.micNote;
        if (content.askingToPaste)
            return QStringLiteral("Allow Vell to paste in your desktop's dialog, and keep talking");
        return content.escapeCancels ? QStringLiteral("Listening…  (Esc to cancel)") : QStringLiteral("Listening…");
    }
    case State::finishing: {
        const QString live = liveText(content);
        return content.isPolishing || live.isEmpty() ? QStringLiteral("Polishing…") : live;
    }
    }
    return {};
}

std::optional<QString> HUDView::detailLine(const Content& content)
{
    if (content.state != State::idle || !content.notice || !content.noticeDetail || content.noticeDetail->isEmpty())
        return std::nullopt;
    return content.noticeDetail;
}

HUDView::HUDView(DictationController& controller, QWidget* parent)
    : QWidget(parent), m_controller(controller), m_levels(new LevelBars(this)), m_scanning(new ScanningBars(this)),
      m_symbol(new QLabel(this)), m_text(new PreviewText(this)), m_detail(new QLabel(this))
{
    setWindowTitle(QStringLiteral("Vell"));
    setAccessibleName(QStringLiteral("Vell"));
    resize(kPanelSize);
    setFixedSize(kPanelSize);

    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, kTextColour);
    // What shows at the card's clipped corners.
    colours.setColor(QPalette::Window, kCardColour);
    setPalette(colours);
    QFont textFont = font();
    textFont.setPixelSize(15);
    m_text->setFont(textFont);
    QPalette secondary = colours;
    secondary.setColor(QPalette::WindowText, kSecondaryColour);
    m_detail->setPalette(secondary);
    QFont detailFont = font();
    detailFont.setPixelSize(12);
    m_detail->setFont(detailFont);
    m_detail->setWordWrap(true);
    m_detail->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    // Changes come in bursts (a stop changes the state and the text at once)
    // and on the way to the paste: the card catches up once, a frame later,
    // by when a service that answers at once has had its text pasted.
    m_refreshTimer.setSingleShot(true);
    m_refreshTimer.setInterval(kCatchUp);
    connect(&m_refreshTimer, &QTimer::timeout, this, &HUDView::refresh);
    const auto refreshSoon = [this] {
        if (!m_refreshTimer.isActive())
            m_refreshTimer.start();
    };
    for (auto signal : {&DictationController::stateChanged, &DictationController::committedChanged,
                        &DictationController::interimChanged, &DictationController::isPolishingChanged,
                        &DictationController::isReconnectingChanged, &DictationController::micNoteChanged})
        connect(&controller, signal, this, refreshSoon);
    connect(&controller.notice(), &Notice::changed, this, refreshSoon);
    // A stop drops the level to nothing just before the meter gives way to
    // the scanning bars: that drop waits for the catch-up, off the way to the paste.
    connect(&controller, &DictationController::levelChanged, this, [this, refreshSoon] {
        if (m_controller.level() == 0)
            refreshSoon();
        else
            m_levels->setLevel(m_controller.level());
    });
    refresh();
}

QString HUDView::shownText() const
{
    return m_text->text();
}

QString HUDView::shownDetail() const
{
    return m_detail->isHidden() ? QString() : m_detail->text();
}

void HUDView::refresh()
{
    m_refreshTimer.stop();
    const Content content = Content::of(m_controller);
    m_indicator = indicator(content);
    m_levels->setVisible(m_indicator == Indicator::levelBars);
    m_scanning->setVisible(m_indicator == Indicator::scanningBars);
    const bool symbol = m_indicator == Indicator::clipboardSymbol || m_indicator == Indicator::noticeSymbol;
    m_symbol->setVisible(symbol);
    if (symbol)
        m_symbol->setPixmap(SymbolIcon::icon(m_indicator == Indicator::clipboardSymbol ? SymbolIcon::Kind::clipboard
                                                                                       : SymbolIcon::Kind::noticeFilled,
                                             kTextColour, kSymbolSize)
                                .pixmap(QSize(kSymbolSize, kSymbolSize), devicePixelRatioF()));
    m_levels->setLevel(m_controller.level());
    m_text->setText(statusLine(content));
    const std::optional<QString> detail = detailLine(content);
    m_detail->setText(detail.value_or(QString()));
    m_detail->setHidden(!detail);
    layOut();
}

void HUDView::layOut()
{
    const bool hasIndicator = m_indicator != Indicator::none;
    const int textLeftInCard = kPaddingX + (hasIndicator ? kIndicatorWidth + kIndicatorGap : 0);
    const int widest = kPanelSize.width() - textLeftInCard - kPaddingX;

    const bool hasDetail = !m_detail->isHidden();
    const int detailWidth =
        hasDetail ? qMin(widest, m_detail->fontMetrics().horizontalAdvance(m_detail->text()) + 1) : 0;
    const int textWidth = qMin(widest, qMax(m_text->naturalWidth(), detailWidth));
    const int detailHeight = hasDetail ? m_detail->heightForWidth(textWidth) + 2 : 0;

    // Whole lines only, so no line is cut in half at the top.
    const int lineHeight = m_text->fontMetrics().lineSpacing();
    const int room = kPanelSize.height() - 2 * kPaddingY - detailHeight;
    m_text->setMaxHeight(qMax(lineHeight, room / lineHeight * lineHeight));
    const int textHeight = m_text->heightFor(textWidth);

    const int cardWidth = qMax(kMinimumCardWidth, textLeftInCard + textWidth + kPaddingX);
    const int cardHeight = qMax(kMinimumCardHeight, textHeight + detailHeight + 2 * kPaddingY);
    m_card = QRect((kPanelSize.width() - cardWidth) / 2, kPanelSize.height() - cardHeight, cardWidth, cardHeight);

    const int contentTop = m_card.top() + (cardHeight - textHeight - detailHeight) / 2;
    const int textLeft = m_card.left() + textLeftInCard;
    m_text->setGeometry(textLeft, contentTop, textWidth, textHeight);
    if (hasDetail)
        m_detail->setGeometry(textLeft, contentTop + textHeight + 2, textWidth, detailHeight - 2);

    // The indicator sits level with the first line of text.
    const int firstLineMiddle = contentTop + qMin(textHeight, lineHeight) / 2;
    const QRect indicatorBox(m_card.left() + kPaddingX, firstLineMiddle - kIndicatorWidth / 2, kIndicatorWidth,
                             kIndicatorWidth);
    m_levels->setGeometry(indicatorBox);
    m_scanning->setGeometry(indicatorBox);
    m_symbol->setGeometry(indicatorBox);
    m_symbol->setAlignment(Qt::AlignCenter);

    QPainterPath shape;
    shape.addRoundedRect(QRectF(m_card), kCornerRadius, kCornerRadius);
    setMask(QRegion(shape.toFillPolygon().toPolygon()));
    update();
}

void HUDView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(kCardColour);
    painter.drawRoundedRect(QRectF(m_card), kCornerRadius, kCornerRadius);
}
