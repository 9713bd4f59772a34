#include "UikitTestSupport.h"
#include "platform/ProgramError.h"
#include "support/TestSupport.h"
#include "uikit/KRVTableDataCell.h"
#include "uikit/ZNTGridModel.h"

#include <QItemSelectionModel>
#include <QSignalSpy>
#include <QTableView>
#include <gtest/gtest.h>

namespace {

ZNTColumnList columns(const QStringList &names) {
    ZNTColumnList list;
    for (const QString &name : names) {
        auto column = std::make_shared<ZNTColumn>(name);
        column->setTypeName(QStringLiteral("text"));
        list << column;
    }
    return list;
}

void addTextRow(RowStore &store, const QString &a, const QString &b) {
    const QByteArray x = a.toUtf8(), y = b.toUtf8();
    store.addText(x.constData(), x.size());
    store.addText(y.constData(), y.size());
    store.endRow();
}

KRVTableDataCell::DisplayValue shown(const QAbstractItemModel &model, int row, int column) {
    return model.index(row, column).data(KRVTableDataCell::DisplayValueRole).value<KRVTableDataCell::DisplayValue>();
}

} // namespace

TEST(GridModel, RowsJoinByInsertionAsTheStoreGrowsNeverByAReset) {
    auto store = std::make_shared<RowStore>(2);
    for (int i = 0; i < 3; ++i)
        addTextRow(*store, QString::number(i), QStringLiteral("x"));
    ZNTGridModel model;
    model.setResult(columns({"a", "b"}), store);
    EXPECT_EQ(model.rowCount(), 0); // nothing taken yet
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    QSignalSpy inserts(&model, &QAbstractItemModel::rowsInserted);

    model.takeRows(2);
    model.takeRows(2); // again: nothing
    for (int i = 3; i < 6; ++i)
        addTextRow(*store, QString::number(i), QStringLiteral("y"));
    model.takeRows(99); // more than there are: what there is
    EXPECT_EQ(resets.count(), 0);
    ASSERT_EQ(inserts.count(), 2);
    EXPECT_EQ(inserts[0][1].toInt(), 0);
    EXPECT_EQ(inserts[0][2].toInt(), 1);
    EXPECT_EQ(inserts[1][1].toInt(), 2);
    EXPECT_EQ(inserts[1][2].toInt(), 5);
    ASSERT_EQ(model.rowCount(), 6);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(model.index(i, 0).data().toString(), QString::number(i));
    EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), "b");
    EXPECT_EQ(model.headerData(1, Qt::Horizontal, Qt::ToolTipRole).toString(), "b\ntext");
    // A name from the server is shown as it is, never read as markup.
    ZNTGridModel marked;
    marked.setResult(columns({"<b>x</b>"}), nullptr);
    const QString tip = marked.headerData(0, Qt::Horizontal, Qt::ToolTipRole).toString();
    EXPECT_TRUE(tip.contains("&lt;b&gt;x&lt;/b&gt;")) << tip.toStdString();
    EXPECT_FALSE(model.flags(model.index(0, 0)) & Qt::ItemIsEditable);
}

TEST(GridModel, CellsShowAtMostTheCutOfALargeValueButEditAndCopyTheWhole) {
    auto store = std::make_shared<RowStore>(2);
    const QString huge = QString(20000, QChar(u'é')) + QStringLiteral("end");
    addTextRow(*store, huge, QString());
    const QByteArray bytes(3000, '\x01');
    store->addBytes(bytes.constData(), bytes.size());
    store->addNull();
    store->endRow();
    store->addBool(true);
    store->addInt(-42);
    store->endRow();
    store->addDefault();
    store->addDouble(1.5);
    store->endRow();
    ZNTGridModel model;
    model.setResult(columns({"a", "b"}), store);
    model.takeRows(store->rowCount());

    const auto big = shown(model, 0, 0);
    EXPECT_EQ(big.text.size(), KRVTableDataCell::kMaxDisplayLength);
    EXPECT_FALSE(big.isGrey);
    EXPECT_EQ(model.index(0, 0).data().toString().size(), KRVTableDataCell::kMaxDisplayLength);
    EXPECT_EQ(model.index(0, 0).data(Qt::EditRole).toString(), huge);
    EXPECT_EQ(model.valueAt(0, 0), Value::fromString(huge));
    EXPECT_EQ(shown(model, 0, 1).text, ""); // an empty text is no placeholder
    EXPECT_FALSE(shown(model, 0, 1).isPlaceholder);

    const auto binary = shown(model, 1, 0);
    EXPECT_EQ(binary.text, "BINARY (3 KB)");
    EXPECT_TRUE(binary.isGrey && binary.isPlaceholder);
    EXPECT_EQ(model.index(1, 0).data(Qt::EditRole).toString(), "");
    EXPECT_EQ(shown(model, 1, 1).text, "NULL");
    EXPECT_TRUE(shown(model, 1, 1).isPlaceholder);
    EXPECT_EQ(shown(model, 2, 0).text, "TRUE");
    EXPECT_EQ(shown(model, 2, 1).text, "-42");
    EXPECT_EQ(model.index(2, 1).data(Qt::EditRole).toString(), "-42");
    EXPECT_EQ(shown(model, 3, 0).text, "DEFAULT");
    EXPECT_EQ(shown(model, 3, 1).text, "1.5");
    EXPECT_EQ(model.valueAt(3, 1), Value::fromDouble(1.5));
    EXPECT_EQ(model.valueAt(9, 1), Value()); // outside: nothing
}

TEST(GridModel, ASortIsAPermutationThatKeepsTheSelectionOnItsRows) {
    uikittest::useFixedLook();
    auto store = std::make_shared<RowStore>(2);
    for (const char *name : {"carol", "alice", "bob"})
        addTextRow(*store, QString::fromUtf8(name), QStringLiteral("x"));
    ZNTGridModel model;
    model.setResult(columns({"name", "b"}), store);
    model.takeRows(3);
    QTableView view;
    view.setModel(&model);
    view.selectionModel()->select(model.index(1, 0), QItemSelectionModel::Select);

    model.setRowOrder({1, 2, 0}); // alice, bob, carol
    EXPECT_EQ(model.index(0, 0).data().toString(), "alice");
    EXPECT_EQ(model.index(2, 0).data().toString(), "carol");
    EXPECT_EQ(model.storeRow(2), 0);
    const QModelIndexList selected = view.selectionModel()->selectedIndexes();
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(selected[0].data().toString(), "alice");

    // Rows that arrive later follow the sorted ones, in store order.
    addTextRow(*store, QStringLiteral("aaron"), QStringLiteral("y"));
    model.takeRows(4);
    EXPECT_EQ(model.index(3, 0).data().toString(), "aaron");
    EXPECT_EQ(model.rowOrder(), (std::vector<qsizetype>{1, 2, 0, 3}));
    model.setRowOrder({});
    EXPECT_EQ(model.index(0, 0).data().toString(), "carol");

    for (const std::vector<qsizetype> &bad : {std::vector<qsizetype>{0, 1}, {0, 0, 1, 2}, {0, 1, 2, 4}}) {
        try {
            model.setRowOrder(bad);
            ADD_FAILURE() << "an order that is no permutation of the rows";
        } catch (const ProgramError &e) {
            EXPECT_EQ(e.name(), "IncorrectUsage");
        }
    }
}

TEST(GridModel, TheDataCellDrawsFromTheDisplayValueWithoutTheWholeValue) {
    // A model that answers only the display value: the cell shows its text,
    // grey for placeholders, and an editor starts empty on a placeholder.
    uikittest::useFixedLook();
    auto store = std::make_shared<RowStore>(2);
    store->addNull();
    store->addText("abc", 3);
    store->endRow();
    ZNTGridModel model;
    model.setResult(columns({"a", "b"}), store);
    model.takeRows(1);
    QTableView view;
    view.setModel(&model);
    view.setItemDelegate(new KRVTableDataCell(&view));
    view.resize(300, 120);
    view.show();
    EXPECT_TRUE(saveScreenshot(&view, QStringLiteral("uikit"), QStringLiteral("grid-model.png")));
    EXPECT_EQ(model.index(0, 0).data(KRVTableDataCell::ValueRole).value<Value>(), Value());
    EXPECT_EQ(shown(model, 0, 0).text, "NULL");
    EXPECT_TRUE(shown(model, 0, 0).isGrey);
}
