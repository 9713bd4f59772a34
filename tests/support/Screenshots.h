// Pictures of windows that tests leave for a reviewer to look at, and the dark
// palette they are also taken in.
#pragma once

#include <QImage>
#include <QPalette>
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
