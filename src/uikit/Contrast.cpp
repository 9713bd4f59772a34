#include "Contrast.h"

#include <QPalette>
#include <algorithm>
#include <cmath>

namespace {

double channel(float value) {
    return value <= 0.04045f ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
}

double luminance(const QColor &colour) {
    const QColor rgb = colour.toRgb();
    return 0.2126 * channel(rgb.redF()) + 0.7152 * channel(rgb.greenF()) + 0.0722 * channel(rgb.blueF());
}

QColor over(const QColor &background, const QColor &ink, double opacity) {
    const QColor b = background.toRgb(), i = ink.toRgb();
    auto mix = [opacity](float under, float top) { return float(under + (top - under) * opacity); };
    return QColor::fromRgbF(mix(b.redF(), i.redF()), mix(b.greenF(), i.greenF()), mix(b.blueF(), i.blueF()));
}

} // namespace

double contrastRatio(const QColor &a, const QColor &b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor inkReadableOn(const QColor &background, const QColor &ink, double ratio, double faintest) {
    // Steps of 1/20: fine enough to stay just above the ratio, and few.
    for (double opacity = faintest; opacity < 1.0; opacity += 0.05) {
        const QColor mixed = over(background, ink, opacity);
        if (contrastRatio(mixed, background) >= ratio)
            return mixed;
    }
    return ink.toRgb();
}

QColor laidOver(const QColor &ground, const QColor &paint) {
    return over(ground, paint, paint.alphaF());
}

QColor readableTowards(const QColor &start, const QColor &target, const QList<QColor> &grounds, double ratio) {
    auto readsOn = [ratio](const QColor &colour, const QColor &ground) {
        return ground.alpha() < 255 || contrastRatio(colour, ground) >= ratio;
    };
    for (double towards = 0; towards < 1.0; towards += 0.05) {
        // Judged as painted, in 8-bit channels.
        const QColor colour = QColor::fromRgb(over(start, target, towards).rgb());
        if (std::all_of(grounds.begin(), grounds.end(), [&](const QColor &ground) { return readsOn(colour, ground); }))
            return colour;
    }
    return target.toRgb();
}

namespace {
QColor outlineReadableFrom(const QPalette &palette, const QColor &start) {
    return readableTowards(start, palette.color(QPalette::Text),
                           {palette.color(QPalette::Base), palette.color(QPalette::Window)}, 3.2);
}
} // namespace

QColor fieldOutlineColour(const QPalette &palette) {
    return outlineReadableFrom(palette, palette.color(QPalette::Mid));
}

QColor focusOutlineColour(const QPalette &palette) {
    return outlineReadableFrom(palette, palette.color(QPalette::Highlight));
}
