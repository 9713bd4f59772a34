#include "ReadableScrollBarStyle.h"

#include "Contrast.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QStyleFactory>
#include <QStyleOptionButton>
#include <QStyleOptionSlider>
#include <QStyleOptionSpinBox>

namespace {

// The thumb's colour on a groove of colour groove, ink mixed in: a little above
// 3:1 at rest, so that rounding to 8-bit channels and the groove's slightly
// darker edges never take it below; clearly more under the pointer and more
// again while dragged.
QColor thumbColour(const QColor &groove, const QColor &ink, bool hovered, bool pressed) {
    const double ratio = pressed ? 7.0 : hovered ? 4.5 : 3.2;
    return inkReadableOn(groove, ink, ratio, 0.3);
}

// The outline of a check box, radio button or line edit frame in rect, where
// and as the Fusion style strokes it (a box and a frame on pixel centres, a
// circle on pixel edges), so that stroking it again covers the style's own.
QPainterPath fusionOutline(QStyle::PrimitiveElement element, const QRect &rect) {
    QPainterPath path;
    if (element == QStyle::PE_IndicatorRadioButton) {
        const qreal radius = (rect.width() + (rect.width() + 1) % 2) / 2.0 - 1;
        path.addEllipse(QPointF(rect.center() + QPoint(1, 1)), radius, radius);
        return path;
    }
    const QRectF box = QRectF(rect.adjusted(0, 0, -1, -1)).translated(0.5, 0.5);
    if (element == QStyle::PE_IndicatorCheckBox)
        path.addRect(box);
    else
        path.addRoundedRect(box, 2, 2);
    return path;
}

// Whether Fusion draws this one in its focus colour (the highlight, redrawn
// here where it reads too faintly on its panel): a line edit whenever it has the focus, a box or a button
// while focus moves by keyboard.
bool showsFocus(QStyle::PrimitiveElement element, const QStyleOption &option) {
    if (!(option.state & QStyle::State_HasFocus))
        return false;
    return element == QStyle::PE_FrameLineEdit || (option.state & QStyle::State_KeyboardFocusChange);
}

} // namespace

ReadableScrollBarStyle::ReadableScrollBarStyle(QStyle *base) : QProxyStyle(base) {}

void ReadableScrollBarStyle::drawComplexControl(ComplexControl control, const QStyleOptionComplex *option,
                                                QPainter *painter, const QWidget *widget) const {
    const auto *spin = qstyleoption_cast<const QStyleOptionSpinBox *>(option);
    if (control == CC_SpinBox && spin && spin->frame && drawsFusionOutlines()) {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        // Fusion strokes a spin box as a line edit's frame, a pixel in from
        // the top and the bottom, in its focus colour whenever it has the focus.
        strokeOutline(painter, fusionOutline(PE_FrameLineEdit, option->rect.adjusted(0, 1, 0, -1)),
                      option->state & State_HasFocus, option->palette);
        return;
    }
    const auto *bar = qstyleoption_cast<const QStyleOptionSlider *>(option);
    if (control != CC_ScrollBar || !bar || !(bar->subControls & SC_ScrollBarSlider) ||
        proxy()->styleHint(SH_ScrollBar_Transient, option, widget)) {
        QProxyStyle::drawComplexControl(control, option, painter, widget);
        return;
    }
    QStyleOptionSlider rest = *bar;
    rest.subControls &= ~SC_ScrollBarSlider;
    QProxyStyle::drawComplexControl(control, &rest, painter, widget);
    drawThumb(*bar, painter, widget);
}

// What the style itself paints for the groove of such a bar: drawn once small
// and read back, so that the thumb is measured against the real groove of any
// style and palette rather than a guess at it.
QColor ReadableScrollBarStyle::grooveColour(const QStyleOptionSlider &bar, const QWidget *widget) const {
    QStyleOptionSlider sample = bar;
    const bool horizontal = bar.orientation == Qt::Horizontal;
    const int thickness = std::max(1, horizontal ? bar.rect.height() : bar.rect.width());
    sample.rect = horizontal ? QRect(0, 0, 8 * thickness, thickness) : QRect(0, 0, thickness, 8 * thickness);
    sample.subControls = SC_ScrollBarGroove;
    sample.activeSubControls = SC_None;
    sample.styleObject = nullptr;
    QImage image(sample.rect.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(bar.palette.color(QPalette::Window));
    QPainter painter(&image);
    QProxyStyle::drawComplexControl(CC_ScrollBar, &sample, &painter, widget);
    painter.end();
    const QRect groove = subControlRect(CC_ScrollBar, &sample, SC_ScrollBarGroove, widget);
    return image.pixelColor(groove.isValid() ? groove.center() : image.rect().center());
}

void ReadableScrollBarStyle::drawThumb(const QStyleOptionSlider &bar, QPainter *painter, const QWidget *widget) const {
    const bool active = bar.activeSubControls & SC_ScrollBarSlider;
    const bool pressed = active && (bar.state & State_Sunken);
    const bool hovered = active && (bar.state & State_MouseOver);
    const QColor colour =
        thumbColour(grooveColour(bar, widget), bar.palette.color(QPalette::WindowText), hovered, pressed);
    // A sliver of groove on each side and end, so that the thumb reads as
    // lying in it at either end of its travel.
    const bool horizontal = bar.orientation == Qt::Horizontal;
    const QRect slider = proxy()->subControlRect(CC_ScrollBar, &bar, SC_ScrollBarSlider, widget);
    const QRectF thumb =
        QRectF(slider).adjusted(horizontal ? 1 : 2, horizontal ? 2 : 1, horizontal ? -1 : -2, horizontal ? -2 : -1);
    if (thumb.isEmpty())
        return;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(thumb, 3, 3);
    painter->fillPath(path, colour);
    painter->restore();
}

bool ReadableScrollBarStyle::drawsFusionOutlines() const {
    return baseStyle()->name().compare(QLatin1String("fusion"), Qt::CaseInsensitive) == 0;
}

void ReadableScrollBarStyle::drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                                           const QWidget *widget) const {
    QProxyStyle::drawPrimitive(element, option, painter, widget);
    const bool outlined = element == PE_FrameLineEdit || element == PE_IndicatorRadioButton ||
                          (element == PE_IndicatorCheckBox && qstyleoption_cast<const QStyleOptionButton *>(option));
    if (!outlined || !drawsFusionOutlines())
        return;
    strokeOutline(painter, fusionOutline(element, option->rect), showsFocus(element, *option), option->palette);
}

void ReadableScrollBarStyle::strokeOutline(QPainter *painter, const QPainterPath &outline, bool focused,
                                           const QPalette &palette) {
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setBrush(Qt::NoBrush);
    painter->setPen(QPen(focused ? focusOutlineColour(palette) : fieldOutlineColour(palette), 1));
    painter->drawPath(outline);
    painter->restore();
}

void useReadableScrollBars() {
    if (dynamic_cast<ReadableScrollBarStyle *>(QApplication::style()))
        return;
    // The current style's own name, so that -style and QT_STYLE_OVERRIDE still
    // choose what is drawn under the thumbs.
    const QString name = QApplication::style() ? QApplication::style()->name() : QString();
    QApplication::setStyle(new ReadableScrollBarStyle(name.isEmpty() ? nullptr : QStyleFactory::create(name)));
}
