#pragma once

#include <QIcon>
#include <QImage>
#include <functional>

class QPainter;

// Icons drawn in code at the very pixels they are shown at, so that they are
// sharp at any scale and pixel ratio and need no icon theme.
namespace DrawnIcon {

// Paints an image of the given size in device pixels for the mode.
using Renderer = std::function<QImage(const QSize &pixels, QIcon::Mode mode)>;

// An icon that render draws whenever it is shown. With a design size it keeps
// that aspect and names that size as its only one; without, it takes whatever
// size it is asked for.
QIcon icon(Renderer render, const QString &key, const QSizeF &designSize = QSizeF());

// Paints what has been drawn into image so far in colour, keeping only its
// coverage: how a template icon takes the palette's colour of the moment.
void tintCoverage(QPainter &painter, const QImage &image, const QColor &colour);

} // namespace DrawnIcon
