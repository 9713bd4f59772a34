// Shared by the filter tests: a table of a scratch database with its structure
// loaded, and the rows and counts the table's own page and count queries give
// for a set of filters.
#pragma once

#include "browser/ZNTFilter.h"
#include "model/CatalogTestSupport.h"
#include "model/ZNTAnyColumn.h"

#include <QSet>

namespace filtertest {

struct LoadedTable {
    std::shared_ptr<ZNTServer> server;
    std::shared_ptr<ZNTTable> table;

    std::shared_ptr<ZNTConnection> connection() const { return server->mainConnection(); }
    // The table's column of that name (null when it has none).
    std::shared_ptr<ZNTColumn> column(const QString &name) const {
        for (const auto &column : table->metadata()->columns())
            if (column->name() == name)
                return column;
        return nullptr;
    }
    std::shared_ptr<ZNTColumn> anyColumn() const { return std::make_shared<ZNTAnyColumn>(table); }
};

// A failed load is fatal: call it inside ASSERT_NO_FATAL_FAILURE.
inline LoadedTable loadTable(const QString &database, const QString &name, const QString &schema = "public") {
    LoadedTable loaded{connectedServer(database), nullptr};
    loaded.table = ZNTTable::create(name, schema, loaded.server->mainDatabase());
    assertLoaded(loaded.table->metadata());
    return loaded;
}

inline std::shared_ptr<ZNTFilter> makeFilter(int type, std::shared_ptr<ZNTColumn> column, int op,
                                             const QString &value = QString()) {
    auto filter = std::make_shared<ZNTFilter>(type);
    filter->setColumn(std::move(column));
    filter->setFilterOperator(op);
    filter->setStringValue(value);
    return filter;
}

struct Outcome {
    QStringList rows;  // the page query's rows, as rowTexts gives them
    qint64 count = -1; // the count query's number
    QString pageError; // the server's words when a query failed
    QString countError;
};

// Runs the table's page query (first 1000 rows) and count query with filters.
inline Outcome runFiltered(const LoadedTable &loaded, const QList<std::shared_ptr<ZNTFilter>> &filters) {
    Outcome outcome;
    auto page = loaded.table->queryWithOffset(0, 1000, nullptr, true, filterConditions(filters));
    runAndWait(page, loaded.connection());
    if (page->error())
        outcome.pageError = page->error()->localizedRecoverySuggestion() + " in " + page->sql();
    outcome.rows = rowTexts(page);
    auto count = loaded.table->countQueryWithFilters(filterConditions(filters));
    runAndWait(count, loaded.connection());
    if (count->error())
        outcome.countError = count->error()->localizedRecoverySuggestion() + " in " + count->sql();
    const QStringList counted = rowTexts(count);
    if (!counted.isEmpty())
        outcome.count = counted.first().toLongLong();
    return outcome;
}

// The first field of each row (the key), sorted.
inline QStringList keys(const QStringList &rows) {
    QStringList result;
    for (const QString &row : rows)
        result << row.section(u'|', 0, 0);
    std::sort(result.begin(), result.end(), [](const QString &a, const QString &b) { return a.toInt() < b.toInt(); });
    return result;
}

} // namespace filtertest
