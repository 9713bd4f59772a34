#include "QueryHistoryViewController.h"

#include "favorites/ZNTFavorite.h"
#include "favorites/ZNTQueryHistoryElement.h"
#include "uikit/DateFormatting.h"

#include <QApplication>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyledItemDelegate>
#include <QToolTip>
#include <QVBoxLayout>
#include <algorithm>

namespace {
constexpr int kPadding = 6;
constexpr int kDeleteSize = 16;

QRect deleteRectIn(const QRect &row) {
    return QRect(row.right() - kPadding - kDeleteSize, row.center().y() - kDeleteSize / 2, kDeleteSize, kDeleteSize);
}

// A row: the preview on the first line, the date under it in a smaller,
// fainter font, and the delete button at the right end.
class HistoryRowDelegate : public QStyledItemDelegate {
public:
    HistoryRowDelegate(QueryHistoryViewController *owner) : QStyledItemDelegate(owner), m_owner(owner) {}

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const override {
        const QFontMetrics metrics(option.font);
        return QSize(200, metrics.height() + smallFont(option.font).pointSizeF() * 1.6 + 3 * kPadding);
    }

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override {
        QStyleOptionViewItem opt = option;
        initStyleOption(&opt, index);
        opt.text.clear();
        QStyle *style = opt.widget ? opt.widget->style() : QApplication::style();
        style->drawPrimitive(QStyle::PE_PanelItemViewItem, &opt, painter, opt.widget);
        const bool selected = opt.state & QStyle::State_Selected;
        const QPalette::ColorGroup group = opt.state & QStyle::State_Active ? QPalette::Active : QPalette::Inactive;
        const QColor text = opt.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text);
        QColor faint = text;
        faint.setAlphaF(0.6f);
        const QRect deleteRect = deleteRectIn(opt.rect);
        QRect textRect = opt.rect.adjusted(kPadding, kPadding / 2, -(3 * kPadding + kDeleteSize), -kPadding / 2);
        const QFontMetrics metrics(opt.font);
        painter->save();
        painter->setFont(opt.font);
        painter->setPen(text);
        const QString preview = index.data(Qt::DisplayRole).toString();
        painter->drawText(textRect.adjusted(0, 0, 0, -(textRect.height() - metrics.height())),
                          Qt::AlignLeft | Qt::AlignVCenter,
                          metrics.elidedText(preview, Qt::ElideRight, textRect.width()));
        const QFont small = smallFont(opt.font);
        painter->setFont(small);
        painter->setPen(faint);
        painter->drawText(textRect.adjusted(0, metrics.height(), 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                          index.data(QueryHistoryModel::DateRole).toString());
        drawDeleteButton(painter, deleteRect, faint);
        painter->restore();
    }

    bool editorEvent(QEvent *event, QAbstractItemModel *, const QStyleOptionViewItem &option,
                     const QModelIndex &index) override {
        if (event->type() != QEvent::MouseButtonPress && event->type() != QEvent::MouseButtonRelease &&
            event->type() != QEvent::MouseButtonDblClick)
            return false;
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (!deleteRectIn(option.rect).contains(mouse->position().toPoint()))
            return false;
        // The press is taken too, so that it does not choose the entry first.
        if (event->type() == QEvent::MouseButtonRelease && mouse->button() == Qt::LeftButton)
            m_owner->deleteHistoryElement(index.row());
        return true;
    }

    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override {
        if (event->type() == QEvent::ToolTip && deleteRectIn(option.rect).contains(event->pos())) {
            QToolTip::showText(event->globalPos(), QStringLiteral("Delete This Entry (Delete)"), view);
            return true;
        }
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    }

private:
    static QFont smallFont(const QFont &font) {
        QFont small = font;
        small.setPointSizeF(std::max(font.pointSizeF() * 0.85, 7.0));
        return small;
    }

    // A cross in a faint circle, in the row's text colour: right in any palette.
    static void drawDeleteButton(QPainter *painter, const QRect &rect, const QColor &color) {
        painter->setRenderHint(QPainter::Antialiasing);
        QColor fill = color;
        fill.setAlphaF(0.18f);
        painter->setPen(Qt::NoPen);
        painter->setBrush(fill);
        painter->drawEllipse(rect);
        QPen pen(color, 1.5);
        pen.setCapStyle(Qt::RoundCap);
        painter->setPen(pen);
        const QRectF cross = QRectF(rect).adjusted(5, 5, -5, -5);
        painter->drawLine(cross.topLeft(), cross.bottomRight());
        painter->drawLine(cross.topRight(), cross.bottomLeft());
    }

    QueryHistoryViewController *m_owner;
};

QString dateText(const QDateTime &date) {
    const QLocale locale;
    const QDateTime local = date.toLocalTime();
    return QStringLiteral("%1 %2").arg(locale.toString(local.date(), mediumDateFormat(locale)),
                                       locale.toString(local.time(), QLocale::ShortFormat));
}
} // namespace

// --- model ------------------------------------------------------------------------

void QueryHistoryModel::setElements(std::vector<std::shared_ptr<ZNTQueryHistoryElement>> elements) {
    beginResetModel();
    m_elements = std::move(elements);
    m_previews.assign(m_elements.size(), QString());
    endResetModel();
}

std::shared_ptr<ZNTQueryHistoryElement> QueryHistoryModel::elementAt(int row) const {
    return row >= 0 && row < rowCount() ? m_elements[size_t(row)] : nullptr;
}

int QueryHistoryModel::rowOf(const std::shared_ptr<ZNTQueryHistoryElement> &element) const {
    if (!element)
        return -1;
    const auto it = std::find_if(m_elements.begin(), m_elements.end(),
                                 [&](const auto &e) { return e->objectID() == element->objectID(); });
    return it == m_elements.end() ? -1 : int(it - m_elements.begin());
}

void QueryHistoryModel::removeRowOf(const std::shared_ptr<ZNTQueryHistoryElement> &element) {
    const int row = rowOf(element);
    if (row < 0)
        return;
    beginRemoveRows(QModelIndex(), row, row);
    m_elements.erase(m_elements.begin() + row);
    m_previews.erase(m_previews.begin() + row);
    endRemoveRows();
}

int QueryHistoryModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : int(m_elements.size());
}

QVariant QueryHistoryModel::data(const QModelIndex &index, int role) const {
    const auto element = elementAt(index.row());
    if (!element || index.parent().isValid())
        return QVariant();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole: {
        QString &preview = m_previews[size_t(index.row())];
        if (preview.isNull())
            preview = element->previewText();
        return preview;
    }
    case Qt::ToolTipRole:
        return dateText(element->date());
    case DateRole:
        return dateText(element->date());
    default:
        return QVariant();
    }
}

// --- list -------------------------------------------------------------------------

QueryHistoryViewController::QueryHistoryViewController(QWidget *parent) : QWidget(parent) {
    buildUi();
    connectActions();
}

void QueryHistoryViewController::buildUi() {
    setObjectName(QStringLiteral("queryHistory"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_tableView = new QListView;
    m_tableView->setObjectName(QStringLiteral("historyList"));
    m_tableView->setAccessibleName(QStringLiteral("Query History"));
    m_model = new QueryHistoryModel(this);
    m_tableView->setModel(m_model);
    m_tableView->setItemDelegate(new HistoryRowDelegate(this));
    m_tableView->setSelectionMode(QAbstractItemView::SingleSelection);
    m_tableView->setUniformItemSizes(true);
    m_tableView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_tableView->setMinimumSize(420, 300);
    layout->addWidget(m_tableView);
    setFocusProxy(m_tableView);
}

void QueryHistoryViewController::connectActions() {
    connect(m_tableView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { tableViewSelectionDidChange(); });
    auto *remove = new QAction(QStringLiteral("Delete Entry"), m_tableView);
    remove->setShortcuts({QKeySequence::Delete, QKeySequence(Qt::Key_Backspace)});
    remove->setShortcutContext(Qt::WidgetShortcut);
    m_tableView->addAction(remove);
    connect(remove, &QAction::triggered, this, [this] {
        const QModelIndex current = m_tableView->currentIndex();
        if (current.isValid())
            deleteHistoryElement(current.row());
    });
}

void QueryHistoryViewController::setFavorite(std::shared_ptr<ZNTFavorite> favorite) {
    m_favorite = std::move(favorite);
    std::vector<std::shared_ptr<ZNTQueryHistoryElement>> elements;
    if (m_favorite)
        elements = m_favorite->queryHistoryElements();
    std::reverse(elements.begin(), elements.end()); // newest first
    m_settingSelection = true;
    m_model->setElements(std::move(elements));
    m_settingSelection = false;
    m_selected.reset();
}

void QueryHistoryViewController::setSelectedQueryHistoryElement(
    const std::shared_ptr<ZNTQueryHistoryElement> &element) {
    m_selected = element;
    const int row = m_model->rowOf(element);
    m_settingSelection = true;
    if (row >= 0) {
        const QModelIndex index = m_model->index(row);
        m_tableView->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
        m_tableView->scrollTo(index);
    } else {
        m_tableView->selectionModel()->clear();
        m_selected.reset();
    }
    m_settingSelection = false;
}

void QueryHistoryViewController::tableViewSelectionDidChange() {
    if (m_settingSelection)
        return;
    const QModelIndexList rows = m_tableView->selectionModel()->selectedRows();
    m_selected = rows.isEmpty() ? nullptr : m_model->elementAt(rows.first().row());
    if (m_delegate)
        m_delegate->selectionChangedInQueryHistoryViewController(this);
}

void QueryHistoryViewController::deleteHistoryElement(int row) {
    const auto element = m_model->elementAt(row);
    if (!element || !m_favorite)
        return;
    if (m_selected && m_selected->objectID() == element->objectID())
        m_selected.reset();
    m_favorite->deleteQueryHistoryElement(element);
    // Its row goes without choosing the entry that takes its place.
    m_settingSelection = true;
    m_model->removeRowOf(element);
    m_settingSelection = false;
}

QRect QueryHistoryViewController::deleteButtonRect(int row) const {
    return deleteRectIn(m_tableView->visualRect(m_model->index(row)));
}
