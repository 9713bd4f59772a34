#include "ZNTColumnDefinition.h"

bool sameText(const QString &a, const QString &b) {
    return (a.isEmpty() && b.isEmpty()) || a == b;
}

ZNTColumnDefinition::ZNTColumnDefinition(const QString &name, const QString &typeName, const QString &comment,
                                         const SQLExpression &defaultExpression, bool markedForDeletion)
    : m_markedForDeletion(markedForDeletion) {
    setName(name);
    setTypeName(typeName);
    setComment(comment);
    setDefaultExpression(defaultExpression);
}

ZNTColumnDefinition::ZNTColumnDefinition(const ZNTColumn &column)
    : ZNTColumnDefinition(column.name(), column.typeName(), column.comment(), column.defaultExpression(), false) {
    setIdentity(column.identity());
    setGenerated(column.generated());
    setGenerationExpression(column.generationExpression());
}

bool ZNTColumnDefinition::isEqual(const ZNTColumnDefinition &other) const {
    return sameText(name(), other.name()) && sameText(typeName(), other.typeName()) &&
           sameText(comment(), other.comment()) && defaultExpression().isEqual(other.defaultExpression()) &&
           m_markedForDeletion == other.m_markedForDeletion;
}

std::shared_ptr<ZNTColumn> ZNTColumnDefinition::copy() const {
    return std::make_shared<ZNTColumnDefinition>(*this);
}
