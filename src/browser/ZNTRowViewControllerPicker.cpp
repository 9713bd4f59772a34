// The row editor's picker of referenced rows: a list of the referenced table
// in a popover under the select button, whose double-clicked row becomes the
// key.
#include "ZNTForeignKeyCell.h"
#include "ZNTRowViewController.h"
#include "uikit/Beep.h"

void ZNTRowViewController::selectFromForeignTable(QWidget *sender) {
    if (disableEditing())
        return;
    beep();
}

void ZNTRowViewController::pickedForeignRowFromPopover(const std::shared_ptr<ZNTRow> &picked) {
    const int index = m_foreignKeyColumnIndex;
    if (index < 0)
        return;
    const QList<int> changed = m_model.pickRow(index, picked);
    for (int j : changed) {
        // Only a cell on screen is told; the others are made from the model.
        QWidget *view = m_tableView ? m_tableView->viewAtRow(j, false) : nullptr;
        if (auto *cell = dynamic_cast<ZNTRowValueCell *>(view))
            cell->setObjectValue(m_model.valueAt(j));
        if (auto *foreign = qobject_cast<ZNTForeignKeyCell *>(view))
            foreign->setForeignRow(m_model.foreignRow(index));
        if (m_delegate)
            m_delegate->rowViewControllerDidEditColumn(this, j, m_model.valueAt(j));
    }
    closePicker();
}

void ZNTRowViewController::popoverWillClose() {
    m_pickerOpen = false;
    m_foreignKeyColumnIndex = -1;
    updateEditability();
}

void ZNTRowViewController::closePicker() {
    if (m_pickerOpen)
        popoverWillClose();
}
