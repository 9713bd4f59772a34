// Finding containers, properties and history entries: one SQL look-up that
// stops at the first row still valid in memory, merged with what is only in
// memory so far, so that an answer never depends on whether a save happened.
#include "ZNTFavorite.h"
#include "ZNTFavoritesStore.h"
#include "ZNTPrefContainer.h"
#include "ZNTQueryHistoryElement.h"

#include <sqlite3.h>

namespace {
// Unlike QString's ==, a null string (an absent value, NULL in the file) is not
// the empty string.
bool sameText(const QString &a, const QString &b) {
    return a.isNull() == b.isNull() && a == b;
}
} // namespace

template <class T>
std::shared_ptr<T> ZNTFavoritesStore::liveObject(std::unordered_map<qint64, std::weak_ptr<T>> &map, qint64 id) {
    auto it = map.find(id);
    if (it == map.end())
        return nullptr;
    if (auto object = it->second.lock())
        return object;
    map.erase(it);
    return nullptr;
}

namespace {
// The pending objects of one class that pass a test.
template <class T, class Test>
std::vector<std::shared_ptr<T>> pendingObjects(const std::vector<std::shared_ptr<ZNTStoredObject>> &pending,
                                               Test test) {
    std::vector<std::shared_ptr<T>> found;
    for (const auto &object : pending) {
        if (auto typed = std::dynamic_pointer_cast<T>(object); typed && !typed->isDeleted() && test(*typed))
            found.push_back(typed);
    }
    return found;
}
} // namespace

std::shared_ptr<ZNTPrefContainer> ZNTFavoritesStore::fetchPrefContainer(qint64 favoriteID, unsigned type,
                                                                        const QString &databaseName,
                                                                        const QString &schemaName,
                                                                        const QString &objectName) {
    auto matches = [&](const ZNTPrefContainer &c) {
        return c.m_favoriteID == favoriteID && c.m_type == type && sameText(c.m_databaseName, databaseName) &&
               sameText(c.m_schemaName, schemaName) && sameText(c.m_objectName, objectName);
    };
    SqliteStatement rows(m_db.get(), R"sql(
        SELECT id, oid FROM prefContainer
        WHERE favorite = ?1 AND type = ?2 AND databaseName IS ?3 AND schemaName IS ?4 AND objectName IS ?5
        ORDER BY id)sql");
    rows.bind(1, favoriteID).bind(2, qint64(type)).bind(3, databaseName).bind(4, schemaName).bind(5, objectName);
    return firstPrefContainer(rows, matches, [&](SqliteStatement &row) {
        return new ZNTPrefContainer(weak_from_this(), row.int64(0), ZNTStoredObject::State::Saved, favoriteID, type,
                                    databaseName, schemaName, objectName, row.optionalInt64(1));
    });
}

std::shared_ptr<ZNTPrefContainer> ZNTFavoritesStore::fetchPrefContainer(qint64 favoriteID, unsigned type,
                                                                        const QString &databaseName, qint64 oid) {
    auto matches = [&](const ZNTPrefContainer &c) {
        return c.m_favoriteID == favoriteID && c.m_type == type && sameText(c.m_databaseName, databaseName) &&
               c.m_oid == oid;
    };
    // The oid is bound as the 64-bit number it is: oids above 2^31 are found too.
    SqliteStatement rows(m_db.get(), R"sql(
        SELECT id, schemaName, objectName, oid FROM prefContainer
        WHERE favorite = ?1 AND type = ?2 AND databaseName IS ?3 AND oid = ?4
        ORDER BY id)sql");
    rows.bind(1, favoriteID).bind(2, qint64(type)).bind(3, databaseName).bind(4, oid);
    return firstPrefContainer(rows, matches, [&](SqliteStatement &row) {
        return new ZNTPrefContainer(weak_from_this(), row.int64(0), ZNTStoredObject::State::Saved, favoriteID, type,
                                    databaseName, row.text(1), row.text(2), row.optionalInt64(3));
    });
}

std::shared_ptr<ZNTPrefContainer>
ZNTFavoritesStore::firstPrefContainer(SqliteStatement &rows,
                                      const std::function<bool(const ZNTPrefContainer &)> &matches,
                                      const std::function<ZNTPrefContainer *(SqliteStatement &rows)> &make) {
    std::shared_ptr<ZNTPrefContainer> best;
    while (!best && rows.step() == SQLITE_ROW) {
        auto container = liveObject(m_containers, rows.int64(0));
        if (!container) {
            container.reset(make(rows));
            m_containers[container->objectID()] = container;
        }
        if (!container->isDeleted() && matches(*container))
            best = container;
    }
    for (const auto &candidate : pendingObjects<ZNTPrefContainer>(m_pending, matches)) {
        if (!best || candidate->objectID() < best->objectID())
            best = candidate;
    }
    return best;
}

std::shared_ptr<ZNTPrefContainer> ZNTFavoritesStore::insertPrefContainer(const std::shared_ptr<ZNTFavorite> &favorite,
                                                                         unsigned type, const QString &databaseName,
                                                                         const QString &schemaName,
                                                                         const QString &objectName) {
    std::shared_ptr<ZNTPrefContainer> container(
        new ZNTPrefContainer(weak_from_this(), nextID("prefContainer"), ZNTStoredObject::State::Inserted,
                             favorite->objectID(), type, databaseName, schemaName, objectName, std::nullopt));
    m_containers[container->objectID()] = container;
    insertObject(container, true);
    return container;
}

std::vector<std::shared_ptr<ZNTPrefContainerProperty>> ZNTFavoritesStore::fetchProperties(qint64 containerID,
                                                                                          unsigned type) {
    auto matches = [&](const ZNTPrefContainerProperty &p) {
        return p.m_containerID == containerID && p.m_type == type;
    };
    std::vector<std::shared_ptr<ZNTPrefContainerProperty>> found;
    auto container = liveObject(m_containers, containerID);
    const qint64 favoriteID = container ? container->favoriteID() : 0;
    SqliteStatement rows(m_db.get(), "SELECT id, json FROM prefContainerProperty WHERE prefContainer = ?1 AND "
                                     "type = ?2 ORDER BY id");
    rows.bind(1, containerID).bind(2, qint64(type));
    while (rows.step() == SQLITE_ROW) {
        auto property = liveObject(m_properties, rows.int64(0));
        if (!property) {
            property.reset(new ZNTPrefContainerProperty(weak_from_this(), rows.int64(0), ZNTStoredObject::State::Saved,
                                                        containerID, favoriteID, type, rows.text(1)));
            m_properties[property->objectID()] = property;
        }
        if (!property->isDeleted() && matches(*property))
            found.push_back(property);
    }
    for (const auto &candidate : pendingObjects<ZNTPrefContainerProperty>(m_pending, matches)) {
        if (std::find(found.begin(), found.end(), candidate) == found.end())
            found.push_back(candidate);
    }
    std::sort(found.begin(), found.end(), [](const auto &a, const auto &b) { return a->objectID() < b->objectID(); });
    return found;
}

std::shared_ptr<ZNTPrefContainerProperty> ZNTFavoritesStore::insertProperty(qint64 containerID, unsigned type) {
    auto container = liveObject(m_containers, containerID);
    std::shared_ptr<ZNTPrefContainerProperty> property(new ZNTPrefContainerProperty(
        weak_from_this(), nextID("prefContainerProperty"), ZNTStoredObject::State::Inserted, containerID,
        container ? container->favoriteID() : 0, type, QString()));
    m_properties[property->objectID()] = property;
    insertObject(property, true);
    return property;
}

std::shared_ptr<ZNTQueryHistoryElement> ZNTFavoritesStore::fetchHistoryElement(qint64 favoriteID, HistoryStep step,
                                                                               qint64 date) {
    // Newest-first steps take the later of two entries of one date; ties go by
    // insertion, like the dates themselves.
    const bool newestFirst = step == HistoryStep::Last || step == HistoryStep::Before;
    auto inRange = [&](const ZNTQueryHistoryElement &e) {
        return e.m_favoriteID == favoriteID && (step == HistoryStep::Before  ? e.m_date < date
                                                : step == HistoryStep::After ? e.m_date > date
                                                                             : true);
    };
    auto better = [&](const ZNTQueryHistoryElement &a, const ZNTQueryHistoryElement &b) {
        const auto ka = std::pair(a.m_date, a.objectID()), kb = std::pair(b.m_date, b.objectID());
        return newestFirst ? ka > kb : ka < kb;
    };
    static const char *const kSql[] = {
        "SELECT id, date, text, compressedText, uncompressedLength FROM queryHistoryElement "
        "WHERE favorite = ?1 ORDER BY date, id",
        "SELECT id, date, text, compressedText, uncompressedLength FROM queryHistoryElement "
        "WHERE favorite = ?1 ORDER BY date DESC, id DESC",
        "SELECT id, date, text, compressedText, uncompressedLength FROM queryHistoryElement "
        "WHERE favorite = ?1 AND date < ?2 ORDER BY date DESC, id DESC",
        "SELECT id, date, text, compressedText, uncompressedLength FROM queryHistoryElement "
        "WHERE favorite = ?1 AND date > ?2 ORDER BY date, id",
    };
    SqliteStatement rows(m_db.get(), kSql[int(step)]);
    rows.bind(1, favoriteID);
    if (step == HistoryStep::Before || step == HistoryStep::After)
        rows.bind(2, date);
    std::shared_ptr<ZNTQueryHistoryElement> best;
    while (!best && rows.step() == SQLITE_ROW) {
        auto element = liveObject(m_historyElements, rows.int64(0));
        if (!element) {
            element.reset(new ZNTQueryHistoryElement(weak_from_this(), rows.int64(0), ZNTStoredObject::State::Saved,
                                                     favoriteID, rows.int64(1), rows.text(2), rows.blob(3),
                                                     rows.optionalInt64(4)));
            m_historyElements[element->objectID()] = element;
        }
        if (!element->isDeleted())
            best = element;
    }
    for (const auto &candidate : pendingObjects<ZNTQueryHistoryElement>(m_pending, inRange)) {
        if (!best || better(*candidate, *best))
            best = candidate;
    }
    return best;
}

qint64 ZNTFavoritesStore::historyCount(qint64 favoriteID) {
    SqliteStatement count(m_db.get(), "SELECT count(*) FROM queryHistoryElement WHERE favorite = ?1");
    count.bind(1, favoriteID);
    qint64 total = count.step() == SQLITE_ROW ? count.int64(0) : 0;
    for (const auto &object : m_pending) {
        auto *element = dynamic_cast<ZNTQueryHistoryElement *>(object.get());
        if (!element || element->m_favoriteID != favoriteID)
            continue;
        if (element->storeState() == ZNTStoredObject::State::Inserted)
            ++total;
        else if (element->storeState() == ZNTStoredObject::State::Deleted)
            --total;
    }
    return total;
}

std::shared_ptr<ZNTQueryHistoryElement> ZNTFavoritesStore::insertHistoryElement(qint64 favoriteID) {
    std::shared_ptr<ZNTQueryHistoryElement> element(
        new ZNTQueryHistoryElement(weak_from_this(), nextID("queryHistoryElement"), ZNTStoredObject::State::Inserted,
                                   favoriteID, 0, QStringLiteral(""), QByteArray(), std::nullopt));
    m_historyElements[element->objectID()] = element;
    insertObject(element, false);
    return element;
}
