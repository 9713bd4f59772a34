// Errors of failed statements, read from what a real server sends.
#include "engine/PGError.h"
#include "support/PostgresSupport.h"

#include <gtest/gtest.h>

namespace {
ErrorPtr errorOf(PGconn *conn, const char *sql) {
    PGresultPtr result(PQexec(conn, sql));
    EXPECT_EQ(PQresultStatus(result.get()), PGRES_FATAL_ERROR) << sql;
    return PGError::errorWithPGresult(result.get(), QString::fromUtf8(sql));
}
} // namespace

TEST(PGError, UniqueViolationKeepsStateMessageDetailAndTwoLineSuggestion) {
    PGconnPtr conn = adminConnection();
    PGresultPtr setup(PQexec(conn.get(), "create temporary table t (id int primary key); insert into t values (1)"));
    ASSERT_EQ(PQresultStatus(setup.get()), PGRES_COMMAND_OK) << PQerrorMessage(conn.get());
    const char *sql = "insert into t values (1)";
    ErrorPtr error = errorOf(conn.get(), sql);

    EXPECT_EQ(error->domain(), kBundleIdentifier);
    EXPECT_EQ(error->code(), 1);
    EXPECT_EQ(error->localizedDescription(), "Query failed");
    const QVariantMap &info = error->userInfo();
    EXPECT_EQ(info.value("PG_DIAG_SEVERITY"), "ERROR");
    EXPECT_EQ(info.value("PG_DIAG_SQLSTATE"), "23505");
    EXPECT_EQ(info.value("PG_DIAG_TABLE_NAME"), "t");
    EXPECT_EQ(info.value("PG_DIAG_CONSTRAINT_NAME"), "t_pkey");
    EXPECT_EQ(info.value("query"), sql);
    EXPECT_FALSE(info.contains("PG_DIAG_MESSAGE_HINT"));
    const QString primary = info.value("PG_DIAG_MESSAGE_PRIMARY").toString();
    const QString detail = info.value("PG_DIAG_MESSAGE_DETAIL").toString();
    EXPECT_TRUE(primary.contains("duplicate key"));
    EXPECT_EQ(error->localizedRecoverySuggestion(), "PostgreSQL said: " + primary + "\nDetail: " + detail);
}

TEST(PGError, HintAndPositionOfAnUnknownFunction) {
    PGconnPtr conn = adminConnection();
    ErrorPtr error = errorOf(conn.get(), "select no_such_function(1)");
    const QVariantMap &info = error->userInfo();
    EXPECT_EQ(info.value("PG_DIAG_SQLSTATE"), "42883");
    EXPECT_EQ(info.value("PG_DIAG_STATEMENT_POSITION"), "8");
    EXPECT_FALSE(info.contains("PG_DIAG_MESSAGE_DETAIL"));
    EXPECT_EQ(error->localizedRecoverySuggestion(),
              "PostgreSQL said: " + info.value("PG_DIAG_MESSAGE_PRIMARY").toString() +
                  "\nHint: " + info.value("PG_DIAG_MESSAGE_HINT").toString());
}

TEST(PGError, ClientSideFailureWithoutFieldsUsesTheWholeMessage) {
    PGresultPtr result(PQmakeEmptyPGresult(nullptr, PGRES_FATAL_ERROR));
    ErrorPtr error = PGError::errorWithPGresult(result.get(), "select 1");
    QStringList diagnostics = error->userInfo().keys().filter("PG_DIAG_");
    EXPECT_TRUE(diagnostics.isEmpty()) << diagnostics.join(",").toStdString();
    EXPECT_EQ(error->userInfo().value("query"), "select 1");
    EXPECT_EQ(error->localizedRecoverySuggestion(), "PostgreSQL said: ");

    // libpq's own failure (here: nobody listens) carries text but no fields.
    PGconnPtr refused(PQconnectdb("host=127.0.0.1 port=1 connect_timeout=5"));
    ASSERT_EQ(PQstatus(refused.get()), CONNECTION_BAD);
    PGresultPtr failed(PQmakeEmptyPGresult(refused.get(), PGRES_FATAL_ERROR));
    ErrorPtr libraryError = PGError::errorWithPGresult(failed.get(), "select 2");
    EXPECT_TRUE(libraryError->userInfo().keys().filter("PG_DIAG_").isEmpty());
    const QString message = QString::fromUtf8(PQerrorMessage(refused.get()));
    ASSERT_FALSE(message.isEmpty());
    EXPECT_EQ(libraryError->localizedRecoverySuggestion(), "PostgreSQL said: " + message);

    // Shown as the reason, libpq's lines wrapped under a tab read as one sentence again.
    const ErrorPtr lost = Error::make(kBundleIdentifier, 1,
                                      {{PGError::LibpqMessageKey,
                                        "server closed the connection unexpectedly\n\tThis probably means the server "
                                        "terminated abnormally\n\tbefore or while processing the request.\n"}});
    EXPECT_EQ(PGError::reasonText(*lost), "server closed the connection unexpectedly\nThis probably means the server "
                                          "terminated abnormally before or while processing the request.");
}
