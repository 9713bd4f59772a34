// The row editor's picker of referenced rows: a list of the referenced table
// in a popover over the select button, whose double-clicked row becomes the
// key.
#include "ZNTForeignKeyCell.h"
#include "ZNTForeignTablePopover.h"
#include "ZNTRowViewController.h"
#include "model/ZNTConstraint.h"
#include "uikit/Beep.h"
#include "uikit/BlockObservers.h"

ZNTForeignTablePopover *ZNTRowViewController::foreignTablePopover() const {
    return qobject_cast<ZNTForeignTablePopover *>(m_foreignTablePopover.data());
}

void ZNTRowViewController::selectFromForeignTable(QWidget *sender) {
    if (disableEditing() || !isEditable())
        return;
    const int index = m_tableView ? m_tableView->rowForView(sender) : -1;
    const auto constraint = m_model.foreignKeyConstraint(index);
    if (!constraint || !constraint->foreignTable()) {
        beep();
        return;
    }
    // The button is disabled while the picker is open: the focus waits in
    // the cell's key field instead of running on to the next entry, and comes
    // back to the button when the picker closes.
    auto *cell = qobject_cast<ZNTForeignKeyCell *>(m_tableView->viewAtRow(index, false));
    if (cell && sender->hasFocus())
        cell->textField()->setFocus(Qt::OtherFocusReason);
    m_pickerSender = sender;
    m_pickerOpen = true;
    m_foreignKeyColumnIndex = index;
    updateEditability();
    auto *popover = new ZNTForeignTablePopover(constraint->foreignTable(), m_view);
    m_foreignTablePopover = popover;
    connect(popover, &ZNTPopover::didClose, this, [this, popover] { popoverWillClose(popover); });
    m_pickObserver = observe(static_cast<QWidget *>(popover), ZNTForeignTablePopoverPickedRowNotification,
                             [this, popover](const Notification &n) {
                                 const auto picked =
                                     n.value<std::shared_ptr<ZNTRow>>(ZNTForeignTablePopoverPickedRowKey);
                                 if (popover == foreignTablePopover() && picked)
                                     pickedForeignRowFromPopover(*picked);
                             });
    popover->showRelativeToRect(QRect(), sender, ZNTPopover::Edge::Above);
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
        QPointer<ZNTRowViewController> guard(this); // the owner may drop its editor on an edit
        if (m_delegate)
            m_delegate->rowViewControllerDidEditColumn(this, j, m_model.valueAt(j));
        if (!guard)
            return;
    }
    closePicker();
}

void ZNTRowViewController::popoverWillClose(ZNTForeignTablePopover *popover) {
    if (popover == foreignTablePopover()) {
        m_pickerOpen = false;
        m_foreignKeyColumnIndex = -1;
        m_foreignTablePopover = nullptr;
        m_pickObserver.stopObserving();
        updateEditability();
        if (QWidget *sender = m_pickerSender.data(); sender && sender->isVisible() && sender->isEnabled())
            sender->setFocus(Qt::OtherFocusReason);
    }
    // Its page and queries go with it, once the close is over.
    popover->deleteLater();
}

void ZNTRowViewController::closePicker() {
    if (ZNTForeignTablePopover *popover = foreignTablePopover())
        popover->performClose();
}
