// Copying rows and cells from the table page, with the server as the judge:
// the INSERT form run into a copy of the table gives the same rows.
#include "TablePageTestSupport.h"
#include "browser/ZNTCopyModes.h"

#include <QBuffer>
#include <QClipboard>
#include <QImage>
#include <QMimeData>

using namespace pagetest;

namespace {
class TableCopy : public TablePageTest {
protected:
    QString clipboard() const { return QApplication::clipboard()->text(); }
    void selectAll() {
        QList<int> rows;
        for (int row = 0; row < model()->rowCount(); ++row)
            rows << row;
        selectRows(rows);
    }
};
} // namespace

TEST_F(TableCopy, InsertStatementsRunIntoACopyOfTheTableGiveTheSameRows) {
    db.run("CREATE TABLE t (id int PRIMARY KEY, txt text, raw bytea, yes boolean, f8 float8, f4 real, num numeric, "
           "stamp timestamptz)");
    db.run("INSERT INTO t VALUES "
           "(1, E'it''s \\\\ a \"quote\"\\r\\nnext\\tcol', '\\x00ff10', true, 'NaN', 'Infinity', 'NaN', "
           "'2024-02-29 12:34:56.789+00'), "
           "(2, 'ünïcødé ✓ 😀', '', false, 'Infinity', '-Infinity', '-0.000100', NULL), "
           "(3, NULL, NULL, NULL, '-Infinity', 1.5, NULL, NULL), "
           "(4, '', '\\x5c27', NULL, -0.0, 3.4028235e38, 12345678901234567890.5, NULL), "
           "(5, E'\\\\x\\\\', NULL, true, 1e-300, -1, 0, '-infinity')");
    db.run("CREATE SCHEMA first; CREATE TABLE first.t (LIKE public.t)");
    ASSERT_NO_FATAL_FAILURE(open("t"));
    selectAll();
    page->copySpecial(ZNTCopyModeInsertStatements);
    const QString insert = clipboard();
    EXPECT_TRUE(
        insert.startsWith("INSERT INTO \"t\"(\"id\",\"txt\",\"raw\",\"yes\",\"f8\",\"f4\",\"num\",\"stamp\") VALUES ("))
        << insert.toStdString();
    EXPECT_FALSE(insert.contains(u'\n')) << "one line";
    // The same name, found first in another schema.
    db.run("SET search_path = first, public; " + insert);
    EXPECT_EQ(db.run("SELECT count(*) FROM (SELECT * FROM public.t EXCEPT ALL SELECT * FROM first.t) x"), "0");
    EXPECT_EQ(db.run("SELECT count(*) FROM (SELECT * FROM first.t EXCEPT ALL SELECT * FROM public.t) x"), "0");
    EXPECT_EQ(db.run("SELECT count(*) FROM first.t"), "5");
    EXPECT_EQ(db.run("SELECT txt FROM first.t WHERE id = 1"), db.run("SELECT txt FROM public.t WHERE id = 1"));
}

TEST_F(TableCopy, ColumnsAreCopiedInTheirOnScreenOrderWithPendingEdits) {
    db.run("CREATE TABLE t (id int PRIMARY KEY, name text, note text); "
           "INSERT INTO t VALUES (1, 'a', 'x'), (2, 'b', NULL)");
    ASSERT_NO_FATAL_FAILURE(open("t"));
    grid()->header()->moveSection(2, 0); // note, id, name
    typeInto(1, "name", "B");
    selectRows({0, 1});
    page->copySpecial(ZNTCopyModeCSVWithHeader);
    EXPECT_EQ(clipboard(), "\"note\",\"id\",\"name\"\n\"x\",1,\"a\"\n,2,\"B\"\n");
    page->copy();
    EXPECT_EQ(clipboard(), "x\t1\ta\n\t2\tB");
    page->copySpecial(ZNTCopyModeCSV);
    EXPECT_EQ(clipboard(), "\"x\",1,\"a\"\n,2,\"B\"\n");
    // The row menu copies the rows clicked.
    QMenu *menu = page->rowMenuForRow(1, 0);
    QAction *copyRow = menu->actions().first();
    EXPECT_EQ(copyRow->text(), "&Copy Rows"); // the clicked row is part of a selection of two
    grid()->clearSelection();
    menu = page->rowMenuForRow(1, 0);
    EXPECT_EQ(copyRow->text(), "&Copy Row");
    copyRow->trigger();
    EXPECT_EQ(clipboard(), "\t2\tB");
}

TEST_F(TableCopy, ANewRowCopiesItsDefaultsAsDefault) {
    db.run("CREATE TABLE t (id serial PRIMARY KEY, name text, made date DEFAULT '2000-01-01')");
    ASSERT_NO_FATAL_FAILURE(open("t"));
    page->newRow();
    grid()->abortEditing();
    typeInto(0, "name", "fresh");
    selectRows({0});
    page->copySpecial(ZNTCopyModeInsertStatements);
    EXPECT_EQ(clipboard(), "INSERT INTO \"t\"(\"id\",\"name\",\"made\") VALUES (DEFAULT,E'fresh',DEFAULT);");
    db.run(clipboard());
    EXPECT_EQ(db.run("SELECT id || ' ' || name || ' ' || made FROM t"), "1 fresh 2000-01-01");
}

TEST_F(TableCopy, ACellCopiesAsTextAsNothingForNullOrAsAnImage) {
    QImage image(3, 2, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    db.run(QStringLiteral("CREATE TABLE t (id int PRIMARY KEY, name text, pic bytea); "
                          "INSERT INTO t VALUES (1, 'tab\there', '\\x%1'), (2, NULL, '\\x0102')")
               .arg(QString::fromLatin1(png.toHex())));
    ASSERT_NO_FATAL_FAILURE(open("t"));
    page->copyClickedCell(0, model()->displayColumnNamed("name"));
    EXPECT_EQ(clipboard(), "tab\there");
    page->copyClickedCell(1, model()->displayColumnNamed("name"));
    EXPECT_EQ(clipboard(), "");
    page->copyClickedCell(0, model()->displayColumnNamed("pic"));
    const QImage copied = QApplication::clipboard()->image();
    EXPECT_EQ(copied.size(), QSize(3, 2));
    const int before = beeps;
    page->copyClickedCell(1, model()->displayColumnNamed("pic")); // bytes that are no image
    page->copyClickedCell(7, 0);                                  // no such row
    page->copy();                                                 // nothing selected
    EXPECT_EQ(beeps, before + 3);
}
