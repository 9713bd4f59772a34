#include "favorites/ZNTFavoriteURL.h"
#include "support/TestSupport.h"

#include <QProcess>
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <map>

namespace {

QVariantMap params(const QString &text) {
    return FavoriteURL::paramsForURL(text);
}

// What libpq makes of a connection string: keyword → value, set ones only.
std::map<std::string, std::string> libpqReads(const QString &text) {
    std::map<std::string, std::string> result;
    char *error = nullptr;
    PQconninfoOption *options = PQconninfoParse(text.toUtf8().constData(), &error);
    if (!options) {
        ADD_FAILURE() << "libpq refused " << text.toStdString() << ": " << (error ? error : "");
        PQfreemem(error);
        return result;
    }
    for (PQconninfoOption *o = options; o->keyword; ++o)
        if (o->val)
            result[o->keyword] = o->val;
    PQconninfoFree(options);
    return result;
}

FavoriteURLFields direct(QString user, QString password, QString host, int port, QString database) {
    FavoriteURLFields f;
    f.user = std::move(user);
    f.password = std::move(password);
    f.host = std::move(host);
    f.port = port;
    f.database = std::move(database);
    return f;
}

} // namespace

TEST(ConnectionURL, SSHFavoriteWritesTheDatabaseSideInThePathAndReadsBack) {
    FavoriteURLFields f = direct("alice", "", "", 5432, "shop");
    f.sshEnabled = true;
    f.sshHost = "gw";
    f.sshPort = 22;
    const QString url = FavoriteURL::urlForFields(f);
    EXPECT_EQ(url, "postgresql+ssh://gw/alice@localhost/shop");
    const QVariantMap p = FavoriteURL::paramsForURL(url);
    EXPECT_EQ(
        p,
        (QVariantMap{
            {"sshEnabled", true}, {"sshHost", "gw"}, {"user", "alice"}, {"host", "localhost"}, {"database", "shop"}}));

    f.sshPort = 2222;
    f.port = 6543;
    EXPECT_EQ(FavoriteURL::urlForFields(f), "postgresql+ssh://gw:2222/alice@localhost:6543/shop");
    EXPECT_EQ(params("ssh+postgres://bob:s%40cret@gw:2222/alice@db.example:6543/shop"),
              (QVariantMap{{"sshEnabled", true},
                           {"sshHost", "gw"},
                           {"sshPort", 2222},
                           {"sshUser", "bob"},
                           {"sshPassword", "s@cret"},
                           {"user", "alice"},
                           {"host", "db.example"},
                           {"port", 6543},
                           {"database", "shop"}}));
}

TEST(ConnectionURL, EachWayTheReaderDisagreedWithLibpqIsMended) {
    struct Row {
        const char *name;
        QString url;
        std::optional<QVariantMap> expected; // nothing: refused
    };
    const Row rows[] = {
        {"hostaddrIsRefusedNotIgnored", "postgresql://h/db?hostaddr=10.9.8.7", std::nullopt},
        {"serviceIsRefusedNotIgnored", "postgresql://h/db?service=prod", std::nullopt},
        {"aKeyGivenTwiceTakesTheLast", "postgresql://u@h:1/d?dbname=a&dbname=b&port=2&port=3",
         QVariantMap{{"user", "u"}, {"host", "h"}, {"port", 3}, {"database", "b"}}},
        {"anEmptyUserOverridesTheAuthoritysUser",
         "postgresql://bob@h/d?user=", QVariantMap{{"host", "h"}, {"database", "d"}}},
        {"anEmptyHostOverridesTheAuthoritysHost",
         "postgresql://u@db.example/d?host=", QVariantMap{{"user", "u"}, {"database", "d"}}},
        {"anEmptyPortMeansTheStandardOne",
         "postgresql://h:6000/d?port=", QVariantMap{{"host", "h"}, {"database", "d"}}},
        {"plusStaysAPlusInTheQuery", "postgresql://h/d?user=q+r&password=a+b",
         QVariantMap{{"host", "h"}, {"database", "d"}, {"user", "q+r"}, {"password", "a+b"}}},
        {"theDatabaseIsTheWholeRestOfThePath", "postgresql://h/db/x", QVariantMap{{"host", "h"}, {"database", "db/x"}}},
        {"aHashIsPartOfTheDatabase", "postgresql://h/db#frag", QVariantMap{{"host", "h"}, {"database", "db#frag"}}},
        {"theRestIsDecodedOnce", "postgresql://h/east%2Fwest/x%2520",
         QVariantMap{{"host", "h"}, {"database", "east/west/x%20"}}},
        {"escapesNotUTF8InTheUserAreRefused", "postgresql://%FF%FE@h/d", std::nullopt},
        {"escapesNotUTF8InThePasswordAreRefused", "postgresql://u:%C3%28@h/d", std::nullopt},
        {"escapesNotUTF8InTheDatabaseAreRefused", "postgresql://h/%E9t%E9", std::nullopt},
        {"escapesNotUTF8InTheSSHUserAreRefused", "postgresql+ssh://%FF@gw/h/d", std::nullopt},
        {"aStrayPercentIsRefused", "postgresql://h/100%", std::nullopt},
        {"aStrayPercentInTheSSHPasswordIsRefused", "postgresql+ssh://u:50%@gw/h/d", std::nullopt},
        {"portZeroIsRefused", "postgres://h:0/", std::nullopt},
        {"aPortThatIsNoNumberIsRefused", "postgresql://h:5x/d", std::nullopt},
        {"aPortAbove65535IsRefused", "postgresql://h:70000/d", std::nullopt},
        {"aQueryPortAbove65535IsRefused", "postgresql://h/d?port=4294973839", std::nullopt},
        {"anSSHPortOfZeroIsRefused", "postgresql+ssh://gw:0/h/d", std::nullopt},
        {"severalHostsAreRefused", "postgresql://h1,h2/d", std::nullopt},
        {"aNulCharacterIsRefused", QStringLiteral("postgresql://h/d") + QChar(0) + "?host=evil", std::nullopt},
        {"anotherSchemeIsRefused", "whatever://u@h:7/d", std::nullopt},
        {"aSchemeWithoutSlashesIsRefused", "postgresql:h/d", std::nullopt},
        {"thePathSlashAloneGivesNoDatabase", "postgres://h/", QVariantMap{{"host", "h"}}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        ErrorPtr error;
        const std::optional<QVariantMap> read = FavoriteURL::read(row.url, &error);
        EXPECT_EQ(read, row.expected);
        EXPECT_EQ(FavoriteURL::errorForURLText(row.url) == nullptr, row.expected.has_value());
        if (!read) {
            ASSERT_TRUE(error);
            EXPECT_FALSE(error->localizedFailureReason().isEmpty());
        }
    }
}

TEST(ConnectionURL, TheSSHAuthorityEndsWhereLibpqWouldEndItAndTheQuerySetsTheDatabaseSide) {
    EXPECT_EQ(
        params("postgresql+ssh://gw/u@h/a%2Fb%20c/d"),
        (QVariantMap{{"sshEnabled", true}, {"sshHost", "gw"}, {"user", "u"}, {"host", "h"}, {"database", "a/b c/d"}}));
    EXPECT_EQ(
        params("postgresql+ssh://gw/h/d?host=db&port=6000"),
        (QVariantMap{{"sshEnabled", true}, {"sshHost", "gw"}, {"host", "db"}, {"port", 6000}, {"database", "d"}}));
    // Credentials end at the first "@"; a "?" before it belongs to them, as in libpq.
    EXPECT_EQ(params("postgresql+ssh://u:p?x@gw/h"),
              (QVariantMap{
                  {"sshEnabled", true}, {"sshHost", "gw"}, {"sshUser", "u"}, {"sshPassword", "p?x"}, {"host", "h"}}));
}

// libpq ends the user name at the first ":" of the credentials; the rest,
// colons and all, is the password. The SSH authority is split the same way.
TEST(ConnectionURL, APasswordMayHoldColonsOnBothSidesOfAnSSHURL) {
    EXPECT_EQ(params("postgresql+ssh://u:pa:ss@gw/dbu:db:p:w@h/db"), (QVariantMap{{"sshEnabled", true},
                                                                                  {"sshHost", "gw"},
                                                                                  {"sshUser", "u"},
                                                                                  {"sshPassword", "pa:ss"},
                                                                                  {"user", "dbu"},
                                                                                  {"password", "db:p:w"},
                                                                                  {"host", "h"},
                                                                                  {"database", "db"}}));
    EXPECT_EQ(params("postgresql+ssh://u::@gw/h").value("sshPassword"), ":");

    // A favorite's URL leaves the SSH credentials out; its database side comes
    // back whole.
    FavoriteURLFields f = direct("dbu", "db:p:w", "h", 6000, "db");
    f.sshEnabled = true;
    f.sshHost = "gw";
    const QString url = FavoriteURL::urlForFields(f);
    ASSERT_FALSE(url.isEmpty());
    EXPECT_EQ(params(url), (QVariantMap{{"sshEnabled", true},
                                        {"sshHost", "gw"},
                                        {"user", "dbu"},
                                        {"password", "db:p:w"},
                                        {"host", "h"},
                                        {"port", 6000},
                                        {"database", "db"}}));
}

TEST(ConnectionURL, AwkwardPasswordsAndIPv6HostsSurviveOurURLAndLibpqReadsTheSame) {
    const std::vector<FavoriteURLFields> cases = {
        direct("al@ice:x", "p@ss:w/rd with blank", "::1", 5433, "shop/east 1"),
        direct("bob", "?#%&=+", "2001:db8::5", 0, "d?b#"),
        direct("carol", "üñí", "db.example.org", 6000, "données"),
        direct("", "", "", 0, ""),
    };
    for (const FavoriteURLFields &f : cases) {
        SCOPED_TRACE(f.password.toStdString());
        const QString url = FavoriteURL::urlForFields(f);
        ASSERT_FALSE(url.isEmpty());
        const QVariantMap p = FavoriteURL::paramsForURL(url);
        EXPECT_EQ(p.value("user").toString(), f.user);
        EXPECT_EQ(p.value("password").toString(), f.password);
        EXPECT_EQ(p.value("host").toString(), f.host.isEmpty() ? "localhost" : f.host);
        EXPECT_EQ(p.value("port").toInt(), f.port);
        EXPECT_EQ(p.value("database").toString(), f.database);

        auto libpq = libpqReads(url);
        EXPECT_EQ(libpq["user"], f.user.toStdString());
        EXPECT_EQ(libpq["password"], f.password.toStdString());
        EXPECT_EQ(libpq["host"], (f.host.isEmpty() ? QString("localhost") : f.host).toStdString());
        EXPECT_EQ(libpq["dbname"], f.database.toStdString());
        EXPECT_EQ(libpq.count("port") ? libpq["port"] : "", f.port ? std::to_string(f.port) : "");
        EXPECT_EQ(FavoriteURL::errorForURLText(url), nullptr);
    }
}

TEST(ConnectionURL, PsqlReachesTheUserDatabaseAndPortOurURLNames) {
    const QString port = requiredEnv("TRELLAN_PG_PORT");
    const QString admin = requiredEnv("TRELLAN_PG_ADMIN_USER");
    auto adminSql = [&](const QString &sql) {
        QProcess psql;
        psql.start("psql", {"-X", "-q", "-h", "127.0.0.1", "-p", port, "-U", admin, "-d", "postgres", "-c", sql});
        psql.waitForFinished(30000);
        return psql.exitCode() == 0 ? QString() : QString::fromUtf8(psql.readAllStandardError());
    };
    // Trust login: the server does not check the password, but it must not
    // break the parse of everything after it.
    adminSql(R"(DROP DATABASE IF EXISTS "shop/east 1")");
    adminSql(R"(DROP ROLE IF EXISTS "al@ice:x")");
    ASSERT_EQ(adminSql(R"(CREATE ROLE "al@ice:x" LOGIN)").toStdString(), "");
    ASSERT_EQ(adminSql(R"(CREATE DATABASE "shop/east 1")").toStdString(), "");

    const QString url =
        FavoriteURL::urlForFields(direct("al@ice:x", "p@ss:w/rd x", "127.0.0.1", port.toInt(), "shop/east 1"));
    QProcess psql;
    psql.start("psql", {"-X", "-At", url, "-c",
                        "select current_user || '|' || current_database() || '|' || inet_server_port()"});
    ASSERT_TRUE(psql.waitForFinished(30000));
    EXPECT_EQ(QString::fromUtf8(psql.readAllStandardOutput()).trimmed().toStdString(),
              ("al@ice:x|shop/east 1|" + port).toStdString())
        << psql.readAllStandardError().toStdString();

    adminSql(R"(DROP DATABASE "shop/east 1")");
    adminSql(R"(DROP ROLE "al@ice:x")");
}

TEST(ConnectionURL, URLsLibpqRefusesAreRefusedWithAReason) {
    const std::pair<QString, QString> refused[] = {
        {"postgresql://h/db?nonsense=1", "nonsense"},
        {"postgresql+ssh://gw/u@h/db?nonsense=1", "nonsense"},
        {"postgresql://h:notaport/db", ""},
        {"postgresql://[::1/db", ""},
        {"https://example.org/", ""},
        {"just some text", ""},
    };
    for (const auto &[text, reason] : refused) {
        SCOPED_TRACE(text.toStdString());
        const ErrorPtr error = FavoriteURL::errorForURLText(text);
        ASSERT_NE(error, nullptr);
        EXPECT_TRUE(error->localizedDescription().contains(text));
        EXPECT_TRUE(error->localizedFailureReason().contains(reason)) << error->localizedFailureReason().toStdString();
    }
    for (const QString text :
         {"postgres://h", "PostgreSQL://u@h:5433/d?sslmode=require", "ssh+postgresql://gw:22/", "postgresql+ssh://gw"})
        EXPECT_EQ(FavoriteURL::errorForURLText(text), nullptr) << text.toStdString();
}

TEST(ConnectionURL, SimilarFavoritesMatchLoosely) {
    const QString login = "alice";
    FavoriteURLFields local = direct("", "", "127.0.0.1", 5432, "alice");
    EXPECT_TRUE(FavoriteURL::isSimilar(local, QString("postgresql://localhost/"), login));
    EXPECT_TRUE(FavoriteURL::isSimilar(local, QString("postgresql://[::1]:5432"), login));
    EXPECT_FALSE(FavoriteURL::isSimilar(local, QString("postgresql://localhost:5433/"), login));
    EXPECT_FALSE(FavoriteURL::isSimilar(local, QString("postgresql://db.example/"), login));
    EXPECT_FALSE(FavoriteURL::isSimilar(local, QString("postgresql://bob@localhost/"), login));
    EXPECT_FALSE(FavoriteURL::isSimilar(local, QString("postgresql://localhost/other"), login));

    FavoriteURLFields remote = direct("bob", "", "db.example", 0, "");
    EXPECT_TRUE(FavoriteURL::isSimilar(remote, QString("postgres://bob@db.example:5432/bob"), login));
    EXPECT_FALSE(FavoriteURL::isSimilar(remote, QString("postgres://bob@localhost/bob"), login));

    // Without SSH a favorite never matches an SSH URL, whatever the hosts.
    EXPECT_FALSE(FavoriteURL::isSimilar(remote, QString("postgresql+ssh://db.example/bob@db.example/bob"), login));
    FavoriteURLFields tunnel = direct("bob", "", "", 0, "shop");
    tunnel.sshEnabled = true;
    tunnel.sshHost = "gw";
    EXPECT_TRUE(FavoriteURL::isSimilar(tunnel, QString("ssh+postgres://alice@gw:22/bob@localhost/shop"), login));
    EXPECT_FALSE(FavoriteURL::isSimilar(tunnel, QString("ssh+postgres://carol@gw/bob@localhost/shop"), login));
    EXPECT_FALSE(FavoriteURL::isSimilar(tunnel, QString("ssh+postgres://gw:2222/bob@localhost/shop"), login));
    tunnel.sshHost.clear();
    EXPECT_FALSE(FavoriteURL::isSimilar(tunnel, QString("ssh+postgres:///bob@localhost/shop"), login));
}
