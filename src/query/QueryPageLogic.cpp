#include "QueryPageLogic.h"

#include "browser/ZNTTablePageLogic.h"
#include "engine/PGError.h"
#include "engine/ZNTColumn.h"

#include <QRegularExpression>
#include <cmath>

namespace QueryPageLogic {

namespace {
constexpr QChar kNoBreakSpace(0x00A0);
constexpr qsizetype kNotificationLength = 1000;
} // namespace

QString elapsedText(double seconds) {
    if (seconds == 0)
        return QString();
    return QString::asprintf("%.1f", seconds) + kNoBreakSpace + u's';
}

QString finalTimeText(double seconds) {
    if (seconds < 1)
        return QString::asprintf("%.0f", seconds * 1000) + kNoBreakSpace + QStringLiteral("ms");
    return QString::asprintf("%.1f", seconds) + kNoBreakSpace + u's';
}

QString notificationTitle(const QString &timeText) {
    return QStringLiteral("Query Completed in %1").arg(timeText);
}

QString notificationBody(const QString &sql) {
    QString body = sql;
    if (body.size() > kNotificationLength) {
        // Never half of a character beyond the basic plane.
        body.truncate(body.at(kNotificationLength - 1).isHighSurrogate() ? kNotificationLength - 1
                                                                         : kNotificationLength);
    }
    static const QRegularExpression whiteSpace(QStringLiteral("\\s+"), QRegularExpression::UseUnicodePropertiesOption);
    return body.replace(whiteSpace, QStringLiteral(" "));
}

QString statusText(const QList<ResultMessage> &results, const QString &errorDescription, bool connectionLost) {
    QString text;
    bool errorTold = false;
    for (const ResultMessage &result : results) {
        text += result.text + u'\n';
        errorTold = errorTold || result.isError;
    }
    if (!errorTold && !errorDescription.isEmpty())
        text += errorDescription + u'\n';
    if (connectionLost)
        text = PGError::withReconnectAdvice(text.chopped(text.endsWith(u'\n') ? 1 : 0)) + u'\n';
    return text;
}

QList<SelectorItem> selectorItems(const std::vector<bool> &resultHasRows) {
    using Kind = SelectorItem::Kind;
    QList<SelectorItem> items{{Kind::Item, QStringLiteral("Query Status"), -1, true}};
    int number = 0;
    for (size_t index = 0; index < resultHasRows.size(); ++index) {
        if (!resultHasRows[index])
            continue;
        if (number == 0)
            items << SelectorItem{Kind::Separator, QString(), -1, false};
        items << SelectorItem{Kind::Item, QStringLiteral("Result %1").arg(++number), int(index), true};
    }
    if (number == 0) {
        items << SelectorItem{Kind::Separator, QString(), -1, false};
        items << SelectorItem{Kind::Item, QStringLiteral("No Query Results"), -1, false};
    }
    return items;
}

QString rowCountText(bool hasResult, qsizetype rows, qsizetype selectedRows) {
    if (!hasResult)
        return QString();
    if (selectedRows > 0)
        return QStringLiteral("%1 of %2 selected").arg(selectedRows).arg(rows);
    return rows == 1 ? QStringLiteral("1 row") : QStringLiteral("%1 rows").arg(rows);
}

Sort sortAfterClick(const Sort &current, int clicked) {
    if (clicked != current.column)
        return {clicked, true};
    if (current.ascending)
        return {clicked, false};
    return {-1, false};
}

double storedWidth(const QVariant &attnums, const QVariant &widths, qint64 attnum) {
    if (attnum == 0 || attnums.typeId() != QMetaType::QVariantMap || widths.typeId() != QMetaType::QVariantMap)
        return 0;
    const QVariantMap numbers = attnums.toMap();
    const QVariantMap stored = widths.toMap();
    for (auto it = numbers.begin(); it != numbers.end(); ++it) {
        bool isNumber = false;
        if (it.value().toLongLong(&isNumber) != attnum || !isNumber)
            continue;
        const QVariant width = stored.value(it.key());
        bool ok = false;
        const double value = width.toDouble(&ok);
        if (ok && std::isfinite(value) && value > 0 && value < 100000)
            return value;
    }
    return 0;
}

double columnWidth(const ZNTColumn &column, double recordedWidth, double storedWidth) {
    if (recordedWidth > 0)
        return recordedWidth;
    return ZNTTablePageLogic::columnWidth(column, storedWidth);
}

bool keepsColumns(const QStringList &gridTitles, const std::vector<int> &gridLogicalOrder,
                  const QStringList &resultColumnNames, const std::vector<int> &columnIndices) {
    const qsizetype count = resultColumnNames.size();
    if (gridTitles.size() != count || qsizetype(gridLogicalOrder.size()) != count ||
        qsizetype(columnIndices.size()) != count)
        return false;
    for (qsizetype i = 0; i < count; ++i) {
        const int shown = columnIndices[size_t(i)];
        if (gridLogicalOrder[size_t(i)] != i || shown < 0 || shown >= count ||
            gridTitles[i] != resultColumnNames[shown])
            return false;
    }
    return true;
}

} // namespace QueryPageLogic
