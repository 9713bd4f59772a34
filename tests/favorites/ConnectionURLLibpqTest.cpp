// Connection URLs against libpq's own reading (PQconninfoParse) as the oracle:
// every URL the favorites accept means to libpq what it means to the favorite,
// every URL libpq refuses is refused, and every favorite's URL reads back as
// the favorite.
#include "favorites/ZNTFavoriteURL.h"

#include <QRandomGenerator>
#include <QStringDecoder>
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <map>

namespace {

// What libpq makes of a URL: keyword → value for the ones it sets; nothing
// when it refuses the text.
std::optional<std::map<std::string, std::string>> libpqReads(const QString &text) {
    char *error = nullptr;
    PQconninfoOption *options = PQconninfoParse(text.toUtf8().constData(), &error);
    PQfreemem(error);
    if (!options)
        return std::nullopt;
    std::map<std::string, std::string> result;
    for (PQconninfoOption *o = options; o->keyword; ++o)
        if (o->val)
            result[o->keyword] = o->val;
    PQconninfoFree(options);
    return result;
}

std::string value(const std::map<std::string, std::string> &m, const char *key) {
    auto it = m.find(key);
    return it == m.end() ? std::string() : it->second;
}

bool utf8Text(const std::string &bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
    return !decoder.hasError();
}

// The database side of a favorite's dictionary must be libpq's reading, with
// an empty value standing for an absent one (both mean the default).
void expectSameAsLibpq(const QVariantMap &ours, const std::map<std::string, std::string> &libpq) {
    EXPECT_EQ(ours.value("host").toString().toStdString(), value(libpq, "host"));
    EXPECT_EQ(ours.value("user").toString().toStdString(), value(libpq, "user"));
    EXPECT_EQ(ours.value("password").toString().toStdString(), value(libpq, "password"));
    EXPECT_EQ(ours.value("database").toString().toStdString(), value(libpq, "dbname"));
    const std::string port = value(libpq, "port");
    if (ours.contains("port"))
        EXPECT_EQ(ours.value("port").toInt(), std::stoi(port)) << port;
    else
        EXPECT_EQ(port, "");
    EXPECT_EQ(value(libpq, "hostaddr"), "");
    EXPECT_EQ(value(libpq, "service"), "");
}

// Whether a favorite can hold exactly what libpq read: one host, a port from 1
// to 65535 (or none), UTF-8 texts, and no address or service that would take
// libpq elsewhere than the host.
bool holdable(const std::map<std::string, std::string> &libpq) {
    for (const char *key : {"host", "port", "user", "password", "dbname"})
        if (!utf8Text(value(libpq, key)))
            return false;
    const std::string host = value(libpq, "host"), port = value(libpq, "port");
    if (host.find(',') != std::string::npos || !value(libpq, "hostaddr").empty() || !value(libpq, "service").empty())
        return false;
    if (port.empty())
        return true;
    if (port.size() > 9 || port.find_first_not_of("0123456789") != std::string::npos)
        return false;
    return std::stoi(port) >= 1 && std::stoi(port) <= 65535;
}

struct Part {
    const char *text;
    bool usable; // a favorite can hold it exactly
};

// The parts of a direct URL, each with its hostile and awkward forms.
const Part kUserInfo[] = {
    {"", true},
    {"u@", true},
    {"u:p@", true},
    {"al%40ice:p%40ss%3Aw%2Frd@", true},
    {":p@", true},
    {"u:@", true},
    {"u:p:q@", true},
    {"%C3%BCser:%E2%82%AC@", true},
    {"%FF@", false},
    {"u:%C3%28@", false},
    {"u%2@", false},
    {"u%00@", false},
    {"u:p%zz@", false},
    {"a+b:c+d@", true},
    {"%EF%BB%BFu:%EF%BB%BFp@", true},
};
const Part kHosts[] = {
    {"h", true},
    {"db.example.org", true},
    {"127.0.0.1", true},
    {"[::1]", true},
    {"[2001:db8::5]", true},
    {"[fe80::1%25eth0]", true},
    {"[fe80::1%eth0]", false},
    {"", true},
    {"%2Fvar%2Frun%2Fpostgresql", true},
    {"b%C3%BCcher.example", true},
    {"DB.Example.ORG", true},
    {"h%FF", false},
    {"h1,h2", false},
    {"[]", false},
    {"[::1", false},
    {"[::1]x", false},
};
const Part kPorts[] = {
    {"", true},  {":5433", true}, {":0", false},           {":65535", true}, {":65536", false},     {":abc", false},
    {":", true}, {":-1", false},  {":99999999999", false}, {":05432", true}, {":5432,5433", false},
};
const Part kPaths[] = {
    {"", true},
    {"/", true},
    {"/db", true},
    {"/db/extra", true},
    {"/db#frag", true},
    {"/d%20b", true},
    {"/%ff", false},
    {"/%00", false},
    {"/a%2Fb", true},
    {"/données", true},
    {"/db+x", true},
    {"/%", false},
    {"/d%C3%A9j%C3%A0", true},
};
const Part kQueries[] = {
    {"", true},
    {"?user=", true},
    {"?host=", true},
    {"?user=a&user=b", true},
    {"?dbname=x+y", true},
    {"?hostaddr=10.0.0.1", false},
    {"?hostaddr=", true},
    {"?service=prod", false},
    {"?port=0", false},
    {"?port=6000", true},
    {"?port=", true},
    {"?port=6000&port=", true},
    {"?sslmode=require", true},
    {"?ssl=true", true},
    {"?nonsense=1", false},
    {"?user", false},
    {"?a=b=c", false},
    {"?host=h1,h2", false},
    {"?password=%E2%82%AC", true},
    {"?user=%C0%AF", false},
    {"?options=-c%20x%3Dy", true},
    {"?&", false},
    {"?dbname=a&dbname=", true},
    {"?%75ser=x", true},
    {"?user=x&", true},
};

struct Case {
    QString text;
    bool usable;
};

Case compose(const Part &user, const Part &host, const Part &port, const Part &path, const Part &query) {
    return {QString::fromUtf8(user.text) + QString::fromUtf8(host.text) + QString::fromUtf8(port.text) +
                QString::fromUtf8(path.text) + QString::fromUtf8(query.text),
            user.usable && host.usable && port.usable && path.usable && query.usable};
}

// Every part once beside plain others, then a fixed sample of mixtures.
std::vector<Case> directCases() {
    std::vector<Case> cases;
    const Part &u = kUserInfo[1], &h = kHosts[0], &p = kPorts[0], &d = kPaths[2], &q = kQueries[0];
    for (const Part &x : kUserInfo)
        cases.push_back(compose(x, h, p, d, q));
    for (const Part &x : kHosts)
        cases.push_back(compose(u, x, p, d, q));
    for (const Part &x : kPorts)
        cases.push_back(compose(u, h, x, d, q));
    for (const Part &x : kPaths)
        cases.push_back(compose(u, h, p, x, q));
    for (const Part &x : kQueries)
        cases.push_back(compose(u, h, p, d, x));
    QRandomGenerator random(20240611);
    auto pick = [&random](const auto &list) -> const Part & { return list[random.bounded(int(std::size(list)))]; };
    for (int i = 0; i < 600; ++i)
        cases.push_back(compose(pick(kUserInfo), pick(kHosts), pick(kPorts), pick(kPaths), pick(kQueries)));
    cases.push_back({"h:5432/" + QString(3000, 'd') + "?user=" + QString(2000, 'u'), true});
    cases.push_back({QString(5000, 'a') + ".example/db", true});
    return cases;
}

const char *const kSchemes[] = {"postgresql", "postgres", "PostgreSQL", "POSTGRES"};

} // namespace

TEST(ConnectionURLAsLibpqReadsIt, EveryDirectURLMeansToAFavoriteWhatItMeansToLibpq) {
    const std::vector<Case> cases = directCases();
    ASSERT_GE(cases.size(), 150u);
    int accepted = 0, refused = 0, i = 0;
    for (const Case &c : cases) {
        const QString scheme = QString::fromLatin1(kSchemes[i++ % std::size(kSchemes)]);
        const QString text = scheme + "://" + c.text;
        SCOPED_TRACE(text.left(300).toStdString());
        ErrorPtr error;
        const std::optional<QVariantMap> ours = FavoriteURL::read(text, &error);
        // libpq reads only lower-case prefixes; the scheme's case is ours to forgive.
        const auto libpq = libpqReads(scheme.toLower() + "://" + c.text);
        EXPECT_EQ(ours.has_value(), libpq && holdable(*libpq))
            << (error ? error->localizedFailureReason().toStdString() : "");
        // The parts' own marks, where no query overrides them, say the same.
        if (c.usable)
            EXPECT_TRUE(ours);
        if (ours && libpq) {
            ++accepted;
            expectSameAsLibpq(*ours, *libpq);
            EXPECT_FALSE(ours->contains("sshEnabled"));
        }
        if (!ours) {
            ++refused;
            ASSERT_TRUE(error);
            EXPECT_FALSE(error->localizedFailureReason().isEmpty());
        }
    }
    EXPECT_GE(accepted, 100);
    EXPECT_GE(refused, 100);
}

TEST(ConnectionURLAsLibpqReadsIt, TheDatabasePartOfAnSSHURLReadsAsLibpqReadsItAndTheSSHPartByItsRules) {
    struct SSHPart {
        const char *text;
        bool usable;
        QVariantMap ssh;
    };
    const SSHPart sshParts[] = {
        {"gw", true, {{"sshHost", "gw"}}},
        {"bob@gw:2222", true, {{"sshHost", "gw"}, {"sshUser", "bob"}, {"sshPort", 2222}}},
        {"bob:s%40cret%2F@gw", true, {{"sshHost", "gw"}, {"sshUser", "bob"}, {"sshPassword", "s@cret/"}}},
        {"[::1]:22", true, {{"sshHost", "::1"}, {"sshPort", 22}}},
        {"[fe80::2%25br0]", true, {{"sshHost", "fe80::2%br0"}}},
        {"", true, {}},
        {"gw:", true, {{"sshHost", "gw"}}},
        {"gw:0", false, {}},
        {"gw:70000", false, {}},
        {"gw:22x", false, {}},
        {"%FF@gw", false, {}},
        {"bob:%zz@gw", false, {}},
        {"gw1,gw2", false, {}},
        {"[]", false, {}},
        {"[::1]x", false, {}},
    };
    const char *const databaseParts[] = {"",
                                         "alice@db.example:6543/shop",
                                         "alice@localhost/shop?host=db&user=",
                                         "u:p%40ss@[::1]:5433/a%2Fb%20c",
                                         "h/db/extra?dbname=x+y&dbname=z",
                                         "h/db?hostaddr=10.1.1.1",
                                         "h:0/db",
                                         "h/%FF",
                                         "h?user=a@b",
                                         "h,i/db"};
    int accepted = 0;
    for (const SSHPart &ssh : sshParts) {
        for (const char *database : databaseParts) {
            const QString text = QStringLiteral("ssh+postgresql://%1/%2").arg(ssh.text, database);
            SCOPED_TRACE(text.toStdString());
            const std::optional<QVariantMap> ours = FavoriteURL::read(text);
            const auto libpq = libpqReads(QStringLiteral("postgresql://") + database);
            const bool databaseUsable = libpq && FavoriteURL::read(QStringLiteral("postgresql://") + database);
            EXPECT_EQ(ours.has_value(), ssh.usable && databaseUsable);
            if (!ours)
                continue;
            ++accepted;
            expectSameAsLibpq(*ours, *libpq);
            for (const QString key : {"sshHost", "sshUser", "sshPassword", "sshPort"})
                EXPECT_EQ(ours->value(key), ssh.ssh.value(key)) << key.toStdString();
            EXPECT_EQ(ours->value("sshEnabled"), true);
        }
    }
    EXPECT_GE(accepted, 30);
    // The authority can end at the query: the query is then the database side's.
    const std::optional<QVariantMap> queryOnly = FavoriteURL::read("postgresql+ssh://gw?host=db&port=6000");
    ASSERT_TRUE(queryOnly);
    EXPECT_EQ(*queryOnly, (QVariantMap{{"sshEnabled", true}, {"sshHost", "gw"}, {"host", "db"}, {"port", 6000}}));
}

TEST(ConnectionURLAsLibpqReadsIt, FavoritesWriteURLsThatLibpqReadsBackExactly) {
    auto field = [](QString user, QString password, QString host, int port, QString database) {
        FavoriteURLFields f;
        f.user = std::move(user);
        f.password = std::move(password);
        f.host = std::move(host);
        f.port = port;
        f.database = std::move(database);
        return f;
    };
    const QString everything = QString::fromUtf8("%@:/?#&=+,;[] \\\"'<>|~`^{}$!*()");
    const std::vector<FavoriteURLFields> writable = {
        field("alice", "", "db.example.org", 5432, "shop"),
        field(everything, everything, "db.example", 6000, everything),
        field("al@ice:x", "p@ss:w/rd with blank", "::1", 5433, "shop/east 1"),
        field("bob", "?#%&=+", "2001:db8::5", 0, "d?b#"),
        field("carol", "üñí", "bücher.example", 65535, "données"),
        field(QString::fromUtf8("😀"), QString::fromUtf8("𝄞 clef"), "fe80::1%eth0", 1, QString::fromUtf8("库")),
        field("", "", "", 0, ""),
        field("", "no user, so not written", "h", 0, ""),
        field("u", "", "/var/run/postgresql", 0, "db"),
        field("u", "", QString(3000, 'h') + ".example", 0, QString(2000, 'd')),
        field("u+v", "a+b", "h", 0, "x+y"),
    };
    for (const FavoriteURLFields &f : writable) {
        const QString url = FavoriteURL::urlForFields(f);
        SCOPED_TRACE(url.left(200).toStdString());
        ASSERT_FALSE(url.isEmpty());
        const auto libpq = libpqReads(url);
        ASSERT_TRUE(libpq);
        EXPECT_EQ(value(*libpq, "user"), f.user.toStdString());
        EXPECT_EQ(value(*libpq, "password"), (f.user.isEmpty() ? QString() : f.password).toStdString());
        EXPECT_EQ(value(*libpq, "host"), (f.host.isEmpty() ? QString("localhost") : f.host).toStdString());
        EXPECT_EQ(value(*libpq, "port"), f.port > 0 && f.port != 5432 ? std::to_string(f.port) : "");
        EXPECT_EQ(value(*libpq, "dbname"), f.database.toStdString());
        EXPECT_TRUE(FavoriteURL::isSimilar(f, url, "login"));

        FavoriteURLFields tunnel = f;
        tunnel.sshEnabled = true;
        tunnel.sshHost = f.host.isEmpty() ? QString("gw") : f.host;
        tunnel.sshPort = 2222;
        const QString sshURL = FavoriteURL::urlForFields(tunnel);
        ASSERT_FALSE(sshURL.isEmpty());
        const std::optional<QVariantMap> read = FavoriteURL::read(sshURL);
        ASSERT_TRUE(read);
        EXPECT_EQ(read->value("sshHost").toString(), tunnel.sshHost);
        EXPECT_EQ(read->value("sshPort").toInt(), 2222);
        EXPECT_EQ(read->value("database").toString(), f.database);
        EXPECT_TRUE(FavoriteURL::isSimilar(tunnel, sshURL, "login"));
    }
    // What no URL can hold is not written at all, rather than written as another place.
    for (const FavoriteURLFields &f : {field("u", "", "h1,h2", 0, "db"), field("u", "", "h", 70000, "db")})
        EXPECT_EQ(FavoriteURL::urlForFields(f), QString()) << f.host.toStdString();
}
