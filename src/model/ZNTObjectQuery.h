#pragma once

#include "ZNTObject.h"
#include "engine/RowStore.h"
#include "platform/Error.h"
#include "platform/NotificationCenter.h"

#include <QList>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

class ZNTConnection;
class ZNTQuery;
class ZNTResult;

// A background listing of catalog objects: the children of a tree item, or the
// databases or tablespaces of a server. It runs one statement text, turns each
// row into an item and keeps the items found so far in objects().
//
// Use: make one (or take an item's descendantQuery()), setForSidebar(true) for
// the sidebar, observe NewObjectNotification and DoneNotification with the
// listing as object, then executeInBackground(). On each NewObjectNotification
// objects() has grown; on DoneNotification it is complete and error() tells
// whether the statement failed (objects() then holds what arrived before). A
// listing runs once: make a new one for every listing. Made, started and
// observed on the main thread; the listing stops observing its statement when
// it is done or destroyed, and cancel() ends it early (reported as done).
class ZNTObjectQuery : public std::enable_shared_from_this<ZNTObjectQuery> {
public:
    static inline const QString NewObjectNotification = QStringLiteral("ZNTNewObjectNotification");
    // The name ZNTQuery posts too; told apart by the object.
    static inline const QString DoneNotification = QStringLiteral("ZNTQueryDoneNotification");

    virtual ~ZNTObjectQuery();

    virtual void executeInBackground() = 0;
    void cancel();

    // Empty before the first rows for the database listings, absent for the
    // server and schema listings.
    std::optional<ZNTObjectList> objects() const;
    ErrorPtr error() const;
    bool forSidebar() const { return m_forSidebar; }
    void setForSidebar(bool forSidebar) { m_forSidebar = forSidebar; }

protected:
    explicit ZNTObjectQuery(std::optional<ZNTObjectList> initialObjects = std::nullopt);

    // Runs sql on connection with automatic reconnection; observeResults also
    // delivers each new result to newResult().
    void start(const QString &sql, const QString &statusMessage, const std::shared_ptr<ZNTConnection> &connection,
               bool observeResults);
    virtual void newResult(const ZNTResult &result) {}
    // A batch of rows of the statement's current result.
    virtual void newRows(const RowRange &rows) = 0;

    // The rows of the first result not made into items yet, for listings of one
    // statement that count on row positions.
    void takeRowsOfFirstResult(const std::function<std::shared_ptr<ZNTObject>(const RowRange &, qsizetype)> &make);
    qsizetype collectedCount() const { return m_collected ? m_collected->size() : 0; }
    void append(const ZNTObjectList &items);
    // Publishes the collected items and announces them.
    void publish();

private:
    void queryDone();

    bool m_forSidebar = false;
    mutable std::mutex m_mutex;
    std::optional<ZNTObjectList> m_objects;
    ErrorPtr m_error;
    std::shared_ptr<ZNTQuery> m_sqlQuery;
    std::optional<ZNTObjectList> m_collected;
    std::vector<ObserverToken> m_observers;
};

// Texts of row values as catalog listings read them: null unless text.
QString catalogText(const RowStore &rows, qsizetype row, int column);
QString catalogText(const RowRange &rows, qsizetype row, int column);
// A number's integer value; 0 for NULL and anything not a number.
qint64 catalogInteger(const RowRange &rows, qsizetype row, int column);
