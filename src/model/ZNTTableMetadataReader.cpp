#include "ZNTTableMetadataReader.h"

#include "Tablespace.h"
#include "ZNTConstraint.h"
#include "ZNTDatabase.h"
#include "ZNTIndex.h"
#include "ZNTObjectQuery.h"
#include "ZNTTable.h"
#include "engine/KesError.h"
#include "engine/PGScanner.h"
#include "engine/Quoting.h"
#include "engine/SQLExpression.h"
#include "engine/ZNTConnection.h"

#include <QRegularExpression>

namespace {

// The base type of atttypid, through domains over domains (WITH RECURSIVE came
// with 8.4; older servers get the column's own type).
constexpr const char *kBaseTypeSQL =
    R"((WITH RECURSIVE chain AS (SELECT oid, typtype, typbasetype FROM pg_type WHERE oid = atttypid UNION ALL SELECT t.oid, t.typtype, t.typbasetype FROM pg_type t JOIN chain ON t.oid = chain.typbasetype) SELECT oid FROM chain WHERE typtype <> 'd'))";

// The statements of one load, in the order their results are read. The
// expressions of an index are ordered by position, or an expression index could
// name the wrong expression for a position. Row-level security came with
// PostgreSQL 9.5: before it, it is off on every table.
constexpr const char *kRelationSQL =
    R"(SELECT oid, obj_description(oid, 'pg_class') AS comment, case when reltablespace!=0 then (select spcname from pg_tablespace where pg_tablespace.oid=reltablespace) else (select spcname from pg_tablespace, pg_database where pg_tablespace.oid=dattablespace and datname=%1) end as tablespace, pg_get_viewdef(oid,true) AS viewdef, relkind, relhasrules, %3 FROM pg_class WHERE oid = %2::regclass::oid;)";

// basetypid: the type below every domain, which is what the server sends the
// column's values as and what decides how they compare. attidentity came with
// PostgreSQL 10, attgenerated with 12; adbin of a generated column is its
// expression, not a default.
constexpr const char *kColumnsSQL =
    R"(SELECT attnum, attname, atttypid, attnotnull, format_type(atttypid,atttypmod), pg_get_expr(adbin, adrelid) AS adsrc, col_description(attrelid, attnum), %1, %3 AS basetypid, %4, %5
FROM pg_attribute
LEFT JOIN pg_type ON atttypid=pg_type.oid
LEFT JOIN pg_attrdef ON adrelid=attrelid AND adnum=attnum
WHERE attrelid = %2::regclass AND NOT attisdropped
ORDER BY attnum;)";

constexpr const char *kIndexesSQL =
    R"(SELECT pg_class.oid, pg_class.relname, indisunique, indisprimary, %1, indkey, pg_get_indexdef(indexrelid, 0, true) AS definition, ARRAY(select pg_get_indexdef(indexrelid, attnum, true) FROM pg_attribute WHERE attrelid = indexrelid ORDER BY attnum) AS expressions, %2 AS keycount
FROM pg_index
JOIN pg_class ON pg_class.oid = indexrelid
WHERE indrelid = %3::regclass;)";

constexpr const char *kConstraintsSQL =
    R"(SELECT pg_constraint.oid, conname, contype, conkey, nspname AS fschema, relname AS ftable, confkey AS fkeys, pg_get_expr(conbin, conrelid) AS consrc, pg_get_constraintdef(pg_constraint.oid, true), confupdtype, confdeltype, obj_description(pg_constraint.oid, 'pg_constraint'), condeferrable, condeferred, %1, %2
FROM pg_constraint
LEFT JOIN pg_class ON pg_class.oid = confrelid
LEFT JOIN pg_namespace ON pg_namespace.oid = pg_class.relnamespace
WHERE conrelid = %3::regclass;)";

// Positions of the index and constraint results.
enum IndexColumn { IOid, IName, IUnique, IPrimary, IExclusion, IKey, IDefinition, IExpressions, IKeyCount };
enum ConstraintColumn {
    COid,
    CName,
    CType,
    CKey,
    CForeignSchema,
    CForeignTable,
    CForeignKeys,
    CCheck,
    CDefinition,
    CUpdateType,
    CDeleteType,
    CComment,
    CDeferrable,
    CDeferred,
    CNoInherit,
    CParent
};

bool isNull(const RowStore &rows, qsizetype row, int column) {
    return column < 0 || column >= rows.columnCount() || rows.valueAt(row, column).isNull();
}

// oid values come as text, int2 and int4 as numbers.
qint64 integer(const RowStore &rows, qsizetype row, int column) {
    if (column < 0 || column >= rows.columnCount())
        return 0;
    const Value value = rows.valueAt(row, column);
    if (value.kind() == Value::Kind::Int)
        return value.toInt();
    return value.kind() == Value::Kind::String ? value.toString().toLongLong() : 0;
}

bool boolean(const RowStore &rows, qsizetype row, int column) {
    if (column < 0 || column >= rows.columnCount())
        return false;
    const Value value = rows.valueAt(row, column);
    return value.kind() == Value::Kind::Bool && value.toBool();
}

QChar firstCharacter(const QString &s) {
    return s.isEmpty() ? QChar() : s[0];
}

// The elements of a one-dimensional array literal; empty for NULL or bad text.
QStringList arrayElements(const QString &literal) {
    QStringList elements;
    if (literal.isNull())
        return elements;
    if (const auto list = arrayFromPostgresWithDelimiter(literal, QStringLiteral(",")))
        for (const QVariant &element : *list)
            elements << element.toString();
    return elements;
}

QList<qint64> integers(const QStringList &texts) {
    QList<qint64> numbers;
    for (const QString &t : texts)
        numbers << t.toLongLong();
    return numbers;
}

} // namespace

QString ZNTTableMetadata::loadSQL(const ZNTConnection &connection, quint64 version, const ZNTTable &table) {
    const QString relation =
        connection.quoteLiteral(Value::fromString(Quoting::quoteQualifiedName(table.schemaName(), table.name())));
    const QString databaseName = table.database() ? table.database()->name() : QString();
    const QString database = connection.quoteLiteral(Value::fromString(databaseName));
    const QString statements[] = {
        QString::fromUtf8(kRelationSQL)
            .arg(database, relation,
                 version >= 90500 ? QStringLiteral("relrowsecurity") : QStringLiteral("false AS relrowsecurity")),
        QString::fromUtf8(kColumnsSQL)
            .arg(version >= 80400 ? QStringLiteral("typcategory") : QStringLiteral("NULL as typcategory"), relation,
                 version >= 80400 ? QString::fromUtf8(kBaseTypeSQL) : QStringLiteral("atttypid"),
                 version >= 100000 ? QStringLiteral("attidentity") : QStringLiteral("'' AS attidentity"),
                 version >= 120000 ? QStringLiteral("attgenerated") : QStringLiteral("'' AS attgenerated")),
        QString::fromUtf8(kIndexesSQL)
            .arg(version >= 90100 ? QStringLiteral("indisexclusion") : QStringLiteral("false AS indisexclusion"),
                 version >= 110000 ? QStringLiteral("indnkeyatts") : QStringLiteral("indnatts"), relation),
        QString::fromUtf8(kConstraintsSQL)
            .arg(version >= 90200 ? QStringLiteral("connoinherit") : QStringLiteral("NULL AS connoinherit"),
                 version >= 110000 ? QStringLiteral("conparentid") : QStringLiteral("0 AS conparentid"), relation),
    };
    return QStringLiteral("%1\n%2\n%3\n%4\n").arg(statements[0], statements[1], statements[2], statements[3]);
}

ErrorPtr ZNTTableMetadataReader::read(const QList<std::shared_ptr<ZNTResult>> &results) {
    if (results.size() != 4)
        return KesError::errorWithFormat(
            QStringLiteral("Failed to load table column and primary key information; expected 4 results, got %1.")
                .arg(results.size()));
    for (const auto &result : results)
        if (!result || !result->rows())
            return KesError::errorWithCode(1,
                                           QStringLiteral("Failed to load table column and primary key information."));
    if (ErrorPtr error = readRelation(*results[0]))
        return error;
    readColumns(*results[1]);
    readIndexes(*results[2]);
    readConstraints(*results[3]);

    m.m_oid = oid;
    m.m_comment = comment;
    m.m_tablespace = tablespace;
    m.m_viewDef = viewDef;
    m.m_relationKind = relationKind;
    m.m_hasRules = hasRules;
    m.m_rowSecurity = rowSecurity;
    m.m_columns = columns;
    m.m_systemColumns = systemColumns;
    m.m_displayColumns = displayColumns;
    m.m_columnsForAttnum = columnsForAttnum;
    m.m_oidColumn = oidColumn;
    m.m_indexes = indexes;
    m.m_primaryKeyIndex = primaryKeyIndex;
    m.m_constraints = constraints;
    return nullptr;
}

ErrorPtr ZNTTableMetadataReader::readRelation(const ZNTResult &result) {
    const auto rows = result.rows();
    // The relation may be gone by the time pg_class is read.
    if (rows->rowCount() < 1 || rows->columnCount() < 4)
        return KesError::errorWithCode(1, QStringLiteral("Failed to load table schema."),
                                       QStringLiteral("The relation was not found."));
    oid = integer(*rows, 0, 0);
    comment = catalogText(*rows, 0, 1);
    tablespace = Tablespace::create(catalogText(*rows, 0, 2));
    viewDef = catalogText(*rows, 0, 3);
    relationKind = firstCharacter(catalogText(*rows, 0, 4)).toLatin1();
    hasRules = boolean(*rows, 0, 5);
    if (!isNull(*rows, 0, 6))
        rowSecurity = boolean(*rows, 0, 6);
    return nullptr;
}

void ZNTTableMetadataReader::readColumns(const ZNTResult &result) {
    const auto rows = result.rows();
    const auto at = [&result](const char *name) { return int(result.columnNumberForName(QLatin1String(name))); };
    const int attnum = at("attnum"), attname = at("attname"), atttypid = at("atttypid"), attnotnull = at("attnotnull"),
              formatType = at("format_type"), adsrc = at("adsrc"), description = at("col_description"),
              typcategory = at("typcategory"), basetypid = at("basetypid"), attidentity = at("attidentity"),
              attgenerated = at("attgenerated");
    const auto connection = m.connection();
    const bool redshift = connection && connection->isRedshift();
    for (qsizetype r = 0; r < rows->rowCount(); ++r) {
        auto column = std::make_shared<ZNTColumn>(catalogText(*rows, r, attname));
        column->setAttnum(integer(*rows, r, attnum));
        column->setTypeOid(integer(*rows, r, isNull(*rows, r, basetypid) ? atttypid : basetypid));
        column->setTypeName(catalogText(*rows, r, formatType));
        column->setIdentity(firstCharacter(catalogText(*rows, r, attidentity)).toLatin1());
        column->setGenerated(firstCharacter(catalogText(*rows, r, attgenerated)).toLatin1());
        const QString defaultText = catalogText(*rows, r, adsrc);
        if (column->isGenerated())
            column->setGenerationExpression(defaultText);
        else if (!defaultText.isNull() && connection)
            column->setDefaultExpression(SQLExpression::withSrc(defaultText, column->typeName(), *connection));
        column->setComment(catalogText(*rows, r, description));
        column->setNotNull(boolean(*rows, r, attnotnull));
        const QString category = catalogText(*rows, r, typcategory);
        if (!category.isEmpty())
            column->setTypeCategory(category.toLatin1().at(0));

        if (column->attnum() > 0) {
            columns << column;
            displayColumns << column;
        } else {
            systemColumns << column;
            if (ZNTTableMetadata::isOidColumn(*column)) {
                oidColumn = column;
                if (!redshift)
                    displayColumns << column; // rows come by attnum: before every user column
            }
        }
        columnsForAttnum.insert(column->attnum(), column);
    }
}

void ZNTTableMetadataReader::readIndexes(const ZNTResult &result) {
    const auto rows = result.rows();
    for (qsizetype r = 0; r < rows->rowCount(); ++r) {
        auto index = std::make_shared<ZNTIndex>();
        index->setOid(integer(*rows, r, IOid));
        index->setName(catalogText(*rows, r, IName));
        index->setType(boolean(*rows, r, IPrimary)     ? ZNTIndex::ZNTIndexTypePrimary
                       : boolean(*rows, r, IUnique)    ? ZNTIndex::ZNTIndexTypeUnique
                       : boolean(*rows, r, IExclusion) ? ZNTIndex::ZNTIndexTypeExclusion
                                                       : ZNTIndex::ZNTIndexTypePlain);
        index->setSQL(catalogText(*rows, r, IDefinition));

        // Only the key positions: columns after them are INCLUDEd, not keyed.
        const QStringList attnums =
            catalogText(*rows, r, IKey).split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
        const QStringList expressions = arrayElements(catalogText(*rows, r, IExpressions));
        const qint64 keyCount = isNull(*rows, r, IKeyCount) ? attnums.size() : integer(*rows, r, IKeyCount);
        QList<ZNTIndex::Part> parts;
        for (qsizetype i = 0; i < attnums.size() && i < keyCount; ++i) {
            ZNTIndex::Part part;
            part.column = columnsForAttnum.value(attnums[i].toLongLong());
            if (!part.column)
                part.expression = expressions.value(i);
            parts << part;
        }
        index->setColumns(parts);
        if (index->type() == ZNTIndex::ZNTIndexTypePrimary)
            primaryKeyIndex = index;
        indexes << index;
    }
}

void ZNTTableMetadataReader::readConstraints(const ZNTResult &result) {
    const auto rows = result.rows();
    for (qsizetype r = 0; r < rows->rowCount(); ++r) {
        // A partition's copy of its parent's constraint belongs to the parent.
        if (integer(*rows, r, CParent) != 0)
            continue;
        constraints << constraintFromRow(*rows, r);
    }
}

std::shared_ptr<ZNTConstraint> ZNTTableMetadataReader::constraintFromRow(const RowStore &rows, qsizetype r) const {
    auto constraint = std::make_shared<ZNTConstraint>();
    constraint->setOid(integer(rows, r, COid));
    constraint->setName(catalogText(rows, r, CName));
    constraint->setType(ZNTConstraint::typeForCatalogLetter(firstCharacter(catalogText(rows, r, CType))));
    constraint->setUpdateMode(ZNTConstraint::actionForCatalogLetter(firstCharacter(catalogText(rows, r, CUpdateType))));
    constraint->setDeleteMode(ZNTConstraint::actionForCatalogLetter(firstCharacter(catalogText(rows, r, CDeleteType))));
    const bool deferrable = boolean(rows, r, CDeferrable);
    constraint->setValidation(deferrable && boolean(rows, r, CDeferred) ? ZNTConstraint::ZNTConstraintValidationDeferred
                              : deferrable ? ZNTConstraint::ZNTConstraintValidationDeferrable
                                           : ZNTConstraint::ZNTConstraintValidationNotDeferrable);
    constraint->setNoInherit(boolean(rows, r, CNoInherit));
    if (!isNull(rows, r, CKey))
        constraint->setColumns(columnsForAttnums(integers(arrayElements(catalogText(rows, r, CKey)))));
    if (!isNull(rows, r, CForeignSchema)) {
        const auto table = m.table();
        constraint->setForeignTable(ZNTTable::create(catalogText(rows, r, CForeignTable),
                                                     catalogText(rows, r, CForeignSchema),
                                                     table ? table->database() : nullptr));
        constraint->setForeignAttnums(integers(arrayElements(catalogText(rows, r, CForeignKeys))));
    }
    if (!isNull(rows, r, CCheck))
        constraint->setCheck(ZNTConstraint::checkWithoutEnclosingParentheses(catalogText(rows, r, CCheck)));
    if (!isNull(rows, r, CComment))
        constraint->setComment(catalogText(rows, r, CComment));
    constraint->setSQL(catalogText(rows, r, CDefinition));
    return constraint;
}

ZNTColumnList ZNTTableMetadataReader::columnsForAttnums(const QList<qint64> &attnums) const {
    ZNTColumnList list;
    for (qint64 attnum : attnums)
        if (auto column = columnsForAttnum.value(attnum))
            list << column;
    return list;
}
