#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QStringList>
#include <QVariant>
#include <optional>
#include <type_traits>

// Checked reads of decoded data (property lists, JSON, user info): the value
// when the container is of the kind asked for and the element is exactly of type
// T (no conversion: a number is not a string), else nothing. They never throw,
// and may be called on any thread.
//
//     if (auto port = inDictionary<qint64>(params, QStringLiteral("port"))) ...

template <class T> std::optional<T> instanceOrNil(const QVariant &value) {
    if (value.metaType() == QMetaType::fromType<T>())
        return value.value<T>();
    return std::nullopt;
}

template <class T> std::optional<T> inArray(const QVariantList &array, qsizetype index) {
    if (index < 0 || index >= array.size())
        return std::nullopt;
    return instanceOrNil<T>(array.at(index));
}

template <class T> std::optional<T> inDictionary(const QVariantMap &dictionary, const QString &key) {
    auto it = dictionary.constFind(key);
    if (it == dictionary.constEnd())
        return std::nullopt;
    return instanceOrNil<T>(*it);
}

// A container held in a QVariant: a list (QVariantList, or QStringList for
// strings) for inArray, a map (QVariantMap or QVariantHash) for inDictionary.
template <class T> std::optional<T> inArray(const QVariant &container, qsizetype index) {
    if (container.metaType() == QMetaType::fromType<QVariantList>())
        return inArray<T>(container.toList(), index);
    if (container.metaType() == QMetaType::fromType<QStringList>()) {
        const QStringList list = container.toStringList();
        if constexpr (std::is_same_v<T, QString>) {
            if (index >= 0 && index < list.size())
                return list.at(index);
        }
    }
    return std::nullopt;
}

template <class T> std::optional<T> inDictionary(const QVariant &container, const QString &key) {
    if (container.metaType() == QMetaType::fromType<QVariantMap>())
        return inDictionary<T>(container.toMap(), key);
    if (container.metaType() == QMetaType::fromType<QVariantHash>()) {
        const QVariantHash hash = container.toHash();
        auto it = hash.constFind(key);
        if (it != hash.constEnd())
            return instanceOrNil<T>(*it);
    }
    return std::nullopt;
}

// JSON: T is QString, double, bool, QJsonObject or QJsonArray.
template <class T> std::optional<T> instanceOrNil(const QJsonValue &value) {
    if constexpr (std::is_same_v<T, QString>) {
        if (value.isString())
            return value.toString();
    } else if constexpr (std::is_same_v<T, double>) {
        if (value.isDouble())
            return value.toDouble();
    } else if constexpr (std::is_same_v<T, bool>) {
        if (value.isBool())
            return value.toBool();
    } else if constexpr (std::is_same_v<T, QJsonObject>) {
        if (value.isObject())
            return value.toObject();
    } else if constexpr (std::is_same_v<T, QJsonArray>) {
        if (value.isArray())
            return value.toArray();
    } else {
        static_assert(!sizeof(T), "JSON holds strings, numbers, booleans, objects and arrays");
    }
    return std::nullopt;
}

template <class T> std::optional<T> inArray(const QJsonArray &array, qsizetype index) {
    if (index < 0 || index >= array.size())
        return std::nullopt;
    return instanceOrNil<T>(array.at(index));
}

template <class T> std::optional<T> inDictionary(const QJsonObject &object, const QString &key) {
    auto it = object.constFind(key);
    if (it == object.constEnd())
        return std::nullopt;
    return instanceOrNil<T>(*it);
}

template <class T> std::optional<T> inArray(const QJsonValue &container, qsizetype index) {
    if (!container.isArray())
        return std::nullopt;
    return inArray<T>(container.toArray(), index);
}

template <class T> std::optional<T> inDictionary(const QJsonValue &container, const QString &key) {
    if (!container.isObject())
        return std::nullopt;
    return inDictionary<T>(container.toObject(), key);
}
