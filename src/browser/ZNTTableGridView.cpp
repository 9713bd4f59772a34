#include "ZNTTableGridView.h"

#include "ZNTRowValueText.h"
#include "uikit/AltTyping.h"
#include "uikit/Beep.h"
#include "uikit/TableViewAdditions.h"
#include "uikit/WindowEditing.h"
#include "uikit/ZNTTableHeaderCell.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>

void ZNTTableGridCell::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const {
    if (index.column() == m_highlightedColumn && !(option.state & QStyle::State_Selected)) {
        QColor tint = option.palette.color(QPalette::Highlight);
        tint.setAlphaF(0.08f);
        painter->fillRect(option.rect, tint);
    }
    KRVTableDataCell::paint(painter, option, index);
}

QWidget *ZNTTableGridCell::createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                                        const QModelIndex &index) const {
    // A line edit lays its whole text out as one line: far past what anyone
    // types in a grid, the cell is refused rather than shown, or saved, in part.
    if (index.data(Qt::EditRole).toString().size() > ZNTRowValueText::kMaxEditableLength) {
        beep();
        QToolTip::showText(parent->mapToGlobal(option.rect.bottomLeft()), tooLongToEditText(), parent, option.rect);
        return nullptr;
    }
    QWidget *editor = KRVTableDataCell::createEditor(parent, option, index);
    // A letter pressed with Alt types nothing, in the editor of any kind of
    // value and in its inner fields: the page's Alt keys reach it instead.
    uv_skipAltTypingIn(editor);
    return editor;
}

QString ZNTTableGridCell::tooLongToEditText() {
    return tr("This text is longer than four million characters and can't be edited in the grid. "
              "The row editor still sets it to NULL or DEFAULT.");
}

bool ZNTTableGridCell::eventFilter(QObject *object, QEvent *event) {
    if (event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        auto *editor = qobject_cast<QWidget *>(object);
        if (editor && key->modifiers() == Qt::NoModifier && (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down)) {
            emit moveRequested(editor, key->key() == Qt::Key_Up ? -1 : 1);
            return true;
        }
    }
    return KRVTableDataCell::eventFilter(object, event);
}

ZNTTableGridView::ZNTTableGridView(QWidget *parent) : QTableView(parent) {
    setObjectName(QStringLiteral("tableView"));
    m_header = new ZNTTableHeaderCell(Qt::Horizontal, this);
    m_header->setSectionsMovable(true);
    m_header->setSectionsClickable(true);
    m_header->setFixedHeight(26);
    m_header->setContextMenuPolicy(Qt::CustomContextMenu);
    m_header->setStretchLastSection(false);
    // The sort indicator marks the column the rows follow; a selection of
    // whole rows would light every section.
    m_header->setHighlightSections(false);
    setHorizontalHeader(m_header);
    m_cell = new ZNTTableGridCell(this);
    setItemDelegate(m_cell);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                    QAbstractItemView::AnyKeyPressed);
    setContextMenuPolicy(Qt::CustomContextMenu);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setAlternatingRowColors(true);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    verticalHeader()->hide();
}

void ZNTTableGridView::setDoubleClickEdits(bool edits) {
    setEditTriggers(edits ? editTriggers() | QAbstractItemView::DoubleClicked
                          : editTriggers() & ~QAbstractItemView::DoubleClicked);
}

QList<int> ZNTTableGridView::selectedRowIndexes() const {
    const QList<int> rows = selectedRowsOf(selectionModel(), true);
    // Rows count as selected when any of their cells is.
    return rows.isEmpty() ? selectedRowsOf(selectionModel(), false) : rows;
}

bool ZNTTableGridView::endEditing() {
    if (!isEditing())
        return true;
    return uv_endEditing(window());
}

void ZNTTableGridView::abortEditing() {
    if (!isEditing())
        return;
    if (QWidget *editor = indexWidget(currentIndex()))
        closeEditor(editor, QAbstractItemDelegate::RevertModelCache);
    else
        closePersistentEditor(currentIndex());
    setState(QAbstractItemView::NoState);
}

void ZNTTableGridView::editCell(int row, int column) {
    const QModelIndex index = model() ? model()->index(row, column) : QModelIndex();
    if (!index.isValid())
        return;
    setCurrentIndex(index);
    scrollTo(index);
    edit(index);
}

void ZNTTableGridView::mouseDoubleClickEvent(QMouseEvent *event) {
    const int row = rowAt(event->position().toPoint().y());
    QTableView::mouseDoubleClickEvent(event);
    if (row >= 0)
        emit rowDoubleClicked(row);
}
