#include "IconView.h"

#include "IconViewCell.h"
#include "platform/ProgramError.h"

#include <QAbstractItemModel>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollArea>
#include <algorithm>
#include <functional>

// One item of the model as the grid holds it between two readings of the model.
struct IconView::Node {
    Node *parent = nullptr;
    int row = 0;
    QVariant identity;
    QString name;
    QIcon image;    // the header's small icon
    QIcon bigImage; // the icon of the grid
    bool isSection = false;
    bool open = false;
    bool selected = false;
    bool highlighted = false; // the header is being pressed
    std::vector<std::unique_ptr<Node>> children;
    // After layout: the cell of an icon, or the whole rectangle of a section.
    QRect rect;
    bool laidOut = false;
    // The name broken into lines, made when the icon is first drawn.
    QStringList lines;
    bool linesValid = false;
};

namespace {

// Mixed from base toward ink by amount: the grid's greys, which follow a dark palette.
QColor mix(const QColor &base, const QColor &ink, double amount) {
    return QColor::fromRgbF(float(base.redF() + (ink.redF() - base.redF()) * amount),
                            float(base.greenF() + (ink.greenF() - base.greenF()) * amount),
                            float(base.blueF() + (ink.blueF() - base.blueF()) * amount));
}

int rowHeight() {
    return IconView::iconSize().height() + IconView::iconSpacing().height();
}

int columnPitch() {
    return IconView::iconSize().width() + IconView::iconSpacing().width();
}

} // namespace

IconView::IconView(QWidget *parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(false);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

IconView::~IconView() = default;

// --- The model ---------------------------------------------------------------------

void IconView::setModel(QAbstractItemModel *model) {
    for (const QMetaObject::Connection &connection : m_modelConnections)
        disconnect(connection);
    m_modelConnections.clear();
    m_model = model;
    if (model) {
        auto changed = [this] { modelChanged(); };
        m_modelConnections = {
            connect(model, &QAbstractItemModel::modelReset, this, changed),
            connect(model, &QAbstractItemModel::rowsInserted, this, changed),
            connect(model, &QAbstractItemModel::rowsRemoved, this, changed),
            connect(model, &QAbstractItemModel::rowsMoved, this, changed),
            connect(model, &QAbstractItemModel::layoutChanged, this, changed),
            connect(model, &QAbstractItemModel::dataChanged, this, changed),
            connect(model, &QObject::destroyed, this, changed),
        };
    }
    modelChanged();
}

// Read again at the next use: several changes in a row cost one reading.
void IconView::modelChanged() {
    m_treeDirty = true;
    m_pressedHeader = nullptr;
    reflow();
}

void IconView::reloadData() {
    rebuild();
    reflow();
}

void IconView::reflow() {
    m_layoutValid = false;
    updateGeometry();
    update();
}

void IconView::ensureTree() const {
    if (m_treeDirty)
        const_cast<IconView *>(this)->rebuild();
}

void IconView::ensureLayout() const {
    ensureTree();
    if (m_layoutValid)
        return;
    m_laidOutItems.clear();
    m_laidOutSections.clear();
    forEachNode([](Node *node) { node->laidOut = false; });
    m_contentHeight = layoutSection(m_root.get(), topMargin, std::max(1, m_columns), true);
    m_layoutValid = true;
}

void IconView::rebuild() {
    requireMainThread("IconView::reloadData");
    m_treeDirty = false;
    m_layoutValid = false;
    m_pressedHeader = nullptr;
    m_root = std::make_unique<Node>();
    m_root->isSection = true;
    m_root->open = true;
    if (m_model)
        loadSection(m_root.get(), QModelIndex());
}

void IconView::loadSection(Node *section, const QModelIndex &parent) {
    const int count = m_model->rowCount(parent);
    section->children.reserve(size_t(std::max(0, count)));
    for (int row = 0; row < count; ++row) {
        const QModelIndex index = m_model->index(row, 0, parent);
        auto node = std::make_unique<Node>();
        node->parent = section;
        node->row = row;
        node->name = index.data(Qt::DisplayRole).toString();
        node->identity = index.data(IdentityRole);
        if (!node->identity.isValid())
            node->identity = node->name;
        node->image = index.data(Qt::DecorationRole).value<QIcon>();
        if (m_model->hasChildren(index)) {
            node->isSection = true;
            node->open = m_expanded.contains(node->identity);
            loadSection(node.get(), index);
        } else {
            node->bigImage = index.data(BigImageRole).value<QIcon>();
            if (node->bigImage.isNull())
                node->bigImage = node->image;
            // With the focus, the grid always has a selection: the first icon it meets.
            if (hasFocus() && m_selected.isEmpty()) {
                m_selected << node->identity;
                m_lastSelect = node->identity;
            }
            node->selected = m_selected.contains(node->identity);
        }
        section->children.push_back(std::move(node));
    }
}

int IconView::columnsForWidth(int width) {
    return std::max(1, (width - iconSpacing().width()) / columnPitch());
}

// Lays out section from top; its height. With store, the rectangles are kept.
int IconView::layoutSection(Node *section, int top, int columns, bool store) const {
    int y = top;
    const bool isMain = section == m_root.get();
    if (!isMain) {
        y += headerHeight + (section->open ? openHeaderExtra : 0);
        if (store)
            m_laidOutSections.push_back(section);
    }
    if (section->open) {
        int column = 0;
        for (const auto &child : section->children) {
            if (child->isSection) {
                if (column != 0)
                    y += rowHeight();
                y += layoutSection(child.get(), y, columns, store);
                column = 0;
                continue;
            }
            if (column == columns) {
                y += rowHeight();
                column = 0;
            }
            if (store) {
                child->rect = QRect(iconSpacing().width() + column * columnPitch(), y + iconSpacing().height() / 2,
                                    iconSize().width(), iconSize().height());
                child->laidOut = true;
                m_laidOutItems.push_back(child.get());
            }
            ++column;
        }
        if (column != 0)
            y += rowHeight();
    }
    if (store) {
        section->rect = QRect(0, top, width(), y - top);
        section->laidOut = true;
    }
    return y - top;
}

int IconView::contentHeight() const {
    ensureLayout();
    return m_contentHeight;
}

QSize IconView::sizeHint() const {
    const int columns = m_columns > 0 ? m_columns : 4;
    const int width = columns * columnPitch() + iconSpacing().width();
    return QSize(width, heightForWidth(width));
}

QSize IconView::minimumSizeHint() const {
    return QSize(columnPitch() + iconSpacing().width(), 0);
}

int IconView::heightForWidth(int width) const {
    ensureTree();
    return layoutSection(m_root.get(), topMargin, columnsForWidth(width), false) + 2 * topMargin;
}

void IconView::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    const int columns = columnsForWidth(width());
    if (columns != m_columns) {
        m_columns = columns;
        reflow();
    } else {
        m_layoutValid = false; // the sections span the width
    }
}

// --- Finding nodes -------------------------------------------------------------------

void IconView::forEachNode(const std::function<void(Node *)> &visit) const {
    ensureTree();
    std::function<void(Node *)> walk = [&](Node *node) {
        for (const auto &child : node->children) {
            visit(child.get());
            if (child->isSection)
                walk(child.get());
        }
    };
    walk(m_root.get());
}

IconView::Node *IconView::nodeForIndex(const QModelIndex &index) const {
    ensureTree();
    if (!index.isValid() || index.model() != m_model)
        return nullptr;
    std::vector<int> rows;
    for (QModelIndex i = index.sibling(index.row(), 0); i.isValid(); i = i.parent())
        rows.push_back(i.row());
    Node *node = m_root.get();
    for (auto it = rows.rbegin(); it != rows.rend(); ++it) {
        if (*it < 0 || size_t(*it) >= node->children.size())
            return nullptr;
        node = node->children[size_t(*it)].get();
    }
    return node;
}

QModelIndex IconView::indexForNode(const Node *node) const {
    if (!node || !node->parent || !m_model)
        return QModelIndex();
    return m_model->index(node->row, 0, indexForNode(node->parent));
}

IconView::Node *IconView::nodeForIdentity(const QVariant &identity) const {
    if (!identity.isValid())
        return nullptr;
    Node *found = nullptr;
    forEachNode([&](Node *node) {
        if (!found && !node->isSection && node->identity == identity)
            found = node;
    });
    return found;
}

// The first icon of the grid: a section is entered through its first element.
IconView::Node *IconView::firstItem() const {
    ensureTree();
    Node *node = m_root.get();
    while (node && node->isSection)
        node = node->children.empty() ? nullptr : node->children.front().get();
    return node;
}

IconView::Node *IconView::itemAt(const QPoint &point) const {
    ensureLayout();
    // Rows go down the grid: skip those that end above the point.
    auto it = std::lower_bound(m_laidOutItems.begin(), m_laidOutItems.end(), point.y(),
                               [](const Node *node, int y) { return node->rect.bottom() < y; });
    for (; it != m_laidOutItems.end() && (*it)->rect.top() <= point.y(); ++it) {
        Node *node = *it;
        if (!node->rect.contains(point))
            continue;
        if (!node->linesValid) {
            node->lines = IconViewCell::nameLines(node->name, font(), node->rect.width());
            node->linesValid = true;
        }
        const auto geometry =
            IconViewCell::measure(node->rect, IconViewCell::naturalSize(node->bigImage), node->lines, font());
        if (geometry.iconHit.contains(point) || geometry.nameBox.contains(point))
            return node;
        return nullptr;
    }
    return nullptr;
}

QRect IconView::headerRect(const Node *section) {
    return QRect(section->rect.x(), section->rect.y(), section->rect.width(), headerHeight);
}

IconView::Node *IconView::headerAt(const QPoint &point) const {
    ensureLayout();
    for (Node *section : m_laidOutSections) {
        if (headerRect(section).contains(point))
            return section;
    }
    return nullptr;
}

QModelIndex IconView::indexAt(const QPoint &point, QRect *cell) const {
    Node *node = itemAt(point);
    if (node && cell)
        *cell = node->rect;
    return indexForNode(node);
}

QModelIndex IconView::sectionAt(const QPoint &point, QRect *header) const {
    Node *section = headerAt(point);
    if (section && header)
        *header = headerRect(section);
    return indexForNode(section);
}

QRect IconView::visualRect(const QModelIndex &index) const {
    ensureLayout();
    const Node *node = nodeForIndex(index);
    return node && node->laidOut && !node->isSection ? node->rect : QRect();
}

// --- Selection -----------------------------------------------------------------------

QModelIndexList IconView::selectedIndexes() const {
    ensureLayout();
    QModelIndexList indexes;
    for (const Node *node : m_laidOutItems) {
        if (node->selected)
            indexes << indexForNode(node);
    }
    return indexes;
}

bool IconView::isSelected(const QModelIndex &index) const {
    const Node *node = nodeForIndex(index);
    return node && node->selected;
}

void IconView::selectIndex(const QModelIndex &index, bool extend) {
    Node *node = nodeForIndex(index);
    selectNode(node && !node->isSection ? node : nullptr, extend);
}

void IconView::deselectIndex(const QModelIndex &index) {
    Node *node = nodeForIndex(index);
    if (node && !node->isSection)
        deselectNode(node);
}

void IconView::updateAround(const Node *node) {
    if (node && node->laidOut)
        update(node->rect.adjusted(-4, -4, 4, 4));
}

void IconView::selectNode(Node *node, bool extend) {
    ensureLayout();
    if (!extend) {
        forEachNode([this](Node *each) {
            if (each->selected) {
                each->selected = false;
                updateAround(each);
            }
        });
        m_selected.clear();
    }
    if (node && !node->selected) {
        node->selected = true;
        m_selected << node->identity;
        updateAround(node);
    }
    m_lastSelect = node ? node->identity : QVariant();
    emit selectionChanged();
}

void IconView::deselectNode(Node *node) {
    ensureLayout();
    if (node->selected) {
        node->selected = false;
        m_selected.removeAll(node->identity);
        updateAround(node);
    }
    m_lastSelect = node->identity;
    emit selectionChanged();
}

void IconView::toggleNode(Node *node) {
    if (!node)
        return;
    if (node->selected)
        deselectNode(node);
    else
        selectNode(node, true);
}

// --- Sections ------------------------------------------------------------------------

void IconView::setExpanded(const QVariant &identity, bool open) {
    if (open == m_expanded.contains(identity))
        return;
    if (open)
        m_expanded << identity;
    else
        m_expanded.removeAll(identity);
    if (!m_treeDirty) {
        forEachNode([&](Node *node) {
            if (node->isSection && node->identity == identity)
                node->open = open;
        });
    }
    reflow();
}

bool IconView::isExpanded(const QVariant &identity) const {
    return m_expanded.contains(identity);
}

// --- Drawing -------------------------------------------------------------------------

bool IconView::isInForeground() const {
    return hasFocus() && window()->isActiveWindow();
}

void IconView::noteKeyStatusChanged() {
    ensureLayout();
    for (const Node *node : m_laidOutItems) {
        if (node->selected)
            updateAround(node);
    }
}

void IconView::paintEvent(QPaintEvent *event) {
    ensureLayout();
    QPainter painter(this);
    const QRect dirty = event->rect();
    painter.fillRect(dirty, palette().color(QPalette::Base));
    for (Node *section : m_laidOutSections) {
        if (headerRect(section).intersects(dirty))
            drawHeader(painter, section);
    }
    auto it = std::lower_bound(m_laidOutItems.begin(), m_laidOutItems.end(), dirty.top(),
                               [](const Node *node, int y) { return node->rect.bottom() < y; });
    for (; it != m_laidOutItems.end() && (*it)->rect.top() <= dirty.bottom(); ++it) {
        if ((*it)->rect.intersects(dirty))
            drawItem(painter, *it);
    }
}

void IconView::drawHeader(QPainter &painter, Node *section) const {
    const QRect header = headerRect(section);
    const QPalette &colours = palette();
    const QColor base = colours.color(QPalette::Base), ink = colours.color(QPalette::Text);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    if (section->highlighted) {
        QPainterPath band;
        band.addRoundedRect(QRectF(header.x() + 2, header.y(), header.width() - 4, headerHeight), 3, 3);
        painter.fillPath(band, mix(base, ink, 0.1));
    }
    const QPointF box(10, header.y() + 6);
    QPolygonF triangle;
    if (section->open)
        triangle << box + QPointF(3, 5) << box + QPointF(13, 5) << box + QPointF(8, 12);
    else
        triangle << box + QPointF(5, 3) << box + QPointF(5, 13) << box + QPointF(12, 8);
    painter.setPen(Qt::NoPen);
    painter.setBrush(mix(base, ink, 0.5));
    painter.drawPolygon(triangle);
    if (!section->image.isNull())
        section->image.paint(&painter, QRect(28, header.y() + 6, 16, 16));
    painter.setPen(ink);
    painter.setFont(font());
    const QRect text(49, header.y(), std::max(0, header.width() - 49 - 8), headerHeight);
    painter.drawText(
        text, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
        fontMetrics().elidedText(IconViewCell::wrappableName(section->name), Qt::ElideRight, text.width()));
    painter.restore();
}

void IconView::drawItem(QPainter &painter, Node *item) const {
    if (!item->linesValid) {
        item->lines = IconViewCell::nameLines(item->name, font(), item->rect.width());
        item->linesValid = true;
    }
    const auto geometry =
        IconViewCell::measure(item->rect, IconViewCell::naturalSize(item->bigImage), item->lines, font());
    const QPalette &colours = palette();
    const QColor base = colours.color(QPalette::Base), ink = colours.color(QPalette::Text);
    const QPalette::ColorGroup group = isInForeground() ? QPalette::Active : QPalette::Inactive;
    const IconViewCell::Colours cellColours{ink, colours.color(group, QPalette::HighlightedText),
                                            colours.color(group, QPalette::Highlight), mix(base, ink, 0.1)};
    IconViewCell::draw(painter, geometry, imagePixmap(item->bigImage, geometry.icon.size()), item->lines, font(),
                       item->selected, cellColours);
}

// Icons drawn in code would be drawn again for every cell and every paint.
QPixmap IconView::imagePixmap(const QIcon &icon, const QSize &size) const {
    if (icon.isNull() || size.isEmpty())
        return QPixmap();
    const qreal ratio = devicePixelRatioF();
    const auto key = std::make_tuple(icon.cacheKey(), size.width(), size.height(), int(ratio * 100));
    auto found = m_pixmaps.find(key);
    if (found != m_pixmaps.end())
        return found->second;
    QPixmap pixmap = icon.pixmap(size, ratio);
    if (m_pixmaps.size() > 256)
        m_pixmaps.clear();
    m_pixmaps.emplace(key, pixmap);
    return pixmap;
}

void IconView::changeEvent(QEvent *event) {
    switch (event->type()) {
    case QEvent::ActivationChange:
        noteKeyStatusChanged();
        break;
    case QEvent::PaletteChange:
        m_pixmaps.clear();
        update();
        break;
    case QEvent::FontChange:
        forEachNode([](Node *node) { node->linesValid = false; });
        reflow();
        break;
    default:
        break;
    }
    QWidget::changeEvent(event);
}

// --- Mouse ---------------------------------------------------------------------------

void IconView::press(const QPoint &point, Qt::KeyboardModifiers modifiers) {
    if (Node *section = headerAt(point)) {
        m_pressedHeader = section;
        section->highlighted = true;
        update(headerRect(section));
        return;
    }
    Node *node = itemAt(point);
    const bool control = modifiers & Qt::ControlModifier, shift = modifiers & Qt::ShiftModifier;
    if (control) {
        // In a window that is not active the first Ctrl-click only brings the icon forward.
        if (window()->isActiveWindow() || shift)
            toggleNode(node);
        else
            selectNode(node, false);
    } else if (shift) {
        toggleNode(node);
    } else {
        selectNode(node, false);
    }
}

void IconView::mousePressEvent(QMouseEvent *event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_secondClick = false;
    press(event->position().toPoint(), event->modifiers());
}

void IconView::mouseDoubleClickEvent(QMouseEvent *event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseDoubleClickEvent(event);
        return;
    }
    press(event->position().toPoint(), event->modifiers());
    m_secondClick = !m_pressedHeader;
}

void IconView::mouseMoveEvent(QMouseEvent *event) {
    if (!m_pressedHeader)
        return;
    const bool inside = headerRect(m_pressedHeader).contains(event->position().toPoint());
    if (inside != m_pressedHeader->highlighted) {
        m_pressedHeader->highlighted = inside;
        update(headerRect(m_pressedHeader));
    }
}

void IconView::mouseReleaseEvent(QMouseEvent *event) {
    if (event->button() != Qt::LeftButton)
        return;
    if (Node *section = std::exchange(m_pressedHeader, nullptr)) {
        const bool inside = headerRect(section).contains(event->position().toPoint());
        section->highlighted = false;
        update(headerRect(section));
        if (inside)
            setExpanded(section->identity, !section->open);
        return;
    }
    if (!std::exchange(m_secondClick, false))
        return;
    const Node *node = itemAt(event->position().toPoint());
    if (node && node->selected)
        emit doubleAction();
}

void IconView::contextMenuEvent(QContextMenuEvent *event) {
    // The menu acts on the grid's selection: the grid must be its window's focus.
    setFocus(Qt::PopupFocusReason);
    if (window()->focusWidget() != this)
        return;
    QPoint global = event->globalPos();
    if (event->reason() == QContextMenuEvent::Mouse) {
        Node *node = itemAt(event->pos());
        if (!node || !node->selected)
            selectNode(node, false);
    } else if (const Node *last = nodeForIdentity(m_lastSelect); last && last->laidOut && last->selected) {
        global = mapToGlobal(last->rect.center());
    }
    event->accept();
    if (m_menu)
        m_menu->popup(global);
}

// --- Keyboard and focus ----------------------------------------------------------------

void IconView::keyPressEvent(QKeyEvent *event) {
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
        moveSelection(event->key(), event->modifiers() & Qt::ShiftModifier);
        event->accept();
        return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (!selectedIndexes().isEmpty()) {
            emit doubleAction();
            event->accept();
            return;
        }
        break;
    default:
        break;
    }
    event->ignore(); // to the parent
}

// From the last selected icon to the nearest one in that direction that
// shares a row band (left, right) or a column band (up, down) with it.
void IconView::moveSelection(int key, bool extend) {
    ensureLayout();
    const Node *from = nodeForIdentity(m_lastSelect);
    if (!from || !from->laidOut)
        return;
    const QRect r = from->rect;
    Node *best = nullptr;
    auto beats = [&](const QRect &c) {
        const QRect b = best ? best->rect : QRect();
        const bool vertical = c.bottom() + 1 > r.top() && r.bottom() + 1 > c.top();
        const bool horizontal = c.right() + 1 > r.left() && r.right() + 1 > c.left();
        switch (key) {
        case Qt::Key_Left:
            return c.left() < r.left() && vertical && (!best || c.right() > b.right());
        case Qt::Key_Right:
            return c.right() > r.right() && vertical && (!best || c.left() < b.left());
        case Qt::Key_Up:
            return c.top() < r.top() && horizontal && (!best || c.bottom() > b.bottom());
        default:
            return c.bottom() > r.bottom() && horizontal && (!best || c.top() < b.top());
        }
    };
    for (Node *candidate : m_laidOutItems) {
        if (beats(candidate->rect))
            best = candidate;
    }
    if (!best)
        return;
    selectNode(best, extend);
    scrollToVisible(best->rect);
}

void IconView::scrollToVisible(const QRect &rect) {
    for (QWidget *up = parentWidget(); up; up = up->parentWidget()) {
        if (auto *area = qobject_cast<QScrollArea *>(up)) {
            area->ensureVisible(rect.center().x(), rect.center().y(), rect.width() / 2 + 4, rect.height() / 2 + 4);
            return;
        }
    }
}

void IconView::focusInEvent(QFocusEvent *event) {
    QWidget::focusInEvent(event);
    // Focus that comes back from a menu or with the window was never given up.
    const bool becameFirstResponder = !std::exchange(m_isFirstResponder, true);
    if (becameFirstResponder && m_selected.isEmpty()) {
        if (Node *first = firstItem())
            selectNode(first, false);
    }
    noteKeyStatusChanged();
}

void IconView::focusOutEvent(QFocusEvent *event) {
    QWidget::focusOutEvent(event);
    if (event->reason() != Qt::PopupFocusReason && event->reason() != Qt::ActiveWindowFocusReason)
        m_isFirstResponder = false;
    noteKeyStatusChanged();
}
