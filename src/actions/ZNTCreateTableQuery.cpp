#include "ZNTCreateTableQuery.h"

#include "ZNTStructureStatements.h"
#include "engine/KesError.h"
#include "engine/Quoting.h"
#include "engine/ZNTConnection.h"
#include "model/ZNTConstraint.h"
#include "model/ZNTTable.h"

using namespace ZNTStructureStatements;

QString ZNTCreateTableQuery::statusMessage() const {
    return QStringLiteral("Saving changes to %1 structure…").arg(m_name);
}

int ZNTCreateTableQuery::type() const {
    return table() ? int(table()->type()) : int(ZNTTable::ZNTTableTypeTable);
}

// A materialized view takes its tablespace before AS, the only place the
// server accepts it; a plain view has no storage and takes none.
bool ZNTCreateTableQuery::prepareSQLForConnection(const ZNTConnection &connection, ErrorPtr *error) {
    const QString qualified = Quoting::quoteQualifiedName(m_schemaName, m_name);
    QString text = createSequenceLines(createSequences());
    text += QStringLiteral("CREATE %1 %2 ").arg(objectWord(type()), qualified);
    if (type() != ZNTTable::ZNTTableTypeTable) {
        if (type() == ZNTTable::ZNTTableTypeMaterializedView && !m_tablespace.isEmpty())
            text += QStringLiteral("TABLESPACE %1 ").arg(connection.quoteIdentifier(m_tablespace));
        text += QStringLiteral("AS ") + m_viewDef;
    } else {
        if (!appendColumnList(connection, text, error))
            return false;
        if (!m_tablespace.isEmpty())
            text += QStringLiteral(" TABLESPACE %1").arg(connection.quoteIdentifier(m_tablespace));
    }
    text += QStringLiteral(";\n");
    if (!appendComments(connection, qualified, text, error))
        return false;
    setSql(text);
    return true;
}

bool ZNTCreateTableQuery::appendColumnList(const ZNTConnection &connection, QString &text, ErrorPtr *error) const {
    text += QStringLiteral("(\n");
    bool wroteLine = false;
    for (const auto &column : m_columns) {
        text += QStringLiteral("    %1 %2").arg(connection.quoteIdentifier(column->name()), column->typeName());
        for (const auto &constraint : m_constraints) {
            if (constraint->type() == ZNTConstraint::ZNTConstraintTypeNotNull && !constraint->columns().isEmpty() &&
                constraint->columns().first()->name() == column->name()) {
                text += QStringLiteral(" NOT NULL");
                break;
            }
        }
        if (!column->defaultExpression().src().isEmpty())
            text += QStringLiteral(" DEFAULT %1").arg(column->defaultExpression().src());
        text += QStringLiteral(",\n");
        wroteLine = true;
    }
    for (const auto &constraint : m_constraints) {
        if (constraint->type() == ZNTConstraint::ZNTConstraintTypeNotNull)
            continue;
        const QString clause = constraint->constraintCommandForConnection(connection, error);
        if (clause.isNull())
            return false;
        text += QStringLiteral("    %1,\n").arg(clause);
        wroteLine = true;
    }
    if (wroteLine)
        text.remove(text.size() - 2, 1); // the last line's comma
    text += QLatin1Char(')');
    return true;
}

bool ZNTCreateTableQuery::appendComments(const ZNTConnection &connection, const QString &qualified, QString &text,
                                         ErrorPtr *error) const {
    if (!m_comment.isEmpty()) {
        text += QStringLiteral("COMMENT ON %1 %2 IS %3;\n")
                    .arg(objectWord(type()), qualified, commentLiteral(connection, m_comment));
    }
    for (const auto &column : m_columns) {
        if (!column->comment().isEmpty()) {
            text += QStringLiteral("COMMENT ON COLUMN %1.%2 IS %3;\n")
                        .arg(qualified, connection.quoteIdentifier(column->name()),
                             commentLiteral(connection, column->comment()));
        }
    }
    for (const auto &constraint : m_constraints) {
        if (constraint->comment().isEmpty())
            continue;
        if (constraint->name().isEmpty()) {
            return failWith(error,
                            KesError::errorWithFormat(QStringLiteral("Can't set a comment on unnamed constraint.")));
        }
        text += QStringLiteral("COMMENT ON CONSTRAINT %1 ON %2 IS %3;\n")
                    .arg(connection.quoteIdentifier(constraint->name()), qualified,
                         commentLiteral(connection, constraint->comment()));
    }
    return true;
}
