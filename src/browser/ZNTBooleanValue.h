#pragma once

#include "engine/Value.h"

#include <QStringView>
#include <optional>

// The choices of the row editor's boolean cell and how a value selects one.
namespace ZNTBooleanValue {

enum Tag : int {
    TagNone = 0, // no choice fits (text the server would refuse)
    TagTrue = 1,
    TagFalse = 2,
    TagNull = 3,
    TagDefault = 4,
    TagMultiple = 5, // shown, never chosen: the selected rows differ
};

// The choice a value selects. Text (typed in the grid, or what a query row
// holds) is read as PostgreSQL reads a boolean: t, true, y, yes, on, 1 and f,
// false, n, no, off, 0 in any case, with white space around them, and what
// the server takes of their beginnings ("tr", "of", ...); other text selects
// none.
int tagForValue(const Value &value);
// The value a choice sets; MULTIPLE and none set nothing.
std::optional<Value> valueForTag(int tag);
// PostgreSQL's reading of a boolean's text; nothing for text it refuses.
std::optional<bool> parseBoolean(QStringView text);

} // namespace ZNTBooleanValue
