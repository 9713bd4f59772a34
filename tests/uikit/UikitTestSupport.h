// Shared by the interface-kit tests: fixed fonts and palettes, so that sizes
// and pixels do not depend on the machine, and screenshots.
#pragma once

#include "support/Screenshots.h"
#include "uikit/ReadableScrollBarStyle.h"

#include <QApplication>
#include <QDir>
#include <QFont>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>
#include <QWidget>

namespace uikittest {

// DejaVu Sans (fonts-dejavu-core) at 9 pt, the Fusion style (with the program's
// scroll bars) and its light palette.
inline void useFixedLook() {
    QApplication::setStyle(new ReadableScrollBarStyle(QStyleFactory::create(QStringLiteral("Fusion"))));
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSize(9);
    font.setStyleHint(QFont::SansSerif, QFont::PreferAntialias);
    QApplication::setFont(font);
    QApplication::setPalette(QApplication::style()->standardPalette());
}

// Makes window the active window, as a click on it would.
inline void activate(QWidget *window) {
    window->show();
    window->raise();
    window->activateWindow();
    QApplication::setActiveWindow(window);
}

} // namespace uikittest
