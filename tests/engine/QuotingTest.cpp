// Our quoting against libpq's own escaping functions on a live connection, and
// against the server, which must read every quoted text back as the original.
#include "engine/Quoting.h"
#include "TestSupport.h"
#include "engine/LibpqHandles.h"
#include "engine/ZNTConnection.h"
#include "platform/ProgramError.h"

#include <gtest/gtest.h>
#include <random>

namespace {
PGconnPtr oracleConnection(const char *extraOptions = "") {
    const QString info = QStringLiteral("host=%1 port=%2 user=%3 dbname=postgres client_encoding=UTF8 %4")
                             .arg(requiredEnv("TRELLAN_PG_HOST"), requiredEnv("TRELLAN_PG_PORT"),
                                  requiredEnv("TRELLAN_PG_ADMIN_USER"), QString::fromLatin1(extraOptions));
    PGconnPtr conn(PQconnectdb(info.toUtf8().constData()));
    EXPECT_EQ(PQstatus(conn.get()), CONNECTION_OK) << PQerrorMessage(conn.get());
    return conn;
}

std::optional<QByteArray> libpqLiteral(PGconn *conn, const QByteArray &text) {
    char *escaped = PQescapeLiteral(conn, text.constData(), size_t(text.size()));
    if (!escaped)
        return std::nullopt;
    QByteArray result(escaped);
    PQfreemem(escaped);
    return result;
}

std::optional<QByteArray> libpqIdentifier(PGconn *conn, const QByteArray &text) {
    char *escaped = PQescapeIdentifier(conn, text.constData(), size_t(text.size()));
    if (!escaped)
        return std::nullopt;
    QByteArray result(escaped);
    PQfreemem(escaped);
    return result;
}

QByteArray libpqBytea(PGconn *conn, const QByteArray &bytes) {
    size_t length = 0;
    unsigned char *escaped = PQescapeByteaConn(conn, reinterpret_cast<const unsigned char *>(bytes.constData()),
                                               size_t(bytes.size()), &length);
    QByteArray result(reinterpret_cast<const char *>(escaped));
    PQfreemem(escaped);
    return result;
}

// The server's own reading of "select <sql>": the one value, as bytes.
QByteArray selectValue(PGconn *conn, const QByteArray &expression) {
    PGresultPtr result(PQexec(conn, "select " + expression));
    EXPECT_EQ(PQresultStatus(result.get()), PGRES_TUPLES_OK) << expression.constData() << PQerrorMessage(conn);
    if (PQresultStatus(result.get()) != PGRES_TUPLES_OK)
        return {};
    return QByteArray(PQgetvalue(result.get(), 0, 0), PQgetlength(result.get(), 0, 0));
}

QList<QByteArray> namedCorpus() {
    return {
        "",
        "plain",
        "it's",
        "''",
        "back\\slash",
        "backslash then quote \\'",
        "quote then backslash '\\",
        "trailing backslash\\",
        "\"double\" quotes",
        "both \" and '",
        QStringLiteral("Grüße, 漢字 and 😀").toUtf8(),
        QStringLiteral("ünïcödé with \\ and '").toUtf8(),
        "newline\nand\ttab",
        "E'already escaped'",
        "semicolon'; drop table x; --",
    };
}

// Random texts from characters that matter to quoting, of every UTF-8 width.
QList<QByteArray> randomCorpus(int count) {
    const QStringList pieces = {"a", "Z", "'", "\\", "\"", " ", "é", "ß", "€", "漢", "😀", "\n", "0"};
    std::mt19937 random(20240611);
    QList<QByteArray> corpus;
    for (int i = 0; i < count; ++i) {
        QString text;
        const int length = int(random() % 12);
        for (int j = 0; j < length; ++j)
            text += pieces[int(random() % pieces.size())];
        corpus.append(text.toUtf8());
    }
    return corpus;
}
} // namespace

TEST(Quoting, LiteralsAndIdentifiersAreLibpqsBytes) {
    PGconnPtr conn = oracleConnection();
    for (const QByteArray &text : namedCorpus() + randomCorpus(400)) {
        EXPECT_EQ(Quoting::escapeLiteral(text), libpqLiteral(conn.get(), text)) << text.constData();
        EXPECT_EQ(Quoting::escapeIdentifier(text), libpqIdentifier(conn.get(), text)) << text.constData();
    }
}

TEST(Quoting, BackslashTextGetsLeadingBlankEscapeForm) {
    EXPECT_EQ(*Quoting::escapeLiteral("a\\b'c"), QByteArray(" E'a\\\\b''c'"));
    EXPECT_EQ(*Quoting::escapeIdentifier("a\\b\"c"), QByteArray("\"a\\b\"\"c\""));
}

TEST(Quoting, CutMultibyteCharacterFailsAndNulEndsTheTextAsInLibpq) {
    PGconnPtr conn = oracleConnection();
    const QByteArray cut = QStringLiteral("ab漢").toUtf8().chopped(1);
    EXPECT_EQ(Quoting::escapeLiteral(cut), std::nullopt);
    EXPECT_EQ(libpqLiteral(conn.get(), cut), std::nullopt);
    EXPECT_EQ(Quoting::escapeIdentifier(cut), std::nullopt);

    const QByteArray withNul("ab\0cd'", 6);
    EXPECT_EQ(Quoting::escapeLiteral(withNul), libpqLiteral(conn.get(), withNul));
    EXPECT_EQ(*Quoting::escapeLiteral(withNul), QByteArray("'ab'"));
}

TEST(Quoting, ServerReadsEveryQuotedTextBackUnderEitherStringMode) {
    for (const char *options : {"", "options='-c standard_conforming_strings=off'"}) {
        PGconnPtr conn = oracleConnection(options);
        for (const QByteArray &text : namedCorpus() + randomCorpus(60)) {
            EXPECT_EQ(selectValue(conn.get(), *Quoting::escapeLiteral(text)), text) << options << text.constData();
            if (text.isEmpty())
                continue; // a zero-length identifier is not allowed at all
            PGresultPtr result(PQexec(conn.get(), "select 1 as " + *Quoting::escapeIdentifier(text)));
            ASSERT_EQ(PQresultStatus(result.get()), PGRES_TUPLES_OK) << text.constData();
            EXPECT_EQ(QByteArray(PQfname(result.get(), 0)), text);
        }
    }
}

TEST(Quoting, ByteaMatchesLibpqAndRoundTripsInBothStringModes) {
    QByteArray bytes;
    for (int i = 0; i < 256; ++i)
        bytes.append(char(i));
    bytes.append("'\\\"");
    for (bool standard : {true, false}) {
        PGconnPtr conn = oracleConnection(standard ? "" : "options='-c standard_conforming_strings=off'");
        EXPECT_EQ(Quoting::escapeBytea(bytes, standard), libpqBytea(conn.get(), bytes));
        const QByteArray literal = "'" + Quoting::escapeBytea(bytes, standard) + "'::bytea";
        EXPECT_EQ(selectValue(conn.get(), "encode(" + literal + ", 'hex')"), bytes.toHex());
        EXPECT_EQ(selectValue(conn.get(), "encode(''::bytea, 'hex')"), QByteArray());
    }
}

TEST(Quoting, ConnectionQuotesMarkersAndValuesWithoutAHandle) {
    auto connection = ZNTConnection::create({});
    EXPECT_EQ(connection->quoteLiteral(Value::null()), "NULL");
    EXPECT_EQ(connection->quoteLiteral(Value::defaultMarker()), "DEFAULT");
    EXPECT_EQ(connection->quoteLiteral(Value::fromString("O'Brien")), "'O''Brien'");
    EXPECT_EQ(connection->quoteLiteral(Value::fromString("C:\\dir")), " E'C:\\\\dir'");
    EXPECT_EQ(connection->quoteLiteral(Value::fromBool(true)), "'t'");
    EXPECT_EQ(connection->quoteLiteral(Value::fromInt(-42)), "'-42'");
    EXPECT_EQ(connection->quoteLiteral(Value::fromBytes(QByteArray("\x00\xff", 2))), "'\\x00ff'");
    EXPECT_EQ(connection->quoteIdentifier("My \"Table\""), "\"My \"\"Table\"\"\"");
    try {
        connection->quoteLiteral(Value::multipleMarker());
        ADD_FAILURE() << "the MULTIPLE marker was quoted";
    } catch (const ProgramError &error) {
        EXPECT_EQ(error.name(), "Invalid Argument Exception");
        EXPECT_TRUE(QByteArray(error.what())
                        .endsWith("-[ZNTConnection quoteLiteral:] can't handle multiple value placeholder."));
    }
}
