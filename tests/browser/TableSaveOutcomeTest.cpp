// What a save on the table page did, told as the server decided it: a
// statement that reached more rows than it meant, and a COMMIT that did not
// commit, both leave the table as it was and the edits pending. psql reads back.
#include "TablePageTestSupport.h"
#include "actions/ZNTUpdateInsertDeleteQuery.h"

using namespace pagetest;

namespace {

const char *kPets = "CREATE TABLE owner (id int PRIMARY KEY); INSERT INTO owner VALUES (1); "
                    "CREATE TABLE pet (id int PRIMARY KEY, owner_id int REFERENCES owner DEFERRABLE INITIALLY "
                    "DEFERRED, name text); INSERT INTO pet VALUES (1, 1, 'rex')";
const char *kPetRows = "SELECT string_agg(id || ':' || owner_id || ':' || name, ',' ORDER BY id) FROM pet";

class TableSaveOutcome : public TablePageTest {
protected:
    void TearDown() override {
        ZNTUpdateInsertDeleteQuery::setCommitStatementForTesting(QString());
        TablePageTest::TearDown();
    }

    // Saves, and answers the failure's sheet; its informative text.
    QString failedSave() {
        page->save();
        EXPECT_TRUE(saved());
        Alert *alert = sheet();
        EXPECT_NE(alert, nullptr);
        if (!alert)
            return QString();
        EXPECT_EQ(alert->messageText(), "Could not save changes");
        const QString text = alert->informativeText();
        press(alert, "OK");
        return text;
    }
};

} // namespace

// The parent's key is unique in the parent alone: its child holds a row with the
// same key, which the parent's UPDATE reaches too ("UPDATE 2").
TEST_F(TableSaveOutcome, AnUpdateThatReachesMoreRowsThanItMeantIsRolledBack) {
    db.run("CREATE TABLE parent (id int PRIMARY KEY, label text); CREATE TABLE child () INHERITS (parent); "
           "INSERT INTO parent VALUES (1, 'in parent'); INSERT INTO child VALUES (1, 'in child')");
    const QString both = "SELECT string_agg(tableoid::regclass || ':' || id || ':' || label, ',' ORDER BY "
                         "tableoid::regclass::text) FROM parent";
    open("parent");
    const int row = shownColumn("label").indexOf("in parent");
    ASSERT_GE(row, 0);
    typeInto(row, "label", "edited");
    EXPECT_EQ(failedSave(), "The query did not affect the expected number of rows. The transaction was rolled back.");
    EXPECT_EQ(db.run(both), "child:1:in child,parent:1:in parent");
    EXPECT_EQ(page->saveBar()->statusText(), "1 edited row");
    EXPECT_EQ(shownColumn("label")[row], "edited");
}

// A deferred foreign key is checked at COMMIT, which the server then refuses.
TEST_F(TableSaveOutcome, ACommitTheServerRefusesIsAFailureAndKeepsTheEdits) {
    db.run(kPets);
    open("pet");
    typeInto(0, "owner_id", "2");
    EXPECT_EQ(failedSave(), "The server said: insert or update on table \"pet\" violates foreign key constraint "
                            "\"pet_owner_id_fkey\"\nDetail: Key (owner_id)=(2) is not present in table \"owner\".");
    EXPECT_EQ(db.run(kPetRows), "1:1:rex");
    EXPECT_EQ(page->saveBar()->statusText(), "1 edited row");
    EXPECT_EQ(shownColumn("owner_id"), QStringList({"2"}));
}

// A COMMIT answered with ROLLBACK and no error: what a server says to COMMIT in
// a failed transaction, which a save never reaches (a failed statement sends
// ROLLBACK). A ROLLBACK sent in its place gets the same answer.
TEST_F(TableSaveOutcome, ACommitAnsweredWithRollbackIsAFailureAndKeepsTheEdits) {
    db.run(kPets);
    open("pet");
    typeInto(0, "name", "max");
    ZNTUpdateInsertDeleteQuery::setCommitStatementForTesting(QStringLiteral("ROLLBACK"));
    EXPECT_EQ(failedSave(), "The server did not commit the changes. The transaction was rolled back.");
    EXPECT_EQ(db.run(kPetRows), "1:1:rex");
    EXPECT_EQ(page->saveBar()->statusText(), "1 edited row");
    EXPECT_EQ(shownColumn("name"), QStringList({"max"}));

    // The same edit saves once COMMIT commits.
    ZNTUpdateInsertDeleteQuery::setCommitStatementForTesting(QString());
    page->save();
    ASSERT_TRUE(saved());
    EXPECT_EQ(db.run(kPetRows), "1:1:max");
    EXPECT_FALSE(page->saveBar()->isVisible());
}
