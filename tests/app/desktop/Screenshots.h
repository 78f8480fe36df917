#pragma once

#include <QImage>
#include <QRect>
#include <QString>

// Screenshots of what the X server shows, kept as test artefacts.
namespace Screenshots {

// The screen's pixels in `area`, as the display shows them.
QImage grab(const QRect& area);

// Saves under the artefact folder and prints where; returns the path.
QString save(const QImage& image, const QString& name);

// How many distinct colours the image holds (a blank one has one).
int colourCount(const QImage& image);

// The share of pixels that differ clearly from `background`.
double shareUnlike(const QImage& image, QRgb background);
// The share of pixels close to `colour`.
double shareLike(const QImage& image, QRgb colour);
// The share of light pixels (text and bars on the panel).
double shareLight(const QImage& image);

// The most light pixels stacked in one column: the height of the tallest bar.
int tallestLightRun(const QImage& image);

} // namespace Screenshots
