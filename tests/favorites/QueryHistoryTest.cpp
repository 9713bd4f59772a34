// Query history: how texts are stored (Python's zlib and sqlite3 as readers),
// what is recorded and trimmed, and stepping through it.
#include "StoreTestSupport.h"
#include "favorites/ZNTQueryHistoryElement.h"
#include "platform/Log.h"

#include <sqlite3.h>

class QueryHistory : public SavedFavoriteFixture {
protected:
    QStringList texts() {
        QStringList all;
        for (auto e = favorite->firstQueryHistoryElement(); e; e = e->nextHistoryElement())
            all << e->text();
        return all;
    }
};

TEST_F(QueryHistory, ShortTextsStayPlainAndRepetitiveOnesAreStoredAsZlibReadsThem) {
    const QString repetitive = QString("SELECT größe, name FROM artikel WHERE id = 1;\n").repeated(200);
    for (const QString &text : {QString(""), QString("select 1"), repetitive})
        favorite->recordQueryTextInHistory(text);

    const QString stored =
        python(QStringLiteral("import sqlite3, zlib, sys\n"
                              "db = sqlite3.connect(sys.argv[1])\n"
                              "for t, c, n in db.execute('SELECT text, compressedText, "
                              "uncompressedLength FROM queryHistoryElement ORDER BY id'):\n"
                              "    if c is None: print('plain', len(t), n)\n"
                              "    else:\n"
                              "        raw = zlib.decompress(c)\n"
                              "        print('zlib', t, len(raw) == n, raw.decode() == sys.argv[2])\n"),
               {path(), repetitive});
    EXPECT_EQ(stored, "plain 0 None\nplain 8 None\nzlib None True True");
    EXPECT_EQ(texts(), (QStringList{"", "select 1", repetitive}));
    auto newest = favorite->lastQueryHistoryElement();
    EXPECT_TRUE(newest->storedText().isNull());
    EXPECT_LT(newest->compressedText().size(), repetitive.toUtf8().size());
}

TEST_F(QueryHistory, ATextBeginningWithAByteOrderMarkKeepsIt) {
    const QString marked = QChar(0xfeff) + QString("SELECT 1;\n").repeated(50);
    favorite->recordQueryTextInHistory(marked);
    ASSERT_FALSE(favorite->lastQueryHistoryElement()->compressedText().isEmpty());
    EXPECT_EQ(texts(), QStringList{marked});
}

TEST_F(QueryHistory, OnlyARepeatOfTheNewestIsSkipped) {
    favorite->recordQueryTextInHistory("A");
    favorite->recordQueryTextInHistory("A");
    EXPECT_EQ(texts(), QStringList{"A"});
    favorite->recordQueryTextInHistory("B");
    favorite->recordQueryTextInHistory("A");
    EXPECT_EQ(texts(), (QStringList{"A", "B", "A"}));
    EXPECT_EQ(pythonQuery(path(), "SELECT count(*) FROM queryHistoryElement"), "3");
}

TEST_F(QueryHistory, TextsOfUpTo100000CharactersAreRecorded) {
    favorite->recordQueryTextInHistory(QString(100000, u'x'));
    favorite->recordQueryTextInHistory(QString(100001, u'y'));
    ASSERT_EQ(texts().size(), 1);
    EXPECT_EQ(texts().front().size(), 100000);
}

TEST_F(QueryHistory, TheThousandAndFirstEntryTrimsTheOldestAndTiesGoInTheOrderRecorded) {
    sqlite3_exec(store->handle(), "PRAGMA synchronous = OFF", nullptr, nullptr, nullptr);
    // A thousand entries of one date, as an import may bring them.
    const qint64 sameDate = ZNTQueryHistoryElement::nowMicroseconds() - 1000000;
    for (int i = 0; i < 1000; ++i)
        favorite->insertQueryHistoryElement(QStringLiteral("t%1").arg(i), sameDate);
    saveOrFail(store);
    favorite->recordQueryTextInHistory("newest");
    EXPECT_EQ(pythonQuery(path(), "SELECT count(*) FROM queryHistoryElement"), "1000");
    EXPECT_EQ(favorite->firstQueryHistoryElement()->text(), "t1");
    favorite->recordQueryTextInHistory("newer still");
    EXPECT_EQ(favorite->firstQueryHistoryElement()->text(), "t2");
    EXPECT_EQ(pythonQuery(path(), "SELECT text FROM queryHistoryElement WHERE text IN ('t0', 't1')"), "");
    EXPECT_EQ(favorite->lastQueryHistoryElement()->text(), "newer still");
}

TEST_F(QueryHistory, DatesKeepTheirMicrosecondsAndStepsNeverLandOnAnEqualDatedTwin) {
    const qint64 base = 1700000000000000LL;
    favorite->insertQueryHistoryElement("before", base + 1);
    auto twinA = favorite->insertQueryHistoryElement("twin a", base + 2);
    auto twinB = favorite->insertQueryHistoryElement("twin b", base + 2);
    favorite->insertQueryHistoryElement("after", base + 3);
    saveOrFail(store);
    EXPECT_EQ(pythonQuery(path(), "SELECT date - 1700000000000000 FROM queryHistoryElement ORDER BY id"), "1\n2\n2\n3");

    for (const auto &twin : {twinA, twinB}) {
        EXPECT_EQ(twin->previousHistoryElement()->text(), "before");
        EXPECT_EQ(twin->nextHistoryElement()->text(), "after");
    }
    EXPECT_EQ(favorite->firstQueryHistoryElement()->text(), "before");
    EXPECT_EQ(favorite->firstQueryHistoryElement()->previousHistoryElement(), nullptr);
    EXPECT_EQ(favorite->lastQueryHistoryElement()->nextHistoryElement(), nullptr);
    EXPECT_EQ(twinA->date().toMSecsSinceEpoch(), (base + 2) / 1000);
}

TEST_F(QueryHistory, StepsSeeEntriesNotYetSavedAndSkipDeletedOnes) {
    favorite->recordQueryTextInHistory("saved");
    sqlite3_exec(store->handle(), "PRAGMA query_only = 1", nullptr, nullptr, nullptr);
    favorite->recordQueryTextInHistory("unsaved 1");
    favorite->recordQueryTextInHistory("unsaved 2");
    EXPECT_TRUE(store->hasChanges());
    EXPECT_EQ(texts(), (QStringList{"saved", "unsaved 1", "unsaved 2"}));
    EXPECT_EQ(favorite->lastQueryHistoryElement()->previousHistoryElement()->text(), "unsaved 1");
    sqlite3_exec(store->handle(), "PRAGMA query_only = 0", nullptr, nullptr, nullptr);
    saveOrFail(store);
    EXPECT_EQ(pythonQuery(path(), "SELECT text FROM queryHistoryElement ORDER BY date"), "saved\nunsaved 1\nunsaved 2");
}

TEST_F(QueryHistory, ThePreviewIsTheFirstThousandCharactersWithWhiteSpaceFolded) {
    QString text = "select\t\t1,\n\n  2";
    text += QString(1990, u'z') + "\nTAIL";
    favorite->recordQueryTextInHistory(text);
    const QString preview = favorite->lastQueryHistoryElement()->previewText();
    EXPECT_TRUE(preview.startsWith("select 1, 2zzz"));
    EXPECT_EQ(preview.size(), 1000 - 4); // "\t\t" and "\n\n  " became one blank each
    EXPECT_FALSE(preview.contains("TAIL"));
}

TEST_F(QueryHistory, ADeletedEntryIsSavedAtOnceAndGoneAfterReopening) {
    for (const char *text : {"A", "B", "C"})
        favorite->recordQueryTextInHistory(text);
    auto other = store->insertFavorite();
    other->recordQueryTextInHistory("theirs");
    const auto middle = favorite->lastQueryHistoryElement()->previousHistoryElement();
    ASSERT_EQ(middle->text(), "B");
    favorite->deleteQueryHistoryElement(other->lastQueryHistoryElement()); // not this favorite's: left alone
    favorite->deleteQueryHistoryElement(middle);
    EXPECT_FALSE(store->hasChanges());
    EXPECT_EQ(middle->previousHistoryElement(), nullptr); // a deleted entry has no neighbours
    EXPECT_EQ(middle->nextHistoryElement(), nullptr);
    EXPECT_EQ(texts(), (QStringList{"A", "C"}));

    const qint64 id = favorite->objectID();
    favorite.reset();
    other.reset();
    store.reset();
    store = openStore();
    for (const auto &reopened : store->favorites()) {
        if (reopened->objectID() == id)
            favorite = reopened;
    }
    ASSERT_TRUE(favorite);
    EXPECT_EQ(texts(), (QStringList{"A", "C"}));
    EXPECT_EQ(pythonQuery(path(), "SELECT text FROM queryHistoryElement ORDER BY date"), "A\nC\ntheirs");
}

// A store copied from elsewhere may claim any length for a compressed text: it is
// read within the one bound every history text has, and damage reads as "".
TEST_F(QueryHistory, DamagedStoredLengthsReadAsEmptyTextWithZlibsCode) {
    const QString repetitive = QString("SELECT * FROM t WHERE id = 1;\n").repeated(100);
    favorite->recordQueryTextInHistory(repetitive);
    const qint64 length = repetitive.toUtf8().size();
    const struct {
        const char *name;
        qint64 declared;
        QString text;
        const char *logged;
    } cases[] = {
        {"exact", length, repetitive, nullptr},
        {"longerGetsWhatIsStored", length + 1, repetitive, nullptr},
        {"shorter", length - 1, "", "Uncompressing failed: -5"},
        {"negative", -1, "", "Uncompressing failed: -3"},
        {"beyondWhatTheStreamCanHold", qint64(1) << 40, "", "Uncompressing failed: -3"},
    };
    // One program has the store open at a time.
    favorite.reset();
    store.reset();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        pythonExec(path(), QStringLiteral("UPDATE queryHistoryElement SET uncompressedLength = %1").arg(c.declared));
        auto reopened = openStore();
        ASSERT_FALSE(reopened->favorites().empty());
        LogCapture log;
        EXPECT_EQ(reopened->favorites().front()->lastQueryHistoryElement()->text(), c.text);
        if (c.logged)
            EXPECT_TRUE(log.contains(c.logged));
        else
            EXPECT_TRUE(log.lines().isEmpty());
    }
}
