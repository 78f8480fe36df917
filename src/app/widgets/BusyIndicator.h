#pragma once

#include <QTimer>
#include <QWidget>

// A small spinning indicator for work of unknown length. It turns only while
// visible.
class BusyIndicator : public QWidget
{
    Q_OBJECT

public:
    explicit BusyIndicator(int size = 16, QWidget* parent = nullptr);

    QSize sizeHint() const override { return {m_size, m_size}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QTimer m_timer;
    int m_size;
    int m_step = 0;
};
