#include "ZNTStructureStatements.h"

#include "engine/Value.h"
#include "engine/ZNTConnection.h"
#include "model/ZNTConstraint.h"

namespace ZNTStructureStatements {

QString objectWord(int tableType) {
    switch (tableType) {
    case 1:
        return QStringLiteral("VIEW");
    case 2:
        return QStringLiteral("MATERIALIZED VIEW");
    default:
        return QStringLiteral("TABLE");
    }
}

QString commentLiteral(const ZNTConnection &connection, const QString &comment) {
    return comment.isEmpty() ? QStringLiteral("NULL") : connection.quoteLiteral(Value::fromString(comment));
}

QString createSequenceLines(const QStringList &names) {
    QString text;
    for (const QString &name : names)
        text += QStringLiteral("CREATE SEQUENCE %1;\n").arg(name);
    return text;
}

bool hasColumnMarkedForDeletion(const ZNTConstraint &constraint) {
    for (const auto &column : constraint.columns()) {
        const auto *definition = dynamic_cast<const ZNTColumnDefinition *>(column.get());
        if (definition && definition->markedForDeletion())
            return true;
    }
    return false;
}

qsizetype positionOf(const ZNTColumn &column, const ZNTColumnDefinitionList &columns) {
    for (qsizetype i = 0; i < columns.size(); ++i) {
        if (columns[i].get() == &column)
            return i;
    }
    if (const auto *definition = dynamic_cast<const ZNTColumnDefinition *>(&column)) {
        for (qsizetype i = 0; i < columns.size(); ++i) {
            if (columns[i] && columns[i]->isEqual(*definition))
                return i;
        }
    }
    for (qsizetype i = 0; i < columns.size(); ++i) {
        if (columns[i] && columns[i]->name() == column.name())
            return i;
    }
    return -1;
}

bool namesMissingRelation(const ErrorPtr &error, QString *message) {
    if (!error || error->userInfo().value(QStringLiteral("PG_DIAG_SQLSTATE")).toString() != QLatin1String("42P01"))
        return false;
    *message = error->userInfo().value(QStringLiteral("PG_DIAG_MESSAGE_PRIMARY")).toString();
    return true;
}

} // namespace ZNTStructureStatements
