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

class RowEditProperty : public ScratchDatabaseSuite {
protected:
    static void SetUpTestSuite() {
        makeDatabase("row_edit_property", R"(
            CREATE TABLE keyed (id int PRIMARY KEY, a int, b text DEFAULT 'dflt');
            CREATE TABLE keyless (a int, b text DEFAULT 'dflt');
        )");
    }
};

// One random edit set over a table's rows, and what the table holds after it.
class Case {
public:
    Case(unsigned seed, bool keyed) : m_random(seed), m_keyed(keyed) {
        std::set<int64_t> ids;
        const int count = pick(0, 6);
        for (int i = 0; i < count; ++i) {
            RowValues row;
            if (m_keyed) {
                int64_t id;
                do {
                    id = pick(1, 10);
                } while (ids.count(id));
                ids.insert(id);
                row << Value::fromInt(id);
            }
            row << randomA() << randomB(false);
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
    Value randomA() { return pick(0, 4) == 0 ? Value::null() : Value::fromInt(pick(0, 2)); }
    Value randomB(bool mayDefault) {
        static const char *const texts[] = {"x", "y", "it's", "back\\slash"};
        const int choice = pick(0, mayDefault ? 5 : 4);
        if (choice == 4)
            return Value::null();
        if (choice == 5)
            return Value::defaultMarker();
        return Value::fromString(QString::fromUtf8(texts[choice]));
    }

    void makeEdits() {
        for (const RowValues &row : initial) {
            const int fate = pick(0, 9);
            if (fate < 3) {
                deletes << row;
            } else if (fate < 7) {
                RowValues changed = row;
                const int column = pick(0, int(row.size()) - 1);
                if (m_keyed && column == 0)
                    changed[0] = Value::fromInt(pick(1, 12));
                else if (column == int(row.size()) - 1)
                    changed[column] = randomB(true);
                else
                    changed[column] = randomA();
                before << row;
                after << changed;
            } else {
                kept << row;
            }
        }
        const int count = pick(0, 3);
        for (int i = 0; i < count; ++i) {
            RowValues row;
            if (m_keyed)
                row << Value::fromInt(pick(1, 12));
            row << randomA() << randomB(true);
            inserts << row;
        }
    }

    std::mt19937 m_random;
    bool m_keyed;
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
    for (bool keyed : {true, false}) {
        const QString name = keyed ? QStringLiteral("keyed") : QStringLiteral("keyless");
        const QString select =
            keyed ? QStringLiteral("SELECT id, a, b FROM keyed") : QStringLiteral("SELECT a, b FROM keyless");
        auto table = loadedRelation(*db, name);
        const ZNTColumnList columns = page(db->connection, select).columns;
        for (int n = 0; n < kCasesPerTable; ++n) {
            const unsigned seed = unsigned(n * 2 + keyed);
            SCOPED_TRACE(QStringLiteral("%1, seed %2").arg(name).arg(seed).toStdString());
            Case edits(seed, keyed);
            exec(db->oracle.get(), QStringLiteral("TRUNCATE %1").arg(name));
            for (const auto &row : edits.initial) {
                QStringList values;
                for (const Value &v : row)
                    values << literal(v);
                exec(db->oracle.get(), QStringLiteral("INSERT INTO %1 VALUES (%2)").arg(name, values.join(", ")));
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
                ASSERT_TRUE(keyed) << errorText(action->error());
                EXPECT_EQ(action->error() ? action->error()->userInfo().value("PG_DIAG_SQLSTATE").toString() : "",
                          "23505")
                    << errorText(action->error());
                EXPECT_EQ(actual, sortedTexts(edits.initial));
                continue;
            }
            ++saved;
            EXPECT_FALSE(keyed && edits.keyCollides()) << "a save whose keys collide must be refused";
            EXPECT_EQ(actual, sortedTexts(edits.expected())) << action->sql();
            RowList completed = action->completedUpdateRows() + action->completedInsertRows();
            RowList filled;
            for (const auto &row : edits.after + edits.inserts)
                filled << Case::filled(row);
            EXPECT_EQ(sortedTexts(completed), sortedTexts(filled));
        }
    }
    EXPECT_EQ(saved + refused, 2 * kCasesPerTable);
    EXPECT_GT(saved, kCasesPerTable) << "most random edits must save";
    EXPECT_GT(refused, 0) << "colliding keys must have come up";
}
