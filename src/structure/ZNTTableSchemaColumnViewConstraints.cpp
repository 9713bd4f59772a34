// The constraint strip of a column row: its pills, the add button, and what
// becomes of a pill when its editing ends.
#include "ZNTConstraintPresentation.h"
#include "ZNTTableSchemaColumnView.h"
#include "ZNTTableSchemaFields.h"
#include "uikit/Beep.h"

using namespace ZNTConstraintPresentation;

namespace {
constexpr int kPillGap = 5;
} // namespace

ZNTConstraintList ZNTTableSchemaColumnView::editedConstraints() const {
    ZNTConstraintList copies;
    copies.reserve(m_constraints.size());
    for (const auto &constraint : m_constraints)
        copies.append(constraint->copy());
    return copies;
}

void ZNTTableSchemaColumnView::setEditedConstraints(const ZNTConstraintList &constraints) {
    for (ZNTConstraintView *pill : std::as_const(m_constraintViews)) {
        pill->setDelegate(nullptr);
        pill->hide();
        pill->deleteLater();
    }
    m_constraintViews.clear();
    m_constraints.clear();
    QWidget *previous = m_defaultField;
    for (qsizetype i = 0; i < constraints.size(); ++i) {
        m_constraints.append(constraints[i]->copy());
        auto *pill =
            new ZNTConstraintView(m_originalConstraints.value(i), m_constraints.last(), m_table, m_constraintsView);
        pill->setDelegate(this);
        pill->show();
        m_constraintViews.append(pill);
        QWidget::setTabOrder(previous, pill);
        previous = pill;
    }
    QWidget::setTabOrder(previous, m_constraintButton);
    layOutStrip();
    partsChanged();
}

void ZNTTableSchemaColumnView::layOutStrip() {
    int x = 0;
    const int height = m_constraintsView->height();
    for (ZNTConstraintView *pill : std::as_const(m_constraintViews)) {
        const QSize size = pill->sizeHint();
        pill->setGeometry(x, (height - size.height()) / 2, size.width(), size.height());
        x += size.width() + kPillGap;
    }
    const QSize button = m_constraintButton->sizeHint();
    m_constraintButton->setGeometry(x, (height - button.height()) / 2, button.width(), button.height());
}

void ZNTTableSchemaColumnView::addConstraint(ZNTConstraint::Type type) {
    insertConstraintViewForConstraint(*newConstraint(type, m_originalColumn));
}

void ZNTTableSchemaColumnView::insertConstraintViewForConstraint(const ZNTConstraint &constraint) {
    m_constraints.append(constraint.copy());
    auto *pill = new ZNTConstraintView(nullptr, m_constraints.last(), m_table, m_constraintsView);
    pill->setDelegate(this);
    QWidget::setTabOrder(m_constraintViews.isEmpty() ? static_cast<QWidget *>(m_defaultField)
                                                     : static_cast<QWidget *>(m_constraintViews.last()),
                         pill);
    QWidget::setTabOrder(pill, m_constraintButton);
    m_constraintViews.append(pill);
    pill->show();
    partsChanged();
    // The strip grows now, so that the popover opens at the pill's place.
    m_widths.strip = std::max(m_widths.strip, naturalWidths().strip);
    layOutChildren();
    pill->showPopover();
    endedEditing();
}

void ZNTTableSchemaColumnView::removePill(qsizetype index) {
    ZNTConstraintView *pill = m_constraintViews.takeAt(index);
    m_constraints.removeAt(index);
    const bool hadFocus = pill->hasFocus();
    pill->setDelegate(nullptr);
    pill->hide();
    pill->deleteLater();
    if (hadFocus)
        m_constraintButton->setFocus(Qt::OtherFocusReason);
    layOutStrip();
    partsChanged();
}

void ZNTTableSchemaColumnView::constraintViewDidEndEditing(ZNTConstraintView *pill) {
    const qsizetype index = m_constraintViews.indexOf(pill);
    if (index < 0)
        return;
    switch (outcomeOfEditing(*pill->editedConstraint(), index, m_originalConstraints.size())) {
    case Outcome::Record:
        endedEditing();
        return;
    case Outcome::Remove:
        removePill(index);
        endedEditing();
        return;
    case Outcome::PutBack:
        // A loaded CHECK emptied, or a loaded foreign key without its table,
        // would only become an empty clause: it stays as it was.
        pill->putBack();
        beep();
        return;
    }
}
