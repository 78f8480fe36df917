#pragma once

#include "app/tray/TrayMenuModel.h"

#include <QWidget>

#include <optional>

class QVBoxLayout;
class UnpastedCard;

// The tray's drop-down as a small window under (or above) the tray icon:
// the rows of TrayMenuModel as labels and flat buttons. It only shows rows; what
// a row does is up to whoever listens to `triggered`. Closes when the user
// clicks elsewhere.
class TrayMenu : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kWidth = 340;

    explicit TrayMenu(QWidget* parent = nullptr);

    void setRows(const QList<TrayMenuModel::Row>& rows, const std::optional<UnpastedDictation>& unseenFailure);
    const QList<TrayMenuModel::Row>& rows() const { return m_rows; }
    UnpastedCard* card() const { return m_card; }

    // Where the drop-down goes for a tray icon at `icon`: below it when the
    // icon is in the upper half of the screen, above it otherwise, and kept
    // inside `available`.
    static QPoint position(const QRect& icon, const QSize& size, const QRect& available);

    // Shows the drop-down at its place for the tray icon at `icon`.
    void popUp(const QRect& icon, const QRect& available);

Q_SIGNALS:
    void triggered(const TrayMenuModel::Row& row);
    void hidden();

protected:
    void hideEvent(QHideEvent* event) override;

private:
    void rebuild();
    QWidget* makeRow(const TrayMenuModel::Row& row, const QList<TrayMenuModel::Row>& moreItems);

    QVBoxLayout* m_layout;
    QWidget* m_body = nullptr;
    UnpastedCard* m_card = nullptr;
    QList<TrayMenuModel::Row> m_rows;
    std::optional<UnpastedDictation> m_failure;
};
