#pragma once

#include "ZNTRowEditorHook.h"
#include "ZNTRowEditorModel.h"
#include "ZNTRowListView.h"
#include "ZNTRowValueCell.h"
#include "platform/NotificationCenter.h"
#include "uikit/ZNTControlledView.h"
#include "window/ZNTContentController.h"

#include <QPointer>
#include <vector>

class ZNTForeignTablePopover;
class ZNTObject;
class ZNTRowValueTextCell;

// The row editor: one row as a list with an entry per column, each a value
// cell chosen by the column's kind (bytea, boolean, the single column of a
// foreign key with the row it references, else text). Only the entries in
// sight have widgets, and those are reused as the list scrolls and as rows
// change.
//
// It serves in the detail sidebar of the table page, which hands it each new
// selection (setRow: the selected rows' values, MULTIPLE where they differ),
// disables its editing while it saves, and receives every value the user sets
// through rowViewControllerDidEditColumn; and as the page of a row item (a
// referenced row, a row of a query), made by viewControllerForItem. Such a
// page has nobody to store edits, so it takes none.
//
// Tab and Shift+Tab go from entry to entry, wrapping at the ends and passing
// entries that take no focus. main thread
class ZNTRowViewController : public ZNTContentController,
                             public ZNTFirstResponderPlacer,
                             public ZNTSidebarRowEditor,
                             public ZNTRowValueCellDelegate,
                             private ZNTRowListDataSource {
    Q_OBJECT
public:
    // The read-only page of a row item; null for any other item.
    static ZNTRowViewController *viewControllerForItem(const std::shared_ptr<ZNTObject> &item);

    // The editor of the table page's detail sidebar (its row editor factory).
    static std::unique_ptr<ZNTSidebarRowEditor> sidebarEditorForRow(const std::shared_ptr<ZNTRow> &row);

    explicit ZNTRowViewController(QObject *parent = nullptr);
    ~ZNTRowViewController() override;

    // --- the sidebar editor of the table page ---
    QWidget *editorView() override { return view(); }
    // Replaces every edited value and referenced row; typing not yet ended is
    // dropped (it was for the rows selected before).
    void setRow(const std::shared_ptr<ZNTRow> &row) override;
    void setDisableEditing(bool disable) override;
    void setDelegate(ZNTRowViewControllerDelegate *delegate) override { m_delegate = delegate; }

    std::shared_ptr<ZNTRow> row() const { return m_model.row(); }
    // While the owner saves, and while a picker is open.
    bool disableEditing() const override { return m_disabledByOwner || m_pickerOpen; }
    // Nothing is editable on a page that cannot store what is edited.
    void setReadOnly(bool readOnly);
    bool isReadOnly() const { return m_readOnly; }
    // Whether the cells take changes now.
    bool isEditable() const;

    bool makeFirstResponder() override;

    const ZNTRowValues &newValues() const { return m_model.newValues(); }
    std::shared_ptr<ZNTRow> foreignRowForColumn(int index) const { return m_model.foreignRow(index); }
    ZNTRowListView *tableView() const { return m_tableView; }
    // The cell of an entry, made when asked; null for an entry out of range.
    ZNTRowValueCell *cellAtRow(int index, bool makeIfNecessary = true);
    int foreignKeyColumnIndex() const { return m_foreignKeyColumnIndex; }
    // The open picker, or null.
    ZNTForeignTablePopover *foreignTablePopover() const;

    // --- actions of the cells ---
    void selectFromForeignTable(QWidget *sender) override;
    void editForeignRow(QWidget *sender) override;
    void selectNextKeyView(QWidget *sender);
    void selectPreviousKeyView(QWidget *sender);
    // Gives the focus to the entry's first (or, going back, last) field; false
    // when the entry takes no focus.
    bool setFirstResponderToFieldAtIndex(int index, bool forward = true);
    // The picker's double-clicked row, for the column whose picker is open.
    void pickedForeignRowFromPopover(const std::shared_ptr<ZNTRow> &picked);
    void popoverWillClose(ZNTForeignTablePopover *popover);

protected:
    QWidget *makeView() override;

private:
    // The list's data source.
    int numberOfRows() override;
    int heightOfRow(int row) override;
    QWidget *viewForRow(int row) override;
    void didRemoveRowView(QWidget *view, int row) override;
    bool moveFocusFromRow(int row, QWidget *from, bool forward) override;

    QWidget *makeCell(ZNTRowEditorModel::CellKind kind);
    void prepareTextCell(ZNTRowValueTextCell *cell, int row);
    void observeCells();
    ZNTRowValueCell *ownCell(const void *object) const;
    int rowIndexOfCell(ZNTRowValueCell *cell) const;
    void rowValueChanged(ZNTRowValueCell *cell);
    void rowHeightChanged(ZNTRowValueCell *cell);
    void textFieldFrameChanged(ZNTRowValueTextCell *cell);
    void scheduleHeightUpdate();
    void updateEditability();
    void closePicker();

    ZNTRowEditorModel m_model;
    ZNTRowViewControllerDelegate *m_delegate = nullptr;
    QPointer<ZNTControlledView> m_view;
    ZNTRowListView *m_tableView = nullptr;
    QPointer<QWidget> m_foreignTablePopover;
    QPointer<QWidget> m_pickerSender;
    ObserverToken m_pickObserver;
    int m_foreignKeyColumnIndex = -1;
    bool m_disabledByOwner = false;
    bool m_pickerOpen = false;
    bool m_readOnly = false;
    bool m_heightUpdatePending = false;
    std::vector<ObserverToken> m_cellObservers;
    ObserverToken m_rowLoadingObserver;
};
