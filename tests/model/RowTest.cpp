#include "CatalogTestSupport.h"
#include "model/ZNTAsynchronousRow.h"
#include "model/ZNTRow.h"
#include "platform/ProgramError.h"

#include <thread>

namespace {

struct Fixture {
    ScratchDatabase db;
    std::shared_ptr<ZNTServer> server;

    std::shared_ptr<ZNTTable> loaded(const QString &name, bool view = false) {
        if (!server)
            server = connectedServer(db.name);
        std::shared_ptr<ZNTTable> table = ZNTTable::createOfType(
            view ? ZNTTable::ZNTTableTypeView : ZNTTable::ZNTTableTypeTable, name, "public", server->mainDatabase());
        EXPECT_EQ(loadAndWait(table->metadata()), nullptr);
        return table;
    }
};

QStringList names(const ZNTColumnList &columns) {
    QStringList list;
    for (const auto &column : columns)
        list << column->name();
    return list;
}

// Counts the reports of a background row from the moment it is made.
class RowWatch {
public:
    explicit RowWatch(const std::shared_ptr<ZNTAsynchronousRow> &row)
        : m_row(row),
          m_token(NotificationCenter::defaultCenter().observe(ZNTAsynchronousRow::LoadingDoneNotification, row.get(),
                                                              [this](const Notification &) { ++reports; })) {}
    // Waits for the row to be done, then a little more for a second report.
    int settle() {
        EXPECT_TRUE(pumpUntil([&] { return m_row->hasLoaded(); }, std::chrono::seconds(30)));
        pumpFor(std::chrono::milliseconds(100));
        return reports;
    }
    int reports = 0;

private:
    std::shared_ptr<ZNTAsynchronousRow> m_row;
    ObserverToken m_token;
};

} // namespace

TEST(Row, KeyedRowsAreTitledAndTheirDuplicatesDefaultTheKey) {
    Fixture f;
    f.db.run("CREATE TABLE item (id int PRIMARY KEY, name text); CREATE TABLE pair (a int, b text, c text, "
             "PRIMARY KEY (b, a))");
    auto item = f.loaded("item");
    auto row = ZNTRow::createWithTable(item, {Value::fromInt(5), Value::fromString("bolt")});
    EXPECT_EQ(row->name(), "id 5");
    EXPECT_EQ(names(row->keyColumns()), QStringList{"id"});
    EXPECT_FALSE(row->usePseudoKey());
    EXPECT_FALSE(row->isReadOnly());
    EXPECT_EQ(row->parent(), item);

    auto duplicate = ZNTRow::createDuplicate(item, {Value::fromInt(5), Value::fromString("bolt")});
    EXPECT_EQ(duplicate->name(), "Duplicate of id 5");
    EXPECT_EQ(duplicate->values(), (ZNTRowValues{Value::defaultMarker(), Value::fromString("bolt")}));
    EXPECT_TRUE(duplicate->isNewRow());

    auto pair =
        ZNTRow::createWithTable(f.loaded("pair"), {Value::fromInt(1), Value::fromString("x"), Value::fromString("y")});
    EXPECT_EQ(pair->name(), "b x, a 1");
}

TEST(Row, TablesWithoutKeyUseEveryColumnAndNeverTheirSystemColumns) {
    Fixture f;
    f.db.run("CREATE TABLE loose (a int, b text)");
    auto loose = f.loaded("loose");
    const ZNTRowValues values{Value::fromInt(1), Value::null()};
    auto row = ZNTRow::createWithTable(loose, values);
    EXPECT_TRUE(row->usePseudoKey());
    EXPECT_EQ(names(row->keyColumns()), (QStringList{"a", "b"})) << "xmin is no key";
    EXPECT_EQ(row->name(), QString());
    auto duplicate = ZNTRow::createDuplicate(loose, values);
    EXPECT_EQ(duplicate->values(), values);
    EXPECT_EQ(duplicate->name(), QString());
}

TEST(Row, ViewRowsAndResultRowsAreReadOnly) {
    Fixture f;
    f.db.run("CREATE TABLE t (x int PRIMARY KEY); CREATE VIEW v AS SELECT x FROM t");
    auto view = f.loaded("v", true);
    EXPECT_TRUE(ZNTRow::createWithTable(view, {Value::fromInt(1)})->isReadOnly());
    auto result = ZNTRow::createWithColumns({std::make_shared<ZNTColumn>("x")}, {Value::fromInt(1)}, view);
    EXPECT_TRUE(result->isReadOnly());
    EXPECT_EQ(result->table(), nullptr);
    EXPECT_EQ(result->parent(), view);
    try {
        ZNTRow::createWithTable(ZNTTable::create("unloaded", "public", f.server->mainDatabase()), {});
        ADD_FAILURE() << "a row of a relation whose structure is not loaded";
    } catch (const ProgramError &e) {
        EXPECT_EQ(e.name(), "MetadataMissing");
    }
}

TEST(BackgroundRow, LoadsTheReferencedRowAfterItsStructure) {
    Fixture f;
    f.db.run("CREATE TABLE customer (id int, region text, name text, PRIMARY KEY (region, id)); "
             "INSERT INTO customer VALUES (7, 'north', 'Ann'), (7, 'south', 'Bob')");
    f.server = connectedServer(f.db.name);
    auto customer = ZNTTable::create("customer", "public", f.server->mainDatabase());
    // Two rows while the structure is not loaded: both wait for the one load.
    auto first = ZNTAsynchronousRow::create(customer, {Value::fromString("south"), Value::fromInt(7)}, {2, 1});
    auto second = ZNTAsynchronousRow::create(customer, {Value::fromString("east"), Value::fromInt(7)}, {2, 1});
    RowWatch firstWatch(first), secondWatch(second);
    EXPECT_FALSE(first->hasLoaded());
    EXPECT_EQ(firstWatch.settle(), 1);
    EXPECT_EQ(secondWatch.settle(), 1);
    EXPECT_EQ(first->error(), nullptr);
    EXPECT_EQ(first->values(), (ZNTRowValues{Value::fromInt(7), Value::fromString("south"), Value::fromString("Bob")}));
    EXPECT_EQ(first->name(), "region south, id 7");
    EXPECT_EQ(names(first->columns()), (QStringList{"id", "region", "name"}));
    // No row has that key: done, with nothing and no error.
    EXPECT_TRUE(second->hasLoaded());
    EXPECT_TRUE(second->values().empty());
    EXPECT_EQ(second->error(), nullptr);
}

TEST(BackgroundRow, NullKeyIsDoneAtOnceWithoutAQuery) {
    Fixture f;
    f.db.run("CREATE TABLE t (id int PRIMARY KEY)");
    auto t = f.loaded("t");
    for (const Value &key : {Value::null(), Value::defaultMarker(), Value::multipleMarker()}) {
        auto row = ZNTAsynchronousRow::create(t, {key}, {1});
        EXPECT_TRUE(row->hasLoaded());
        EXPECT_TRUE(row->values().empty());
        EXPECT_EQ(row->error(), nullptr);
    }
    std::string offMain;
    std::thread([&] {
        try {
            ZNTAsynchronousRow::create(t, {Value::fromInt(1)}, {1});
        } catch (const ProgramError &e) {
            offMain = e.name();
        }
    }).join();
    EXPECT_EQ(offMain, "WrongThread");
}

TEST(BackgroundRow, StructureThatFailsToLoadEndsTheRowWithItsErrorOnce) {
    Fixture f;
    f.server = connectedServer(f.db.name);
    auto missing = ZNTTable::create("missing", "public", f.server->mainDatabase());
    int loads = 0;
    ObserverToken token = NotificationCenter::defaultCenter().observe(
        ZNTTableMetadata::DidLoadNotification, missing->metadata().get(), [&](const Notification &) { ++loads; });
    auto row = ZNTAsynchronousRow::create(missing, {Value::fromInt(1)}, {1});
    RowWatch watch(row);
    EXPECT_EQ(watch.settle(), 1);
    ASSERT_NE(row->error(), nullptr);
    EXPECT_EQ(row->error()->localizedDescription(), "Failed to load table schema.");
    EXPECT_TRUE(row->values().empty());
    pumpFor(std::chrono::milliseconds(300));
    EXPECT_EQ(loads, 1) << "a failed structure is not asked for again by itself";
    EXPECT_EQ(missing->metadata()->metadataState(), ZNTTableMetadata::ZNTMetadataStateNotLoaded);
}
