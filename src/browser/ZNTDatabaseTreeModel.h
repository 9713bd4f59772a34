#pragma once

#include "ZNTDatabaseOverview.h"
#include "model/ZNTObject.h"

#include <QAbstractItemModel>
#include <memory>
#include <vector>

class ZNTDatabase;
class ZNTQueryObject;
class ZNTSchema;
class ZNTTable;

// The tree the database page shows in both its list and its grid: the
// database's "SQL Query" item, then one row per schema that has relations,
// each with its tables, views and materialized views, in the order of
// ZNTDatabaseOverview. Columns: name, schema, kind, rows, size and index size;
// column 0 also answers the grid's roles (big image, identity: ZNTObjectKey).
//
// The tree changes by inserting and removing rows, never by a reset, so that
// the views keep what the user opened and selected. main thread
class ZNTDatabaseTreeModel : public QAbstractItemModel {
    Q_OBJECT
public:
    enum Column { Name, Schema, Kind, Rows, Size, IndexSize, ColumnCount };

    explicit ZNTDatabaseTreeModel(std::shared_ptr<ZNTDatabase> database, QObject *parent = nullptr);
    ~ZNTDatabaseTreeModel() override;

    std::shared_ptr<ZNTDatabase> database() const { return m_database; }
    // The tree becomes exactly objects: rows of items no longer there go,
    // new ones come in; an equal item that stays keeps its row and takes the
    // new item's estimates.
    void replaceObjects(const ZNTObjectList &objects);
    // Adds relations that are not in the tree yet.
    void appendObjects(const ZNTObjectList &objects);

    std::shared_ptr<ZNTObject> itemForIndex(const QModelIndex &index) const;
    QModelIndex indexForItem(const ZNTObject &item) const;
    QModelIndex schemaIndex(const QString &name) const;
    // The identity of an item as the grid keys it.
    static QVariant identity(const std::shared_ptr<ZNTObject> &item);
    // The texts of the list's columns for an item ("--" where there is nothing to say).
    static QString columnText(const ZNTObject &item, int column);

    QModelIndex index(int row, int column, const QModelIndex &parent = {}) const override;
    QModelIndex parent(const QModelIndex &index) const override;
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    bool hasChildren(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    struct SchemaRow;

    SchemaRow *schemaOf(const QModelIndex &index) const;
    int schemaRowFor(const QString &name) const;
    void renumberSchemas();
    void removeSchemasNotIn(const std::vector<ZNTDatabaseOverview::Group> &groups);
    void insertSchema(int row, ZNTDatabaseOverview::Group group);
    void replaceRelations(SchemaRow &schema, std::vector<std::shared_ptr<ZNTTable>> relations);
    void mergeRelations(SchemaRow &schema, std::vector<std::shared_ptr<ZNTTable>> relations);

    std::shared_ptr<ZNTDatabase> m_database;
    std::shared_ptr<ZNTQueryObject> m_queryItem;
    std::vector<std::unique_ptr<SchemaRow>> m_schemas; // rows 1...
};
