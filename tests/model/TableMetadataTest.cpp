#include "CatalogTestSupport.h"
#include "ServerTestSupport.h"
#include "model/Tablespace.h"
#include "model/ZNTColumnDefinition.h"
#include "model/ZNTConstraint.h"
#include "model/ZNTIndex.h"
#include "model/ZNTRow.h"
#include "model/ZNTTableMetadataReader.h"
#include "platform/ProgramError.h"

#include <thread>

namespace {

const char *kRichTable = R"(
    CREATE SCHEMA "s.x";
    CREATE TABLE "s.x".parent (k1 int, k2 text, PRIMARY KEY (k1, k2));
    CREATE TABLE "s.x"."we.ird""t" (
        id serial,
        a int CHECK ((a > 0) OR (a < -10)),
        b int,
        t text DEFAULT 'x'::text CONSTRAINT paren_in_quotes CHECK (t <> '(x' AND t <> 'y)'),
        price numeric(8,2) CHECK (price > 0),
        twice int GENERATED ALWAYS AS (a * 2) STORED,
        pk2 text,
        pk1 int,
        CONSTRAINT lone_paren CHECK (t <> ')'),
        PRIMARY KEY (id) INCLUDE (b),
        CONSTRAINT to_parent FOREIGN KEY (pk1, pk2) REFERENCES "s.x".parent (k1, k2)
            ON DELETE CASCADE ON UPDATE SET NULL DEFERRABLE INITIALLY DEFERRED);
    CREATE INDEX by_coalesce ON "s.x"."we.ird""t" (coalesce(a, b));
    CREATE INDEX mixed ON "s.x"."we.ird""t" (lower(t), a, upper(t));
    COMMENT ON TABLE "s.x"."we.ird""t" IS 'rich';
    COMMENT ON COLUMN "s.x"."we.ird""t".b IS 'bee';
    COMMENT ON CONSTRAINT to_parent ON "s.x"."we.ird""t" IS 'up';
)";

std::shared_ptr<ZNTColumn> named(const ZNTColumnList &columns, const QString &name) {
    for (const auto &column : columns)
        if (column->name() == name)
            return column;
    return nullptr;
}

std::shared_ptr<ZNTConstraint> constraintNamed(const ZNTTableMetadata &metadata, const QString &name) {
    for (const auto &constraint : metadata.constraints())
        if (constraint->name() == name)
            return constraint;
    return nullptr;
}

std::shared_ptr<ZNTIndex> indexNamed(const ZNTTableMetadata &metadata, const QString &name) {
    for (const auto &index : metadata.indexes())
        if (index->name() == name)
            return index;
    return nullptr;
}

QStringList partTexts(const ZNTIndex &index) {
    QStringList texts;
    for (const auto &part : index.columns())
        texts << (part.isExpression() ? "expr " + part.expression : part.column->name());
    return texts;
}

QStringList names(const ZNTColumnList &columns) {
    QStringList list;
    for (const auto &column : columns)
        list << column->name();
    return list;
}

class RecordingContainer : public ZNTPrefContainerHandle {
public:
    qint64 stored = 0;
    int writes = 0;
    qint64 oid() const override { return stored; }
    void setOid(qint64 oid) override {
        stored = oid;
        ++writes;
    }
};

class ContainerFavorite : public FakeFavorite {
public:
    std::shared_ptr<RecordingContainer> container = std::make_shared<RecordingContainer>();
    QStringList asked;
    std::shared_ptr<ZNTPrefContainerHandle> prefContainerOfType(unsigned type, const QString &database,
                                                                const QString &schema, const QString &object,
                                                                bool create) override {
        asked << QStringLiteral("%1 %2 %3 %4 %5").arg(type).arg(database, schema, object).arg(create);
        return create ? container : nullptr;
    }
};

} // namespace

TEST(TableMetadata, RichTableLoadsAsTheServerDescribesIt) {
    ScratchDatabase db;
    db.run(kRichTable);
    auto server = connectedServer(db.name);
    auto table = ZNTTable::create("we.ird\"t", "s.x", server->mainDatabase());
    auto metadata = table->metadata();
    ASSERT_NE(metadata, nullptr);
    EXPECT_EQ(metadata->metadataState(), ZNTTableMetadata::ZNTMetadataStateNotLoaded);
    ASSERT_EQ(loadAndWait(metadata), nullptr);
    ASSERT_EQ(metadata->metadataState(), ZNTTableMetadata::ZNTMetadataStateLoaded);

    EXPECT_EQ(QString::number(metadata->oid()), db.run(R"(SELECT '"s.x"."we.ird""t"'::regclass::oid)"));
    EXPECT_EQ(metadata->comment(), "rich");
    EXPECT_EQ(metadata->tablespace()->name(), "pg_default");
    EXPECT_TRUE(metadata->viewDef().isNull());
    EXPECT_EQ(names(metadata->columns()), (QStringList{"id", "a", "b", "t", "price", "twice", "pk2", "pk1"}));
    EXPECT_FALSE(metadata->hasOids()) << "attribute -2 is xmin since PostgreSQL 12";
    EXPECT_EQ(metadata->oidColumn(), nullptr);
    EXPECT_EQ(names(metadata->displayColumns()), names(metadata->columns()));
    EXPECT_EQ(metadata->columnForAttnum(-2)->name(), "xmin");
    EXPECT_EQ(metadata->systemColumns().size(), 6);

    const auto id = named(metadata->columns(), "id");
    EXPECT_EQ(id->defaultExpression().kind(), SQLExpression::SQLExpressionKindSequence);
    EXPECT_TRUE(id->notNull());
    EXPECT_EQ(id->typeName(), "integer");
    EXPECT_EQ(id->typeCategory(), 'N');
    EXPECT_EQ(named(metadata->columns(), "t")->defaultExpression().kind(), SQLExpression::SQLExpressionKindConstant);
    EXPECT_EQ(named(metadata->columns(), "t")->defaultExpression().string(), "x");
    // A generation expression is no default.
    EXPECT_EQ(named(metadata->columns(), "twice")->defaultExpression().kind(),
              SQLExpression::SQLExpressionKindNoDefault);
    EXPECT_EQ(named(metadata->columns(), "twice")->generationExpression(), "(a * 2)");
    EXPECT_EQ(named(metadata->columns(), "b")->comment(), "bee");
    EXPECT_EQ(named(metadata->columns(), "price")->typeName(), "numeric(8,2)");

    // The primary key is its key column alone, not the column it INCLUDEs.
    ASSERT_NE(metadata->primaryKeyIndex(), nullptr);
    EXPECT_EQ(names(metadata->primaryKeyIndex()->keyColumns()), QStringList{"id"});
    EXPECT_EQ(partTexts(*indexNamed(*metadata, "by_coalesce")), QStringList{"expr COALESCE(a, b)"});
    EXPECT_EQ(partTexts(*indexNamed(*metadata, "mixed")), (QStringList{"expr lower(t)", "a", "expr upper(t)"}));
    EXPECT_EQ(indexNamed(*metadata, "mixed")->SQL(),
              db.run("SELECT pg_get_indexdef('\"s.x\".mixed'::regclass, 0, true)"));

    const auto quoted = constraintNamed(*metadata, "paren_in_quotes");
    ASSERT_NE(quoted, nullptr);
    // Parentheses inside quotes neither close nor open anything.
    EXPECT_EQ(quoted->check(), "(t <> '(x'::text) AND (t <> 'y)'::text)");
    EXPECT_EQ(constraintNamed(*metadata, "lone_paren")->check(), "t <> ')'::text");
    const auto either = constraintNamed(*metadata, "we.ird\"t_a_check");
    ASSERT_NE(either, nullptr);
    EXPECT_EQ(either->check(), "(a > 0) OR (a < '-10'::integer)");
    EXPECT_EQ(constraintNamed(*metadata, "we.ird\"t_price_check")->check(), "price > (0)::numeric");

    const auto foreign = constraintNamed(*metadata, "to_parent");
    ASSERT_NE(foreign, nullptr);
    EXPECT_EQ(foreign->type(), ZNTConstraint::ZNTConstraintTypeForeignKey);
    EXPECT_EQ(names(foreign->columns()), (QStringList{"pk1", "pk2"}));
    EXPECT_TRUE(foreign->foreignTable()->isEqual(*ZNTTable::create("parent", "s.x", server->mainDatabase())));
    EXPECT_EQ(foreign->foreignAttnums(), (QList<qint64>{1, 2}));
    EXPECT_EQ(foreign->deleteMode(), ZNTConstraint::ZNTForeignKeyActionCascade);
    EXPECT_EQ(foreign->updateMode(), ZNTConstraint::ZNTForeignKeyActionSetNull);
    EXPECT_EQ(foreign->validation(), ZNTConstraint::ZNTConstraintValidationDeferred);
    EXPECT_EQ(foreign->comment(), "up");
    EXPECT_EQ(foreign->SQL(),
              db.run("SELECT pg_get_constraintdef(oid, true) FROM pg_constraint WHERE conname = 'to_parent'"));
    EXPECT_EQ(constraintNamed(*metadata, "we.ird\"t_pkey")->validation(),
              ZNTConstraint::ZNTConstraintValidationNotDeferrable);
}

TEST(TableMetadata, ViewsLoadTheirDefinitionsAndTablesTheirTablespace) {
    ScratchDatabase db;
    db.run("CREATE TABLE t (x int); CREATE VIEW v AS SELECT x FROM t; CREATE MATERIALIZED VIEW m AS SELECT x FROM t");
    db.run(QStringLiteral("CREATE TABLE placed (x int) TABLESPACE %1").arg(requiredEnv("TRELLAN_PG_TABLESPACE")));
    auto server = connectedServer(db.name);
    auto placed = ZNTTable::create("placed", "public", server->mainDatabase());
    ASSERT_EQ(loadAndWait(placed->metadata()), nullptr);
    EXPECT_EQ(placed->metadata()->tablespace()->name(), requiredEnv("TRELLAN_PG_TABLESPACE"));
    for (const auto &relation :
         {std::shared_ptr<ZNTTable>(ZNTView::create("v", "public", server->mainDatabase())),
          std::shared_ptr<ZNTTable>(ZNTMaterializedView::create("m", "public", server->mainDatabase()))}) {
        auto metadata = relation->metadata();
        ASSERT_EQ(loadAndWait(metadata), nullptr);
        EXPECT_EQ(metadata->viewDef(),
                  db.run(QStringLiteral("SELECT pg_get_viewdef('%1'::regclass, true)").arg(relation->name())));
        EXPECT_EQ(names(metadata->displayColumns()), QStringList{"x"});
        EXPECT_EQ(metadata->primaryKeyIndex(), nullptr);
    }
}

TEST(TableMetadata, CacheKeepsOneObjectPerRelationAndNeverMixesDottedNames) {
    ScratchDatabase db;
    db.run(R"(CREATE SCHEMA "a.b"; CREATE SCHEMA a; CREATE TABLE "a.b".c (one int); CREATE TABLE a."b.c" (two int);)");
    auto server = connectedServer(db.name);
    auto first = ZNTTable::create("c", "a.b", server->mainDatabase());
    auto second = ZNTTable::create("b.c", "a", server->mainDatabase());
    ASSERT_NE(first->metadata(), second->metadata());
    EXPECT_EQ(first->metadata(), ZNTView::create("c", "a.b", server->mainDatabase()->copy())->metadata());
    ASSERT_EQ(loadAndWait(first->metadata()), nullptr);
    ASSERT_EQ(loadAndWait(second->metadata()), nullptr);
    EXPECT_EQ(names(first->metadata()->columns()), QStringList{"one"});
    EXPECT_EQ(names(second->metadata()->columns()), QStringList{"two"});

    const auto loaded = first->metadata();
    first->purgeMetadata();
    EXPECT_NE(first->metadata(), loaded);
    EXPECT_EQ(first->metadata()->metadataState(), ZNTTableMetadata::ZNTMetadataStateNotLoaded);
    EXPECT_EQ(second->metadata()->metadataState(), ZNTTableMetadata::ZNTMetadataStateLoaded);
    // Only relations have structures.
    EXPECT_EQ(ZNTTableMetadata::metadataForObject(server->mainConnection(), server->mainDatabase()), nullptr);
}

TEST(TableMetadata, FailedLoadKeepsItsErrorAndTheNextCallerCanTryAgain) {
    ScratchDatabase db;
    auto server = connectedServer(db.name);
    auto table = ZNTTable::create("later", "public", server->mainDatabase());
    auto metadata = table->metadata();
    const ErrorPtr error = loadAndWait(metadata);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->localizedDescription(), "Failed to load table schema.");
    ASSERT_NE(error->underlyingError(), nullptr);
    EXPECT_EQ(error->underlyingError()->userInfo().value("PG_DIAG_SQLSTATE"), "42P01");
    EXPECT_EQ(metadata->metadataState(), ZNTTableMetadata::ZNTMetadataStateNotLoaded);
    EXPECT_EQ(metadata->error(), error);

    db.run("CREATE TABLE later (x int)");
    EXPECT_EQ(loadAndWait(metadata), nullptr);
    EXPECT_EQ(metadata->metadataState(), ZNTTableMetadata::ZNTMetadataStateLoaded);
    EXPECT_EQ(metadata->error(), nullptr);
}

TEST(TableMetadata, LoadRefusesASecondLoadAndOtherThreads) {
    ScratchDatabase db;
    db.run("CREATE TABLE t (x int)");
    auto server = connectedServer(db.name);
    auto metadata = ZNTTable::create("t", "public", server->mainDatabase())->metadata();
    std::string offMain;
    std::thread([&] {
        try {
            metadata->load();
        } catch (const ProgramError &e) {
            offMain = e.name();
        }
    }).join();
    EXPECT_EQ(offMain, "WrongThread");
    int loads = 0;
    ObserverToken token = NotificationCenter::defaultCenter().observe(
        ZNTTableMetadata::DidLoadNotification, metadata.get(), [&](const Notification &) { ++loads; });
    metadata->load();
    try {
        metadata->load();
        ADD_FAILURE() << "a second load while loading went through";
    } catch (const ProgramError &e) {
        EXPECT_EQ(e.name(), "DoubleLoad");
    }
    EXPECT_TRUE(pumpUntil([&] { return loads == 1; }));
    pumpFor(std::chrono::milliseconds(200));
    EXPECT_EQ(loads, 1);
}

TEST(TableMetadata, PartitionsLeaveTheirParentsConstraintsToTheParent) {
    ScratchDatabase db;
    db.run(R"(CREATE TABLE p (id int PRIMARY KEY, x int CHECK (x > 0)) PARTITION BY RANGE (id);
              CREATE TABLE p1 PARTITION OF p FOR VALUES FROM (0) TO (100);
              ALTER TABLE p1 ADD CONSTRAINT own CHECK (x < 1000);)");
    auto server = connectedServer(db.name);
    auto partition = ZNTTable::create("p1", "public", server->mainDatabase());
    ASSERT_EQ(loadAndWait(partition->metadata()), nullptr);
    QStringList constraintNames;
    for (const auto &constraint : partition->metadata()->constraints())
        constraintNames << constraint->name();
    constraintNames.sort();
    // The inherited check is the partition's own row in pg_constraint; the
    // primary key's copy belongs to the parent's key.
    EXPECT_EQ(constraintNames, (QStringList{"own", "p_x_check"}));
    EXPECT_EQ(names(partition->metadata()->primaryKeyIndex()->keyColumns()), QStringList{"id"});
}

// What a value is sent as, how it compares and how it is shown go by the type
// below the domains; the name stays the domain's.
TEST(TableMetadata, DomainColumnsCarryTheirBaseTypeAndTheDomainsName) {
    ScratchDatabase db;
    db.run(R"(CREATE SCHEMA "O'Brien";
              CREATE DOMAIN span AS interval;
              CREATE DOMAIN "O'Brien"."span of span" AS span CHECK (VALUE > '0'::interval);
              CREATE DOMAIN amount AS numeric(10,2);
              CREATE DOMAIN blob AS bytea;
              CREATE TABLE kd (d span, dd "O'Brien"."span of span", n amount, b blob, spans span[], i int))");
    auto server = connectedServer(db.name);
    auto table = ZNTTable::create("kd", "public", server->mainDatabase());
    ASSERT_EQ(loadAndWait(table->metadata()), nullptr);
    QStringList seen;
    for (const auto &column : table->metadata()->columns())
        seen << QStringLiteral("%1 %2 %3").arg(column->name()).arg(column->typeOid()).arg(column->typeName());
    // An array of a domain is a type of its own, not a domain.
    EXPECT_EQ(seen, (QStringList{"d 1186 span", "dd 1186 \"O'Brien\".\"span of span\"", "n 1700 amount", "b 17 blob",
                                 "spans " + db.run("SELECT 'span[]'::regtype::oid") + " span[]", "i 23 integer"}));
    EXPECT_TRUE(named(table->metadata()->columns(), "b")->isBytea());
    EXPECT_EQ(named(table->metadata()->columns(), "n")->typeCategory(), 'N');
}

TEST(TableMetadata, ViewSettingsContainerRecordsTheRelationsOidOnce) {
    ScratchDatabase db;
    db.run("CREATE TABLE t (x int)");
    auto server = connectedServer(db.name);
    auto favorite = std::make_shared<ContainerFavorite>();
    server->setFavorite(favorite);
    auto table = ZNTTable::create("t", "public", server->mainDatabase());
    EXPECT_EQ(table->prefContainerCreateIfNotExists(false), nullptr);
    ASSERT_EQ(loadAndWait(table->metadata()), nullptr);
    favorite->container->stored = 12;
    EXPECT_EQ(table->prefContainerCreateIfNotExists(true), favorite->container);
    EXPECT_EQ(QString::number(favorite->container->stored), db.run("SELECT 't'::regclass::oid"));
    EXPECT_EQ(table->prefContainerCreateIfNotExists(true), favorite->container);
    EXPECT_EQ(favorite->container->writes, 1);
    EXPECT_EQ(favorite->asked, (QStringList{QStringLiteral("0 %1 public t 0").arg(db.name),
                                            QStringLiteral("0 %1 public t 1").arg(db.name)}));
}

// Results the server should never give, read without a server: each is a
// failure that leaves the metadata as it was.
TEST(TableMetadata, MalformedResultsAreErrorsNotCrashes) {
    auto server = ZNTServer::create({});
    auto table = ZNTTable::create("t", "public", std::make_shared<ZNTDatabase>("d", server));
    auto metadata = table->metadata();
    ASSERT_NE(metadata, nullptr);
    const auto rowResult = [](int columns, int rows) {
        auto result = ZNTResult::create();
        auto store = std::make_shared<RowStore>(columns);
        for (int r = 0; r < rows; ++r)
            store->appendRow(ZNTRowValues(size_t(columns), Value::fromString("1")));
        result->setRows(store);
        return result;
    };
    ZNTTableMetadataReader reader(*metadata);
    const auto noRelation = reader.read({rowResult(4, 0), rowResult(8, 0), rowResult(9, 0), rowResult(16, 0)});
    ASSERT_NE(noRelation, nullptr);
    EXPECT_EQ(noRelation->localizedDescription(), "Failed to load table schema.");
    const auto three = reader.read({rowResult(4, 1), rowResult(8, 0), rowResult(9, 0)});
    ASSERT_NE(three, nullptr);
    EXPECT_EQ(three->localizedDescription(),
              "Failed to load table column and primary key information; expected 4 results, got 3.");
    const auto command =
        reader.read({rowResult(4, 1), ZNTResult::commandOkResult(), rowResult(9, 0), rowResult(16, 0)});
    ASSERT_NE(command, nullptr);
    EXPECT_EQ(command->localizedDescription(), "Failed to load table column and primary key information.");
    EXPECT_EQ(metadata->oid(), 0);
    EXPECT_TRUE(metadata->columns().isEmpty());
}

// What the server fills itself: identity values (PostgreSQL 10 on) and
// generated columns (12 on), read by the statement for the server's version.
TEST(TableMetadata, IdentityAndGeneratedColumnsAreReadByTheServersVersion) {
    ScratchDatabase db;
    db.run("CREATE TABLE g (id int GENERATED ALWAYS AS IDENTITY PRIMARY KEY, seq int GENERATED BY DEFAULT AS "
           "IDENTITY, i int DEFAULT 7, doubled int GENERATED ALWAYS AS (i * 2) STORED)");
    auto server = connectedServer(db.name);
    auto table = ZNTTable::create("g", "public", server->mainDatabase());
    ASSERT_EQ(loadAndWait(table->metadata()), nullptr);
    const ZNTColumnList &columns = table->metadata()->columns();
    ASSERT_EQ(names(columns), (QStringList{"id", "seq", "i", "doubled"}));
    EXPECT_TRUE(columns[0]->isIdentityAlways());
    EXPECT_EQ(columns[1]->identity(), 'd');
    EXPECT_FALSE(columns[1]->isIdentityAlways());
    EXPECT_EQ(columns[2]->identity(), 0);
    EXPECT_FALSE(columns[2]->isGenerated());
    EXPECT_EQ(columns[2]->defaultExpression().string(), "7");
    EXPECT_EQ(columns[3]->generated(), 's');
    EXPECT_EQ(columns[3]->generationExpression(), "(i * 2)");
    EXPECT_EQ(columns[3]->defaultExpression().kind(), SQLExpression::SQLExpressionKindNoDefault);
    for (const auto &column : columns)
        EXPECT_EQ(ZNTColumnDefinition(*column).generated(), column->generated()) << "the structure editor sees it";

    // Older servers lack catalog columns: their statements still run
    // (here on this server) and read nothing of either. Before 9.5 a table
    // has no row-level security, whatever this server says.
    db.run("ALTER TABLE g ENABLE ROW LEVEL SECURITY");
    const auto connection = server->mainConnection();
    const struct {
        quint64 version;
        bool identity, generated;
    } versions[] = {{90400, false, false},
                    {90500, false, false},
                    {90600, false, false},
                    {110000, true, false},
                    {120000, true, true}};
    for (const auto &v : versions) {
        SCOPED_TRACE(v.version);
        const QString sql = ZNTTableMetadata::loadSQL(*connection, v.version, *table);
        EXPECT_EQ(sql.contains("basetypid, attidentity"), v.identity);
        EXPECT_EQ(sql.contains(", attgenerated\n"), v.generated);
        auto query = ZNTQuery::create(sql);
        runAndWait(query, connection);
        ASSERT_EQ(query->error(), nullptr) << sql.toStdString();
        auto old = ZNTTableMetadata::makeUnloadedForTesting(table, connection);
        ASSERT_EQ(ZNTTableMetadataReader(*old).read(query->results()), nullptr);
        ASSERT_EQ(old->columns().size(), 4);
        EXPECT_EQ(old->columns()[0]->isIdentityAlways(), v.identity);
        EXPECT_EQ(old->columns()[3]->isGenerated(), v.generated);
        EXPECT_EQ(old->rowSecurity(), std::optional(v.version >= 90500));
        EXPECT_EQ(old->relationKind(), 'r');
    }
}
