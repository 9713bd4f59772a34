#include "ZNTFilter.h"

#include "engine/Value.h"
#include "engine/ZNTColumn.h"
#include "engine/ZNTConnection.h"
#include "model/ZNTAnyColumn.h"
#include "model/ZNTTableMetadata.h"
#include "platform/ProgramError.h"
#include "uikit/TypesafeAccessors.h"

#include <QStringList>
#include <cmath>
#include <limits>

namespace {

// The value in a LIKE pattern that matches it literally, anywhere in the text:
// the backslash is LIKE's escape character, so it is doubled first.
QString likePattern(const QString &value) {
    QString escaped = value;
    escaped.replace(u'\\', QStringLiteral("\\\\"));
    escaped.replace(u'%', QStringLiteral("\\%"));
    escaped.replace(u'_', QStringLiteral("\\_"));
    return u'%' + escaped + u'%';
}

// A whole number of a dictionary read from JSON or the settings, which may come
// as an integer or as a double; a boolean, a fraction or a number out of range
// counts as absent.
std::optional<int> integerIn(const QVariantMap &dictionary, const QString &key) {
    const QVariant value = dictionary.value(key);
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
    case QMetaType::Double:
    case QMetaType::Float: {
        const double number = value.toDouble();
        if (number != std::trunc(number) || number < std::numeric_limits<int>::min() ||
            number > std::numeric_limits<int>::max())
            return std::nullopt;
        return int(number);
    }
    default:
        return std::nullopt;
    }
}

// "anyColumn": a boolean, or a number as some writers put one (non-zero: set).
std::optional<bool> flagIn(const QVariantMap &dictionary, const QString &key) {
    if (auto flag = inDictionary<bool>(dictionary, key))
        return flag;
    const QVariant value = dictionary.value(key);
    if (value.isValid() && value.typeId() != QMetaType::QString && value.canConvert<double>() &&
        value.typeId() != QMetaType::Nullptr)
        return value.toDouble() != 0;
    return std::nullopt;
}

std::shared_ptr<ZNTColumn> columnNamed(const std::shared_ptr<ZNTTable> &table, const QString &name) {
    const auto metadata = table ? table->metadata() : nullptr;
    if (!metadata)
        return nullptr;
    for (const auto &column : metadata->columns())
        if (column->name() == name)
            return column;
    return nullptr;
}

std::optional<QVariantMap> dictionaryOf(const QVariant &value) {
    if (value.typeId() == QMetaType::QVariantMap)
        return value.toMap();
    if (value.typeId() == QMetaType::QVariantHash) {
        QVariantMap map;
        const QVariantHash hash = value.toHash();
        for (auto it = hash.begin(); it != hash.end(); ++it)
            map.insert(it.key(), it.value());
        return map;
    }
    return std::nullopt;
}

} // namespace

ZNTFilter::ZNTFilter(int type) : m_type(type) {
    setDefaultOperator();
}

int ZNTFilter::defaultOperatorForType(int type) {
    switch (type) {
    case ZNTFilterTypeText:
        return ZNTFilterOperatorContains;
    case ZNTFilterTypeNumeric:
        return ZNTFilterOperatorEqual;
    case ZNTFilterTypeBoolean:
        return ZNTFilterOperatorIsTrue;
    case ZNTFilterTypeIsNull:
        return ZNTFilterOperatorIsNotNull;
    default:
        return ZNTFilterOperatorNone;
    }
}

void ZNTFilter::setDefaultOperator() {
    if (const int op = defaultOperatorForType(m_type))
        m_operator = op;
}

bool ZNTFilter::isAnyColumn(const ZNTColumn *column) {
    return dynamic_cast<const ZNTAnyColumn *>(column) != nullptr;
}

int ZNTFilter::typeForColumn(const ZNTColumn *column) {
    if (!column || isAnyColumn(column))
        return ZNTFilterTypeText;
    if (column->isBytea())
        return ZNTFilterTypeIsNull;
    switch (column->typeCategory()) {
    case 'B':
        return ZNTFilterTypeBoolean;
    case 'N':
    case 'T':
    case 'D':
        return ZNTFilterTypeNumeric;
    default:
        return ZNTFilterTypeText;
    }
}

QString ZNTFilter::sqlForConnection(const ZNTConnection &connection) const {
    if (m_type == ZNTFilterTypeExpression) {
        // The page query puts each condition in parentheses: an empty one would
        // be "()", a syntax error.
        if (m_stringValue.trimmed().isEmpty())
            return QStringLiteral("TRUE");
        // A line comment at the end would swallow the closing parenthesis and
        // the ORDER BY and LIMIT after it.
        return m_stringValue.contains(QStringLiteral("--")) ? m_stringValue + u'\n' : m_stringValue;
    }
    if (isOnAnyColumn())
        return anyColumnSQL(connection);
    return columnSQL(connection);
}

QString ZNTFilter::anyColumnSQL(const ZNTConnection &connection) const {
    const auto table = std::static_pointer_cast<ZNTAnyColumn>(m_column)->table();
    const auto metadata = table ? table->metadata() : nullptr;
    QStringList pieces;
    ZNTFilter piece(*this);
    for (const auto &column : metadata ? metadata->columns() : ZNTColumnList()) {
        if (column->isBytea())
            continue;
        piece.m_column = column;
        pieces << piece.columnSQL(connection);
    }
    // No column to test: no row matches, as a search through nothing finds nothing.
    if (pieces.isEmpty())
        return QStringLiteral("FALSE");
    return u'(' + pieces.join(QStringLiteral(" OR ")) + u')';
}

QString ZNTFilter::columnSQL(const ZNTConnection &connection) const {
    if (!m_column)
        throw ProgramError("ZNTColumnCompareFilterException", "A column filter without a column");
    const QString name = connection.quoteIdentifier(m_column->name());
    const QString text = m_stringValue.isNull() ? QStringLiteral("") : m_stringValue;
    const bool textCast = m_type == ZNTFilterTypeText && m_column->typeCategory() != 'S';
    const QString cast = textCast ? QStringLiteral("::TEXT") : QString();
    // One pass of arg() with several arguments: a "%1" inside a value stays as it is.
    switch (m_operator) {
    case ZNTFilterOperatorContains:
        return QStringLiteral("%1%2 ILIKE %3")
            .arg(name, cast, connection.quoteLiteral(Value::fromString(likePattern(text))));
    case ZNTFilterOperatorNotContains:
        return QStringLiteral("%1%2 NOT ILIKE %3")
            .arg(name, cast, connection.quoteLiteral(Value::fromString(likePattern(text))));
    case ZNTFilterOperatorEqual:
        return QStringLiteral("%1%2 = %3").arg(name, cast, connection.quoteLiteral(Value::fromString(text)));
    case ZNTFilterOperatorNotEqual:
        return QStringLiteral("%1%2 <> %3").arg(name, cast, connection.quoteLiteral(Value::fromString(text)));
    case ZNTFilterOperatorIsNull:
        return name + QStringLiteral(" IS NULL");
    case ZNTFilterOperatorIsNotNull:
        return name + QStringLiteral(" IS NOT NULL");
    case ZNTFilterOperatorIsTrue:
        return name + QStringLiteral(" = true");
    case ZNTFilterOperatorIsFalse:
        return name + QStringLiteral(" = false");
    case ZNTFilterOperatorLessOrEqual:
        return QStringLiteral("%1 <= %2").arg(name, connection.quoteLiteral(Value::fromString(text)));
    case ZNTFilterOperatorGreaterOrEqual:
        return QStringLiteral("%1 >= %2").arg(name, connection.quoteLiteral(Value::fromString(text)));
    case ZNTFilterOperatorLess:
        return QStringLiteral("%1 < %2").arg(name, connection.quoteLiteral(Value::fromString(text)));
    case ZNTFilterOperatorGreater:
        return QStringLiteral("%1 > %2").arg(name, connection.quoteLiteral(Value::fromString(text)));
    default:
        throw ProgramError("ZNTColumnCompareFilterException",
                           QStringLiteral("Invalid operator: %1").arg(m_operator).toStdString());
    }
}

int ZNTFilter::numberOfStringValuesForOperator(int op) {
    switch (op) {
    case ZNTFilterOperatorContains:
    case ZNTFilterOperatorEqual:
    case ZNTFilterOperatorLessOrEqual:
    case ZNTFilterOperatorGreaterOrEqual:
    case ZNTFilterOperatorNotEqual:
    case ZNTFilterOperatorLess:
    case ZNTFilterOperatorGreater:
    case ZNTFilterOperatorNotContains:
        return 1;
    default:
        return 0;
    }
}

int ZNTFilter::numberOfStringValues() const {
    return m_type == ZNTFilterTypeExpression ? 1 : numberOfStringValuesForOperator(m_operator);
}

QString ZNTFilter::nibName() const {
    // The SQL of an expression filter never looks at a column, so neither does
    // its row, whatever column a file gave it.
    if (m_type == ZNTFilterTypeExpression)
        return ExpressionDetailView;
    if (isOnAnyColumn())
        return AnyColumnDetailView;
    switch (m_type) {
    case ZNTFilterTypeText:
        return TextDetailView;
    case ZNTFilterTypeNumeric:
        return NumericDetailView;
    case ZNTFilterTypeBoolean:
        return BooleanDetailView;
    case ZNTFilterTypeIsNull:
        return IsNullDetailView;
    default:
        return QString();
    }
}

std::shared_ptr<ZNTFilter> ZNTFilter::copy() const {
    auto filter = std::make_shared<ZNTFilter>();
    filter->m_type = m_type;
    filter->m_column = m_column;
    filter->m_operator = m_operator;
    filter->m_stringValue = m_stringValue;
    return filter;
}

QVariantMap ZNTFilter::dictionaryRepresentation() const {
    QVariantMap dictionary;
    dictionary.insert(QStringLiteral("type"), m_type);
    if (isOnAnyColumn())
        dictionary.insert(QStringLiteral("anyColumn"), true);
    else if (m_column)
        dictionary.insert(QStringLiteral("columnName"), m_column->name());
    if (m_operator != ZNTFilterOperatorNone)
        dictionary.insert(QStringLiteral("operator"), m_operator);
    if (!m_stringValue.isNull())
        dictionary.insert(QStringLiteral("stringValue"), m_stringValue);
    if (!m_stringValue2.isNull())
        dictionary.insert(QStringLiteral("stringValue2"), m_stringValue2);
    return dictionary;
}

std::shared_ptr<ZNTFilter> ZNTFilter::filterFromDictionaryRepresentation(const QVariant &value,
                                                                         const std::shared_ptr<ZNTTable> &table) {
    auto filter = std::make_shared<ZNTFilter>();
    const std::optional<QVariantMap> dictionary = dictionaryOf(value);
    if (!dictionary)
        return filter;

    std::shared_ptr<ZNTColumn> column;
    const std::optional<QString> columnName = inDictionary<QString>(*dictionary, QStringLiteral("columnName"));
    if (columnName)
        column = columnNamed(table, *columnName);
    if (flagIn(*dictionary, QStringLiteral("anyColumn")).value_or(false) || (columnName && !column))
        column = std::make_shared<ZNTAnyColumn>(table);

    int type = integerIn(*dictionary, QStringLiteral("type")).value_or(ZNTFilterTypeExpression);
    if (type < ZNTFilterTypeExpression || type > ZNTFilterTypeIsNull)
        type = typeForColumn(column.get());
    // The bar shows a column filter without a column as one on any column, and
    // that is the SQL it gets.
    if (type != ZNTFilterTypeExpression && !column)
        column = std::make_shared<ZNTAnyColumn>(table);
    filter->m_type = type;
    filter->m_column = column;
    filter->setDefaultOperator();
    if (const std::optional<int> op = integerIn(*dictionary, QStringLiteral("operator")))
        filter->m_operator = *op;
    if (type != ZNTFilterTypeExpression &&
        (filter->m_operator < ZNTFilterOperatorContains || filter->m_operator > ZNTFilterOperatorNotContains))
        filter->setDefaultOperator();

    filter->m_stringValue = inDictionary<QString>(*dictionary, QStringLiteral("stringValue")).value_or(QString());
    filter->m_stringValue2 = inDictionary<QString>(*dictionary, QStringLiteral("stringValue2")).value_or(QString());
    return filter;
}

QList<std::shared_ptr<ZNTFilterCondition>> filterConditions(const QList<std::shared_ptr<ZNTFilter>> &filters) {
    QList<std::shared_ptr<ZNTFilterCondition>> conditions;
    conditions.reserve(filters.size());
    for (const auto &filter : filters)
        conditions.append(filter);
    return conditions;
}
