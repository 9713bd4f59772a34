#include "ZNTUpdateInsertDeleteQuery.h"

#include "engine/KesError.h"
#include "engine/PGError.h"
#include "engine/Quoting.h"
#include "engine/ZNTConnection.h"
#include "engine/ZNTResult.h"
#include "model/ZNTTable.h"
#include "model/ZNTTableMetadata.h"
#include "platform/Main.h"
#include "platform/ProgramError.h"

#include <QHash>
#include <QSet>
#include <atomic>
#include <chrono>

namespace {
// RETURNING came with PostgreSQL 8.2.
constexpr quint64 kReturningVersion = 80200;

QString returningClause(const ZNTConnection &connection, const QStringList &columns) {
    if (columns.isEmpty() || connection.serverVersion() < kReturningVersion)
        return QString();
    return QStringLiteral(" RETURNING ") + columns.join(QStringLiteral(", "));
}

// Before 8.2 standard_conforming_strings cannot be set.
constexpr quint64 kStandardStringsVersion = 80200;

// txid_current() and txid_status() came with PostgreSQL 10.
constexpr quint64 kTransactionStatusVersion = 100000;

// What the save sent and the server has not acknowledged for this long ends the
// session while the statements and COMMIT are awaited: over a link that died
// the kernel would retry for about fifteen minutes, the connection's queue held.
// A live server acknowledges what it receives however long it works, so a
// COMMIT that runs for minutes is still waited for; the link is probed every
// five seconds meanwhile (TcpTimeouts), so an outage under about 50 s costs nothing.
constexpr std::chrono::milliseconds kUnacknowledgedTimeout = std::chrono::minutes(1);
std::atomic<qint64> unacknowledgedTimeoutMs{kUnacknowledgedTimeout.count()};

// The cells whose values the server chooses: those left to their default, and
// those of generated columns, which it computes again on every write.
bool serverFills(const Value &cell, const QList<bool> &generated, qsizetype column) {
    return cell.isDefault() || generated.value(column);
}

// With why: libpq's text, or the reason the reconnect was refused.
ErrorPtr lostConnectionError(const ErrorPtr &error) {
    return KesError::errorWithCode(1, QStringLiteral("The connection was lost."),
                                   error ? PGError::reasonText(*error) : QString(), error);
}

// The cells, in order, take the values of the returned row; cells the result
// has no value for keep what they held.
void fillFromServer(ZNTRowValues &row, const QList<qsizetype> &cells, const RowStore &rows, qsizetype returned) {
    if (returned >= rows.rowCount())
        return;
    for (qsizetype k = 0; k < cells.size() && k < rows.columnCount(); ++k) {
        if (cells[k] < row.size())
            row[cells[k]] = rows.valueAt(returned, int(k));
    }
}

// Whether the returned row holds key in its columns at.
bool returnsKey(const RowStore &rows, qsizetype returned, const QList<qsizetype> &at, const ZNTRowValues &key) {
    for (qsizetype k = 0; k < key.size() && k < at.size(); ++k) {
        if (at[k] >= rows.columnCount() || rows.valueAt(returned, int(at[k])) != key[k])
            return false;
    }
    return true;
}
} // namespace

void ZNTUpdateInsertDeleteQuery::setUnacknowledgedTimeoutForTesting(std::chrono::milliseconds timeout) {
    unacknowledgedTimeoutMs = (timeout.count() > 0 ? timeout : kUnacknowledgedTimeout).count();
}

QString ZNTUpdateInsertDeleteQuery::statusMessage() const {
    return QStringLiteral("Saving changes to %1…").arg(m_table ? m_table->name() : QString());
}

QString ZNTUpdateInsertDeleteQuery::qualifiedTable() const {
    return Quoting::quoteQualifiedName(m_table->schemaName(), m_table->name());
}

void ZNTUpdateInsertDeleteQuery::setTable(const std::shared_ptr<ZNTTable> &table) {
    requireMainThread("ZNTUpdateInsertDeleteQuery::setTable");
    m_table = table;
}

void ZNTUpdateInsertDeleteQuery::setMetadata(const std::shared_ptr<ZNTTableMetadata> &metadata) {
    requireMainThread("ZNTUpdateInsertDeleteQuery::setMetadata");
    m_metadata = metadata;
}

std::shared_ptr<ZNTTableMetadata> ZNTUpdateInsertDeleteQuery::metadata() const {
    if (m_metadata)
        return m_metadata;
    return m_table ? m_table->metadata() : nullptr;
}

void ZNTUpdateInsertDeleteQuery::setValueStyles(const ZNTValueStyles &styles) {
    requireMainThread("ZNTUpdateInsertDeleteQuery::setValueStyles");
    m_valueStyles = styles;
}

void ZNTUpdateInsertDeleteQuery::setColumns(const ZNTColumnList &columns) {
    requireMainThread("ZNTUpdateInsertDeleteQuery::setColumns");
    m_columns = columns;
}

void ZNTUpdateInsertDeleteQuery::setInsertRows(const RowList &rows) {
    requireMainThread("ZNTUpdateInsertDeleteQuery::setInsertRows");
    m_insertRows = rows;
}

void ZNTUpdateInsertDeleteQuery::setDeleteRows(const RowList &rows) {
    requireMainThread("ZNTUpdateInsertDeleteQuery::setDeleteRows");
    m_deleteRows = rows;
}

void ZNTUpdateInsertDeleteQuery::setUpdateRowsBefore(const RowList &rows) {
    requireMainThread("ZNTUpdateInsertDeleteQuery::setUpdateRowsBefore");
    m_updateRowsBefore = rows;
}

void ZNTUpdateInsertDeleteQuery::setUpdateRowsAfter(const RowList &rows) {
    requireMainThread("ZNTUpdateInsertDeleteQuery::setUpdateRowsAfter");
    m_updateRowsAfter = rows;
}

// Keyless rows are matched by every column of the page, exactly as shown, and
// picked through their places, as many as were picked.
QString ZNTUpdateInsertDeleteQuery::whereClauseOnConnection(const ZNTConnection &connection, const RowList &rows,
                                                            ErrorPtr *error) const {
    const auto metadata = this->metadata();
    if (!m_table || !metadata || metadata->metadataState() != ZNTTableMetadata::ZNTMetadataStateLoaded)
        throw ProgramError("MetadataMissing", "Tried to save rows without table metadata available.");
    ZNTRowMatching::RowKey key;
    if (!ZNTRowMatching::keyOfRelation(*m_table, *metadata, connection, m_columns, &key, error))
        return QString();
    QList<qsizetype> positions;
    if (!ZNTRowMatching::keyPositions(key.columns, m_columns, &positions, error))
        return QString();
    QStringList conditions;
    for (const ZNTRowValues &row : rows)
        conditions << ZNTRowMatching::condition(connection, key, positions, row);
    if (key.byLocation)
        return ZNTRowMatching::locationConditions(qualifiedTable(), conditions, true);
    return conditions.join(QStringLiteral(" OR "));
}

// Which of the page's columns are generated columns; none when the structure
// is not at hand (a generated column then keeps what the page showed).
QList<bool> ZNTUpdateInsertDeleteQuery::generatedColumns() const {
    const auto metadata = this->metadata();
    if (!metadata || metadata->metadataState() != ZNTTableMetadata::ZNTMetadataStateLoaded)
        return {};
    QStringList names;
    for (const auto &column : m_columns)
        names << (column ? column->name() : QString());
    return metadata->serverFilledColumns(names).generated;
}

// Whether the statements may return the cells they write. The server refuses
// a RETURNING clause the relation cannot serve, and with it the whole save: an
// INSTEAD rule (a view made writable) has none of its own, a foreign table's
// wrapper may have none, and row-level security returns no row its SELECT
// policy hides. So only an ordinary or partitioned table without rules or
// row-level security returns them; where the structure does not say, the
// statements return only what the server fills.
bool ZNTUpdateInsertDeleteQuery::returnsWrittenCells(const ZNTConnection &connection) const {
    const auto metadata = this->metadata();
    if (connection.isRedshift() || !metadata || metadata->metadataState() != ZNTTableMetadata::ZNTMetadataStateLoaded)
        return false;
    const char kind = metadata->relationKind();
    return (kind == 'r' || kind == 'p') && !metadata->hasRules() && metadata->rowSecurity() == false;
}

// Where the columns that tell the table's rows apart (its primary key, else
// its oid column) stand among the page's; empty without them.
QList<qsizetype> ZNTUpdateInsertDeleteQuery::identifyingKeyPositions(const ZNTConnection &connection) const {
    QList<qsizetype> positions;
    const ZNTColumnList key = ZNTRowMatching::identifyingKey(*metadata(), connection);
    if (key.isEmpty() || !ZNTRowMatching::keyPositions(key, m_columns, &positions, nullptr))
        return {};
    return positions;
}

// What writing the changed row's after over its before sets.
ZNTUpdateInsertDeleteQuery::RowWrite ZNTUpdateInsertDeleteQuery::rowWrite(const ZNTConnection &connection,
                                                                          qsizetype row,
                                                                          const QList<bool> &generated) const {
    const ZNTRowValues &before = m_updateRowsBefore[row];
    const ZNTRowValues after = m_updateRowsAfter.value(row);
    RowWrite write;
    QStringList set;
    for (qsizetype j = 0; j < after.size() && j < m_columns.size(); ++j) {
        if (after[j] != before.value(j)) {
            set << connection.quoteIdentifier(m_columns[j]->name()) + QLatin1Char('=') +
                       connection.quoteLiteral(after[j]);
            write.written << j;
        }
        if (serverFills(after[j], generated, j))
            write.filled << j;
    }
    write.setText = set.join(QStringLiteral(", "));
    return write;
}

// The key columns by which a statement's returned rows pair with its rows:
// those it neither writes nor leaves to the server, which give back the
// values its rows were loaded with, unless the server stored others.
QList<qsizetype> ZNTUpdateInsertDeleteQuery::pairingKey(const ZNTConnection &connection, const RowWrite &write) const {
    QList<qsizetype> key = identifyingKeyPositions(connection);
    key.removeIf([&write](qsizetype at) { return write.written.contains(at) || write.filled.contains(at); });
    return key;
}

// Whether the rows' values at key, as loaded, differ from row to row.
bool ZNTUpdateInsertDeleteQuery::keysTellApart(const ZNTConnection &connection, const QList<qsizetype> &key,
                                               const QList<qsizetype> &rows) const {
    if (key.isEmpty())
        return false;
    QSet<QStringList> seen;
    for (const qsizetype row : rows) {
        QStringList values;
        for (const qsizetype at : key) {
            const Value value = m_updateRowsBefore[row].value(at);
            values << (value.isNull() ? QStringLiteral("N") : QLatin1Char('V') + connection.quoteLiteral(value));
        }
        if (seen.contains(values))
            return false;
        seen.insert(values);
    }
    return true;
}

// Every new value must have a literal: one that has none (a text holding a NUL
// character) fails the save rather than being written cut short.
bool ZNTUpdateInsertDeleteQuery::newValuesHaveLiterals(const ZNTConnection &connection, ErrorPtr *error) const {
    for (const RowList *rows : {&m_updateRowsAfter, &m_insertRows}) {
        for (const ZNTRowValues &row : *rows) {
            for (qsizetype j = 0; j < row.size() && j < m_columns.size(); ++j) {
                const Value &value = row[j];
                if (value.isNull() || value.isDefault() || value.kind() == Value::Kind::Multiple ||
                    !connection.quoteLiteral(value).isNull())
                    continue;
                return failWith(
                    error, KesError::errorWithCode(
                               1, QStringLiteral("The value of column “%1” cannot be saved.").arg(m_columns[j]->name()),
                               QStringLiteral("It holds a NUL character, which PostgreSQL text cannot store.")));
            }
        }
    }
    return true;
}

bool ZNTUpdateInsertDeleteQuery::prepareSQLForConnection(const ZNTConnection &connection, ErrorPtr *error) {
    requireMainThread("ZNTUpdateInsertDeleteQuery::prepareSQLForConnection");
    m_returningExpectations.clear();
    m_returning.clear();
    m_writtenCellsReturned = returnsWrittenCells(connection) && connection.serverVersion() >= kReturningVersion;
    QString text;
    if (!newValuesHaveLiterals(connection, error))
        return false;
    if (!appendDelete(connection, text, error) || !appendUpdates(connection, text, error))
        return false;
    appendInserts(connection, text);
    setSql(text);
    return true;
}

bool ZNTUpdateInsertDeleteQuery::appendDelete(const ZNTConnection &connection, QString &text, ErrorPtr *error) {
    if (m_deleteRows.isEmpty())
        return true;
    const QString where = whereClauseOnConnection(connection, m_deleteRows, error);
    if (where.isNull())
        return false;
    const QString statement = QStringLiteral("DELETE FROM %1 WHERE %2;\n").arg(qualifiedTable(), where);
    text += statement;
    m_returningExpectations.append(PGResultExpectation(PGResultExpectation::PGResultExpectationTypeDelete, statement,
                                                       m_deleteRows.size(), PGResultExpectation::NotFound));
    m_returning.append(Returning());
    return true;
}

// A changed row whose values the server fills (a cell set to DEFAULT, a
// generated column computed again) gets a statement of its own, so that its
// RETURNING row can be told apart; the others are grouped by their SET list.
bool ZNTUpdateInsertDeleteQuery::appendUpdates(const ZNTConnection &connection, QString &text, ErrorPtr *error) {
    struct Group {
        RowWrite write;
        QList<qsizetype> rows;
    };
    QStringList groupOrder;
    QHash<QString, Group> groups;
    const QList<bool> generated = generatedColumns();
    for (qsizetype i = 0; i < m_updateRowsBefore.size(); ++i) {
        const RowWrite write = rowWrite(connection, i, generated);
        // An unchanged row has nothing to set; "UPDATE ... SET WHERE" is no
        // statement.
        if (write.written.isEmpty())
            continue;
        if (!write.filled.isEmpty()) {
            if (!appendUpdate(connection, text, write, {i}, error))
                return false;
            continue;
        }
        if (!groups.contains(write.setText)) {
            groupOrder << write.setText;
            groups[write.setText].write = write;
        }
        groups[write.setText].rows << i;
    }
    for (const QString &setText : std::as_const(groupOrder)) {
        if (!appendAlike(connection, text, groups[setText].write, groups[setText].rows, error))
            return false;
    }
    return true;
}

// Rows written alike go in one statement where what pairs its returned rows
// with them, the key columns it neither writes nor leaves to the server, tells
// them apart, or where it returns nothing to pair. Otherwise each row gets a
// statement of its own (no key, every key column written, or a part of the key
// they share), except rows identical in every shown cell: one condition picks
// them together, and the page cannot tell them apart either.
bool ZNTUpdateInsertDeleteQuery::appendAlike(const ZNTConnection &connection, QString &text, const RowWrite &write,
                                             const QList<qsizetype> &rows, ErrorPtr *error) {
    if (!m_writtenCellsReturned || rows.size() == 1 || keysTellApart(connection, pairingKey(connection, write), rows))
        return appendUpdate(connection, text, write, rows, error);
    QStringList order;
    QHash<QString, QList<qsizetype>> picked;
    for (const qsizetype row : rows) {
        const QString where = whereClauseOnConnection(connection, {m_updateRowsBefore[row]}, error);
        if (where.isNull())
            return false;
        if (!picked.contains(where))
            order << where;
        picked[where] << row;
    }
    for (const QString &where : std::as_const(order)) {
        if (!appendUpdate(connection, text, write, picked[where], error))
            return false;
    }
    return true;
}

// One UPDATE of rows, all written alike. Where the statements may, it returns
// every column as the page's load reads it (by its plain name, whole), since a
// trigger may have stored other values than those written, in any column; else
// only the cells the server fills.
bool ZNTUpdateInsertDeleteQuery::appendUpdate(const ZNTConnection &connection, QString &text, const RowWrite &write,
                                              const QList<qsizetype> &rows, ErrorPtr *error) {
    RowList before;
    for (const qsizetype row : rows)
        before << m_updateRowsBefore[row];
    const QString where = whereClauseOnConnection(connection, before, error);
    if (where.isNull())
        return false;
    Returning into{rows, {}, {}, {}, false};
    QStringList returning;
    for (qsizetype j = 0; j < m_columns.size(); ++j) {
        if (m_writtenCellsReturned || write.filled.contains(j)) {
            returning << connection.quoteIdentifier(m_columns[j]->name());
            into.cells << j;
        }
    }
    if (m_writtenCellsReturned) {
        // Every column is returned in the page's order: a key column stands in
        // the returned row where it stands on the page.
        into.keyAt = pairingKey(connection, write);
        for (const ZNTRowValues &row : std::as_const(before)) {
            ZNTRowValues key;
            for (const qsizetype at : std::as_const(into.keyAt))
                key << row.value(at);
            into.keys << key;
        }
        into.alike = into.keyAt.isEmpty() && rows.size() > 1;
    }
    const QString statement = QStringLiteral("UPDATE %1 SET %2 WHERE %3%4;\n")
                                  .arg(qualifiedTable(), write.setText, where, returningClause(connection, returning));
    text += statement;
    m_returningExpectations.append(
        PGResultExpectation(PGResultExpectation::PGResultExpectationTypeUpdate, statement, rows.size(),
                            rows.size() == 1 ? uint64_t(rows[0]) : PGResultExpectation::NotFound));
    m_returning.append(into);
    return true;
}

// A new row returns the cells the server filled and, where the statements may,
// every column, as it stored them.
void ZNTUpdateInsertDeleteQuery::appendInserts(const ZNTConnection &connection, QString &text) {
    const QList<bool> generated = generatedColumns();
    const bool returnsWritten = returnsWrittenCells(connection);
    for (qsizetype k = 0; k < m_insertRows.size(); ++k) {
        const ZNTRowValues &row = m_insertRows[k];
        QStringList names, values, returning;
        Returning into{{k}, {}, {}, {}, false};
        for (qsizetype j = 0; j < row.size() && j < m_columns.size(); ++j) {
            const QString name = connection.quoteIdentifier(m_columns[j]->name());
            if (returnsWritten || serverFills(row[j], generated, j)) {
                returning << name;
                into.cells << j;
            }
            if (!row[j].isDefault()) {
                names << name;
                values << connection.quoteLiteral(row[j]);
            }
        }
        const QString columnList =
            names.isEmpty() ? QString() : QLatin1Char('(') + names.join(QStringLiteral(", ")) + QLatin1Char(')');
        const QString valueList = values.isEmpty() ? QStringLiteral("DEFAULT") : values.join(QStringLiteral(", "));
        const QString statement =
            QStringLiteral("INSERT INTO %1%2 VALUES(%3)%4;\n")
                .arg(qualifiedTable(), columnList, valueList, returningClause(connection, returning));
        text += statement;
        m_returningExpectations.append(
            PGResultExpectation(PGResultExpectation::PGResultExpectationTypeInsert, statement, 1, uint64_t(k)));
        m_returning.append(into);
    }
}

// BEGIN, and the settings the statements are read under for this transaction
// alone; a setting the server did not report may not exist there.
QString ZNTUpdateInsertDeleteQuery::beginText(const ZNTConnection &connection, const QString &standardStrings) const {
    QString text = QStringLiteral("BEGIN;\n");
    const auto set = [&](const QString &name, const QString &value) {
        if (!value.isEmpty())
            text += QStringLiteral("SET LOCAL %1 = %2;\n").arg(name, connection.quoteLiteral(Value::fromString(value)));
    };
    if (connection.serverVersion() >= kStandardStringsVersion)
        set(QStringLiteral("standard_conforming_strings"), standardStrings);
    set(QStringLiteral("DateStyle"), m_valueStyles.dateStyle);
    set(QStringLiteral("IntervalStyle"), m_valueStyles.intervalStyle);
    return text;
}

void ZNTUpdateInsertDeleteQuery::executeInBackgroundOnConnection(const std::shared_ptr<ZNTConnection> &connection) {
    requireMainThread("ZNTUpdateInsertDeleteQuery::executeInBackgroundOnConnection");
    ErrorPtr prepareError;
    if (!connection) {
        setError(KesError::errorWithFormat(QStringLiteral("The connection was lost.")));
        postDoneLater();
        return;
    }
    // What the literals are quoted for; a reconnect reads it afresh.
    const QString standardStrings =
        connection->configurationParameterValues().value(QStringLiteral("standard_conforming_strings"));
    if (!prepareSQLForConnection(*connection, &prepareError)) {
        setError(prepareError);
        postDoneLater();
        return;
    }
    auto begin = ZNTQuery::create(beginText(*connection, standardStrings));
    begin->setStatusMessage(statusMessage());
    // Its COMMIT or ROLLBACK would end a transaction the user holds.
    begin->setRefusesUserTransaction(true);
    auto statements = ZNTQuery::create(sql(), params());
    statements->setStatusMessage(statusMessage());
    statements->setGuardsUserTransaction(false); // within the save's own transaction
    setSqlQuery(statements);
    m_beginQuery = begin;
    auto execution = begin->executionBlockForConnection(connection, true);
    Job job{m_returningExpectations, m_insertRows, m_updateRowsAfter, m_table->name(), m_returning};
    job.readsTransactionId = connection->serverVersion() >= kTransactionStatusVersion;
    job.returnsWritten = m_writtenCellsReturned;
    std::shared_ptr<ZNTUpdateInsertDeleteQuery> self =
        std::static_pointer_cast<ZNTUpdateInsertDeleteQuery>(shared_from_this());
    connection->connectionQueue().async([self, begin, statements, execution, connection, job] {
        connection->setUnacknowledgedTimeout(std::chrono::milliseconds(unacknowledgedTimeoutMs.load()));
        execution();
        const Outcome outcome = runTransaction(job, *begin, statements, connection);
        // Left set, it would cut an upload the server holds back (a COPY into a
        // table another session has locked).
        connection->setUnacknowledgedTimeout({});
        Main::post([self, outcome] { self->finish(outcome); });
    });
}

// A cancel before the save began sends nothing; one while BEGIN runs stops the
// statements too.
void ZNTUpdateInsertDeleteQuery::cancel() {
    if (m_beginQuery)
        m_beginQuery->cancel();
    ZNTActionQuery::cancel();
}

void ZNTUpdateInsertDeleteQuery::finish(const Outcome &outcome) {
    requireMainThread("ZNTUpdateInsertDeleteQuery::finish");
    setSuccess(outcome.success);
    setError(outcome.error);
    if (outcome.completed) {
        m_completedInsertRows = outcome.completedInsertRows;
        m_completedUpdateRows = outcome.completedUpdateRows;
    }
    m_writtenRowsFilled = outcome.completed && outcome.filled;
    m_writtenRowsUnpaired = outcome.completed && outcome.unpaired;
    postDone();
    setSqlQuery(nullptr);
    m_beginQuery.reset();
}

std::shared_ptr<ZNTQuery> ZNTUpdateInsertDeleteQuery::runNow(const std::shared_ptr<ZNTConnection> &connection,
                                                             const QString &sql, const QString &status) {
    auto query = ZNTQuery::create(sql);
    query->setStatusMessage(status);
    query->setGuardsUserTransaction(false); // within the save's own transaction
    query->executionBlockForConnection(connection, false)();
    return query;
}

ZNTUpdateInsertDeleteQuery::Outcome
ZNTUpdateInsertDeleteQuery::runTransaction(const Job &job, const ZNTQuery &begin,
                                           const std::shared_ptr<ZNTQuery> &statements,
                                           const std::shared_ptr<ZNTConnection> &connection) {
    Outcome outcome;
    const auto results = begin.results();
    if (results.isEmpty() || results.first()->resultType() != QLatin1String("success")) {
        if (ZNTQuery::isUserTransactionError(begin.error()))
            outcome.error = begin.error();
        else if (connection->state() == ZNTConnection::ZNTConnectionStateLost)
            outcome.error = lostConnectionError(begin.error());
        else
            outcome.error =
                KesError::errorWithCode(1, QStringLiteral("Could not start the transaction."), begin.error());
        return outcome;
    }
    // The statements go in a message of their own, once the settings are in
    // force: the server reads a whole message before it runs any of it, and
    // reads the quoted values as standard_conforming_strings is then.
    if (!begin.error()) {
        if (begin.isCancelled())
            statements->cancel();
        statements->executionBlockForConnection(connection, false)();
    }
    QString message;
    if (const ErrorPtr error = begin.error() ? begin.error() : statements->error())
        outcome.error =
            connection->state() == ZNTConnection::ZNTConnectionStateLost ? lostConnectionError(error) : error;
    else
        message = pairResults(job, statements->results(), outcome);
    endTransaction(job, connection, message, outcome);
    return outcome;
}

// Pairs the statements' results with the expectations, fills the rows written
// from RETURNING rows, and answers what went wrong (empty when nothing did).
// The rows count as filled only where every statement that wrote cells
// returned them and its returned rows paired with its rows.
QString ZNTUpdateInsertDeleteQuery::pairResults(const Job &job, const QList<std::shared_ptr<ZNTResult>> &results,
                                                Outcome &outcome) {
    outcome.success = true;
    outcome.filled = true;
    RowList inserts = job.insertRows;
    RowList updates = job.updateRowsAfter;
    QString message;
    qsizetype next = 0;
    for (qsizetype r = 0; r < results.size() && next < job.expectations.size(); ++r, ++next) {
        const PGResultExpectation &expectation = job.expectations[next];
        if (results[r]->affectedRows() != expectation.affectedRows()) {
            outcome.success = false;
            message = QStringLiteral("The query did not affect the expected number of rows.");
            break;
        }
        const bool inserted = expectation.type() == PGResultExpectation::PGResultExpectationTypeInsert;
        const bool filled = fillRows(inserted ? inserts : updates, job.returning.value(next), *results[r]);
        const bool writes = expectation.type() != PGResultExpectation::PGResultExpectationTypeDelete;
        if (!writes || !job.returnsWritten) {
            outcome.filled = outcome.filled && !writes;
            continue;
        }
        // Every such statement has its rows paired by a key or by being one
        // or alike: rows that did not pair are not shown as stored.
        outcome.filled = outcome.filled && filled;
        outcome.unpaired = outcome.unpaired || !filled;
    }
    if (outcome.success && next < job.expectations.size()) {
        outcome.success = false;
        message = QStringLiteral("The query returned fewer results than expected.");
    }
    outcome.completed = true;
    outcome.completedInsertRows = inserts;
    outcome.completedUpdateRows = updates;
    return message;
}

// Each returned row goes into the row it belongs to: the row whose key it
// returned, else a statement's only row, or its rows alike in the order they
// came. When rows and returned rows do not pair one to one, every row of the
// statement keeps what it was given. Answers whether they paired.
bool ZNTUpdateInsertDeleteQuery::fillRows(RowList &written, const Returning &returning, const ZNTResult &result) {
    const auto rows = result.rows();
    if (!rows || returning.cells.isEmpty() || returning.rows.isEmpty() || rows->rowCount() != returning.rows.size())
        return false;
    QList<qsizetype> owners;
    if (!returning.keyAt.isEmpty())
        owners = ownersOfReturnedRows(returning, *rows);
    else if (returning.rows.size() == 1 || returning.alike)
        for (qsizetype r = 0; r < returning.rows.size(); ++r)
            owners << r;
    for (qsizetype r = 0; r < owners.size(); ++r) {
        const qsizetype row = returning.rows[owners[r]];
        if (row < written.size())
            fillFromServer(written[row], returning.cells, *rows, r);
    }
    return !owners.isEmpty();
}

// For each returned row, the index in returning.rows of the one row whose key
// it holds; empty unless every row was returned exactly once.
QList<qsizetype> ZNTUpdateInsertDeleteQuery::ownersOfReturnedRows(const Returning &returning, const RowStore &rows) {
    if (returning.keys.size() != returning.rows.size() || rows.rowCount() != returning.rows.size())
        return {};
    QList<qsizetype> owners;
    QList<bool> taken(returning.keys.size(), false);
    for (qsizetype r = 0; r < rows.rowCount(); ++r) {
        qsizetype owner = -1;
        for (qsizetype k = 0; k < returning.keys.size(); ++k) {
            if (!returnsKey(rows, r, returning.keyAt, returning.keys[k]))
                continue;
            if (owner >= 0 || taken[k])
                return {};
            owner = k;
        }
        if (owner < 0)
            return {};
        taken[owner] = true;
        owners << owner;
    }
    return owners;
}

void ZNTUpdateInsertDeleteQuery::endTransaction(const Job &job, const std::shared_ptr<ZNTConnection> &connection,
                                                const QString &message, Outcome &outcome) {
    if (outcome.success) {
        commitTransaction(job, connection, outcome);
        return;
    }
    // Nothing more can be sent; the server ends the transaction with the session.
    if (connection->state() == ZNTConnection::ZNTConnectionStateLost) {
        if (!outcome.error)
            outcome.error = KesError::errorWithFormat(QStringLiteral("The connection was lost."));
        return;
    }
    const auto rollback = runNow(connection, QStringLiteral("ROLLBACK"),
                                 QStringLiteral("Rolling back changes to %1…").arg(job.tableName));
    if (!rollback->error()) {
        if (!message.isEmpty())
            outcome.error =
                KesError::errorWithFormat(QStringLiteral("%1 The transaction was rolled back.").arg(message));
        return;
    }
    outcome.success = false;
    const QString before = !message.isEmpty() ? message
                           : outcome.error    ? outcome.error->localizedRecoverySuggestion()
                                              : QString();
    outcome.error = KesError::errorWithFormat(
        QStringLiteral("%1\n\nRollback failed: %2").arg(before, rollback->error()->localizedRecoverySuggestion()));
}
