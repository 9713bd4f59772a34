// Connection URLs: a link clicked in a browser or a mail, a command-line
// argument, text dropped on the favorites list. The input is the text (UTF-8).
// What the reader takes is what libpq reads of the same text, and is written
// again as the URL of a favorite with those fields, which must read back as the
// same place; the text is also read as command-line arguments, one a line, and
// its query as a URL query.
#include "FuzzSupport.h"
#include "app/CommandLine.h"
#include "favorites/ZNTFavoriteURL.h"
#include "uikit/URLQuery.h"

#include <QDir>
#include <QUrl>
#include <libpq-fe.h>
#include <memory>

namespace {

const QString kLogin = QStringLiteral("login");

FavoriteURLFields fieldsOf(const QVariantMap &params) {
    FavoriteURLFields f;
    f.host = params.value(QStringLiteral("host")).toString();
    f.port = params.value(QStringLiteral("port")).toInt();
    f.user = params.value(QStringLiteral("user")).toString();
    f.password = params.value(QStringLiteral("password")).toString();
    f.database = params.value(QStringLiteral("database")).toString();
    f.sshEnabled = params.value(QStringLiteral("sshEnabled")).toBool();
    f.sshHost = params.value(QStringLiteral("sshHost")).toString();
    f.sshPort = params.value(QStringLiteral("sshPort")).toInt();
    f.sshUser = params.value(QStringLiteral("sshUser")).toString();
    return f;
}

struct ConninfoFree {
    void operator()(PQconninfoOption *options) const { PQconninfoFree(options); }
};

// A direct URL names what libpq reads of it, byte for byte (libpq knows its
// schemes in lower case only).
void checkAsLibpqReads(const QString &text, const QVariantMap &params) {
    const QString lower = QStringLiteral("postgresql") + text.mid(FavoriteURL::schemeOf(text).size());
    std::unique_ptr<PQconninfoOption, ConninfoFree> options(PQconninfoParse(lower.toUtf8().constData(), nullptr));
    FUZZ_CHECK(options);
    static const std::pair<const char *, const char *> keys[] = {
        {"host", "host"}, {"user", "user"}, {"password", "password"}, {"dbname", "database"}, {"port", "port"}};
    for (const PQconninfoOption *o = options.get(); o->keyword; ++o) {
        for (const auto &[keyword, key] : keys) {
            if (qstrcmp(o->keyword, keyword) != 0)
                continue;
            const QByteArray theirs = o->val ? QByteArray(o->val) : QByteArray();
            const QVariant ours = params.value(QLatin1String(key));
            if (qstrcmp(keyword, "port") == 0)
                FUZZ_CHECK(ours.isValid() ? theirs.toInt() == ours.toInt() : theirs.isEmpty());
            else
                FUZZ_CHECK(ours.toString().toUtf8() == theirs);
        }
    }
}

void checkURL(const QString &text) {
    ErrorPtr error;
    const std::optional<QVariantMap> params = FavoriteURL::read(text, &error);
    FUZZ_CHECK(params.has_value() != (error != nullptr));
    FUZZ_CHECK(FavoriteURL::paramsForURL(text) == params.value_or(QVariantMap()));
    FUZZ_CHECK((FavoriteURL::errorForURLText(text) == nullptr) == params.has_value());
    if (!params) {
        FUZZ_CHECK(!error->localizedFailureReason().isEmpty());
        return;
    }
    FUZZ_CHECK(FavoriteURL::hasConnectionScheme(text));
    for (const char *key : {"port", "sshPort"}) {
        const QVariant port = params->value(QLatin1String(key));
        FUZZ_CHECK(!port.isValid() || (port.toInt() >= 1 && port.toInt() <= 65535));
    }
    if (params->value(QStringLiteral("sshEnabled")).toBool())
        FUZZ_CHECK(FavoriteURL::reachesBeyondThisComputer(*params));
    else
        checkAsLibpqReads(text, *params);

    // A favorite made from the URL connects where the URL points, and has a
    // URL of its own that reads back as its fields.
    const FavoriteURLFields fields = fieldsOf(*params);
    if (!fields.sshEnabled || !fields.sshHost.isEmpty())
        FUZZ_CHECK(FavoriteURL::isSimilar(fields, text, kLogin));
    const QString url = FavoriteURL::urlForFields(fields);
    FUZZ_CHECK(!url.isEmpty());
    const std::optional<QVariantMap> again = FavoriteURL::read(url);
    FUZZ_CHECK(again && FavoriteURL::urlForFields(fieldsOf(*again)) == url);
}

// Each key and value escaped whole, as a page would write them, reads back.
void checkQuery(const QString &text) {
    const QUrl url(text);
    const std::optional<QMap<QString, QString>> query = queryDictionary(url);
    FUZZ_CHECK(query.has_value() == url.hasQuery());
    if (!query)
        return;
    QStringList pairs;
    for (auto it = query->begin(); it != query->end(); ++it)
        pairs << QString::fromLatin1(QUrl::toPercentEncoding(it.key()) + '=' + QUrl::toPercentEncoding(it.value()));
    const QUrl written(QStringLiteral("x:?") + pairs.join(u'&'));
    FUZZ_CHECK(queryDictionary(written) == query);
}

void checkCommandLine(const QString &text) {
    const QStringList arguments = text.split(u'\n');
    const QStringList normalized = CommandLine::normalizedArguments(arguments, QDir::tempPath());
    FUZZ_CHECK(normalized.size() == arguments.size());
    const OpenRequest request = CommandLine::classify(normalized);
    FUZZ_CHECK(request.urls.size() + request.files.size() + request.malformed.size() == normalized.size());
    for (const QString &url : request.urls)
        FUZZ_CHECK(FavoriteURL::hasConnectionScheme(url));
    for (qsizetype i = 0; i < arguments.size(); ++i)
        if (FavoriteURL::schemeOf(arguments[i]).isEmpty())
            FUZZ_CHECK(normalized[i].startsWith(u'/')); // a path, made absolute
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    Fuzz::initialize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QString text = Fuzz::text(data, size);
    checkURL(text);
    checkQuery(text);
    checkCommandLine(text);
    return 0;
}
