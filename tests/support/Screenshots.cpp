#include "Screenshots.h"

#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QHash>
#include <QLineEdit>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QWidget>
#include <cmath>

QString screenshotPath(const QString &folder, const QString &file) {
    QDir dir(QCoreApplication::applicationDirPath());
    const QString relative = QStringLiteral("screenshots/") + folder;
    dir.mkpath(relative);
    return dir.filePath(relative + QLatin1Char('/') + file);
}

bool saveScreenshot(const QImage &image, const QString &folder, const QString &file) {
    return image.save(screenshotPath(folder, file));
}

bool saveScreenshot(QWidget *widget, const QString &folder, const QString &file) {
    return widget->grab().save(screenshotPath(folder, file));
}

QPalette darkPalette() {
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
    // Disabled controls read dimmed, as in a desktop's dark palette.
    const QColor dimmed(0x7a, 0x7a, 0x7a);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, dimmed);
    return p;
}

namespace {
double relativeLuminance(const QColor &colour) {
    auto channel = [](double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); };
    const QColor c = colour.toRgb();
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}
} // namespace

double wcagContrast(const QColor &a, const QColor &b) {
    const double la = relativeLuminance(a), lb = relativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QColor commonColour(const QImage &image, const QRect &rect) {
    QHash<QRgb, int> counts;
    const QRect r = rect & image.rect();
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            ++counts[image.pixel(x, y) | 0xff000000u];
    QRgb best = 0;
    int most = -1;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        if (it.value() > most) {
            most = it.value();
            best = it.key();
        }
    }
    return QColor::fromRgb(best);
}

double strongestContrast(const QImage &image, const QRect &rect, const QColor &background) {
    double best = 1.0;
    const QRect r = rect & image.rect();
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            best = std::max(best, wcagContrast(QColor::fromRgb(image.pixel(x, y)), background));
    return best;
}

double weakestOutline(const QImage &shot, int ratio, QWidget *root, QString *which) {
    double weakest = 21.0;
    for (QWidget *control : root->findChildren<QWidget *>()) {
        const auto *line = qobject_cast<QLineEdit *>(control);
        const auto *spin = qobject_cast<QAbstractSpinBox *>(control);
        const bool box = qobject_cast<QCheckBox *>(control), radio = qobject_cast<QRadioButton *>(control);
        const bool framed = (line && line->hasFrame()) || (spin && spin->hasFrame());
        if (!(box || radio || framed) || !control->isVisibleTo(root->window()))
            continue;
        QStyleOptionButton option;
        option.initFrom(control);
        const QRect outlined = box ? control->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, control)
                               : radio
                                   ? control->style()->subElementRect(QStyle::SE_RadioButtonIndicator, &option, control)
                                   : control->rect();
        const QPoint edge = control->mapTo(control->window(), QPoint(outlined.left(), outlined.center().y()));
        const QColor panel = shot.pixelColor((edge.x() - 2) * ratio, edge.y() * ratio);
        // Two columns and rows about the middle of the left edge: a round
        // outline's leftmost pixel lies in one of them.
        const double contrast =
            strongestContrast(shot, QRect(edge.x() * ratio, (edge.y() - 1) * ratio, 2 * ratio, 2 * ratio), panel);
        if (contrast < weakest && which)
            *which =
                QString::fromUtf8(control->metaObject()->className()) + u' ' + control->property("text").toString();
        weakest = std::min(weakest, contrast);
    }
    return weakest;
}
