// The table page's edit model without widgets or servers: entries typed into
// cells, new, duplicated and deleted rows, what saving writes and how the
// server's answer is folded back, and rows taken as a result grows.
#include "browser/ZNTTableContentModel.h"
#include "browser/ZNTTableEdits.h"
#include "uikit/KRVTableDataCell.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

namespace {

using Values = ZNTTableEdits::Values;

Value text(const char *s) {
    return Value::fromString(QString::fromUtf8(s));
}

// A store of rows (id int, name text, flag bool).
std::shared_ptr<RowStore> store(const QList<Values> &rows) {
    auto s = std::make_shared<RowStore>(3);
    for (const Values &row : rows)
        s->appendRow(std::vector<Value>(row.begin(), row.end()));
    return s;
}

ZNTTableEdits loaded(const QList<Values> &rows) {
    ZNTTableEdits edits;
    edits.reset(store(rows), 3);
    edits.takeStoreRows(rows.size());
    return edits;
}

const QList<Values> kThree = {{Value::fromInt(1), text("ann"), Value::fromBool(true)},
                              {Value::fromInt(2), Value::null(), Value::fromBool(false)},
                              {Value::fromInt(3), text(""), Value::null()}};

} // namespace

TEST(TypedText, IsNeverMadeANumberAndEmptyMeansNullOnlyOverAValue) {
    using E = ZNTTableEdits;
    // Text stays text: the server converts it, or refuses it.
    EXPECT_EQ(E::valueForTypedText("abc", {}, Value::fromInt(7)), text("abc"));
    EXPECT_EQ(E::valueForTypedText("9007199254740993", {}, Value::fromInt(1)), text("9007199254740993"));
    EXPECT_EQ(E::valueForTypedText("true", {}, Value::fromBool(false)), text("true"));
    // Text equal to what the cell shows for its loaded value is that value.
    EXPECT_EQ(E::valueForTypedText("7", text("8"), Value::fromInt(7)), Value::fromInt(7));
    EXPECT_EQ(E::valueForTypedText("TRUE", {}, Value::fromBool(true)), Value::fromBool(true));
    EXPECT_EQ(E::valueForTypedText("1.5", {}, Value::fromDouble(1.5)), Value::fromDouble(1.5));
    EXPECT_EQ(E::valueForTypedText("NULL", {}, Value::null()), text("NULL")); // a placeholder is no text
    // Empty: over a value NULL, over an empty, NULL or DEFAULT cell the loaded value.
    EXPECT_EQ(E::valueForTypedText("", {}, text("abc")), Value::null());
    EXPECT_EQ(E::valueForTypedText("", {}, Value::null()), Value::null());
    EXPECT_EQ(E::valueForTypedText("", {}, text("")), text(""));
    EXPECT_EQ(E::valueForTypedText("", text("x"), Value::defaultMarker()), Value::defaultMarker());
    // Empty over an edit to empty, NULL or DEFAULT changes nothing.
    EXPECT_EQ(E::valueForTypedText("", Value::null(), text("abc")), std::nullopt);
    EXPECT_EQ(E::valueForTypedText("", text(""), text("abc")), std::nullopt);
}

TEST(TableEdits, SettingTheLoadedValueBackRemovesTheEditAndTheRowCountsAsUnchanged) {
    ZNTTableEdits edits = loaded(kThree);
    edits.setValue(0, 1, text("bob"));
    edits.setValue(0, 2, Value::fromBool(false));
    EXPECT_TRUE(edits.isEdited(0));
    EXPECT_EQ(edits.cellStyle(0, 1), KRVTableDataCellStyleEdited);
    EXPECT_EQ(edits.cellStyle(0, 0), KRVTableDataCellStyleNormal);
    EXPECT_EQ(edits.counts().editedRows, 1);
    EXPECT_EQ(edits.effectiveValues(0), (Values{Value::fromInt(1), text("bob"), Value::fromBool(false)}));
    EXPECT_EQ(edits.loadedValues(0), kThree[0]);

    edits.setValue(0, 1, text("ann"));
    edits.setValue(0, 2, Value::fromBool(true));
    EXPECT_FALSE(edits.isEdited(0));
    EXPECT_FALSE(edits.counts().any());
    EXPECT_EQ(edits.editedValue(0, 1), std::nullopt);
}

TEST(TableEdits, NewRowsDeletedRowsAndWhatASaveWrites) {
    ZNTTableEdits edits = loaded(kThree);
    edits.insertRow(3, ZNTTableEdits::Row::newRow());
    edits.setValue(3, 1, text("new"));
    // A duplicate: every cell edited, key left to the server.
    edits.insertRow(1, ZNTTableEdits::Row::newRow({Value::defaultMarker(), text("ann"), Value::fromBool(true)}));
    edits.setValue(2, 1, text("renamed")); // row id 2, now at 2
    edits.setDeleted(3, true);             // row id 3
    edits.setValue(3, 1, text("edited then deleted"));
    edits.setDeleted(4, true); // a new row is never marked
    EXPECT_FALSE(edits.isDeleted(4));

    EXPECT_EQ(edits.cellStyle(1, 0), KRVTableDataCellStyleNewRow);
    EXPECT_EQ(edits.cellStyle(3, 0), KRVTableDataCellStyleDeleted);
    EXPECT_EQ(edits.loadedValue(4, 2), Value::defaultMarker());
    const auto counts = edits.counts();
    EXPECT_EQ(counts.newRows, 2);
    EXPECT_EQ(counts.editedRows, 1);
    EXPECT_EQ(counts.deletedRows, 1);

    const auto changes = edits.changes();
    ASSERT_EQ(changes.insertRows.size(), 2);
    EXPECT_EQ(changes.insertRows[0], (Values{Value::defaultMarker(), text("ann"), Value::fromBool(true)}));
    EXPECT_EQ(changes.insertRows[1], (Values{Value::defaultMarker(), text("new"), Value::defaultMarker()}));
    EXPECT_EQ(changes.updateRowsBefore, QList<Values>{kThree[1]});
    EXPECT_EQ(changes.updateRowsAfter,
              QList<Values>{(Values{Value::fromInt(2), text("renamed"), Value::fromBool(false)})});
    // A row both edited and deleted is deleted by its loaded values.
    EXPECT_EQ(changes.deleteRows, QList<Values>{kThree[2]});

    // The server's rows take the places of the new and edited rows; deleted rows go.
    edits.foldSaved({{Value::fromInt(10), text("ann"), Value::fromBool(true)},
                     {Value::fromInt(11), text("new"), Value::fromBool(false)}},
                    {{Value::fromInt(2), text("renamed"), Value::fromBool(false)}});
    ASSERT_EQ(edits.rowCount(), 4);
    EXPECT_FALSE(edits.counts().any());
    EXPECT_EQ(edits.loadedValue(1, 0), Value::fromInt(10));
    EXPECT_EQ(edits.loadedValue(2, 1), text("renamed"));
    EXPECT_EQ(edits.loadedValue(3, 0), Value::fromInt(11));
    EXPECT_EQ(edits.loadedValues(0), kThree[0]);
    // Edits after the save compare with what the server gave back.
    edits.setValue(3, 1, text("new"));
    EXPECT_FALSE(edits.counts().any());
}

TEST(TableEdits, DiscardKeepsTheLoadedRowsAndASnapshotRestoresEverything) {
    ZNTTableEdits edits = loaded(kThree);
    edits.insertRow(0, ZNTTableEdits::Row::newRow());
    edits.setValue(1, 1, text("x"));
    edits.setDeleted(2, true);
    const auto before = edits.rows();
    edits.setRows(edits.rowsWithoutChanges(), edits.takenStoreRows());
    EXPECT_EQ(edits.rowCount(), 3);
    EXPECT_FALSE(edits.counts().any());
    EXPECT_EQ(edits.effectiveValues(0), kThree[0]);
    edits.setRows(before, edits.takenStoreRows());
    EXPECT_EQ(edits.counts().newRows, 1);
    EXPECT_EQ(edits.effectiveValue(1, 1), text("x"));
    EXPECT_TRUE(edits.isDeleted(2));
    // The snapshot was not changed by what happened to the rows since.
    edits.setValue(1, 1, text("y"));
    EXPECT_EQ(before[1].edits().value(1), text("x"));
}

TEST(TableEdits, RowsAreTakenOnceEachWhateverTheUserAddedMeanwhile) {
    auto rows = store(kThree);
    ZNTTableEdits edits;
    edits.reset(rows, 3);
    EXPECT_EQ(edits.takeStoreRows(2), 2);
    edits.insertRow(2, ZNTTableEdits::Row::newRow()); // the user adds a row while rows arrive
    rows->appendRow({Value::fromInt(4), text("d"), Value::null()});
    // A batch names the rows it brought: store rows 2 and 3. Counting the page's
    // rows (3 now) would skip row 2 and take row 3 only.
    EXPECT_EQ(edits.takeStoreRows(4), 2);
    EXPECT_EQ(edits.takeStoreRows(4), 0);
    ASSERT_EQ(edits.rowCount(), 5);
    QList<qint64> ids;
    for (qsizetype i = 0; i < edits.rowCount(); ++i) {
        if (!edits.isNew(i))
            ids << edits.loadedValue(i, 0).toInt();
    }
    EXPECT_EQ(ids, (QList<qint64>{1, 2, 3, 4}));
}

TEST(TableEdits, ASnapshotPutBackWhileRowsArriveKeepsTheRowsTakenSinceIt) {
    ZNTTableEdits edits;
    edits.reset(store(kThree), 3);
    edits.takeStoreRows(1);
    edits.insertRow(1, ZNTTableEdits::Row::newRow());
    edits.setValue(0, 1, text("x"));
    const auto before = edits.rows();
    const auto after = edits.rowsWithoutChanges();
    const qsizetype taken = edits.takenStoreRows();
    edits.setRows(after, taken); // discarded
    EXPECT_EQ(edits.takeStoreRows(3), 2);
    edits.setRows(before, taken); // undone: the edit and the new row back, rows 2 and 3 kept
    ASSERT_EQ(edits.rowCount(), 4);
    EXPECT_EQ(edits.effectiveValue(0, 1), text("x"));
    EXPECT_TRUE(edits.isNew(1));
    EXPECT_EQ(edits.loadedValues(2), kThree[1]);
    EXPECT_EQ(edits.loadedValues(3), kThree[2]);
    edits.setRows(after, taken); // redone
    ASSERT_EQ(edits.rowCount(), 3);
    EXPECT_FALSE(edits.counts().any());
    EXPECT_EQ(edits.loadedValues(2), kThree[2]);
    EXPECT_EQ(edits.takeStoreRows(3), 0);
}

// A change held over a save that may have been saved goes back over a row
// that loaded while the user was already editing it: the cell the user
// changed meanwhile keeps the newer value.
TEST(TableEdits, AHeldChangeLeavesACellTheUserChangedMeanwhile) {
    ZNTTableEdits edits = loaded(kThree);
    edits.setValue(0, 2, Value::fromBool(false));
    ZNTTableEdits::CarriedChanges held;
    held.columns = {"id", "name", "flag"};
    held.keyColumns = {"id"};
    held.updateRowsBefore = {kThree[0]};
    held.updateRowsAfter = {{Value::fromInt(1), text("anna"), Value::null()}};
    const ZNTTableEdits::Reapplied back = edits.reapplied({{held}}, held.columns);
    ASSERT_EQ(back.cells.size(), 1);
    EXPECT_EQ(back.cells[0].column, 1);
    EXPECT_EQ(back.cells[0].value, text("anna"));
    EXPECT_EQ(back.notPutBack, 0);
}

TEST(TableContentModel, ShowsDisplayColumnsFromTheResultByNameAndReportsEntries) {
    auto id = std::make_shared<ZNTColumn>("id");
    auto name = std::make_shared<ZNTColumn>("name");
    auto flag = std::make_shared<ZNTColumn>("flag");
    auto data = std::make_shared<ZNTColumn>("data");
    data->setTypeOid(17);
    ZNTTableContentModel model;
    model.setDisplayColumns({name, id, data});
    EXPECT_EQ(model.columnCount(), 3);
    model.setResult({id, name, flag}, store(kThree));
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    model.takeRows(3);
    EXPECT_EQ(inserted.count(), 1);
    EXPECT_EQ(model.index(0, 0).data().toString(), "ann");
    EXPECT_EQ(model.index(0, 1).data().toString(), "1");
    EXPECT_EQ(model.index(0, 2).data().toString(), ""); // not in the result
    EXPECT_FALSE(model.flags(model.index(0, 2)) & Qt::ItemIsEditable);
    EXPECT_TRUE(model.flags(model.index(0, 0)) & Qt::ItemIsEditable);

    QSignalSpy entered(&model, &ZNTTableContentModel::cellEntered);
    EXPECT_TRUE(model.setData(model.index(1, 0), QStringLiteral("zed")));
    ASSERT_EQ(entered.count(), 1);
    EXPECT_EQ(entered[0][0].value<qsizetype>(), 1);
    EXPECT_EQ(entered[0][1].toInt(), 1);                    // the result's column of "name"
    EXPECT_EQ(model.edits().effectiveValue(1, 1), Value()); // not applied by the model

    model.setValue(1, 1, text("zed"));
    EXPECT_EQ(model.index(1, 0).data().toString(), "zed");
    EXPECT_EQ(model.index(1, 0).data(KRVTableDataCell::CellStyleRole).toInt(), KRVTableDataCellStyleEdited);
    model.insertRow(0, ZNTTableEdits::Row::newRow());
    EXPECT_EQ(model.index(0, 1).data().toString(), "DEFAULT");
    EXPECT_EQ(model.index(0, 1).data(Qt::EditRole).toString(), "");
    model.setEditable(false);
    EXPECT_FALSE(model.setData(model.index(1, 0), QStringLiteral("no")));

    ZNTTableContentModel empty;
    empty.setDisplayColumns({});
    EXPECT_EQ(empty.columnCount(), 1); // one placeholder column
    EXPECT_EQ(empty.headerData(0, Qt::Horizontal).toString(), "");
}
