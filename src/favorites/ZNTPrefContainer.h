#pragma once

#include "ZNTStoredObject.h"
#include "model/ZNTFavoriteHandle.h"

#include <QString>
#include <QVariant>
#include <map>
#include <optional>

// The one container type: the view settings of one table-like object.
constexpr unsigned ZNTPrefContainerTypeObject = 0;

// What a container holds, one property of each type, as the table browser
// writes them.
enum ZNTPrefPropertyType : unsigned {
    ZNTPrefPropertyColumnWidths = 0,   // {column name: width}
    ZNTPrefPropertyColumnAttnums = 1,  // {column name: attribute number}
    ZNTPrefPropertySortOrder = 2,      // {"columns": [name], "ascending": [bool]}
    ZNTPrefPropertyColumnOrder = 3,    // [column identifier] in on-screen order
    ZNTPrefPropertyFilters = 4,        // [filter dictionary]
    ZNTPrefPropertyFilterBarShown = 5, // true while the filter bar is shown
};

// One stored value of a container: its type and its JSON text.
class ZNTPrefContainerProperty : public ZNTStoredObject {
public:
    unsigned type() const { return m_type; }
    QString json() const { return m_json; }
    void setJson(const QString &json);
    qint64 containerID() const { return m_containerID; }
    qint64 favoriteID() const override { return m_favoriteID; }

private:
    friend class ZNTFavoritesStore;
    ZNTPrefContainerProperty(std::weak_ptr<ZNTFavoritesStore> store, qint64 id, State state, qint64 containerID,
                             qint64 favoriteID, unsigned type, QString json);
    bool writeChange(sqlite3 *db, ErrorPtr *error) override;

    qint64 m_containerID;
    qint64 m_favoriteID;
    unsigned m_type;
    QString m_json;
};

// The view settings of one object of a favorite's database (column widths and
// order, sort, filters, the filter bar), found by database, schema and object
// name, or by the object's oid once recorded. Values are anything JSON can hold
// (a QVariantMap, a QVariantList, a string, a number, a bool, null), stored as
// JSON text; a top-level number or bool is stored as such ("1", "true").
// main thread.
class ZNTPrefContainer : public ZNTStoredObject, public ZNTPrefContainerHandle {
public:
    unsigned type() const { return m_type; }
    QString databaseName() const { return m_databaseName; }
    QString schemaName() const { return m_schemaName; }
    QString objectName() const { return m_objectName; }
    qint64 favoriteID() const override { return m_favoriteID; }
    // 0 until the relation records it.
    qint64 oid() const override { return m_oid.value_or(0); }
    void setOid(qint64 oid) override;

    // The value of the property of that type; an invalid QVariant when there is
    // none or its text is not JSON (logged).
    QVariant propertyOfType(unsigned type);
    // Stores value as the property of that type, saved 2.0 s later. A value JSON
    // cannot hold (a date, a NaN) is logged and changes nothing.
    void setProperty(const QVariant &value, unsigned type);
    void unsetPropertyOfType(unsigned type);
    // The property object of a type; the first one found is kept and any further
    // ones are deleted.
    std::shared_ptr<ZNTPrefContainerProperty> cachedPropertyForType(unsigned type);

    // value as compact JSON text (fragments allowed); null when JSON cannot hold it.
    static QString jsonText(const QVariant &value);
    // The value of a JSON text (fragments allowed); nothing when it is not JSON
    // or nests deeper than kMaxNestingDepth (what the table page stores nests
    // two deep; a settings file edited or damaged elsewhere may hold anything).
    static constexpr int kMaxNestingDepth = 16;
    static std::optional<QVariant> valueOfJson(const QString &json, QString *problem = nullptr);

private:
    friend class ZNTFavoritesStore;
    ZNTPrefContainer(std::weak_ptr<ZNTFavoritesStore> store, qint64 id, State state, qint64 favoriteID, unsigned type,
                     QString databaseName, QString schemaName, QString objectName, std::optional<qint64> oid);
    bool writeChange(sqlite3 *db, ErrorPtr *error) override;

    qint64 m_favoriteID;
    unsigned m_type;
    QString m_databaseName;
    QString m_schemaName;
    QString m_objectName;
    std::optional<qint64> m_oid;
    std::map<unsigned, std::shared_ptr<ZNTPrefContainerProperty>> m_cachedProperties;
};
