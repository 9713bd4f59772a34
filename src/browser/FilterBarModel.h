#pragma once

#include "ZNTFilter.h"
#include "engine/ZNTResult.h"

#include <QList>
#include <QString>
#include <QVariant>
#include <memory>
#include <optional>

class ZNTColumn;
class ZNTTable;

// The filter bar's rows without their widgets: the filters in on-screen order,
// the table's columns the left-hand popups offer, and what each control of a
// row does to them. ZNTFilterController shows it. main thread
class FilterBarModel {
public:
    // Items of a row's left-hand popup, by their tags.
    static constexpr int AnyColumnTag = -1;
    static constexpr int ExpressionTag = -2;
    static constexpr int FirstColumnTag = 1000; // + the column's index in columns()

    // Takes the table's columns as its structure has them now (none while it
    // is not loaded).
    explicit FilterBarModel(std::shared_ptr<ZNTTable> table);

    const std::shared_ptr<ZNTTable> &table() const { return m_table; }
    const QList<std::shared_ptr<ZNTFilter>> &filters() const { return m_filters; }
    std::shared_ptr<ZNTFilter> filterAt(qsizetype index) const { return m_filters.value(index); }
    const ZNTColumnList &columns() const { return m_columns; }

    // The bar never shows zero rows: without filters, one text filter on any
    // column holding the find text. true when it made one.
    bool ensureOneFilter();
    QVariantList dictionaryRepresentations() const;
    // false, changing nothing, unless object is an array of at most
    // ZNTFilterFile::kMaxFilterCount elements; else its filters replace all.
    bool loadDictionaryRepresentations(const QVariant &object);
    // All filters become one new filter on column (null: any column), typed by
    // the column, with the type's default operator and no value.
    void filterColumn(const std::shared_ptr<ZNTColumn> &column);

    // The tag the left-hand popup of row index selects; nothing for a filter
    // on a column the popup does not list.
    std::optional<int> leftSideTag(qsizetype index) const;
    // The user chose the item tagged tag on row index's left-hand popup. A
    // switch to SQL starts from the row's own condition; a switch away clears
    // the typed SQL; an empty text filter takes the find text.
    void selectLeftSide(qsizetype index, int tag);
    // Inserts after row index a copy of its filter without a value; its index.
    qsizetype addFilterAfter(qsizetype index);
    // Removes row index's filter; false, keeping it, when it is the only one.
    bool removeFilter(qsizetype index);
    // The table's structure was loaded again: new columns, and filters on a
    // column that is gone test any column instead (type, operator and value kept).
    void tableMetadataUpdated();
    // The filters are about to run: a text filter on any column in the first
    // row leaves its value as the find text.
    void rememberFindText() const;

    // The operators a detail view offers, in menu order; with current, when the
    // filter has an operator the view does not list, that one last.
    static QList<int> operatorsOfDetailView(const QString &nibName, int current = 0);
    // "contains", "is null", ...
    static QString operatorTitle(int op);

    // The text of the last filter run on any column, shared by every bar of the
    // process; the value a new any-column row starts with.
    static QString findText();
    static void setFindText(const QString &text);

private:
    std::shared_ptr<ZNTFilter> anyColumnFilter() const;
    std::shared_ptr<ZNTColumn> newAnyColumn() const;
    void readColumns();

    std::shared_ptr<ZNTTable> m_table;
    QList<std::shared_ptr<ZNTFilter>> m_filters;
    ZNTColumnList m_columns;
};
