#pragma once

#include <QProxyStyle>

class QPainterPath;
class QStyleOptionSlider;

// The desktop's own style with two changes. A scroll bar's thumb is drawn in
// the palette's text colour mixed into the groove until it stands at least 3:1
// against it, more under the pointer and more again while dragged. The stock
// light styles draw a near-white thumb on a light-grey groove: a large thumb
// then reads as groove, and the groove's ends as two small thumbs. Transient
// (overlay) scroll bars keep the style's own drawing. And over the Fusion style
// (which derives its outlines from the window colour, at about 1.2:1 on a dark
// palette and 2:1 on its own light one), every check box, radio button,
// framed line edit and framed spin box has its outline redrawn in
// fieldOutlineColour, or while it shows the keyboard's focus in
// focusOutlineColour (Contrast.h): a
// widget that paints a panel of another colour behind them gives that colour
// as its palette's Window. main thread
class ReadableScrollBarStyle : public QProxyStyle {
public:
    // base: the style drawn through (owned); nullptr for the desktop's default.
    explicit ReadableScrollBarStyle(QStyle *base = nullptr);

    void drawComplexControl(ComplexControl control, const QStyleOptionComplex *option, QPainter *painter,
                            const QWidget *widget = nullptr) const override;
    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget = nullptr) const override;

private:
    QColor grooveColour(const QStyleOptionSlider &bar, const QWidget *widget) const;
    void drawThumb(const QStyleOptionSlider &bar, QPainter *painter, const QWidget *widget) const;
    bool drawsFusionOutlines() const;
    static void strokeOutline(QPainter *painter, const QPainterPath &outline, bool focused, const QPalette &palette);
};

// Puts the style over the application's current one (the one the desktop or
// -style chose), once. main thread
void useReadableScrollBars();
