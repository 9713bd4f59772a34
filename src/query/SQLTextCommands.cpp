#include "SQLTextCommands.h"

#include <QRegularExpression>
#include <algorithm>

namespace SQLTextCommands {

namespace {
// Line feed, vertical tab, form feed, carriage return, next line and the
// Unicode line and paragraph separators.
bool isLineBreak(QChar c) {
    const char16_t u = c.unicode();
    return (u >= 0x0A && u <= 0x0D) || u == 0x85 || u == 0x2028 || u == 0x2029;
}

// The end of the line that starts at start: after its line break (a CR LF
// pair counts as one), or the text's end.
qsizetype lineEnd(const QString &text, qsizetype start) {
    for (qsizetype i = start; i < text.size(); ++i) {
        if (!isLineBreak(text[i]))
            continue;
        if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n')
            return i + 2;
        return i + 1;
    }
    return text.size();
}

QString indentedLine(const QString &line, bool outdent) {
    if (!outdent)
        return u'\t' + line;
    static const QRegularExpression leading(QStringLiteral("^ {0,3}[ \\t]"));
    QString changed = line;
    return changed.replace(leading, QString());
}
} // namespace

qsizetype lineStart(const QString &text, qsizetype position) {
    for (qsizetype i = std::min(position, text.size()) - 1; i >= 0; --i) {
        if (isLineBreak(text[i]))
            return i + 1;
    }
    return 0;
}

std::optional<Change> indentLines(const QString &text, const QList<TextRange> &ranges, bool outdent) {
    if (std::none_of(ranges.begin(), ranges.end(), [](const TextRange &r) { return r.length > 0; }))
        return std::nullopt;
    // The touched lines, each once, in text order.
    QList<TextRange> lines;
    for (const TextRange &range : ranges) {
        for (qsizetype start = lineStart(text, range.location); start < range.end() && start < text.size();) {
            const qsizetype end = lineEnd(text, start);
            const TextRange line{start, end - start};
            if (!lines.contains(line))
                lines << line;
            start = end;
        }
    }
    std::sort(lines.begin(), lines.end(),
              [](const TextRange &a, const TextRange &b) { return a.location < b.location; });
    Change change;
    qsizetype shift = 0;
    for (const TextRange &line : lines) {
        const QString replaced = indentedLine(text.mid(line.location, line.length), outdent);
        change.replacements << Replacement{line, replaced};
        change.newSelection << TextRange{line.location + shift, replaced.size()};
        shift += replaced.size() - line.length;
    }
    return change;
}

Replacement newlineKeepingIndentation(const QString &text, const TextRange &selection) {
    const qsizetype start = lineStart(text, selection.location);
    qsizetype end = start;
    while (end < selection.location && (text[end] == u' ' || text[end] == u'\t'))
        ++end;
    return Replacement{selection, u'\n' + text.mid(start, end - start)};
}

QString textToExecute(const QString &text, const QList<TextRange> &ranges) {
    QString joined;
    for (const TextRange &range : ranges) {
        if (range.length > 0)
            joined += text.mid(range.location, range.length);
    }
    return joined.isEmpty() ? text : joined;
}

QString applied(const QString &text, const QList<Replacement> &replacements) {
    QString result = text;
    // From the last to the first, so that earlier ranges stay where they are.
    for (auto it = replacements.rbegin(); it != replacements.rend(); ++it)
        result.replace(it->range.location, it->range.length, it->text);
    return result;
}

} // namespace SQLTextCommands
