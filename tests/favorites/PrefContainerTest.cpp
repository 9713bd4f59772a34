// View-setting containers: finding them by name and by oid, their JSON
// properties as Python's json reads them, and what goes when a favorite goes.
#include "StoreTestSupport.h"
#include "favorites/ZNTPrefContainer.h"
#include "favorites/ZNTQueryHistoryElement.h"
#include "platform/Log.h"

#include <QDateTime>
#include <QSize>
#include <cmath>
#include <sqlite3.h>

namespace {
void setQueryOnly(const std::shared_ptr<ZNTFavoritesStore> &store, bool on) {
    sqlite3_exec(store->handle(), on ? "PRAGMA query_only = 1" : "PRAGMA query_only = 0", nullptr, nullptr, nullptr);
}
} // namespace

class PrefContainers : public SavedFavoriteFixture {};

TEST_F(PrefContainers, ByNameAContainerIsMadeOnlyWhenAskedAndSavedAtOnce) {
    EXPECT_EQ(favorite->prefContainer(0, "db", "public", "t", false), nullptr);
    EXPECT_EQ(pythonQuery(path(), "SELECT count(*) FROM prefContainer"), "0");

    auto container = favorite->prefContainer(0, "db", "public", "t", true);
    ASSERT_NE(container, nullptr);
    EXPECT_EQ(pythonQuery(path(), "SELECT favorite, type, databaseName, schemaName, objectName, quote(oid) "
                                  "FROM prefContainer"),
              QStringLiteral("%1|0|db|public|t|NULL").arg(favorite->objectID()));
    EXPECT_EQ(favorite->prefContainer(0, "db", "public", "t", true), container);
    EXPECT_EQ(favorite->prefContainerOfType(0, "db", "public", "t", false), container);
    EXPECT_NE(favorite->prefContainer(0, "db", "other", "t", true), container);
    EXPECT_EQ(favorite->prefContainer(0, "db2", "public", "t", false), nullptr);
}

TEST_F(PrefContainers, AContainerThatCannotBeSavedIsNotHandedOutOrKept) {
    setQueryOnly(store, true);
    LogCapture log;
    EXPECT_EQ(favorite->prefContainer(0, "db", "public", "t", true), nullptr);
    EXPECT_TRUE(log.contains("Failed to create database object: "));
    EXPECT_FALSE(store->hasChanges());
    EXPECT_EQ(favorite->prefContainer(0, "db", "public", "t", false), nullptr);
    setQueryOnly(store, false);
    favorite->setNickname("a later save");
    saveOrFail(store);
    EXPECT_EQ(pythonQuery(path(), "SELECT count(*) FROM prefContainer"), "0");
}

TEST_F(PrefContainers, ByOidTheWhole64BitValueIsFoundAndNothingIsMade) {
    const qint64 bigOid = 3000000000LL; // above 2^31: no longer a 32-bit int
    auto container = favorite->prefContainer(0, "db", "public", "t", true);
    auto unrecorded = favorite->prefContainer(0, "db", "public", "u", true);
    container->setOid(bigOid);
    saveOrFail(store);
    store.reset();
    container.reset();
    unrecorded.reset();

    store = openStore();
    favorite = store->favorites().front();
    auto found = favorite->prefContainerOfType(0, "db", bigOid);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->objectName(), "t");
    EXPECT_EQ(found->oid(), bigOid);
    EXPECT_EQ(favorite->prefContainerOfType(0, "db", qint64(qint32(bigOid))), nullptr);
    EXPECT_EQ(favorite->prefContainerOfType(0, "other", bigOid), nullptr);
    // Never recorded: an oid of 0 finds nothing either.
    EXPECT_EQ(favorite->prefContainerOfType(0, "db", 0), nullptr);
    EXPECT_EQ(favorite->prefContainerOfType(0, "db", 42), nullptr);
    EXPECT_EQ(pythonQuery(path(), "SELECT count(*) FROM prefContainer"), "2");

    // A change not yet saved is found too.
    auto u = favorite->prefContainer(0, "db", "public", "u", false);
    u->setOid(77);
    EXPECT_EQ(favorite->prefContainerOfType(0, "db", 77), u);
    EXPECT_EQ(pythonQuery(path(), "SELECT quote(oid) FROM prefContainer WHERE objectName = 'u'"), "NULL");
}

TEST_F(PrefContainers, PropertiesAreJsonTextsThatPythonReadsFragmentsIncluded) {
    auto container = favorite->prefContainer(0, "db", "public", "t", true);
    const QVariantMap widths{{"id", 40}, {"name", 120.5}};
    const QVariantMap sort{{"columns", QStringList{"name"}}, {"ascending", QVariantList{true}}};
    container->setProperty(widths, ZNTPrefPropertyColumnWidths);
    container->setProperty(sort, ZNTPrefPropertySortOrder);
    container->setProperty(true, ZNTPrefPropertyFilterBarShown);
    container->setProperty(1, ZNTPrefPropertyColumnOrder);
    saveOrFail(store);

    const QString decoded = python(QStringLiteral("import sqlite3, json, sys\n"
                                                  "db = sqlite3.connect(sys.argv[1])\n"
                                                  "for t, j in db.execute('SELECT type, json FROM "
                                                  "prefContainerProperty ORDER BY type'):\n"
                                                  "    print(t, json.dumps(json.loads(j), sort_keys=True))\n"),
                                   {path()});
    EXPECT_EQ(decoded, "0 {\"id\": 40, \"name\": 120.5}\n"
                       "2 {\"ascending\": [true], \"columns\": [\"name\"]}\n"
                       "3 1\n"
                       "5 true");
    EXPECT_EQ(container->propertyOfType(ZNTPrefPropertyFilterBarShown), QVariant(true));
    EXPECT_EQ(container->propertyOfType(ZNTPrefPropertyColumnOrder).toInt(), 1);
    EXPECT_EQ(container->propertyOfType(ZNTPrefPropertySortOrder).toMap().value("columns").toList().value(0), "name");
    EXPECT_FALSE(container->propertyOfType(ZNTPrefPropertyFilters).isValid());
}

TEST_F(PrefContainers, WritingReplacesInPlaceUnsettingRemovesAndNonJsonValuesChangeNothing) {
    auto container = favorite->prefContainer(0, "db", "public", "t", true);
    container->setProperty(QVariantMap{{"a", 1}}, ZNTPrefPropertyColumnWidths);
    container->setProperty(QVariantMap{{"a", 2}}, ZNTPrefPropertyColumnWidths);
    LogCapture log;
    container->setProperty(QDateTime::currentDateTime(), ZNTPrefPropertyColumnWidths);
    container->setProperty(std::nan(""), ZNTPrefPropertyColumnWidths);
    container->setProperty(QVariantList{QVariant::fromValue(QSize(1, 2))}, ZNTPrefPropertyColumnWidths);
    EXPECT_EQ(log.lines().filter("Failed to serialize database object property").size(), 3);
    saveOrFail(store);
    EXPECT_EQ(pythonQuery(path(), "SELECT type, json FROM prefContainerProperty"), "0|{\"a\":2}");

    container->setProperty(true, ZNTPrefPropertyFilterBarShown);
    container->unsetPropertyOfType(ZNTPrefPropertyFilterBarShown);
    saveOrFail(store);
    EXPECT_FALSE(container->propertyOfType(ZNTPrefPropertyFilterBarShown).isValid());
    EXPECT_EQ(pythonQuery(path(), "SELECT count(*) FROM prefContainerProperty WHERE type = 5"), "0");
}

TEST_F(PrefContainers, ExtraPropertiesOfATypeAreDeletedWhenReadAndBrokenJsonReadsAsNothing) {
    auto container = favorite->prefContainer(0, "db", "public", "t", true);
    const qint64 id = container->objectID();
    container.reset();
    store.reset();
    pythonExec(path(), QStringLiteral("INSERT INTO prefContainerProperty (id, prefContainer, type, json) VALUES "
                                      "(10, %1, 2, '{\"columns\":[\"first\"]}'), "
                                      "(11, %1, 2, '{\"columns\":[\"second\"]}'), (12, %1, 4, '{broken')")
                           .arg(id));
    store = openStore();
    container = store->favorites().front()->prefContainer(0, "db", "public", "t", false);
    EXPECT_EQ(container->propertyOfType(ZNTPrefPropertySortOrder).toMap().value("columns").toList().value(0), "first");
    LogCapture log;
    EXPECT_FALSE(container->propertyOfType(ZNTPrefPropertyFilters).isValid());
    EXPECT_TRUE(log.contains("error when deserializing preference"));
    saveOrFail(store);
    EXPECT_EQ(pythonQuery(path(), "SELECT id FROM prefContainerProperty WHERE type = 2"), "10");
}

TEST_F(PrefContainers, ViewSettingsAreSavedWithoutBeingAskedFor) {
    auto container = favorite->prefContainer(0, "db", "public", "t", true);
    container->setProperty(QVariantList{"a", "b"}, ZNTPrefPropertyColumnOrder);
    EXPECT_EQ(pythonQuery(path(), "SELECT count(*) FROM prefContainerProperty"), "0");
    EXPECT_TRUE(
        pumpUntil([&] { return pythonQuery(path(), "SELECT json FROM prefContainerProperty") == "[\"a\",\"b\"]"; },
                  std::chrono::seconds(20)));
}

TEST_F(PrefContainers, AFavoriteGoesWithItsContainersPropertiesAndHistoryAndNoOtherFavoritesOnes) {
    auto other = store->insertFavorite();
    for (const auto &owner : {favorite, other}) {
        owner->prefContainer(0, "db", "public", "t", true)->setProperty(1, ZNTPrefPropertyColumnOrder);
        owner->recordQueryTextInHistory("select 1");
    }
    // Some of the doomed favorite's things are only in memory when it goes.
    favorite->prefContainer(0, "db", "public", "unsaved", true)->setProperty(2, ZNTPrefPropertyColumnOrder);
    favorite->insertQueryHistoryElement("unsaved", 5);
    store->deleteFavorite(favorite);
    saveOrFail(store);
    const QString counts = "SELECT (SELECT count(*) FROM favorite), (SELECT count(*) FROM prefContainer), "
                           "(SELECT count(*) FROM prefContainerProperty), (SELECT count(*) FROM queryHistoryElement)";
    EXPECT_EQ(pythonQuery(path(), counts), "1|1|1|1");
    EXPECT_EQ(favorite->prefContainer(0, "db", "public", "t", false), nullptr);
    EXPECT_EQ(favorite->lastQueryHistoryElement(), nullptr);
    EXPECT_NE(other->prefContainer(0, "db", "public", "t", false), nullptr);
}

TEST(PrefContainerJson, NestingBeyondSixteenIsRefusedBeforeQtParsesItAndBracketsInTextsDoNotCount) {
    const auto nested = [](int levels) { return QString(levels, u'[') + QString(levels, u']'); };
    EXPECT_TRUE(ZNTPrefContainer::valueOfJson(nested(ZNTPrefContainer::kMaxNestingDepth)));
    QString problem;
    EXPECT_FALSE(ZNTPrefContainer::valueOfJson(nested(ZNTPrefContainer::kMaxNestingDepth + 1), &problem));
    EXPECT_EQ(problem, "nested more than 16 deep");
    // Qt itself would go a thousand levels down.
    EXPECT_FALSE(ZNTPrefContainer::valueOfJson(nested(1000)));
    const auto text = ZNTPrefContainer::valueOfJson(R"(["[[[[[[[[[[[[[[[[[[[[{\"{{{{{{{{{{{{{{{{{"])");
    ASSERT_TRUE(text);
    EXPECT_EQ(text->toList().value(0).toString(), "[[[[[[[[[[[[[[[[[[[[{\"{{{{{{{{{{{{{{{{{");
}
