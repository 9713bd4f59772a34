#pragma once

#include "ZNTObject.h"

#include <QHash>
#include <concepts>
#include <memory>

// An item of the object tree as the key of a container (QHash, QSet,
// std::unordered_map): keys are equal when their items are (isEqual), and hash
// by the item's hash, so an item finds the entry made for an equal item of
// another listing, or of another class (a view finds its table). The key holds
// the item itself: items keep their identity fields for life.
class ZNTObjectKey {
public:
    ZNTObjectKey() = default;
    template <class T>
    requires std::derived_from<T, ZNTObject> ZNTObjectKey(std::shared_ptr<T> object) : m_object(std::move(object)) {}

    const std::shared_ptr<ZNTObject> &object() const { return m_object; }
    template <class T> std::shared_ptr<T> as() const { return std::dynamic_pointer_cast<T>(m_object); }
    bool isNull() const { return !m_object; }

    bool operator==(const ZNTObjectKey &other) const {
        if (m_object == other.m_object)
            return true;
        return m_object && other.m_object && m_object->isEqual(*other.m_object);
    }
    size_t hash() const { return m_object ? m_object->hash() : 0; }

private:
    std::shared_ptr<ZNTObject> m_object;
};

inline size_t qHash(const ZNTObjectKey &key, size_t seed = 0) {
    return qHash(quint64(key.hash()), seed);
}

template <> struct std::hash<ZNTObjectKey> {
    size_t operator()(const ZNTObjectKey &key) const { return key.hash(); }
};
