// The changes a page holds over saves that may have been committed, and what
// of them goes back once the rows have loaded again. A held change goes back
// only onto its own row as it was when the change was made: any doubt leaves
// it out, and the user is told how many.
#include "ZNTTableEdits.h"

#include <QHash>
#include <QSet>

namespace {
using Values = ZNTTableEdits::Values;
using Carried = ZNTTableEdits::CarriedChanges;

// The same value as the server shows it, so that typed text ("7") meets the
// loaded number (7). Values of one kind compare directly: a large bytea is not
// written out as hex text for nothing.
bool sameValue(const Value &a, const Value &b) {
    if (a.kind() == b.kind())
        return a == b;
    if (a.isNull() || b.isNull() || a.isDefault() || b.isDefault() || a.isMultiple() || b.isMultiple())
        return false;
    return a.description() == b.description();
}

// Where each of names stands among columns; empty when names is empty or one
// of them is missing.
QList<qsizetype> positionsOf(const QStringList &names, const QStringList &columns) {
    QList<qsizetype> positions;
    for (const QString &name : names) {
        const qsizetype at = columns.indexOf(name);
        if (at < 0)
            return {};
        positions << at;
    }
    return positions;
}

// A row's key as the server shows it; NULL is no text.
QStringList keyText(const Values &row, const QList<qsizetype> &key) {
    QStringList text;
    for (const qsizetype k : key) {
        const Value value = row.value(k);
        text << (value.isNull() ? QStringLiteral("N") : QLatin1Char('V') + value.description());
    }
    return text;
}

// Whether a save leaves no row in doubt: it added none, wrote no cell of a key
// column and got back every row it wrote as stored, paired with its own, so
// each key still names the row it named before. A save without a key (or
// whose key is not among its columns) tells nothing of the kind.
bool leavesNoDoubt(const Carried &save) {
    const QList<qsizetype> key = positionsOf(save.keyColumns, save.columns);
    if (save.addedRows || !save.writtenAsStored || key.isEmpty())
        return false;
    for (qsizetype i = 0; i < save.updateRowsBefore.size(); ++i) {
        const Values &before = save.updateRowsBefore[i];
        const Values after = save.updateRowsAfter.value(i, before);
        if (std::any_of(key.begin(), key.end(), [&](qsizetype k) { return after.value(k) != before.value(k); }))
            return false;
    }
    return true;
}

bool sameKeyColumns(const Carried &a, const Carried &b) {
    return QSet<QString>(a.keyColumns.begin(), a.keyColumns.end()) ==
           QSet<QString>(b.keyColumns.begin(), b.keyColumns.end());
}

// Removes the changes for which leave(before, after) holds (after is null for
// a deletion); answers how many it removed.
template <class Leave> qsizetype removeChanges(Carried &carried, Leave leave) {
    const qsizetype count = carried.size();
    for (qsizetype i = carried.updateRowsBefore.size() - 1; i >= 0; --i) {
        // An edit without its new values changes nothing.
        const Values &before = carried.updateRowsBefore[i];
        if (!leave(before, i < carried.updateRowsAfter.size() ? &carried.updateRowsAfter[i] : &before))
            continue;
        carried.updateRowsBefore.removeAt(i);
        if (i < carried.updateRowsAfter.size())
            carried.updateRowsAfter.removeAt(i);
    }
    carried.deleteRows.removeIf([&](const Values &before) { return leave(before, nullptr); });
    return count - carried.size();
}

qsizetype removeAll(Carried &carried) {
    return removeChanges(carried, [](const Values &, const Values *) { return true; });
}

// Whether the row the later save was made over (laterBefore, in its columns)
// holds row (in older's columns): the values an older change was made over
// (row is before), or those it left (row is its after). Each column both
// know must hold them, and a column the change wrote must be one of those.
bool holdsRow(const Values &laterBefore, const Carried &save, const Values &row, const Values &before,
              const Carried &older) {
    for (qsizetype c = 0; c < older.columns.size(); ++c) {
        const qsizetype at = save.columns.indexOf(older.columns[c]);
        if (at < 0 ? row.value(c) != before.value(c) : !sameValue(laterBefore.value(at), row.value(c)))
            return false;
    }
    return true;
}

// Of older's changes, those on a row that save changed too are settled by it:
// the user made the later change over the row as it loaded then. A change of
// a row the save deletes, or whose edit the row held already, is dropped as
// already there where that row is still the one the change was made for; the
// others are left out, as the row changed again since. Both saves have the
// same key columns, so one key names one row for both.
void leaveOutChangedAgain(Carried &older, const Carried &save, ZNTTableEdits::LeftOut &leftOut) {
    const QList<qsizetype> key = positionsOf(older.keyColumns, save.columns);
    const QList<qsizetype> olderKey = positionsOf(older.keyColumns, older.columns);
    if (key.isEmpty() || olderKey.isEmpty()) {
        leftOut.uncertain += removeAll(older);
        return;
    }
    QHash<QStringList, qsizetype> edited;
    for (qsizetype i = 0; i < save.updateRowsBefore.size(); ++i)
        edited.insert(keyText(save.updateRowsBefore[i], key), i);
    QHash<QStringList, qsizetype> deleted;
    for (qsizetype i = 0; i < save.deleteRows.size(); ++i)
        deleted.insert(keyText(save.deleteRows[i], key), i);
    removeChanges(older, [&](const Values &before, const Values *after) {
        const QStringList rowKey = keyText(before, olderKey);
        if (const auto gone = deleted.constFind(rowKey); gone != deleted.constEnd()) {
            const Values &laterBefore = save.deleteRows[*gone];
            const bool same = holdsRow(laterBefore, save, before, before, older) ||
                              (after && holdsRow(laterBefore, save, *after, before, older));
            ++(same ? leftOut.alreadyThere : leftOut.changedAgain);
            return true;
        }
        const auto later = edited.constFind(rowKey);
        if (later == edited.constEnd())
            return false;
        const bool saved = after && holdsRow(save.updateRowsBefore[*later], save, *after, before, older);
        ++(saved ? leftOut.alreadyThere : leftOut.changedAgain);
        return true;
    });
}
} // namespace

qsizetype ZNTTableEdits::HeldChanges::size() const {
    qsizetype count = 0;
    for (const CarriedChanges &save : saves)
        count += save.size();
    return count;
}

ZNTTableEdits::LeftOut ZNTTableEdits::leaveOutUnsafeChanges(CarriedChanges &carried) {
    LeftOut leftOut;
    if (positionsOf(carried.keyColumns, carried.columns).isEmpty())
        leftOut.withoutKey = removeAll(carried);
    else if (!leavesNoDoubt(carried))
        leftOut.uncertain = removeAll(carried);
    return leftOut;
}

namespace {
// What a later save settles of the changes held before it (see hold()).
ZNTTableEdits::LeftOut leaveOutSettledBy(ZNTTableEdits::HeldChanges &held, const Carried &save) {
    ZNTTableEdits::LeftOut leftOut;
    const bool doubt = !leavesNoDoubt(save);
    for (Carried &older : held.saves) {
        if (doubt || !sameKeyColumns(older, save))
            leftOut.uncertain += removeAll(older);
        else
            leaveOutChangedAgain(older, save, leftOut);
    }
    held.saves.removeIf([](const Carried &older) { return older.size() == 0; });
    return leftOut;
}
} // namespace

namespace {
// The keys, as loaded, of the rows save changes, by its key columns; none
// without a key among its columns.
QSet<QStringList> keysOfChangedRows(const Carried &save) {
    QSet<QStringList> keys;
    const QList<qsizetype> key = positionsOf(save.keyColumns, save.columns);
    if (key.isEmpty())
        return keys;
    for (const QList<Values> *rows : {&save.updateRowsBefore, &save.deleteRows}) {
        for (const Values &row : *rows)
            keys.insert(keyText(row, key));
    }
    return keys;
}

// Of the older changes a save leaves out with its own, those of the rows its
// own changes are on (keys as loaded, by the same key columns): the user is
// told of each row once.
qsizetype changesOfRows(const ZNTTableEdits::HeldChanges &held, const Carried &save) {
    const QSet<QStringList> keys = keysOfChangedRows(save);
    qsizetype count = 0;
    for (const Carried &older : held.saves) {
        // Keys compare in the save's key column order.
        const QList<qsizetype> key = positionsOf(save.keyColumns, older.columns);
        if (keys.isEmpty() || key.isEmpty() || !sameKeyColumns(older, save))
            continue;
        for (const QList<Values> *rows : {&older.updateRowsBefore, &older.deleteRows})
            count += std::count_if(rows->begin(), rows->end(),
                                   [&](const Values &row) { return keys.contains(keyText(row, key)); });
    }
    return count;
}
} // namespace

ZNTTableEdits::LeftOut ZNTTableEdits::hold(HeldChanges &held, CarriedChanges save) {
    CarriedChanges kept = save;
    const LeftOut own = leaveOutUnsafeChanges(kept);
    // Counted before the older changes go: a save that leaves its own out
    // leaves out every older one too.
    const qsizetype withOwnRow = own.uncertain > 0 ? changesOfRows(held, save) : 0;
    // The save as it was made: its own leaving out may drop rows that moved.
    LeftOut leftOut = leaveOutSettledBy(held, save);
    leftOut.withoutKey += own.withoutKey;
    leftOut.uncertain += own.uncertain - withOwnRow;
    leftOut.withOwnRow = withOwnRow;
    if (kept.size() > 0)
        held.saves << std::move(kept);
    return leftOut;
}

ZNTTableEdits::LeftOut ZNTTableEdits::noteSaved(HeldChanges &held, const CarriedChanges &save) {
    const LeftOut leftOut = leaveOutSettledBy(held, save);
    held.leftOut += leftOut.uncertain + leftOut.changedAgain;
    return leftOut;
}

namespace {
// One save's held changes against the rows loaded now.
class Reapplying {
public:
    Reapplying(const ZNTTableEdits &edits, const Carried &save, const QStringList &columnNames,
               std::vector<bool> &taken, ZNTTableEdits::Reapplied &out)
        : m_edits(edits), m_taken(taken), m_out(out) {
        for (const QString &name : save.columns)
            m_now << int(columnNames.indexOf(name));
        for (const qsizetype k : positionsOf(save.keyColumns, save.columns)) {
            if (m_now[k] < 0) {
                m_key.clear(); // without its key no row can be found again
                break;
            }
            m_key << k;
        }
    }

    void edit(const Values &before, const Values &after) {
        const qsizetype row = rowWithKeyOf(before);
        QList<qsizetype> changed;
        for (qsizetype c = 0; c < m_now.size(); ++c) {
            if (after.value(c) != before.value(c))
                changed << c;
        }
        const bool columnGone = std::any_of(changed.begin(), changed.end(), [&](qsizetype c) { return m_now[c] < 0; });
        if (row < 0 || columnGone) {
            ++m_out.notPutBack;
            return;
        }
        if (std::all_of(changed.begin(), changed.end(),
                        [&](qsizetype c) { return sameValue(loaded(row, c), after.value(c)); })) {
            ++m_out.alreadyThere; // saved after all
            return;
        }
        if (!holds(row, before)) {
            ++m_out.notPutBack;
            return;
        }
        // A cell the user changed meanwhile keeps the newer value.
        for (const qsizetype c : changed) {
            if (!m_edits.editedValue(row, m_now[c]))
                m_out.cells.append({row, m_now[c], after.value(c)});
        }
        ++m_out.putBack;
    }

    void deletion(const Values &before) {
        const qsizetype row = rowWithKeyOf(before);
        if (row >= 0 && m_edits.isDeleted(row))
            ++m_out.alreadyThere;
        else if (row < 0 || m_edits.isEdited(row) || !holds(row, before))
            ++m_out.notPutBack; // the user's newer change of the row stays
        else {
            m_out.deletedRows << row;
            ++m_out.putBack;
        }
    }

private:
    Value loaded(qsizetype row, qsizetype column) const { return m_edits.loadedValue(row, m_now[column]); }

    // The first loaded row with before's key not taken by another change; it
    // is taken now, whatever becomes of the change.
    qsizetype rowWithKeyOf(const Values &before) {
        for (qsizetype r = 0; !m_key.isEmpty() && r < m_edits.rowCount(); ++r) {
            if (m_taken[size_t(r)] || m_edits.isNew(r))
                continue;
            if (std::all_of(m_key.begin(), m_key.end(),
                            [&](qsizetype k) { return sameValue(loaded(r, k), before.value(k)); })) {
                m_taken[size_t(r)] = true;
                return r;
            }
        }
        return -1;
    }

    // Whether every column still there holds what it held when the change was made.
    bool holds(qsizetype row, const Values &before) const {
        for (qsizetype c = 0; c < m_now.size(); ++c) {
            if (m_now[c] >= 0 && !sameValue(loaded(row, c), before.value(c)))
                return false;
        }
        return true;
    }

    const ZNTTableEdits &m_edits;
    std::vector<bool> &m_taken;
    ZNTTableEdits::Reapplied &m_out;
    QList<int> m_now; // where each carried column stands now, -1 when gone
    QList<qsizetype> m_key;
};
} // namespace

ZNTTableEdits::Reapplied ZNTTableEdits::reapplied(const HeldChanges &held, const QStringList &columnNames) const {
    Reapplied out;
    out.notPutBack = held.leftOut;
    std::vector<bool> taken(m_rows.size());
    // The newest changes first: an older change never goes over a row a newer
    // one was made for.
    for (auto save = held.saves.crbegin(); save != held.saves.crend(); ++save) {
        Reapplying reapplying(*this, *save, columnNames, taken, out);
        for (qsizetype i = 0; i < save->updateRowsBefore.size(); ++i)
            reapplying.edit(save->updateRowsBefore[i], save->updateRowsAfter.value(i));
        for (const Values &deleted : save->deleteRows)
            reapplying.deletion(deleted);
    }
    return out;
}
