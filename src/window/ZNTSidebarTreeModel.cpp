#include "ZNTSidebarTreeModel.h"

#include "actions/ZNTObjectImages.h"
#include "model/ZNTObjectQuery.h"
#include "platform/ProgramError.h"
#include "uikit/PlainToolTip.h"

#include <QApplication>
#include <QSet>
#include <QStyle>

struct ZNTSidebarTreeModel::Entry {
    RowKind kind = RowKind::Item;
    std::shared_ptr<ZNTObject> item;
    ErrorPtr error;
};

struct ZNTSidebarTreeModel::Node {
    RowKind kind = RowKind::Item;
    std::shared_ptr<ZNTObject> item;
    ErrorPtr error;
    Node *parent = nullptr;
    int row = 0;
    std::vector<std::unique_ptr<Node>> children;
    bool expandable = false;
    bool requested = false; // its level was asked for at least once
    quint64 loadId = 0;     // the load under way for its level, 0 for none

    void renumber() {
        for (size_t i = 0; i < children.size(); ++i)
            children[i]->row = int(i);
    }
};

// A listing under way for one level, with what it was started for.
struct ZNTSidebarTreeModel::Load {
    Node *node = nullptr;
    quint64 generation = 0;
    ZNTObjectKey item;
    ZNTObjectKey root;
    std::shared_ptr<ZNTObjectQuery> query;
    ObserverToken done;
};

namespace {
bool entryMatches(const ZNTObject *nodeItem, ZNTSidebarTreeModel::RowKind nodeKind, ZNTSidebarTreeModel::RowKind kind,
                  const std::shared_ptr<ZNTObject> &item) {
    if (nodeKind != kind)
        return false;
    if (kind != ZNTSidebarTreeModel::RowKind::Item)
        return true; // one "Loading" row, one error row per level
    return nodeItem == item.get() || (nodeItem && item && nodeItem->isEqual(*item));
}
} // namespace

ZNTSidebarTreeModel::ZNTSidebarTreeModel(QObject *parent) : QAbstractItemModel(parent) {}

ZNTSidebarTreeModel::~ZNTSidebarTreeModel() {
    for (auto &[id, load] : m_loads) {
        if (load.query)
            load.query->cancel();
    }
}

std::shared_ptr<ZNTObject> ZNTSidebarTreeModel::rootItem() const {
    return m_root ? m_root->item : nullptr;
}

void ZNTSidebarTreeModel::setRootItem(const std::shared_ptr<ZNTObject> &root) {
    requireMainThread("ZNTSidebarTreeModel::setRootItem");
    const auto current = rootItem();
    if (current == root || (current && root && current->isEqual(*root)))
        return;
    beginResetModel();
    // Loads of the former root may still answer: they find nothing to fill.
    for (auto &[id, load] : m_loads) {
        if (load.query)
            load.query->cancel();
    }
    m_loads.clear();
    ++m_generation;
    m_allItems.clear();
    m_root.reset();
    if (root)
        m_root = makeNode(Entry{RowKind::Item, root, nullptr}, nullptr);
    endResetModel();
    if (m_root)
        startLoad(m_root.get());
}

std::unique_ptr<ZNTSidebarTreeModel::Node> ZNTSidebarTreeModel::makeNode(const Entry &entry, Node *parent) {
    auto node = std::make_unique<Node>();
    node->kind = entry.kind;
    node->item = entry.item;
    node->error = entry.error;
    node->parent = parent;
    node->expandable = entry.kind == RowKind::Item && entry.item && entry.item->descendantQuery();
    if (node->expandable) {
        auto loading = std::make_unique<Node>();
        loading->kind = RowKind::Loading;
        loading->parent = node.get();
        node->children.push_back(std::move(loading));
    }
    return node;
}

void ZNTSidebarTreeModel::loadChildrenIfNeeded(const QModelIndex &index) {
    Node *node = nodeOf(index);
    if (node && node->expandable && !node->requested)
        startLoad(node);
}

void ZNTSidebarTreeModel::performReload() {
    requireMainThread("ZNTSidebarTreeModel::performReload");
    if (!m_root)
        return;
    std::vector<Node *> requested;
    std::vector<Node *> stack{m_root.get()};
    while (!stack.empty()) {
        Node *node = stack.back();
        stack.pop_back();
        if (node->requested || node == m_root.get())
            requested.push_back(node);
        for (auto &child : node->children)
            stack.push_back(child.get());
    }
    for (Node *node : requested)
        startLoad(node);
}

void ZNTSidebarTreeModel::startLoad(Node *node) {
    auto query = node->item ? node->item->descendantQuery() : nullptr;
    if (!query)
        return;
    node->requested = true;
    // One load per level: the latest one wins.
    if (node->loadId) {
        if (auto old = m_loads.find(node->loadId); old != m_loads.end()) {
            old->second.query->cancel();
            m_loads.erase(old);
        }
    }
    const quint64 id = ++m_nextLoadId;
    node->loadId = id;
    query->setForSidebar(true);
    Load &load = m_loads[id];
    load.node = node;
    load.generation = m_generation;
    load.item = ZNTObjectKey(node->item);
    load.root = ZNTObjectKey(m_root->item);
    load.query = query;
    load.done = NotificationCenter::defaultCenter().observeNext(ZNTObjectQuery::DoneNotification, query.get(),
                                                                [this, id](const Notification &) { loadDone(id); });
    query->executeInBackground();
}

void ZNTSidebarTreeModel::loadDone(quint64 loadId) {
    auto found = m_loads.find(loadId);
    if (found == m_loads.end())
        return;
    Load load = std::move(found->second);
    m_loads.erase(found);
    Node *node = load.node;
    // Started for another root, or for a level that has been loaded again or
    // left the tree since: not this level's answer.
    if (load.generation != m_generation || !m_root || !(load.root == ZNTObjectKey(m_root->item)) ||
        node->loadId != loadId || !(load.item == ZNTObjectKey(node->item)))
        return;
    node->loadId = 0;
    applyChildren(node, entriesOf(*load.query));
    emit levelLoaded(indexOf(node));
}

std::vector<ZNTSidebarTreeModel::Entry> ZNTSidebarTreeModel::entriesOf(const ZNTObjectQuery &query) {
    std::vector<Entry> entries;
    for (const auto &object : query.objects().value_or(ZNTObjectList())) {
        if (!object)
            continue;
        auto &kept = m_allItems[ZNTObjectKey(object)];
        if (!kept)
            kept = object;
        entries.push_back(Entry{RowKind::Item, kept, nullptr});
    }
    if (ErrorPtr error = query.error())
        entries.push_back(Entry{RowKind::Error, nullptr, error});
    return entries;
}

// Brings the rows of a level to entries by removals, moves and inserts, so that
// rows that stay keep their indexes' identity (and the view its expansion and
// selection).
void ZNTSidebarTreeModel::applyChildren(Node *node, const std::vector<Entry> &entries) {
    removeRowsNotIn(node, entries);
    auto &rows = node->children;
    size_t i = 0;
    while (i < entries.size()) {
        const Entry &entry = entries[i];
        auto matches = [&](const std::unique_ptr<Node> &row) {
            return entryMatches(row->item.get(), row->kind, entry.kind, entry.item);
        };
        if (i < rows.size() && matches(rows[i])) {
            if (entry.kind == RowKind::Error) {
                rows[i]->error = entry.error;
                const QModelIndex changed = indexOf(rows[i].get());
                emit dataChanged(changed, changed);
            }
            ++i;
            continue;
        }
        const auto later = std::find_if(rows.begin() + qsizetype(std::min(i, rows.size())), rows.end(), matches);
        if (later != rows.end()) {
            moveRow(node, int(later - rows.begin()), int(i));
            ++i;
            continue;
        }
        size_t end = i + 1;
        while (end < entries.size() &&
               std::none_of(rows.begin() + qsizetype(std::min(i, rows.size())), rows.end(), [&](const auto &row) {
                   return entryMatches(row->item.get(), row->kind, entries[end].kind, entries[end].item);
               }))
            ++end;
        insertRows(node, int(i), entries, i, end);
        i = end;
    }
    // Rows left over (an answer naming an object twice) go too.
    if (rows.size() > entries.size())
        removeRows(node, int(entries.size()), int(rows.size()) - 1);
}

// The rows no entry names, the "Loading" row among them, in runs from the end.
void ZNTSidebarTreeModel::removeRowsNotIn(Node *node, const std::vector<Entry> &entries) {
    QSet<ZNTObjectKey> items;
    bool hasError = false;
    for (const Entry &entry : entries) {
        if (entry.kind == RowKind::Error)
            hasError = true;
        else
            items.insert(ZNTObjectKey(entry.item));
    }
    auto stays = [&](const Node &row) {
        if (row.kind == RowKind::Loading)
            return false;
        return row.kind == RowKind::Error ? hasError : items.contains(ZNTObjectKey(row.item));
    };
    const auto &rows = node->children;
    for (int last = int(rows.size()) - 1; last >= 0; --last) {
        if (stays(*rows[size_t(last)]))
            continue;
        int first = last;
        while (first > 0 && !stays(*rows[size_t(first - 1)]))
            --first;
        removeRows(node, first, last);
        last = first;
    }
}

void ZNTSidebarTreeModel::moveRow(Node *node, int from, int to) {
    const QModelIndex parent = indexOf(node);
    beginMoveRows(parent, from, from, parent, to);
    auto moved = std::move(node->children[size_t(from)]);
    node->children.erase(node->children.begin() + from);
    node->children.insert(node->children.begin() + to, std::move(moved));
    node->renumber();
    endMoveRows();
}

void ZNTSidebarTreeModel::removeRows(Node *node, int first, int last) {
    beginRemoveRows(indexOf(node), first, last);
    for (int r = first; r <= last; ++r)
        dropLoads(node->children[size_t(r)].get());
    node->children.erase(node->children.begin() + first, node->children.begin() + last + 1);
    node->renumber();
    endRemoveRows();
}

void ZNTSidebarTreeModel::insertRows(Node *node, int at, const std::vector<Entry> &entries, size_t from, size_t to) {
    beginInsertRows(indexOf(node), at, at + int(to - from) - 1);
    std::vector<std::unique_ptr<Node>> made;
    for (size_t e = from; e < to; ++e)
        made.push_back(makeNode(entries[e], node));
    node->children.insert(node->children.begin() + at, std::make_move_iterator(made.begin()),
                          std::make_move_iterator(made.end()));
    node->renumber();
    endInsertRows();
}

void ZNTSidebarTreeModel::dropLoads(Node *node) {
    if (node->loadId) {
        if (auto load = m_loads.find(node->loadId); load != m_loads.end()) {
            load->second.query->cancel();
            m_loads.erase(load);
        }
    }
    for (auto &child : node->children)
        dropLoads(child.get());
}

ZNTSidebarTreeModel::RowKind ZNTSidebarTreeModel::rowKind(const QModelIndex &index) const {
    const Node *node = nodeOf(index);
    return node ? node->kind : RowKind::Item;
}

std::shared_ptr<ZNTObject> ZNTSidebarTreeModel::itemForIndex(const QModelIndex &index) const {
    const Node *node = nodeOf(index);
    return node && node->kind == RowKind::Item ? node->item : nullptr;
}

ErrorPtr ZNTSidebarTreeModel::errorForIndex(const QModelIndex &index) const {
    const Node *node = nodeOf(index);
    return node ? node->error : nullptr;
}

std::shared_ptr<ZNTObject> ZNTSidebarTreeModel::memberEqualTo(const ZNTObject &item) const {
    // A lookup key made without owning the item: it lives for this call only.
    const ZNTObjectKey key(std::shared_ptr<ZNTObject>(std::shared_ptr<ZNTObject>(), const_cast<ZNTObject *>(&item)));
    return m_allItems.value(key);
}

const ZNTSidebarTreeModel::Node *ZNTSidebarTreeModel::findNode(const Node *node, const ZNTObject &item) const {
    for (const auto &child : node->children) {
        if (child->kind == RowKind::Item && child->item && (child->item.get() == &item || child->item->isEqual(item)))
            return child.get();
        if (const Node *found = findNode(child.get(), item))
            return found;
    }
    return nullptr;
}

QModelIndex ZNTSidebarTreeModel::indexForItem(const ZNTObject &item) const {
    const Node *found = m_root ? findNode(m_root.get(), item) : nullptr;
    return found ? indexOf(found) : QModelIndex();
}

ZNTSidebarTreeModel::Node *ZNTSidebarTreeModel::nodeOf(const QModelIndex &index) const {
    if (!index.isValid())
        return m_root.get();
    return static_cast<Node *>(index.internalPointer());
}

QModelIndex ZNTSidebarTreeModel::indexOf(const Node *node) const {
    if (!node || node == m_root.get() || !node->parent)
        return {};
    return createIndex(node->row, 0, const_cast<Node *>(node));
}

QModelIndex ZNTSidebarTreeModel::index(int row, int column, const QModelIndex &parent) const {
    const Node *node = nodeOf(parent);
    if (!node || column != 0 || row < 0 || row >= int(node->children.size()))
        return {};
    return createIndex(row, 0, node->children[size_t(row)].get());
}

QModelIndex ZNTSidebarTreeModel::parent(const QModelIndex &index) const {
    const Node *node = index.isValid() ? nodeOf(index) : nullptr;
    return node ? indexOf(node->parent) : QModelIndex();
}

int ZNTSidebarTreeModel::rowCount(const QModelIndex &parent) const {
    const Node *node = nodeOf(parent);
    return node ? int(node->children.size()) : 0;
}

int ZNTSidebarTreeModel::columnCount(const QModelIndex &) const {
    return 1;
}

bool ZNTSidebarTreeModel::hasChildren(const QModelIndex &parent) const {
    const Node *node = nodeOf(parent);
    return node && (node->expandable || !node->children.empty());
}

QVariant ZNTSidebarTreeModel::data(const QModelIndex &index, int role) const {
    const Node *node = index.isValid() ? nodeOf(index) : nullptr;
    if (!node)
        return {};
    switch (node->kind) {
    case RowKind::Loading:
        if (role == Qt::DisplayRole)
            return QStringLiteral("Loading");
        if (role == Qt::ForegroundRole)
            return QApplication::palette().brush(QPalette::PlaceholderText);
        break;
    case RowKind::Error:
        if (role == Qt::DisplayRole) {
            // A failed statement's description only says that it failed; the
            // server's own words (first line) say why.
            const QString why = node->error->localizedRecoverySuggestion().section(QLatin1Char('\n'), 0, 0);
            return why.isEmpty() ? node->error->localizedDescription() : why;
        }
        if (role == Qt::ToolTipRole) {
            const QString more = node->error->localizedRecoverySuggestion();
            return plainToolTip(more.isEmpty() ? node->error->localizedDescription()
                                               : node->error->localizedDescription() + QStringLiteral("\n") + more);
        }
        if (role == Qt::DecorationRole)
            return QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
        break;
    case RowKind::Item:
        if (role == Qt::DisplayRole)
            return node->item->name();
        if (role == Qt::ToolTipRole)
            return plainToolTip(node->item->name());
        if (role == Qt::DecorationRole)
            return imageForObject(*node->item);
        break;
    }
    return {};
}

Qt::ItemFlags ZNTSidebarTreeModel::flags(const QModelIndex &index) const {
    const Node *node = index.isValid() ? nodeOf(index) : nullptr;
    if (!node)
        return Qt::NoItemFlags;
    if (node->kind != RowKind::Item)
        return Qt::ItemIsEnabled;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}
