#pragma once

#include "ZNTActionQuery.h"

#include <QPointer>
#include <functional>
#include <memory>

class QCheckBox;
class QWidget;

// Drops the tables, views and materialized views the user selected: a
// confirmation sheet with a Cascade option, then one query of DROP statements
// on the connection of the selection's database. No progress sheet; a failure
// is shown as an error sheet. The run succeeds only when every DROP came back
// as a command result. Like the actions, it keeps itself alive while it runs
// and posts ZNTQuery::DoneNotification (object: this) when it ends.
// main thread
class ZNTObjectDeleteQuery : public std::enable_shared_from_this<ZNTObjectDeleteQuery> {
public:
    explicit ZNTObjectDeleteQuery(const ZNTActionObjects &objects);

    // Refusals are plain alert sheets and do not call handler; otherwise handler
    // (may be empty) gets whether everything was dropped.
    void engageWithWindow(QWidget *window, std::function<void(bool)> handler);
    void executeInBackgroundOnConnection(const std::shared_ptr<ZNTConnection> &connection);
    void cancel();

    // The statements for connection, or null with *error set.
    QString sqlForConnection(const ZNTConnection &connection, ErrorPtr *error) const;

    ZNTActionObjects objectsToDelete() const { return m_objectsToDelete; }
    bool success() const { return m_success; }
    ErrorPtr error() const { return m_error; }
    bool dropCascade() const { return m_dropCascade; }
    void setDropCascade(bool cascade) { m_dropCascade = cascade; }
    std::shared_ptr<ZNTQuery> sqlQuery() const { return m_sqlQuery; }

private:
    bool refuse(QWidget *window) const;
    QString selectionName() const;
    void confirmed(QWidget *window, bool cascade, std::function<void(bool)> handler);
    void didFinish(const Notification &notification);
    void postDone();

    std::shared_ptr<ZNTQuery> m_sqlQuery;
    bool m_success = false;
    bool m_dropCascade = false;
    const ZNTActionObjects m_objectsToDelete;
    ErrorPtr m_error;
    ObserverToken m_queryObserver;
    ObserverToken m_doneObserver;
    std::shared_ptr<ZNTObjectDeleteQuery> m_running;
};
