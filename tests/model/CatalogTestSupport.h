// Helpers of the catalog, metadata and row tests: a scratch database per test on
// the test server, psql as the oracle, and waiting for listings, loads and
// queries to end.
#pragma once

#include "engine/LibpqHandles.h"
#include "engine/ZNTConnection.h"
#include "engine/ZNTQuery.h"
#include "model/ZNTDatabase.h"
#include "model/ZNTObjectQuery.h"
#include "model/ZNTServer.h"
#include "model/ZNTTable.h"
#include "model/ZNTTableMetadata.h"
#include "support/PostgresSupport.h"

#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

inline void PrintTo(const QStringList &texts, std::ostream *os) {
    *os << '[' << texts.join(QStringLiteral(", ")).toStdString() << ']';
}

// Runs sql with psql as the admin user on database; the unaligned, tuples-only
// output without its last newline. Fails the test when psql fails.
inline QString psql(const QString &database, const QString &sql) {
    QProcess process;
    process.start(QStringLiteral("psql"), {"-X", "-q", "-A", "-t", "-v", "ON_ERROR_STOP=1", "-h",
                                           requiredEnv("TRELLAN_PG_HOST"), "-p", requiredEnv("TRELLAN_PG_PORT"), "-U",
                                           requiredEnv("TRELLAN_PG_ADMIN_USER"), "-d", database, "-c", sql});
    EXPECT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 0) << sql.toStdString() << ": " << process.readAllStandardError().toStdString();
    QString out = QString::fromUtf8(process.readAllStandardOutput());
    if (out.endsWith(u'\n'))
        out.chop(1);
    return out;
}

// A database of its own for one test, made afresh and dropped at the end; tests
// run side by side, each in its own process.
class ScratchDatabase {
public:
    ScratchDatabase() {
        const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
        name = QStringLiteral("t_%1_%2").arg(info->test_suite_name(), info->name()).toLower();
        name.replace(QRegularExpression(QStringLiteral("[^a-z0-9_]")), QStringLiteral("_"));
        name = name.left(63);
        psql("postgres", QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(name));
        psql("postgres", QStringLiteral("CREATE DATABASE %1").arg(name));
    }
    ~ScratchDatabase() { psql("postgres", QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(name)); }
    QString run(const QString &sql) const { return psql(name, sql); }
    QString name;
};

// A server object on the scratch database, its main connection connected and
// its version read (the first "connected" comes before that).
inline std::shared_ptr<ZNTServer> connectedServer(const QString &database, const QString &user = QString()) {
    auto server = ZNTServer::create(testServerParams(database, user));
    auto connection = server->mainConnection();
    connection->connectInBackground();
    EXPECT_TRUE(pumpUntil(
        [&] {
            return connection->state() == ZNTConnection::ZNTConnectionStateConnected && connection->serverVersion();
        },
        std::chrono::seconds(30)));
    return server;
}

// Runs a listing to its end; the number of NewObject notifications it posted.
inline int runListing(const std::shared_ptr<ZNTObjectQuery> &listing, std::vector<ZNTObjectList> *seen = nullptr) {
    int announced = 0;
    bool done = false;
    NotificationCenter &center = NotificationCenter::defaultCenter();
    ObserverToken grew =
        center.observe(ZNTObjectQuery::NewObjectNotification, listing.get(), [&](const Notification &) {
            ++announced;
            if (seen)
                seen->push_back(listing->objects().value_or(ZNTObjectList()));
        });
    ObserverToken ended =
        center.observe(ZNTObjectQuery::DoneNotification, listing.get(), [&](const Notification &) { done = true; });
    listing->executeInBackground();
    EXPECT_TRUE(pumpUntil([&] { return done; }, std::chrono::seconds(60)));
    return announced;
}

// "kind schema.name" of relations, "kind name" of other items.
inline QStringList describe(const ZNTObjectList &objects) {
    QStringList texts;
    for (const auto &object : objects) {
        if (auto table = std::dynamic_pointer_cast<ZNTTable>(object))
            texts << QStringLiteral("%1 %2.%3").arg(table->kind(), table->schemaName(), table->name());
        else
            texts << QStringLiteral("%1 %2").arg(int(object->objectKind())).arg(object->name());
    }
    return texts;
}

// Loads metadata and waits for its end; the error it reported, or null.
inline ErrorPtr loadAndWait(const std::shared_ptr<ZNTTableMetadata> &metadata) {
    bool done = false;
    ErrorPtr error;
    ObserverToken token = NotificationCenter::defaultCenter().observe(
        ZNTTableMetadata::DidLoadNotification, metadata.get(), [&](const Notification &n) {
            done = true;
            error = n.value<ErrorPtr>(ZNTTableMetadata::ErrorKey).value_or(nullptr);
        });
    metadata->load();
    EXPECT_TRUE(pumpUntil([&] { return done; }, std::chrono::seconds(30)));
    return error;
}

// Loads metadata and waits until it stands loaded; anything else is a fatal
// failure. A helper that hands the loaded relation on calls this, and its
// callers wrap the helper in ASSERT_NO_FATAL_FAILURE, so that a test whose
// structure failed to load ends there instead of using it.
inline void assertLoaded(const std::shared_ptr<ZNTTableMetadata> &metadata) {
    ASSERT_NE(metadata, nullptr);
    ASSERT_EQ(loadAndWait(metadata), nullptr);
    ASSERT_EQ(metadata->metadataState(), ZNTTableMetadata::ZNTMetadataStateLoaded);
}

// Runs a query on connection and waits for its end.
inline void runAndWait(const std::shared_ptr<ZNTQuery> &query, const std::shared_ptr<ZNTConnection> &connection) {
    bool done = false;
    ObserverToken token = NotificationCenter::defaultCenter().observe(ZNTQuery::DoneNotification, query.get(),
                                                                      [&](const Notification &) { done = true; });
    query->executeInBackgroundOnConnection(connection, true);
    EXPECT_TRUE(pumpUntil([&] { return done; }, std::chrono::seconds(60)));
}

// Every row of the first result, each value as its text, fields joined by "|"
// (as psql -A prints them).
inline QStringList rowTexts(const std::shared_ptr<ZNTQuery> &query) {
    QStringList rows;
    const auto results = query->results();
    if (results.isEmpty() || !results[0]->rows())
        return rows;
    const auto store = results[0]->rows();
    for (qsizetype r = 0; r < store->rowCount(); ++r) {
        QStringList fields;
        for (int c = 0; c < store->columnCount(); ++c)
            fields << store->displayText(r, c);
        rows << fields.join(u'|');
    }
    return rows;
}
