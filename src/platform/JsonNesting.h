#pragma once

#include <QByteArrayView>

// JSON from outside (a filter file, a settings database) is parsed by Qt's
// recursive parser, which goes a thousand levels deep: its nesting is measured
// first, without recursion. Any thread.
namespace JsonNesting {
// The deepest nesting of arrays and objects in a JSON text, strings skipped;
// stops counting once it passes limit.
int depth(QByteArrayView json, int limit);
} // namespace JsonNesting
