#pragma once

#include "engine/ZNTResult.h"
#include "platform/Error.h"

#include <QList>
#include <QString>
#include <memory>

class ZNTConnection;
class ZNTTable;

// One constraint of a table: loaded from the catalog by the table metadata,
// copied and edited by the structure editor, compared by the statement builders,
// and able to write its own clause for CREATE TABLE and ALTER TABLE ... ADD.
// A plain value; copies share their column entries.
class ZNTConstraint {
public:
    enum Type : int {
        ZNTConstraintTypeUnknown = 0,
        ZNTConstraintTypePrimaryKey = 1, // catalog 'p'
        ZNTConstraintTypeCheck = 2,      // 'c'
        ZNTConstraintTypeForeignKey = 3, // 'f'
        ZNTConstraintTypeUnique = 4,     // 'u'
        ZNTConstraintTypeExclusion = 5,  // 'x'
        ZNTConstraintTypeTrigger = 6,    // 't'
        ZNTConstraintTypeNotNull = 7,    // one column's NOT NULL, made by the structure editor only
    };
    enum ForeignKeyAction : int {
        ZNTForeignKeyActionUnset = 0,
        ZNTForeignKeyActionNoAction = 1,   // 'a'
        ZNTForeignKeyActionRestrict = 2,   // 'r'
        ZNTForeignKeyActionCascade = 3,    // 'c'
        ZNTForeignKeyActionSetNull = 4,    // 'n'
        ZNTForeignKeyActionSetDefault = 5, // 'd'
    };
    enum Validation : int {
        ZNTConstraintValidationUnset = 0,
        ZNTConstraintValidationNotDeferrable = 1,
        ZNTConstraintValidationDeferred = 2,   // deferrable, initially deferred
        ZNTConstraintValidationDeferrable = 3, // deferrable, initially immediate
    };

    // The catalog's letters (contype, confupdtype/confdeltype) as codes; 0 for
    // any other letter.
    static Type typeForCatalogLetter(QChar letter);
    static ForeignKeyAction actionForCatalogLetter(QChar letter);
    // A check expression as the server prints it, without the parentheses that
    // enclose all of it: ((a > 0)) gives a > 0, (a > 0) OR (b > 0) stays whole.
    // Parentheses inside quoted literals and identifiers do not count.
    static QString checkWithoutEnclosingParentheses(const QString &text);

    std::shared_ptr<ZNTConstraint> copy() const { return std::make_shared<ZNTConstraint>(*this); }
    // Every field of other into this one (the editor writes an edited copy back).
    void takeValuesFromConstraint(const ZNTConstraint &other) { *this = other; }

    // Field by field in declaration order; empty and null texts are alike.
    bool isEqual(const ZNTConstraint &other) const;
    bool operator==(const ZNTConstraint &other) const { return isEqual(other); }
    size_t hash() const;

    // Says nothing yet: a primary key, unique or NOT NULL without columns, a
    // check without name, comment and expression, a foreign key without name,
    // comment, referenced table and referenced columns.
    bool blank() const;

    // The clause for CREATE TABLE and ALTER TABLE ... ADD, identifiers quoted for
    // connection. Null with *error set for a type that has no clause, and for a
    // foreign key whose referenced table's structure is not loaded or lacks a
    // referenced column (its column names come from there).
    QString constraintCommandForConnection(const ZNTConnection &connection, ErrorPtr *error) const;

    qint64 oid() const { return m_oid; } // 0 for a constraint made in the editor
    void setOid(qint64 oid) { m_oid = oid; }
    QString name() const { return m_name; } // empty: the server names it
    void setName(const QString &name) { m_name = name; }
    QString comment() const { return m_comment; }
    void setComment(const QString &comment) { m_comment = comment; }
    Type type() const { return m_type; }
    void setType(Type type) { m_type = type; }
    // The constrained columns in order: the loaded metadata's columns, or in
    // the structure editor columns carrying the edited names. The clause uses
    // only their names; equality compares them as columns do (by name).
    const ZNTColumnList &columns() const { return m_columns; }
    void setColumns(const ZNTColumnList &columns) { m_columns = columns; }
    std::shared_ptr<ZNTTable> foreignTable() const { return m_foreignTable; }
    void setForeignTable(const std::shared_ptr<ZNTTable> &table) { m_foreignTable = table; }
    // Attribute numbers of the referenced columns, in the order of columns().
    const QList<qint64> &foreignAttnums() const { return m_foreignAttnums; }
    void setForeignAttnums(const QList<qint64> &attnums) { m_foreignAttnums = attnums; }
    ForeignKeyAction deleteMode() const { return m_deleteMode; }
    void setDeleteMode(ForeignKeyAction mode) { m_deleteMode = mode; }
    ForeignKeyAction updateMode() const { return m_updateMode; }
    void setUpdateMode(ForeignKeyAction mode) { m_updateMode = mode; }
    Validation validation() const { return m_validation; }
    void setValidation(Validation validation) { m_validation = validation; }
    bool noInherit() const { return m_noInherit; }
    void setNoInherit(bool noInherit) { m_noInherit = noInherit; }
    // The CHECK expression without its enclosing parentheses.
    QString check() const { return m_check; }
    void setCheck(const QString &check) { m_check = check; }
    // The server's definition of a loaded constraint.
    QString SQL() const { return m_SQL; }
    void setSQL(const QString &sql) { m_SQL = sql; }
    bool markedForDeletion() const { return m_markedForDeletion; }
    void setMarkedForDeletion(bool marked) { m_markedForDeletion = marked; }

private:
    bool appendForeignKey(QString &text, const ZNTConnection &connection, ErrorPtr *error) const;

    qint64 m_oid = 0;
    QString m_name;
    QString m_comment;
    Type m_type = ZNTConstraintTypeUnknown;
    ZNTColumnList m_columns;
    std::shared_ptr<ZNTTable> m_foreignTable;
    QList<qint64> m_foreignAttnums;
    ForeignKeyAction m_deleteMode = ZNTForeignKeyActionUnset;
    ForeignKeyAction m_updateMode = ZNTForeignKeyActionUnset;
    Validation m_validation = ZNTConstraintValidationUnset;
    bool m_noInherit = false;
    QString m_check;
    QString m_SQL;
    bool m_markedForDeletion = false;
};
