#pragma once

#include <QFrame>

class QLabel;

// One figure of the statistics: a title, a large value and a caption.
class StatCard : public QFrame
{
    Q_OBJECT

public:
    explicit StatCard(const QString& title, QWidget* parent = nullptr);

    void setValue(const QString& value, const QString& caption);

    QString title() const;
    QString value() const;
    QString caption() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* m_title;
    QLabel* m_value;
    QLabel* m_caption;
};
