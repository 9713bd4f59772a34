#include "DataCellLines.h"
#include "platform/ProgramError.h"

#include <QFont>
#include <QFontMetricsF>
#include <QTextLayout>

namespace {

// 117 entries, picked by (hash of the text XOR the font's key) mod 117; a slot
// is overwritten by the next text that lands on it.
constexpr size_t kSlots = 117;
const QChar kEllipsis(0x2026);

struct Slot {
    bool used = false;
    QString text;
    quint64 fontKey = 0;
    bool twoLines = false;
    qreal width = -1;
    bool wholeOnFirstLine = false;
    DataCellLines lines;
};

struct Cache {
    Slot entries[kSlots];
    DataCellLineStatistics statistics;
    QFont lastFont;
    quint64 lastFontKey = 0;
};

// Built once and kept for the life of the process: laid-out text holds font
// engines that must not be released after the application has gone.
Cache &cache() {
    static Cache *c = new Cache;
    return *c;
}

quint64 fontKey(const QFont &font) {
    Cache &c = cache();
    if (c.lastFontKey == 0 || font != c.lastFont) {
        c.lastFont = font;
        c.lastFontKey = qHash(font.key()) | 1;
    }
    return c.lastFontKey;
}

QString withLineSeparators(const QString &text) {
    if (!text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    QString s = text;
    s.replace(QLatin1String("\r\n"), QString(QChar::LineSeparator));
    s.replace(QLatin1Char('\n'), QChar::LineSeparator);
    s.replace(QLatin1Char('\r'), QChar::LineSeparator);
    return s;
}

QString withoutTrailingSeparator(QString s) {
    if (s.endsWith(QChar::LineSeparator))
        s.chop(1);
    return s;
}

// The first line of text at width, broken the given way (NoWrap: unbroken).
struct FirstLine {
    int length = 0;
    qreal width = 0;
    qreal height = 0;
    std::unique_ptr<QTextLayout> layout;
};

FirstLine firstLine(const QString &text, const QFont &font, qreal width, QTextOption::WrapMode mode, bool keep) {
    auto layout = std::make_unique<QTextLayout>(text, font);
    QTextOption option;
    option.setWrapMode(mode);
    layout->setTextOption(option);
    layout->setCacheEnabled(keep);
    layout->beginLayout();
    QTextLine line = layout->createLine();
    if (line.isValid() && mode != QTextOption::NoWrap)
        line.setLineWidth(width);
    layout->endLayout();
    FirstLine out;
    if (!line.isValid())
        return out;
    out.length = line.textLength();
    out.width = line.naturalTextWidth();
    out.height = line.height();
    if (keep)
        out.layout = std::move(layout);
    return out;
}

void layOutTwoLines(const QString &text, const QFont &font, qreal width, Slot &slot) {
    DataCellLines &out = slot.lines;
    const QString shaped = withLineSeparators(text);
    FirstLine one = firstLine(shaped, font, width, QTextOption::WrapAtWordBoundaryOrAnywhere, true);
    out.line1 = std::move(one.layout);
    out.line1Text = withoutTrailingSeparator(shaped.left(one.length));
    out.lineHeight = one.height;
    out.naturalWidth = one.width;
    slot.wholeOnFirstLine = one.length >= shaped.size();
    out.twoLines = !slot.wholeOnFirstLine;
    out.line2.reset();
    out.line2Text.clear();
    out.truncated = false;
    if (!out.twoLines)
        return;
    const QString rest = shaped.mid(one.length);
    const int count = firstLine(rest, font, width, QTextOption::WrapAnywhere, false).length;
    QString second = withoutTrailingSeparator(rest.left(count));
    if (one.length + count < shaped.size())
        second += kEllipsis;
    out.line2Text = QFontMetricsF(font).elidedText(second, Qt::ElideRight, width);
    out.truncated = out.line2Text != withoutTrailingSeparator(rest);
    FirstLine two = firstLine(out.line2Text, font, width, QTextOption::NoWrap, true);
    out.line2 = std::move(two.layout);
    out.naturalWidth = std::max(out.naturalWidth, two.width);
}

void layOutOneLine(const QString &text, const QFont &font, qreal width, Slot &slot) {
    DataCellLines &out = slot.lines;
    const QString shaped = withLineSeparators(text);
    const qsizetype br = shaped.indexOf(QChar::LineSeparator);
    FirstLine one;
    if (br < 0) {
        one = firstLine(shaped, font, width, QTextOption::NoWrap, true);
        slot.wholeOnFirstLine = one.width <= width;
        out.line1Text = shaped;
    }
    if (br >= 0 || !slot.wholeOnFirstLine) {
        const QString first = br < 0 ? shaped : shaped.left(br) + kEllipsis;
        out.line1Text = QFontMetricsF(font).elidedText(first, Qt::ElideRight, width);
        one = firstLine(out.line1Text, font, width, QTextOption::NoWrap, true);
        slot.wholeOnFirstLine = false;
    }
    out.line1 = std::move(one.layout);
    out.lineHeight = one.height;
    out.naturalWidth = one.width;
    out.line2.reset();
    out.line2Text.clear();
    out.twoLines = false;
    out.truncated = !slot.wholeOnFirstLine;
}

} // namespace

const DataCellLines &dataCellLines(const QString &text, const QFont &font, qreal width, bool twoLines) {
    // The cache is shared without a lock.
    requireMainThread("dataCellLines");
    Cache &c = cache();
    const quint64 key = fontKey(font);
    Slot &slot = c.entries[(quint64(qHash(text)) ^ key) % kSlots];
    if (slot.used && slot.fontKey == key && slot.twoLines == twoLines && slot.text == text) {
        // A line that held the whole text still does in a wider column.
        if (slot.width == width || (slot.wholeOnFirstLine && width >= slot.lines.naturalWidth)) {
            ++c.statistics.hits;
            return slot.lines;
        }
    }
    ++c.statistics.layouts;
    slot.used = true;
    slot.text = text;
    slot.fontKey = key;
    slot.twoLines = twoLines;
    slot.width = width;
    if (twoLines)
        layOutTwoLines(text, font, width, slot);
    else
        layOutOneLine(text, font, width, slot);
    return slot.lines;
}

DataCellLineStatistics dataCellLineStatistics() {
    return cache().statistics;
}

void resetDataCellLines() {
    Cache &c = cache();
    for (Slot &slot : c.entries)
        slot = Slot();
    c.statistics = {};
}
