#pragma once

#include "ZNTObject.h"
#include "engine/Value.h"
#include "engine/ZNTResult.h"

#include <QList>
#include <memory>
#include <vector>

class ZNTConstraint;
class ZNTTable;
class ZNTTableMetadata;

using ZNTRowValues = std::vector<Value>;

// One row of a table, view or materialized view as the table browser and the
// row editor hold it: columns and values side by side, the table's constraints,
// the key columns and a title, so that it can be shown, navigated to and
// duplicated. Also a read-only row of a query result. Main thread.
//
// The key is the primary key; else the oid column (servers with oids, not
// Redshift); else every display column, a pseudo key, and then the row has no
// title.
class ZNTRow : public ZNTObject, public std::enable_shared_from_this<ZNTRow> {
public:
    // A row of table from explicit parts; parent is the table.
    static std::shared_ptr<ZNTRow> create(const std::shared_ptr<ZNTTable> &table, const ZNTColumnList &columns,
                                          const QList<std::shared_ptr<ZNTConstraint>> &constraints,
                                          const ZNTColumnList &keyColumns, bool pseudoKey, const ZNTRowValues &values);
    // A row of a relation whose structure is loaded (else "MetadataMissing"):
    // values are in the order of its display columns. metadata: the structure
    // the values were read with; null for the table's cached one.
    static std::shared_ptr<ZNTRow> createWithTable(const std::shared_ptr<ZNTTable> &table, const ZNTRowValues &values,
                                                   const std::shared_ptr<ZNTTableMetadata> &metadata = nullptr);
    // A new row made from an existing row's values: titled "Duplicate of ...",
    // its key columns DEFAULT (unless the key is a pseudo key), and so are its
    // generated columns and GENERATED ALWAYS identity columns.
    static std::shared_ptr<ZNTRow> createDuplicate(const std::shared_ptr<ZNTTable> &table, const ZNTRowValues &values,
                                                   const std::shared_ptr<ZNTTableMetadata> &metadata = nullptr);
    // A read-only row of a query result, hung under parent.
    static std::shared_ptr<ZNTRow> createWithColumns(const ZNTColumnList &columns, const ZNTRowValues &values,
                                                     const std::shared_ptr<ZNTObject> &parent);

    // The title, or empty.
    QString name() const override { return m_name; }
    void setName(const QString &name) { m_name = name; }
    // The table, or for a referenced row the row that points to it.
    std::shared_ptr<ZNTObject> parent() const override { return m_parent.lock(); }
    void setParent(const std::shared_ptr<ZNTObject> &parent) { m_parent = parent; }
    ZNTObjectKind objectKind() const override { return ZNTObjectKind::Row; }

    bool usePseudoKey() const { return m_usePseudoKey; }
    bool isNewRow() const { return m_isNewRow; }
    // Rows of views, materialized views and query results.
    bool isReadOnly() const { return m_isReadOnly; }
    std::shared_ptr<ZNTTable> table() const { return m_table; }
    const ZNTColumnList &columns() const { return m_columns; }
    const ZNTColumnList &keyColumns() const { return m_keyColumns; }
    const QList<std::shared_ptr<ZNTConstraint>> &constraints() const { return m_constraints; }
    const ZNTRowValues &values() const { return m_values; }

    // Where column stands in columns() (by column equality), or -1.
    qsizetype indexOfColumn(const ZNTColumn &column) const;

protected:
    ZNTRow() = default;
    // "name value, name value" of the given key columns; empty when a value is missing.
    QString titleForKey(const ZNTColumnList &key) const;

    bool m_usePseudoKey = false;
    bool m_isNewRow = false;
    bool m_isReadOnly = false;
    std::shared_ptr<ZNTTable> m_table;
    ZNTColumnList m_columns;
    ZNTColumnList m_keyColumns;
    QList<std::shared_ptr<ZNTConstraint>> m_constraints;
    ZNTRowValues m_values;
    QString m_name;
    std::weak_ptr<ZNTObject> m_parent;
};
