#pragma once

#include "model/ZNTColumnDefinition.h"
#include "model/ZNTTableSchemaModel.h"
#include "platform/Error.h"

#include <QString>
#include <QStringList>

class ZNTConnection;
class ZNTConstraint;

// What the ALTER and CREATE statement builders share.
namespace ZNTStructureStatements {

// "TABLE", "VIEW" or "MATERIALIZED VIEW" for relation types 0, 1 and 2.
QString objectWord(int tableType);
// The comment as a literal; an empty comment is NULL.
QString commentLiteral(const ZNTConnection &connection, const QString &comment);
// "CREATE SEQUENCE name;\n" for each name, written as given.
QString createSequenceLines(const QStringList &names);

// Whether one of the constraint's columns is an editor column marked for
// deletion.
bool hasColumnMarkedForDeletion(const ZNTConstraint &constraint);
// Where column stands in columns: the same object, else an equal definition,
// else a column of the same name; -1 when it is not there.
qsizetype positionOf(const ZNTColumn &column, const ZNTColumnDefinitionList &columns);

// Whether a failed run's error says that a relation does not exist (SQLSTATE
// 42P01), as a default naming a missing sequence makes it; *message is the
// server's primary message, which names the relation.
bool namesMissingRelation(const ErrorPtr &error, QString *message);

} // namespace ZNTStructureStatements
