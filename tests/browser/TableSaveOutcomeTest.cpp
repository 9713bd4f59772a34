// What a save on the table page did, told as the server decided it: a
// statement that reached more rows than it meant, and a COMMIT that did not
// commit, both leave the table as it was and the edits pending; a COMMIT whose
// answer was lost is never sent twice. psql reads back.
#include "CommitCutter.h"
#include "TablePageTestSupport.h"
#include "actions/ZNTUpdateInsertDeleteQuery.h"
#include "browser/BrowserPages.h"
#include "support/PostgresSupport.h"

#include <QWindow>
#include <algorithm>
#include <optional>

using namespace pagetest;

namespace {

const char *kPets = "CREATE TABLE owner (id int PRIMARY KEY); INSERT INTO owner VALUES (1); "
                    "CREATE TABLE pet (id int PRIMARY KEY, owner_id int REFERENCES owner DEFERRABLE INITIALLY "
                    "DEFERRED, name text); INSERT INTO pet VALUES (1, 1, 'rex')";
const char *kPetRows = "SELECT string_agg(id || ':' || owner_id || ':' || name, ',' ORDER BY id) FROM pet";

// Rows whose every COMMIT a deferred check refuses while refuse holds a row.
const char *kItems = "CREATE TABLE item (id int PRIMARY KEY, label text); "
                     "INSERT INTO item VALUES (1, 'aa1'), (2, 'bb2'), (3, 'cc3'), (4, 'dd4'); "
                     "CREATE TABLE refuse (); CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS "
                     "$$BEGIN IF EXISTS (SELECT FROM refuse) THEN RAISE 'refused'; END IF; RETURN NULL; END$$; "
                     "CREATE CONSTRAINT TRIGGER refuse AFTER INSERT OR UPDATE OR DELETE ON item DEFERRABLE "
                     "INITIALLY DEFERRED FOR EACH ROW EXECUTE FUNCTION refuse(); INSERT INTO refuse DEFAULT VALUES";
const char *kItemRows = "SELECT string_agg(id || ':' || label, ',' ORDER BY id) FROM item";
// Refused, or committed, and not to be asked; the rows' load after it ends
// after the first row.
const QList<CommitCutter::Cut> kUnsettledAndCutAfterAa1 = {{kCommit, false, true}, {"txid_status("}, {"aa1", true}};
// The same, the rows' load after it 3 s late.
const QList<CommitCutter::Cut> kUnsettledAndLoadLate = {{kCommit, false, true},
                                                        {"txid_status(", false, false, false, false, 3s}};

class TableSaveOutcome : public TablePageTest {
protected:
    void SetUp() override {
        TablePageTest::SetUp();
        BrowserPages::install(); // for openInWindow
    }
    void TearDown() override {
        ZNTUpdateInsertDeleteQuery::setCommitStatementForTesting(QString());
        ZNTUpdateInsertDeleteQuery::setCommitWaitForTesting({});
        TablePageTest::TearDown();
    }

    // The page of relation name, its sessions relayed by cutter; in a main
    // window, which owns the page and takes it off screen to show another.
    void openThrough(const CommitCutter &cutter, const QString &name, bool inWindow = false) {
        QVariantMap params = testServerParams(db.name);
        params["port"] = cutter.port();
        server = ZNTServer::create(params);
        server->setFavorite(favorite);
        ASSERT_NO_FATAL_FAILURE(inWindow ? openInWindow(name) : (void)open(name));
    }

    // Saves through cuts that leave the save unsettled and its load failed;
    // the informative text of the save's sheet.
    QString unsettledSave(CommitCutter &cutter, const QList<CommitCutter::Cut> &cuts) {
        cutter.arm(cuts);
        page->save();
        EXPECT_TRUE(saved() && loaded());
        press(sheet(), "OK"); // the rows could not be loaded
        Alert *alert = sheet();
        const QString text = alert ? alert->informativeText() : QString();
        press(alert, "OK");
        return text;
    }
    static qsizetype shownAlerts() {
        return std::ranges::count_if(QApplication::allWidgets(),
                                     [](QWidget *w) { return qobject_cast<Alert *>(w) && w->isVisible(); });
    }
    // Save in the close prompt: whether it settled.
    std::optional<bool> saveInClosePrompt() {
        auto settled = std::make_shared<std::optional<bool>>();
        page->resignWithInformativeText(QString(), [settled](bool done) { *settled = done; });
        press(sheet(), "Save");
        pumpUntil([&] { return settled->has_value(); });
        return *settled;
    }

    // The notice of one row's change not put back, answered.
    void toldOneRow() {
        Alert *alert = sheet();
        ASSERT_NE(alert, nullptr);
        EXPECT_EQ(alert->messageText(), "Changes could not be put back");
        EXPECT_TRUE(alert->informativeText().startsWith("The changes to 1 row could not be put back"));
        press(alert, "OK");
        EXPECT_TRUE(!page || !page->hasPendingChanges());
    }
    // The deletion of row id of relation waits for another session's lock
    // (while another table is shown), or not; its COMMIT is refused, its
    // outcome not known, and the rows load 3 s late, after another session
    // changed that row.
    void unsettledDeletion(CommitCutter &cutter, int id, bool locked, const QString &relation = "item") {
        db.run("INSERT INTO refuse DEFAULT VALUES");
        PGconnPtr holder = adminConnection(db.name);
        exec(holder.get(), "BEGIN");
        exec(holder.get(), QStringLiteral("SELECT FROM %1 WHERE id = %2 FOR UPDATE").arg(relation).arg(id));
        if (!locked)
            exec(holder.get(), "COMMIT");
        selectRows({int(shownColumn("id").indexOf(QString::number(id)))});
        page->deleteRows();
        cutter.arm(kUnsettledAndLoadLate);
        page->save();
        if (locked) {
            ASSERT_NO_FATAL_FAILURE(showOther("other"));
            exec(holder.get(), "COMMIT");
        }
        ASSERT_TRUE(saved());
        db.run(QStringLiteral("DELETE FROM refuse; UPDATE %1 SET label = label || '+' WHERE id = %2")
                   .arg(relation)
                   .arg(id));
    }
    // Another window takes the keys.
    void activateElsewhere(QWidget &elsewhere) {
        uikittest::activate(&elsewhere);
        pumpUntil([&] { return QGuiApplication::focusWindow() == elsewhere.windowHandle(); }, 5s);
    }
    // The windows activated from now on.
    struct Activations {
        Activations() {
            QObject::connect(qApp, &QGuiApplication::focusWindowChanged, &context, [this](QWindow *w) {
                if (w)
                    windows << w;
            });
        }
        QObject context;
        QList<QWindow *> windows;
    };

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

// The answer to COMMIT is lost, and the new session that would ask about it is
// accepted and never answered, or answers nothing once asked: the wait's bound
// holds its connect and its answers too. The load after it connects as any
// other. The bound holds from before the first question, also when that
// question comes late.
TEST_F(TableSaveOutcome, AReconnectNoServerAnswersAfterALostCommitEndsWithinTheWait) {
    db.run(kPets);
    CommitCutter cutter;
    ASSERT_NO_FATAL_FAILURE(openThrough(cutter, "pet"));
    const auto mayHaveBeenSaved = [&](const char *why) {
        ASSERT_TRUE(saved());
        Alert *alert = sheet();
        ASSERT_NE(alert, nullptr);
        EXPECT_EQ(alert->messageText(), "The changes may have been saved");
        EXPECT_TRUE(alert->informativeText().contains(why)) << alert->informativeText().toStdString();
        press(alert, "OK");
        ASSERT_TRUE(loaded());
        EXPECT_EQ(page->table()->database()->connection()->state(), ZNTConnection::ZNTConnectionStateConnected);
    };
    typeInto(0, "name", "max");
    ZNTUpdateInsertDeleteQuery::setCommitWaitForTesting(1s);
    cutter.arm({{kCommit, false, false, true}});
    page->save();
    mayHaveBeenSaved("the server could not be asked whether it committed them.");

    typeInto(0, "name", "kit");
    ZNTUpdateInsertDeleteQuery::setCommitWaitForTesting(2s);
    cutter.arm({{kCommit}, {"txid_status(", false, false, false, true}});
    page->save();
    mayHaveBeenSaved("the server could not be asked whether it committed them.");

    // The server holds the COMMIT; the first question comes after 3 of the 5 s.
    db.run("CREATE FUNCTION hold() RETURNS trigger LANGUAGE plpgsql AS "
           "$$BEGIN PERFORM pg_advisory_xact_lock_shared(7); RETURN NULL; END$$; "
           "CREATE CONSTRAINT TRIGGER held AFTER UPDATE ON pet DEFERRABLE INITIALLY DEFERRED "
           "FOR EACH ROW EXECUTE FUNCTION hold()");
    PGconnPtr holder = adminConnection(db.name);
    exec(holder.get(), "SELECT pg_advisory_lock(7)");
    typeInto(0, "name", "rex");
    ZNTUpdateInsertDeleteQuery::setCommitWaitForTesting(5s);
    cutter.arm({{kCommit, false, false, false, false, 3s}});
    const int asked = cutter.statusQuestions();
    page->save();
    mayHaveBeenSaved("the server had not finished the transaction when the program stopped waiting.");
    EXPECT_LE(cutter.statusQuestions() - asked, 5); // after 3 s, a question every 0.5 s at most
    exec(holder.get(), "SELECT pg_advisory_unlock(7)");
}

// The answer to COMMIT is lost. A save the server committed, or whose answer
// came before the session went, is folded in, also once a deferred trigger
// lets it commit; one refused, or lost before COMMIT, keeps every change. Still
// committing after the wait, it holds the deletions of rows still there until
// a load puts them back, also of rows saved earlier whose keys are as typed.
// Here the server gives back no written cell, so a save with an edit leaves
// every change out: which row the edit reached is not known for sure.
TEST_F(TableSaveOutcome, ACommitWhoseAnswerIsLostIsNeverSentTwice) {
    db.run(QString(kPets) +
           "; CREATE FUNCTION hold() RETURNS trigger LANGUAGE plpgsql AS "
           "$$BEGIN PERFORM pg_advisory_xact_lock_shared(7); RETURN NULL; END$$; "
           "CREATE CONSTRAINT TRIGGER held AFTER INSERT OR UPDATE OR DELETE ON pet DEFERRABLE INITIALLY DEFERRED "
           "FOR EACH ROW EXECUTE FUNCTION hold()");
    db.run("ALTER TABLE pet ENABLE ROW LEVEL SECURITY"); // the save gets back no written cell: keys are as typed
    CommitCutter cutter;
    ASSERT_NO_FATAL_FAILURE(openThrough(cutter, "pet"));
    const auto addPet = [&](int row, const char *id, const char *owner, const char *name) {
        addRow(row, {{"id", id}, {"owner_id", owner}, {"name", name}});
    };
    const auto savedAsShown = [&](const char *rows) {
        ASSERT_TRUE(saved());
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
        EXPECT_FALSE(page->saveBar()->isVisible());
        EXPECT_EQ(db.run(kPetRows), rows);
    };

    addPet(1, "2", "1", "max");
    cutter.arm({{kCommit, false, true}});
    page->save();
    savedAsShown("1:1:rex,2:1:max");
    typeInto(1, "name", "max2");
    cutter.arm({{kCommitted, true}, {"txid_status("}}); // no new session can be asked
    page->save();
    savedAsShown("1:1:rex,2:1:max2");

    PGconnPtr holder = adminConnection(db.name);
    exec(holder.get(), "SELECT pg_advisory_lock(7)");
    addPet(2, "3", "1", "kit");
    typeInto(0, "name", "rex2");
    cutter.arm({{kCommit}});
    const int asked = cutter.statusQuestions();
    page->save();
    EXPECT_TRUE(pumpUntil([&] { // the lock held past the first questions
        const auto query = page->table()->database()->connection()->currentQuery();
        return query && query->statusMessage() == "Waiting for the server to finish committing the changes to pet…" &&
               cutter.statusQuestions() >= asked + 3;
    }));
    exec(holder.get(), "SELECT pg_advisory_unlock(7)");
    savedAsShown("1:1:rex2,2:1:max2,3:1:kit");

    addPet(3, "4", "9", "bob");
    cutter.arm({{kCommit, false, true}});
    EXPECT_EQ(failedSave(), "The connection was lost while the changes were being committed. The server did not "
                            "commit them.");
    cutter.arm({{"txid_current()"}});
    EXPECT_TRUE(failedSave().startsWith("The connection was lost.\nserver closed the connection unexpectedly"));
    EXPECT_EQ(page->saveBar()->statusText(), "1 new row");

    page->discardChanges();
    exec(holder.get(), "SELECT pg_advisory_lock(7)");
    const auto unsettledSave = [&](const char *kept) {
        ZNTUpdateInsertDeleteQuery::setCommitWaitForTesting(4s); // the reconnect and the first question fit in it
        cutter.arm({{kCommit}, {" LIMIT "}});                    // and the rows' load after it
        page->save();
        ASSERT_TRUE(saved());
        ASSERT_TRUE(loaded());
        press(sheet(), "OK"); // the rows could not be loaded
        Alert *alert = sheet();
        ASSERT_NE(alert, nullptr);
        EXPECT_EQ(alert->messageText(), "The changes may have been saved");
        EXPECT_TRUE(alert->informativeText().startsWith("The connection was lost while the changes were being "
                                                        "committed, and the server had not finished the "
                                                        "transaction when the program stopped waiting."));
        EXPECT_TRUE(alert->informativeText().contains(kept)) << alert->informativeText().toStdString();
        saveScreenshot(alert, "browser", "save-may-have-been-saved.png");
        press(alert, "OK");
    };
    typeInto(0, "name", "rex3");
    selectRows({2});
    page->deleteRows();
    unsettledSave("The changes to 2 rows are not put back: a save added a row or wrote a key, or its rows did "
                  "not come back as the server stored them");
    EXPECT_FALSE(page->hasPendingChanges());
    exec(holder.get(), "SELECT pg_advisory_unlock(7)");
    ASSERT_TRUE(pumpUntil([&] { return db.run(kPetRows) == "1:1:rex3,2:1:max2"; }));

    exec(holder.get(), "SELECT pg_advisory_lock(7)");
    page->reloadWithStructure(false);
    ASSERT_TRUE(loaded());
    selectRows({0, 1}); // max was added here: its key is as typed
    page->deleteRows();
    unsettledSave("Your changes to 2 rows are kept");
    EXPECT_TRUE(page->hasPendingChanges());

    // Asked before the page goes, Save loads the rows and saves what goes back.
    page->resignWithDelegate(nullptr, {});
    press(sheet(), "Save");
    ASSERT_TRUE(pumpUntil([&] { return page->isBusy(); }));
    EXPECT_EQ(shownColumn("name"), QStringList({"rex3", "max2"}));
    EXPECT_TRUE(edits().isDeleted(0) && edits().isDeleted(1));
    exec(holder.get(), "SELECT pg_advisory_unlock(7)");
    ASSERT_TRUE(saved());
    press(sheet(), "OK"); // the rows went with the first save
    EXPECT_EQ(db.run(kPetRows), QString());
}

// A later save that added a row may have put it where a held change would
// find its own: the deletion held for row 2 (committed, its answer lost) does
// not go back onto the row the user added again as it was.
TEST_F(TableSaveOutcome, AHeldDeletionDoesNotGoBackOntoARowALaterSaveAdded) {
    db.run(QString(kItems) + "; DELETE FROM refuse");
    CommitCutter cutter;
    ASSERT_NO_FATAL_FAILURE(openThrough(cutter, "item"));
    selectRows({1});
    page->deleteRows();
    unsettledSave(cutter, kUnsettledAndCutAfterAa1);
    ASSERT_EQ(db.run(kItemRows), "1:aa1,3:cc3,4:dd4");
    addRow(1, {{"id", "2"}, {"label", "bb2"}});
    page->save();
    ASSERT_TRUE(saved());
    EXPECT_EQ(saveInClosePrompt(), false);
    Alert *alert = sheet();
    ASSERT_NE(alert, nullptr);
    EXPECT_TRUE(alert->informativeText().startsWith("The changes to 1 row could not be put back"));
    press(alert, "OK");
    EXPECT_EQ(db.run(kItemRows), "1:aa1,2:bb2,3:cc3,4:dd4");
}

// Rows without a key are told apart by nothing but their values: after a save
// that may have been committed, a deletion held for one of two look-alike rows
// would go back onto the other. None goes back, and nothing is held.
TEST_F(TableSaveOutcome, NoHeldChangeGoesBackOntoALookAlikeRow) {
    db.run("CREATE TABLE tag (n int, t text); INSERT INTO tag VALUES (1, 'x'), (1, 'x'), (2, 'y')");
    CommitCutter cutter;
    ASSERT_NO_FATAL_FAILURE(openThrough(cutter, "tag"));
    selectRows({0});
    page->deleteRows();
    cutter.arm({{kCommit, false, true}, {"txid_status("}}); // committed, and not to be asked
    page->save();
    ASSERT_TRUE(saved());
    Alert *alert = sheet();
    ASSERT_NE(alert, nullptr);
    EXPECT_TRUE(alert->informativeText().contains("The changes to 1 row are not put back: the table has no primary "
                                                  "key"));
    press(alert, "OK");
    ASSERT_TRUE(loaded());
    EXPECT_FALSE(page->hasPendingChanges());
    page->save();
    ASSERT_TRUE(saved());
    EXPECT_EQ(db.run("SELECT string_agg(n || t, ',' ORDER BY n) FROM tag"), "1x,2y");
}

// Save in the close prompt settles only once the held changes are back: not
// while they wait for the rows of a load that failed halfway (an edit of a row
// that came is saved, the page stays), nor when their rows are gone or changed
// since, which it says without blaming another session: the deletion is gone
// with the save itself. A held edit that the user's newer save was made over is
// saved already.
TEST_F(TableSaveOutcome, SaveInTheClosePromptSettlesOnlyOnceTheHeldChangesAreBack) {
    db.run(QString(kPets) + "; INSERT INTO pet VALUES (2, 1, 'max'), (3, 1, 'kit')");
    CommitCutter cutter;
    ASSERT_NO_FATAL_FAILURE(openThrough(cutter, "pet"));
    typeInto(0, "name", "rex2");
    selectRows({1});
    page->deleteRows();
    // Committed and not to be asked; the rows' load after it ends after the first row.
    unsettledSave(cutter, {{kCommit, false, true}, {"txid_status("}, {"rex2", true}});
    ASSERT_EQ(shownColumn("name"), QStringList({"rex2"}));
    typeInto(0, "name", "rex3");
    EXPECT_EQ(saveInClosePrompt(), false);
    EXPECT_TRUE(page->hasPendingChanges());
    EXPECT_EQ(db.run(kPetRows), "1:1:rex3,3:1:kit");

    EXPECT_EQ(saveInClosePrompt(), false);
    Alert *alert = sheet();
    ASSERT_NE(alert, nullptr);
    EXPECT_TRUE(alert->informativeText().startsWith("The changes to 1 row could not be put back"));
    EXPECT_TRUE(alert->informativeText().contains("A save whose outcome was not known could have written it"));
    press(alert, "OK");
    EXPECT_FALSE(page->hasPendingChanges());
    EXPECT_EQ(shownColumn("name"), QStringList({"rex3", "kit"}));
    EXPECT_EQ(db.run(kPetRows), "1:1:rex3,3:1:kit");
}

// A held change goes back only onto its row as it was when the change was
// made: not over another session's change of it, nor over the user's own later
// save. Save in the close prompt then writes nothing, not even the change that
// went back, and says so.
TEST_F(TableSaveOutcome, AHeldChangeGoesBackOnlyOntoItsRowAsItWas) {
    db.run(kItems);
    CommitCutter cutter;
    ASSERT_NO_FATAL_FAILURE(openThrough(cutter, "item"));
    selectRows({0, 1, 3});
    page->deleteRows();
    unsettledSave(cutter, kUnsettledAndCutAfterAa1);
    db.run("DELETE FROM refuse; UPDATE item SET label = 'bb2 elsewhere' WHERE id = 2");
    typeInto(0, "label", "aa1 kept");
    page->save();
    ASSERT_TRUE(saved());
    const QString rows = "1:aa1 kept,2:bb2 elsewhere,3:cc3,4:dd4";
    ASSERT_EQ(db.run(kItemRows), rows);

    EXPECT_EQ(saveInClosePrompt(), false);
    Alert *alert = sheet();
    ASSERT_NE(alert, nullptr);
    EXPECT_TRUE(alert->informativeText().startsWith("The changes to 2 rows could not be put back"));
    press(alert, "OK");
    EXPECT_EQ(db.run(kItemRows), rows);
    EXPECT_EQ(shownColumn("label"), QStringList({"aa1 kept", "bb2 elsewhere", "cc3", "dd4"}));
    EXPECT_TRUE(!edits().isDeleted(0) && !edits().isDeleted(1) && edits().isDeleted(3));
}

// What a load did not put back is told also when no save waits for it, once
// the sheet open then has closed: here another session changed the row. Until
// it is told the page is not let go (a Quit from another window stops there),
// and a Save in the close prompt keeps the window open to tell it once the
// save has ended. Each notice names its own rows alone.
TEST_F(TableSaveOutcome, AHeldChangeThatDoesNotGoBackIsToldAfterTheLoad) {
    db.run(kItems);
    CommitCutter cutter;
    ASSERT_NO_FATAL_FAILURE(openThrough(cutter, "item"));
    const auto toldOneRow = [&] {
        Alert *alert = sheet();
        ASSERT_NE(alert, nullptr);
        EXPECT_EQ(alert->messageText(), "Changes could not be put back");
        EXPECT_TRUE(alert->informativeText().startsWith("The changes to 1 row could not be put back"))
            << alert->informativeText().toStdString();
        EXPECT_FALSE(alert->informativeText().contains("Nothing was saved"));
        saveScreenshot(alert, "browser", "held-changes-not-put-back.png");
        press(alert, "OK");
        EXPECT_EQ(sheet(300ms), nullptr);
        EXPECT_FALSE(page->hasPendingChanges());
    };
    selectRows({1});
    page->deleteRows();
    cutter.arm(kUnsettledAndLoadLate);
    page->save();
    ASSERT_TRUE(saved());
    db.run("DELETE FROM refuse; UPDATE item SET label = 'bb2 elsewhere' WHERE id = 2");
    Alert *alert = sheet();
    ASSERT_TRUE(alert && loaded());
    EXPECT_EQ(QApplication::activeModalWidget(), alert); // the changes may have been saved
    EXPECT_TRUE(page->hasPendingChanges());
    std::optional<bool> letGo;
    page->resignWithInformativeText(QString(), [&](bool done) { letGo = done; });
    EXPECT_EQ(letGo, false);
    press(alert, "OK");
    ASSERT_NO_FATAL_FAILURE(toldOneRow());
    EXPECT_EQ(db.run(kItemRows), "1:aa1,2:bb2 elsewhere,3:cc3,4:dd4");

    // The edit goes back, the deletion does not; the close prompt is open as
    // the rows load, and its Save writes the edit.
    db.run("INSERT INTO refuse DEFAULT VALUES");
    typeInto(0, "label", "aa1 edited");
    selectRows({2});
    page->deleteRows();
    cutter.arm(kUnsettledAndLoadLate);
    page->save();
    ASSERT_TRUE(saved());
    db.run("DELETE FROM refuse; UPDATE item SET label = 'cc3 elsewhere' WHERE id = 3");
    press(sheet(), "OK"); // the changes may have been saved
    std::optional<bool> closes;
    page->resignWithInformativeText(QString(), [&](bool done) { closes = done; });
    Alert *prompt = sheet();
    ASSERT_TRUE(prompt && loaded());
    beeps = 0;
    press(prompt, "Save");
    ASSERT_TRUE(pumpUntil([&] { return closes.has_value(); }));
    EXPECT_EQ(closes, false);
    ASSERT_NO_FATAL_FAILURE(toldOneRow());
    EXPECT_EQ(beeps, 0);
    EXPECT_EQ(db.run(kItemRows), "1:aa1 edited,2:bb2 elsewhere,3:cc3 elsewhere,4:dd4");
}

// A load that ends while its page is not on screen keeps the notice until
// the page is back, and then after the sheet the page opened off screen when
// its save ended there; a rename of the table is not held up by it. Quitting
// brings the window forward with the sheet the notice waits behind; closing
// the window shows the page and its notice first.
TEST_F(TableSaveOutcome, ANoticeWaitsForItsPageToBeOnScreen) {
    db.run(QString(kItems) + "; CREATE TABLE other (id int PRIMARY KEY)");
    CommitCutter cutter;
    ASSERT_NO_FATAL_FAILURE(openThrough(cutter, "item", true));
    const auto loadedOffScreen = [&](int id) {
        ASSERT_NO_FATAL_FAILURE(unsettledDeletion(cutter, id, false));
        press(sheet(), "OK"); // the changes may have been saved
        ASSERT_NO_FATAL_FAILURE(showOther("other"));
        ASSERT_TRUE(loaded());
    };

    ASSERT_NO_FATAL_FAILURE(unsettledDeletion(cutter, 2, true));
    ASSERT_TRUE(loaded());
    EXPECT_TRUE(page->hasPendingChanges());
    EXPECT_FALSE(ZNTWindowController::anyWindowHasPendingChangesOfItem(*page->table()));
    ASSERT_NO_FATAL_FAILURE(showPageAgain());
    EXPECT_EQ(shownAlerts(), 1);
    Alert *alert = sheet();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->messageText(), "The changes may have been saved");
    press(alert, "OK");
    ASSERT_NO_FATAL_FAILURE(toldOneRow());

    ASSERT_NO_FATAL_FAILURE(unsettledDeletion(cutter, 3, false));
    alert = sheet();
    ASSERT_TRUE(alert && loaded());
    QWidget elsewhere;
    activateElsewhere(elsewhere);
    std::optional<bool> quits;
    window->resignWithDelegate([&](bool done) { quits = done; });
    EXPECT_EQ(quits, false);
    EXPECT_TRUE(pumpUntil([&] { return alert->isActiveWindow(); }, 5s));
    press(alert, "OK");
    ASSERT_NO_FATAL_FAILURE(toldOneRow());

    ASSERT_NO_FATAL_FAILURE(loadedOffScreen(4));
    window->performClose();
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->mainViewController(), page);
    ASSERT_NO_FATAL_FAILURE(toldOneRow());

    // The sheet the page opened off screen stands on the window once the page
    // is back, as quitting or closing shows it: it alone is activated, and
    // the grid behind it takes no key.
    grid()->setCurrentIndex(model()->index(0, 0));
    for (const bool quitting : {true, false}) {
        ASSERT_NO_FATAL_FAILURE(unsettledDeletion(cutter, 1, true));
        ASSERT_TRUE(loaded());
        if (quitting)
            activateElsewhere(elsewhere);
        const Activations activated;
        if (quitting)
            window->resignWithDelegate([](bool) {});
        else
            window->performClose();
        alert = qobject_cast<Alert *>(QApplication::activeModalWidget());
        ASSERT_NE(alert, nullptr);
        EXPECT_EQ(alert->messageText(), "The changes may have been saved");
        EXPECT_EQ(alert->windowHandle()->transientParent(), window->windowHandle());
        EXPECT_TRUE(pumpUntil([&] { return alert->isActiveWindow(); }, 5s));
        pumpFor(50ms);
        EXPECT_EQ(activated.windows, QList<QWindow *>{alert->windowHandle()}) << quitting;
        const int row = grid()->currentIndex().row();
        ASSERT_NE(QApplication::focusWidget(), nullptr);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
        EXPECT_EQ(grid()->currentIndex().row(), row);
        press(alert, "OK");
        ASSERT_NO_FATAL_FAILURE(toldOneRow());
    }

    // Quitting over the sheet of a failed save: the prompt opens over it and
    // is the one window activated.
    typeInto(int(shownColumn("id").indexOf("2")), "id", "3");
    page->save();
    ASSERT_TRUE(saved());
    Alert *failure = sheet();
    ASSERT_NE(failure, nullptr);
    EXPECT_EQ(failure->messageText(), "Could not save changes");
    activateElsewhere(elsewhere);
    const Activations activated;
    window->resignWithDelegate([](bool) {});
    auto *prompt = qobject_cast<Alert *>(QApplication::activeModalWidget());
    ASSERT_TRUE(prompt && prompt != failure);
    EXPECT_EQ(prompt->messageText(), "Save changes to the database?");
    EXPECT_TRUE(pumpUntil([&] { return prompt->isActiveWindow(); }, 5s));
    pumpFor(50ms);
    EXPECT_EQ(activated.windows, QList<QWindow *>{prompt->windowHandle()});
    press(prompt, "Cancel");
    press(failure, "OK");
    EXPECT_TRUE(page->discardChanges());
}

// Another window renames the table while this one's page of it holds only a
// notice: behind the sheet open on screen, and off screen behind the sheet it
// opened on its own view there. The window follows the rename, as every
// window that shows the table does, and tells the notice once, after that
// sheet, also when it is closed first; its next edit goes to the renamed
// table, not to the one that takes the old name.
TEST_F(TableSaveOutcome, EveryWindowOfARenamedTableFollowsItAndTellsTheNoticeOfThePageItDropped) {
    db.run(QString(kItems) + "; CREATE TABLE other (id int PRIMARY KEY)");
    CommitCutter cutter;
    ASSERT_NO_FATAL_FAILURE(openThrough(cutter, "item", true));
    const auto renamer = ZNTWindowController::create(table("item"));
    renamer->show();
    QString name = "item";
    const auto renameTo = [&](const QString &to) {
        db.run(QStringLiteral("ALTER TABLE %1 RENAME TO %2").arg(name, to));
        renamer->performAction(
            {ZNTActionName::replaceNavigationItems, ZNTObjectList{renamer->currentItem(), table(to)}});
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        page = nullptr; // the page of the old name went
        name = to;
    };
    const auto laterEditGoesToTheRenamedTable = [&](const QString &old) {
        db.run(QStringLiteral("CREATE TABLE %1 (id int PRIMARY KEY, label text); "
                              "INSERT INTO %1 VALUES (1, 'new1'), (2, 'new2'), (3, 'new3')")
                   .arg(old));
        EXPECT_EQ(window->currentItem()->name(), name);
        page = qobject_cast<ZNTTableViewController *>(window->mainViewController());
        ASSERT_TRUE(page && loaded());
        typeInto(int(shownColumn("id").indexOf("1")), "label", "later in " + name);
        page->save();
        ASSERT_TRUE(saved());
        EXPECT_EQ(db.run(QStringLiteral("SELECT label FROM %1 WHERE id = 1").arg(name)), "later in " + name);
        EXPECT_EQ(db.run(QStringLiteral("SELECT string_agg(id || ':' || label, ',' ORDER BY id) FROM %1").arg(old)),
                  "1:new1,2:new2,3:new3");
    };

    ASSERT_NO_FATAL_FAILURE(unsettledDeletion(cutter, 1, false));
    Alert *alert = sheet();
    ASSERT_TRUE(alert && loaded());
    renameTo("renamed");
    EXPECT_EQ(window->currentItem()->name(), "renamed");
    press(alert, "OK");
    ASSERT_NO_FATAL_FAILURE(toldOneRow());
    EXPECT_EQ(sheet(300ms), nullptr);
    ASSERT_NO_FATAL_FAILURE(laterEditGoesToTheRenamedTable("item"));

    ASSERT_NO_FATAL_FAILURE(unsettledDeletion(cutter, 2, true, name));
    ASSERT_TRUE(loaded());
    renameTo("item_old");
    alert = qobject_cast<Alert *>(QApplication::activeModalWidget());
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->messageText(), "The changes may have been saved");
    EXPECT_EQ(alert->windowHandle()->transientParent(), window->windowHandle());
    window->performClose();
    EXPECT_TRUE(window->isVisible());
    press(alert, "OK");
    ASSERT_NO_FATAL_FAILURE(toldOneRow());
    EXPECT_EQ(sheet(300ms), nullptr);
    window->goBack();
    ASSERT_NO_FATAL_FAILURE(laterEditGoesToTheRenamedTable("renamed"));
    renamer->close();
}

// A held deletion that a later committed save left out is told by the load
// after the next unsettled save, once the close prompt open then is
// cancelled, or once the save it started has ended; what it discards is not
// told, neither then nor after the window it closed.
TEST_F(TableSaveOutcome, AHeldChangeALaterSaveLeftOutIsToldAfterTheNextLoad) {
    db.run(kItems);
    CommitCutter cutter;
    ASSERT_NO_FATAL_FAILURE(openThrough(cutter, "item"));
    selectRows({0});
    page->deleteRows();
    unsettledSave(cutter, kUnsettledAndCutAfterAa1);
    db.run("DELETE FROM refuse");
    typeInto(0, "label", "aa1 kept");
    page->save();
    ASSERT_TRUE(saved());
    const auto loadInClosePrompt = [&](const char *label, const char *meanwhile, const char *answer,
                                       bool closes = true) {
        typeInto(0, "label", label);
        cutter.arm(kUnsettledAndLoadLate);
        page->save();
        ASSERT_TRUE(saved());
        db.run(meanwhile);
        press(sheet(), "OK"); // the changes may have been saved
        page->resignWithInformativeText(QString(), [this, closes](bool done) {
            if (done && closes)
                host->close();
        });
        Alert *prompt = sheet();
        ASSERT_TRUE(prompt && loaded());
        EXPECT_EQ(QApplication::activeModalWidget(), prompt);
        press(prompt, answer);
    };
    loadInClosePrompt("aa1 again", "SELECT", "Cancel");
    Alert *alert = sheet();
    ASSERT_NE(alert, nullptr);
    EXPECT_TRUE(alert->informativeText().startsWith("The changes to 1 row could not be put back"));
    press(alert, "OK");
    loadInClosePrompt("aa1 third", "UPDATE item SET label = 'aa1 elsewhere' WHERE id = 1", "Discard Changes");
    pumpFor(500ms);
    EXPECT_FALSE(host->isVisible());
    EXPECT_EQ(shownAlerts(), 0);
    EXPECT_FALSE(page->hasPendingChanges());
    uikittest::activate(host);
    EXPECT_EQ(sheet(500ms), nullptr);

    // The prompt's Save of the change that went back runs first, and its
    // failure is told before the notice.
    db.run("INSERT INTO refuse DEFAULT VALUES");
    typeInto(2, "label", "cc3 again");
    loadInClosePrompt("aa1 fourth",
                      "BEGIN; DELETE FROM refuse; UPDATE item SET label = 'aa1 moved' WHERE id = 1; COMMIT; "
                      "INSERT INTO refuse DEFAULT VALUES",
                      "Save");
    alert = sheet();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->messageText(), "Could not save changes");
    EXPECT_EQ(shownAlerts(), 1); // the notice waits
    press(alert, "OK");
    alert = sheet();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->messageText(), "Changes could not be put back");
    press(alert, "OK");
    EXPECT_EQ(shownColumn("label"), QStringList({"aa1 moved", "bb2", "cc3 again", "dd4"}));
    EXPECT_EQ(db.run(kItemRows), "1:aa1 moved,2:bb2,3:cc3,4:dd4");

    // A prompt that keeps the window (a sort, a reload): its Discard drops the
    // notice too.
    loadInClosePrompt("aa1 fifth",
                      "BEGIN; DELETE FROM refuse; UPDATE item SET label = 'aa1 sixth' WHERE id = 1; COMMIT; "
                      "INSERT INTO refuse DEFAULT VALUES",
                      "Discard Changes", false);
    EXPECT_TRUE(host->isVisible());
    EXPECT_EQ(sheet(500ms), nullptr);
    EXPECT_FALSE(page->hasPendingChanges());
}

// A second save that may have been committed keeps what the first one held:
// its sheet counts both, and once both were refused, the rows' load puts both
// back and Save in the close prompt saves them.
TEST_F(TableSaveOutcome, ASecondUnsettledSaveKeepsWhatTheFirstHeld) {
    db.run(kItems);
    CommitCutter cutter;
    ASSERT_NO_FATAL_FAILURE(openThrough(cutter, "item"));
    selectRows({1});
    page->deleteRows();
    unsettledSave(cutter, kUnsettledAndCutAfterAa1);
    typeInto(0, "label", "aa1 again");
    EXPECT_TRUE(unsettledSave(cutter, kUnsettledAndCutAfterAa1).contains("Your changes to 2 rows are kept"));
    db.run("DELETE FROM refuse");
    EXPECT_EQ(saveInClosePrompt(), true);
    EXPECT_EQ(db.run(kItemRows), "1:aa1 again,3:cc3,4:dd4");

    // An edit held for row 1, and a save that moves its key: one row's changes.
    db.run("INSERT INTO refuse DEFAULT VALUES");
    const QList<CommitCutter::Cut> cutAfterRow1 = {{kCommit, false, true}, {"txid_status("}, {"aa1 again", true}};
    typeInto(0, "label", "aa1 held");
    unsettledSave(cutter, cutAfterRow1);
    ASSERT_EQ(shownColumn("id"), QStringList({"1"}));
    typeInto(0, "id", "7");
    const QString text = unsettledSave(cutter, cutAfterRow1);
    EXPECT_TRUE(text.contains("The changes to 1 row are not put back")) << text.toStdString();
}

// Where the server gives back no written cell (row-level security), a key the
// save wrote is as typed ("03"), and may be the key of a row it deleted: none
// of its changes is held, and the row there now is not deleted.
TEST_F(TableSaveOutcome, NoHeldChangeGoesBackOntoARowTheSaveWroteWithAKeyAsTyped) {
    db.run("CREATE TABLE item (id int PRIMARY KEY, label text); ALTER TABLE item ENABLE ROW LEVEL SECURITY; "
           "INSERT INTO item VALUES (1, 'aa1'), (2, 'bb2'), (3, 'cc3')");
    CommitCutter cutter;
    ASSERT_NO_FATAL_FAILURE(openThrough(cutter, "item"));
    selectRows({2});
    page->deleteRows();
    addRow(3, {{"id", "03"}, {"label", "cc3"}});
    cutter.arm({{kCommit, false, true}, {"txid_status("}}); // committed, and not to be asked
    page->save();
    ASSERT_TRUE(saved());
    Alert *alert = sheet();
    ASSERT_NE(alert, nullptr);
    EXPECT_TRUE(alert->informativeText().contains("The changes to 1 row are not put back: a save added a row or "
                                                  "wrote a key"));
    EXPECT_TRUE(alert->informativeText().contains("The new row is no longer pending"));
    press(alert, "OK");
    ASSERT_TRUE(loaded());
    EXPECT_FALSE(page->hasPendingChanges());
    EXPECT_EQ(db.run(kItemRows), "1:aa1,2:bb2,3:cc3");
}

namespace {
// A key of two columns, whose code a trigger turns from 'b' into 'B' on every
// UPDATE, also where the UPDATE did not write it.
const char *kCoded = "CREATE TABLE coded (id int, code text, name text, PRIMARY KEY (id, code)); "
                     "CREATE FUNCTION upper_b() RETURNS trigger LANGUAGE plpgsql AS "
                     "$$BEGIN IF NEW.code = 'b' THEN NEW.code := 'B'; END IF; RETURN NEW; END$$; "
                     "CREATE TRIGGER upper_b BEFORE UPDATE ON coded FOR EACH ROW EXECUTE FUNCTION upper_b()";
const char *kCodedRows =
    "SELECT string_agg(id || ':' || code || ':' || name, ',' ORDER BY id, code COLLATE \"C\") FROM coded";
} // namespace

// The save gets back the key the server stored, not the one it sent: the page
// loads its rows again (another session's change shows) and shows (1,B), so
// that deleting that row deletes it, not the (1,b) the page would have named.
// Also where the row has a statement of its own, for its generated column;
// and where the save ends while another page is shown (the user went on while
// another session held the row): the rows load when the page is back.
TEST_F(TableSaveOutcome, AKeyATriggerRewroteIsShownAsStoredAndALaterChangeReachesOnlyItsRow) {
    db.run(QString(kCoded) + "; CREATE TABLE other (id int PRIMARY KEY)");
    ASSERT_NO_FATAL_FAILURE(openInWindow("coded"));
    const auto rowNamed = [&](const char *name) { return int(shownColumn("name").indexOf(name)); };
    const std::pair<const char *, bool> rounds[] = {
        {"SELECT", false},
        {"ALTER TABLE coded ADD g text GENERATED ALWAYS AS (name || '!') STORED", false},
        {"ALTER TABLE coded DROP g", true}};
    for (const auto &[structure, offScreen] : rounds) {
        db.run(QStringLiteral("TRUNCATE coded; %1; INSERT INTO coded VALUES (5, 'b', 'same'), (6, 'a', 'w'), "
                              "(1, 'b', 'other'), (7, 'a', 'z')")
                   .arg(structure));
        page->table()->purgeMetadata();
        page->performReload();
        ASSERT_TRUE(loaded());
        ASSERT_GE(rowNamed("same"), 0);
        typeInto(rowNamed("same"), "id", "1");
        typeInto(rowNamed("z"), "name", "z2"); // its statement pairs, after the one that did not
        db.run("UPDATE coded SET name = 'w2' WHERE id = 6");
        PGconnPtr holder = adminConnection(db.name);
        exec(holder.get(), offScreen ? "BEGIN; SELECT FROM coded WHERE id = 5 FOR UPDATE" : "SELECT");
        page->save();
        if (offScreen) {
            ASSERT_NO_FATAL_FAILURE(showOther("other"));
            exec(holder.get(), "COMMIT");
            ASSERT_TRUE(saved());
            ASSERT_NO_FATAL_FAILURE(showPageAgain());
        }
        ASSERT_TRUE(saved());
        EXPECT_TRUE(pumpUntil([&] { return rowNamed("w2") >= 0; })) << structure;
        ASSERT_TRUE(loaded());
        const int row = rowNamed("same");
        ASSERT_GE(row, 0);
        EXPECT_EQ(shownColumn("id")[row] + shownColumn("code")[row], "1B") << structure;
        selectRows({row});
        page->deleteRows();
        page->save();
        ASSERT_TRUE(saved());
        EXPECT_EQ(sheet(300ms), nullptr);
        EXPECT_EQ(db.run(kCodedRows), "1:b:other,6:a:w2,7:a:z2");
    }
}

// After a save whose outcome is not known, no change goes back where a row may
// not be the one its key named: the save wrote a key, or the rows it got back
// do not pair with its rows (the trigger moved (1,b) onto (1,B), the key of
// the row deleted). Both are told, and Save then writes nothing.
TEST_F(TableSaveOutcome, NoHeldChangeGoesBackAfterASaveThatWroteAKeyOrWhoseKeysATriggerRewrote) {
    db.run(kCoded);
    CommitCutter cutter;
    ASSERT_NO_FATAL_FAILURE(openThrough(cutter, "coded"));
    const auto rowOf = [&](const char *id, const char *code) {
        for (int r = 0; r < model()->rowCount(); ++r) {
            if (shownColumn("id")[r] == id && shownColumn("code")[r] == code)
                return r;
        }
        return -1;
    };
    const auto unsettledSave = [&](const char *told, const char *stored) {
        cutter.arm({{kCommit, false, true}, {"txid_status("}}); // committed, and not to be asked
        page->save();
        ASSERT_TRUE(saved());
        Alert *alert = sheet();
        ASSERT_NE(alert, nullptr);
        EXPECT_EQ(alert->messageText(), "The changes may have been saved");
        EXPECT_TRUE(alert->informativeText().contains(told)) << alert->informativeText().toStdString();
        EXPECT_FALSE(alert->informativeText().contains("are kept"));
        press(alert, "OK");
        ASSERT_TRUE(loaded());
        EXPECT_FALSE(page->hasPendingChanges());
        page->save();
        ASSERT_TRUE(saved());
        EXPECT_EQ(db.run(kCodedRows), stored);
    };

    const auto loadRows = [&](const char *rows) {
        db.run(QStringLiteral("TRUNCATE coded; INSERT INTO coded VALUES %1").arg(rows));
        page->reloadWithStructure(false);
        ASSERT_TRUE(loaded());
    };

    ASSERT_NO_FATAL_FAILURE(loadRows("(1, 'a', 'same'), (5, 'a', 'same'), (6, 'b', 'y')"));
    selectRows({rowOf("1", "a")});
    page->deleteRows();
    typeInto(rowOf("5", "a"), "id", "01");
    typeInto(rowOf("6", "b"), "id", "01");
    unsettledSave("The changes to 3 rows are not put back: a save added a row or wrote a key", "1:B:y,1:a:same");

    ASSERT_NO_FATAL_FAILURE(loadRows("(1, 'B', 'same'), (1, 'b', 'x')"));
    selectRows({rowOf("1", "B")});
    page->deleteRows();
    typeInto(rowOf("1", "b"), "name", "same");
    unsettledSave("The changes to 2 rows are not put back: a save added a row or wrote a key, or its rows did not "
                  "come back as the server stored them",
                  "1:B:same");
}
