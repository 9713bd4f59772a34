#pragma once

#include "SQLExpression.h"

#include <QString>
#include <memory>

// A column of a query result (name, type OID, source table and column) or of a
// table's metadata (name, attnum, type, category, NOT NULL, comment, default,
// identity and generation).
// Columns are equal when their names are (a null name and "" alike). The model
// derives a pseudo-column from it (the any-column of row filters), so it is
// polymorphic.
class ZNTColumn {
public:
    ZNTColumn() = default;
    explicit ZNTColumn(QString name) : m_name(std::move(name)) {}
    ZNTColumn(const ZNTColumn &) = default;
    ZNTColumn &operator=(const ZNTColumn &) = default;
    virtual ~ZNTColumn() = default;

    char typeCategory() const { return m_typeCategory; } // pg_type.typcategory; 0 when unknown
    void setTypeCategory(char category) { m_typeCategory = category; }
    bool notNull() const { return m_notNull; }
    void setNotNull(bool notNull) { m_notNull = notNull; }
    const QString &name() const { return m_name; }
    void setName(const QString &name) { m_name = name; }
    qint64 attnum() const { return m_attnum; }
    void setAttnum(qint64 attnum) { m_attnum = attnum; }
    qint64 typeOid() const { return m_typeOid; }
    void setTypeOid(qint64 oid) { m_typeOid = oid; }
    const QString &typeName() const { return m_typeName; }
    void setTypeName(const QString &typeName) { m_typeName = typeName; }
    const QString &comment() const { return m_comment; }
    void setComment(const QString &comment) { m_comment = comment; }
    const SQLExpression &defaultExpression() const { return m_defaultExpression; }
    void setDefaultExpression(const SQLExpression &expression) { m_defaultExpression = expression; }
    // pg_attribute.attidentity (PostgreSQL 10 on): 'a' GENERATED ALWAYS AS
    // IDENTITY, 'd' BY DEFAULT; 0 for none.
    char identity() const { return m_identity; }
    void setIdentity(char identity) { m_identity = identity; }
    // pg_attribute.attgenerated (PostgreSQL 12 on): 's' stored, 'v' virtual; 0
    // for none. A generated column's expression is no default: it stands here.
    char generated() const { return m_generated; }
    void setGenerated(char generated) { m_generated = generated; }
    const QString &generationExpression() const { return m_generationExpression; }
    void setGenerationExpression(const QString &expression) { m_generationExpression = expression; }
    bool isGenerated() const { return m_generated != 0; }
    // The server refuses a given value unless told OVERRIDING SYSTEM VALUE.
    bool isIdentityAlways() const { return m_identity == 'a'; }
    qint64 sourceTableOid() const { return m_sourceTableOid; }
    void setSourceTableOid(qint64 oid) { m_sourceTableOid = oid; }
    qint64 sourceTableAttnum() const { return m_sourceTableAttnum; }
    void setSourceTableAttnum(qint64 attnum) { m_sourceTableAttnum = attnum; }

    // With a category: exactly category 'N'. Without: int8, int2, int4, oid,
    // float4, float8 (numeric is not, it has no binary number form here).
    bool isNumeric() const;
    bool isBytea() const { return m_typeOid == 17; }

    bool isEqual(const ZNTColumn &other) const;
    bool operator==(const ZNTColumn &other) const { return isEqual(other); }
    virtual size_t hash() const;

    // A new column with everything but the source table and its column, which
    // belong to one result only.
    virtual std::shared_ptr<ZNTColumn> copy() const;

private:
    char m_typeCategory = 0;
    bool m_notNull = false;
    QString m_name;
    qint64 m_attnum = 0;
    qint64 m_typeOid = 0;
    QString m_typeName;
    QString m_comment;
    SQLExpression m_defaultExpression;
    char m_identity = 0;
    char m_generated = 0;
    QString m_generationExpression;
    qint64 m_sourceTableOid = 0;
    qint64 m_sourceTableAttnum = 0;
};

inline size_t qHash(const ZNTColumn &column, size_t seed = 0) {
    return column.hash() ^ seed;
}
