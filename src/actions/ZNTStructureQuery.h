#pragma once

#include "ZNTActionQuery.h"
#include "model/ZNTColumnDefinition.h"

#include <QStringList>

class ZNTTable;

// What the ALTER and CREATE actions of the structure editor share: the
// relation, the sequences the user agreed to create before the statements, and
// after a run that failed because a relation does not exist, the missing
// sequence a column default of the edit names (missingSequenceName(); null
// otherwise). The caller may add that name to createSequences() and run the
// same action again.
class ZNTStructureQuery : public ZNTActionQuery {
public:
    std::shared_ptr<ZNTTable> table() const { return m_table; }
    void setTable(const std::shared_ptr<ZNTTable> &table) { m_table = table; }
    QStringList createSequences() const { return m_createSequences; }
    void setCreateSequences(const QStringList &names) { m_createSequences = names; }
    QString missingSequenceName() const { return m_missingSequenceName; }

protected:
    // The columns whose defaults the statements set, in the order they are
    // suspected of naming the missing sequence.
    virtual ZNTColumnDefinitionList columnsWithNewDefaults() const = 0;
    void didFinish() override;

private:
    std::shared_ptr<ZNTTable> m_table;
    QStringList m_createSequences;
    QString m_missingSequenceName;
};
