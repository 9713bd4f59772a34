#include "ZNTStructureQuery.h"

#include "ZNTStructureStatements.h"

void ZNTStructureQuery::didFinish() {
    m_missingSequenceName.clear();
    QString message;
    if (!ZNTStructureStatements::namesMissingRelation(error(), &message))
        return;
    for (const auto &column : columnsWithNewDefaults()) {
        const SQLExpression &expression = column->defaultExpression();
        if (expression.kind() == SQLExpression::SQLExpressionKindSequence && !expression.string().isEmpty() &&
            message.contains(expression.string()) && !m_createSequences.contains(expression.string())) {
            m_missingSequenceName = expression.string();
            return;
        }
    }
}
