#pragma once

#include "engine/ZNTColumn.h"

#include <memory>

// How the structure editor compares its texts (names, types, comments,
// definitions): an empty text and an absent one are alike.
bool sameText(const QString &a, const QString &b);

// One column as the structure editor edits it: name, type (modifier included,
// written into statements as it stands), comment, default, and whether the
// user marked the existing column to be dropped on save. It is a column, so
// that the editor's constraints can list it among their columns.
class ZNTColumnDefinition : public ZNTColumn {
public:
    ZNTColumnDefinition() = default;
    ZNTColumnDefinition(const QString &name, const QString &typeName, const QString &comment,
                        const SQLExpression &defaultExpression, bool markedForDeletion);
    // The loaded column's name, type, comment and default, and how the server
    // fills it (identity, generation), which the editor shows and never changes;
    // not marked.
    explicit ZNTColumnDefinition(const ZNTColumn &column);

    bool markedForDeletion() const { return m_markedForDeletion; }
    void setMarkedForDeletion(bool marked) { m_markedForDeletion = marked; }

    // Name, type and comment (empty and null alike), default and the deletion
    // mark all equal.
    bool isEqual(const ZNTColumnDefinition &other) const;
    bool operator==(const ZNTColumnDefinition &other) const { return isEqual(other); }
    // The name's hash, as for any column.
    std::shared_ptr<ZNTColumn> copy() const override;

private:
    bool m_markedForDeletion = false;
};

using ZNTColumnDefinitionList = QList<std::shared_ptr<ZNTColumnDefinition>>;
