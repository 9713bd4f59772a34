#pragma once

#include <QLocale>
#include <QString>

// The date form the program shows: between the short date (3/2/24, which
// reads differently in every country) and the long one; the long one without
// its weekday, with the month abbreviated ("Feb 3, 2024", "3. Feb. 2024").
QString mediumDateFormat(const QLocale &locale);
