#pragma once

#include <QStringList>
#include <QWidget>

// The steps of a guided setup as a list down the side: the ones done ticked,
// the current one marked, the ones ahead quiet.
class StepIndicator : public QWidget
{
    Q_OBJECT

public:
    explicit StepIndicator(const QStringList& titles, QWidget* parent = nullptr);

    void setCurrent(int index);
    int current() const { return m_current; }
    QString currentTitle() const { return m_titles.value(m_current); }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QStringList m_titles;
    int m_current = 0;
};
