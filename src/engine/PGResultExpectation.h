#pragma once

#include <QString>
#include <cstdint>
#include <limits>

// What one statement of a row-edit transaction must do: insert, update or
// delete that many rows, for one edited row or (affectedIndex NotFound) several.
class PGResultExpectation {
public:
    enum Type : uint64_t {
        PGResultExpectationTypeInsert = 0,
        PGResultExpectationTypeUpdate = 1,
        PGResultExpectationTypeDelete = 2,
    };
    static constexpr uint64_t NotFound = uint64_t(std::numeric_limits<int64_t>::max());

    PGResultExpectation() = default;
    PGResultExpectation(Type type, QString query, int64_t affectedRows, uint64_t affectedIndex)
        : m_type(type), m_query(std::move(query)), m_affectedRows(affectedRows), m_affectedIndex(affectedIndex) {}

    Type type() const { return m_type; }
    void setType(Type type) { m_type = type; }
    const QString &query() const { return m_query; }
    void setQuery(const QString &query) { m_query = query; }
    int64_t affectedRows() const { return m_affectedRows; }
    void setAffectedRows(int64_t rows) { m_affectedRows = rows; }
    uint64_t affectedIndex() const { return m_affectedIndex; }
    void setAffectedIndex(uint64_t index) { m_affectedIndex = index; }

private:
    Type m_type = PGResultExpectationTypeInsert;
    QString m_query;
    int64_t m_affectedRows = 0;
    uint64_t m_affectedIndex = NotFound;
};
