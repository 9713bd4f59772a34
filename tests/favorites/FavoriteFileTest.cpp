#include "FavoriteFileTestSupport.h"
#include "favorites/ZNTFavoriteFile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>
#include <gtest/gtest.h>

using namespace ZNTFavoriteFile;

namespace {

// A file as another program writes it: plistlib in binary or XML form, the
// history compressed with zlib, optionally encrypted with "export pw".
QByteArray pythonFavorite(const QString &format, const QString &extra = {}) {
    const QString script = kPythonContainer + R"(
import plistlib, sys, zlib, datetime
history = {'texts': ['select 1', 42, 'select ümlaut'],
           'dates': [datetime.datetime(2020, 5, 1, 12, 30, 15), datetime.datetime(2020, 5, 2),
                     datetime.datetime(2021, 1, 2, 3, 4, 5)]}
raw = plistlib.dumps(history, fmt=plistlib.FMT_BINARY)
fav = {'type': 'norvane.Trellan.favorite', 'nickname': 'Prod – €', 'host': 'db.example.com', 'port': 6543,
       'user': 'ann', 'database': 'sales', 'password': 'pa ss', 'showAllDatabases': True, 'sshEnabled': False,
       'sshHost': 'gw', 'sshPort': '22', 'sshUser': 'bob', 'history': 'not read',
       'compressedHistoryElements': {'data': zlib.compress(raw), 'length': len(raw)}}
)" + extra + R"(
fmt = plistlib.FMT_BINARY if sys.argv[1] == 'binary' else plistlib.FMT_XML
sys.stdout.buffer.write(plistlib.dumps(fav, fmt=fmt))
)";
    return runPython(script, {format});
}

Contents sampleContents() {
    Contents c;
    c.nickname = QString::fromUtf8("Stage – ü");
    c.host = "db.internal";
    c.port = 5433;
    c.user = "ann";
    c.password = QString::fromUtf8("pässword");
    c.showAllDatabases = false;
    c.sshEnabled = true;
    c.sshHost = "gw";
    c.sshPort = 2222;
    c.sshPassword = "ssh-secret";
    c.history = {{"select 1", QDateTime(QDate(2022, 3, 4), QTime(5, 6, 7), Qt::UTC)},
                 {QString::fromUtf8("select 'ö'"), QDateTime(QDate(2023, 1, 1), QTime(0, 0, 1), Qt::UTC)}};
    return c;
}

// What Python sees in a file of ours, as JSON: every key, the passwords in
// plain text (decrypted with "export pw" when encrypted) and the history.
QJsonObject pythonReading(const QByteArray &file) {
    const QString script = kPythonContainer + R"(
import json, plistlib, sys, zlib
data = sys.stdin.buffer.read()
assert data.startswith(b'bplist00')
fav = plistlib.loads(data)
out = {'keys': sorted(fav)}
for key in ('nickname', 'host', 'port', 'user', 'database', 'password', 'showAllDatabases', 'sshEnabled',
            'sshHost', 'sshPort', 'sshUser', 'sshPassword', 'type'):
    if key in fav: out[key] = fav[key]
for key in ('encryptedPassword', 'encryptedSshPassword'):
    if key in fav: out[key] = decrypt(fav[key], 'export pw').decode()
for key in ('compressedHistoryElements', 'encryptedHistoryElements'):
    if key in fav:
        blob = fav[key]['data']
        if key.startswith('encrypted'): blob = decrypt(blob, 'export pw')
        raw = zlib.decompress(blob)
        assert len(raw) == fav[key]['length']
        h = plistlib.loads(raw)
        out['texts'] = h['texts']
        out['dates'] = [d.isoformat() for d in h['dates']]
print(json.dumps(out))
)";
    return QJsonDocument::fromJson(runPython(script, {}, file)).object();
}

std::optional<QVariantMap> read(const QByteArray &file, const std::optional<QString> &password, ErrorPtr *error) {
    return paramsForData(file, password, error);
}

} // namespace

TEST(FavoriteFile, FilesOfPlistlibInBothFormatsImportWithHistoryAndDropWrongTypes) {
    for (const QString format : {"binary", "xml"}) {
        SCOPED_TRACE(format.toStdString());
        ErrorPtr error;
        auto params = read(pythonFavorite(format), std::nullopt, &error);
        ASSERT_TRUE(params) << error->localizedDescription().toStdString();
        EXPECT_EQ(params->value("nickname").toString(), QString::fromUtf8("Prod – €"));
        EXPECT_EQ(params->value("port").toInt(), 6543);
        EXPECT_EQ(params->value("password").toString(), "pa ss");
        EXPECT_TRUE(params->value("showAllDatabases").toBool());
        EXPECT_EQ(params->value("sshEnabled"), QVariant(false));
        EXPECT_FALSE(params->contains("sshPort")) << "a port written as text is dropped";
        const QVariantMap history = params->value("history").toMap();
        // The entry whose text is a number is skipped with its date.
        EXPECT_EQ(history.value("texts").toStringList(), (QStringList{"select 1", QString::fromUtf8("select ümlaut")}));
        const QVariantList dates = history.value("dates").toList();
        ASSERT_EQ(dates.size(), 2);
        EXPECT_EQ(dates[0].toDateTime(), QDateTime(QDate(2020, 5, 1), QTime(12, 30, 15), Qt::UTC));
        EXPECT_EQ(dates[1].toDateTime(), QDateTime(QDate(2021, 1, 2), QTime(3, 4, 5), Qt::UTC));
    }
}

TEST(FavoriteFile, PythonReadsOurPlainFileKeyForKey) {
    ErrorPtr error;
    auto file = dataWithOptions(sampleContents(), IncludePasswords | IncludeHistory, std::nullopt, &error);
    ASSERT_TRUE(file);
    const QJsonObject seen = pythonReading(*file);
    EXPECT_EQ(seen.value("keys").toVariant().toStringList(),
              (QStringList{"compressedHistoryElements", "host", "nickname", "password", "port", "showAllDatabases",
                           "sshEnabled", "sshHost", "sshPassword", "sshPort", "type", "user"}));
    EXPECT_EQ(seen.value("nickname").toString(), QString::fromUtf8("Stage – ü"));
    EXPECT_EQ(seen.value("port").toInt(), 5433);
    EXPECT_EQ(seen.value("password").toString(), QString::fromUtf8("pässword"));
    EXPECT_EQ(seen.value("sshEnabled"), QJsonValue(true));
    EXPECT_EQ(seen.value("type").toString(), "norvane.Trellan.favorite");
    EXPECT_EQ(seen.value("texts").toVariant().toStringList(),
              (QStringList{"select 1", QString::fromUtf8("select 'ö'")}));
    EXPECT_EQ(seen.value("dates").toVariant().toStringList(),
              (QStringList{"2022-03-04T05:06:07", "2023-01-01T00:00:01"}));
}

TEST(FavoriteFile, PythonDecryptsOurEncryptedPasswordsAndHistory) {
    ErrorPtr error;
    auto file = dataWithOptions(sampleContents(), IncludePasswords | IncludeHistory, QString("export pw"), &error);
    ASSERT_TRUE(file);
    const QJsonObject seen = pythonReading(*file);
    const QStringList keys = seen.value("keys").toVariant().toStringList();
    EXPECT_TRUE(keys.contains("encryptedHistoryElements"));
    EXPECT_FALSE(keys.contains("password") || keys.contains("sshPassword") ||
                 keys.contains("compressedHistoryElements"));
    EXPECT_EQ(seen.value("encryptedPassword").toString(), QString::fromUtf8("pässword"));
    EXPECT_EQ(seen.value("encryptedSshPassword").toString(), "ssh-secret");
    EXPECT_EQ(seen.value("texts").toArray().size(), 2);

    auto params = read(*file, QString("export pw"), &error);
    ASSERT_TRUE(params);
    EXPECT_EQ(params->value("password").toString(), QString::fromUtf8("pässword"));
    EXPECT_EQ(params->value("sshPassword").toString(), "ssh-secret");
    EXPECT_EQ(params->value("history").toMap().value("texts").toStringList().size(), 2);
}

TEST(FavoriteFile, APasswordBeginningWithAByteOrderMarkKeepsIt) {
    Contents c;
    c.host = "h";
    c.password = QChar(0xfeff) + QString("secret");
    ErrorPtr error;
    for (const std::optional<QString> &exportPassword : {std::optional<QString>(), std::optional<QString>("pw")}) {
        auto file = dataWithOptions(c, IncludePasswords, exportPassword, &error);
        ASSERT_TRUE(file);
        auto params = read(*file, exportPassword, &error);
        ASSERT_TRUE(params);
        EXPECT_EQ(params->value("password").toString(), *c.password);
    }
}

TEST(FavoriteFile, OptionsDecideWhatLeavesTheFavorite) {
    Contents c = sampleContents();
    ErrorPtr error;
    auto bare = dataWithOptions(c, 0, QString("export pw"), &error);
    ASSERT_TRUE(bare);
    EXPECT_EQ(pythonReading(*bare).value("keys").toVariant().toStringList(),
              (QStringList{"host", "nickname", "port", "showAllDatabases", "sshEnabled", "sshHost", "sshPort", "type",
                           "user"}));
    auto params = read(*bare, std::nullopt, &error);
    ASSERT_TRUE(params);
    EXPECT_FALSE(params->contains("password") || params->contains("history"));

    c.hasSshPrivateKey = true;
    auto withKey = dataWithOptions(c, IncludePasswords, std::nullopt, &error);
    ASSERT_TRUE(withKey);
    const QStringList keys = pythonReading(*withKey).value("keys").toVariant().toStringList();
    EXPECT_TRUE(keys.contains("password"));
    EXPECT_FALSE(keys.contains("sshPassword")) << "a key file's favorite exports no SSH password";
}

TEST(FavoriteFile, MissingOrWrongExportPasswordIsAPasswordError) {
    ErrorPtr error;
    auto file = dataWithOptions(sampleContents(), IncludePasswords, QString("export pw"), &error);
    ASSERT_TRUE(file);
    EXPECT_FALSE(read(*file, std::nullopt, &error));
    EXPECT_EQ(error->domain(), PasswordErrorDomain);
    EXPECT_EQ(error->localizedDescription(), "Password required.");
    EXPECT_FALSE(read(*file, QString("export PW"), &error));
    EXPECT_EQ(error->domain(), PasswordErrorDomain);
    EXPECT_EQ(error->code(), 0);
    EXPECT_EQ(error->localizedDescription(), "Decryption of password failed.");

    auto historyOnly = dataWithOptions(sampleContents(), IncludeHistory, QString("export pw"), &error);
    ASSERT_TRUE(historyOnly);
    EXPECT_FALSE(read(*historyOnly, QString("nope"), &error));
    EXPECT_EQ(error->localizedDescription(), "Decryption failed.");
}

TEST(FavoriteFile, DeclaredHistoryLengthMustMatchAndStayPlausible) {
    struct Case {
        const char *name;
        const char *length;
        QString message;
    };
    const Case cases[] = {
        {"oneMore", "len(raw) + 1", "Failed to decompress query history data: 0"},
        {"oneLess", "len(raw) - 1", "Failed to decompress query history data: -5"},
        {"negative", "-1", "Failed to decompress query history data."},
        {"beyondAnyRatio", "10**12", "Failed to decompress query history data."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray file = pythonFavorite(
            "binary", QString("fav['compressedHistoryElements']['length'] = %1\ndel fav['password']\n").arg(c.length));
        ErrorPtr error;
        EXPECT_FALSE(read(file, std::nullopt, &error));
        EXPECT_EQ(error->domain(), kBundleIdentifier);
        EXPECT_EQ(error->code(), 1);
        EXPECT_EQ(error->localizedDescription(), c.message);
    }
}

TEST(FavoriteFile, EncryptedPythonFileAndForeignFilesAreReadOrRefusedAsSuch) {
    const QByteArray encrypted =
        pythonFavorite("binary", "fav['encryptedPassword'] = encrypt('db pw'.encode(), 'export pw')\n"
                                 "fav['encryptedHistoryElements'] = {'data': encrypt(zlib.compress(raw), 'export pw'),"
                                 " 'length': len(raw)}\n"
                                 "del fav['compressedHistoryElements']\n");
    ErrorPtr error;
    auto params = read(encrypted, QString("export pw"), &error);
    ASSERT_TRUE(params);
    EXPECT_EQ(params->value("password").toString(), "db pw");
    EXPECT_EQ(params->value("history").toMap().value("texts").toStringList().size(), 2);

    const QByteArray otherType = pythonFavorite("xml", "fav['type'] = 'norvane.Trellan.filter'\n");
    EXPECT_FALSE(read(otherType, std::nullopt, &error));
    EXPECT_EQ(error->localizedDescription(), "Not a valid Trellan favorite");
    EXPECT_FALSE(read("just some text", std::nullopt, &error));
    EXPECT_EQ(error->code(), 1);
    EXPECT_FALSE(read(QByteArray(), std::nullopt, &error));
}
