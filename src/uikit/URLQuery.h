#pragma once

#include <QMap>
#include <QString>
#include <QUrl>
#include <optional>

// The pairs of a URL's query ("?a=1&b=x+y"): nothing when the URL has no query.
// "+" stands for a blank; escapes decode as UTF-8; a pair that is not exactly
// key=value is skipped; when a key occurs more than once the first one counts.
// A value that does not decode (a broken escape, bytes that are not UTF-8)
// removes its key, also one a later pair had given; such a key skips its pair.
// Any thread.
std::optional<QMap<QString, QString>> queryDictionary(const QUrl &url);
