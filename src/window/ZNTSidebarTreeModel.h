#pragma once

#include "model/ZNTObject.h"
#include "model/ZNTObjectKey.h"
#include "platform/Error.h"
#include "platform/NotificationCenter.h"

#include <QAbstractItemModel>
#include <QHash>
#include <map>
#include <memory>
#include <vector>

class ZNTObjectQuery;

// The object tree under one root (a server or a database) as the navigation
// sidebar shows it, loaded level by level from the catalog: the root's level
// when the root is set, any other level when it is first expanded.
//
// A level not loaded yet shows one "Loading" row; a level whose listing failed
// shows what did arrive and an error row last. Neither kind of row can be
// selected. Each object is kept as one instance per equal object: a reload that
// lists new but equal items keeps the rows, and with them their expansion and
// selection; rows change by inserts, moves and removals, never by a reset.
//
// Every load carries the root and the level it was started for; an answer for
// a root no longer shown, or for a level loaded again meanwhile, is dropped.
// main thread
class ZNTSidebarTreeModel : public QAbstractItemModel {
    Q_OBJECT
public:
    enum class RowKind { Item, Loading, Error };

    explicit ZNTSidebarTreeModel(QObject *parent = nullptr);
    ~ZNTSidebarTreeModel() override;

    std::shared_ptr<ZNTObject> rootItem() const;
    // An equal root changes nothing; another one forgets every level, the kept
    // instances and the loads under way, and loads its first level.
    void setRootItem(const std::shared_ptr<ZNTObject> &root);
    // Starts loading the level under index unless it was requested before.
    void loadChildrenIfNeeded(const QModelIndex &index);
    // Loads the root's level and every level requested so far again.
    void performReload();

    RowKind rowKind(const QModelIndex &index) const;
    std::shared_ptr<ZNTObject> itemForIndex(const QModelIndex &index) const;
    ErrorPtr errorForIndex(const QModelIndex &index) const;
    // The row of the kept instance equal to item; invalid when none is in the tree.
    QModelIndex indexForItem(const ZNTObject &item) const;
    // The kept instance equal to item, or null.
    std::shared_ptr<ZNTObject> memberEqualTo(const ZNTObject &item) const;
    // Loads started and not answered yet.
    int runningLoads() const { return int(m_loads.size()); }

    QModelIndex index(int row, int column, const QModelIndex &parent = {}) const override;
    QModelIndex parent(const QModelIndex &index) const override;
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    bool hasChildren(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

signals:
    // The children of parent (invalid: the root) have arrived and are in place.
    void levelLoaded(const QModelIndex &parent);

private:
    struct Node;
    struct Entry;
    struct Load;

    Node *nodeOf(const QModelIndex &index) const;
    QModelIndex indexOf(const Node *node) const;
    std::unique_ptr<Node> makeNode(const Entry &entry, Node *parent);
    void startLoad(Node *node);
    void loadDone(quint64 loadId);
    std::vector<Entry> entriesOf(const ZNTObjectQuery &query);
    void applyChildren(Node *node, const std::vector<Entry> &entries);
    void removeRowsNotIn(Node *node, const std::vector<Entry> &entries);
    void removeRows(Node *node, int first, int last);
    void moveRow(Node *node, int from, int to);
    void insertRows(Node *node, int at, const std::vector<Entry> &entries, size_t from, size_t to);
    void dropLoads(Node *node);
    const Node *findNode(const Node *node, const ZNTObject &item) const;

    std::unique_ptr<Node> m_root;
    QHash<ZNTObjectKey, std::shared_ptr<ZNTObject>> m_allItems;
    std::map<quint64, Load> m_loads;
    quint64 m_nextLoadId = 0;
    quint64 m_generation = 0;
};
