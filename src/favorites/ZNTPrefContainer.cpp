#include "ZNTPrefContainer.h"

#include "SqliteStatement.h"
#include "ZNTFavoritesStore.h"
#include "platform/JsonNesting.h"
#include "platform/Log.h"
#include "platform/ProgramError.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>
#include <algorithm>
#include <cmath>
#include <sqlite3.h>

ZNTPrefContainerProperty::ZNTPrefContainerProperty(std::weak_ptr<ZNTFavoritesStore> store, qint64 id, State state,
                                                   qint64 containerID, qint64 favoriteID, unsigned type, QString json)
    : ZNTStoredObject(std::move(store), id, state), m_containerID(containerID), m_favoriteID(favoriteID), m_type(type),
      m_json(std::move(json)) {}

void ZNTPrefContainerProperty::setJson(const QString &json) {
    m_json = json;
    didChange(SaveDelay::ViewSetting);
}

bool ZNTPrefContainerProperty::writeChange(sqlite3 *db, ErrorPtr *error) {
    if (storeState() == State::Deleted) {
        SqliteStatement remove(db, "DELETE FROM prefContainerProperty WHERE id = ?1");
        return remove.bind(1, objectID()).run(error, QStringLiteral("Deleting a view setting"));
    }
    if (storeState() == State::Updated) {
        SqliteStatement update(db, "UPDATE prefContainerProperty SET json = ?2 WHERE id = ?1");
        update.bind(1, objectID()).bind(2, m_json);
        return update.run(error, QStringLiteral("Saving a view setting"));
    }
    // A new row never replaces one that is there already.
    SqliteStatement insert(db, "INSERT INTO prefContainerProperty (id, prefContainer, type, json) "
                               "VALUES (?1, ?2, ?3, ?4)");
    insert.bind(1, objectID()).bind(2, m_containerID).bind(3, qint64(m_type)).bind(4, m_json);
    return insert.run(error, QStringLiteral("Saving a view setting"));
}

ZNTPrefContainer::ZNTPrefContainer(std::weak_ptr<ZNTFavoritesStore> store, qint64 id, State state, qint64 favoriteID,
                                   unsigned type, QString databaseName, QString schemaName, QString objectName,
                                   std::optional<qint64> oid)
    : ZNTStoredObject(std::move(store), id, state), m_favoriteID(favoriteID), m_type(type),
      m_databaseName(std::move(databaseName)), m_schemaName(std::move(schemaName)), m_objectName(std::move(objectName)),
      m_oid(oid) {}

void ZNTPrefContainer::setOid(qint64 oid) {
    requireMainThread("ZNTPrefContainer::setOid");
    if (m_oid == oid)
        return;
    m_oid = oid;
    didChange(SaveDelay::ViewSetting);
}

bool ZNTPrefContainer::writeChange(sqlite3 *db, ErrorPtr *error) {
    if (storeState() == State::Deleted) {
        SqliteStatement remove(db, "DELETE FROM prefContainer WHERE id = ?1");
        return remove.bind(1, objectID()).run(error, QStringLiteral("Deleting view settings"));
    }
    if (storeState() == State::Updated) {
        SqliteStatement update(db, "UPDATE prefContainer SET oid = ?2 WHERE id = ?1");
        update.bind(1, objectID()).bind(2, m_oid);
        return update.run(error, QStringLiteral("Saving view settings"));
    }
    // A new row never replaces one that is there already.
    SqliteStatement insert(db, R"sql(
        INSERT INTO prefContainer (id, favorite, type, databaseName, schemaName, objectName, oid)
        VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7))sql");
    insert.bind(1, objectID()).bind(2, m_favoriteID).bind(3, qint64(m_type)).bind(4, m_databaseName);
    insert.bind(5, m_schemaName).bind(6, m_objectName).bind(7, m_oid);
    return insert.run(error, QStringLiteral("Saving view settings"));
}

std::shared_ptr<ZNTPrefContainerProperty> ZNTPrefContainer::cachedPropertyForType(unsigned type) {
    requireMainThread("ZNTPrefContainer::cachedPropertyForType");
    if (auto it = m_cachedProperties.find(type); it != m_cachedProperties.end() && !it->second->isDeleted())
        return it->second;
    auto store = this->store();
    if (!store || isDeleted() || !store->isOpen())
        return nullptr;
    auto found = store->fetchProperties(objectID(), type);
    if (found.empty())
        return nullptr;
    // One property per type is meant to exist; extra ones are dropped as read.
    for (size_t i = 1; i < found.size(); ++i)
        store->deleteObject(found[i].get(), true);
    m_cachedProperties[type] = found.front();
    return found.front();
}

QVariant ZNTPrefContainer::propertyOfType(unsigned type) {
    auto property = cachedPropertyForType(type);
    if (!property)
        return QVariant();
    QString problem;
    if (auto value = valueOfJson(property->json(), &problem))
        return *value;
    Log(QStringLiteral("error when deserializing preference: %1").arg(problem));
    return QVariant();
}

void ZNTPrefContainer::setProperty(const QVariant &value, unsigned type) {
    const QString json = jsonText(value);
    if (json.isNull()) {
        Log(QStringLiteral("Failed to serialize database object property: %1 is not a JSON value")
                .arg(QString::fromLatin1(value.typeName() ? value.typeName() : "an invalid value")));
        return;
    }
    auto store = this->store();
    if (!store || isDeleted() || !store->isOpen())
        return;
    auto property = cachedPropertyForType(type);
    if (!property) {
        property = store->insertProperty(objectID(), type);
        m_cachedProperties[type] = property;
    }
    property->setJson(json);
}

void ZNTPrefContainer::unsetPropertyOfType(unsigned type) {
    auto property = cachedPropertyForType(type);
    if (!property)
        return;
    m_cachedProperties.erase(type);
    if (auto store = this->store())
        store->deleteObject(property.get(), true);
}

namespace {
// Only what JSON holds: QJsonValue would quietly turn a date into a string and a
// NaN into null.
bool isJsonValue(const QVariant &value) {
    switch (value.typeId()) {
    case QMetaType::Nullptr:
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::QString:
    case QMetaType::QStringList:
        return true;
    case QMetaType::Double:
    case QMetaType::Float:
        return std::isfinite(value.toDouble());
    case QMetaType::QVariantList: {
        const QVariantList list = value.toList();
        return std::all_of(list.begin(), list.end(), isJsonValue);
    }
    case QMetaType::QVariantMap: {
        const QVariantMap map = value.toMap();
        return std::all_of(map.begin(), map.end(), isJsonValue);
    }
    default:
        return false;
    }
}
} // namespace

QString ZNTPrefContainer::jsonText(const QVariant &value) {
    if (!isJsonValue(value))
        return QString();
    // A document must be an array or object: the value goes in a one-element
    // array whose brackets are then taken off.
    const QByteArray wrapped = QJsonDocument(QJsonArray{QJsonValue::fromVariant(value)}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(wrapped.mid(1, wrapped.size() - 2));
}

std::optional<QVariant> ZNTPrefContainer::valueOfJson(const QString &json, QString *problem) {
    const QByteArray utf8 = json.toUtf8();
    if (JsonNesting::depth(utf8, kMaxNestingDepth) > kMaxNestingDepth) {
        if (problem)
            *problem = QStringLiteral("nested more than %1 deep").arg(kMaxNestingDepth);
        return std::nullopt;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson("[" + utf8 + "]", &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isArray() || document.array().size() != 1) {
        if (problem)
            *problem = parseError.error != QJsonParseError::NoError ? parseError.errorString()
                                                                    : QStringLiteral("not one JSON value");
        return std::nullopt;
    }
    return document.array().first().toVariant();
}
