// The structure page's edit model, its change statement and what its pills
// show, without widgets or a server.
#include "actions/ZNTAlterTableQuery.h"
#include "actions/ZNTCreateTableQuery.h"
#include "model/ZNTSchema.h"
#include "model/ZNTTable.h"
#include "platform/ProgramError.h"
#include "structure/ZNTConstraintPresentation.h"
#include "structure/ZNTTableSchemaEdits.h"
#include "structure/ZNTTableSchemaStatements.h"

#include <QStringList>
#include <gtest/gtest.h>

using Step = ZNTTableSchemaEdits::Step;
using StepKind = ZNTTableSchemaEdits::StepKind;
using namespace ZNTConstraintPresentation;

namespace {

std::shared_ptr<ZNTColumn> column(const QString &name, bool notNull = false, qint64 attnum = 0) {
    auto c = std::make_shared<ZNTColumn>(name);
    c->setTypeName(QStringLiteral("integer"));
    c->setNotNull(notNull);
    c->setAttnum(attnum);
    return c;
}

std::shared_ptr<ZNTConstraint> constraint(ZNTConstraint::Type type, const ZNTColumnList &columns,
                                          const QString &name = QString()) {
    auto c = std::make_shared<ZNTConstraint>();
    c->setType(type);
    c->setColumns(columns);
    c->setName(name);
    return c;
}

// id serial key; a NOT NULL and UNIQUE; b and c with a two-column UNIQUE and a
// two-column CHECK; a CHECK naming no column; a UNIQUE on a column that did not load.
ZNTStructureSource orders() {
    ZNTStructureSource source;
    source.tableName = QStringLiteral("orders");
    source.schemaName = QStringLiteral("public");
    auto id = column("id", true), a = column("a", true), b = column("b"), c = column("c");
    source.columns = {id, a, b, c};
    auto check = constraint(ZNTConstraint::ZNTConstraintTypeCheck, {b, c}, "b_lt_c");
    check->setCheck(QStringLiteral("b < c"));
    auto always = constraint(ZNTConstraint::ZNTConstraintTypeCheck, {}, "always");
    always->setCheck(QStringLiteral("true"));
    source.constraints = {constraint(ZNTConstraint::ZNTConstraintTypePrimaryKey, {id}, "orders_pkey"),
                          constraint(ZNTConstraint::ZNTConstraintTypeUnique, {a}, "a_key"),
                          constraint(ZNTConstraint::ZNTConstraintTypeUnique, {b, c}, "b_c_key"),
                          check,
                          always,
                          constraint(ZNTConstraint::ZNTConstraintTypeUnique, {column("gone")}, "gone_key")};
    return source;
}

QStringList titles(const ZNTConstraintList &list) {
    QStringList texts;
    for (const auto &c : list)
        texts << title(*c, QString());
    return texts;
}

QStringList names(const QList<Step> &steps) {
    QStringList texts;
    for (const auto &step : steps)
        texts << step.actionName;
    return texts;
}

// What the page would show for the edited model as it is.
ZNTTableSchemaEdits::Shown shownOf(const ZNTTableSchemaEdits &edits) {
    const ZNTTableSchemaModel &m = edits.editedModel();
    ZNTTableSchemaEdits::Shown shown{m.tableName(), m.tableSchemaName(), m.tablespaceName(), std::nullopt,
                                     m.tableComment()};
    for (qsizetype i = 0; i < m.columns().size(); ++i) {
        ZNTConstraintList copies;
        for (const auto &c : *m.columnConstraints()[i])
            copies << c->copy();
        shown.rows.append({std::make_shared<ZNTColumnDefinition>(*m.columns()[i]), copies});
    }
    return shown;
}

std::shared_ptr<ZNTColumnDefinition> renamed(const ZNTColumnDefinition &definition, const QString &name) {
    auto copy = std::make_shared<ZNTColumnDefinition>(definition);
    copy->setName(name);
    return copy;
}

} // namespace

TEST(StructureEdits, ConstraintsStandUnderTheirColumnAndThoseWithoutOneAreLeftOut) {
    ZNTTableSchemaEdits edits;
    edits.load(orders());
    const ZNTTableSchemaModel &original = edits.originalModel();
    ASSERT_EQ(original.columns().size(), 4);
    // The key's column shows no NOT NULL; a NOT NULL column that is only
    // UNIQUE shows both; the two-column UNIQUE stands nowhere; the two-column
    // CHECK under its first column; a CHECK without column and a constraint on
    // a column that did not load are left out.
    EXPECT_EQ(titles(*original.columnConstraints()[0]), QStringList({"PRIMARY KEY"}));
    EXPECT_EQ(titles(*original.columnConstraints()[1]), QStringList({"UNIQUE", "NOT NULL"}));
    EXPECT_EQ(titles(*original.columnConstraints()[2]), QStringList({"b < c"}));
    EXPECT_TRUE(original.columnConstraints()[3]->isEmpty());
    // Constraints name the original definitions themselves.
    const auto &check = original.columnConstraints()[2]->first();
    ASSERT_EQ(check->columns().size(), 2);
    EXPECT_EQ(check->columns()[0], original.columns()[2]);
    EXPECT_EQ(check->columns()[1], original.columns()[3]);
    EXPECT_EQ(original.columnConstraints()[1]->last()->columns().first(), original.columns()[1]);
    EXPECT_FALSE(edits.hasChanges());
    EXPECT_EQ(edits.originalConstraintsOfColumn(1)->size(), 2);
}

TEST(StructureEdits, ANewTableStartsWithASerialKeyAndEveryColumnOfANewRelationIsNew) {
    ZNTTableSchemaEdits table;
    table.load({QString(), QStringLiteral("public"), 0});
    EXPECT_TRUE(table.hasChanges());
    EXPECT_EQ(table.editedModel().tableName(), "untitled_table");
    EXPECT_EQ(table.originalColumnCount(), 0);
    ASSERT_EQ(table.editedModel().columns().size(), 1);
    const auto id = table.editedModel().columns().first();
    EXPECT_EQ(id->name(), "id");
    EXPECT_EQ(id->typeName(), "serial");
    EXPECT_EQ(id->defaultExpression().kind(), SQLExpression::SQLExpressionKindNoDefault);
    ASSERT_EQ(table.newColumnPlaceholders().size(), 1);
    EXPECT_EQ(table.newColumnPlaceholders().first(), id);
    EXPECT_EQ(titles(*table.editedModel().columnConstraints().first()), QStringList({"PRIMARY KEY"}));
    EXPECT_EQ(table.editedModel().columnConstraints().first()->first()->columns().first(), id);
    EXPECT_FALSE(table.originalConstraintsOfColumn(0));

    ZNTTableSchemaEdits view;
    view.load({QString(), QStringLiteral("public"), 1});
    EXPECT_EQ(view.editedModel().tableName(), "untitled_view");
    EXPECT_TRUE(view.editedModel().columns().isEmpty());
    EXPECT_TRUE(view.hasChanges());
}

TEST(StructureEdits, APassRecordsEachDifferenceOnceInItsOrderAndNothingWhenTheTextComesBack) {
    ZNTTableSchemaEdits edits;
    edits.load(orders());
    EXPECT_TRUE(edits.updateModel(shownOf(edits)).isEmpty());

    auto shown = shownOf(edits);
    shown.tableName = QStringLiteral("purchases");
    shown.tableComment = QStringLiteral("every order");
    shown.tablespaceName = QStringLiteral("fast");
    shown.rows[0].column = renamed(*shown.rows[0].column, "order_id");
    shown.rows[3].constraints << newConstraint(ZNTConstraint::ZNTConstraintTypeNotNull,
                                               edits.originalModel().columns()[3]);
    const QList<Step> steps = edits.updateModel(shown);
    EXPECT_EQ(names(steps), QStringList({"Edit Table Name", "Change Tablespace", "Edit Table Comment",
                                         "Edit Constraints", "Edit Column"}));
    EXPECT_EQ(steps[0].textBefore, "orders");
    EXPECT_EQ(steps[0].textAfter, "purchases");
    EXPECT_EQ(steps[3].index, 3);
    EXPECT_EQ(steps[4].index, 0);
    EXPECT_EQ(edits.editedModel().columns()[0]->name(), "order_id");
    EXPECT_EQ(edits.originalModel().columns()[0]->name(), "id");
    EXPECT_TRUE(edits.hasChanges());
    // The same again records nothing; typing the old texts back records them back.
    EXPECT_TRUE(edits.updateModel(shown).isEmpty());
    shown = shownOf(edits);
    shown.tableName = QStringLiteral("orders");
    shown.tableComment = QString();
    shown.tablespaceName = QString();
    shown.rows[0].column = renamed(*shown.rows[0].column, "id");
    shown.rows[3].constraints.clear();
    EXPECT_EQ(edits.updateModel(shown).size(), 5);
    EXPECT_FALSE(edits.hasChanges());
}

TEST(StructureEdits, AMarkedColumnIsRecordedOnceAndUnmarkedAsAnEdit) {
    ZNTTableSchemaEdits edits;
    edits.load(orders());
    auto shown = shownOf(edits);
    shown.rows[1].column->setMarkedForDeletion(true);
    EXPECT_EQ(names(edits.updateModel(shown)), QStringList({"Mark Column for Deletion"}));
    // Later passes leave a marked column alone, whatever its row shows.
    shown.rows[1].column = renamed(*shown.rows[1].column, "renamed");
    shown.rows[1].constraints.clear();
    EXPECT_TRUE(edits.updateModel(shown).isEmpty());
    shown.rows[1].column = std::make_shared<ZNTColumnDefinition>(*edits.originalModel().columns()[1]);
    EXPECT_EQ(names(edits.updateModel(shown)), QStringList({"Edit Column", "Edit Constraints"}));
    EXPECT_FALSE(edits.editedModel().columns()[1]->markedForDeletion());
}

TEST(StructureEdits, ANewColumnIsAddedDeletedAndPutBackWithItsPlaceholderAndConstraints) {
    ZNTTableSchemaEdits edits;
    edits.load(orders());
    auto shown = shownOf(edits);
    shown.rows[2].column->setMarkedForDeletion(true);
    edits.updateModel(shown);
    EXPECT_EQ(edits.nextColumnName(), "column5"); // a marked column still counts

    auto placeholder = std::make_shared<ZNTColumnDefinition>("column5", "text", QString(), SQLExpression(), false);
    edits.appendPlaceholder(placeholder);
    shown = shownOf(edits);
    auto check = newConstraint(ZNTConstraint::ZNTConstraintTypeCheck, placeholder);
    check->setCheck(QStringLiteral("column5 <> ''"));
    shown.rows.append({std::make_shared<ZNTColumnDefinition>(*placeholder), {check}});
    QList<Step> steps = edits.updateModel(shown);
    ASSERT_EQ(names(steps), QStringList({"Add Column"}));
    EXPECT_EQ(steps[0].index, 4);
    EXPECT_EQ(steps[0].placeholder, placeholder);
    EXPECT_EQ(edits.editedModel().columns().size(), 5);

    shown = shownOf(edits);
    shown.rows[4].column->setMarkedForDeletion(true);
    steps = edits.updateModel(shown);
    ASSERT_EQ(names(steps), QStringList({"Delete Column"}));
    EXPECT_EQ(edits.editedModel().columns().size(), 4);
    EXPECT_TRUE(edits.newColumnPlaceholders().isEmpty());
    EXPECT_THROW(edits.deleteColumnAtIndex(1), ProgramError); // loaded columns are only marked

    edits.insertColumn({steps[0].columnBefore, steps[0].placeholder, steps[0].constraintsBefore}, 4);
    EXPECT_EQ(edits.editedModel().columns()[4]->name(), "column5");
    EXPECT_FALSE(edits.editedModel().columns()[4]->markedForDeletion());
    EXPECT_EQ(titles(*edits.editedModel().columnConstraints()[4]), QStringList({"column5 <> ''"}));
    EXPECT_EQ(edits.newColumnPlaceholders().value(0), placeholder);
}

TEST(StructureEdits, TheStatementPairsLoadedConstraintsByPlaceAndNamesTheEditedColumns) {
    ZNTTableSchemaEdits edits;
    edits.load(orders());
    auto placeholder = std::make_shared<ZNTColumnDefinition>("column5", "text", QString(), SQLExpression(), false);
    edits.appendPlaceholder(placeholder);
    auto shown = shownOf(edits);
    // A NOT NULL on loaded column b, whose name changes too; a new column with
    // a UNIQUE, renamed after the UNIQUE was made.
    shown.rows[2].column = renamed(*shown.rows[2].column, "b2");
    shown.rows[2].constraints << newConstraint(ZNTConstraint::ZNTConstraintTypeNotNull,
                                               edits.originalModel().columns()[2]);
    shown.rows.append(
        {renamed(*placeholder, "code"), {newConstraint(ZNTConstraint::ZNTConstraintTypeUnique, placeholder)}});
    edits.updateModel(shown);

    const auto table = ZNTTable::create("orders", "public", nullptr);
    auto query =
        std::dynamic_pointer_cast<ZNTAlterTableQuery>(ZNTTableSchemaStatements::saveChangesQuery(table, edits, {}));
    ASSERT_TRUE(query);
    const ZNTTableSchemaModel &edited = edits.editedModel();
    const ZNTTableSchemaModel &original = edits.originalModel();
    // Every loaded shown constraint, then the paired copies, then the new ones.
    ASSERT_EQ(query->constraintsBefore().size(), 4);
    ASSERT_EQ(query->constraintsAfter().size(), 6);
    for (int j = 0; j < 3; ++j) {
        EXPECT_TRUE(query->constraintsBefore()[j]->isEqual(*query->constraintsAfter()[j])) << j;
        EXPECT_NE(query->constraintsBefore()[j], query->constraintsAfter()[j]) << j;
    }
    EXPECT_EQ(query->constraintsAfter()[3]->check(), "b < c");
    EXPECT_EQ(query->constraintsBefore()[2], original.columnConstraints()[1]->last());
    EXPECT_EQ(query->constraintsAfter()[0]->columns().first(), edited.columns()[0]);
    EXPECT_EQ(query->constraintsAfter()[3]->columns()[0], edited.columns()[2]);
    EXPECT_EQ(query->constraintsAfter()[3]->columns()[1], edited.columns()[3]);
    EXPECT_EQ(query->constraintsAfter()[4]->columns().first(), edited.columns()[2]);
    EXPECT_EQ(query->constraintsAfter()[4]->columns().first()->name(), "b2");
    EXPECT_EQ(query->constraintsAfter()[5]->columns().first(), edited.columns()[4]);
    EXPECT_EQ(query->constraintsAfter()[5]->columns().first()->name(), "code");
    EXPECT_EQ(query->columnsBefore(), original.columns());
    EXPECT_EQ(query->columnsAfter(), edited.columns());
    // The page's own lists stay as they are.
    EXPECT_EQ(edited.columnConstraints()[4]->first()->columns().first(), placeholder);
    EXPECT_TRUE(query->tablespaceAfter().isNull());
}

TEST(StructureEdits, AConstraintThatSaysNothingNeverReachesTheStatement) {
    ZNTTableSchemaEdits edits;
    edits.load(orders());
    auto shown = shownOf(edits);
    shown.rows[2].constraints[0]->setCheck(QString()); // the loaded CHECK emptied
    auto blankCheck = newConstraint(ZNTConstraint::ZNTConstraintTypeCheck, edits.originalModel().columns()[3]);
    auto tablelessKey = newConstraint(ZNTConstraint::ZNTConstraintTypeForeignKey, edits.originalModel().columns()[3]);
    shown.rows[3].constraints << blankCheck << tablelessKey;
    edits.updateModel(shown);
    const auto table = ZNTTable::create("orders", "public", nullptr);
    auto query =
        std::dynamic_pointer_cast<ZNTAlterTableQuery>(ZNTTableSchemaStatements::saveChangesQuery(table, edits, {}));
    ASSERT_EQ(query->constraintsAfter().size(), 4);
    EXPECT_EQ(query->constraintsAfter()[3]->check(), "b < c");
    EXPECT_TRUE(query->constraintsAfter()[3]->isEqual(*query->constraintsBefore()[3]));

    // Marked for deletion, it is dropped as loaded.
    shown = shownOf(edits);
    shown.rows[2].constraints[0]->setMarkedForDeletion(true);
    edits.updateModel(shown);
    query = std::dynamic_pointer_cast<ZNTAlterTableQuery>(ZNTTableSchemaStatements::saveChangesQuery(table, edits, {}));
    EXPECT_TRUE(query->constraintsAfter()[3]->markedForDeletion());
    EXPECT_EQ(query->constraintsAfter()[3]->check(), "b < c");
}

TEST(StructureEdits, ANewRelationBecomesACreateWithItsConstraintsOnTheEditedColumns) {
    ZNTTableSchemaEdits edits;
    edits.load({QString(), QStringLiteral("public"), 0});
    auto shown = shownOf(edits);
    shown.tableName = QStringLiteral("things");
    shown.rows[0].column = renamed(*shown.rows[0].column, "thing_id");
    edits.updateModel(shown);
    const auto table = ZNTTable::create(QString(), "public", nullptr);
    auto create = std::dynamic_pointer_cast<ZNTCreateTableQuery>(
        ZNTTableSchemaStatements::saveChangesQuery(table, edits, {true, false}));
    ASSERT_TRUE(create);
    EXPECT_EQ(create->name(), "things");
    EXPECT_EQ(create->columns(), edits.editedModel().columns());
    ASSERT_EQ(create->constraints().size(), 1);
    EXPECT_EQ(create->constraints().first()->columns().first(), edits.editedModel().columns().first());
    // A tablespace popup nobody touched names none.
    EXPECT_TRUE(create->tablespace().isEmpty());
}

TEST(ConstraintPresentation, TitlesAndToolTipsOfPills) {
    auto check = constraint(ZNTConstraint::ZNTConstraintTypeCheck, {});
    EXPECT_EQ(title(*check, {}), "…");
    check->setCheck(QString(50, u'x'));
    EXPECT_EQ(title(*check, {}), QString(50, u'x'));
    check->setCheck(QString(30, u'a') + QString(30, u'b'));
    EXPECT_EQ(title(*check, {}), QString(30, u'a') + "…");

    auto key = constraint(ZNTConstraint::ZNTConstraintTypeForeignKey, {});
    EXPECT_EQ(title(*key, {}), "➜ …");
    key->setForeignTable(ZNTTable::create("products", "shop", nullptr));
    EXPECT_EQ(title(*key, {}), "➜ products.(…)");
    key->setForeignAttnums({1});
    key->setSQL(QStringLiteral("FOREIGN KEY (product) REFERENCES shop.products(id)"));
    EXPECT_EQ(title(*key, {}), "➜ products.id");
    EXPECT_EQ(title(*key, "sku"), "➜ products.sku");

    auto unique = constraint(ZNTConstraint::ZNTConstraintTypeUnique, {});
    EXPECT_EQ(toolTip(*unique), "");
    unique->setComment(QStringLiteral("one per code"));
    EXPECT_EQ(toolTip(*unique), "one per code");
    unique->setName(QStringLiteral("code_key"));
    EXPECT_EQ(toolTip(*unique), "code_key\none per code");
    unique->setComment(QString());
    EXPECT_EQ(toolTip(*unique), "code_key");
    EXPECT_EQ(title(*newConstraint(ZNTConstraint::ZNTConstraintTypeNotNull, column("a")), {}), "NOT NULL");
}

TEST(ConstraintPresentation, ANewForeignKeyStartsAsNoActionNotDeferrableAndEveryActionIsExplained) {
    const auto key = newConstraint(ZNTConstraint::ZNTConstraintTypeForeignKey, column("a"));
    EXPECT_EQ(key->deleteMode(), ZNTConstraint::ZNTForeignKeyActionNoAction);
    EXPECT_EQ(key->updateMode(), ZNTConstraint::ZNTForeignKeyActionNoAction);
    EXPECT_EQ(key->validation(), ZNTConstraint::ZNTConstraintValidationNotDeferrable);
    EXPECT_EQ(deleteDescription(3),
              "When a row from the referenced table is deleted, all rows referencing it will be deleted as well.");
    EXPECT_EQ(updateDescription(1), "Trying to update the referenced row will cause an error.");
    for (int action = 1; action <= 5; ++action) {
        EXPECT_FALSE(deleteDescription(action).isEmpty());
        EXPECT_FALSE(updateDescription(action).isEmpty());
        EXPECT_NE(deleteDescription(action), updateDescription(action));
    }
    EXPECT_TRUE(deleteDescription(0).isNull());
    EXPECT_TRUE(updateDescription(6).isNull());
}

TEST(ConstraintPresentation, AFinishedPillIsRecordedRemovedOrPutBack) {
    auto loadedCheck = constraint(ZNTConstraint::ZNTConstraintTypeCheck, {column("a")}, "a_positive");
    loadedCheck->setCheck(QStringLiteral("a > 0"));
    EXPECT_EQ(outcomeOfEditing(*loadedCheck, 0, 1), Outcome::Record);
    loadedCheck->setCheck(QStringLiteral("  "));
    EXPECT_EQ(outcomeOfEditing(*loadedCheck, 0, 1), Outcome::PutBack);
    loadedCheck->setMarkedForDeletion(true);
    EXPECT_EQ(outcomeOfEditing(*loadedCheck, 0, 1), Outcome::Record);

    auto fresh = newConstraint(ZNTConstraint::ZNTConstraintTypeCheck, column("a"));
    EXPECT_EQ(outcomeOfEditing(*fresh, 1, 1), Outcome::Remove);
    fresh->setCheck(QStringLiteral("a < 10"));
    EXPECT_EQ(outcomeOfEditing(*fresh, 1, 1), Outcome::Record);
    fresh->setMarkedForDeletion(true);
    EXPECT_EQ(outcomeOfEditing(*fresh, 1, 1), Outcome::Remove);
    auto notNull = newConstraint(ZNTConstraint::ZNTConstraintTypeNotNull, column("a"));
    EXPECT_EQ(outcomeOfEditing(*notNull, 0, 0), Outcome::Record);
    EXPECT_EQ(outcomeOfEditing(*newConstraint(ZNTConstraint::ZNTConstraintTypeForeignKey, column("a")), 0, 0),
              Outcome::Remove);
}

TEST(ConstraintPresentation, TheTableListSkipsViewsAndKeepsEmptySchemasAndTheColumnListOnlyOneColumnKeys) {
    auto shop = std::make_shared<ZNTSchema>("shop", nullptr);
    auto empty = std::make_shared<ZNTSchema>("empty", nullptr);
    auto unlisted = std::make_shared<ZNTSchema>("unlisted", nullptr);
    const ZNTObjectList shopObjects = {
        ZNTTable::create("orders", "shop", nullptr), ZNTView::create("order_totals", "shop", nullptr),
        ZNTMaterializedView::create("monthly", "shop", nullptr), ZNTTable::create("products", "shop", nullptr)};
    auto tablesOf = [&](const ZNTObject &schema) -> std::optional<ZNTObjectList> {
        if (&schema == shop.get())
            return shopObjects;
        if (&schema == empty.get())
            return ZNTObjectList();
        return std::nullopt;
    };
    int selected = -1;
    const auto entries =
        tableMenu({shop, empty, unlisted}, tablesOf, ZNTTable::create("products", "shop", nullptr), &selected);
    QStringList shown;
    for (const auto &entry : entries)
        shown << (entry.kind == MenuEntry::Kind::Separator ? QStringLiteral("---")
                                                           : entry.title + (entry.enabled ? "" : " (off)"));
    EXPECT_EQ(shown,
              QStringList({"Select Table… (off)", "---", "shop (off)", "orders", "products", "---", "empty (off)"}));
    EXPECT_EQ(selected, 4);
    EXPECT_EQ(entries[4].indentation, 1);
    tableMenu({shop}, tablesOf, nullptr, &selected);
    EXPECT_EQ(selected, 0);

    auto a = column("a", true, 1), b = column("b", false, 2), c = column("c", false, 3);
    const QList<std::shared_ptr<ZNTConstraint>> keys = {constraint(ZNTConstraint::ZNTConstraintTypeUnique, {a, b}),
                                                        constraint(ZNTConstraint::ZNTConstraintTypePrimaryKey, {c})};
    bool choose = true;
    auto columns = columnMenu({a, b, c}, keys, {}, &selected, &choose);
    EXPECT_FALSE(columns[0].enabled); // only part of a composite key
    EXPECT_FALSE(columns[1].enabled);
    EXPECT_TRUE(columns[2].enabled);
    EXPECT_EQ(selected, 2); // the first column that is a key of its own
    EXPECT_TRUE(choose);
    columnMenu({a, b}, keys, {}, &selected, &choose);
    EXPECT_EQ(selected, -1);
    EXPECT_FALSE(choose);
    columnMenu({a, b, c}, keys, {3}, &selected, &choose);
    EXPECT_EQ(selected, 2);
    EXPECT_FALSE(choose);
}
