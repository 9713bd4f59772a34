#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <memory>
#include <optional>

class ZNTPrefContainer;
class ZNTTable;

// The table page's layout as the favorite keeps it for one relation: column
// widths (with every column's attribute number, which the query editor reads),
// the sort, the column order, the filters and whether the filter bar shows.
// Reading or unsetting never makes a container; writing makes one when there
// is none. What a settings file holds is checked, never trusted: a value of
// the wrong shape reads as none. Nothing is stored without a favorite.
// main thread
class ZNTTableLayoutStore {
public:
    explicit ZNTTableLayoutStore(std::shared_ptr<ZNTTable> table) : m_table(std::move(table)) {}

    // 0 when none.
    double widthForColumn(const QString &name) const;
    // Stores the width and, anew, name -> attribute number of every column of
    // the table (attnums); none keeps the numbers stored.
    void setWidthForColumn(const QString &name, double width, const QHash<QString, qint64> &attnums);

    struct SortOrder {
        QString column;
        bool ascending = true;
    };
    std::optional<SortOrder> sortOrder() const;
    void setSortOrder(const std::optional<SortOrder> &sort);

    QVariant columnOrder() const;
    void setColumnOrder(const QStringList &identifiers);
    void unsetColumnOrder();

    // The filter dictionaries as stored (a list, else nothing).
    QVariant filters() const;
    bool filterBarShown() const;
    // shown: stores the bar's filters and that it shows; else unsets that it shows.
    void setFilterBar(bool shown, const QVariantList &filters);

    // How the stored values are read, whatever shape they have (the stored
    // value of the property, an invalid QVariant for none): the width of a
    // column, 0 for none or one outside 0 to 100,000; the sort; the filter
    // dictionaries (a list, else invalid); whether the bar shows.
    static double widthIn(const QVariant &widths, const QString &name);
    static std::optional<SortOrder> sortOrderIn(const QVariant &value);
    static QVariant filtersIn(const QVariant &value);
    static bool filterBarShownIn(const QVariant &value);

private:
    std::shared_ptr<ZNTPrefContainer> container(bool create) const;

    std::shared_ptr<ZNTTable> m_table;
};
