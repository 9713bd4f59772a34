#pragma once

#include "engine/Value.h"

#include <QList>
#include <QString>
#include <memory>

class QWidget;
class ZNTColumn;

// Posted by the row editor's value cells; object: the cell's widget
// (cellWidget()), no user info.
// The user started typing into the cell.
inline const QString ZNTRowValueDidBeginEditing = QStringLiteral("ZNTRowValueDidBeginEditing");
// The user set the cell's value (possibly to what it was).
inline const QString ZNTRowValueChanged = QStringLiteral("ZNTRowValueChanged");
// The cell wants another row height (preferredHeight).
inline const QString ZNTRowHeightChanged = QStringLiteral("ZNTRowHeightChanged");

// What the row editor asks of the cells it is told about: the actions of the
// foreign-key cell, and whether editing is off for now.
class ZNTRowValueCellDelegate {
public:
    virtual ~ZNTRowValueCellDelegate() = default;
    virtual bool disableEditing() const = 0;
    // sender: the button inside the cell.
    virtual void selectFromForeignTable(QWidget *sender) = 0;
    virtual void editForeignRow(QWidget *sender) = 0;
};

// One entry of the row editor: a widget that shows and edits the value of one
// column. Cells are reused for other rows and columns; each reuse sets the
// column, then the value. main thread
class ZNTRowValueCell {
public:
    virtual ~ZNTRowValueCell() = default;

    virtual QWidget *cellWidget() = 0;
    virtual void setColumn(const std::shared_ptr<ZNTColumn> &column) = 0;
    virtual std::shared_ptr<ZNTColumn> column() const = 0;
    virtual void setObjectValue(const Value &value) = 0;
    virtual Value objectValue() const = 0;
    // Whether the user may change the value: not on a read-only row, and
    // not while the row editor's editing is disabled.
    virtual void setEditable(bool editable) = 0;
    // Forgets what the user typed and has not left yet, without telling
    // anyone: the row the typing was for is gone.
    virtual void abandonEditing() {}
    // The widgets Tab visits, in order; those disabled or not taking the
    // focus now are skipped.
    virtual QList<QWidget *> keyViews() const = 0;
};
