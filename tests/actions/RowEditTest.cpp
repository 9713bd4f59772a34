#include "ActionTestSupport.h"
#include "actions/ZNTUpdateInsertDeleteQuery.h"
#include "engine/SeverableLink.h"

#include <future>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

using namespace actiontest;
using RowList = ZNTUpdateInsertDeleteQuery::RowList;

namespace {

Value text(const char *s) {
    return Value::fromString(QString::fromUtf8(s));
}
Value integer(int64_t i) {
    return Value::fromInt(i);
}

// Sends megabytes rows of 1 KiB (keys 0, 1, 2, ...) to a COPY FROM STDIN, as
// the terminal sends a file; whether libpq took it all.
class Upload : public ZNTCopyDelegate {
public:
    explicit Upload(int megabytes) : m_rows(megabytes * 1024) {}
    bool handleCopy(int, const std::shared_ptr<ZNTConnection> &connection, const std::shared_ptr<ZNTQuery> &) override {
        PGconn *conn = connection->conn();
        QByteArray chunk;
        for (int row = 0; row < m_rows; ++row) {
            const QByteArray key = QByteArray::number(row) + '\t';
            chunk += key + QByteArray(1023 - key.size(), 'x') + '\n';
            if (chunk.size() < 1024 * 1024 && row + 1 < m_rows)
                continue;
            if (PQputCopyData(conn, chunk.constData(), int(chunk.size())) != 1)
                return PQputCopyEnd(conn, "not sent") >= 0;
            chunk.clear();
        }
        sent = PQputCopyEnd(conn, nullptr) == 1;
        return true;
    }
    std::atomic<bool> sent{false};

private:
    const int m_rows;
};

// TCP_USER_TIMEOUT of a socket, in milliseconds.
unsigned unacknowledgedTimeout(int fd) {
    unsigned ms = 99;
    socklen_t length = sizeof ms;
    ::getsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &ms, &length);
    return ms;
}

class RowEdits : public ScratchDatabaseSuite {
protected:
    static void SetUpTestSuite() {
        makeDatabase("row_edits", R"(
            CREATE TABLE items (id int PRIMARY KEY, name text);
            CREATE TABLE keyless (n int, b box, span interval, doc json);
            CREATE VIEW item_names AS SELECT id, name FROM items;
        )");
    }
    void SetUp() override { exec(db->oracle.get(), "TRUNCATE items, keyless"); }

    // A save of relation's rows as the page sql shows them.
    static std::shared_ptr<ZNTUpdateInsertDeleteQuery> save(const std::shared_ptr<ZNTTable> &relation,
                                                            const ZNTColumnList &columns) {
        auto action = std::make_shared<ZNTUpdateInsertDeleteQuery>();
        action->setTable(relation);
        action->setColumns(columns);
        return action;
    }

    static QString prepared(const std::shared_ptr<ZNTUpdateInsertDeleteQuery> &action) {
        ErrorPtr error;
        EXPECT_TRUE(action->prepareSQLForConnection(*db->connection, &error)) << errorText(error);
        return action->sql();
    }
};

} // namespace

TEST_F(RowEdits, StatementsComeInTheirOrderWithTheirExpectations) {
    std::shared_ptr<ZNTTable> items;
    ASSERT_NO_FATAL_FAILURE(items = loadedRelation(*db, "items"));
    Page p;
    ASSERT_NO_FATAL_FAILURE(p = page(db->connection, "SELECT id, name FROM items"));
    auto action = save(items, p.columns);
    action->setDeleteRows({{integer(1), text("a")}});
    action->setUpdateRowsBefore({{integer(2), text("b")}, {integer(3), text("c")}, {integer(4), text("d")}});
    action->setUpdateRowsAfter(
        {{integer(2), text("x")}, {integer(3), text("x")}, {integer(4), Value::defaultMarker()}});
    action->setInsertRows({{Value::defaultMarker(), Value::defaultMarker()}, {integer(9), Value::null()}});
    EXPECT_EQ(prepared(action),
              "DELETE FROM \"public\".\"items\" WHERE \"id\"='1';\n"
              "UPDATE \"public\".\"items\" SET \"name\"=DEFAULT WHERE \"id\"='4' RETURNING \"id\", \"name\";\n"
              "UPDATE \"public\".\"items\" SET \"name\"='x' WHERE \"id\"='2' OR \"id\"='3' "
              "RETURNING \"id\", \"name\";\n"
              "INSERT INTO \"public\".\"items\" VALUES(DEFAULT) RETURNING \"id\", \"name\";\n"
              "INSERT INTO \"public\".\"items\"(\"id\", \"name\") VALUES('9', NULL) RETURNING \"id\", \"name\";\n");
    QList<std::tuple<int, int64_t, uint64_t>> expectations;
    for (const auto &e : action->returningExpectations())
        expectations.append({int(e.type()), e.affectedRows(), e.affectedIndex()});
    const uint64_t none = PGResultExpectation::NotFound;
    EXPECT_EQ(expectations,
              (QList<std::tuple<int, int64_t, uint64_t>>{{2, 1, none}, {1, 1, 2}, {1, 2, none}, {0, 1, 0}, {0, 1, 1}}));
    EXPECT_FALSE(action->sql().contains("BEGIN")) << "the preview shows the statements only";

    // Rows given one key could not be told apart by what they return: each
    // has a statement of its own.
    action->setDeleteRows({});
    action->setInsertRows({});
    action->setUpdateRowsAfter({{integer(7), text("b")}, {integer(7), text("c")}});
    action->setUpdateRowsBefore({{integer(2), text("b")}, {integer(3), text("c")}});
    EXPECT_EQ(prepared(action),
              "UPDATE \"public\".\"items\" SET \"id\"='7' WHERE \"id\"='2' RETURNING \"id\", \"name\";\n"
              "UPDATE \"public\".\"items\" SET \"id\"='7' WHERE \"id\"='3' RETURNING \"id\", \"name\";\n");
}

TEST_F(RowEdits, KeysPickTheirRowsWhateverTheTable) {
    std::shared_ptr<ZNTTable> items;
    ASSERT_NO_FATAL_FAILURE(items = loadedRelation(*db, "items"));
    Page p;
    ASSERT_NO_FATAL_FAILURE(p = page(db->connection, "SELECT id, name FROM items"));
    EXPECT_EQ(save(items, p.columns)->whereClauseOnConnection(*db->connection, {{integer(5), text("it's")}}, nullptr),
              "\"id\"='5'");

    // Without a key every column is the key, each value matched as it was
    // shown, and identical rows are picked through their places, as many as
    // were picked.
    std::shared_ptr<ZNTTable> keyless;
    ASSERT_NO_FATAL_FAILURE(keyless = loadedRelation(*db, "keyless"));
    Page k;
    ASSERT_NO_FATAL_FAILURE(k = page(db->connection, "SELECT n, b, span, doc FROM keyless"));
    const QList<Value> row{Value::null(), text("(1,1),(0,0)"), text("1 mon"), text("{\"a\": 1}")};
    EXPECT_EQ(save(keyless, k.columns)->whereClauseOnConnection(*db->connection, {row, row}, nullptr),
              "(tableoid, ctid) IN (SELECT tableoid, ctid FROM \"public\".\"keyless\" WHERE \"n\"::text IS NULL AND "
              "\"b\"::text COLLATE \"C\" = ('(1,1),(0,0)'::box)::text AND "
              "\"span\"::text COLLATE \"C\" = ('1 mon'::interval)::text AND "
              "\"doc\"::text COLLATE \"C\" = ('{\"a\": 1}'::json)::text LIMIT 2 FOR UPDATE)");

    // A view has no ctid to pick rows by.
    std::shared_ptr<ZNTView> view;
    ASSERT_NO_FATAL_FAILURE(view = loadedRelation<ZNTView>(*db, "item_names"));
    Page v;
    ASSERT_NO_FATAL_FAILURE(v = page(db->connection, "SELECT id, name FROM item_names"));
    EXPECT_EQ(
        save(view, v.columns)
            ->whereClauseOnConnection(*db->connection, {{integer(1), text("a")}, {integer(1), text("a")}}, nullptr),
        "\"id\"::text COLLATE \"C\" = ('1'::integer)::text AND \"name\"::text COLLATE \"C\" = ('a'::text)::text OR "
        "\"id\"::text COLLATE \"C\" = ('1'::integer)::text AND \"name\"::text COLLATE \"C\" = ('a'::text)::text");

    // A page without the key column cannot pick rows.
    ErrorPtr error;
    Page names;
    ASSERT_NO_FATAL_FAILURE(names = page(db->connection, "SELECT name FROM items"));
    auto blind = save(items, names.columns);
    blind->setDeleteRows({{text("a")}});
    blind->setSql("unchanged");
    EXPECT_FALSE(blind->prepareSQLForConnection(*db->connection, &error));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->localizedDescription(), "Can't find key column id");
    EXPECT_EQ(blind->sql(), "unchanged");
}

TEST_F(RowEdits, ARowWithNothingChangedWritesNothingAndTheSaveStillSucceeds) {
    exec(db->oracle.get(), "INSERT INTO items VALUES (1, 'a')");
    std::shared_ptr<ZNTTable> items;
    ASSERT_NO_FATAL_FAILURE(items = loadedRelation(*db, "items"));
    Page p;
    ASSERT_NO_FATAL_FAILURE(p = page(db->connection, "SELECT id, name FROM items"));
    auto action = save(items, p.columns);
    action->setUpdateRowsBefore(p.rows);
    action->setUpdateRowsAfter(p.rows);
    EXPECT_EQ(prepared(action), "");
    EXPECT_TRUE(action->returningExpectations().isEmpty());
    ASSERT_TRUE(runToEnd(action, db->connection));
    EXPECT_TRUE(action->success()) << errorText(action->error());
    EXPECT_EQ(action->completedUpdateRows(), p.rows);
}

TEST_F(RowEdits, OneOfTwoIdenticalRowsOfAKeylessTableIsDeletedAlone) {
    exec(db->oracle.get(), "INSERT INTO keyless VALUES (1, NULL, '1 day', NULL), (1, NULL, '1 day', NULL)");
    std::shared_ptr<ZNTTable> keyless;
    ASSERT_NO_FATAL_FAILURE(keyless = loadedRelation(*db, "keyless"));
    Page p;
    ASSERT_NO_FATAL_FAILURE(p = page(db->connection, "SELECT n, b, span, doc FROM keyless"));
    ASSERT_EQ(p.rows.size(), 2);
    auto action = save(keyless, p.columns);
    action->setDeleteRows({p.rows.first()});
    ASSERT_TRUE(runToEnd(action, db->connection));
    EXPECT_TRUE(action->success()) << errorText(action->error());
    EXPECT_EQ(scalar(db->oracle.get(), "SELECT count(*) FROM keyless"), "1");
}

// "=" on box compares areas and on interval calls a month 30 days: a change
// meant for one row would land on its look-alike.
TEST_F(RowEdits, BoxesOfOneAreaAndIntervalsOfOneLengthAreToldApart) {
    exec(db->oracle.get(), "INSERT INTO keyless VALUES (1, '(0,0),(2,2)', '30 days', NULL), "
                           "(1, '(1,1),(3,3)', '1 mon', NULL)");
    std::shared_ptr<ZNTTable> keyless;
    ASSERT_NO_FATAL_FAILURE(keyless = loadedRelation(*db, "keyless"));
    Page p;
    ASSERT_NO_FATAL_FAILURE(p = page(db->connection, "SELECT n, b, span, doc FROM keyless ORDER BY ctid"));
    ASSERT_EQ(p.rows.size(), 2);
    auto action = save(keyless, p.columns);
    QList<Value> after = p.rows[1];
    after[0] = integer(2);
    action->setUpdateRowsBefore({p.rows[1]});
    action->setUpdateRowsAfter({after});
    action->setDeleteRows({p.rows[0]});
    ASSERT_TRUE(runToEnd(action, db->connection));
    EXPECT_TRUE(action->success()) << errorText(action->error());
    EXPECT_EQ(rows(db->oracle.get(), "SELECT n, b, span FROM keyless"), QStringList{"2|(3,3),(1,1)|1 mon"});
}

TEST_F(RowEdits, AStaleRowRollsBackTheWholeSaveAndLeavesNoTransactionOpen) {
    exec(db->oracle.get(), "INSERT INTO items VALUES (1, 'a'), (2, 'b')");
    std::shared_ptr<ZNTTable> items;
    ASSERT_NO_FATAL_FAILURE(items = loadedRelation(*db, "items"));
    Page p;
    ASSERT_NO_FATAL_FAILURE(p = page(db->connection, "SELECT id, name FROM items ORDER BY id"));
    auto action = save(items, p.columns);
    action->setDeleteRows({p.rows[0]});
    action->setUpdateRowsBefore({p.rows[1]});
    action->setUpdateRowsAfter({{integer(2), text("changed")}});
    action->setInsertRows({{integer(3), text("new")}});
    exec(db->oracle.get(), "UPDATE items SET id = 20 WHERE id = 2"); // someone else's edit
    ASSERT_TRUE(runToEnd(action, db->connection));
    EXPECT_FALSE(action->success());
    ASSERT_TRUE(action->error());
    EXPECT_EQ(action->error()->localizedDescription(),
              "The query did not affect the expected number of rows. The transaction was rolled back.");
    EXPECT_EQ(rows(db->oracle.get(), "SELECT id, name FROM items ORDER BY id"), (QStringList{"1|a", "20|b"}));

    const QString pid = page(db->connection, "SELECT pg_backend_pid()").rows.value(0).value(0).description();
    EXPECT_EQ(scalar(db->oracle.get(), QStringLiteral("SELECT state FROM pg_stat_activity WHERE pid = %1").arg(pid)),
              "idle");
}

TEST_F(RowEdits, CellsLeftToTheirDefaultComeBackAsTheServerFilledThem) {
    exec(db->oracle.get(), "CREATE TABLE defaults (id serial PRIMARY KEY, label text DEFAULT 'fresh', n int)");
    exec(db->oracle.get(), "INSERT INTO defaults (label, n) VALUES ('old', 1)");
    std::shared_ptr<ZNTTable> table;
    ASSERT_NO_FATAL_FAILURE(table = loadedRelation(*db, "defaults"));
    Page p;
    ASSERT_NO_FATAL_FAILURE(p = page(db->connection, "SELECT id, label, n FROM defaults"));
    auto action = save(table, p.columns);
    const QList<Value> allDefault{Value::defaultMarker(), Value::defaultMarker(), Value::defaultMarker()};
    action->setInsertRows({allDefault, {Value::defaultMarker(), text("given"), integer(7)}});
    action->setUpdateRowsBefore(p.rows);
    action->setUpdateRowsAfter({{p.rows[0][0], Value::defaultMarker(), integer(2)}});
    ASSERT_TRUE(runToEnd(action, db->connection));
    ASSERT_TRUE(action->success()) << errorText(action->error());
    EXPECT_EQ(action->completedInsertRows(),
              (RowList{{integer(2), text("fresh"), Value::null()}, {integer(3), text("given"), integer(7)}}));
    EXPECT_EQ(action->completedUpdateRows(), (RowList{{integer(1), text("fresh"), integer(2)}}));
    EXPECT_EQ(rows(db->oracle.get(), "SELECT id, label, n FROM defaults ORDER BY id"),
              (QStringList{"1|fresh|2", "2|fresh|<null>", "3|given|7"}));
}

TEST_F(RowEdits, AServerRefusalKeepsItsOwnErrorThroughTheRollback) {
    exec(db->oracle.get(), "INSERT INTO items VALUES (1, 'a')");
    std::shared_ptr<ZNTTable> items;
    ASSERT_NO_FATAL_FAILURE(items = loadedRelation(*db, "items"));
    Page p;
    ASSERT_NO_FATAL_FAILURE(p = page(db->connection, "SELECT id, name FROM items"));
    auto action = save(items, p.columns);
    action->setInsertRows({{integer(5), text("five")}, {integer(1), text("again")}});
    ASSERT_TRUE(runToEnd(action, db->connection));
    EXPECT_FALSE(action->success());
    ASSERT_TRUE(action->error());
    EXPECT_EQ(action->error()->userInfo().value("PG_DIAG_SQLSTATE").toString(), "23505");
    EXPECT_EQ(scalar(db->oracle.get(), "SELECT count(*) FROM items"), "1") << "the first insert is undone too";
    EXPECT_TRUE(action->completedInsertRows().isEmpty());
}

// A save cancelled before its text went out never starts the transaction;
// why it did not stays with the error.
TEST_F(RowEdits, ATransactionThatCannotStartSaysWhy) {
    std::shared_ptr<ZNTTable> items;
    ASSERT_NO_FATAL_FAILURE(items = loadedRelation(*db, "items"));
    Page p;
    ASSERT_NO_FATAL_FAILURE(p = page(db->connection, "SELECT id, name FROM items"));
    auto action = save(items, p.columns);
    action->setInsertRows({{integer(1), text("one")}});
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    db->connection->connectionQueue().async([released] { released.wait(); });
    DoneWaiter done(action.get());
    action->executeInBackgroundOnConnection(db->connection);
    action->cancel();
    release.set_value();
    ASSERT_TRUE(done.wait());
    EXPECT_FALSE(action->success());
    ASSERT_TRUE(action->error());
    EXPECT_EQ(action->error()->localizedDescription(), "Could not start the transaction.");
    ASSERT_TRUE(action->error()->underlyingError());
    EXPECT_EQ(action->error()->underlyingError()->localizedDescription(), "The query was cancelled by the user.");
    EXPECT_EQ(scalar(db->oracle.get(), "SELECT count(*) FROM items"), "0");
}

// Values travel as literals: quotes, backslashes, UTF-8 and bytes must arrive
// as they were, in the WHERE clause as in SET and VALUES, whichever way the
// server reads backslashes in plain string literals.
TEST_F(RowEdits, AwkwardValuesArriveUnchangedWithEitherStringSyntax) {
    exec(db->oracle.get(), "CREATE TABLE awkward (t text, b bytea)");
    const Value first = text("it's a \\ back\\\\slash 'quoted' \\x41 ünïcødé 😀");
    const Value second = text("E'\\n' \"x\" 日本語 ''");
    const Value bytes = Value::fromBytes(QByteArray("\x00\x27\x5c\xff\x22\x0a", 6));
    const Value moreBytes = Value::fromBytes(QByteArray("\\x00'", 6));
    for (const char *mode : {"on", "off"}) {
        SCOPED_TRACE(mode);
        exec(db->oracle.get(), "TRUNCATE awkward");
        exec(db->oracle.get(),
             QStringLiteral("ALTER DATABASE %1 SET standard_conforming_strings = %2").arg(db->name, mode));
        auto server = ZNTServer::create(testServerParams(db->name));
        auto connection = server->mainDatabase()->connection();
        page(connection, "SELECT 1"); // connects and reads the server's settings
        ASSERT_EQ(connection->configurationParameterValues().value("standard_conforming_strings"), mode);
        std::shared_ptr<ZNTTable> table;
        ASSERT_NO_FATAL_FAILURE(table = loadedRelation(server->mainDatabase(), "awkward"));
        const ZNTColumnList columns = page(connection, "SELECT t, b FROM awkward").columns;

        auto insert = std::make_shared<ZNTUpdateInsertDeleteQuery>();
        insert->setTable(table);
        insert->setColumns(columns);
        insert->setInsertRows({{first, bytes}, {first, bytes}});
        ASSERT_TRUE(runToEnd(insert, connection));
        ASSERT_TRUE(insert->success()) << errorText(insert->error());
        Page stored;
        ASSERT_NO_FATAL_FAILURE(stored = page(connection, "SELECT t, b FROM awkward"));
        EXPECT_EQ(stored.rows, (RowList{{first, bytes}, {first, bytes}}));

        // Both rows are the key of themselves: the WHERE clause must match one.
        auto update = std::make_shared<ZNTUpdateInsertDeleteQuery>();
        update->setTable(table);
        update->setColumns(columns);
        update->setUpdateRowsBefore({stored.rows[0]});
        update->setUpdateRowsAfter({{second, moreBytes}});
        ASSERT_TRUE(runToEnd(update, connection));
        ASSERT_TRUE(update->success()) << errorText(update->error());
        EXPECT_EQ(
            rows(db->oracle.get(), "SELECT t = $$" + first.toString() + "$$, encode(b, 'hex') FROM awkward ORDER BY 2"),
            (QStringList{"t|00275cff220a", "f|5c7830302700"}));
        EXPECT_EQ(scalar(db->oracle.get(), "SELECT t FROM awkward WHERE b = '\\x5c7830302700'::bytea"),
                  second.toString());
    }
    exec(db->oracle.get(), QStringLiteral("ALTER DATABASE %1 RESET standard_conforming_strings").arg(db->name));
}

TEST_F(RowEdits, AValueWithANulCharacterFailsTheSaveInsteadOfBeingCutShort) {
    std::shared_ptr<ZNTTable> items;
    ASSERT_NO_FATAL_FAILURE(items = loadedRelation(*db, "items"));
    exec(db->oracle.get(), "INSERT INTO items VALUES (1, 'a')");
    Page p;
    ASSERT_NO_FATAL_FAILURE(p = page(db->connection, "SELECT id, name FROM items"));
    const Value withNul = Value::fromString(QStringLiteral("ab") + QChar(0) + QStringLiteral("cd"));
    for (int insert = 0; insert < 2; ++insert) {
        auto action = save(items, p.columns);
        if (insert) {
            action->setInsertRows({{integer(2), withNul}});
        } else {
            action->setUpdateRowsBefore({{integer(1), text("a")}});
            action->setUpdateRowsAfter({{integer(1), withNul}});
        }
        ErrorPtr error;
        EXPECT_FALSE(action->prepareSQLForConnection(*db->connection, &error));
        ASSERT_NE(error, nullptr);
        EXPECT_TRUE(error->localizedDescription().contains("“name”")) << errorText(error);
    }
    EXPECT_EQ(scalar(db->oracle.get(), "SELECT string_agg(id || name, ',') FROM items"), "1a");
}

// The SQL preview prepares the very action that is saving, over and over, with
// other rows: the save goes on with the statements, expectations and rows it
// started with, and the preview never meets the save's state on another thread.
TEST_F(RowEdits, PreviewsDuringASaveLeaveTheSaveItsOwnStatementsAndRows) {
    exec(db->oracle.get(), "CREATE TABLE previewed (id serial PRIMARY KEY, label text DEFAULT 'fresh')");
    std::shared_ptr<ZNTTable> table;
    ASSERT_NO_FATAL_FAILURE(table = loadedRelation(*db, "previewed"));
    const ZNTColumnList columns = page(db->connection, "SELECT id, label FROM previewed").columns;
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE(round);
        exec(db->oracle.get(), "TRUNCATE previewed RESTART IDENTITY");
        auto action = save(table, columns);
        action->setInsertRows({{Value::defaultMarker(), text("saved")}});
        // The save waits on the queue until the first previews have been made.
        std::promise<void> release;
        db->connection->connectionQueue().async([released = release.get_future().share()] { released.wait(); });
        DoneWaiter done(action.get());
        action->executeInBackgroundOnConnection(db->connection);
        int previews = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (done.count == 0 && std::chrono::steady_clock::now() < deadline) {
            action->setInsertRows({{Value::defaultMarker(), text("preview")}, {integer(previews), Value::null()}});
            action->setDeleteRows({{integer(previews), text("gone")}});
            ErrorPtr error;
            EXPECT_TRUE(action->prepareSQLForConnection(*db->connection, &error)) << errorText(error);
            if (++previews == 3)
                release.set_value();
            QCoreApplication::processEvents();
        }
        ASSERT_EQ(done.count, 1);
        EXPECT_TRUE(action->success()) << errorText(action->error());
        EXPECT_EQ(action->completedInsertRows(), (RowList{{integer(1), text("saved")}}));
        EXPECT_EQ(rows(db->oracle.get(), "SELECT id, label FROM previewed"), QStringList{"1|saved"});
    }
}

// What a save sent and the server never acknowledged ends the session within a
// bound while the save awaits its statements and COMMIT (a link that died); a
// server that takes long is still waited for, its link probed more often
// meanwhile. The bound goes with the save: on recent kernels it would also end
// an upload that the server holds back longer (its receive window shut), and
// such an upload must finish once it may.
TEST_F(RowEdits, TheBoundOnUnacknowledgedDataHoldsOnlyWhileASaveAwaitsItsAnswers) {
    struct Bound {
        Bound() { ZNTUpdateInsertDeleteQuery::setUnacknowledgedTimeoutForTesting(std::chrono::seconds(1)); }
        ~Bound() { ZNTUpdateInsertDeleteQuery::setUnacknowledgedTimeoutForTesting({}); }
    } bound;
    exec(db->oracle.get(), "INSERT INTO items VALUES (1, 'a'); CREATE TABLE uploads (n int PRIMARY KEY, pad text)");
    std::shared_ptr<ZNTTable> items;
    ASSERT_NO_FATAL_FAILURE(items = loadedRelation(*db, "items"));
    Page p;
    ASSERT_NO_FATAL_FAILURE(p = page(db->connection, "SELECT id, name FROM items"));
    std::promise<int> socket;
    db->connection->connectionQueue().async([&] { socket.set_value(PQsocket(db->connection->conn())); });
    const int fd = socket.get_future().get();

    PGconnPtr holder = adminConnection(db->name);
    exec(holder.get(), "BEGIN; SELECT * FROM items FOR UPDATE");
    auto action = save(items, p.columns);
    action->setUpdateRowsBefore({p.rows[0]});
    action->setUpdateRowsAfter({{integer(1), text("b")}});
    DoneWaiter saved(action.get());
    action->executeInBackgroundOnConnection(db->connection);
    EXPECT_TRUE(pumpUntil([&] { // while the row is held
        return unacknowledgedTimeout(fd) == 1000 && linkWatchOf(fd).probeSeconds == std::pair(1, 1);
    }));
    std::this_thread::sleep_for(std::chrono::seconds(2)); // past the bound: acknowledged
    exec(holder.get(), "COMMIT");
    ASSERT_TRUE(saved.wait());
    EXPECT_TRUE(action->success()) << errorText(action->error());
    EXPECT_EQ(unacknowledgedTimeout(fd), 0u);
    EXPECT_EQ(linkWatchOf(fd).probeSeconds, std::pair(45, 15));

    // The upload's first row waits for another session's row of the same key,
    // and what follows fills the buffers on both sides.
    exec(holder.get(), "BEGIN; INSERT INTO uploads VALUES (0)");
    auto copy = ZNTQuery::create("COPY uploads FROM STDIN");
    auto upload = std::make_shared<Upload>(32);
    copy->setCpyDelegate(upload);
    DoneWaiter copied(copy.get());
    copy->executeInBackgroundOnConnection(db->connection, false);
    EXPECT_TRUE(pumpUntil([&] {
        return scalar(db->oracle.get(), "SELECT count(*) FROM pg_stat_activity WHERE wait_event_type = 'Lock' "
                                        "AND query = 'COPY uploads FROM STDIN'") == "1";
    }));
    std::this_thread::sleep_for(std::chrono::seconds(4)); // held well past the bound
    exec(holder.get(), "ROLLBACK");
    ASSERT_TRUE(copied.wait(1, std::chrono::seconds(60)));
    EXPECT_TRUE(upload->sent);
    EXPECT_EQ(copy->error(), nullptr) << errorText(copy->error());
    EXPECT_EQ(scalar(db->oracle.get(), "SELECT count(*) FROM uploads"), "32768");
}

// A save waiting on the server (here for a row another session holds) gets
// nothing meanwhile, and the kernel ends its session once a probe is out and
// nothing came for the bound: an outage shorter than the bound less two probe
// times costs it nothing, and one longer than the bound ends it. With a 6 s
// bound and 1 s probes, 2.5 s survives and 9 s ends, each with 2 s to spare
// for a slow machine. The URL's probes stand to the bound as 45 s and 15 s to
// a minute: kept, they lose the save on the short outage, which begins just
// before the first of them.
TEST_F(RowEdits, ASaveWaitingOnTheServerOutlivesAShortOutageAndEndsOnALongOne) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "the link it cuts lives in a network namespace of its own, which only root can make";
    struct Bound {
        Bound() { ZNTUpdateInsertDeleteQuery::setUnacknowledgedTimeoutForTesting(std::chrono::seconds(6)); }
        ~Bound() { ZNTUpdateInsertDeleteQuery::setUnacknowledgedTimeoutForTesting({}); }
    } bound;
    SeverableLink link(requiredEnv("TRELLAN_PG_PORT").toInt());
    ASSERT_EQ(link.failure(), QString());
    QVariantMap params = testServerParams(db->name);
    params.insert({{"host", link.host()}, {"port", link.port()}, {"allowPlainTextConnection", true}});
    params.insert({{"keepalives_idle", 5}, {"keepalives_interval", 1}});
    auto connection = ZNTConnection::create(params);
    ASSERT_TRUE(connectAndSettle(connection));
    ASSERT_EQ(connection->state(), ZNTConnection::ZNTConnectionStateConnected);
    exec(db->oracle.get(), "INSERT INTO items VALUES (1, 'a')");
    std::shared_ptr<ZNTTable> items;
    ASSERT_NO_FATAL_FAILURE(items = loadedRelation(*db, "items"));
    Page p;
    ASSERT_NO_FATAL_FAILURE(p = page(db->connection, "SELECT id, name FROM items"));
    PGconnPtr holder = adminConnection(db->name);

    // How long after the outage began the save ended, when it did before its end.
    const auto saveThrough = [&](std::chrono::milliseconds outage, const char *name) {
        exec(holder.get(), "BEGIN; SELECT * FROM items FOR UPDATE");
        auto action = save(items, p.columns);
        action->setUpdateRowsBefore({p.rows[0]});
        action->setUpdateRowsAfter({{integer(1), text(name)}});
        DoneWaiter saved(action.get());
        action->executeInBackgroundOnConnection(connection);
        EXPECT_TRUE(pumpUntil([&] {
            return scalar(db->oracle.get(), "SELECT count(*) FROM pg_stat_activity WHERE wait_event_type = 'Lock' "
                                            "AND datname = current_database()") == "1";
        }));
        std::this_thread::sleep_for(std::chrono::seconds(4));
        EXPECT_TRUE(link.cut(true));
        const auto cut = std::chrono::steady_clock::now();
        std::optional<std::chrono::steady_clock::duration> ended;
        if (saved.wait(1, outage))
            ended = std::chrono::steady_clock::now() - cut;
        EXPECT_TRUE(link.cut(false));
        exec(holder.get(), "COMMIT");
        EXPECT_TRUE(saved.wait());
        return std::pair(action, ended);
    };
    const auto [survived, lost] = saveThrough(std::chrono::milliseconds(2500), "b");
    EXPECT_FALSE(lost.has_value());
    EXPECT_TRUE(survived->success()) << errorText(survived->error());
    EXPECT_EQ(scalar(db->oracle.get(), "SELECT name FROM items"), "b");

    const auto [ended, when] = saveThrough(std::chrono::seconds(9), "c");
    ASSERT_TRUE(when.has_value());
    EXPECT_GT(*when, std::chrono::seconds(4)) << "the bound, not the outage itself, ends the session";
    EXPECT_FALSE(ended->success());
    EXPECT_EQ(errorText(ended->error()).section(" / ", 0, 0), "The connection was lost.");
    EXPECT_EQ(scalar(db->oracle.get(), "SELECT name FROM items"), "b");
}
