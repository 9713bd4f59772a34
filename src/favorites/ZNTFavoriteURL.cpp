#include "ZNTFavoriteURL.h"

#include "ZNTFavorite.h"
#include "platform/SystemInfo.h"

#include <QDateTime>
#include <QUrl>

namespace {

QString encoded(const QString &text, const QByteArray &keep = {}) {
    return QString::fromLatin1(QUrl::toPercentEncoding(text, keep));
}

// IPv6 literals go in brackets; every other character that could end the host
// is escaped (libpq decodes the host as it decodes the user).
QString authorityHost(const QString &host) {
    return host.contains(u':') ? QLatin1Char('[') + encoded(host, ":") + QLatin1Char(']') : encoded(host);
}

// What reading the written URL must give: the writer leaves out the SSH user,
// a password without a user and the standard ports, and writes "localhost"
// for an empty host.
QVariantMap expectedParams(const FavoriteURLFields &f) {
    QVariantMap p;
    auto put = [&p](const char *key, const QVariant &value, bool when) {
        if (when)
            p.insert(QLatin1String(key), value);
    };
    if (f.sshEnabled) {
        p.insert(QStringLiteral("sshEnabled"), true);
        put("sshHost", f.sshHost, !f.sshHost.isEmpty());
        put("sshPort", f.sshPort, f.sshPort >= 1 && f.sshPort != 22);
    }
    put("user", f.user, !f.user.isEmpty());
    put("password", f.password, !f.user.isEmpty() && !f.password.isEmpty());
    p.insert(QStringLiteral("host"), f.host.isEmpty() ? QStringLiteral("localhost") : f.host);
    put("port", f.port, f.port >= 1 && f.port != 5432);
    put("database", f.database, !f.database.isEmpty());
    return p;
}

QString orLogin(const QString &user, const QString &login) {
    return user.isEmpty() ? login : user;
}

bool isLocalHost(const QString &host) {
    return host.isEmpty() || host == QLatin1String("localhost") || host == QLatin1String("127.0.0.1") ||
           host == QLatin1String("::1");
}

} // namespace

QString FavoriteURL::urlForFields(const FavoriteURLFields &f) {
    QString text;
    if (f.sshEnabled) {
        text = QStringLiteral("postgresql+ssh://") + authorityHost(f.sshHost);
        if (f.sshPort >= 1 && f.sshPort != 22)
            text += QStringLiteral(":%1").arg(f.sshPort);
        text += QLatin1Char('/');
    } else {
        text = QStringLiteral("postgresql://");
    }
    if (!f.user.isEmpty()) {
        text += encoded(f.user);
        if (!f.password.isEmpty())
            text += QLatin1Char(':') + encoded(f.password);
        text += QLatin1Char('@');
    }
    text += f.host.isEmpty() ? QStringLiteral("localhost") : authorityHost(f.host);
    if (f.port >= 1 && f.port != 5432)
        text += QStringLiteral(":%1").arg(f.port);
    if (!f.database.isEmpty())
        text += QLatin1Char('/') + encoded(f.database);
    // A URL that would be read as another place is no URL of this favorite.
    return read(text) == expectedParams(f) ? text : QString();
}

bool FavoriteURL::isSimilar(const FavoriteURLFields &f, const QString &text, const QString &login) {
    const std::optional<QVariantMap> params = read(text);
    return params && isSimilar(f, *params, login);
}

bool FavoriteURL::isSimilar(const FavoriteURLFields &f, const QVariantMap &p, const QString &login) {
    if (f.sshEnabled != p.value(QStringLiteral("sshEnabled")).toBool())
        return false;
    if (f.sshEnabled) {
        if (f.sshHost.isEmpty() || f.sshHost != p.value(QStringLiteral("sshHost")).toString())
            return false;
        const int theirs = p.value(QStringLiteral("sshPort")).toInt();
        if ((f.sshPort > 0 ? f.sshPort : 22) != (theirs > 0 ? theirs : 22))
            return false;
        if (orLogin(f.sshUser, login) != orLogin(p.value(QStringLiteral("sshUser")).toString(), login))
            return false;
    }
    const QString theirHost = p.value(QStringLiteral("host")).toString();
    if (isLocalHost(f.host) ? !isLocalHost(theirHost) : f.host != theirHost)
        return false;
    const int theirPort = p.value(QStringLiteral("port")).toInt();
    if ((f.port > 0 ? f.port : 5432) != (theirPort > 0 ? theirPort : 5432))
        return false;
    const QString ourUser = orLogin(f.user, login);
    const QString theirUser = orLogin(p.value(QStringLiteral("user")).toString(), login);
    if (ourUser != theirUser)
        return false;
    const QString theirDatabase = p.value(QStringLiteral("database")).toString();
    return (f.database.isEmpty() ? ourUser : f.database) == (theirDatabase.isEmpty() ? theirUser : theirDatabase);
}

// MARK: the favorite's own operations

namespace {

FavoriteURLFields fieldsOf(const ZNTFavorite &f) {
    FavoriteURLFields fields;
    fields.host = f.host();
    fields.port = f.port().value_or(0);
    fields.user = f.user();
    fields.password = f.password();
    fields.database = f.database();
    fields.sshEnabled = f.isSshEnabled();
    fields.sshHost = f.sshHost();
    fields.sshPort = f.sshPort().value_or(0);
    fields.sshUser = f.sshUser();
    return fields;
}

QString stringParam(const QVariantMap &params, const char *key) {
    const QVariant value = params.value(QLatin1String(key));
    return value.typeId() == QMetaType::QString ? value.toString() : QString();
}

// A port outside 1 to 65535 is no port: left out rather than cut to fit.
std::optional<int> portParam(const QVariantMap &params, const char *key) {
    bool ok = false;
    const qlonglong value = params.value(QLatin1String(key)).toLongLong(&ok);
    return ok && value >= 1 && value <= 65535 ? std::optional<int>(int(value)) : std::nullopt;
}

std::optional<bool> boolParam(const QVariantMap &params, const char *key) {
    const QVariant value = params.value(QLatin1String(key));
    return value.isValid() ? std::optional<bool>(value.toBool()) : std::nullopt;
}

} // namespace

QString ZNTFavorite::URL() const {
    return FavoriteURL::urlForFields(fieldsOf(*this));
}

bool ZNTFavorite::isSimilarToURL(const QString &url) const {
    return FavoriteURL::isSimilar(fieldsOf(*this), url, SystemInfo::loginName());
}

bool ZNTFavorite::isSimilarToParams(const QVariantMap &params) const {
    return FavoriteURL::isSimilar(fieldsOf(*this), params, SystemInfo::loginName());
}

QVariantMap ZNTFavorite::paramsForURL(const QString &url) {
    return FavoriteURL::paramsForURL(url);
}

void ZNTFavorite::takeParamsFromDictionary(const QVariantMap &params) {
    setNickname(stringParam(params, "nickname"));
    setHost(stringParam(params, "host"));
    setPort(portParam(params, "port"));
    setUser(stringParam(params, "user"));
    setDatabase(stringParam(params, "database"));
    if (const QString password = stringParam(params, "password"); !password.isEmpty()) {
        setPassword(password);
        setSavePassword(true);
    }
    setShowAllDatabases(boolParam(params, "showAllDatabases"));
    setSshEnabled(boolParam(params, "sshEnabled"));
    setSshHost(stringParam(params, "sshHost"));
    setSshPort(portParam(params, "sshPort"));
    setSshUser(stringParam(params, "sshUser"));
    if (const QString password = stringParam(params, "sshPassword"); !password.isEmpty()) {
        setSshPassword(password);
        setSaveSshPassword(true);
    }
    const QVariantMap history = params.value(QStringLiteral("history")).toMap();
    const QVariantList texts = history.value(QStringLiteral("texts")).toList();
    const QVariantList dates = history.value(QStringLiteral("dates")).toList();
    for (qsizetype i = 0; i < texts.size() && i < dates.size(); ++i)
        insertQueryHistoryElement(texts[i].toString(), dates[i].toDateTime().toMSecsSinceEpoch() * 1000);
}
