#include "ZNTConstraint.h"

#include "ZNTColumnDefinition.h"
#include "ZNTTable.h"
#include "ZNTTableMetadata.h"
#include "engine/KesError.h"
#include "engine/Quoting.h"
#include "engine/ZNTConnection.h"

#include <QStringList>
#include <vector>

namespace {

bool sameColumns(const ZNTColumnList &a, const ZNTColumnList &b) {
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a[i] == b[i])
            continue;
        if (!a[i] || !b[i] || !a[i]->isEqual(*b[i]))
            return false;
    }
    return true;
}

// Where the quoted text that starts at `at` ends (the index of its closing
// quote), for '...', E'...' and "...". -1 when it never ends.
qsizetype quotedEnd(const QString &text, qsizetype at, bool backslashEscapes) {
    const QChar quote = text[at];
    for (qsizetype i = at + 1; i < text.size(); ++i) {
        if (backslashEscapes && text[i] == u'\\') {
            ++i;
        } else if (text[i] == quote) {
            if (i + 1 < text.size() && text[i + 1] == quote)
                ++i; // a doubled quote stands for itself
            else
                return i;
        }
    }
    return -1;
}

bool isIdentifierCharacter(QChar c) {
    return c.isLetterOrNumber() || c == u'_' || c == u'$';
}

// Where each opening parenthesis closes (-1: never), found in one pass: quoted
// text does not count, and nothing after a quote that never ends closes.
std::vector<qsizetype> closingParentheses(const QString &text) {
    std::vector<qsizetype> closing(size_t(text.size()), -1);
    std::vector<qsizetype> open;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\'' || c == u'"') {
            const bool escapeString = c == u'\'' && i > 0 && (text[i - 1] == u'E' || text[i - 1] == u'e') &&
                                      (i < 2 || !isIdentifierCharacter(text[i - 2]));
            i = quotedEnd(text, i, escapeString);
            if (i < 0)
                break;
        } else if (c == u'(') {
            open.push_back(i);
        } else if (c == u')' && !open.empty()) {
            closing[size_t(open.back())] = i;
            open.pop_back();
        }
    }
    return closing;
}

QString quotedNames(const ZNTColumnList &columns, const ZNTConnection &connection) {
    QStringList names;
    for (const auto &column : columns)
        names << connection.quoteIdentifier(column ? column->name() : QString());
    return names.join(QStringLiteral(", "));
}

QString actionClause(ZNTConstraint::ForeignKeyAction action, const QString &event) {
    switch (action) {
    case ZNTConstraint::ZNTForeignKeyActionNoAction:
        return QStringLiteral(" ON %1 NO ACTION").arg(event);
    case ZNTConstraint::ZNTForeignKeyActionRestrict:
        return QStringLiteral(" ON %1 RESTRICT").arg(event);
    case ZNTConstraint::ZNTForeignKeyActionCascade:
        return QStringLiteral(" ON %1 CASCADE").arg(event);
    case ZNTConstraint::ZNTForeignKeyActionSetNull:
        return QStringLiteral(" ON %1 SET NULL").arg(event);
    case ZNTConstraint::ZNTForeignKeyActionSetDefault:
        return QStringLiteral(" ON %1 SET DEFAULT").arg(event);
    default:
        return QString();
    }
}

} // namespace

ZNTConstraint::Type ZNTConstraint::typeForCatalogLetter(QChar letter) {
    switch (letter.unicode()) {
    case 'p':
        return ZNTConstraintTypePrimaryKey;
    case 'c':
        return ZNTConstraintTypeCheck;
    case 'f':
        return ZNTConstraintTypeForeignKey;
    case 'u':
        return ZNTConstraintTypeUnique;
    case 'x':
        return ZNTConstraintTypeExclusion;
    case 't':
        return ZNTConstraintTypeTrigger;
    default:
        return ZNTConstraintTypeUnknown;
    }
}

ZNTConstraint::ForeignKeyAction ZNTConstraint::actionForCatalogLetter(QChar letter) {
    switch (letter.unicode()) {
    case 'a':
        return ZNTForeignKeyActionNoAction;
    case 'r':
        return ZNTForeignKeyActionRestrict;
    case 'c':
        return ZNTForeignKeyActionCascade;
    case 'n':
        return ZNTForeignKeyActionSetNull;
    case 'd':
        return ZNTForeignKeyActionSetDefault;
    default:
        return ZNTForeignKeyActionUnset;
    }
}

// Pairs come off from the outside in while the first parenthesis left closes at
// the last character left; one pass over the text, however deep it nests.
QString ZNTConstraint::checkWithoutEnclosingParentheses(const QString &text) {
    const std::vector<qsizetype> closing = closingParentheses(text);
    qsizetype begin = 0, end = text.size();
    while (begin < end && text[begin] == u'(' && closing[size_t(begin)] == end - 1) {
        ++begin;
        --end;
    }
    return text.mid(begin, end - begin);
}

bool ZNTConstraint::isEqual(const ZNTConstraint &o) const {
    return m_oid == o.m_oid && sameText(m_name, o.m_name) && sameText(m_comment, o.m_comment) && m_type == o.m_type &&
           sameColumns(m_columns, o.m_columns) && sameItem(m_foreignTable, o.m_foreignTable) &&
           m_foreignAttnums == o.m_foreignAttnums && m_deleteMode == o.m_deleteMode && m_updateMode == o.m_updateMode &&
           m_validation == o.m_validation && m_noInherit == o.m_noInherit && sameText(m_check, o.m_check) &&
           sameText(m_SQL, o.m_SQL) && m_markedForDeletion == o.m_markedForDeletion;
}

size_t ZNTConstraint::hash() const {
    return (size_t(m_type) << 10) ^ size_t(m_oid) ^ size_t(m_columns.size()) ^
           (m_foreignTable ? m_foreignTable->hash() : 0);
}

bool ZNTConstraint::blank() const {
    switch (m_type) {
    case ZNTConstraintTypePrimaryKey:
    case ZNTConstraintTypeUnique:
    case ZNTConstraintTypeNotNull:
        return m_columns.isEmpty();
    case ZNTConstraintTypeCheck:
        return m_name.isEmpty() && m_comment.isEmpty() && m_check.isEmpty();
    case ZNTConstraintTypeForeignKey:
        return m_name.isEmpty() && m_comment.isEmpty() && !m_foreignTable && m_foreignAttnums.isEmpty();
    default:
        return false;
    }
}

QString ZNTConstraint::constraintCommandForConnection(const ZNTConnection &connection, ErrorPtr *error) const {
    QString text;
    if (!m_name.isEmpty())
        text += QStringLiteral("CONSTRAINT %1 ").arg(connection.quoteIdentifier(m_name));
    switch (m_type) {
    case ZNTConstraintTypePrimaryKey:
        text += QStringLiteral("PRIMARY KEY (%1)").arg(quotedNames(m_columns, connection));
        break;
    case ZNTConstraintTypeCheck:
        text += QStringLiteral("CHECK (%1)").arg(m_check);
        if (m_noInherit)
            text += QStringLiteral(" NO INHERIT");
        break;
    case ZNTConstraintTypeForeignKey:
        if (!appendForeignKey(text, connection, error))
            return QString();
        break;
    case ZNTConstraintTypeUnique:
        text += QStringLiteral("UNIQUE (%1)").arg(quotedNames(m_columns, connection));
        break;
    default:
        failWith(error, KesError::errorWithFormat(QStringLiteral("Constraint type not implemented")));
        return QString();
    }
    if (m_validation == ZNTConstraintValidationDeferrable)
        text += QStringLiteral(" DEFERRABLE");
    else if (m_validation == ZNTConstraintValidationDeferred)
        text += QStringLiteral(" DEFERRABLE INITIALLY DEFERRED");
    return text;
}

// The referenced columns are named through the referenced table's loaded
// structure; without it the clause would reference no columns at all, which the
// server takes for its primary key: refused instead.
bool ZNTConstraint::appendForeignKey(QString &text, const ZNTConnection &connection, ErrorPtr *error) const {
    if (!m_foreignTable || !m_foreignTable->hasName()) {
        return failWith(error, KesError::errorWithFormat(QStringLiteral("The foreign key references no table.")));
    }
    const auto metadata = m_foreignTable->metadata();
    const QString tableName = QStringLiteral("%1.%2").arg(m_foreignTable->schemaName(), m_foreignTable->name());
    if (!metadata || metadata->metadataState() != ZNTTableMetadata::ZNTMetadataStateLoaded) {
        return failWith(error,
                        KesError::errorWithFormat(
                            QStringLiteral("The structure of the referenced table %1 is not loaded.").arg(tableName)));
    }
    QStringList referenced;
    for (qint64 attnum : m_foreignAttnums) {
        const auto column = metadata->columnForAttnum(attnum);
        if (!column) {
            return failWith(error,
                            KesError::errorWithFormat(QStringLiteral("The referenced table %1 has no column number %2.")
                                                          .arg(tableName, QString::number(attnum))));
        }
        referenced << connection.quoteIdentifier(column->name());
    }
    if (referenced.isEmpty()) {
        return failWith(error,
                        KesError::errorWithFormat(QStringLiteral("The foreign key names no referenced column.")));
    }
    text += QStringLiteral("FOREIGN KEY (%1) REFERENCES %2(%3)")
                .arg(quotedNames(m_columns, connection),
                     Quoting::quoteQualifiedName(m_foreignTable->schemaName(), m_foreignTable->name()),
                     referenced.join(QStringLiteral(", ")));
    text += actionClause(m_deleteMode, QStringLiteral("DELETE"));
    text += actionClause(m_updateMode, QStringLiteral("UPDATE"));
    return true;
}
