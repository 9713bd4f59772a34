#include "FilterBarModel.h"

#include "ZNTFilterFile.h"
#include "engine/ZNTColumn.h"
#include "engine/ZNTConnection.h"
#include "model/ZNTAnyColumn.h"
#include "model/ZNTDatabase.h"
#include "model/ZNTTable.h"
#include "model/ZNTTableMetadata.h"

#include <QStringList>

namespace {
// There is no find pasteboard shared with other programs here: the find text
// lives as long as the process.
QString &sharedFindText() {
    static QString text;
    return text;
}
} // namespace

FilterBarModel::FilterBarModel(std::shared_ptr<ZNTTable> table) : m_table(std::move(table)) {
    readColumns();
}

void FilterBarModel::readColumns() {
    const auto metadata = m_table ? m_table->metadata() : nullptr;
    m_columns = metadata ? metadata->columns() : ZNTColumnList();
}

std::shared_ptr<ZNTColumn> FilterBarModel::newAnyColumn() const {
    return std::make_shared<ZNTAnyColumn>(m_table);
}

std::shared_ptr<ZNTFilter> FilterBarModel::anyColumnFilter() const {
    auto filter = std::make_shared<ZNTFilter>(ZNTFilter::ZNTFilterTypeText);
    filter->setColumn(newAnyColumn());
    if (!findText().isEmpty())
        filter->setStringValue(findText());
    return filter;
}

bool FilterBarModel::ensureOneFilter() {
    if (!m_filters.isEmpty())
        return false;
    m_filters.append(anyColumnFilter());
    return true;
}

QVariantList FilterBarModel::dictionaryRepresentations() const {
    QVariantList dictionaries;
    for (const auto &filter : m_filters)
        dictionaries.append(filter->dictionaryRepresentation());
    return dictionaries;
}

bool FilterBarModel::loadDictionaryRepresentations(const QVariant &object) {
    if (object.typeId() != QMetaType::QVariantList && object.typeId() != QMetaType::QStringList)
        return false;
    const QVariantList elements = object.toList();
    if (elements.size() > ZNTFilterFile::kMaxFilterCount)
        return false;
    QList<std::shared_ptr<ZNTFilter>> filters;
    for (const QVariant &element : elements)
        filters.append(ZNTFilter::filterFromDictionaryRepresentation(element, m_table));
    m_filters = filters;
    return true;
}

void FilterBarModel::filterColumn(const std::shared_ptr<ZNTColumn> &column) {
    auto filter = std::make_shared<ZNTFilter>(ZNTFilter::typeForColumn(column.get()));
    filter->setColumn(column ? column : newAnyColumn());
    m_filters = {filter};
}

std::optional<int> FilterBarModel::leftSideTag(qsizetype index) const {
    const auto filter = filterAt(index);
    if (!filter)
        return std::nullopt;
    if (filter->type() == ZNTFilter::ZNTFilterTypeExpression)
        return ExpressionTag;
    if (filter->isOnAnyColumn())
        return AnyColumnTag;
    for (qsizetype k = 0; filter->column() && k < m_columns.size(); ++k)
        if (m_columns[k]->isEqual(*filter->column()))
            return FirstColumnTag + int(k);
    return std::nullopt;
}

void FilterBarModel::selectLeftSide(qsizetype index, int tag) {
    const auto filter = filterAt(index);
    if (!filter)
        return;
    int type = filter->type();
    std::shared_ptr<ZNTColumn> column = filter->column();
    if (tag == ExpressionTag) {
        type = ZNTFilter::ZNTFilterTypeExpression;
        column = nullptr;
    } else if (tag == AnyColumnTag) {
        type = ZNTFilter::ZNTFilterTypeText;
        column = newAnyColumn();
    } else if (tag >= FirstColumnTag && tag - FirstColumnTag < m_columns.size()) {
        column = m_columns[tag - FirstColumnTag];
        type = ZNTFilter::typeForColumn(column.get());
    }
    if (type != filter->type()) {
        if (type == ZNTFilter::ZNTFilterTypeExpression) {
            // The expression starts out as the condition the row had.
            const auto database = m_table ? m_table->database() : nullptr;
            const auto connection = database ? database->connection() : nullptr;
            const bool hadCondition = !filter->stringValue().isEmpty() || filter->numberOfStringValues() == 0;
            filter->setStringValue(hadCondition && connection ? filter->sqlForConnection(*connection) : QString());
        } else if (filter->type() == ZNTFilter::ZNTFilterTypeExpression) {
            filter->setStringValue(QString());
        }
        filter->setType(type);
        filter->setDefaultOperator();
    }
    filter->setColumn(column);
    if (type == ZNTFilter::ZNTFilterTypeText && filter->stringValue().isEmpty() && !findText().isEmpty())
        filter->setStringValue(findText());
}

qsizetype FilterBarModel::addFilterAfter(qsizetype index) {
    const auto filter = filterAt(index);
    if (!filter)
        return -1;
    auto added = filter->copy();
    added->setStringValue(QString());
    m_filters.insert(index + 1, added);
    return index + 1;
}

bool FilterBarModel::removeFilter(qsizetype index) {
    if (m_filters.size() <= 1 || index < 0 || index >= m_filters.size())
        return false;
    m_filters.removeAt(index);
    return true;
}

void FilterBarModel::tableMetadataUpdated() {
    readColumns();
    for (const auto &filter : m_filters) {
        if (!filter->column() || filter->isOnAnyColumn())
            continue;
        std::shared_ptr<ZNTColumn> current;
        for (const auto &column : m_columns)
            if (column->isEqual(*filter->column()))
                current = column;
        // The column as the structure has it now: its type decides the text cast.
        filter->setColumn(current ? current : newAnyColumn());
    }
}

void FilterBarModel::rememberFindText() const {
    const auto first = filterAt(0);
    if (first && first->type() == ZNTFilter::ZNTFilterTypeText && first->isOnAnyColumn())
        setFindText(first->stringValue());
}

QList<int> FilterBarModel::operatorsOfDetailView(const QString &nibName, int current) {
    QList<int> operators;
    if (nibName == ZNTFilter::TextDetailView)
        operators = {1, 12, 2, 9, 3, 4};
    else if (nibName == ZNTFilter::AnyColumnDetailView)
        operators = {1, 12, 2, 9};
    else if (nibName == ZNTFilter::NumericDetailView)
        operators = {2, 9, 10, 7, 11, 8, 3, 4};
    else if (nibName == ZNTFilter::BooleanDetailView)
        operators = {5, 6, 3, 4};
    else if (nibName == ZNTFilter::IsNullDetailView)
        operators = {3, 4};
    // A file or a dropped column may leave a filter with an operator its view
    // does not offer; it is shown as it is rather than as another one.
    if (!operators.isEmpty() && !operatorTitle(current).isEmpty() && !operators.contains(current))
        operators.append(current);
    return operators;
}

QString FilterBarModel::operatorTitle(int op) {
    switch (op) {
    case ZNTFilter::ZNTFilterOperatorContains:
        return QStringLiteral("contains");
    case ZNTFilter::ZNTFilterOperatorEqual:
        return QStringLiteral("=");
    case ZNTFilter::ZNTFilterOperatorIsNull:
        return QStringLiteral("is NULL");
    case ZNTFilter::ZNTFilterOperatorIsNotNull:
        return QStringLiteral("is not NULL");
    case ZNTFilter::ZNTFilterOperatorIsTrue:
        return QStringLiteral("is true");
    case ZNTFilter::ZNTFilterOperatorIsFalse:
        return QStringLiteral("is false");
    case ZNTFilter::ZNTFilterOperatorLessOrEqual:
        return QStringLiteral("≤");
    case ZNTFilter::ZNTFilterOperatorGreaterOrEqual:
        return QStringLiteral("≥");
    case ZNTFilter::ZNTFilterOperatorNotEqual:
        return QStringLiteral("≠");
    case ZNTFilter::ZNTFilterOperatorLess:
        return QStringLiteral("<");
    case ZNTFilter::ZNTFilterOperatorGreater:
        return QStringLiteral(">");
    case ZNTFilter::ZNTFilterOperatorNotContains:
        return QStringLiteral("does not contain");
    default:
        return QString();
    }
}

QString FilterBarModel::findText() {
    return sharedFindText();
}

void FilterBarModel::setFindText(const QString &text) {
    sharedFindText() = text;
}
