// The row editor's keyboard movement from entry to entry, and the actions of
// its foreign-key cells: picking a referenced row and opening it.
#include "ZNTForeignKeyCell.h"
#include "ZNTRowValueTextCell.h"
#include "ZNTRowViewController.h"
#include "uikit/Beep.h"
#include "uikit/ZNTTextView.h"
#include "window/ZNTActionRoute.h"

namespace {
bool takesFocus(const QWidget *widget) {
    return widget && widget->isEnabled() && (widget->focusPolicy() & Qt::TabFocus) && !widget->isHidden();
}

QList<QWidget *> focusableKeyViews(const ZNTRowValueCell *cell) {
    QList<QWidget *> views;
    for (QWidget *view : cell->keyViews())
        if (takesFocus(view))
            views << view;
    return views;
}
} // namespace

// Within an entry Tab goes from field to field; from its last field on to the
// next entry.
bool ZNTRowViewController::moveFocusFromRow(int row, QWidget *from, bool forward) {
    auto *cell = dynamic_cast<ZNTRowValueCell *>(m_tableView->viewAtRow(row, false));
    if (!cell)
        return false;
    const QList<QWidget *> views = focusableKeyViews(cell);
    qsizetype at = -1;
    for (qsizetype i = 0; i < views.size(); ++i)
        if (views[i] == from || views[i]->isAncestorOf(from))
            at = i;
    const qsizetype next = at < 0 ? -1 : at + (forward ? 1 : -1);
    if (next >= 0 && next < views.size()) {
        views[next]->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
        return true;
    }
    if (forward)
        selectNextKeyView(from);
    else
        selectPreviousKeyView(from);
    return true;
}

void ZNTRowViewController::selectNextKeyView(QWidget *sender) {
    const int n = m_model.count();
    const int row = sender && m_tableView ? m_tableView->rowForView(sender) : -1;
    const int start = row + 1; // 0 without a row
    for (int k = 0; k < n; ++k)
        if (setFirstResponderToFieldAtIndex((start + k) % n, true))
            return;
    beep();
}

void ZNTRowViewController::selectPreviousKeyView(QWidget *sender) {
    const int n = m_model.count();
    const int row = sender && m_tableView ? m_tableView->rowForView(sender) : -1;
    const int start = row >= 1 ? row : n; // from the first entry on to the last
    for (int k = 0; k < n; ++k)
        if (setFirstResponderToFieldAtIndex((n + start - 1 - k) % n, false))
            return;
    beep();
}

bool ZNTRowViewController::setFirstResponderToFieldAtIndex(int index, bool forward) {
    ZNTRowValueCell *cell = cellAtRow(index, true);
    if (!cell)
        return false;
    const QList<QWidget *> views = focusableKeyViews(cell);
    if (views.isEmpty())
        return false; // the entry takes no focus: the search goes on
    QWidget *target = forward ? views.front() : views.back();
    m_tableView->scrollRowToVisible(index);
    target->setFocus(forward ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    if (target->window()->focusWidget() != target) {
        beep();
        return true;
    }
    if (auto *text = qobject_cast<ZNTTextView *>(target))
        text->selectAll();
    return true;
}

// --- referenced rows ----------------------------------------------------------------

void ZNTRowViewController::editForeignRow(QWidget *sender) {
    if (disableEditing())
        return;
    const int index = m_tableView ? m_tableView->rowForView(sender) : -1;
    const auto foreign = m_model.foreignRow(index);
    if (!foreign || !sendAction(sender, ZNTActionName::navigateToItem, std::shared_ptr<ZNTObject>(foreign)))
        beep();
}
