#include "PropertyList.h"

#include <QStringDecoder>

#include <cmath>
#include <limits>

namespace PropertyList {

namespace {
// Property-list dates count seconds from 2001-01-01 UTC.
const QDateTime &epoch() {
    static const QDateTime e(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
    return e;
}
plist_type typeOf(plist_t node) {
    return node ? plist_get_node_type(node) : PLIST_NONE;
}
} // namespace

Owned parse(const QByteArray &data, Shape *shape) {
    const Shape found =
        data.isEmpty() || data.size() > std::numeric_limits<uint32_t>::max() ? Shape::Unparsable : shapeOf(data);
    if (shape)
        *shape = found;
    if (found != Shape::Parsable)
        return nullptr;
    plist_t root = nullptr;
    plist_from_memory(data.constData(), uint32_t(data.size()), &root);
    return Owned(root);
}

QByteArray toBinary(plist_t node) {
    char *bytes = nullptr;
    uint32_t length = 0;
    plist_to_bin(node, &bytes, &length);
    QByteArray out(bytes, bytes ? qsizetype(length) : 0);
    plist_to_bin_free(bytes);
    return out;
}

plist_t newString(const QString &value) {
    return plist_new_string(value.toUtf8().constData());
}

plist_t newData(const QByteArray &value) {
    return plist_new_data(value.constData(), uint64_t(value.size()));
}

plist_t newDate(const QDateTime &value) {
    const qint64 ms = epoch().msecsTo(value);
    const qint64 sec = ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
    return plist_new_date(int32_t(sec), int32_t((ms - sec * 1000) * 1000));
}

plist_t newInteger(qint64 value) {
    return plist_new_uint(uint64_t(value));
}

std::optional<QString> string(plist_t node) {
    if (typeOf(node) != PLIST_STRING)
        return std::nullopt;
    uint64_t length = 0;
    const char *text = plist_get_string_ptr(node, &length);
    // A text that begins with a byte-order mark keeps it.
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    return decoder.decode(QByteArrayView(text, qsizetype(length)));
}

std::optional<QByteArray> data(plist_t node) {
    if (typeOf(node) != PLIST_DATA)
        return std::nullopt;
    uint64_t length = 0;
    const char *bytes = plist_get_data_ptr(node, &length);
    return QByteArray(bytes, qsizetype(length));
}

std::optional<QDateTime> date(plist_t node) {
    if (typeOf(node) != PLIST_DATE)
        return std::nullopt;
    int32_t sec = 0, usec = 0;
    plist_get_date_val(node, &sec, &usec);
    return epoch().addMSecs(qint64(sec) * 1000 + usec / 1000);
}

std::optional<qint64> integer(plist_t node) {
    switch (typeOf(node)) {
    case PLIST_UINT: {
        uint64_t v = 0;
        plist_get_uint_val(node, &v);
        return qint64(v); // negative integers come back in two's complement
    }
    case PLIST_REAL: {
        double v = 0;
        plist_get_real_val(node, &v);
        if (!std::isfinite(v) || std::fabs(v) > 9.0e18)
            return std::nullopt;
        return qint64(v);
    }
    case PLIST_BOOLEAN:
        return plist_bool_val_is_true(node) ? 1 : 0;
    default:
        return std::nullopt;
    }
}

std::optional<bool> boolean(plist_t node) {
    if (typeOf(node) == PLIST_REAL) {
        double v = 0;
        plist_get_real_val(node, &v);
        return v != 0;
    }
    auto v = integer(node);
    return v ? std::optional<bool>(*v != 0) : std::nullopt;
}

bool isDictionary(plist_t node) {
    return typeOf(node) == PLIST_DICT;
}

bool isArray(plist_t node) {
    return typeOf(node) == PLIST_ARRAY;
}

} // namespace PropertyList
