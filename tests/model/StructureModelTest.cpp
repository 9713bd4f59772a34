#include "model/ZNTColumnDefinition.h"
#include "model/ZNTConstraint.h"
#include "model/ZNTTableSchemaModel.h"

#include <gtest/gtest.h>

namespace {

std::shared_ptr<ZNTColumnDefinition> column(const QString &name, const QString &comment = QString()) {
    return std::make_shared<ZNTColumnDefinition>(name, "integer", comment, SQLExpression(), false);
}

std::shared_ptr<ZNTTableSchemaModel> model() {
    auto m = std::make_shared<ZNTTableSchemaModel>();
    m->setTableName("t");
    m->setTableSchemaName("public");
    m->setTableComment(QString());
    auto id = column("id");
    auto unique = std::make_shared<ZNTConstraint>();
    unique->setType(ZNTConstraint::ZNTConstraintTypeUnique);
    unique->setColumns({id});
    m->setColumns({id, column("name")});
    m->setColumnConstraints(
        {std::make_shared<ZNTConstraintList>(ZNTConstraintList{unique}), std::make_shared<ZNTConstraintList>()});
    return m;
}

} // namespace

TEST(StructureModel, ColumnDefinitionsCompareEveryFieldAndTakeANullCommentAsEmpty) {
    EXPECT_TRUE(column("a", QString())->isEqual(*column("a", "")));
    EXPECT_FALSE(column("a", "x")->isEqual(*column("a", QString())));
    auto marked = column("a");
    marked->setMarkedForDeletion(true);
    EXPECT_FALSE(column("a")->isEqual(*marked));
    auto typed = column("a");
    typed->setTypeName("text");
    EXPECT_FALSE(column("a")->isEqual(*typed));

    ZNTColumn loaded("price");
    loaded.setTypeName("numeric(10,2)");
    loaded.setComment("gross");
    loaded.setDefaultExpression(SQLExpression::withSrc("0", "numeric(10,2)", QHash<QString, QString>()));
    const ZNTColumnDefinition fromLoaded(loaded);
    EXPECT_EQ(fromLoaded.name(), "price");
    EXPECT_EQ(fromLoaded.typeName(), "numeric(10,2)");
    EXPECT_EQ(fromLoaded.comment(), "gross");
    EXPECT_EQ(fromLoaded.defaultExpression().src(), "0");
    EXPECT_FALSE(fromLoaded.markedForDeletion());
}

TEST(StructureModel, ANullCommentEqualsAnEmptyOneAndEveryOtherFieldCounts) {
    auto a = model();
    auto b = a->copy();
    b->setTableComment("");
    EXPECT_TRUE(a->isEqual(*b));
    b->setViewDefinition("SELECT 1");
    EXPECT_FALSE(a->isEqual(*b));
    b->setViewDefinition(QString());
    b->setTablespaceName("elsewhere");
    EXPECT_FALSE(a->isEqual(*b));
}

// The editor keeps the loaded model and an edited copy; what the copy shares
// decides which edits count as changes.
TEST(StructureModel, ACopySharesItsColumnsAndConstraintListsButNotTheListsHoldingThem) {
    auto loaded = model();
    auto edited = loaded->copy();
    EXPECT_TRUE(loaded->isEqual(*edited));
    EXPECT_EQ(edited->columns().first(), loaded->columns().first());
    EXPECT_EQ(edited->columnConstraints().first(), loaded->columnConstraints().first());

    edited->columns().append(column("added"));
    edited->columnConstraints().append(std::make_shared<ZNTConstraintList>());
    EXPECT_EQ(loaded->columns().size(), 2);
    EXPECT_EQ(loaded->columnConstraints().size(), 2);
    EXPECT_FALSE(loaded->isEqual(*edited));

    // A change inside a shared column or a shared constraint list shows in both.
    auto again = loaded->copy();
    again->columns()[1]->setName("renamed");
    EXPECT_EQ(loaded->columns()[1]->name(), "renamed");
    auto check = std::make_shared<ZNTConstraint>();
    check->setType(ZNTConstraint::ZNTConstraintTypeCheck);
    check->setCheck("id > 0");
    again->columnConstraints()[0]->append(check);
    EXPECT_EQ(loaded->columnConstraints()[0]->size(), 2);
    EXPECT_TRUE(loaded->isEqual(*again));

    // Replacing a column or a whole list changes the copy alone.
    again->columns()[0] = column("id", "now with a comment");
    again->columnConstraints()[1] = std::make_shared<ZNTConstraintList>(ZNTConstraintList{check});
    EXPECT_EQ(loaded->columns()[0]->comment(), "");
    EXPECT_TRUE(loaded->columnConstraints()[1]->isEmpty());
    EXPECT_FALSE(loaded->isEqual(*again));
}
