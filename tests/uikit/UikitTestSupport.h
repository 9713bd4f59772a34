// Shared by the interface-kit tests: fixed fonts and palettes, so that sizes
// and pixels do not depend on the machine, and the folder for screenshots.
#pragma once

#include <QApplication>
#include <QDir>
#include <QFont>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>
#include <QWidget>

namespace uikittest {

// DejaVu Sans (fonts-dejavu-core) at 9 pt, the Fusion style and its light palette.
inline void useFixedLook() {
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSize(9);
    font.setStyleHint(QFont::SansSerif, QFont::PreferAntialias);
    QApplication::setFont(font);
    QApplication::setPalette(QApplication::style()->standardPalette());
}

inline QPalette darkPalette() {
    QPalette p;
    const QColor window(0x2b, 0x2b, 0x2b), base(0x1e, 0x1e, 0x1e), text(0xe8, 0xe8, 0xe8);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, QColor(0x26, 0x26, 0x26));
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, QColor(0x35, 0x35, 0x35));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::Highlight, QColor(0x2f, 0x65, 0xca));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Light, QColor(0x50, 0x50, 0x50));
    p.setColor(QPalette::Midlight, QColor(0x42, 0x42, 0x42));
    p.setColor(QPalette::Mid, QColor(0x5a, 0x5a, 0x5a));
    p.setColor(QPalette::Dark, QColor(0x18, 0x18, 0x18));
    p.setColor(QPalette::Shadow, Qt::black);
    p.setColor(QPalette::PlaceholderText, QColor(0x90, 0x90, 0x90));
    p.setColor(QPalette::ToolTipBase, window);
    p.setColor(QPalette::ToolTipText, text);
    return p;
}

// build/tests/<name>: screenshots a reviewer can look at.
inline QString shotPath(const QString &folder, const QString &file) {
    QDir dir(QApplication::applicationDirPath());
    dir.mkpath(folder);
    return dir.filePath(folder + QLatin1Char('/') + file);
}

// Makes window the active window, as a click on it would.
inline void activate(QWidget *window) {
    window->show();
    window->raise();
    window->activateWindow();
    QApplication::setActiveWindow(window);
}

} // namespace uikittest
