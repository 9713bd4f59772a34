#include "ZNTAlterTableQuery.h"

#include "ZNTStructureStatements.h"
#include "engine/KesError.h"
#include "engine/Quoting.h"
#include "engine/ZNTConnection.h"
#include "model/ZNTConstraint.h"
#include "model/ZNTTable.h"

using namespace ZNTStructureStatements;

namespace {

// A constraint's columns by their place in the column list of its side (a
// renamed column keeps its place), by name where a column is not in the list.
QList<QPair<qsizetype, QString>> columnPlaces(const ZNTConstraint &constraint, const ZNTColumnDefinitionList &list) {
    QList<QPair<qsizetype, QString>> places;
    for (const auto &column : constraint.columns()) {
        const qsizetype at = column ? positionOf(*column, list) : -1;
        places.append({at, at < 0 && column ? column->name() : QString()});
    }
    return places;
}

bool hasNotNullConstraintOn(const ZNTConstraintList &constraints, const ZNTColumnDefinition &column) {
    for (const auto &constraint : constraints) {
        if (constraint->type() == ZNTConstraint::ZNTConstraintTypeNotNull && constraint->columns().size() == 1) {
            const auto &only = constraint->columns().first();
            const auto *definition = dynamic_cast<const ZNTColumnDefinition *>(only.get());
            if (only.get() == &column || (definition && definition->isEqual(column)))
                return true;
        }
    }
    return false;
}

// " ... ;\n" trimmed: white space, line breaks and semicolons off both ends.
QString trimmedDefinition(const QString &definition) {
    qsizetype from = 0, to = definition.size();
    auto strip = [](QChar c) { return c.isSpace() || c == u';'; };
    while (from < to && strip(definition[from]))
        ++from;
    while (to > from && strip(definition[to - 1]))
        --to;
    return definition.mid(from, to - from);
}
} // namespace

struct ZNTAlterTableQuery::Text {
    const ZNTConnection &connection;
    QString out;
    QString qualified; // the object's current quoted name, as the statements
                       // rename and move it
    QStringList subCommands;
    QStringList constraintComments;
    QString quote(const QString &identifier) const { return connection.quoteIdentifier(identifier); }
};

QString ZNTAlterTableQuery::statusMessage() const {
    return QStringLiteral("Saving changes to %1 structure…").arg(table() ? table()->name() : QString());
}

bool ZNTAlterTableQuery::isReplaced(qsizetype j) const {
    if (j >= m_constraintsBefore.size() || j >= m_constraintsAfter.size())
        return false;
    const ZNTConstraint &p = *m_constraintsBefore[j];
    const ZNTConstraint &a = *m_constraintsAfter[j];
    if (a.type() == ZNTConstraint::ZNTConstraintTypeCheck &&
        (!sameText(p.check(), a.check()) || p.noInherit() != a.noInherit()))
        return true;
    // The server cannot change these in place: the constraint is dropped and
    // added anew, as a changed CHECK is.
    return columnPlaces(p, m_columnsBefore) != columnPlaces(a, m_columnsAfter) ||
           !sameItem(p.foreignTable(), a.foreignTable()) || p.foreignAttnums() != a.foreignAttnums() ||
           p.deleteMode() != a.deleteMode() || p.updateMode() != a.updateMode() || p.validation() != a.validation();
}

bool ZNTAlterTableQuery::isKept(qsizetype j) const {
    const ZNTConstraint &a = *m_constraintsAfter[j];
    return !a.markedForDeletion() && !isReplaced(j) && !hasColumnMarkedForDeletion(a);
}

bool ZNTAlterTableQuery::prepareSQLForConnection(const ZNTConnection &connection, ErrorPtr *error) {
    // The server replaces the query of a view, never that of a materialized
    // view ("is not a view"): refused before anything is sent.
    if (table()->type() == ZNTTable::ZNTTableTypeMaterializedView && !sameText(m_viewDefBefore, m_viewDefAfter)) {
        return failWith(error,
                        KesError::errorWithCode(
                            1, QStringLiteral("Can't change the query of materialized view “%1”.").arg(table()->name()),
                            QStringLiteral("PostgreSQL can't replace the query of a materialized view; drop it "
                                           "and create it anew with the new query.")));
    }
    const QString qualified = Quoting::quoteQualifiedName(table()->schemaName(), table()->name());
    Text t{connection, createSequenceLines(createSequences()), qualified, {}, {}};
    writeRenames(t);
    writeColumnChanges(t);
    writeKeptConstraintChanges(t);
    collectDrops(t);
    collectColumnAlterations(t);
    collectNewColumns(t);
    if (!collectNewConstraints(t, error))
        return false;
    if (!sameText(m_tablespaceBefore, m_tablespaceAfter))
        t.subCommands << QStringLiteral("SET TABLESPACE %1").arg(t.quote(m_tablespaceAfter));
    // Neither form ends in a line break: what follows stands on the same line.
    if (t.subCommands.size() == 1)
        t.out += QStringLiteral("ALTER TABLE %1 %2;").arg(t.qualified, t.subCommands.first());
    else if (t.subCommands.size() > 1)
        t.out += QStringLiteral("ALTER TABLE %1\n  %2;").arg(t.qualified, t.subCommands.join(QStringLiteral(",\n  ")));
    t.out += t.constraintComments.join(QString());
    if (!sameText(m_viewDefBefore, m_viewDefAfter))
        t.out +=
            QStringLiteral("CREATE OR REPLACE VIEW %1 AS %2;\n").arg(t.qualified, trimmedDefinition(m_viewDefAfter));
    setSql(t.out);
    return true;
}

void ZNTAlterTableQuery::writeRenames(Text &t) const {
    if (!sameText(table()->name(), m_nameAfter)) {
        t.out += QStringLiteral("ALTER TABLE %1 RENAME TO %2;\n").arg(t.qualified, t.quote(m_nameAfter));
        t.qualified = Quoting::quoteQualifiedName(table()->schemaName(), m_nameAfter);
    }
    if (!sameText(table()->schemaName(), m_schemaNameAfter)) {
        t.out += QStringLiteral("ALTER TABLE %1 SET SCHEMA %2;\n").arg(t.qualified, t.quote(m_schemaNameAfter));
        t.qualified = Quoting::quoteQualifiedName(m_schemaNameAfter, m_nameAfter);
    }
    if (!sameText(m_commentBefore, m_commentAfter)) {
        t.out += QStringLiteral("COMMENT ON %1 %2 IS %3;\n")
                     .arg(objectWord(table()->type()), t.qualified, commentLiteral(t.connection, m_commentAfter));
    }
}

void ZNTAlterTableQuery::writeColumnChanges(Text &t) const {
    for (qsizetype i = 0; i < m_columnsBefore.size() && i < m_columnsAfter.size(); ++i) {
        const ZNTColumnDefinition &c = *m_columnsBefore[i];
        const ZNTColumnDefinition &d = *m_columnsAfter[i];
        if (d.markedForDeletion())
            continue;
        if (!sameText(c.name(), d.name())) {
            t.out += QStringLiteral("ALTER TABLE %1 RENAME COLUMN %2 TO %3;\n")
                         .arg(t.qualified, t.quote(c.name()), t.quote(d.name()));
        }
        if (!sameText(c.comment(), d.comment())) {
            t.out += QStringLiteral("COMMENT ON COLUMN %1.%2 IS %3;\n")
                         .arg(t.qualified, t.quote(d.name()), commentLiteral(t.connection, d.comment()));
        }
    }
}

void ZNTAlterTableQuery::writeKeptConstraintChanges(Text &t) const {
    for (qsizetype j = 0; j < m_constraintsBefore.size() && j < m_constraintsAfter.size(); ++j) {
        if (!isKept(j))
            continue;
        const ZNTConstraint &p = *m_constraintsBefore[j];
        const ZNTConstraint &a = *m_constraintsAfter[j];
        if (!sameText(p.name(), a.name())) {
            t.out += QStringLiteral("ALTER TABLE %1 RENAME CONSTRAINT %2 TO %3;\n")
                         .arg(t.qualified, t.quote(p.name()), t.quote(a.name()));
        }
        if (!sameText(p.comment(), a.comment())) {
            t.out += QStringLiteral("COMMENT ON CONSTRAINT %1 ON %2 IS %3;\n")
                         .arg(t.quote(a.name()), t.qualified, commentLiteral(t.connection, a.comment()));
        }
    }
}

// Dropping a column drops its constraints with it, so those write nothing.
void ZNTAlterTableQuery::collectDrops(Text &t) const {
    for (qsizetype i = 0; i < m_columnsBefore.size() && i < m_columnsAfter.size(); ++i) {
        if (m_columnsAfter[i]->markedForDeletion())
            t.subCommands << QStringLiteral("DROP COLUMN %1").arg(t.quote(m_columnsBefore[i]->name()));
    }
    for (qsizetype j = 0; j < m_constraintsBefore.size() && j < m_constraintsAfter.size(); ++j) {
        const ZNTConstraint &p = *m_constraintsBefore[j];
        const ZNTConstraint &a = *m_constraintsAfter[j];
        if (!(a.markedForDeletion() || isReplaced(j)) || hasColumnMarkedForDeletion(a))
            continue;
        if (p.type() != ZNTConstraint::ZNTConstraintTypeNotNull) {
            t.subCommands << QStringLiteral("DROP CONSTRAINT %1").arg(t.quote(p.name()));
            continue;
        }
        const qsizetype at = p.columns().isEmpty() ? -1 : positionOf(*p.columns().first(), m_columnsBefore);
        if (at >= 0 && at < m_columnsAfter.size())
            t.subCommands << QStringLiteral("ALTER COLUMN %1 DROP NOT NULL").arg(t.quote(m_columnsAfter[at]->name()));
    }
}

void ZNTAlterTableQuery::collectColumnAlterations(Text &t) const {
    for (qsizetype i = 0; i < m_columnsBefore.size() && i < m_columnsAfter.size(); ++i) {
        const ZNTColumnDefinition &c = *m_columnsBefore[i];
        const ZNTColumnDefinition &d = *m_columnsAfter[i];
        if (d.markedForDeletion())
            continue;
        const QString name = t.quote(d.name());
        const auto noDefault = SQLExpression::SQLExpressionKindNoDefault;
        if (c.defaultExpression().kind() != noDefault && d.defaultExpression().kind() == noDefault)
            t.subCommands << QStringLiteral("ALTER COLUMN %1 DROP DEFAULT").arg(name);
        if (!sameText(c.typeName(), d.typeName()))
            t.subCommands << QStringLiteral("ALTER COLUMN %1 SET DATA TYPE %2").arg(name, d.typeName());
        if (d.defaultExpression().kind() != noDefault && !d.defaultExpression().isEqual(c.defaultExpression()))
            t.subCommands << QStringLiteral("ALTER COLUMN %1 SET DEFAULT %2").arg(name, d.defaultExpression().src());
    }
}

void ZNTAlterTableQuery::collectNewColumns(Text &t) const {
    for (qsizetype i = m_columnsBefore.size(); i < m_columnsAfter.size(); ++i) {
        const ZNTColumnDefinition &d = *m_columnsAfter[i];
        const QString notNull = hasNotNullConstraintOn(m_constraintsAfter, d) ? QStringLiteral(" NOT NULL") : QString();
        const QString defaultClause = d.defaultExpression().kind() != SQLExpression::SQLExpressionKindNoDefault
                                          ? QStringLiteral(" DEFAULT ") + d.defaultExpression().src()
                                          : QString();
        t.subCommands
            << QStringLiteral("ADD COLUMN %1 %2%3%4").arg(t.quote(d.name()), d.typeName(), notNull, defaultClause);
    }
}

bool ZNTAlterTableQuery::collectNewConstraints(Text &t, ErrorPtr *error) const {
    for (qsizetype j = 0; j < m_constraintsAfter.size(); ++j) {
        const ZNTConstraint &a = *m_constraintsAfter[j];
        const bool added = j >= m_constraintsBefore.size() || isReplaced(j);
        if (!added || a.markedForDeletion() || hasColumnMarkedForDeletion(a))
            continue;
        if (a.type() == ZNTConstraint::ZNTConstraintTypeNotNull) {
            // A new column's NOT NULL is part of its ADD COLUMN.
            const qsizetype at = a.columns().isEmpty() ? -1 : positionOf(*a.columns().first(), m_columnsAfter);
            if (at >= 0 && at < m_columnsBefore.size())
                t.subCommands
                    << QStringLiteral("ALTER COLUMN %1 SET NOT NULL").arg(t.quote(a.columns().first()->name()));
        } else {
            const QString clause = a.constraintCommandForConnection(t.connection, error);
            if (clause.isNull())
                return false;
            t.subCommands << QStringLiteral("ADD ") + clause;
        }
        if (a.comment().isEmpty())
            continue;
        if (a.name().isEmpty()) {
            return failWith(error,
                            KesError::errorWithFormat(QStringLiteral("Can't set a comment on unnamed constraint.")));
        }
        t.constraintComments << QStringLiteral("COMMENT ON CONSTRAINT %1 ON %2 IS %3;\n")
                                    .arg(t.quote(a.name()), t.qualified, commentLiteral(t.connection, a.comment()));
    }
    return true;
}

// New columns come first: their ADD COLUMN may well be what failed.
ZNTColumnDefinitionList ZNTAlterTableQuery::columnsWithNewDefaults() const {
    ZNTColumnDefinitionList columns = m_columnsAfter.mid(m_columnsBefore.size());
    for (qsizetype i = 0; i < m_columnsBefore.size() && i < m_columnsAfter.size(); ++i) {
        if (!m_columnsAfter[i]->defaultExpression().isEqual(m_columnsBefore[i]->defaultExpression()))
            columns.append(m_columnsAfter[i]);
    }
    return columns;
}
