#include "ZNTDatabaseOverview.h"

#include "model/ZNTDatabase.h"
#include "model/ZNTSchema.h"
#include "model/ZNTTable.h"
#include "model/ZNTTableSchema.h"

#include <QHash>
#include <algorithm>

namespace ZNTDatabaseOverview {
namespace {

bool isDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

// The end of the run of digits that starts at from.
qsizetype digitsEnd(const QString &text, qsizetype from) {
    while (from < text.size() && isDigit(text[from]))
        ++from;
    return from;
}

// Two runs of digits by value: leading zeros do not count.
int compareNumbers(const QString &a, qsizetype i, qsizetype endA, const QString &b, qsizetype j, qsizetype endB) {
    while (i < endA - 1 && a[i] == u'0')
        ++i;
    while (j < endB - 1 && b[j] == u'0')
        ++j;
    if (endA - i != endB - j)
        return endA - i < endB - j ? -1 : 1;
    for (; i < endA; ++i, ++j) {
        if (a[i] != b[j])
            return a[i] < b[j] ? -1 : 1;
    }
    return 0;
}

} // namespace

int naturalCompare(const QString &a, const QString &b) {
    qsizetype i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            const qsizetype endA = digitsEnd(a, i), endB = digitsEnd(b, j);
            if (int order = compareNumbers(a, i, endA, b, j, endB))
                return order;
            i = endA;
            j = endB;
            continue;
        }
        const char32_t x = QChar::toCaseFolded(char32_t(a[i].unicode()));
        const char32_t y = QChar::toCaseFolded(char32_t(b[j].unicode()));
        if (x != y)
            return x < y ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size())
        return 1;
    return j < b.size() ? -1 : 0;
}

bool schemaComesFirst(const QString &a, const QString &b) {
    // Every schema but these by name: "public" before them, the catalogs after.
    auto rank = [](const QString &name) {
        if (name == u"public")
            return 0;
        if (name == u"pg_catalog")
            return 2;
        return name == u"information_schema" ? 3 : 1;
    };
    if (rank(a) != rank(b))
        return rank(a) < rank(b);
    const int order = naturalCompare(a, b);
    return order != 0 ? order < 0 : a < b; // "Sales" and "sales" are two schemas
}

std::vector<Group> group(const ZNTObjectList &objects, const std::shared_ptr<ZNTDatabase> &database) {
    std::vector<Group> groups;
    QHash<QString, size_t> bySchema;
    for (const auto &object : objects) {
        auto table = std::dynamic_pointer_cast<ZNTTable>(object);
        if (!table)
            continue;
        auto found = bySchema.find(table->schemaName());
        if (found == bySchema.end()) {
            found = bySchema.insert(table->schemaName(), groups.size());
            groups.push_back(Group{std::make_shared<ZNTSchema>(table->schemaName(), database), {}});
        }
        groups[*found].relations.push_back(table);
    }
    for (Group &each : groups) {
        std::stable_sort(each.relations.begin(), each.relations.end(),
                         [](const auto &x, const auto &y) { return naturalCompare(x->name(), y->name()) < 0; });
    }
    std::sort(groups.begin(), groups.end(),
              [](const Group &x, const Group &y) { return schemaComesFirst(x.schema->name(), y.schema->name()); });
    return groups;
}

const char *title(Command command) {
    switch (command) {
    case Command::Open:
        return "Open";
    case Command::OpenInNewWindow:
        return "Open in New Window";
    case Command::OpenStructure:
        return "Open Structure";
    case Command::Analyze:
        return "Analyze\u2026";
    case Command::Vacuum:
        return "Vacuum\u2026";
    case Command::Reindex:
        return "Reindex\u2026";
    case Command::Cluster:
        return "Cluster\u2026";
    case Command::RefreshMaterializedView:
        return "Refresh Materialized View\u2026";
    case Command::Truncate:
        return "Truncate\u2026";
    case Command::Drop:
        return "Drop\u2026";
    case Command::Export:
        return "Export\u2026";
    case Command::NewTable:
        return "New Table";
    case Command::NewView:
        return "New View";
    case Command::NewMaterializedView:
        return "New Materialized View";
    }
    return "";
}

std::optional<ZNTObjectCommands::Maintenance> maintenanceOf(Command command) {
    using M = ZNTObjectCommands::Maintenance;
    switch (command) {
    case Command::Analyze:
        return M::Analyze;
    case Command::Vacuum:
        return M::Vacuum;
    case Command::Reindex:
        return M::Reindex;
    case Command::Cluster:
        return M::Cluster;
    case Command::RefreshMaterializedView:
        return M::RefreshMaterializedView;
    case Command::Truncate:
        return M::Truncate;
    default:
        return std::nullopt;
    }
}

bool isEnabled(Command command, const ZNTObjectList &clicked) {
    if (auto maintenance = maintenanceOf(command))
        return ZNTObjectCommands::canPerform(*maintenance, clicked);
    switch (command) {
    case Command::Open:
    case Command::OpenInNewWindow:
        return clicked.size() == 1 && itemToOpen(clicked.first(), false);
    case Command::OpenStructure:
    case Command::Drop:
    case Command::Export:
        return ZNTObjectCommands::areRelations(clicked);
    default:
        return true;
    }
}

QString schemaForNewRelation(const ZNTObjectList &clicked) {
    if (!clicked.isEmpty()) {
        if (auto table = std::dynamic_pointer_cast<ZNTTable>(clicked.first()))
            return table->schemaName();
        if (auto schema = std::dynamic_pointer_cast<ZNTSchema>(clicked.first()))
            return schema->name();
    }
    return QStringLiteral("public");
}

std::shared_ptr<ZNTObject> itemToOpen(const std::shared_ptr<ZNTObject> &item, bool structure) {
    if (!item || item->objectKind() == ZNTObjectKind::Schema)
        return nullptr;
    if (auto table = std::dynamic_pointer_cast<ZNTTable>(item); table && structure)
        return std::make_shared<ZNTTableSchema>(table);
    return item;
}

} // namespace ZNTDatabaseOverview
