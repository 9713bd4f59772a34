// Shared by the action tests: a database of their own on the test server, with
// a plain libpq connection as the oracle beside the program's connection, and
// waiting for an action's end.
#pragma once

#include "engine/LibpqHandles.h"
#include "engine/ZNTConnection.h"
#include "engine/ZNTQuery.h"
#include "model/ZNTDatabase.h"
#include "model/ZNTServer.h"
#include "model/ZNTTable.h"
#include "model/ZNTTableMetadata.h"
#include "platform/NotificationCenter.h"
#include "support/PostgresSupport.h"

#include <QApplication>
#include <QCoreApplication>
#include <QPushButton>
#include <QVariantMap>
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <ostream>
#include <unistd.h>

// QStrings in assertion messages.
inline std::ostream &operator<<(std::ostream &os, const QString &text) {
    return os << text.toStdString();
}

namespace actiontest {

// Every row of a query, each as its values' texts joined with "|" (NULL as
// "<null>"), in the order the query gives them.
inline QStringList rows(PGconn *conn, const QString &sql) {
    PGresultPtr result(PQexec(conn, sql.toUtf8().constData()));
    EXPECT_EQ(PQresultStatus(result.get()), PGRES_TUPLES_OK) << sql.toStdString() << ": " << PQerrorMessage(conn);
    QStringList list;
    for (int r = 0; r < PQntuples(result.get()); ++r) {
        QStringList values;
        for (int c = 0; c < PQnfields(result.get()); ++c)
            values << (PQgetisnull(result.get(), r, c) ? QStringLiteral("<null>")
                                                       : QString::fromUtf8(PQgetvalue(result.get(), r, c)));
        list << values.join(QLatin1Char('|'));
    }
    return list;
}

inline QString scalar(PGconn *conn, const QString &sql) {
    return rows(conn, sql).value(0);
}

// A database of the test's own, made fresh for each test executable and
// dropped at its end, with the server object and database item the actions
// take, and an oracle connection beside the program's.
class ScratchDatabase {
public:
    explicit ScratchDatabase(const QString &prefix)
        : name(QStringLiteral("%1_%2").arg(prefix).arg(getpid())), m_admin(adminConnection()) {
        exec(m_admin.get(), QStringLiteral("DROP DATABASE IF EXISTS %1").arg(name));
        exec(m_admin.get(), QStringLiteral("CREATE DATABASE %1").arg(name));
        oracle = adminConnection(name);
        server = ZNTServer::create(testServerParams(name));
        database = server->mainDatabase();
        connection = database->connection();
        // Connected before any statement is built: some depend on the server's version.
        auto query = ZNTQuery::create(QStringLiteral("SELECT 1"));
        bool done = false;
        ObserverToken token = NotificationCenter::defaultCenter().observe(ZNTQuery::DoneNotification, query.get(),
                                                                          [&](const Notification &) { done = true; });
        query->executeInBackgroundOnConnection(connection, true);
        EXPECT_TRUE(pumpUntil([&] { return done; }, std::chrono::seconds(30)));
        EXPECT_GT(connection->serverVersion(), 90000u);
    }
    ~ScratchDatabase() {
        connection.reset();
        database.reset();
        server.reset();
        oracle.reset();
        // Connections close on their queues; FORCE ends any that linger.
        exec(m_admin.get(), QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(name));
    }

    const QString name;
    PGconnPtr oracle;
    std::shared_ptr<ZNTServer> server;
    std::shared_ptr<ZNTDatabase> database;
    std::shared_ptr<ZNTConnection> connection;

private:
    PGconnPtr m_admin;
};

// The base of the action suites: a scratch database of the suite's own, made
// in SetUpTestSuite by makeDatabase, with the statements of schema run in it,
// and dropped when the suite ends.
class ScratchDatabaseSuite : public ::testing::Test {
protected:
    static void makeDatabase(const QString &prefix, const QString &schema = QString()) {
        db = new ScratchDatabase(prefix);
        if (!schema.isEmpty())
            exec(db->oracle.get(), schema);
    }
    static void TearDownTestSuite() {
        delete db;
        db = nullptr;
    }

    static inline ScratchDatabase *db = nullptr;
};

// Counts the done notifications of one sender, and waits for them.
class DoneWaiter {
public:
    explicit DoneWaiter(const void *sender)
        : m_token(NotificationCenter::defaultCenter().observe(ZNTQuery::DoneNotification, sender,
                                                              [this](const Notification &) { ++count; })) {}
    bool wait(int expected = 1, std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
        return pumpUntil([&] { return count >= expected; }, timeout);
    }
    int count = 0;

private:
    ObserverToken m_token;
};

// Runs an action (or a drop) on connection and waits for its end; false when it
// did not end in time.
template <class A> bool runToEnd(const std::shared_ptr<A> &action, const std::shared_ptr<ZNTConnection> &connection) {
    DoneWaiter done(action.get());
    action->executeInBackgroundOnConnection(connection);
    return done.wait();
}

inline QString errorText(const ErrorPtr &error) {
    return error ? error->localizedDescription() + " / " + error->localizedRecoverySuggestion() : QString();
}

// Prepares action for connection and runs it there; the prepared text. Both
// must succeed.
template <class A>
QString preparedAndRun(const std::shared_ptr<A> &action, const std::shared_ptr<ZNTConnection> &connection) {
    ErrorPtr error;
    EXPECT_TRUE(action->prepareSQLForConnection(*connection, &error)) << errorText(error);
    const QString text = action->sql();
    EXPECT_TRUE(runToEnd(action, connection));
    EXPECT_TRUE(action->success() && !action->error()) << text << "\n" << errorText(action->error());
    return text;
}

// Closes the sheets a failed assertion left up, so that they do not block the
// next test.
inline void closeModals() {
    while (QWidget *modal = QApplication::activeModalWidget()) {
        modal->hide();
        modal->deleteLater();
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// The modal widget that is up now, once it has come up.
template <class W = QWidget> W *waitForModal(std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    W *found = nullptr;
    pumpUntil([&] { return (found = qobject_cast<W *>(QApplication::activeModalWidget())) != nullptr; }, timeout);
    return found;
}

// Makes a sheet the active window, as the user's click on it would, so that
// its key equivalents answer.
inline void activate(QWidget *window) {
    window->raise();
    window->activateWindow();
    QApplication::setActiveWindow(window);
    pumpUntil([&] { return QApplication::activeWindow() == window && window->isVisible(); }, std::chrono::seconds(2));
}

inline QPushButton *buttonTitled(QWidget *widget, const QString &title) {
    if (!widget)
        return nullptr;
    for (QPushButton *b : widget->findChildren<QPushButton *>())
        if (b->text() == title && b->isVisible())
            return b;
    return nullptr;
}

// Loads the structure of relation and waits for it; a failed load is fatal.
inline void assertStructureLoaded(const std::shared_ptr<ZNTTable> &relation, const QString &name) {
    auto metadata = relation->metadata();
    ASSERT_TRUE(metadata) << name;
    bool done = metadata->metadataState() == ZNTTableMetadata::ZNTMetadataStateLoaded;
    bool failed = false;
    ObserverToken token = NotificationCenter::defaultCenter().observe(ZNTTableMetadata::DidLoadNotification,
                                                                      metadata.get(), [&](const Notification &n) {
                                                                          failed = n.has(ZNTTableMetadata::ErrorKey);
                                                                          done = true;
                                                                      });
    if (!done)
        metadata->load();
    ASSERT_TRUE(pumpUntil([&] { return done; }, std::chrono::seconds(30))) << name;
    ASSERT_FALSE(failed) << name;
    ASSERT_EQ(metadata->metadataState(), ZNTTableMetadata::ZNTMetadataStateLoaded) << name;
}

// A relation of the scratch database with its structure loaded. A failed load
// is fatal: call it inside ASSERT_NO_FATAL_FAILURE.
template <class T = ZNTTable>
std::shared_ptr<T> loadedRelation(const std::shared_ptr<ZNTDatabase> &database, const QString &name,
                                  const QString &schema = "public") {
    std::shared_ptr<T> relation = T::create(name, schema, database);
    assertStructureLoaded(relation, name);
    return relation;
}

template <class T = ZNTTable>
std::shared_ptr<T> loadedRelation(const ScratchDatabase &db, const QString &name, const QString &schema = "public") {
    return loadedRelation<T>(db.database, name, schema);
}

// The columns and rows of a query run through the program's own connection, as
// the table browser holds them.
struct Page {
    ZNTColumnList columns;
    QList<QList<Value>> rows;
};

// Runs sql and reads its rows; a query that fails is fatal.
inline void readPage(const std::shared_ptr<ZNTConnection> &connection, const QString &sql, Page *page) {
    auto query = ZNTQuery::create(sql);
    bool done = false;
    ObserverToken token = NotificationCenter::defaultCenter().observe(ZNTQuery::DoneNotification, query.get(),
                                                                      [&](const Notification &) { done = true; });
    query->executeInBackgroundOnConnection(connection, true);
    ASSERT_TRUE(pumpUntil([&] { return done; }, std::chrono::seconds(30))) << sql;
    const auto results = query->results();
    ASSERT_FALSE(query->error()) << sql << (query->error() ? query->error()->localizedRecoverySuggestion() : "");
    if (results.isEmpty() || !results.first()->rows())
        return;
    page->columns = results.first()->columns();
    const auto store = results.first()->rows();
    for (qsizetype r = 0; r < store->rowCount(); ++r) {
        const std::vector<Value> values = store->rowAt(r);
        page->rows.append(QList<Value>(values.begin(), values.end()));
    }
}

// The page of sql. A query that fails is fatal: call it inside
// ASSERT_NO_FATAL_FAILURE when the test goes on to use the rows.
inline Page page(const std::shared_ptr<ZNTConnection> &connection, const QString &sql) {
    Page page;
    readPage(connection, sql, &page);
    return page;
}

} // namespace actiontest
