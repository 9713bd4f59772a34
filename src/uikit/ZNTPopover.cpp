#include "ZNTPopover.h"

#include "platform/ProgramError.h"

#include <QKeyEvent>
#include <QScreen>
#include <QVBoxLayout>

namespace {
constexpr int kGap = 4;
} // namespace

ZNTPopover::ZNTPopover(QWidget *parent) : QFrame(parent, Qt::Popup) {
    setFrameShape(QFrame::StyledPanel);
    setAutoFillBackground(true);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
}

void ZNTPopover::setContentView(QWidget *content) {
    delete m_content.data();
    m_content = content;
    if (content)
        layout()->addWidget(content);
}

void ZNTPopover::showRelativeToRect(const QRect &rect, QWidget *anchor, Edge preferredEdge) {
    requireMainThread("ZNTPopover::showRelativeToRect");
    ensurePolished();
    if (layout())
        layout()->activate();
    adjustSize();
    const QRect local = rect.isEmpty() ? anchor->rect() : rect;
    const QRect at(anchor->mapToGlobal(local.topLeft()), local.size());
    const QRect screen = anchor->screen() ? anchor->screen()->availableGeometry() : QRect();
    const int above = at.top() - height() - kGap;
    const int below = at.bottom() + 1 + kGap;
    int y = preferredEdge == Edge::Above ? above : below;
    if (screen.isValid()) {
        if (preferredEdge == Edge::Above && above < screen.top())
            y = below;
        else if (preferredEdge == Edge::Below && below + height() > screen.bottom() + 1 && above >= screen.top())
            y = above;
        // An anchor out of sight (a window taller than the screen) still gets its
        // popover in sight: one opened out of sight takes the keys unseen.
        y = std::clamp(y, screen.top(), std::max(screen.top(), screen.bottom() + 1 - height()));
    }
    int x = at.center().x() - width() / 2;
    if (screen.isValid())
        x = std::clamp(x, screen.left(), std::max(screen.left(), screen.right() + 1 - width()));
    // The client area's place, not the frame's: a popup has no frame, and a
    // window not yet made does not know the frame it would have.
    setGeometry(x, y, width(), height());
    show();
    raise();
    activateWindow();
}

void ZNTPopover::showEvent(QShowEvent *event) {
    QFrame::showEvent(event);
    m_open = true;
    QWidget *focus = nullptr;
    if (m_content) {
        for (QWidget *child : m_content->findChildren<QWidget *>()) {
            if ((child->focusPolicy() & Qt::TabFocus) && child->isEnabled() && child->isVisibleTo(this)) {
                focus = child;
                break;
            }
        }
    }
    (focus ? focus : this)->setFocus(Qt::PopupFocusReason);
}

void ZNTPopover::performClose() {
    close();
}

void ZNTPopover::keyPressEvent(QKeyEvent *event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QFrame::keyPressEvent(event);
}

void ZNTPopover::mousePressEvent(QMouseEvent *event) {
    // A popup window sees the clicks outside it first; the default closes it.
    if (!rect().contains(event->position().toPoint()) && !m_closesOnOutsideClick) {
        event->accept();
        return;
    }
    QFrame::mousePressEvent(event);
}

void ZNTPopover::hideEvent(QHideEvent *event) {
    QFrame::hideEvent(event);
    if (!std::exchange(m_open, false))
        return;
    emit didClose();
}
