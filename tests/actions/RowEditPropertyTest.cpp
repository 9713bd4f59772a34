// Random edit sets saved through the row-edit transaction, then the table read
// back: it must hold exactly what the edits describe, or, when the server
// refused the save, exactly what it held before.
#include "ActionTestSupport.h"
#include "actions/ZNTUpdateInsertDeleteQuery.h"

#include <algorithm>
#include <random>
#include <set>

using namespace actiontest;
using RowList = ZNTUpdateInsertDeleteQuery::RowList;

namespace {

constexpr int kCasesPerTable = 300;
const char *const kDefaultLabel = "dflt";

// A table of the test: whether its first column is an int key, and the values
// each other column takes (the last one also DEFAULT, which is "dflt").
struct Shape {
    QString name;
    bool keyed;
    QList<QList<Value>> pools;
};

Value text(const char *s) {
    return Value::fromString(QString::fromUtf8(s));
}

QList<Shape> shapes() {
    const QList<Value> numbers{Value::null(), Value::fromInt(0), Value::fromInt(1), Value::fromInt(2)};
    const QList<Value> texts{Value::null(), text("x"), text("y"), text("it's"), text("back\\slash")};
    return {
        {"keyed", true, {numbers, texts}},
        {"keyless", false, {numbers, texts}},
        // Rows of two partitions share their ctids.
        {"parted", false, {numbers, texts}},
        // Values that "=" calls equal but that show differently.
        {"look_alike",
         false,
         {{Value::null(), text("1.0"), text("1.00"), text("2")},
          {Value::null(), text("30 days"), text("1 mon")},
          {Value::null(), text("abc"), text("ABC"), text("x")}}},
    };
}

class RowEditProperty : public ScratchDatabaseSuite {
protected:
    static void SetUpTestSuite() {
        makeDatabase("row_edit_property", R"(
            CREATE EXTENSION citext;
            CREATE DOMAIN span AS interval;
            CREATE TABLE keyed (id int PRIMARY KEY, a int, b text DEFAULT 'dflt');
            CREATE TABLE keyless (a int, b text DEFAULT 'dflt');
            CREATE TABLE parted (a int, b text DEFAULT 'dflt') PARTITION BY LIST (a);
            CREATE TABLE parted_low PARTITION OF parted FOR VALUES IN (0, 1);
            CREATE TABLE parted_other PARTITION OF parted DEFAULT;
            CREATE TABLE look_alike (n numeric, d span, c citext DEFAULT 'dflt');
        )");
    }
};

// One random edit set over a table's rows, and what the table holds after it.
class Case {
public:
    Case(unsigned seed, const Shape &shape) : m_random(seed), m_shape(shape) {
        std::set<int64_t> ids;
        const int count = pick(0, 6);
        for (int i = 0; i < count; ++i) {
            RowValues row;
            if (m_shape.keyed) {
                int64_t id;
                do {
                    id = pick(1, 10);
                } while (ids.count(id));
                ids.insert(id);
                row << Value::fromInt(id);
            }
            for (qsizetype column = 0; column < m_shape.pools.size(); ++column)
                row << randomValue(column, false);
            initial << row;
        }
        makeEdits();
    }

    using RowValues = QList<Value>;
    RowList initial, deletes, before, after, inserts;

    // The rows after a successful save, DEFAULT cells as the server fills them.
    RowList expected() const {
        RowList rows = kept;
        for (const RowValues &row : after)
            rows << filled(row);
        for (const RowValues &row : inserts)
            rows << filled(row);
        return rows;
    }

    bool keyCollides() const {
        std::set<int64_t> ids;
        for (const RowValues &row : expected()) {
            if (!ids.insert(row[0].toInt()).second)
                return true;
        }
        return false;
    }

    static RowValues filled(RowValues row) {
        for (Value &cell : row) {
            if (cell.isDefault())
                cell = Value::fromString(kDefaultLabel);
        }
        return row;
    }

private:
    int pick(int from, int to) { return std::uniform_int_distribution<int>(from, to)(m_random); }
    // A value of the column'th non-key column; the last may be DEFAULT.
    Value randomValue(qsizetype column, bool mayDefault) {
        const QList<Value> &pool = m_shape.pools[column];
        const bool last = column == m_shape.pools.size() - 1;
        const int choice = pick(0, int(pool.size()) - (mayDefault && last ? 0 : 1));
        return choice < pool.size() ? pool[choice] : Value::defaultMarker();
    }

    void makeEdits() {
        const int offset = m_shape.keyed ? 1 : 0;
        for (const RowValues &row : initial) {
            const int fate = pick(0, 9);
            if (fate < 3) {
                deletes << row;
            } else if (fate < 7) {
                RowValues changed = row;
                const int column = pick(0, int(row.size()) - 1);
                if (column < offset)
                    changed[0] = Value::fromInt(pick(1, 12));
                else
                    changed[column] = randomValue(column - offset, true);
                before << row;
                after << changed;
            } else {
                kept << row;
            }
        }
        const int count = pick(0, 3);
        for (int i = 0; i < count; ++i) {
            RowValues row;
            if (m_shape.keyed)
                row << Value::fromInt(pick(1, 12));
            for (qsizetype column = 0; column < m_shape.pools.size(); ++column)
                row << randomValue(column, true);
            inserts << row;
        }
    }

    std::mt19937 m_random;
    Shape m_shape;
    RowList kept;
};

QString literal(const Value &value) {
    if (value.isNull())
        return QStringLiteral("NULL");
    if (value.kind() == Value::Kind::Int)
        return QString::number(value.toInt());
    return QStringLiteral("'%1'").arg(QString(value.toString()).replace("'", "''"));
}

QString describe(const QList<Value> &row) {
    QStringList values;
    for (const Value &value : row)
        values << (value.isNull() ? QStringLiteral("<null>") : value.description());
    return values.join(QLatin1Char('|'));
}

QStringList sortedTexts(const RowList &rows) {
    QStringList texts;
    for (const auto &row : rows)
        texts << describe(row);
    texts.sort();
    return texts;
}

} // namespace

TEST_F(RowEditProperty, EverySaveEndsInTheEditedStateOrLeavesTheTableAsItWas) {
    int saved = 0, refused = 0;
    const QList<Shape> tables = shapes();
    for (int t = 0; t < tables.size(); ++t) {
        const Shape &shape = tables[t];
        const QString select = QStringLiteral("SELECT * FROM %1").arg(shape.name);
        std::shared_ptr<ZNTTable> table;
        ASSERT_NO_FATAL_FAILURE(table = loadedRelation(*db, shape.name));
        const ZNTColumnList columns = page(db->connection, select).columns;
        for (int n = 0; n < kCasesPerTable; ++n) {
            const unsigned seed = unsigned(n * tables.size() + t);
            SCOPED_TRACE(QStringLiteral("%1, seed %2").arg(shape.name).arg(seed).toStdString());
            Case edits(seed, shape);
            exec(db->oracle.get(), QStringLiteral("TRUNCATE %1").arg(shape.name));
            for (const auto &row : edits.initial) {
                QStringList values;
                for (const Value &v : row)
                    values << literal(v);
                exec(db->oracle.get(), QStringLiteral("INSERT INTO %1 VALUES (%2)").arg(shape.name, values.join(", ")));
            }
            auto action = std::make_shared<ZNTUpdateInsertDeleteQuery>();
            action->setTable(table);
            action->setColumns(columns);
            action->setDeleteRows(edits.deletes);
            action->setUpdateRowsBefore(edits.before);
            action->setUpdateRowsAfter(edits.after);
            action->setInsertRows(edits.inserts);
            ASSERT_TRUE(runToEnd(action, db->connection));

            QStringList actual = rows(db->oracle.get(), select);
            actual.sort();
            if (!action->success()) {
                ++refused;
                // Only a key collision may stop a save, and it stops all of it.
                ASSERT_TRUE(shape.keyed) << errorText(action->error()) << "\n" << action->sql();
                EXPECT_EQ(action->error() ? action->error()->userInfo().value("PG_DIAG_SQLSTATE").toString() : "",
                          "23505")
                    << errorText(action->error());
                EXPECT_EQ(actual, sortedTexts(edits.initial));
                continue;
            }
            ++saved;
            EXPECT_FALSE(shape.keyed && edits.keyCollides()) << "a save whose keys collide must be refused";
            EXPECT_EQ(actual, sortedTexts(edits.expected())) << action->sql();
            RowList completed = action->completedUpdateRows() + action->completedInsertRows();
            RowList filled;
            for (const auto &row : edits.after + edits.inserts)
                filled << Case::filled(row);
            EXPECT_EQ(sortedTexts(completed), sortedTexts(filled));
        }
    }
    EXPECT_EQ(saved + refused, int(tables.size()) * kCasesPerTable);
    EXPECT_GT(saved, kCasesPerTable) << "most random edits must save";
    EXPECT_GT(refused, 0) << "colliding keys must have come up";
}
