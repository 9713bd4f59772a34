#pragma once

#include <QColor>
#include <QList>

// Colours chosen for how well they read against what is behind them, by the
// contrast ratio of the web's accessibility guidelines (1 to 21; 4.5 for text,
// 3 for the outline of a control). main thread or any

// The ratio of the relative luminances of two opaque colours, lighter over darker.
double contrastRatio(const QColor &a, const QColor &b);

// ink laid over background at the least opacity from faintest up that reads
// at ratio against background (opaque), or ink itself when no opacity does.
QColor inkReadableOn(const QColor &background, const QColor &ink, double ratio, double faintest);

// paint, at its own opacity, laid over ground (opaque): the colour that shows.
QColor laidOver(const QColor &ground, const QColor &paint);

// start moved towards target, in steps of 1/20, until it reads at ratio
// against every opaque ground (judged as painted, in 8-bit channels); target
// itself when no step does.
QColor readableTowards(const QColor &start, const QColor &target, const QList<QColor> &grounds, double ratio);

class QPalette;

// The outline of a control (a field, a check box, a radio button) filled with
// the palette's Base on a panel of its Window: its Mid where that reads a
// little over 3:1 against both (so that a round outline's antialiased edge
// still reaches 3:1), else Mid moved towards its Text until it does (a dark
// palette's Mid all but vanishes on its Base and Window). A colour that is not
// opaque is not read against.
QColor fieldOutlineColour(const QPalette &palette);
// The same for a control that has the keyboard's focus, from the palette's
// Highlight (a dark palette's focus blue all but vanishes on its Window).
QColor focusOutlineColour(const QPalette &palette);
