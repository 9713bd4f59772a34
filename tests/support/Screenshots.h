// Pictures of windows that tests leave for a reviewer to look at, and the dark
// palette they are also taken in.
#pragma once

#include <QColor>
#include <QImage>
#include <QPalette>
#include <QRect>
#include <QString>

class QWidget;

// build/tests/screenshots/<folder>/<file>, the folder made.
QString screenshotPath(const QString &folder, const QString &file);
// Saves image (or what widget shows) there; false when it cannot be written.
bool saveScreenshot(const QImage &image, const QString &folder, const QString &file);
bool saveScreenshot(QWidget *widget, const QString &folder, const QString &file);

// A dark palette in every role a widget draws with: whatever is drawn in fixed
// light colours stands out on it.
QPalette darkPalette();

// How well two colours read against each other, as the web's accessibility
// guidelines reckon it: 1 (the same) to 21 (black on white); text wants 4.5,
// a control's outline 3.
double wcagContrast(const QColor &a, const QColor &b);
// The colour most pixels of rect have: the background of what is drawn there.
QColor commonColour(const QImage &image, const QRect &rect);
// The best contrast any pixel of rect has against background: that of the
// text or line drawn there (its antialiased edges contrast less).
double strongestContrast(const QImage &image, const QRect &rect, const QColor &background);
// The weakest outline of the check boxes, radio buttons, framed line edits and
// spin boxes shown in root: how the left edge of each (a box's indicator, a field's frame)
// reads against the panel just left of it, in shot (root's window drawn at
// ratio). which names the weakest control.
double weakestOutline(const QImage &shot, int ratio, QWidget *root, QString *which = nullptr);
