#pragma once

#include <QString>
#include <QWidget>

// The panel's line of live text. Long text keeps only its end, starting at a
// word; text that wraps grows the widget up to maxHeight, beyond which the
// newest lines stay in view.
class PreviewText : public QWidget
{
    Q_OBJECT

public:
    static constexpr qsizetype kMaximumCharacters = 240;

    explicit PreviewText(QWidget* parent = nullptr);

    // The text as shown: at most the last kMaximumCharacters characters after
    // "…", cut at the first white space among them so a word comes first.
    static QString preview(const QString& text);

    const QString& text() const { return m_text; }
    // Shows preview(text).
    void setText(const QString& text);

    int maxHeight() const { return m_maxHeight; }
    void setMaxHeight(int height);

    // The height the text needs at `width`, limited to maxHeight.
    int heightFor(int width) const;
    // The width of the text on one line, to let short texts take a narrow panel.
    int naturalWidth() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int fullHeightFor(int width) const;

    QString m_text;
    int m_maxHeight = 80;
};
