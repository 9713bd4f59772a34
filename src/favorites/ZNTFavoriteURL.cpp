#include "ZNTFavoriteURL.h"

#include "engine/KesError.h"
#include "uikit/URLQuery.h"

#include "ZNTFavorite.h"
#include "platform/SystemInfo.h"

#include <QDateTime>
#include <libpq-fe.h>

namespace {

const QStringList kSSHSchemes = {QStringLiteral("postgresql+ssh"), QStringLiteral("ssh+postgres"),
                                 QStringLiteral("ssh+postgresql")};
const QStringList kDirectSchemes = {QStringLiteral("postgres"), QStringLiteral("postgresql")};

bool isSSHScheme(const QUrl &url) {
    return kSSHSchemes.contains(url.scheme().toLower());
}

QString encoded(const QString &text) {
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}

// IPv6 literals go in brackets, everything else as written.
QString authorityHost(const QString &host) {
    return host.contains(QLatin1Char(':')) && !host.startsWith(QLatin1Char('['))
               ? QLatin1Char('[') + host + QLatin1Char(']')
               : host;
}

// Host, port, user, password and database of a URL without SSH. The path is
// split while still encoded, so an escaped "/" stays inside its part.
void readDirect(const QUrl &url, QVariantMap &params) {
    if (!url.host().isEmpty())
        params.insert(QStringLiteral("host"), url.host());
    if (url.port() > 0)
        params.insert(QStringLiteral("port"), url.port());
    if (const QString user = url.userName(QUrl::FullyDecoded); !user.isEmpty())
        params.insert(QStringLiteral("user"), user);
    if (const QString password = url.password(QUrl::FullyDecoded); !password.isEmpty())
        params.insert(QStringLiteral("password"), password);
    const QStringList parts = url.path(QUrl::FullyEncoded).split(QLatin1Char('/'));
    if (parts.size() >= 2)
        params.insert(QStringLiteral("database"), QUrl::fromPercentEncoding(parts[1].toUtf8()));
}

void applyQuery(const QUrl &url, QVariantMap &params) {
    const std::optional<QMap<QString, QString>> query = queryDictionary(url);
    if (!query)
        return;
    static const std::pair<const char *, const char *> keys[] = {
        {"dbname", "database"}, {"host", "host"}, {"user", "user"}, {"password", "password"}};
    for (const auto &[queryKey, paramKey] : keys) {
        const QString value = query->value(QLatin1String(queryKey));
        if (!value.isEmpty())
            params.insert(QLatin1String(paramKey), value);
    }
    bool isNumber = false;
    const int port = query->value(QStringLiteral("port")).toInt(&isNumber);
    if (isNumber && port != 0)
        params.insert(QStringLiteral("port"), port);
}

QString orLogin(const QString &user, const QString &login) {
    return user.isEmpty() ? login : user;
}

bool isLocalHost(const QString &host) {
    return host.isEmpty() || host == QLatin1String("localhost") || host == QLatin1String("127.0.0.1") ||
           host == QLatin1String("::1");
}

// The text libpq is to accept: the URL itself for a direct one, the database
// part of an SSH one (with the query, whose keys set that side).
QString libpqTextFor(const QUrl &url) {
    QUrl direct;
    if (isSSHScheme(url)) {
        const QString path = url.path(QUrl::FullyEncoded);
        direct = QUrl(QStringLiteral("postgresql:/") + (path.isEmpty() ? QStringLiteral("/") : path));
        if (url.hasQuery())
            direct.setQuery(url.query(QUrl::FullyEncoded), QUrl::StrictMode);
    } else {
        direct = url;
        direct.setScheme(QStringLiteral("postgresql"));
    }
    return FavoriteURL::textOfURL(direct);
}

} // namespace

QString FavoriteURL::textOfURL(const QUrl &url) {
    return url.toString(QUrl::FullyEncoded);
}

QUrl FavoriteURL::urlForFields(const FavoriteURLFields &f) {
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
    const QUrl url(text, QUrl::StrictMode);
    return url.isValid() ? url : QUrl();
}

QVariantMap FavoriteURL::paramsForURL(const QUrl &url) {
    QVariantMap params;
    if (isSSHScheme(url)) {
        params.insert(QStringLiteral("sshEnabled"), true);
        if (!url.host().isEmpty())
            params.insert(QStringLiteral("sshHost"), url.host());
        if (url.port() > 0)
            params.insert(QStringLiteral("sshPort"), url.port());
        if (const QString user = url.userName(QUrl::FullyDecoded); !user.isEmpty())
            params.insert(QStringLiteral("sshUser"), user);
        if (const QString password = url.password(QUrl::FullyDecoded); !password.isEmpty())
            params.insert(QStringLiteral("sshPassword"), password);
        readDirect(QUrl(QStringLiteral("postgres:/") + url.path(QUrl::FullyEncoded)), params);
    } else {
        readDirect(url, params);
    }
    applyQuery(url, params);
    return params;
}

bool FavoriteURL::isSimilar(const FavoriteURLFields &f, const QUrl &url, const QString &login) {
    const QVariantMap p = paramsForURL(url);
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

ErrorPtr FavoriteURL::errorForURLText(const QString &text) {
    const QUrl url(text, QUrl::TolerantMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || !(kDirectSchemes.contains(scheme) || kSSHSchemes.contains(scheme)))
        return KesError::errorWithCode(1, QStringLiteral("The URL ‘%1’ is malformed.").arg(text),
                                       QStringLiteral("A connection URL begins with postgresql://, postgres:// or "
                                                      "postgresql+ssh:// and names a host, a port and a database."));
    char *message = nullptr;
    PQconninfoOption *options = PQconninfoParse(libpqTextFor(url).toUtf8().constData(), &message);
    if (options) {
        PQconninfoFree(options);
        return {};
    }
    const QString reason = message ? QString::fromUtf8(message).trimmed() : QStringLiteral("libpq refused it.");
    PQfreemem(message);
    return KesError::errorWithCode(1, QStringLiteral("The URL ‘%1’ is not a valid connection URL.").arg(text), reason);
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

std::optional<int> intParam(const QVariantMap &params, const char *key) {
    bool ok = false;
    const int value = params.value(QLatin1String(key)).toInt(&ok);
    return ok ? std::optional<int>(value) : std::nullopt;
}

std::optional<bool> boolParam(const QVariantMap &params, const char *key) {
    const QVariant value = params.value(QLatin1String(key));
    return value.isValid() ? std::optional<bool>(value.toBool()) : std::nullopt;
}

} // namespace

QUrl ZNTFavorite::URL() const {
    return FavoriteURL::urlForFields(fieldsOf(*this));
}

bool ZNTFavorite::isSimilarToURL(const QUrl &url) const {
    return FavoriteURL::isSimilar(fieldsOf(*this), url, SystemInfo::loginName());
}

QVariantMap ZNTFavorite::paramsForURL(const QUrl &url) {
    return FavoriteURL::paramsForURL(url);
}

void ZNTFavorite::takeParamsFromDictionary(const QVariantMap &params) {
    setNickname(stringParam(params, "nickname"));
    setHost(stringParam(params, "host"));
    setPort(intParam(params, "port"));
    setUser(stringParam(params, "user"));
    setDatabase(stringParam(params, "database"));
    if (const QString password = stringParam(params, "password"); !password.isEmpty()) {
        setPassword(password);
        setSavePassword(true);
    }
    setShowAllDatabases(boolParam(params, "showAllDatabases"));
    setSshEnabled(boolParam(params, "sshEnabled"));
    setSshHost(stringParam(params, "sshHost"));
    setSshPort(intParam(params, "sshPort"));
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
