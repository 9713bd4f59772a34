// Changes held over saves whose outcome is not known, against generated
// tables, saves and reloads: tables with and without a key, look-alike rows,
// values typed and as stored, and reloads where a row is unchanged, changed by
// another session or a later save of the user's, gone, written by a save, or
// being edited by the user. A change goes back only onto its own row holding
// exactly the values it was made over, never onto a row a save wrote or a new
// row, one change a row; every change is accounted for; and where the save's
// outcome leaves nothing in doubt, a change whose row is there as it was goes
// back and one the row holds already is not refused.
#include "browser/ZNTTableEdits.h"

#include <QHash>
#include <QSet>
#include <array>
#include <gtest/gtest.h>
#include <random>

namespace {

using Values = ZNTTableEdits::Values;
using Carried = ZNTTableEdits::CarriedChanges;
constexpr int kColumns = 3; // id int (the key, where there is one), a int, b numeric(6,2)
using Cells = std::array<int, kColumns>;
const QStringList kNames = {"id", "a", "b"};

// A value as the server stores and shows it.
Value stored(int column, int v) {
    return column == 2 ? Value::fromString(QStringLiteral("%1.00").arg(v)) : Value::fromInt(v);
}

// As typed: the stored text, or another text of the same value ("03", "2").
Value typed(int column, int v, bool asStored) {
    if (asStored)
        return Value::fromString(stored(column, v).description());
    return Value::fromString(column == 2 ? QString::number(v) : QStringLiteral("0%1").arg(v));
}

struct Row {
    int identity;
    Cells v;
};

struct Change {
    int identity;
    bool deletion;
    Cells before;
    Cells after;
    Values afterForms;
};

// One save of the page: what it holds for the held changes, and what it does
// to the table when it commits.
struct Save {
    Carried carried;
    QList<Change> changes;
    QList<Row> inserted;
    bool wroteKeys = false;
    QSet<int> moved;   // identities whose key it changed
    QSet<int> written; // the rows it inserted or moved, once committed
    bool held = true;
};

class Case {
public:
    explicit Case(unsigned seed) : m_random(seed) {}

    void run();

private:
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(m_random); }
    bool chance(int percent) { return pick(100) < percent; }

    Values forms(const Cells &v, int typedColumn = -1) {
        Values values;
        for (int c = 0; c < kColumns; ++c)
            values << (c == typedColumn ? typed(c, v[c], chance(50)) : stored(c, v[c]));
        return values;
    }
    void makeSave(Save &save, const QList<Row> &shown, bool canTypeBefore);
    void commit(Save &save);
    void otherSessions(const Save &save);
    void reload();
    void check(const ZNTTableEdits::Reapplied &back);
    void expectExactly(const ZNTTableEdits::Reapplied &back, const Save &save);

    std::mt19937 m_random;
    bool m_keyed = true;
    int m_nextIdentity = 0;
    int m_nextKey = 100;
    QList<Row> m_table;
    QList<Save *> m_saves;
    bool m_asStored = true; // every value the first save was made over is in stored form
    // The page after the reload.
    QStringList m_columns;
    ZNTTableEdits m_page;
    QList<int> m_pageIdentity; // -1 for a new row
    ZNTTableEdits::HeldChanges m_held;
    qsizetype m_leftOut = 0; // every change left out, already there when held included
    QString m_trace;
};

void Case::makeSave(Save &save, const QList<Row> &shown, bool canTypeBefore) {
    m_saves << &save;
    save.carried.columns = kNames;
    if (m_keyed)
        save.carried.keyColumns = {"id"};
    // Keys no row holds now: a new row may take one again.
    QList<int> freedKeys;
    for (int key = 1; m_keyed && key < m_nextIdentity + 1; ++key) {
        if (std::none_of(m_table.begin(), m_table.end(), [&](const Row &row) { return row.v[0] == key; }))
            freedKeys << key;
    }
    for (const Row &row : shown) {
        // A row the page saved earlier may show what was typed, where the
        // server gave nothing back.
        const int typedColumn = canTypeBefore && chance(15) ? pick(kColumns) : -1;
        const Values before = forms(row.v, typedColumn);
        if (typedColumn >= 0 &&
            before[typedColumn].description() != stored(typedColumn, row.v[typedColumn]).description())
            m_asStored = false;
        const int what = pick(10);
        if (what < 2) {
            save.carried.deleteRows << before;
            save.changes << Change{row.identity, true, row.v, row.v, {}};
            freedKeys << row.v[0];
            continue;
        }
        if (what >= 5)
            continue;
        Change change{row.identity, false, row.v, row.v, before};
        for (int c = 1; c < kColumns; ++c) {
            if (chance(50))
                change.after[c] = pick(3);
        }
        if (m_keyed && chance(10)) {
            change.after[0] = m_nextKey++;
            save.moved << row.identity;
            freedKeys << row.v[0];
        }
        if (change.after == change.before)
            continue;
        Values written = before;
        for (int c = 0; c < kColumns; ++c) {
            if (change.after[c] != change.before[c]) {
                change.afterForms[c] = typed(c, change.after[c], chance(70));
                written[c] = stored(c, change.after[c]);
            }
        }
        save.carried.updateRowsBefore << before;
        save.carried.updateRowsAfter << change.afterForms;
        save.carried.updatedRows << written;
        save.changes << change;
    }
    save.carried.writtenAsStored = chance(50);
    if (!save.carried.writtenAsStored)
        save.carried.updatedRows = save.carried.updateRowsAfter;
    for (int n = chance(35) ? 1 + pick(2) : 0; n > 0; --n) {
        // A new row with a key the save freed may equal the row that held it.
        Row row{m_nextIdentity++, {m_keyed ? m_nextKey++ : 1 + pick(2), pick(3), pick(3)}};
        if (!freedKeys.isEmpty() && chance(60)) {
            row.v[0] = freedKeys.takeAt(pick(int(freedKeys.size())));
            for (const Save *save : m_saves) {
                for (const Change &change : save->changes) {
                    if (change.before[0] == row.v[0] && chance(60))
                        row.v = change.before;
                }
            }
        }
        Values typedRow, storedRow;
        for (int c = 0; c < kColumns; ++c) {
            typedRow << typed(c, row.v[c], chance(50));
            storedRow << stored(c, row.v[c]);
        }
        save.carried.insertedRows << (save.carried.writtenAsStored ? storedRow : typedRow);
        save.inserted << row;
    }
    save.wroteKeys = !save.inserted.isEmpty() || !save.moved.isEmpty();
}

void Case::commit(Save &save) {
    m_trace += QStringLiteral(" committed");
    for (const Change &change : save.changes) {
        for (qsizetype r = m_table.size() - 1; r >= 0; --r) {
            if (m_table[r].identity != change.identity)
                continue;
            if (change.deletion)
                m_table.removeAt(r);
            else
                m_table[r].v = change.after;
        }
    }
    m_table << save.inserted;
    for (const Row &row : save.inserted)
        save.written << row.identity;
    save.written.unite(save.moved);
}

// Other sessions delete rows, change them, or write the values a held edit
// would write.
void Case::otherSessions(const Save &save) {
    for (qsizetype r = m_table.size() - 1; r >= 0; --r) {
        const int what = pick(12);
        if (what == 0) {
            m_table.removeAt(r);
        } else if (what == 1) {
            m_table[r].v[1 + pick(2)] = pick(3);
        } else if (what == 2) {
            for (const Change &change : save.changes) {
                if (change.identity == m_table[r].identity && !change.deletion) {
                    m_table[r].v[1] = change.after[1];
                    m_table[r].v[2] = change.after[2];
                }
            }
        }
    }
}

// The rows as loaded again, in any order, perhaps without a column or with
// the columns in another order; then the user adds, edits and deletes.
void Case::reload() {
    m_columns = kNames;
    if (chance(15))
        m_columns.removeAt(2);
    else if (chance(15))
        m_columns = QStringList{"b", "id", "a"};
    std::shuffle(m_table.begin(), m_table.end(), m_random);
    auto store = std::make_shared<RowStore>(int(m_columns.size()));
    for (const Row &row : m_table) {
        std::vector<Value> values;
        for (const QString &name : m_columns)
            values.push_back(stored(int(kNames.indexOf(name)), row.v[kNames.indexOf(name)]));
        store->appendRow(values);
        m_pageIdentity << row.identity;
    }
    m_page.reset(store, int(m_columns.size()));
    m_page.takeStoreRows(m_table.size());
    if (!m_table.isEmpty() && chance(30)) {
        // A new row typed with the values of a loaded one.
        const Row &like = m_table[pick(int(m_table.size()))];
        ZNTTableEdits::EditSlots typedSlots;
        for (const QString &name : m_columns)
            typedSlots << stored(int(kNames.indexOf(name)), like.v[kNames.indexOf(name)]);
        const int at = pick(int(m_table.size()) + 1);
        m_page.insertRow(at, ZNTTableEdits::Row::newRow(typedSlots));
        m_pageIdentity.insert(at, -1);
    }
    for (qsizetype r = 0; r < m_page.rowCount(); ++r) {
        if (m_page.isNew(r))
            continue;
        if (chance(15))
            m_page.setValue(r, pick(int(m_columns.size())), Value::fromString(QStringLiteral("typed meanwhile")));
        else if (chance(8))
            m_page.setDeleted(r, true);
    }
}

void Case::run() {
    m_keyed = chance(80);
    for (int n = 3 + pick(4); n > 0; --n, ++m_nextIdentity)
        m_table << Row{m_nextIdentity, {m_keyed ? m_nextIdentity + 1 : 1 + pick(2), pick(3), pick(3)}};
    Save first;
    makeSave(first, m_table, true);
    const auto countLeftOut = [&](const ZNTTableEdits::LeftOut &l) {
        m_leftOut += l.withoutKey + l.onWrittenKeys + l.changedAgain + l.alreadyThere;
    };
    countLeftOut(ZNTTableEdits::hold(m_held, first.carried));
    m_trace = QStringLiteral("keyed %1, first save of %2 changes, %3 new rows, cells %4back")
                  .arg(m_keyed)
                  .arg(first.changes.size())
                  .arg(first.inserted.size())
                  .arg(first.carried.writtenAsStored ? "" : "not ");
    if (chance(50))
        commit(first);
    otherSessions(first);
    Save later;
    const bool laterSave = m_keyed && chance(30);
    if (laterSave) {
        // The user saves rows of a load that failed halfway.
        makeSave(later, m_table.mid(0, pick(int(m_table.size()) + 1)), false);
        const bool settled = chance(40);
        m_trace += settled ? QStringLiteral(", a later save") : QStringLiteral(", a later unsettled save");
        later.held = !settled;
        if (settled) {
            const ZNTTableEdits::LeftOut l = ZNTTableEdits::noteSaved(m_held, later.carried);
            m_leftOut += l.alreadyThere; // the others count as not put back
        } else {
            countLeftOut(ZNTTableEdits::hold(m_held, later.carried));
        }
        if (settled || chance(50))
            commit(later);
    }
    reload();
    const ZNTTableEdits::Reapplied back = m_page.reapplied(m_held, m_columns);
    check(back);
    if (!laterSave && m_asStored)
        expectExactly(back, first);
}

// What holds whatever the outcome.
void Case::check(const ZNTTableEdits::Reapplied &back) {
    const QList<Save *> &saves = m_saves;
    SCOPED_TRACE(m_trace.toStdString());
    qsizetype changes = 0;
    for (const Save *save : saves)
        changes += save->held ? save->changes.size() : 0;
    EXPECT_EQ(changes, m_leftOut + back.putBack + back.alreadyThere + back.notPutBack);
    EXPECT_EQ(m_held.size(), back.putBack + back.alreadyThere + back.notPutBack - m_held.leftOut);

    // Each row that takes a change is the change's own, holds exactly what the
    // change was made over, was written neither by the change's save nor by a
    // later one, and is not new.
    QHash<qsizetype, QList<ZNTTableEdits::Reapplied::Cell>> cellsOfRow;
    for (const auto &cell : back.cells) {
        EXPECT_FALSE(m_page.editedValue(cell.row, cell.column)) << "over a cell the user changed meanwhile";
        cellsOfRow[cell.row] << cell;
    }
    const auto holdsBefore = [&](qsizetype row, const Change &change) {
        for (int c = 0; c < m_columns.size(); ++c) {
            if (m_page.loadedValue(row, c) !=
                stored(int(kNames.indexOf(m_columns[c])), change.before[kNames.indexOf(m_columns[c])]))
                return false;
        }
        return true;
    };
    const auto ownChange = [&](qsizetype row, bool deletion) -> const Change * {
        const int identity = m_pageIdentity.value(row, -1);
        EXPECT_NE(identity, -1) << "onto a new row";
        for (qsizetype s = 0; s < saves.size(); ++s) {
            for (const Change &change : saves[s]->changes) {
                if (!saves[s]->held || change.identity != identity || change.deletion != deletion ||
                    !holdsBefore(row, change))
                    continue;
                for (qsizetype later = s; later < saves.size(); ++later)
                    EXPECT_FALSE(saves[later]->written.contains(identity)) << "onto a row a save wrote";
                return &change;
            }
        }
        return nullptr;
    };
    QSet<qsizetype> deleted;
    for (const qsizetype row : back.deletedRows) {
        EXPECT_FALSE(deleted.contains(row) || cellsOfRow.contains(row)) << "two changes onto one row";
        deleted << row;
        EXPECT_FALSE(m_page.isEdited(row) || m_page.isDeleted(row)) << "over the user's own change of the row";
        EXPECT_NE(ownChange(row, true), nullptr) << "a deletion onto another row, or one changed since";
    }
    for (auto it = cellsOfRow.cbegin(); it != cellsOfRow.cend(); ++it) {
        const Change *change = ownChange(it.key(), false);
        ASSERT_NE(change, nullptr) << "an edit onto another row, or one changed since";
        QSet<int> columns;
        for (const auto &cell : *it) {
            const int c = int(kNames.indexOf(m_columns[cell.column]));
            EXPECT_FALSE(columns.contains(c)) << "two changes onto one row";
            columns << c;
            EXPECT_EQ(cell.value, change->afterForms[c]);
            EXPECT_NE(change->after[c], change->before[c]);
        }
    }
    EXPECT_LE(deleted.size() + cellsOfRow.size(), back.putBack);
}

// Where the save's outcome leaves nothing in doubt (its rows were as stored,
// no later save came) every change's fate is known.
void Case::expectExactly(const ZNTTableEdits::Reapplied &back, const Save &save) {
    SCOPED_TRACE(m_trace.toStdString());
    QSet<int> writtenKeys;
    for (const Row &row : save.inserted)
        writtenKeys << row.v[0];
    for (const Change &change : save.changes) {
        if (save.moved.contains(change.identity))
            writtenKeys << change.after[0];
    }
    qsizetype putBack = 0, alreadyThere = 0, notPutBack = 0, leftOut = 0;
    QList<ZNTTableEdits::Reapplied::Cell> cells;
    QList<qsizetype> deletedRows;
    for (const Change &change : save.changes) {
        if (!m_keyed || (save.wroteKeys && !save.carried.writtenAsStored) || writtenKeys.contains(change.before[0])) {
            ++leftOut;
            continue;
        }
        qsizetype row = -1; // the change's own row, found by its key
        for (qsizetype r = 0; r < m_page.rowCount(); ++r) {
            if (m_pageIdentity[r] == change.identity &&
                m_page.loadedValue(r, int(m_columns.indexOf("id"))) == stored(0, change.before[0]))
                row = r;
        }
        const auto holds = [&](const Cells &v, const QList<int> &only) {
            for (int c = 0; c < m_columns.size(); ++c) {
                const int column = int(kNames.indexOf(m_columns[c]));
                if ((only.isEmpty() || only.contains(column)) &&
                    m_page.loadedValue(row, c).description() !=
                        (only.isEmpty() ? stored(column, v[column]) : change.afterForms[column]).description())
                    return false;
            }
            return true;
        };
        QList<int> changed;
        for (int c = 0; c < kColumns; ++c) {
            if (change.after[c] != change.before[c])
                changed << c;
        }
        const bool columnGone =
            std::any_of(changed.begin(), changed.end(), [&](int c) { return !m_columns.contains(kNames[c]); });
        if (row < 0 || (!change.deletion && columnGone)) {
            ++notPutBack;
        } else if (change.deletion ? m_page.isDeleted(row) : holds({}, changed)) {
            ++alreadyThere;
        } else if (!holds(change.before, {}) || (change.deletion && m_page.isEdited(row))) {
            ++notPutBack;
        } else {
            ++putBack;
            if (change.deletion)
                deletedRows << row;
            for (const int c : change.deletion ? QList<int>() : changed) {
                const int at = int(m_columns.indexOf(kNames[c]));
                if (!m_page.editedValue(row, at))
                    cells.append({row, at, change.afterForms[c]});
            }
        }
    }
    EXPECT_EQ(m_leftOut, leftOut);
    EXPECT_EQ(back.putBack, putBack);
    EXPECT_EQ(back.alreadyThere, alreadyThere);
    EXPECT_EQ(back.notPutBack, notPutBack);
    const auto sorted = [](QList<qsizetype> rows) {
        std::sort(rows.begin(), rows.end());
        return rows;
    };
    EXPECT_EQ(sorted(back.deletedRows), sorted(deletedRows));
    QSet<QString> expectedCells, gotCells;
    for (const auto &cell : cells)
        expectedCells << QStringLiteral("%1:%2=%3").arg(cell.row).arg(cell.column).arg(cell.value.description());
    for (const auto &cell : back.cells)
        gotCells << QStringLiteral("%1:%2=%3").arg(cell.row).arg(cell.column).arg(cell.value.description());
    EXPECT_EQ(gotCells, expectedCells);
}

} // namespace

TEST(HeldChanges, GoBackOnlyOntoTheirOwnRowAsItWasAndEveryOneIsAccountedFor) {
    for (unsigned seed = 1; seed <= 600; ++seed) {
        SCOPED_TRACE(seed);
        Case(seed).run();
        if (::testing::Test::HasFailure())
            break;
    }
}
