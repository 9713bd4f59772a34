// Server access for the engine's tests: plain libpq handles on the test cluster
// (for oracles and set-up) and connection parameters for ZNTConnection.
#pragma once

#include "engine/LibpqHandles.h"
#include "engine/ZNTConnection.h"
#include "engine/ZNTQuery.h"
#include "platform/Main.h"
#include "platform/NotificationCenter.h"
#include "support/PostgresSupport.h"

#include <QVariantMap>
#include <gtest/gtest.h>

inline QVariantMap serverParams(const QString &database = QStringLiteral("postgres")) {
    return testServerParams(database);
}

// The single value of a one-row, one-column query, as the server's text.
inline QByteArray scalar(PGconn *conn, const QString &sql) {
    PGresultPtr result(PQexec(conn, sql.toUtf8().constData()));
    EXPECT_EQ(PQresultStatus(result.get()), PGRES_TUPLES_OK) << sql.toStdString() << ": " << PQerrorMessage(conn);
    if (PQresultStatus(result.get()) != PGRES_TUPLES_OK || PQntuples(result.get()) < 1)
        return QByteArray();
    return QByteArray(PQgetvalue(result.get(), 0, 0), PQgetlength(result.get(), 0, 0));
}

// Readable failure messages for nested lists of values.
inline void PrintTo(const QVariant &value, std::ostream *os) {
    if (!value.isValid()) {
        *os << "NULL";
    } else if (value.typeId() == QMetaType::QVariantList) {
        *os << "{";
        const QVariantList list = value.toList();
        for (qsizetype i = 0; i < list.size(); ++i) {
            *os << (i ? ", " : "");
            PrintTo(list[i], os);
        }
        *os << "}";
    } else {
        *os << '"' << value.toString().toStdString() << '"';
    }
}

// Everything one query announces, in the order the main thread saw it.
class NotificationRecorder {
public:
    struct Entry {
        QString name;
        std::shared_ptr<void> object;
        Notification notification;
    };

    explicit NotificationRecorder(const std::shared_ptr<ZNTQuery> &query) : m_query(query) {
        NotificationCenter &center = NotificationCenter::defaultCenter();
        for (const QString &name : {ZNTQuery::NewResultNotification, ZNTQuery::NewRowNotification,
                                    ZNTQuery::ResultDoneNotification, ZNTQuery::DoneNotification})
            m_tokens.push_back(center.observe(name, query.get(), [this](const Notification &n) { record(n); }));
        for (const QString &name : {ZNTResult::NewRowNotification, ZNTResult::DoneNotification})
            m_tokens.push_back(center.observe(name, nullptr, [this](const Notification &n) {
                for (const auto &result : m_query->results())
                    if (result.get() == n.object.get())
                        record(n);
            }));
    }

    bool waitForDone(std::chrono::milliseconds timeout = std::chrono::seconds(30)) {
        return pumpUntil([this] { return count(ZNTQuery::DoneNotification) > 0; }, timeout);
    }
    int count(const QString &name) const {
        int n = 0;
        for (const Entry &e : m_entries)
            n += e.name == name;
        return n;
    }
    QStringList names() const {
        QStringList list;
        for (const Entry &e : m_entries)
            list << e.name;
        return list;
    }
    const std::vector<Entry> &entries() const { return m_entries; }
    bool allOnMainThread() const { return m_allOnMain; }

private:
    void record(const Notification &n) {
        m_allOnMain = m_allOnMain && Main::isMainThread();
        m_entries.push_back(Entry{n.name, n.object, n});
    }

    std::shared_ptr<ZNTQuery> m_query;
    std::vector<ObserverToken> m_tokens;
    std::vector<Entry> m_entries;
    bool m_allOnMain = true;
};

// Runs one text on the connection and waits for its end.
inline std::shared_ptr<ZNTQuery> runQuery(const std::shared_ptr<ZNTConnection> &connection, const QString &sql,
                                          bool autoReconnect = true, const QStringList &params = {}) {
    auto query = ZNTQuery::create(sql, params);
    NotificationRecorder recorder(query);
    query->executeInBackgroundOnConnection(connection, autoReconnect);
    EXPECT_TRUE(recorder.waitForDone()) << sql.toStdString();
    return query;
}
