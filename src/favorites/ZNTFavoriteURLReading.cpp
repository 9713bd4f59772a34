// Reading connection URLs. libpq itself reads a direct URL and the database
// part of an SSH URL, so that a favorite made from a URL connects where libpq
// (psql, another client) would connect with the same text; the SSH authority,
// which libpq never sees, is split by libpq's own rules.
#include "ZNTFavoriteURL.h"

#include "engine/KesError.h"

#include <QRegularExpression>
#include <QStringDecoder>
#include <arpa/inet.h>
#include <libpq-fe.h>
#include <memory>

namespace {

// A refusal names the URL so that the user recognises it; a long one is cut.
QString shown(const QString &text) {
    constexpr qsizetype kShown = 200;
    return text.size() <= kShown ? text : text.left(kShown) + QChar(0x2026);
}

ErrorPtr malformedError(const QString &text) {
    return KesError::errorWithCode(1, QStringLiteral("The URL ‘%1’ is malformed.").arg(shown(text)),
                                   QStringLiteral("A connection URL begins with postgresql://, postgres:// or "
                                                  "postgresql+ssh:// and names a host, a port and a database."));
}

ErrorPtr refusedError(const QString &text, const QString &reason) {
    return KesError::errorWithCode(1, QStringLiteral("The URL ‘%1’ is not a valid connection URL.").arg(shown(text)),
                                   reason);
}

std::optional<QString> utf8Text(const QByteArray &bytes) {
    // A name that begins with a byte-order mark keeps it, as in libpq.
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

int hexValue(QChar c) {
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

// Percent escapes as libpq decodes them ("%" and two hex digits, never "%00"),
// then UTF-8: a name that does not decode to text cannot be held exactly.
std::optional<QString> decodeComponent(QStringView encoded, const QString &what, QString *why) {
    QByteArray bytes;
    for (qsizetype i = 0; i < encoded.size(); i += 3) {
        // Text between escapes goes whole, so that no surrogate pair is split.
        const qsizetype escape = encoded.indexOf(u'%', i);
        bytes.append(encoded.mid(i, (escape < 0 ? encoded.size() : escape) - i).toUtf8());
        if (escape < 0)
            break;
        i = escape;
        const int hi = i + 1 < encoded.size() ? hexValue(encoded[i + 1]) : -1;
        const int lo = i + 2 < encoded.size() ? hexValue(encoded[i + 2]) : -1;
        if (hi < 0 || lo < 0) {
            *why = QStringLiteral("The %1 holds a “%” that does not begin an escape of two hex digits.").arg(what);
            return std::nullopt;
        }
        if (hi == 0 && lo == 0) {
            *why = QStringLiteral("The %1 holds the escape %2.").arg(what, QStringLiteral("%00"));
            return std::nullopt;
        }
        bytes.append(char(hi * 16 + lo));
    }
    std::optional<QString> text = utf8Text(bytes);
    if (!text)
        *why = QStringLiteral("The %1 is not UTF-8 text.").arg(what);
    return text;
}

// A port as a favorite holds one: digits only, 1 to 65535.
std::optional<int> portNumber(const QString &text) {
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,10}$"));
    if (!digits.match(text).hasMatch())
        return std::nullopt;
    const qint64 value = text.toLongLong();
    return value >= 1 && value <= 65535 ? std::optional<int>(int(value)) : std::nullopt;
}

bool putPort(QVariantMap &params, const char *key, const QString &port, const QString &what, QString *why) {
    if (port.isEmpty())
        return true; // "host:" or "port=": the standard port
    const std::optional<int> number = portNumber(port);
    if (!number) {
        *why = QStringLiteral("The %1 ‘%2’ is not a number from 1 to 65535.").arg(what, shown(port));
        return false;
    }
    params.insert(QLatin1String(key), *number);
    return true;
}

void putText(QVariantMap &params, const char *key, const QString &value) {
    if (!value.isEmpty())
        params.insert(QLatin1String(key), value);
}

// The parts of an authority, still escaped, split the way libpq splits one: the
// credentials end at the first "@" (when one comes before any "/"), the user at
// the first ":" in them; a bracketed host is an IPv6 address.
struct Authority {
    QStringView user, password, host, port;
    qsizetype end = 0; // index of the "/" or "?" after it, or the size
};

std::optional<Authority> splitAuthority(QStringView rest, QString *why) {
    Authority a;
    qsizetype p = 0;
    while (p < rest.size() && rest[p] != u'@' && rest[p] != u'/')
        ++p;
    qsizetype hostStart = 0;
    if (p < rest.size() && rest[p] == u'@') {
        const QStringView credentials = rest.left(p);
        const qsizetype colon = credentials.indexOf(u':');
        a.user = colon < 0 ? credentials : credentials.left(colon);
        a.password = colon < 0 ? QStringView() : credentials.mid(colon + 1);
        hostStart = p + 1;
    }
    p = hostStart;
    if (p < rest.size() && rest[p] == u'[') {
        const qsizetype close = rest.indexOf(u']', p);
        if (close < 0 || close == p + 1) {
            *why = QStringLiteral("The SSH server's IPv6 address is empty or lacks its “]”.");
            return std::nullopt;
        }
        a.host = rest.mid(p + 1, close - p - 1);
        p = close + 1;
        if (p < rest.size() && !QStringView(u":/?,").contains(rest[p])) {
            *why = QStringLiteral("The SSH server's IPv6 address is followed by “%1”.").arg(rest[p]);
            return std::nullopt;
        }
    } else {
        while (p < rest.size() && !QStringView(u":/?,").contains(rest[p]))
            ++p;
        a.host = rest.mid(hostStart, p - hostStart);
    }
    if (p < rest.size() && rest[p] == u':') {
        const qsizetype portStart = ++p;
        while (p < rest.size() && !QStringView(u"/?,").contains(rest[p]))
            ++p;
        a.port = rest.mid(portStart, p - portStart);
    }
    if (p < rest.size() && rest[p] == u',') {
        *why = QStringLiteral("It names several SSH servers.");
        return std::nullopt;
    }
    a.end = p;
    return a;
}

bool readSSHAuthority(const Authority &a, QVariantMap &params, QString *why) {
    const auto user = decodeComponent(a.user, QStringLiteral("SSH user name"), why);
    const auto password = user ? decodeComponent(a.password, QStringLiteral("SSH password"), why) : std::nullopt;
    const auto host = password ? decodeComponent(a.host, QStringLiteral("SSH host"), why) : std::nullopt;
    const auto port = host ? decodeComponent(a.port, QStringLiteral("SSH port"), why) : std::nullopt;
    if (!port)
        return false;
    params.insert(QStringLiteral("sshEnabled"), true);
    putText(params, "sshHost", *host);
    putText(params, "sshUser", *user);
    putText(params, "sshPassword", *password);
    return putPort(params, "sshPort", *port, QStringLiteral("SSH port"), why);
}

struct ConninfoFree {
    void operator()(PQconninfoOption *options) const { PQconninfoFree(options); }
};

// What libpq reads of "postgresql://…": host, port, user, password and
// database, each only where it is set; refused where libpq refuses, and where
// the URL sets what a favorite has no place for.
bool readDirect(const QString &uri, QVariantMap &params, QString *why) {
    char *message = nullptr;
    std::unique_ptr<PQconninfoOption, ConninfoFree> options(PQconninfoParse(uri.toUtf8().constData(), &message));
    if (!options) {
        *why = message ? QString::fromUtf8(message).trimmed() : QStringLiteral("libpq refused it.");
        PQfreemem(message);
        return false;
    }
    static const std::pair<const char *, const char *> kept[] = {
        {"host", "host"}, {"port", "port"}, {"user", "user name"}, {"password", "password"}, {"dbname", "database"}};
    QMap<QString, QString> values;
    for (const PQconninfoOption *o = options.get(); o->keyword; ++o) {
        if (!o->val || !*o->val)
            continue;
        const QLatin1String keyword(o->keyword);
        if (keyword == QLatin1String("hostaddr") || keyword == QLatin1String("service")) {
            *why = QStringLiteral("It sets “%1”, which a favorite cannot hold: the favorite would connect "
                                  "elsewhere than the URL says.")
                       .arg(keyword);
            return false;
        }
        for (const auto &[key, what] : kept) {
            if (keyword != QLatin1String(key))
                continue;
            const std::optional<QString> text = utf8Text(QByteArray(o->val));
            if (!text) {
                *why = QStringLiteral("The %1 is not UTF-8 text.").arg(QLatin1String(what));
                return false;
            }
            values.insert(QLatin1String(key), *text);
        }
    }
    // libpq takes "a,b" for a list of servers to try; a favorite has one.
    if (values.value(QStringLiteral("host")).contains(u',') || values.value(QStringLiteral("port")).contains(u',')) {
        *why = QStringLiteral("It names several hosts or ports.");
        return false;
    }
    putText(params, "host", values.value(QStringLiteral("host")));
    putText(params, "user", values.value(QStringLiteral("user")));
    putText(params, "password", values.value(QStringLiteral("password")));
    putText(params, "database", values.value(QStringLiteral("dbname")));
    return putPort(params, "port", values.value(QStringLiteral("port")), QStringLiteral("port"), why);
}

} // namespace

QString FavoriteURL::schemeOf(const QString &text) {
    static const QRegularExpression scheme(QStringLiteral("^([A-Za-z][A-Za-z0-9+.-]*):"));
    const auto match = scheme.match(text);
    return match.hasMatch() ? match.captured(1).toLower() : QString();
}

bool FavoriteURL::hasConnectionScheme(const QString &text) {
    const QString scheme = schemeOf(text);
    return DirectSchemes.contains(scheme) || SSHSchemes.contains(scheme);
}

std::optional<QVariantMap> FavoriteURL::read(const QString &text, ErrorPtr *error) {
    const QString scheme = schemeOf(text);
    const qsizetype restStart = scheme.size() + 3;
    // A NUL would end the text for libpq, which would then read only a part of it.
    if (!hasConnectionScheme(text) || QStringView(text).mid(scheme.size(), 3) != u"://" || text.contains(QChar(0))) {
        failWith(error, malformedError(text));
        return std::nullopt;
    }
    QVariantMap params;
    QString why;
    QString uri = QStringLiteral("postgresql://") + text.mid(restStart);
    if (SSHSchemes.contains(scheme)) {
        const QStringView rest = QStringView(text).mid(restStart);
        const std::optional<Authority> authority = splitAuthority(rest, &why);
        if (!authority || !readSSHAuthority(*authority, params, &why)) {
            failWith(error, refusedError(text, why));
            return std::nullopt;
        }
        // The database side is what follows the "/" that ends the authority.
        const QStringView after = rest.mid(authority->end);
        uri = QStringLiteral("postgresql://") + (after.startsWith(u'/') ? after.mid(1) : after).toString();
    }
    if (!readDirect(uri, params, &why)) {
        failWith(error, refusedError(text, why));
        return std::nullopt;
    }
    return params;
}

QVariantMap FavoriteURL::paramsForURL(const QString &text) {
    return read(text).value_or(QVariantMap());
}

ErrorPtr FavoriteURL::errorForURLText(const QString &text) {
    ErrorPtr error;
    return read(text, &error) ? nullptr : error;
}

bool FavoriteURL::reachesBeyondThisComputer(const QVariantMap &params) {
    if (params.value(QStringLiteral("sshEnabled")).toBool())
        return true;
    const QString host = params.value(QStringLiteral("host")).toString();
    if (host.isEmpty() || host.startsWith(u'/') || host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        return false;
    const QByteArray address = host.toUtf8();
    in_addr v4{};
    if (inet_pton(AF_INET, address.constData(), &v4) == 1)
        return (ntohl(v4.s_addr) >> 24) != 127;
    in6_addr v6{};
    if (inet_pton(AF_INET6, address.constData(), &v6) == 1)
        return !IN6_IS_ADDR_LOOPBACK(&v6) && !(IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127);
    return true;
}
