#include "IconView.h"
#include "IconViewNode.h"

#include <QKeyEvent>
#include <QScrollArea>
#include <algorithm>
#include <limits>

// --- Keyboard and focus ----------------------------------------------------------------

void IconView::keyPressEvent(QKeyEvent *event) {
    const int key = event->key();
    if ((event->modifiers() & Qt::ControlModifier) && (key == Qt::Key_Up || key == Qt::Key_Down)) {
        moveToHeader(key);
        event->accept();
        return;
    }
    if (Node *section = keyHeader(); section && headerKeyPressed(section, key)) {
        event->accept();
        return;
    }
    switch (key) {
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
    const Node *from = keyPlace();
    if (!from)
        return;
    const QRect r = from->isSection ? headerRect(from) : from->rect;
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

IconView::Node *IconView::keyHeader() const {
    if (!m_keyHeader.isValid())
        return nullptr;
    ensureLayout();
    for (Node *section : m_laidOutSections) {
        if (section->identity == m_keyHeader)
            return section;
    }
    return nullptr;
}

IconView::Node *IconView::keyPlace() const {
    if (Node *header = keyHeader())
        return header;
    Node *last = nodeForIdentity(m_lastSelect);
    return last && last->laidOut ? last : nullptr;
}

void IconView::setKeyHeader(Node *section) {
    if (const Node *old = keyHeader())
        update(headerRect(old));
    m_keyHeader = section ? section->identity : QVariant();
    if (section) {
        update(headerRect(section));
        scrollToVisible(headerRect(section));
    }
}

// Ctrl+Up and Ctrl+Down: the nearest header above or below the keyboard's place,
// the icons' selection given up for it; from nowhere, the first or the last.
void IconView::moveToHeader(int key) {
    ensureLayout();
    const Node *from = keyPlace();
    const bool down = key == Qt::Key_Down;
    const int y = from ? from->rect.top() : (down ? -1 : std::numeric_limits<int>::max());
    Node *target = nullptr;
    if (down) {
        auto after = std::find_if(m_laidOutSections.begin(), m_laidOutSections.end(),
                                  [y](const Node *section) { return section->rect.top() > y; });
        target = after == m_laidOutSections.end() ? nullptr : *after;
    } else {
        auto before = std::find_if(m_laidOutSections.rbegin(), m_laidOutSections.rend(),
                                   [y](const Node *section) { return section->rect.top() < y; });
        target = before == m_laidOutSections.rend() ? nullptr : *before;
    }
    if (!target)
        return;
    selectNode(nullptr, false);
    setKeyHeader(target);
}

// On a header, Right opens its section, Left closes it, and the space, Return
// and Enter open or close it. Up and Down go on as from an icon.
bool IconView::headerKeyPressed(Node *section, int key) {
    switch (key) {
    case Qt::Key_Right:
        setExpanded(section->identity, true);
        return true;
    case Qt::Key_Left:
        setExpanded(section->identity, false);
        return true;
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        setExpanded(section->identity, !section->open);
        return true;
    default:
        return false;
    }
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
    if (becameFirstResponder && m_selected.isEmpty() && !keyHeader()) {
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
