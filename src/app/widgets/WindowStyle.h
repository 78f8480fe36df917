#pragma once

#include <QString>
#include <QUrl>

#include <functional>

class QLabel;
class QWidget;

// The few text styles the windows share, all drawn from the palette and the
// application font, so they follow the desktop.
namespace WindowStyle {

// A window's own title inside its content.
QLabel* title(const QString& text, QWidget* parent = nullptr);
// The heading of a step or section.
QLabel* heading(const QString& text, QWidget* parent = nullptr);
// Body text, wrapped.
QLabel* paragraph(const QString& text, QWidget* parent = nullptr);
// Explanations under a control: wrapped and quieter.
QLabel* secondary(const QString& text, QWidget* parent = nullptr);
// A link that opens `url` through `open`.
QLabel* link(const QString& text, const QUrl& url, const std::function<bool(const QUrl&)>& open,
             QWidget* parent = nullptr);

// A control with its explanation close under it, for one row of a form.
QWidget* noted(QWidget* control, QLabel* note, QWidget* parent = nullptr);

// Text with **bold** parts as rich text, the rest escaped.
QString boldMarked(const QString& text);

} // namespace WindowStyle
