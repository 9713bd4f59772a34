#include "IconViewCell.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QTextLayout>
#include <algorithm>
#include <cmath>

namespace IconViewCell {
namespace {

constexpr QChar kZeroWidthSpace(0x200B);
constexpr int kLines = 3;

// A line without the blanks it ends in, which the wrap leaves at its end and
// which would push a centred line to the left.
QString trimmedEnd(QString line) {
    while (!line.isEmpty() && (line.back().isSpace() || line.back() == kZeroWidthSpace))
        line.chop(1);
    return line;
}

void fillRounded(QPainter &painter, const QRectF &rect, const QColor &colour) {
    QPainterPath path;
    path.addRoundedRect(rect, 3, 3);
    painter.fillPath(path, colour);
}

} // namespace

QString wrappableName(const QString &name) {
    QString shown;
    shown.reserve(name.size() + 8);
    for (QChar c : name) {
        if (c == u'_') {
            shown += c;
            shown += kZeroWidthSpace;
        } else if (c.category() == QChar::Other_Control || c == QChar::LineSeparator ||
                   c == QChar::ParagraphSeparator) {
            shown += u' ';
        } else {
            shown += c;
        }
    }
    return shown;
}

QStringList nameLines(const QString &name, const QFont &font, int width) {
    const QString text = wrappableName(name);
    QStringList lines;
    if (text.isEmpty())
        return lines;
    // Most names fit on one line: no layout needed for them.
    if (QFontMetrics(font).horizontalAdvance(text) <= width)
        return {trimmedEnd(text)};
    QTextLayout layout(text, font);
    QTextOption option(Qt::AlignHCenter);
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        if (lines.size() == kLines - 1) {
            // The last line holds whatever is left, cut when it does not fit.
            const QString rest = trimmedEnd(text.mid(line.textStart()));
            lines << QFontMetrics(font).elidedText(rest, Qt::ElideRight, width);
            break;
        }
        lines << trimmedEnd(text.mid(line.textStart(), line.textLength()));
    }
    layout.endLayout();
    return lines;
}

int textHeight(const QFont &font) {
    return kLines * QFontMetrics(font).lineSpacing();
}

QSize naturalSize(const QIcon &image) {
    if (image.isNull())
        return QSize();
    QSize largest;
    for (const QSize &size : image.availableSizes()) {
        if (size.width() * size.height() > largest.width() * largest.height())
            largest = size;
    }
    // An icon without sizes of its own is drawn as large as there is room for.
    return largest.isEmpty() ? QSize(1 << 12, 1 << 12) : largest;
}

Geometry measure(const QRect &frame, const QSize &imageSize, const QStringList &lines, const QFont &font) {
    Geometry geometry;
    const QFontMetrics metrics(font);
    const int h3 = textHeight(font);
    const double area = frame.height() - (h3 + 8);
    const int textTop = frame.y() + frame.height() - h3;
    if (!imageSize.isEmpty() && area > 0) {
        const double iw = imageSize.width(), ih = imageSize.height();
        const double s = std::min({1.0, frame.width() / iw, area / ih});
        geometry.icon =
            QRect(int(std::lround(frame.x() + frame.width() / 2.0 - iw * s / 2)),
                  int(std::lround(frame.y() + area - ih * s)), int(std::lround(iw * s)), int(std::lround(ih * s)));
        geometry.iconHit =
            QRect(geometry.icon.x(), geometry.icon.y(), geometry.icon.width(), textTop - geometry.icon.y());
    }
    geometry.text = QRect(frame.x(), textTop, frame.width(), h3);
    int textWidth = 0;
    for (const QString &line : lines)
        textWidth = std::max(textWidth, metrics.horizontalAdvance(line));
    const int textLinesHeight = int(lines.size()) * metrics.lineSpacing();
    const int boxWidth = 2 * int(std::lround(textWidth / 2.0)) + 6;
    geometry.nameBox = QRect(int(std::floor(frame.x() + frame.width() / 2.0 - boxWidth / 2.0)), textTop, boxWidth,
                             textLinesHeight + 1);
    return geometry;
}

void draw(QPainter &painter, const Geometry &geometry, const QPixmap &image, const QStringList &lines,
          const QFont &font, bool selected, const Colours &colours) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    if (selected) {
        fillRounded(painter, geometry.nameBox, colours.nameFill);
        if (!geometry.icon.isEmpty())
            fillRounded(painter, geometry.icon.adjusted(-4, -4, 4, 4), colours.backdrop);
    }
    painter.setFont(font);
    painter.setPen(selected ? colours.selectedText : colours.text);
    const int lineSpacing = QFontMetrics(font).lineSpacing();
    QRect line(geometry.text.x(), geometry.text.y(), geometry.text.width(), lineSpacing);
    for (const QString &text : lines) {
        // Wider than the cell only by the ellipsis's rounding: centred all the same.
        painter.drawText(line.adjusted(-8, 0, 8, 0), Qt::AlignHCenter | Qt::AlignTop | Qt::TextSingleLine, text);
        line.translate(0, lineSpacing);
    }
    if (!image.isNull() && !geometry.icon.isEmpty()) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawPixmap(geometry.icon, image);
    }
    painter.restore();
}

} // namespace IconViewCell
