#pragma once

#include "model/ZNTTable.h"

#include <QString>
#include <QVariant>
#include <memory>

class ZNTColumn;
class ZNTConnection;

// One row filter of the table browser: a column (or any column, or none for a
// condition typed as SQL), an operator and the typed value. It writes itself as
// one SQL condition for the page and count queries, and converts to and from the
// dictionary that filter files and the stored view settings hold. A plain value
// object; main thread (it reads the table's structure).
class ZNTFilter : public ZNTFilterCondition {
public:
    enum Type : int {
        ZNTFilterTypeExpression = 0, // the SQL condition the user typed
        ZNTFilterTypeText = 1,       // text comparison; also every filter on any column
        ZNTFilterTypeNumeric = 2,    // numbers, dates, times, intervals
        ZNTFilterTypeBoolean = 3,
        ZNTFilterTypeIsNull = 4, // bytea columns: only a NULL test
    };
    enum Operator : int {
        ZNTFilterOperatorNone = 0,
        ZNTFilterOperatorContains = 1,
        ZNTFilterOperatorEqual = 2,
        ZNTFilterOperatorIsNull = 3,
        ZNTFilterOperatorIsNotNull = 4,
        ZNTFilterOperatorIsTrue = 5,
        ZNTFilterOperatorIsFalse = 6,
        ZNTFilterOperatorLessOrEqual = 7,
        ZNTFilterOperatorGreaterOrEqual = 8,
        ZNTFilterOperatorNotEqual = 9,
        ZNTFilterOperatorLess = 10,
        ZNTFilterOperatorGreater = 11,
        ZNTFilterOperatorNotContains = 12,
    };

    // Names of the detail views the filter bar shows for a filter.
    static inline const QString ExpressionDetailView = QStringLiteral("ExpressionFilterDetailView");
    static inline const QString TextDetailView = QStringLiteral("TextFilterDetailView");
    static inline const QString NumericDetailView = QStringLiteral("NumericFilterDetailView");
    static inline const QString BooleanDetailView = QStringLiteral("BooleanColumnFilterDetailView");
    static inline const QString IsNullDetailView = QStringLiteral("IsNullFilterDetailView");
    static inline const QString AnyColumnDetailView = QStringLiteral("AnyColumnFilterDetailView");

    // Expression filter, operator 0, no column, no value.
    ZNTFilter() = default;
    // A filter of that type with its default operator; no column, no value.
    explicit ZNTFilter(int type);

    int type() const { return m_type; }
    void setType(int type) { m_type = type; }
    // A table column, a ZNTAnyColumn, or null (an expression filter).
    const std::shared_ptr<ZNTColumn> &column() const { return m_column; }
    void setColumn(std::shared_ptr<ZNTColumn> column) { m_column = std::move(column); }
    int filterOperator() const { return m_operator; }
    void setFilterOperator(int op) { m_operator = op; }
    // The typed value; the SQL itself for an expression filter. Null: not set.
    const QString &stringValue() const { return m_stringValue; }
    void setStringValue(const QString &value) { m_stringValue = value; }
    // A second text no operator reads; kept so that a file's value survives a
    // load and a save.
    const QString &stringValue2() const { return m_stringValue2; }
    void setStringValue2(const QString &value) { m_stringValue2 = value; }

    // The operator a new filter of the current type starts with; the expression
    // type and unknown types keep the operator they have.
    void setDefaultOperator();
    static int defaultOperatorForType(int type);
    // The type the bar gives a filter on column: 1 for none or any column, 4 for
    // bytea, else by the type category (B 3; N, T, D 2; others 1).
    static int typeForColumn(const ZNTColumn *column);
    static bool isAnyColumn(const ZNTColumn *column);
    bool isOnAnyColumn() const { return isAnyColumn(m_column.get()); }

    // One boolean condition, never empty text: an expression filter gives its
    // text ("TRUE" when it holds none), a filter on any column the OR of its test
    // on each column that is not bytea ("FALSE" when there is none), others the
    // operator's form with the column and value quoted for connection. An
    // operator outside 1..12 on a column filter throws
    // "ZNTColumnCompareFilterException"; filters read from dictionaries never
    // have one.
    QString sqlForConnection(const ZNTConnection &connection) const override;
    // How many values the operator takes: 1 for an expression, 0 or 1 by the
    // operator, 0 for an unknown operator. The bar hides the value field at 0.
    int numberOfStringValues() const;
    static int numberOfStringValuesForOperator(int op);
    // The detail view the bar shows; empty for an unknown type.
    QString nibName() const;

    // Same type, column object, operator and value; stringValue2 is not copied.
    std::shared_ptr<ZNTFilter> copy() const;

    // {"type", "anyColumn" (true), "columnName", "operator" (unless 0),
    // "stringValue", "stringValue2" (each when set)}.
    QVariantMap dictionaryRepresentation() const;
    // The filter a dictionary describes, its column looked up in the reference
    // table's structure. Anything that is not a dictionary is an empty
    // expression filter; a value of the wrong kind counts as absent. Never
    // throws, and never gives a filter that cannot write its SQL:
    //   - a type outside 0..4 becomes the type of the filter's column;
    //   - a column filter without a known operator takes its type's default;
    //   - "anyColumn" true, or a "columnName" the table does not have, gives a
    //     filter on any column of the reference table; so does a column filter
    //     that names no column (the bar shows such a row as any column).
    static std::shared_ptr<ZNTFilter>
    filterFromDictionaryRepresentation(const QVariant &dictionary, const std::shared_ptr<ZNTTable> &referenceTable);

private:
    QString columnSQL(const ZNTConnection &connection) const;
    QString anyColumnSQL(const ZNTConnection &connection) const;

    int m_type = ZNTFilterTypeExpression;
    std::shared_ptr<ZNTColumn> m_column;
    int m_operator = ZNTFilterOperatorNone;
    QString m_stringValue;
    QString m_stringValue2;
};

// What the page and count queries take.
QList<std::shared_ptr<ZNTFilterCondition>> filterConditions(const QList<std::shared_ptr<ZNTFilter>> &filters);
