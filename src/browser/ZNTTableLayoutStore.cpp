#include "ZNTTableLayoutStore.h"

#include "favorites/ZNTPrefContainer.h"
#include "model/ZNTTable.h"

std::shared_ptr<ZNTPrefContainer> ZNTTableLayoutStore::container(bool create) const {
    return std::dynamic_pointer_cast<ZNTPrefContainer>(m_table->prefContainerCreateIfNotExists(create));
}

double ZNTTableLayoutStore::widthForColumn(const QString &name) const {
    auto stored = container(false);
    if (!stored)
        return 0;
    return widthIn(stored->propertyOfType(ZNTPrefPropertyColumnWidths), name);
}

double ZNTTableLayoutStore::widthIn(const QVariant &widths, const QString &name) {
    if (widths.typeId() != QMetaType::QVariantMap)
        return 0;
    bool ok = false;
    const double width = widths.toMap().value(name).toDouble(&ok);
    return ok && width > 0 && width < 100000 ? width : 0;
}

void ZNTTableLayoutStore::setWidthForColumn(const QString &name, double width, const QHash<QString, qint64> &attnums) {
    auto stored = container(true);
    if (!stored)
        return;
    const QVariant before = stored->propertyOfType(ZNTPrefPropertyColumnWidths);
    QVariantMap widths = before.typeId() == QMetaType::QVariantMap ? before.toMap() : QVariantMap();
    widths.insert(name, width);
    stored->setProperty(widths, ZNTPrefPropertyColumnWidths);
    // The query editor's widths go by these numbers: an empty map would lose them all.
    if (attnums.isEmpty())
        return;
    QVariantMap numbers;
    for (auto it = attnums.begin(); it != attnums.end(); ++it)
        numbers.insert(it.key(), it.value());
    stored->setProperty(numbers, ZNTPrefPropertyColumnAttnums);
}

std::optional<ZNTTableLayoutStore::SortOrder> ZNTTableLayoutStore::sortOrder() const {
    auto stored = container(false);
    if (!stored)
        return std::nullopt;
    return sortOrderIn(stored->propertyOfType(ZNTPrefPropertySortOrder));
}

std::optional<ZNTTableLayoutStore::SortOrder> ZNTTableLayoutStore::sortOrderIn(const QVariant &value) {
    if (value.typeId() != QMetaType::QVariantMap)
        return std::nullopt;
    const QVariant columns = value.toMap().value(QStringLiteral("columns"));
    const QVariant ascending = value.toMap().value(QStringLiteral("ascending"));
    if (columns.typeId() != QMetaType::QVariantList || columns.toList().isEmpty())
        return std::nullopt;
    const QVariant first = columns.toList().first();
    if (first.typeId() != QMetaType::QString)
        return std::nullopt;
    SortOrder sort{first.toString(), true};
    if (ascending.typeId() == QMetaType::QVariantList && !ascending.toList().isEmpty())
        sort.ascending = ascending.toList().first().toBool();
    return sort;
}

void ZNTTableLayoutStore::setSortOrder(const std::optional<SortOrder> &sort) {
    if (!sort) {
        if (auto stored = container(false))
            stored->unsetPropertyOfType(ZNTPrefPropertySortOrder);
        return;
    }
    if (auto stored = container(true))
        stored->setProperty(QVariantMap{{QStringLiteral("columns"), QVariantList{sort->column}},
                                        {QStringLiteral("ascending"), QVariantList{sort->ascending}}},
                            ZNTPrefPropertySortOrder);
}

QVariant ZNTTableLayoutStore::columnOrder() const {
    auto stored = container(false);
    return stored ? stored->propertyOfType(ZNTPrefPropertyColumnOrder) : QVariant();
}

void ZNTTableLayoutStore::setColumnOrder(const QStringList &identifiers) {
    if (auto stored = container(true))
        stored->setProperty(QVariant(identifiers).toList(), ZNTPrefPropertyColumnOrder);
}

void ZNTTableLayoutStore::unsetColumnOrder() {
    if (auto stored = container(false))
        stored->unsetPropertyOfType(ZNTPrefPropertyColumnOrder);
}

QVariant ZNTTableLayoutStore::filters() const {
    auto stored = container(false);
    return filtersIn(stored ? stored->propertyOfType(ZNTPrefPropertyFilters) : QVariant());
}

QVariant ZNTTableLayoutStore::filtersIn(const QVariant &value) {
    return value.typeId() == QMetaType::QVariantList ? value : QVariant();
}

bool ZNTTableLayoutStore::filterBarShown() const {
    auto stored = container(false);
    return filterBarShownIn(stored ? stored->propertyOfType(ZNTPrefPropertyFilterBarShown) : QVariant());
}

bool ZNTTableLayoutStore::filterBarShownIn(const QVariant &value) {
    return value.typeId() == QMetaType::Bool && value.toBool();
}

void ZNTTableLayoutStore::setFilterBar(bool shown, const QVariantList &filters) {
    if (!shown) {
        if (auto stored = container(false))
            stored->unsetPropertyOfType(ZNTPrefPropertyFilterBarShown);
        return;
    }
    if (auto stored = container(true)) {
        stored->setProperty(true, ZNTPrefPropertyFilterBarShown);
        stored->setProperty(filters, ZNTPrefPropertyFilters);
    }
}
