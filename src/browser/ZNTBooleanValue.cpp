#include "ZNTBooleanValue.h"

namespace ZNTBooleanValue {

namespace {
// A beginning of word of at least minimum characters, in any case.
bool startsWord(QStringView text, QStringView word, qsizetype minimum) {
    return text.size() >= minimum && text.size() <= word.size() && word.startsWith(text, Qt::CaseInsensitive);
}
} // namespace

std::optional<bool> parseBoolean(QStringView text) {
    text = text.trimmed();
    if (text.isEmpty())
        return std::nullopt;
    // The server takes a unique beginning of each word: "o" alone could be on or off.
    if (startsWord(text, u"true", 1) || startsWord(text, u"yes", 1) || startsWord(text, u"on", 2) || text == u"1")
        return true;
    if (startsWord(text, u"false", 1) || startsWord(text, u"no", 1) || startsWord(text, u"off", 2) || text == u"0")
        return false;
    return std::nullopt;
}

int tagForValue(const Value &value) {
    switch (value.kind()) {
    case Value::Kind::Null:
        return TagNull;
    case Value::Kind::Default:
        return TagDefault;
    case Value::Kind::Multiple:
        return TagMultiple;
    case Value::Kind::Bool:
        return value.toBool() ? TagTrue : TagFalse;
    case Value::Kind::String:
    default: {
        const std::optional<bool> b =
            parseBoolean(value.kind() == Value::Kind::String ? value.toString() : value.description());
        return b ? (*b ? TagTrue : TagFalse) : TagNone;
    }
    }
}

std::optional<Value> valueForTag(int tag) {
    switch (tag) {
    case TagTrue:
        return Value::fromBool(true);
    case TagFalse:
        return Value::fromBool(false);
    case TagNull:
        return Value::null();
    case TagDefault:
        return Value::defaultMarker();
    default:
        return std::nullopt;
    }
}

} // namespace ZNTBooleanValue
