#pragma once

#include <QColor>
#include <QIcon>
#include <QRect>
#include <QStringList>

class QFont;
class QPainter;
class QPixmap;

// How the icon grid measures and draws one icon with its name under it: the
// image centred on the floor of the cell's upper part, shrunk to fit and
// never enlarged; the name centred in up to three lines below it, breaking
// between words and after underscores, the third line ending in "…" when the
// name goes on. The grid uses one set of these functions for every icon.
// main thread
namespace IconViewCell {

struct Geometry {
    QRect icon;    // where the image goes; empty without one
    QRect iconHit; // the image extended down to the text: a press there is on the icon
    QRect text;    // the band of the three lines
    QRect nameBox; // the name's own box: a press there is on the icon, and a selection fills it
};

struct Colours {
    QColor text;         // the name, not selected
    QColor selectedText; // the name, selected
    QColor nameFill;     // behind a selected name
    QColor backdrop;     // behind a selected image
};

// The name as it is shown: control characters and line breaks as spaces, and
// a zero-width space after each "_", so that long names wrap between words.
QString wrappableName(const QString &name);
// The lines of a name in width pixels: at most three, the last one cut with an
// ellipsis when more would follow; empty for an empty name.
QStringList nameLines(const QString &name, const QFont &font, int width);
// The height of three lines of text.
int textHeight(const QFont &font);
// The size an image is drawn at when there is room: its largest own size.
QSize naturalSize(const QIcon &image);

// The parts of a cell with frame, for an image of imageSize (empty for none)
// and a name already broken into lines.
Geometry measure(const QRect &frame, const QSize &imageSize, const QStringList &lines, const QFont &font);

// Draws a measured cell: when selected the name box and the area around the
// image are filled first; image is the pixmap to draw in geometry.icon.
void draw(QPainter &painter, const Geometry &geometry, const QPixmap &image, const QStringList &lines,
          const QFont &font, bool selected, const Colours &colours);

} // namespace IconViewCell
