#pragma once

#include "engine/Value.h"

#include <QtGlobal>
#include <functional>
#include <memory>

class QWidget;
class ZNTRow;
class ZNTSidebarRowEditor;

// What a row editor tells its owner: the user set a value. column is the
// value's index in the row's columns (the table's display columns).
class ZNTRowViewControllerDelegate {
public:
    virtual ~ZNTRowViewControllerDelegate() = default;
    virtual void rowViewControllerDidEditColumn(ZNTSidebarRowEditor *rowViewController, qsizetype column,
                                                const Value &newValue) = 0;
};

// What the table page needs of the row editor it shows in the detail sidebar:
// the row of the selected grid rows (MULTIPLE where they differ), handed anew
// on every selection change; editing disabled while the page saves; each value
// the user sets reported to the delegate. The page deletes it when the
// selection goes. main thread
class ZNTSidebarRowEditor {
public:
    virtual ~ZNTSidebarRowEditor() = default;
    // The editor's view; the page lays it out in its detail sidebar view.
    virtual QWidget *editorView() = 0;
    virtual void setRow(const std::shared_ptr<ZNTRow> &row) = 0;
    virtual void setDisableEditing(bool disable) = 0;
    virtual void setDelegate(ZNTRowViewControllerDelegate *delegate) = 0;
};

// Makes the row editor for a row; installed at start-up by the layer that
// has one (ZNTTableViewController::setRowEditorFactory). Without it the
// detail sidebar says "No row selected." or shows nothing.
using ZNTRowEditorFactory = std::function<std::unique_ptr<ZNTSidebarRowEditor>(const std::shared_ptr<ZNTRow> &row)>;
