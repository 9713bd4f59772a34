// Changes held over saves whose outcome is not known, against generated
// tables, saves and reloads. Tables have no key, a key of one column or of
// two, look-alike rows, and NULLs beside the empty text. The first save is
// held; later ones, made over the rows of a load that failed halfway, are held
// or saved, perhaps after a column was renamed or added or the key changed.
// Saves edit, delete and add rows, move rows onto keys other rows held or a
// save freed, add back deleted rows and undo earlier changes, with values
// typed or as stored; some get their rows back unfilled, and a trigger may
// move their rows to other keys. Other sessions change, delete, add and move
// rows, and give a row the key of one a change was made for; on the reloaded
// page the user adds, edits and deletes. A change is held only while no save
// from its own on left a row in doubt (a new row, a key written, rows not
// filled, the key changed), a save's own changes all or none; one dropped as
// already there belongs to a row the later save deleted or edited over what
// the change left. A change goes back only onto its own row holding exactly
// the values it was made over, never onto a new row, a row a save wrote or one
// a later save changed again, one change a row; every change is accounted
// for; and where a single save's outcome leaves nothing in doubt, a change
// whose row is there as it was goes back and one the row holds already is not
// refused. Some cases hold each save alone, settling nothing held before it:
// put back still gives a row one change, the newest that wants it.
#include "browser/ZNTTableEdits.h"

#include <QHash>
#include <QSet>
#include <array>
#include <deque>
#include <gtest/gtest.h>
#include <numeric>
#include <random>
#include <set>

namespace {

using Values = ZNTTableEdits::Values;
using Carried = ZNTTableEdits::CarriedChanges;

// id int, code text, label text, b numeric(6,2) (renamed amount), c int
// (added later): a column keeps its place here whatever it is called.
enum Column { Id, Code, Label, Amount, Extra, kColumns };
using Cells = std::array<int, kColumns>;
constexpr int kNull = -1; // in label and c
// From here, labels of rows other sessions wrote, each its own: nothing could
// tell such a row from one a change was made over if it looked the same.
constexpr int kOwnLabel = 1000;

int columnNamed(const QString &name) {
    static const QStringList names = {"id", "code", "label", "b", "c"};
    return name == QLatin1String("amount") ? Amount : int(names.indexOf(name));
}

// A value as the server stores and shows it; label 0 is the empty text.
Value stored(int column, int v) {
    if (v == kNull)
        return Value::null();
    if (column == Code || column == Label)
        return Value::fromString(column == Label && v == 0 ? QStringLiteral("") : QStringLiteral("t%1").arg(v));
    return column == Amount ? Value::fromString(QStringLiteral("%1.00").arg(v)) : Value::fromInt(v);
}

// As typed: the stored text, or another text of the same number ("03", "2").
Value typed(int column, int v, bool asStored) {
    const Value value = stored(column, v);
    if (value.isNull() || asStored || column == Code || column == Label)
        return value.isNull() ? value : Value::fromString(value.description());
    return Value::fromString(column == Amount ? QString::number(v) : QStringLiteral("0%1").arg(v));
}

// The same text as the server shows, NULL being no text.
bool sameText(const Value &a, const Value &b) {
    return a.isNull() == b.isNull() && a.description() == b.description();
}

// None, (id), (id, code), (code), (code, id): of one column at odd places.
const QList<QList<int>> kKeys = {{}, {Id}, {Id, Code}, {Code}, {Code, Id}};

bool sameKey(const Cells &a, const Cells &b, const QList<int> &key) {
    return std::all_of(key.begin(), key.end(), [&](int k) { return a[k] == b[k]; });
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
    std::array<Value, kColumns> afterForms{}; // what the save sent, of its columns
    qsizetype at = -1;                        // in the save's deleteRows, or updateRowsBefore and After
};

// One save of the page: what it holds for the held changes, and what it does
// to the table when it commits.
struct Save {
    Carried carried;
    QList<int> columns; // in the page's order, named as in carried.columns
    QList<int> key;
    QList<Change> changes;
    QList<Row> inserted;
    QSet<int> moved;          // identities whose key it changed
    QSet<int> written;        // the rows it inserted or moved (it or a trigger), once committed
    bool held = true;         // else it was saved
    bool rewritesKey = false; // a trigger moves its edited rows to other keys: its rows are not filled
};

// One change of a save, as the page would hold it had the save no other.
Carried alone(const Save &save, const Change &change) {
    Carried one = save.carried;
    one.updateRowsBefore.clear();
    one.updateRowsAfter.clear();
    one.deleteRows.clear();
    if (change.deletion) {
        one.deleteRows << save.carried.deleteRows[change.at];
    } else {
        one.updateRowsBefore << save.carried.updateRowsBefore[change.at];
        one.updateRowsAfter << save.carried.updateRowsAfter[change.at];
    }
    return one;
}

// Whether a save leaves every row where its key says: no new row, no key
// written by it or a trigger, its rows back as stored, and key columns as key.
bool leavesNoDoubt(const Save &save, const QList<int> &key) {
    return !save.key.isEmpty() && QSet<int>(save.key.begin(), save.key.end()) == QSet<int>(key.begin(), key.end()) &&
           save.inserted.isEmpty() && save.moved.isEmpty() && save.carried.writtenAsStored;
}

class Case {
public:
    explicit Case(unsigned seed) : m_random(seed) {}

    void run();

private:
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(m_random); }
    bool chance(int percent) { return pick(100) < percent; }
    int anyValue(int column) {
        return column == Label ? pick(4) - 1 : column == Extra ? pick(3) - 1 : column == Id ? 1 + pick(2) : pick(3);
    }
    QString nameOf(int column) const {
        return *std::find_if(m_schema.begin(), m_schema.end(),
                             [&](const QString &n) { return columnNamed(n) == column; });
    }
    QString keyNames() const {
        QStringList names;
        for (const int k : m_key)
            names << nameOf(k);
        return names.join(QStringLiteral(", "));
    }
    Cells landing(Cells v, const QSet<int> &leaving);
    void saveOnce(bool first);
    void makeSave(Save &save, const QList<Row> &shown, bool first);
    void edit(Save &save, const Row &row, const Values &before, QSet<int> &leaving);
    void addRows(Save &save, const QSet<int> &leaving);
    bool commit(Save &save);
    void otherSessions();
    void changeSchema();
    void reload();
    int nowAt(const Save &save, int column) const;
    bool holds(qsizetype row, const Save &save, const Cells &v, const QList<int> &columns) const;
    qsizetype rowsWithKey(const Save &save, const Cells &v) const;
    QHash<int, Value> cellsOf(qsizetype row, const Save &save, const Change &change) const;
    void settle(const Save &save);
    void holdOwn(const Save &save, const ZNTTableEdits::LeftOut &leftOut);
    void check(const ZNTTableEdits::Reapplied &back);
    void expectOwnChange(qsizetype row, const QHash<int, Value> *cells);
    void expectExactly(const ZNTTableEdits::Reapplied &back, const Save &save);

    std::mt19937 m_random;
    // How often, in percent, this case does each kind of thing. Each case
    // leaves some kinds out, so that what needs others absent comes up too.
    struct Mix {
        int newRows, moves, commits, otherSessions, keyChanges, typedBack, userChanges;
    } m_mix{};
    QStringList m_schema = {"id", "code", "label", "b"};
    QList<int> m_key;
    int m_nextIdentity = 0;
    int m_nextKey = 100;
    int m_nextOwnLabel = kOwnLabel;
    QList<Row> m_table;
    std::set<Cells> m_seen; // every row the table has held
    std::deque<Save> m_saves;
    bool m_asStored = true; // every value the first save was made over is in stored form
    // Each save settles what was held before it, as the page holds changes;
    // else put back alone must still give a row one change, the newest.
    bool m_settling = true;
    // The page after the reload.
    QStringList m_columns;
    ZNTTableEdits m_page;
    QList<int> m_pageIdentity; // -1 for a new row
    ZNTTableEdits::HeldChanges m_held;
    // The changes still held, by save and change, each settled alone.
    QList<std::pair<size_t, qsizetype>> m_stillHeld;
    ZNTTableEdits::LeftOut m_settled; // what settling them alone left out, by the last save
    qsizetype m_leftOut = 0;          // every change left out, already there when held included
    QString m_trace;
};

bool keysApart(const QList<Row> &table, const QList<int> &key) {
    for (qsizetype r = 0; !key.isEmpty() && r < table.size(); ++r) {
        for (qsizetype other = 0; other < r; ++other) {
            if (sameKey(table[r].v, table[other].v, key))
                return false;
        }
    }
    return true;
}

// The cells of a row written onto a key: a key a row held and none holds now
// (or a row leaving it, deleted or moved away first), most often one a change
// was made over, perhaps with all the values that row had; else a fresh key.
Cells Case::landing(Cells v, const QSet<int> &leaving) {
    QList<Cells> free;
    const auto addIfFree = [&](const Cells &cells) {
        if (std::none_of(m_table.begin(), m_table.end(), [&](const Row &row) {
                return !leaving.contains(row.identity) && sameKey(row.v, cells, m_key);
            }))
            free << cells;
    };
    // Most often a key an earlier save's change was made over.
    for (size_t s = 0; s + 1 < m_saves.size(); ++s) {
        for (const Change &change : m_saves[s].changes)
            addIfFree(change.before);
    }
    if (free.isEmpty() || chance(40)) {
        for (const Change &change : m_saves.back().changes)
            addIfFree(change.before);
        std::for_each(m_seen.begin(), m_seen.end(), addIfFree);
    }
    if (free.isEmpty() || chance(25)) {
        v[m_key[pick(int(m_key.size()))]] = m_nextKey++;
        return v;
    }
    const Cells &other = free[pick(int(free.size()))];
    if (chance(80))
        return other;
    for (const int k : m_key)
        v[k] = other[k];
    return v;
}

void Case::makeSave(Save &save, const QList<Row> &shown, bool first) {
    QStringList names = m_schema;
    if (chance(15))
        std::rotate(names.begin(), names.begin() + 1, names.end());
    for (const QString &name : names)
        save.columns << columnNamed(name);
    save.carried.columns = names;
    save.key = m_key;
    for (const int k : m_key)
        save.carried.keyColumns << nameOf(k);
    QSet<int> leaving; // rows the save deletes or moves away
    for (const Row &row : shown) {
        // The user is likely to change again a row changed before.
        const bool again = std::any_of(m_saves.begin(), m_saves.end(), [&](const Save &earlier) {
            return std::any_of(earlier.changes.begin(), earlier.changes.end(),
                               [&](const Change &change) { return change.identity == row.identity; });
        });
        const int what = pick(again ? 6 : 10);
        if (what >= 5)
            continue;
        Values before;
        for (const int c : save.columns)
            before << stored(c, row.v[c]);
        if (first && chance(15)) {
            // A row the page saved earlier may show what was typed, where the
            // server gave nothing back.
            const int at = pick(int(save.columns.size()));
            before[at] = typed(save.columns[at], row.v[save.columns[at]], chance(50));
            m_asStored = m_asStored && sameText(before[at], stored(save.columns[at], row.v[save.columns[at]]));
        }
        if (what >= 2) {
            edit(save, row, before, leaving);
            continue;
        }
        save.changes << Change{row.identity, true, row.v, row.v, {}, save.carried.deleteRows.size()};
        save.carried.deleteRows << before;
        leaving << row.identity;
    }
    save.carried.writtenAsStored = !chance(m_mix.typedBack);
    save.rewritesKey = !save.carried.writtenAsStored && m_settling && !m_key.isEmpty() && chance(50);
    addRows(save, leaving);
}

void Case::edit(Save &save, const Row &row, const Values &before, QSet<int> &leaving) {
    Change change{row.identity, false, row.v, row.v, {}};
    for (const int c : save.columns) {
        if (!m_key.contains(c) && chance(50))
            change.after[c] = anyValue(c);
    }
    // Or the user puts back what an earlier change of the row replaced.
    for (const Save &earlier : m_saves) {
        for (const Change &undone : earlier.changes) {
            if (undone.identity != row.identity || !chance(40))
                continue;
            for (const int c : save.columns)
                change.after[c] = m_key.contains(c) ? change.after[c] : undone.before[c];
        }
    }
    if (!m_key.isEmpty() && chance(m_mix.moves)) {
        change.after = landing(change.after, leaving);
        save.moved << row.identity;
        leaving << row.identity;
    }
    if (change.after == change.before)
        return;
    Values after = before;
    for (int at = 0; at < save.columns.size(); ++at) {
        const int c = save.columns[at];
        if (change.after[c] != change.before[c])
            after[at] = typed(c, change.after[c], chance(70));
        change.afterForms[c] = after[at];
    }
    change.at = save.carried.updateRowsBefore.size();
    save.carried.updateRowsBefore << before;
    save.carried.updateRowsAfter << after;
    save.changes << change;
}

// New rows: on a key a row held or a fresh one, look-alikes without a key,
// and rows an earlier save deleted, added back as they were.
void Case::addRows(Save &save, const QSet<int> &leaving) {
    QList<Cells> rows;
    for (int n = chance(m_mix.newRows) ? 1 + pick(2) : 0; n > 0; --n) {
        Cells v = {kNull, kNull, kNull, kNull, kNull};
        for (const int c : save.columns)
            v[c] = anyValue(c);
        if (!m_key.isEmpty())
            v = landing(v, leaving);
        else if (chance(60))
            v = *std::next(m_seen.begin(), pick(int(m_seen.size())));
        rows << v;
    }
    for (size_t s = 0; s + 1 < m_saves.size(); ++s) {
        for (const Change &change : m_saves[s].changes) {
            if (change.deletion && chance(m_mix.newRows / 2))
                rows << change.before;
        }
    }
    for (const Cells &v : rows)
        save.inserted << Row{m_nextIdentity++, v};
    save.carried.addedRows = !rows.isEmpty();
}

// As the server runs the save: deletions, updates in order, then inserts; a
// key taken twice refuses it whole. A trigger may move an edited row: it
// rewrites a key column the save did not write, most often to a key a change
// was made over.
bool Case::commit(Save &save) {
    QList<Row> table = m_table;
    for (const Change &change : save.changes) {
        if (change.deletion)
            table.removeIf([&](const Row &row) { return row.identity == change.identity; });
    }
    QSet<int> rewritten;
    for (const Change &change : save.changes) {
        for (Row &row : table) {
            if (row.identity != change.identity || change.deletion)
                continue;
            row.v = change.after;
            if (!save.rewritesKey || m_key.isEmpty() || chance(30))
                continue;
            const int k = m_key[pick(int(m_key.size()))];
            if (change.after[k] != change.before[k])
                continue;
            const Save &earlier = m_saves[pick(int(m_saves.size()))];
            row.v[k] = !earlier.changes.isEmpty() && chance(60)
                           ? earlier.changes[pick(int(earlier.changes.size()))].before[k]
                           : m_nextKey++;
            rewritten << row.identity;
        }
        if (!keysApart(table, m_key))
            return false;
    }
    table << save.inserted;
    if (!keysApart(table, m_key))
        return false;
    m_table = table;
    for (const Row &row : save.inserted)
        save.written << row.identity;
    save.written.unite(save.moved);
    save.written.unite(rewritten);
    return true;
}

// Other sessions delete rows, set a NULL label to the empty text and back,
// change other cells, write what a held edit would write, move rows to keys
// other rows held and add rows; then perhaps rename or add a column or change
// the key. What they write on a key is like no row of the page's.
void Case::otherSessions() {
    for (qsizetype r = m_table.size() - 1; r >= 0; --r) {
        Row &row = m_table[r];
        const int what = chance(m_mix.otherSessions) ? pick(6) : -1;
        if (what == 0) {
            m_table.removeAt(r);
        } else if ((what == 1 || what == 5) && row.v[Label] < kOwnLabel) {
            row.v[Label] = row.v[Label] == kNull ? 0 : row.v[Label] == 0 ? kNull : anyValue(Label);
        } else if (what == 2) {
            row.v[Amount] = pick(3);
        } else if (what == 3) {
            for (const Save &save : m_saves) {
                for (const Change &change : save.changes) {
                    // A row another session wrote onto a key keeps its own label.
                    for (int c = Code; change.identity == row.identity && !change.deletion && c < kColumns; ++c)
                        row.v[c] =
                            m_key.contains(c) || (c == Label && row.v[c] >= kOwnLabel) ? row.v[c] : change.after[c];
                }
            }
        } else if (what == 4 && !m_key.isEmpty()) {
            row.v = landing(row.v, {row.identity});
            row.v[Label] = m_nextOwnLabel++;
        }
    }
    if (chance(m_mix.otherSessions)) {
        Row row{m_nextIdentity++, {1 + pick(2), pick(3), 0, pick(3), m_schema.contains("c") ? pick(2) : kNull}};
        if (!m_key.isEmpty())
            row.v = landing(row.v, {});
        row.v[Label] = m_nextOwnLabel++;
        m_table << row;
    }
    // Another row takes the key of a row a change was made for, which moved
    // on, perhaps with the values that change wrote.
    const Save &earlier = m_saves[pick(int(m_saves.size()))];
    if (!m_key.isEmpty() && !earlier.changes.isEmpty() && m_table.size() > 1 && chance(2 * m_mix.otherSessions)) {
        const Change &change = earlier.changes[pick(int(earlier.changes.size()))];
        const auto moving = std::find_if(m_table.begin(), m_table.end(),
                                         [&](const Row &row) { return row.identity == change.identity; });
        Row &taking = m_table[pick(int(m_table.size()))];
        if (moving != m_table.end() && taking.identity != change.identity) {
            const Cells key = moving->v;
            moving->v[m_key.first()] = m_nextKey++;
            if (chance(50))
                taking.v = change.after;
            for (const int k : m_key)
                taking.v[k] = key[k];
            taking.v[Label] = m_nextOwnLabel++;
        }
    }
    changeSchema();
    for (const Row &row : m_table)
        m_seen.insert(row.v);
}

void Case::changeSchema() {
    if (m_schema.contains("b") && chance(10)) {
        m_schema.replace(m_schema.indexOf("b"), QStringLiteral("amount"));
        m_trace += QStringLiteral("; b renamed");
    }
    if (!m_schema.contains("c") && chance(10)) {
        m_schema << QStringLiteral("c");
        m_trace += QStringLiteral("; c added");
    }
    if (!chance(m_mix.keyChanges))
        return;
    // Another key that tells the rows apart, rarely none.
    QList<QList<int>> keys;
    for (const QList<int> &key : kKeys.mid(1)) {
        if (key != m_key && keysApart(m_table, key))
            keys << key;
    }
    if (keys.isEmpty() || chance(10))
        keys = {{}};
    m_key = keys[pick(int(keys.size()))];
    m_trace += QStringLiteral("; key (%1)").arg(keyNames());
}

// The rows as loaded again, in any order, perhaps without b or with the
// columns in another order; then the user adds, edits and deletes.
void Case::reload() {
    m_columns = m_schema;
    if (chance(15))
        m_columns.removeIf([](const QString &name) { return columnNamed(name) == Amount; });
    else if (chance(15))
        std::rotate(m_columns.begin(), m_columns.begin() + 1, m_columns.end());
    std::shuffle(m_table.begin(), m_table.end(), m_random);
    auto store = std::make_shared<RowStore>(int(m_columns.size()));
    QList<int> columns;
    for (const QString &name : m_columns)
        columns << columnNamed(name);
    for (const Row &row : m_table) {
        std::vector<Value> values;
        for (const int c : columns)
            values.push_back(stored(c, row.v[c]));
        store->appendRow(values);
        m_pageIdentity << row.identity;
    }
    m_page.reset(store, int(m_columns.size()));
    m_page.takeStoreRows(m_table.size());
    if (!m_table.isEmpty() && chance(30)) {
        // A new row typed with the values of a loaded one.
        const Row &like = m_table[pick(int(m_table.size()))];
        ZNTTableEdits::EditSlots typedSlots;
        for (const int c : columns)
            typedSlots << stored(c, like.v[c]);
        const int at = pick(int(m_table.size()) + 1);
        m_page.insertRow(at, ZNTTableEdits::Row::newRow(typedSlots));
        m_pageIdentity.insert(at, -1);
    }
    for (qsizetype r = 0; r < m_page.rowCount(); ++r) {
        if (m_page.isNew(r))
            continue;
        if (!chance(m_mix.userChanges))
            continue;
        if (chance(65))
            m_page.setValue(r, pick(int(m_columns.size())), Value::fromString(QStringLiteral("typed meanwhile")));
        else
            m_page.setDeleted(r, true);
    }
}

// The first save is made over the page as loaded and held; a later one over
// the rows of a load that failed halfway, held or saved (a refused one
// changes nothing).
void Case::saveOnce(bool first) {
    Save &save = m_saves.emplace_back();
    makeSave(save, first ? m_table : m_table.mid(0, 1 + pick(int(m_table.size()) + 1)), first);
    m_trace += QStringLiteral("; save of %1 changes, %2 new rows, cells %3back%4")
                   .arg(save.changes.size())
                   .arg(save.inserted.size())
                   .arg(save.carried.writtenAsStored ? "" : "not ")
                   .arg(save.rewritesKey ? ", keys rewritten" : "");
    if (!first && chance(40)) {
        save.held = false;
        if (!commit(save)) {
            m_saves.pop_back();
            m_trace += QStringLiteral(", refused");
        } else if (m_settling) {
            m_trace += QStringLiteral(", saved");
            settle(save);
            const ZNTTableEdits::LeftOut l = ZNTTableEdits::noteSaved(m_held, save.carried);
            EXPECT_EQ(l.uncertain, m_settled.uncertain);
            EXPECT_EQ(l.changedAgain, m_settled.changedAgain);
            EXPECT_EQ(l.alreadyThere, m_settled.alreadyThere);
            m_leftOut += l.alreadyThere; // the others count as not put back
        }
    } else {
        // Held on its own, a save settles nothing held before it.
        ZNTTableEdits::HeldChanges alone;
        if (m_settling)
            settle(save);
        const ZNTTableEdits::LeftOut l = ZNTTableEdits::hold(m_settling ? m_held : alone, save.carried);
        m_held.saves << alone.saves;
        m_leftOut += l.withoutKey + l.uncertain + l.withOwnRow + l.changedAgain + l.alreadyThere;
        holdOwn(save, l);
        m_trace += chance(m_mix.commits) && commit(save) ? QStringLiteral(", unsettled, committed")
                                                         : QStringLiteral(", unsettled");
    }
    if (m_settling)
        EXPECT_EQ(m_held.size(), m_stillHeld.size()) << "a held change's fate hangs on the others'";
    otherSessions();
}

// Settles each change held before save alone against it: where the save
// leaves rows in doubt, or the key changed, every one is left out; else one
// is dropped as already there only where save deleted its row, or edited it
// over what the change left there.
void Case::settle(const Save &save) {
    SCOPED_TRACE(m_trace.toStdString());
    m_settled = {};
    for (qsizetype i = m_stillHeld.size() - 1; i >= 0; --i) {
        const Save &older = m_saves[m_stillHeld[i].first];
        const Change &change = older.changes[m_stillHeld[i].second];
        ZNTTableEdits::HeldChanges one;
        one.saves << alone(older, change);
        const ZNTTableEdits::LeftOut fate = ZNTTableEdits::noteSaved(one, save.carried);
        if (fate.uncertain + fate.changedAgain + fate.alreadyThere == 0) {
            EXPECT_TRUE(leavesNoDoubt(save, older.key)) << "a change held over a save that left its row in doubt";
            continue;
        }
        m_stillHeld.removeAt(i);
        m_settled.uncertain += fate.uncertain;
        m_settled.changedAgain += fate.changedAgain;
        m_settled.alreadyThere += fate.alreadyThere;
        if (!fate.alreadyThere)
            continue;
        const bool settled = std::any_of(save.changes.begin(), save.changes.end(), [&](const Change &later) {
            if (later.identity != change.identity)
                return false;
            for (int c = 0; !later.deletion && c < kColumns; ++c) {
                if (change.after[c] != change.before[c] && later.before[c] != change.after[c])
                    return false;
            }
            return true;
        });
        EXPECT_TRUE(settled) << "dropped as already there, though the later save neither deleted that row nor "
                                "edited it over what the change left there";
    }
}

// A held save's own changes are held all or none.
void Case::holdOwn(const Save &save, const ZNTTableEdits::LeftOut &leftOut) {
    const qsizetype own = leftOut.withoutKey + leftOut.uncertain + leftOut.withOwnRow - m_settled.uncertain;
    if (own > 0) {
        EXPECT_EQ(own, save.changes.size()) << "some of a save's own changes held, some not";
        return;
    }
    EXPECT_TRUE(!m_settling || save.changes.isEmpty() || leavesNoDoubt(save, save.key))
        << "the changes of a save that left rows in doubt held";
    for (qsizetype c = 0; c < save.changes.size(); ++c)
        m_stillHeld.append({m_saves.size() - 1, c});
}

void Case::run() {
    m_settling = chance(80);
    m_mix = {70 * pick(2), 50 * pick(2), 30 + 30 * pick(3), chance(50) ? 0 : 10 + 15 * pick(2),
             90 * pick(2), 30 * pick(2), 40 * pick(2)};
    // Alone, two saves' changes want one row when neither committed; and no
    // key is written, as what would settle it is not there to tell rows apart.
    if (!m_settling)
        m_mix = {0, 0, 10 + 40 * pick(2), m_mix.otherSessions, m_mix.keyChanges, m_mix.typedBack, m_mix.userChanges};
    // Where no save leaves a row in doubt, held changes live on from save to
    // save, and later saves settle them one by one.
    else if (chance(40))
        m_mix = {0, 0, m_mix.commits, 10 + 15 * pick(2), 0, 0, m_mix.userChanges};
    m_key = kKeys[chance(15) ? 0 : chance(25) ? 1 + 2 * pick(2) : 2 + 2 * pick(2)];
    for (int n = 2 + pick(4); n > 0; --n, ++m_nextIdentity) {
        // Ids repeat where they are not the key alone: (1,'t3') beside (1,'t4').
        const int id = m_key == QList<int>{Id} ? m_nextIdentity + 1 : 1 + pick(2);
        const int code = m_key.contains(Code) ? m_nextIdentity : pick(3);
        m_table << Row{m_nextIdentity, {id, code, anyValue(Label), pick(3), kNull}};
        m_seen.insert(m_table.last().v);
    }
    m_trace = QStringLiteral("key (%1)").arg(keyNames());
    for (int n = chance(75) ? 2 + pick(2) : 1, s = 0; s < n; ++s)
        saveOnce(s == 0);
    reload();
    const ZNTTableEdits::Reapplied back = m_page.reapplied(m_held, m_columns);
    check(back);
    const Save &first = m_saves.front();
    if (m_saves.size() == 1 && m_asStored &&
        (first.key.isEmpty() || std::all_of(first.changes.begin(), first.changes.end(), [&](const Change &change) {
             return rowsWithKey(first, change.before) <= 1;
         })))
        expectExactly(back, first);
}

// Where the save's column stands among the columns loaded now, by the name
// the save knew it by; -1 when gone or not the save's.
int Case::nowAt(const Save &save, int column) const {
    const qsizetype at = save.columns.indexOf(column);
    return at < 0 ? -1 : int(m_columns.indexOf(save.carried.columns[at]));
}

// Whether the loaded row holds v in each of columns still there (id and code,
// the key columns, always are).
bool Case::holds(qsizetype row, const Save &save, const Cells &v, const QList<int> &columns) const {
    return std::all_of(columns.begin(), columns.end(), [&](int c) {
        return nowAt(save, c) < 0 || m_page.loadedValue(row, nowAt(save, c)) == stored(c, v[c]);
    });
}

qsizetype Case::rowsWithKey(const Save &save, const Cells &v) const {
    qsizetype count = 0;
    for (qsizetype r = 0; r < m_page.rowCount(); ++r)
        count += !m_page.isNew(r) && holds(r, save, v, save.key);
    return count;
}

// The cells the change sets on its row: those it changed, still there and
// not changed by the user meanwhile, by column.
QHash<int, Value> Case::cellsOf(qsizetype row, const Save &save, const Change &change) const {
    QHash<int, Value> cells;
    for (const int c : save.columns) {
        if (change.after[c] != change.before[c] && nowAt(save, c) >= 0 && !m_page.editedValue(row, nowAt(save, c)))
            cells.insert(c, change.afterForms[c]);
    }
    return cells;
}

// What holds whatever the outcome.
void Case::check(const ZNTTableEdits::Reapplied &back) {
    SCOPED_TRACE(m_trace.toStdString());
    qsizetype changes = 0;
    for (const Save &save : m_saves)
        changes += save.held ? save.changes.size() : 0;
    EXPECT_EQ(changes, m_leftOut + back.putBack + back.alreadyThere + back.notPutBack);
    EXPECT_EQ(m_held.size(), back.putBack + back.alreadyThere + back.notPutBack - m_held.leftOut);

    QHash<qsizetype, QHash<int, Value>> cellsOfRow;
    for (const auto &cell : back.cells) {
        EXPECT_FALSE(m_page.editedValue(cell.row, cell.column)) << "over a cell the user changed meanwhile";
        QHash<int, Value> &cells = cellsOfRow[cell.row];
        const int column = columnNamed(m_columns[cell.column]);
        EXPECT_FALSE(cells.contains(column)) << "two changes onto one row";
        cells.insert(column, cell.value);
    }
    QSet<qsizetype> deleted;
    for (const qsizetype row : back.deletedRows) {
        EXPECT_FALSE(deleted.contains(row) || cellsOfRow.contains(row)) << "two changes onto one row";
        deleted << row;
        EXPECT_FALSE(m_page.isEdited(row) || m_page.isDeleted(row)) << "over the user's own change of the row";
        expectOwnChange(row, nullptr);
    }
    for (auto it = cellsOfRow.cbegin(); it != cellsOfRow.cend(); ++it)
        expectOwnChange(it.key(), &it.value());
    EXPECT_LE(deleted.size() + cellsOfRow.size(), back.putBack);
}

// A row that takes a change (cells, or a deletion where cells is null) takes
// a held change made over exactly what it holds, and no newer change made
// over the row as it is (the one row with its key) was held: of two saves'
// changes that want one row, the newest takes it. Where each save settled
// what was held before it, the change is the row's own, no save from that one
// on wrote the row, and no later save changed it again.
void Case::expectOwnChange(qsizetype row, const QHash<int, Value> *cells) {
    const int identity = m_pageIdentity.value(row, -1);
    ASSERT_NE(identity, -1) << "onto a new row";
    for (size_t s = m_saves.size(); s-- > 0;) {
        const Save &save = m_saves[s];
        for (qsizetype c = 0; c < save.changes.size(); ++c) {
            const Change &change = save.changes[c];
            if (!m_stillHeld.contains(std::pair{s, c}) || (m_settling && change.identity != identity) ||
                !holds(row, save, change.before, save.columns))
                continue;
            if (change.deletion == !cells && (!cells || *cells == cellsOf(row, save, change))) {
                for (size_t later = s; m_settling && later < m_saves.size(); ++later) {
                    const QList<Change> &again = m_saves[later].changes;
                    EXPECT_FALSE(m_saves[later].written.contains(identity)) << "onto a row a save wrote";
                    EXPECT_TRUE(leavesNoDoubt(m_saves[later], save.key))
                        << "a change went back though a save from its own on left rows in doubt";
                    EXPECT_FALSE(later > s && std::any_of(again.begin(), again.end(),
                                                          [&](const Change &c) { return c.identity == identity; }))
                        << "an older change onto a row a later save changed again";
                }
                return;
            }
            if (!save.key.isEmpty() && rowsWithKey(save, change.before) == 1) {
                ADD_FAILURE() << "an older change onto a row a newer one was made over";
                return;
            }
        }
    }
    ADD_FAILURE() << (cells ? "an edit" : "a deletion") << " onto another row, one changed since, or two onto one row";
}

// Where a single save's outcome leaves nothing in doubt (its rows were as
// stored, its key tells the rows loaded now apart) every change's fate is known.
void Case::expectExactly(const ZNTTableEdits::Reapplied &back, const Save &save) {
    SCOPED_TRACE(m_trace.toStdString());
    qsizetype putBack = 0, alreadyThere = 0, notPutBack = 0, leftOut = 0;
    QSet<QString> cells, gotCells;
    QList<qsizetype> deletedRows;
    for (const Change &change : save.changes) {
        if (!leavesNoDoubt(save, save.key)) {
            ++leftOut;
            continue;
        }
        qsizetype row = -1; // the one row with the change's key, whichever it is
        for (qsizetype r = 0; r < m_page.rowCount(); ++r) {
            if (!m_page.isNew(r) && holds(r, save, change.before, save.key))
                row = r;
        }
        QList<int> changed;
        for (const int c : save.columns) {
            if (change.after[c] != change.before[c])
                changed << c;
        }
        const auto gone = [&](int c) { return nowAt(save, c) < 0; };
        const auto there = [&](int c) {
            const Value value = stored(c, change.after[c]);
            return m_page.loadedValue(row, nowAt(save, c)) == value && sameText(change.afterForms[c], value);
        };
        if (row < 0 || (!change.deletion && std::any_of(changed.begin(), changed.end(), gone))) {
            ++notPutBack;
        } else if (change.deletion ? m_page.isDeleted(row) : std::all_of(changed.begin(), changed.end(), there)) {
            ++alreadyThere;
        } else if (!holds(row, save, change.before, save.columns) || (change.deletion && m_page.isEdited(row))) {
            ++notPutBack;
        } else {
            ++putBack;
            if (change.deletion)
                deletedRows << row;
            const QHash<int, Value> set = cellsOf(row, save, change);
            for (auto it = set.cbegin(); it != set.cend(); ++it)
                cells << QStringLiteral("%1:%2=%3").arg(row).arg(nowAt(save, it.key())).arg(it->description());
        }
    }
    EXPECT_EQ(m_leftOut, leftOut);
    EXPECT_EQ(back.putBack, putBack);
    EXPECT_EQ(back.alreadyThere, alreadyThere);
    EXPECT_EQ(back.notPutBack, notPutBack);
    QList<qsizetype> gotDeletedRows = back.deletedRows;
    std::sort(gotDeletedRows.begin(), gotDeletedRows.end());
    std::sort(deletedRows.begin(), deletedRows.end());
    EXPECT_EQ(gotDeletedRows, deletedRows);
    for (const auto &cell : back.cells)
        gotCells << QStringLiteral("%1:%2=%3").arg(cell.row).arg(cell.column).arg(cell.value.description());
    EXPECT_EQ(gotCells, cells);
}

} // namespace

TEST(HeldChanges, GoBackOnlyOntoTheirOwnRowAsItWasAndEveryOneIsAccountedFor) {
    std::vector<unsigned> seeds(1000);
    std::iota(seeds.begin(), seeds.end(), 1u);
    // Beyond those, rare cases where a later save edits the row that took the
    // key of a held edit's row, holding what that edit wrote; and where it
    // edits a row whose held edit wrote a column renamed since.
    seeds.insert(seeds.end(), {1980u, 2839u, 4416u});
    for (const unsigned seed : seeds) {
        SCOPED_TRACE(seed);
        Case(seed).run();
        if (::testing::Test::HasFailure())
            break;
    }
}
