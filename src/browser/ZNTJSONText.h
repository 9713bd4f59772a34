#pragma once

#include <QString>
#include <QStringView>
#include <optional>

// JSON text read token by token, so that re-indenting a value changes nothing
// but white space: numbers keep every digit, objects keep their key order and
// repeated keys (a json column stores all of them). What a value holds is the
// server's business; this only lays it out.
namespace ZNTJSONText {

// Deeper nesting is refused: each level indents every line below it.
constexpr int kMaxDepth = 512;
// A longer indented text is refused rather than made.
constexpr qsizetype kMaxIndentedLength = 64 * 1024 * 1024;

// Whether text is one JSON value (a bare number, string, true, false or null
// counts), with JSON white space around it, and its indented form stays within
// the limits above.
bool canIndent(QStringView text);

// The value with one member or element a line, four spaces a level, ": "
// after each key, "{}" and "[]" for empty ones; every token as it was written.
// Nothing when canIndent() is false.
std::optional<QString> indented(QStringView text);

} // namespace ZNTJSONText
