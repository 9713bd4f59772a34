#include "DateFormatting.h"

#include <QRegularExpression>

QString mediumDateFormat(const QLocale &locale) {
    static const QRegularExpression weekday(QStringLiteral("[,\\s]*dddd[,.\\s]*"));
    QString format = locale.dateFormat(QLocale::LongFormat);
    format.remove(weekday);
    format.replace(QStringLiteral("MMMM"), QStringLiteral("MMM"));
    return format.trimmed();
}
