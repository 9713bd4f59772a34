#include "ZNTFilterController.h"

#include "ZNTFilterView.h"
#include "model/ZNTTable.h"
#include "model/ZNTTableMetadata.h"
#include "platform/ProgramError.h"
#include "uikit/BarButtons.h"
#include "uikit/Beep.h"
#include "uikit/WindowEditing.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMenu>
#include <QScrollArea>
#include <QVBoxLayout>

ZNTFilterController::ZNTFilterController(std::shared_ptr<ZNTTable> table, QObject *parent)
    : QObject(parent), m_model(std::move(table)) {
    requireMainThread("ZNTFilterController");
    m_metadataObserver = NotificationCenter::defaultCenter().observe(
        ZNTTableMetadata::DidLoadNotification, nullptr,
        [this](const Notification &notification) { tableMetadataUpdated(notification); });
}

ZNTFilterController::~ZNTFilterController() {
    m_metadataObserver.stopObserving();
    delete m_panel.data();
    delete m_view.data();
}

QWidget *ZNTFilterController::view() {
    if (!m_view) {
        buildUi();
        connectActions();
        m_didWake = true;
        makeFilterViews();
    }
    return m_view;
}

void ZNTFilterController::buildUi() {
    m_view = new ZNTFilterSetView;
    m_view->setObjectName(QStringLiteral("FilterSetView"));
    auto *layout = new QHBoxLayout(m_view);
    layout->setContentsMargins(8, 6, 8, 6);
    layout->setSpacing(8);

    m_filterContainerView = new QWidget;
    m_filterContainerView->setAutoFillBackground(false);
    auto *rows = new QVBoxLayout(m_filterContainerView);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(4);
    // A file may bring many rows: beyond a few the bar scrolls instead of
    // pushing the grid out of the window.
    m_rowsScrollArea = new QScrollArea;
    m_rowsScrollArea->setFrameShape(QFrame::NoFrame);
    m_rowsScrollArea->setWidgetResizable(true);
    m_rowsScrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_rowsScrollArea->setWidget(m_filterContainerView);
    m_rowsScrollArea->viewport()->setAutoFillBackground(false);
    layout->addWidget(m_rowsScrollArea, 1);

    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(4);
    m_filterButton = new ZNTTerminalButton;
    m_filterButton->setText(tr("Filter"));
    m_filterButton->setToolTip(tr("Show the rows that match these filters (Return in a field)"));
    m_fileMenuButton = new ZNTTerminalButton;
    m_fileMenuButton->setText(QStringLiteral("…"));
    m_fileMenuButton->setToolTip(tr("Save these filters to a file, or load filters from one"));
    m_fileMenuButton->setAccessibleName(tr("Filter files"));
    m_fileMenuButton->setPopupMode(QToolButton::InstantPopup);
    auto *menu = new QMenu(m_fileMenuButton);
    menu->addAction(tr("Save Filters…"), this, &ZNTFilterController::saveFilter);
    menu->addAction(tr("Load Filters…"), this, &ZNTFilterController::loadFilter);
    m_fileMenuButton->setMenu(menu);
    buttons->addWidget(m_filterButton);
    buttons->addWidget(m_fileMenuButton);
    layout->addLayout(buttons);
    layout->setAlignment(buttons, Qt::AlignTop);
}

void ZNTFilterController::connectActions() {
    connect(m_filterButton, &QToolButton::clicked, this, [this] { performFilter(m_filterButton); });
}

bool ZNTFilterController::loadDictionaryRepresentations(const QVariant &object) {
    if (!m_model.loadDictionaryRepresentations(object))
        return false;
    if (m_didWake)
        makeFilterViews();
    return true;
}

void ZNTFilterController::filterColumn(const std::shared_ptr<ZNTColumn> &column) {
    m_model.filterColumn(column);
    if (m_didWake)
        makeFilterViews();
}

QLineEdit *ZNTFilterController::firstTextField() const {
    return m_filterViews.isEmpty() ? nullptr : m_filterViews.first()->detailTextField();
}

bool ZNTFilterController::makeFirstResponder() {
    if (m_filterViews.isEmpty())
        return false;
    focusValueField(0);
    QWidget *focus = m_view ? m_view->window()->focusWidget() : nullptr;
    return focus && m_filterViews.first()->isAncestorOf(focus);
}

QWidget *ZNTFilterController::window() const {
    return m_view ? m_view->window() : nullptr;
}

bool ZNTFilterController::endEditingOrBeep() {
    if (window() && !uv_endEditing(window())) {
        beep();
        return false;
    }
    return true;
}

int ZNTFilterController::filterIndexForSender(QObject *sender) {
    for (auto *widget = qobject_cast<QWidget *>(sender); widget; widget = widget->parentWidget())
        if (auto *row = qobject_cast<ZNTFilterView *>(widget))
            return row->tag();
    return 0;
}

void ZNTFilterController::makeFilterViews() {
    m_model.ensureOneFilter();
    // A row may be what sent the action that rebuilds them: the old rows go
    // once that action is over.
    for (ZNTFilterView *row : std::as_const(m_filterViews)) {
        row->hide();
        m_filterContainerView->layout()->removeWidget(row);
        row->deleteLater();
    }
    m_filterViews.clear();
    for (qsizetype i = 0; i < m_model.filters().size(); ++i) {
        ZNTFilterView *row = makeFilterView(i);
        m_filterViews.append(row);
        m_filterContainerView->layout()->addWidget(row);
        updateFilterViewAtIndex(i);
    }
    orderTabChain();
    fitRowsScrollArea();
}

void ZNTFilterController::fitRowsScrollArea() {
    const int rowHeight = m_filterViews.isEmpty() ? 0 : m_filterViews.first()->sizeHint().height();
    const int spacing = m_filterContainerView->layout()->spacing();
    const int shown = int(std::min<qsizetype>(m_filterViews.size(), kMaxRowsShown));
    const bool scrolls = m_filterViews.size() > kMaxRowsShown;
    m_rowsScrollArea->setVerticalScrollBarPolicy(scrolls ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    m_rowsScrollArea->setFixedHeight(shown * rowHeight + std::max(0, shown - 1) * spacing);
}

ZNTFilterView *ZNTFilterController::makeFilterView(qsizetype index) {
    auto *row = new ZNTFilterView;
    row->setTag(int(index));
    QComboBox *popup = row->popupButton();
    for (qsizetype k = 0; k < m_model.columns().size(); ++k)
        popup->addItem(m_model.columns()[k]->name(), FilterBarModel::FirstColumnTag + int(k));
    connect(popup, &QComboBox::activated, this, [this, popup] { selectLeftSide(popup); });
    connect(row->removeButton(), &QToolButton::clicked, this, [this, row] { removeFilter(row->removeButton()); });
    connect(row->addButton(), &QToolButton::clicked, this, [this, row] { addFilter(row->addButton()); });
    return row;
}

void ZNTFilterController::updateFilterViewAtIndex(qsizetype index) {
    ZNTFilterView *row = m_filterViews.value(index);
    const auto filter = m_model.filterAt(index);
    if (!row || !filter)
        return;
    if (const std::optional<int> tag = m_model.leftSideTag(index))
        row->popupButton()->setCurrentIndex(row->popupButton()->findData(*tag));
    row->loadDetailView(filter->nibName(),
                        FilterBarModel::operatorsOfDetailView(filter->nibName(), filter->filterOperator()));
    if (QLineEdit *field = row->detailTextField()) {
        field->setText(filter->stringValue());
        field->setVisible(filter->numberOfStringValues() >= 1);
        // The field edits the filter's value as the user types.
        connect(field, &QLineEdit::textEdited, this, [filter](const QString &text) { filter->setStringValue(text); });
        connect(field, &QLineEdit::returnPressed, this, [this, field] { performFilter(field); });
    }
    if (QComboBox *operators = row->detailOperatorPopupButton()) {
        operators->setCurrentIndex(operators->findData(filter->filterOperator()));
        connect(operators, &QComboBox::activated, this, [this, filter, operators] {
            filter->setFilterOperator(operators->currentData().toInt());
            selectOperator(operators);
        });
    }
}

void ZNTFilterController::orderTabChain() {
    // Rows and detail views are made after the buttons: without this, Tab
    // would visit the buttons first.
    QWidget *previous = nullptr;
    for (ZNTFilterView *row : std::as_const(m_filterViews)) {
        for (QWidget *next :
             {static_cast<QWidget *>(row->popupButton()), static_cast<QWidget *>(row->detailOperatorPopupButton()),
              static_cast<QWidget *>(row->detailTextField()), static_cast<QWidget *>(row->removeButton()),
              static_cast<QWidget *>(row->addButton())}) {
            if (!next)
                continue;
            if (previous)
                QWidget::setTabOrder(previous, next);
            previous = next;
        }
    }
    if (previous)
        QWidget::setTabOrder(previous, m_filterButton);
    QWidget::setTabOrder(m_filterButton, m_fileMenuButton);
}

void ZNTFilterController::focusValueField(qsizetype index) {
    ZNTFilterView *row = m_filterViews.value(index);
    if (!row)
        return;
    m_rowsScrollArea->ensureWidgetVisible(row, 0, 0);
    QLineEdit *field = row->detailTextField();
    if (field && !field->isHidden()) {
        field->setFocus(Qt::OtherFocusReason);
        field->selectAll();
    } else if (row->detailOperatorPopupButton()) {
        row->detailOperatorPopupButton()->setFocus(Qt::OtherFocusReason);
    } else {
        row->popupButton()->setFocus(Qt::OtherFocusReason);
    }
}

void ZNTFilterController::selectLeftSide(QObject *sender) {
    if (!endEditingOrBeep())
        return;
    const int index = filterIndexForSender(sender);
    auto *popup = qobject_cast<QComboBox *>(sender);
    if (!popup)
        return;
    m_model.selectLeftSide(index, popup->currentData().toInt());
    updateFilterViewAtIndex(index);
    orderTabChain();
    focusValueField(index);
}

void ZNTFilterController::selectOperator(QObject *sender) {
    if (!endEditingOrBeep())
        return;
    const int index = filterIndexForSender(sender);
    ZNTFilterView *row = m_filterViews.value(index);
    const auto filter = m_model.filterAt(index);
    if (!row || !filter)
        return;
    if (row->detailViewNibName() != filter->nibName()) {
        updateFilterViewAtIndex(index);
        orderTabChain();
    }
    if (QLineEdit *field = row->detailTextField())
        field->setVisible(filter->numberOfStringValues() >= 1);
    focusValueField(index);
}

void ZNTFilterController::addFilter(QObject *sender) {
    const qsizetype added = m_model.addFilterAfter(filterIndexForSender(sender));
    if (added < 0)
        return;
    makeFilterViews();
    focusValueField(added);
}

void ZNTFilterController::removeFilter(QObject *sender) {
    const int index = filterIndexForSender(sender);
    if (!m_model.removeFilter(index)) {
        if (m_delegate)
            m_delegate->filterControllerDidRemoveLastFilter(*this);
        return;
    }
    makeFilterViews();
    focusValueField(std::min<qsizetype>(index, m_filterViews.size() - 1));
}

void ZNTFilterController::performFilter(QObject *) {
    if (!endEditingOrBeep())
        return;
    m_model.rememberFindText();
    if (m_delegate)
        m_delegate->filterControllerDidClickFind(*this);
}

void ZNTFilterController::tableMetadataUpdated(const Notification &notification) {
    const auto metadata = notification.objectAs<ZNTTableMetadata>();
    // A failed load has no columns to offer: the rows stay as they are.
    if (!metadata || notification.value<ErrorPtr>(ZNTTableMetadata::ErrorKey).value_or(nullptr))
        return;
    if (!metadata->table() || !table() || !metadata->table()->isEqual(*table()))
        return;
    if (window())
        uv_endEditing(window());
    m_model.tableMetadataUpdated();
    if (m_didWake)
        makeFilterViews();
}
