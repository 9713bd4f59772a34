#include "SQLPreview.h"

#include "Beep.h"
#include "SQLPreviewTextField.h"
#include "WindowEditing.h"
#include "platform/ProgramError.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QScreen>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

namespace {
SQLPreviewPanelController *&sharedPanel() {
    static SQLPreviewPanelController *panel = nullptr;
    return panel;
}
} // namespace

// --- owner -----------------------------------------------------------------

void SQLPreviewOwner::showSQLPreview(QWidget *sender) {
    requireMainThread("SQLPreviewOwner::showSQLPreview");
    if (SQLPreviewPanelController *visible = SQLPreviewPanelController::visibleController()) {
        visible->close();
        return;
    }
    QWidget *view = sqlPreviewView();
    if (!uv_endEditing(view->window()) || !sqlPreviewCanShow()) {
        beep();
        return;
    }
    // The focus comes back where it was once the popover closes, so the grid or
    // field of the page that had it keeps taking keys; only focus from outside
    // the page (a toolbar) moves onto it.
    QWidget *focus = view->window()->focusWidget();
    if (!focus || (focus != view && !view->isAncestorOf(focus)))
        view->setFocus(Qt::OtherFocusReason);
    // Owned by the button, so that it goes with the page that made it.
    auto *popover = new SQLPreviewPopoverViewController(this, sender);
    popover->sqlField()->setPlainText(sqlPreviewString());
    popover->showRelativeTo(sender);
}

bool SQLPreviewOwner::popoverShouldDetach(SQLPreviewPopoverViewController *) {
    return true;
}

QWidget *SQLPreviewOwner::detachableWindowForPopover(SQLPreviewPopoverViewController *) {
    SQLPreviewPanelController *panel = SQLPreviewPanelController::sharedController();
    panel->sqlField()->setPlainText(sqlPreviewString());
    panel->window()->adjustSize();
    return panel->window();
}

void SQLPreviewOwner::popoverDidClose(SQLPreviewPopoverViewController *, PopoverCloseReason reason) {
    if (reason != PopoverCloseReason::DetachToWindow)
        return;
    if (SQLPreviewPanelController *panel = SQLPreviewPanelController::visibleController()) {
        panel->window()->raise();
        panel->window()->activateWindow();
    }
}

void SQLPreviewOwner::refreshSQLPreviewPanel() {
    if (SQLPreviewPanelController *panel = SQLPreviewPanelController::visibleController())
        panel->sqlField()->setPlainText(sqlPreviewString());
}

// --- popover ---------------------------------------------------------------

SQLPreviewPopoverViewController::SQLPreviewPopoverViewController(SQLPreviewOwner *owner, QWidget *parent)
    : QFrame(parent, Qt::Popup), m_owner(owner) {
    setAttribute(Qt::WA_DeleteOnClose);
    setFrameShape(QFrame::StyledPanel);
    m_sqlField = new SQLPreviewTextField;
    m_detach = new QToolButton;
    m_detach->setIcon(style()->standardIcon(QStyle::SP_TitleBarNormalButton));
    m_detach->setToolTip(QStringLiteral("Keep the SQL preview open in a window"));
    m_detach->setAutoRaise(true);
    auto *title = new QLabel(QStringLiteral("SQL Preview"));
    auto *top = new QHBoxLayout;
    top->addWidget(title, 1);
    top->addWidget(m_detach);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 4, 8, 8);
    layout->addLayout(top);
    layout->addWidget(m_sqlField);
    connect(m_detach, &QToolButton::clicked, this, &SQLPreviewPopoverViewController::detach);
}

void SQLPreviewPopoverViewController::showRelativeTo(QWidget *anchor) {
    adjustSize();
    const QRect at(anchor->mapToGlobal(QPoint(0, 0)), anchor->size());
    const QRect screen = anchor->screen() ? anchor->screen()->availableGeometry() : QRect();
    QPoint pos(at.center().x() - width() / 2, at.top() - height() - 4);
    if (screen.isValid() && pos.y() < screen.top())
        pos.setY(at.bottom() + 4);
    if (screen.isValid())
        pos.setX(std::clamp(pos.x(), screen.left(), std::max(screen.left(), screen.right() - width())));
    move(pos);
    show();
    m_sqlField->setFocus(Qt::PopupFocusReason);
}

void SQLPreviewPopoverViewController::detach() {
    if (m_detaching || !m_owner->popoverShouldDetach(this))
        return;
    m_detaching = true;
    QWidget *window = m_owner->detachableWindowForPopover(this);
    if (window) {
        window->move(pos());
        window->show();
    }
    close();
}

void SQLPreviewPopoverViewController::mousePressEvent(QMouseEvent *event) {
    if (!rect().contains(event->position().toPoint())) {
        QFrame::mousePressEvent(event); // outside: the popup closes
        return;
    }
    m_pressed = event->button() == Qt::LeftButton;
    m_pressAt = event->globalPosition().toPoint();
}

void SQLPreviewPopoverViewController::mouseMoveEvent(QMouseEvent *event) {
    if (m_pressed &&
        (event->globalPosition().toPoint() - m_pressAt).manhattanLength() >= QApplication::startDragDistance() * 2)
        detach();
    else
        QFrame::mouseMoveEvent(event);
}

void SQLPreviewPopoverViewController::keyPressEvent(QKeyEvent *event) {
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QFrame::keyPressEvent(event);
}

void SQLPreviewPopoverViewController::hideEvent(QHideEvent *event) {
    QFrame::hideEvent(event);
    if (m_closed)
        return;
    m_closed = true;
    m_owner->popoverDidClose(this, m_detaching ? PopoverCloseReason::DetachToWindow : PopoverCloseReason::Standard);
}

// --- panel -----------------------------------------------------------------

SQLPreviewPanelController::SQLPreviewPanelController() {
    // Kept for the life of the program and never parented: no window owns it.
    m_window = new QWidget(nullptr, Qt::Window);
    m_window->setWindowTitle(QStringLiteral("SQL Preview"));
    m_window->setAttribute(Qt::WA_QuitOnClose, false);
    m_sqlField = new SQLPreviewTextField;
    auto *layout = new QVBoxLayout(m_window);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addWidget(m_sqlField);
}

SQLPreviewPanelController *SQLPreviewPanelController::sharedController() {
    requireMainThread("SQLPreviewPanelController::sharedController");
    if (!sharedPanel())
        sharedPanel() = new SQLPreviewPanelController;
    return sharedPanel();
}

SQLPreviewPanelController *SQLPreviewPanelController::visibleController() {
    SQLPreviewPanelController *panel = sharedPanel();
    return panel && panel->m_window->isVisible() ? panel : nullptr;
}

void SQLPreviewPanelController::close() {
    m_window->close();
}
