#pragma once

#include <QColor>

// Colours chosen for how well they read against what is behind them, by the
// contrast ratio of the web's accessibility guidelines (1 to 21; 4.5 for text,
// 3 for the outline of a control). main thread or any

// The ratio of the relative luminances of two opaque colours, lighter over darker.
double contrastRatio(const QColor &a, const QColor &b);

// ink laid over background at the least opacity from faintest up that reads
// at ratio against background (opaque), or ink itself when no opacity does.
QColor inkReadableOn(const QColor &background, const QColor &ink, double ratio, double faintest);

class QPalette;

// The outline of an editable field on the palette's Base: its Mid where that
// reads at 3:1, else its Text mixed into Base until it does (a dark palette's
// Mid all but vanishes on its Base).
QColor fieldOutlineColour(const QPalette &palette);
