#include "ItemIcons.h"

#include "DrawnIcon.h"

#include <QApplication>
#include <QFontDatabase>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <algorithm>

namespace ItemIcons {
namespace {

// One drawing: its design size in points, whether its y axis points down (else
// up, with the origin bottom left), whether it is a template, and the code.
struct Design {
    QSizeF size;
    bool flipped = false;
    bool isTemplate = false;
    void (*draw)(QPainter &) = nullptr;
};

// --- colours ----------------------------------------------------------------

QColor baseBlue() {
    return QColor::fromRgbF(0.714f, 0.823f, 0.873f);
}

// Mixed toward black by level.
QColor shadowOf(const QColor &c, float level) {
    return QColor::fromRgbF(c.redF() * (1 - level), c.greenF() * (1 - level), c.blueF() * (1 - level), c.alphaF());
}

// Mixed toward white by level.
QColor highlightOf(const QColor &c, float level) {
    auto up = [level](float v) { return v + (1 - v) * level; };
    return QColor::fromRgbF(up(c.redF()), up(c.greenF()), up(c.blueF()), c.alphaF());
}

QColor shadowBlue() {
    return shadowOf(baseBlue(), 0.4f);
}

QColor washBlue() {
    QColor c = baseBlue();
    c.setAlphaF(0.2f);
    return c;
}

QColor hsb(float h, float s, float b) {
    return QColor::fromHsvF(h, s, b);
}

QColor lineGrey() {
    return hsb(0.906f, 0, 0.379f);
}

// --- grids ------------------------------------------------------------------

void strokeGrid(QPainter &p, const QRectF &frame, std::initializer_list<qreal> rows, qreal rowFrom, qreal rowTo,
                std::initializer_list<qreal> columns, qreal columnFrom, qreal columnTo) {
    QPainterPath path;
    path.addRect(frame);
    for (qreal y : rows) {
        path.moveTo(rowFrom, y);
        path.lineTo(rowTo, y);
    }
    for (qreal x : columns) {
        path.moveTo(x, columnFrom);
        path.lineTo(x, columnTo);
    }
    p.strokePath(path, QPen(lineGrey(), 1.0));
}

template <int H1, int S1, int B1, int H2, int S2, int B2> struct GridColours {
    static QColor header() { return hsb(H1 / 1000.f, S1 / 1000.f, B1 / 1000.f); }
    static QColor body() { return hsb(H2 / 1000.f, S2 / 1000.f, B2 / 1000.f); }
};
using TableColours = GridColours<109, 545, 996, 112, 178, 925>;
using ViewColours = GridColours<587, 471, 863, 587, 182, 926>;
using MaterializedViewColours = GridColours<318, 420, 722, 323, 147, 870>;

template <class Colours> void smallGrid(QPainter &p) {
    p.fillRect(QRectF(1, 2, 14, 2), Colours::header());
    p.fillRect(QRectF(1, 5, 14, 7), Colours::body());
    strokeGrid(p, QRectF(0.5, 1.5, 15, 12), {4.5, 7.5, 10.5}, 1, 15, {5.5, 10.5}, 5, 13);
}

template <class Colours> void bigGrid(QPainter &p) {
    p.translate(0, -5);
    p.fillRect(QRectF(1, 6, 62, 12), Colours::header());
    p.fillRect(QRectF(1, 19, 62, 38), Colours::body());
    strokeGrid(p, QRectF(0.5, 5.5, 63, 52), {18.5, 31.5, 44.5}, 1, 63, {21.5, 42.5}, 19, 57);
}

// --- database ---------------------------------------------------------------

// A band across the cylinder from y0 to y1 whose edges sag by `sag` in the middle.
QPainterPath sagging(qreal left, qreal right, qreal y0, qreal y1, qreal sag) {
    const qreal mid = (left + right) / 2;
    QPainterPath path;
    path.moveTo(left, y0);
    path.quadTo(mid, y0 - 2 * sag, right, y0);
    path.lineTo(right, y1);
    path.quadTo(mid, y1 - 2 * sag, left, y1);
    path.closeSubpath();
    return path;
}

void smallDatabase(QPainter &p) {
    // Cubic caps whose control points lie 4/3 of the bulge out peak at the bulge.
    constexpr qreal bulge = 2.2 * 4 / 3;
    QPainterPath body;
    body.moveTo(0, 2);
    body.lineTo(0, 14);
    body.cubicTo(0, 14 + bulge, 16, 14 + bulge, 16, 14);
    body.lineTo(16, 2);
    body.cubicTo(16, 2 - bulge, 0, 2 - bulge, 0, 2);
    body.closeSubpath();
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.fillPath(body, shadowBlue());

    QPainterPath wash;
    wash.addEllipse(QRectF(1, 13, 14, 2));
    wash.addPath(sagging(1, 15, 2, 5, 1.1));
    wash.addPath(sagging(1, 15, 6, 9, 1.1));
    wash.addPath(sagging(1, 15, 10, 13, 1.1));
    p.fillPath(wash, washBlue());
}

void bigDatabase(QPainter &p) {
    const QColor fill = highlightOf(baseBlue(), 0.7f);
    const QColor stroke = shadowBlue();
    for (int i = 0; i <= 3; ++i) {
        const qreal y = 18.0 * i;
        QPainterPath oval;
        oval.addEllipse(QRectF(0.5, y + 0.5, 63, 8));
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);
        p.fillPath(oval, fill);
        p.strokePath(oval, QPen(stroke, 1.0));
        if (i < 3) {
            p.setCompositionMode(QPainter::CompositionMode_Source);
            p.fillRect(QRectF(1, y + 4.5, 62, 16), fill);
        }
    }
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.fillRect(QRectF(0, 4.5, 1, 54), stroke);
    p.fillRect(QRectF(63, 4.5, 1, 54), stroke);
}

// --- schema -----------------------------------------------------------------

// A tab over x from left to right and y from bottom to top with rounded top corners.
QPainterPath tab(qreal left, qreal right, qreal bottom, qreal top, qreal radius) {
    QPainterPath path;
    path.moveTo(left, bottom);
    path.lineTo(left, top - radius);
    path.quadTo(left, top, left + radius, top);
    path.lineTo(right - radius, top);
    path.quadTo(right, top, right, top - radius);
    path.lineTo(right, bottom);
    path.closeSubpath();
    return path;
}

void smallSchema(QPainter &p) {
    QPainterPath folder;
    folder.moveTo(0, 2);
    folder.lineTo(16, 2);
    folder.lineTo(16, 11);
    // Radius 2 about (14, 11); Qt sweeps toward smaller y, and y points up here.
    folder.arcTo(QRectF(12, 9, 4, 4), 0, -90);
    folder.lineTo(0, 13);
    folder.closeSubpath();
    folder.addPath(tab(0, 9, 12, 15, 1.5));
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.fillPath(folder.simplified(), shadowBlue());

    QPainterPath inside;
    inside.addRect(QRectF(1, 3, 14, 9));
    inside.addPath(tab(1, 8, 13, 14, 0.5));
    p.fillPath(inside, washBlue());
}

// --- server -----------------------------------------------------------------

// Two units of a rack, each with a light front and a lamp.
void smallServer(QPainter &p) {
    QPainterPath units;
    units.addRoundedRect(QRectF(0, 0.5, 16, 7), 1, 1);
    units.addRoundedRect(QRectF(0, 8.5, 16, 7), 1, 1);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.fillPath(units, shadowBlue());

    QPainterPath fronts;
    for (qreal bottom : {2.0, 10.0}) {
        fronts.addRect(QRectF(1.5, bottom, 9, 4));
        fronts.addEllipse(QPointF(13, bottom + 2), 1.2, 1.2);
    }
    p.fillPath(fronts, washBlue());
}

// --- SQL item ---------------------------------------------------------------

QFont monospace(int pixelSize) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(pixelSize);
    font.setHintingPreference(QFont::PreferNoHinting); // drawn scaled; hinting would bend it
    return font;
}

void smallSQL(QPainter &p) {
    QColor white = Qt::white;
    white.setAlphaF(0.2f);
    p.fillRect(QRectF(1, 2, 14, 12), white);

    // The text rectangle (2, 6, 13, 8) is in y-up points; text is drawn upright.
    p.save();
    p.translate(0, 16);
    p.scale(1, -1);
    p.setFont(monospace(6));
    p.setPen(Qt::black);
    p.drawText(QRectF(2, 16 - 6 - 8, 13, 8), Qt::AlignLeft | Qt::AlignTop, QStringLiteral("SQL"));
    p.restore();

    QColor grey = QColor::fromHsvF(shadowBlue().hsvHueF(), 0, shadowBlue().valueF(), shadowBlue().alphaF());
    QPainterPath frame;
    frame.addRoundedRect(QRectF(0, 1, 16, 14), 2, 2);
    frame.addRect(QRectF(1, 2, 14, 12));
    frame.setFillRule(Qt::OddEvenFill);
    p.fillPath(frame, grey);
}

void bigSQL(QPainter &p) {
    p.translate(0, -5);
    QPainterPath sheet;
    sheet.addRoundedRect(QRectF(0.5, 5.5, 63, 52), 2, 2);
    p.fillPath(sheet, hsb(0.906f, 0, 0.95f));
    p.strokePath(sheet, QPen(hsb(0.906f, 0, 0.5f), 1.0));
    p.setFont(monospace(10));
    p.setPen(hsb(0.906f, 0, 0.3f));
    p.drawText(QRectF(4, 9, 56, 43), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
               QStringLiteral("SELECT * FROM tbl;"));
}

// --- the engine -------------------------------------------------------------

QColor templateColour(QIcon::Mode mode) {
    const QPalette palette = QApplication::palette();
    switch (mode) {
    case QIcon::Disabled:
        return palette.color(QPalette::Disabled, QPalette::Text);
    case QIcon::Selected:
        return palette.color(QPalette::Active, QPalette::HighlightedText);
    default:
        return palette.color(QPalette::Active, QPalette::Text);
    }
}

// Renders the design into an image of pixels, fitted and centred.
QImage render(const Design &design, const QSize &pixels, QIcon::Mode mode) {
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    if (pixels.isEmpty())
        return image;
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const qreal scale = std::min(pixels.width() / design.size.width(), pixels.height() / design.size.height());
    p.translate((pixels.width() - design.size.width() * scale) / 2,
                (pixels.height() - design.size.height() * scale) / 2);
    p.scale(scale, scale);
    if (!design.flipped) {
        p.translate(0, design.size.height());
        p.scale(1, -1);
    }
    if (mode == QIcon::Disabled && !design.isTemplate)
        p.setOpacity(0.5);
    p.save();
    design.draw(p);
    p.restore();
    if (design.isTemplate)
        DrawnIcon::tintCoverage(p, image, templateColour(mode));
    return image;
}

Design smallDesign(Shape shape) {
    switch (shape) {
    case Shape::Database:
        return {{16, 16}, false, true, smallDatabase};
    case Shape::Schema:
        return {{16, 16}, false, true, smallSchema};
    case Shape::SQLQuery:
        return {{16, 16}, false, true, smallSQL};
    case Shape::Table:
        return {{16, 16}, true, false, smallGrid<TableColours>};
    case Shape::View:
        return {{16, 16}, true, false, smallGrid<ViewColours>};
    case Shape::MaterializedView:
        return {{16, 16}, true, false, smallGrid<MaterializedViewColours>};
    case Shape::Server:
        return {{16, 16}, false, true, smallServer};
    }
    return {};
}

Design bigDesign(Shape shape) {
    switch (shape) {
    case Shape::Database:
        return {{64, 63}, false, false, bigDatabase};
    case Shape::Schema:
        return {};
    case Shape::SQLQuery:
        return {{64, 53}, true, false, bigSQL};
    case Shape::Table:
        return {{64, 53}, true, false, bigGrid<TableColours>};
    case Shape::View:
        return {{64, 53}, true, false, bigGrid<ViewColours>};
    case Shape::MaterializedView:
        return {{64, 53}, true, false, bigGrid<MaterializedViewColours>};
    case Shape::Server:
        return {};
    }
    return {};
}

constexpr int kShapes = 7;

QIcon makeIcon(const Design &design) {
    if (!design.draw)
        return QIcon();
    return DrawnIcon::icon([design](const QSize &pixels, QIcon::Mode mode) { return render(design, pixels, mode); },
                           QStringLiteral("TrellanItemIcon"), design.size);
}

} // namespace

QIcon smallIcon(Shape shape) {
    // Function-local statics are made once, also under concurrent first requests.
    static const QIcon icons[kShapes] = {
        makeIcon(smallDesign(Shape::Database)), makeIcon(smallDesign(Shape::Schema)),
        makeIcon(smallDesign(Shape::SQLQuery)), makeIcon(smallDesign(Shape::Table)),
        makeIcon(smallDesign(Shape::View)),     makeIcon(smallDesign(Shape::MaterializedView)),
        makeIcon(smallDesign(Shape::Server)),
    };
    return icons[int(shape)];
}

QIcon bigIcon(Shape shape) {
    static const QIcon icons[kShapes] = {
        makeIcon(bigDesign(Shape::Database)), makeIcon(bigDesign(Shape::Schema)),
        makeIcon(bigDesign(Shape::SQLQuery)), makeIcon(bigDesign(Shape::Table)),
        makeIcon(bigDesign(Shape::View)),     makeIcon(bigDesign(Shape::MaterializedView)),
        makeIcon(bigDesign(Shape::Server)),
    };
    return icons[int(shape)];
}

QSize designSize(Shape shape, bool big) {
    return (big ? bigDesign(shape) : smallDesign(shape)).size.toSize();
}

} // namespace ItemIcons
