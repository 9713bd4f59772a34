#include "ZNTDatabaseTreeModel.h"

#include "actions/ZNTObjectImages.h"
#include "engine/SizeFormatting.h"
#include "model/ZNTDatabase.h"
#include "model/ZNTObjectKey.h"
#include "model/ZNTQueryObject.h"
#include "model/ZNTSchema.h"
#include "model/ZNTTable.h"
#include "platform/ProgramError.h"
#include "uikit/IconView.h"

#include <QHash>
#include <QSet>
#include <algorithm>

struct ZNTDatabaseTreeModel::SchemaRow {
    std::shared_ptr<ZNTSchema> schema;
    std::vector<std::shared_ptr<ZNTTable>> relations;
    int row = 0; // at the top level, below the "SQL Query" item
};

namespace {

using ZNTDatabaseOverview::naturalCompare;

const QString kNothing = QStringLiteral("--");
constexpr qint64 kPageSize = 8192;

bool nameBefore(const std::shared_ptr<ZNTTable> &a, const std::shared_ptr<ZNTTable> &b) {
    return naturalCompare(a->name(), b->name()) < 0;
}

// Tables and materialized views have rows and pages; views have neither.
const ZNTTable *storedRelation(const ZNTObject &item) {
    const auto *table = dynamic_cast<const ZNTTable *>(&item);
    return table && table->type() != ZNTTable::ZNTTableTypeView ? table : nullptr;
}

} // namespace

ZNTDatabaseTreeModel::ZNTDatabaseTreeModel(std::shared_ptr<ZNTDatabase> database, QObject *parent)
    : QAbstractItemModel(parent), m_database(std::move(database)), m_queryItem(m_database->queryObject()) {}

ZNTDatabaseTreeModel::~ZNTDatabaseTreeModel() = default;

// --- Changing the tree -------------------------------------------------------------------

void ZNTDatabaseTreeModel::replaceObjects(const ZNTObjectList &objects) {
    requireMainThread("ZNTDatabaseTreeModel::replaceObjects");
    auto groups = ZNTDatabaseOverview::group(objects, m_database);
    removeSchemasNotIn(groups);
    // The schemas left are in the groups' order: walk both together.
    size_t at = 0;
    for (auto &each : groups) {
        if (at < m_schemas.size() && m_schemas[at]->schema->name() == each.schema->name())
            replaceRelations(*m_schemas[at], std::move(each.relations));
        else
            insertSchema(int(at) + 1, std::move(each));
        ++at;
    }
}

void ZNTDatabaseTreeModel::appendObjects(const ZNTObjectList &objects) {
    requireMainThread("ZNTDatabaseTreeModel::appendObjects");
    for (auto &each : ZNTDatabaseOverview::group(objects, m_database)) {
        const int found = schemaRowFor(each.schema->name());
        if (found >= 0) {
            mergeRelations(*m_schemas[size_t(found)], std::move(each.relations));
            continue;
        }
        const auto place = std::upper_bound(m_schemas.begin(), m_schemas.end(), each.schema->name(),
                                            [](const QString &name, const std::unique_ptr<SchemaRow> &row) {
                                                return ZNTDatabaseOverview::schemaComesFirst(name, row->schema->name());
                                            });
        insertSchema(int(place - m_schemas.begin()) + 1, std::move(each));
    }
}

void ZNTDatabaseTreeModel::removeSchemasNotIn(const std::vector<ZNTDatabaseOverview::Group> &groups) {
    QSet<QString> kept;
    for (const auto &each : groups)
        kept.insert(each.schema->name());
    for (int i = int(m_schemas.size()) - 1; i >= 0;) {
        if (kept.contains(m_schemas[size_t(i)]->schema->name())) {
            --i;
            continue;
        }
        const int last = i;
        while (i >= 0 && !kept.contains(m_schemas[size_t(i)]->schema->name()))
            --i;
        beginRemoveRows(QModelIndex(), i + 2, last + 1);
        m_schemas.erase(m_schemas.begin() + (i + 1), m_schemas.begin() + (last + 1));
        renumberSchemas();
        endRemoveRows();
    }
}

void ZNTDatabaseTreeModel::insertSchema(int row, ZNTDatabaseOverview::Group group) {
    beginInsertRows(QModelIndex(), row, row);
    auto schema = std::make_unique<SchemaRow>();
    schema->schema = std::move(group.schema);
    schema->relations = std::move(group.relations);
    m_schemas.insert(m_schemas.begin() + (row - 1), std::move(schema));
    renumberSchemas();
    endInsertRows();
}

void ZNTDatabaseTreeModel::renumberSchemas() {
    for (size_t i = 0; i < m_schemas.size(); ++i)
        m_schemas[i]->row = int(i) + 1;
}

// The schema's relations become target (in the page's order): the rows of
// those that went are removed, new ones inserted between those that stay.
void ZNTDatabaseTreeModel::replaceRelations(SchemaRow &schema, std::vector<std::shared_ptr<ZNTTable>> target) {
    auto &current = schema.relations;
    const QModelIndex parent = createIndex(schema.row, 0, nullptr);
    QHash<ZNTObjectKey, int> place;
    for (size_t i = 0; i < target.size(); ++i)
        place.insert(ZNTObjectKey(target[i]), int(i));
    auto gone = [&](int i) { return !place.contains(ZNTObjectKey(current[size_t(i)])); };
    for (int i = int(current.size()) - 1; i >= 0;) {
        if (!gone(i)) {
            --i;
            continue;
        }
        const int last = i;
        while (i >= 0 && gone(i))
            --i;
        beginRemoveRows(parent, i + 1, last);
        current.erase(current.begin() + (i + 1), current.begin() + (last + 1));
        endRemoveRows();
    }
    // Those that stay keep their order, unless a rename of case moved one past
    // an equal name: then the schema's rows are made anew.
    int previous = -1;
    for (const auto &each : current) {
        const int at = place.value(ZNTObjectKey(each));
        if (at <= previous) {
            beginRemoveRows(parent, 0, int(current.size()) - 1);
            current.clear();
            endRemoveRows();
            break;
        }
        previous = at;
    }
    bool estimatesChanged = false;
    size_t row = 0, next = 0;
    while (next < target.size()) {
        if (row < current.size() && ZNTObjectKey(current[row]) == ZNTObjectKey(target[next])) {
            estimatesChanged |= current[row] != target[next];
            current[row++] = target[next++];
            continue;
        }
        size_t end = next;
        while (end < target.size() &&
               !(row < current.size() && ZNTObjectKey(current[row]) == ZNTObjectKey(target[end])))
            ++end;
        beginInsertRows(parent, int(row), int(row + (end - next)) - 1);
        current.insert(current.begin() + qsizetype(row), target.begin() + qsizetype(next),
                       target.begin() + qsizetype(end));
        endInsertRows();
        row += end - next;
        next = end;
    }
    if (estimatesChanged && !current.empty())
        emit dataChanged(index(0, 0, parent), index(int(current.size()) - 1, ColumnCount - 1, parent));
}

// Adds relations (in the page's order) after the equal names already there.
void ZNTDatabaseTreeModel::mergeRelations(SchemaRow &schema, std::vector<std::shared_ptr<ZNTTable>> more) {
    auto &current = schema.relations;
    const QModelIndex parent = createIndex(schema.row, 0, nullptr);
    size_t next = 0;
    while (next < more.size()) {
        const size_t at =
            size_t(std::upper_bound(current.begin(), current.end(), more[next], nameBefore) - current.begin());
        // The run of new ones that come before the row now at that place.
        size_t end = next + 1;
        while (end < more.size() && (at == current.size() || nameBefore(more[end], current[at])))
            ++end;
        beginInsertRows(parent, int(at), int(at + (end - next)) - 1);
        current.insert(current.begin() + qsizetype(at), more.begin() + qsizetype(next), more.begin() + qsizetype(end));
        endInsertRows();
        next = end;
    }
}

// --- Finding items -------------------------------------------------------------------

ZNTDatabaseTreeModel::SchemaRow *ZNTDatabaseTreeModel::schemaOf(const QModelIndex &index) const {
    return static_cast<SchemaRow *>(index.internalPointer());
}

int ZNTDatabaseTreeModel::schemaRowFor(const QString &name) const {
    for (size_t i = 0; i < m_schemas.size(); ++i) {
        if (m_schemas[i]->schema->name() == name)
            return int(i);
    }
    return -1;
}

std::shared_ptr<ZNTObject> ZNTDatabaseTreeModel::itemForIndex(const QModelIndex &index) const {
    if (!index.isValid() || index.model() != this)
        return nullptr;
    if (SchemaRow *schema = schemaOf(index))
        return size_t(index.row()) < schema->relations.size() ? schema->relations[size_t(index.row())] : nullptr;
    if (index.row() == 0)
        return m_queryItem;
    return size_t(index.row() - 1) < m_schemas.size() ? m_schemas[size_t(index.row() - 1)]->schema : nullptr;
}

QModelIndex ZNTDatabaseTreeModel::schemaIndex(const QString &name) const {
    const int found = schemaRowFor(name);
    return found < 0 ? QModelIndex() : createIndex(found + 1, 0, nullptr);
}

QModelIndex ZNTDatabaseTreeModel::indexForItem(const ZNTObject &item) const {
    if (item.objectKind() == ZNTObjectKind::QueryObject)
        return item.isEqual(*m_queryItem) ? createIndex(0, 0, nullptr) : QModelIndex();
    if (item.objectKind() == ZNTObjectKind::Schema)
        return schemaIndex(item.name());
    const auto *table = dynamic_cast<const ZNTTable *>(&item);
    const int found = table ? schemaRowFor(table->schemaName()) : -1;
    if (found < 0)
        return QModelIndex();
    SchemaRow *schema = m_schemas[size_t(found)].get();
    const auto &relations = schema->relations;
    auto it =
        std::lower_bound(relations.begin(), relations.end(), item.name(),
                         [](const auto &each, const QString &name) { return naturalCompare(each->name(), name) < 0; });
    for (; it != relations.end() && naturalCompare((*it)->name(), item.name()) == 0; ++it) {
        if ((*it)->isEqual(item))
            return createIndex(int(it - relations.begin()), 0, schema);
    }
    return QModelIndex();
}

QVariant ZNTDatabaseTreeModel::identity(const std::shared_ptr<ZNTObject> &item) {
    return QVariant::fromValue(ZNTObjectKey(item));
}

QString ZNTDatabaseTreeModel::columnText(const ZNTObject &item, int column) {
    const auto *table = dynamic_cast<const ZNTTable *>(&item);
    const ZNTTable *stored = storedRelation(item);
    switch (column) {
    case Name:
        return item.name();
    case Schema:
        return table ? table->schemaName() : kNothing;
    case Kind:
        return table ? table->kind() : kNothing;
    case Rows:
        // -1: the server has never counted them (a table not analysed yet).
        return stored && stored->approxNumRows() >= 0 ? QString::number(stored->approxNumRows()) : kNothing;
    case Size:
        // -1: a partitioned table, whose rows live in its partitions.
        return stored && stored->approxPages() >= 0 ? stringFromSize(stored->approxPages() * kPageSize) : kNothing;
    case IndexSize:
        return stored && stored->approxIndexPages() >= 1 ? stringFromSize(stored->approxIndexPages() * kPageSize)
                                                         : kNothing;
    default:
        return kNothing;
    }
}

// --- The model's interface ------------------------------------------------------------

QModelIndex ZNTDatabaseTreeModel::index(int row, int column, const QModelIndex &parent) const {
    if (row < 0 || column < 0 || column >= ColumnCount)
        return QModelIndex();
    if (!parent.isValid())
        return row <= int(m_schemas.size()) ? createIndex(row, column, nullptr) : QModelIndex();
    if (schemaOf(parent) || parent.row() < 1 || size_t(parent.row() - 1) >= m_schemas.size())
        return QModelIndex();
    SchemaRow *schema = m_schemas[size_t(parent.row() - 1)].get();
    return size_t(row) < schema->relations.size() ? createIndex(row, column, schema) : QModelIndex();
}

QModelIndex ZNTDatabaseTreeModel::parent(const QModelIndex &index) const {
    SchemaRow *schema = index.isValid() ? schemaOf(index) : nullptr;
    return schema ? createIndex(schema->row, 0, nullptr) : QModelIndex();
}

int ZNTDatabaseTreeModel::rowCount(const QModelIndex &parent) const {
    if (!parent.isValid())
        return int(m_schemas.size()) + 1;
    if (parent.column() != 0 || schemaOf(parent) || parent.row() < 1 || size_t(parent.row() - 1) >= m_schemas.size())
        return 0;
    return int(m_schemas[size_t(parent.row() - 1)]->relations.size());
}

int ZNTDatabaseTreeModel::columnCount(const QModelIndex &) const {
    return ColumnCount;
}

bool ZNTDatabaseTreeModel::hasChildren(const QModelIndex &parent) const {
    return rowCount(parent) > 0;
}

QVariant ZNTDatabaseTreeModel::data(const QModelIndex &index, int role) const {
    const auto item = itemForIndex(index);
    if (!item)
        return QVariant();
    switch (role) {
    case Qt::DisplayRole:
        return columnText(*item, index.column());
    case Qt::DecorationRole:
        return index.column() == Name ? QVariant(imageForObject(*item)) : QVariant();
    case Qt::TextAlignmentRole:
        return index.column() >= Rows ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
    case IconView::BigImageRole:
        return index.column() == Name ? QVariant(bigImageForObject(*item)) : QVariant();
    case IconView::IdentityRole:
        return identity(item);
    default:
        return QVariant();
    }
}

QVariant ZNTDatabaseTreeModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal)
        return QVariant();
    if (role == Qt::TextAlignmentRole)
        return section >= Rows ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
    if (role != Qt::DisplayRole)
        return QVariant();
    static const char *const titles[ColumnCount] = {"Name", "Schema", "Kind", "Rows", "Size", "Index Size"};
    return section >= 0 && section < ColumnCount ? QString::fromLatin1(titles[section]) : QVariant();
}

Qt::ItemFlags ZNTDatabaseTreeModel::flags(const QModelIndex &index) const {
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}
