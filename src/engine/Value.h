#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <variant>

// One value of a row: SQL NULL, a boolean, an integer (int2/4/8), a float4, a
// float8, bytes (bytea), text (every other type keeps the server's own text,
// numeric and arrays included), and in edited rows the DEFAULT and MULTIPLE
// markers. A boolean is never an integer.
class Value {
public:
    enum class Kind : uint8_t { Null, Bool, Int, Float, Double, Bytes, String, Default, Multiple };
    struct DefaultMarker {
        bool operator==(const DefaultMarker &) const = default;
    };
    struct MultipleMarker {
        bool operator==(const MultipleMarker &) const = default;
    };

    Value() = default; // NULL
    static Value null() { return Value(); }
    static Value fromBool(bool b) { return Value(b); }
    static Value fromInt(int64_t i) { return Value(i); }
    static Value fromFloat(float f) { return Value(f); }
    static Value fromDouble(double d) { return Value(d); }
    static Value fromBytes(QByteArray b) { return Value(Storage(std::in_place_index<5>, std::move(b))); }
    static Value fromString(QString s) { return Value(Storage(std::in_place_index<6>, std::move(s))); }
    static Value defaultMarker() { return Value(DefaultMarker{}); }
    static Value multipleMarker() { return Value(MultipleMarker{}); }

    Kind kind() const { return static_cast<Kind>(m_v.index()); }
    bool isNull() const { return kind() == Kind::Null; }
    bool isDefault() const { return kind() == Kind::Default; }
    bool isMultiple() const { return kind() == Kind::Multiple; }

    bool toBool() const { return std::get<1>(m_v); }
    int64_t toInt() const { return std::get<2>(m_v); }
    float toFloat() const { return std::get<3>(m_v); }
    double toDouble() const { return std::get<4>(m_v); }
    const QByteArray &toBytes() const { return std::get<5>(m_v); }
    const QString &toString() const { return std::get<6>(m_v); }

    // Text as the server would write it ("t"/"f" for booleans, shortest round-trip
    // digits for floats, independent of the user's locale); empty for NULL.
    QString description() const;

    // The same value as stored and shown: floats compare by their bits, so
    // -0 is not 0, except that every NaN is the same NaN (the server writes
    // them all as "NaN"). IEEE comparison would make a NaN differ from itself,
    // and an untouched NaN cell look edited.
    bool operator==(const Value &other) const;

private:
    using Storage =
        std::variant<std::monostate, bool, int64_t, float, double, QByteArray, QString, DefaultMarker, MultipleMarker>;
    explicit Value(Storage v) : m_v(std::move(v)) {}
    template <class T> explicit Value(T v) : m_v(std::move(v)) {}
    Storage m_v;
};
