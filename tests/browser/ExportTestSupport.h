// Shared by the CSV export tests: a scratch database with the shop's tables,
// psql's \copy and Python's csv module as oracles, and waiting for exports.
#pragma once

#include "browser/CSVExportManager.h"
#include "model/CatalogTestSupport.h"
#include "uikit/AlertSheet.h"
#include "uikit/ProgressSheet.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QWidget>
#include <gtest/gtest.h>

namespace exporttest {

// Values of every kind the engine keeps, in two schemas that each have "orders".
inline const char *const kShop = R"sql(
CREATE SCHEMA shop; CREATE SCHEMA archive;
CREATE TABLE shop.orders (id int PRIMARY KEY, customer text, total numeric(10,2), paid boolean, note text,
                          placed timestamptz, weight float8, ratio real, receipt bytea, tags text[], doc jsonb,
                          day date);
INSERT INTO shop.orders VALUES
 (1, 'Ann "the" Buyer', 12.50, true, E'two\r\nlines and a lone\rcr', '2024-05-06 07:08:09+00', 1e-7, 0.5,
  '\x00ff', '{a,b}', '{"k": "v"}', '2024-05-06'),
 (2, 'back\slash, comma', NULL, false, E'tab\there', NULL, 'NaN', 'Infinity', '\x', '{}', 'null', NULL),
 (3, 'ünïcødé ✓ 😀', 0, NULL, '', '-infinity', '-Infinity', '-0', NULL, NULL, '[1, 2.5]', 'infinity'),
 (4, NULL, -1.05, true, NULL, NULL, 123456789.125, 3.4028235e38, '\x5c', '{"x\"y"}', NULL, '0001-01-01 BC');
CREATE TABLE archive.orders (id bigint, note text);
INSERT INTO archive.orders VALUES (9007199254740993, 'old'), (-9223372036854775808, NULL), (0, '');
CREATE TABLE shop.customers (id int, name text, since date);
INSERT INTO shop.customers VALUES (1, 'Ann', '2020-01-01'), (2, 'Bob', NULL);
)sql";

// What each column of those tables is kept as: n integer, f float, b boolean,
// x bytea, s text (every other type).
inline const char *const kShopOrdersKinds = "nssbssffxsss";

// Runs psql's \copy of sql into path as CSV with a header, NULL as <<NULL>>.
inline void psqlCopy(const QString &database, const QString &sql, const QString &path) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("PGCLIENTENCODING", "UTF8");
    process.setProcessEnvironment(env);
    const QString copy =
        QStringLiteral("\\copy (%1) TO '%2' WITH (FORMAT csv, HEADER, NULL '<<NULL>>')").arg(sql, path);
    process.start("psql", {"-X", "-q", "-v", "ON_ERROR_STOP=1", "-h", requiredEnv("TRELLAN_PG_HOST"), "-p",
                           requiredEnv("TRELLAN_PG_PORT"), "-U", requiredEnv("TRELLAN_PG_ADMIN_USER"), "-d", database,
                           "-c", copy});
    EXPECT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
}

// Python brings psql's file to the rules of our CSV (text in quotes, TRUE and
// FALSE, bytea empty, CR LF and CR as LF, nan, inf, -inf) and compares bytes;
// then its csv module reads our file back and compares rows. "bytes-equal" and
// "rows-equal" on two lines when both hold.
inline QString compareWithPsql(const QString &psqlFile, const QString &kinds, const QString &ourFile) {
    static const char *const script = R"py(
import csv, sys
psql_path, kinds, ours_path = sys.argv[1:4]
NULL = '<<NULL>>'
FLOATS = {'NaN': 'nan', 'Infinity': 'inf', '-Infinity': '-inf'}
BOOLS = {'t': 'TRUE', 'f': 'FALSE'}
def lines(v): return v.replace('\r\n', '\n').replace('\r', '\n')
def quoted(v): return '"' + lines(v).replace('"', '""') + '"'
def encoded(kind, v):
    if kind == 'x' or v == NULL: return ''
    return {'n': v, 'f': FLOATS.get(v, v), 'b': BOOLS.get(v, v)}.get(kind, quoted(v))
def plain(kind, v):
    if kind == 'x' or v == NULL: return ''
    return {'n': v, 'f': FLOATS.get(v, v), 'b': BOOLS.get(v, v)}.get(kind, lines(v))
with open(psql_path, newline='', encoding='utf-8') as f:
    header, *body = list(csv.reader(f))
expected = ','.join(quoted(h) for h in header) + '\n'
expected += ''.join(','.join(encoded(k, v) for k, v in zip(kinds, r)) + '\n' for r in body)
with open(ours_path, 'rb') as f:
    ours = f.read().decode('utf-8')
with open(ours_path, newline='', encoding='utf-8') as f:
    back = list(csv.reader(f))
want = [header] + [[plain(k, v) for k, v in zip(kinds, r)] for r in body]
print('bytes-equal' if ours == expected else 'bytes-differ:\n%r\n%r' % (expected, ours))
print('rows-equal' if back == want else 'rows-differ:\n%r\n%r' % (want, back))
)py";
    return QString::fromUtf8(runPython(script, {psqlFile, kinds, ourFile})).trimmed();
}

inline QByteArray fileBytes(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

inline void writeFile(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(bytes);
}

// Everything in a folder, hidden names included: a temporary folder left
// behind shows here.
inline QStringList entries(const QString &folder) {
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// Waits until no export runs any more.
inline bool exportsEnded() {
    return pumpUntil([] { return CSVExportManager::runningCount() == 0; }, std::chrono::seconds(60));
}

// Ends an alert with its default button, and lets it go.
inline void dismiss(Alert *alert) {
    alert->defaultButton()->click();
    pumpUntil([&] { return !alert->isVisible(); });
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// The alert shown on window, once it is up.
inline Alert *shownAlert(QWidget &window) {
    Alert *alert = nullptr;
    pumpUntil([&] { return (alert = window.findChild<Alert *>()) && alert->isVisible(); });
    return alert;
}

inline std::shared_ptr<ZNTTable> relation(const std::shared_ptr<ZNTServer> &server, const QString &schema,
                                          const QString &name, ZNTTable::Type type = ZNTTable::ZNTTableTypeTable) {
    return ZNTTable::createOfType(type, name, schema, server->mainDatabase());
}

// Slows the export's writing, counting batches, for one test.
class SlowWriter {
public:
    explicit SlowWriter(std::chrono::milliseconds delay) {
        CSVExportManager::setBatchHookForTesting([this, delay] {
            ++batches;
            std::this_thread::sleep_for(delay);
        });
    }
    ~SlowWriter() { CSVExportManager::setBatchHookForTesting(nullptr); }
    std::atomic<int> batches{0};
};

// Rows that trickle from the server in many batches: wide enough that its
// output buffer goes out every few rows, slow enough to take a while.
inline const char *const kTrickleView =
    "CREATE VIEW trickle AS SELECT g, repeat('x', 3000) AS pad, pg_sleep(0.003)::text AS s "
    "FROM generate_series(1, 600) g";

} // namespace exporttest
