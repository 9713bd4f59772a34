#pragma once

// Turns the four results of a table-metadata load into the metadata's fields.
// Belongs to ZNTTableMetadata; not for other classes.

#include "ZNTTableMetadata.h"

class ZNTTableMetadataReader {
public:
    explicit ZNTTableMetadataReader(ZNTTableMetadata &metadata) : m(metadata) {}
    // Fills the metadata from the results, or leaves it as it was and answers
    // the error.
    ErrorPtr read(const QList<std::shared_ptr<ZNTResult>> &results);

private:
    ErrorPtr readRelation(const ZNTResult &result);
    void readColumns(const ZNTResult &result);
    void readIndexes(const ZNTResult &result);
    void readConstraints(const ZNTResult &result);
    std::shared_ptr<ZNTConstraint> constraintFromRow(const RowStore &rows, qsizetype row) const;
    ZNTColumnList columnsForAttnums(const QList<qint64> &attnums) const;

    ZNTTableMetadata &m;
    // Filled while reading, moved into the metadata only when everything read.
    qint64 oid = 0;
    QString comment;
    std::shared_ptr<Tablespace> tablespace;
    QString viewDef;
    char relationKind = 0;
    bool hasRules = false;
    std::optional<bool> rowSecurity;
    ZNTColumnList columns, systemColumns, displayColumns;
    QHash<qint64, std::shared_ptr<ZNTColumn>> columnsForAttnum;
    std::shared_ptr<ZNTColumn> oidColumn;
    QList<std::shared_ptr<ZNTIndex>> indexes;
    std::shared_ptr<ZNTIndex> primaryKeyIndex;
    QList<std::shared_ptr<ZNTConstraint>> constraints;
};
