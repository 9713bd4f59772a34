// The split layout of a main window: the navigation sidebar on the left, the
// page in the middle, the page's detail sidebar on the right; which pane keeps
// its width, and the widths and visibility kept in the settings.
#include "ZNTSidebarController.h"
#include "ZNTSidebarOutlineView.h"
#include "ZNTWindowController.h"
#include "ZNTWindowSplitView.h"
#include "model/ZNTDatabase.h"
#include "model/ZNTFavoriteHandle.h"
#include "model/ZNTServer.h"
#include "platform/UserDefaults.h"
#include "uikit/ConciseConstraints.h"

#include <QAction>
#include <QLayout>
#include <QMouseEvent>

namespace {
const QString kShowSidebar = QStringLiteral("ShowSidebar");
const QString kShowRightSidebar = QStringLiteral("ShowRightSidebar");
const QString kLeftWidth = QStringLiteral("LeftSidebarWidth");
const QString kRightWidth = QStringLiteral("RightSidebarWidth");

int storedWidth(const QString &key) {
    const double width = UserDefaults::standard().doubleForKey(key);
    return int(width > 0 ? width : 200.0);
}

QWidget *deepestFocusProxy(QWidget *widget) {
    QWidget *proxy = widget->focusProxy();
    while (proxy && proxy->focusProxy())
        proxy = proxy->focusProxy();
    return proxy;
}

// The control Shift+Tab goes to from focus, found as Qt finds it: the nearest
// one before it in the window's focus chain that takes the focus by Tab (a
// widget that hands its focus to a child of its own is passed over).
QWidget *previousTabStop(QWidget *window, QWidget *focus) {
    for (QWidget *test = focus->previousInFocusChain(); test && test != focus; test = test->previousInFocusChain()) {
        QWidget *proxy = deepestFocusProxy(test);
        QWidget *taker = proxy ? proxy : test;
        const bool takesTab = taker->isEnabled() && (taker->focusPolicy() & Qt::TabFocus);
        const bool compound = proxy && test->isAncestorOf(proxy);
        if (takesTab && !compound && test->isVisibleTo(window) && test->isEnabled() && proxy != focus)
            return test;
    }
    return nullptr;
}
} // namespace

QSplitterHandle *ZNTWindowSplitView::createHandle() {
    return new ZNTWindowSplitHandle(orientation(), this);
}

void ZNTWindowSplitHandle::mouseDoubleClickEvent(QMouseEvent *event) {
    emit m_view->dividerDoubleClicked(m_view->indexOf(this) - 1);
    event->accept();
}

ZNTSidebarController *ZNTWindowController::sidebarController() const {
    return m_sidebarController;
}

bool ZNTWindowController::isCollapsed(QWidget *pane) const {
    const int index = pane ? m_splitView->indexOf(pane) : -1;
    return index < 0 || pane->isHidden() || m_splitView->sizes().value(index) == 0;
}

int ZNTWindowController::sidebarWidth() const {
    return m_sidebarController && !isCollapsed(m_sidebarController) ? m_sidebarController->width() : 0;
}

int ZNTWindowController::rightSidebarWidth() const {
    return m_rightSidebarContainerView && !isCollapsed(m_rightSidebarContainerView)
               ? m_rightSidebarContainerView->width()
               : 0;
}

int ZNTWindowController::paneWidth(QWidget *pane) const {
    const int index = pane ? m_splitView->indexOf(pane) : -1;
    if (index < 0)
        return 0;
    if (m_widthsOnShow)
        return pane == m_sidebarController ? m_widthsOnShow->first : m_widthsOnShow->second;
    return m_splitView->sizes().value(index);
}

// Gives the sidebars their widths (0 collapses one) and the page the rest. Both
// are given at once: adding or removing a pane shares the room out anew.
void ZNTWindowController::setPaneWidths(int left, int right) {
    // A window not shown yet would share out its panes again when it first takes
    // its size: the widths are given once it shows.
    if (!isVisible()) {
        m_widthsOnShow = std::make_pair(left, right);
        return;
    }
    int total = m_splitView->contentsRect().width();
    for (int i = 1; i < m_splitView->count(); ++i) {
        if (!m_splitView->widget(i)->isHidden())
            total -= m_splitView->handleWidth();
    }
    QList<int> sizes;
    for (int i = 0; i < m_splitView->count(); ++i) {
        QWidget *pane = m_splitView->widget(i);
        sizes << (pane == m_sidebarController           ? std::max(0, left)
                  : pane == m_rightSidebarContainerView ? std::max(0, right)
                                                        : 0);
    }
    const int content = m_splitView->indexOf(m_mainView);
    int others = 0;
    for (int size : sizes)
        others += size;
    sizes[content] = std::max(1, total - others);
    m_splitView->setSizes(sizes);
}

void ZNTWindowController::showEvent(QShowEvent *event) {
    QMainWindow::showEvent(event);
    if (const auto widths = std::exchange(m_widthsOnShow, std::nullopt))
        setPaneWidths(widths->first, widths->second);
}

void ZNTWindowController::adjustSplitView() {
    for (int i = 0; i < m_splitView->count(); ++i) {
        const bool content = m_splitView->widget(i) == m_mainView;
        // The page takes what the window gains or loses; the sidebars keep theirs.
        m_splitView->setStretchFactor(i, content ? 1 : 0);
        m_splitView->setCollapsible(i, !content);
    }
}

bool ZNTWindowController::isSidebarFirstResponder() const {
    const QWidget *focus = focusWidget();
    return m_sidebarController && focus &&
           (focus == m_sidebarController.data() || m_sidebarController->isAncestorOf(focus));
}

// The page's controls come after the sidebar, whatever order they were made in.
bool ZNTWindowController::isLeavingPageBackward() const {
    QWidget *focus = focusWidget();
    if (!m_sidebarController || isCollapsed(m_sidebarController) || !focus || !m_mainView->isAncestorOf(focus))
        return false;
    QWidget *previous = previousTabStop(const_cast<ZNTWindowController *>(this), focus);
    return !previous || !m_mainView->isAncestorOf(previous);
}

bool ZNTWindowController::focusNextPrevChild(bool next) {
    if (!next && isLeavingPageBackward()) {
        m_sidebarController->outlineView()->setFocus(Qt::BacktabFocusReason);
        return true;
    }
    return QMainWindow::focusNextPrevChild(next);
}

void ZNTWindowController::buildFocusKeys() {
    auto add = [this](bool next, const QList<QKeySequence> &keys) {
        auto *action = new QAction(this);
        action->setShortcuts(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        // The window's own move, past the control's use of Tab.
        connect(action, &QAction::triggered, this, [this, next] { focusNextPrevChild(next); });
        addAction(action);
    };
    add(true, {QKeySequence(Qt::CTRL | Qt::Key_Tab)});
    add(false,
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Tab)});
}

// The server when its favorite shows every database, else the shown database.
std::shared_ptr<ZNTObject> ZNTWindowController::sidebarRoot() const {
    auto server = currentServer();
    if (server && server->favorite() && server->favorite()->showAllDatabases())
        return server;
    return currentDatabase();
}

void ZNTWindowController::loadSidebar() {
    auto *sidebar = new ZNTSidebarController;
    m_sidebarController = sidebar;
    sidebar->setRootItem(sidebarRoot());
    const int right = paneWidth(m_rightSidebarContainerView);
    m_splitView->insertWidget(0, sidebar);
    adjustSplitView();
    setPaneWidths(storedWidth(kLeftWidth), right);
    sidebar->selectItem(currentItem());
    setTabOrder(sidebar, m_mainView);
    m_leftSegment->setChecked(true);
}

void ZNTWindowController::reloadSidebar() {
    if (!m_sidebarController)
        return;
    if (!isCollapsed(m_sidebarController)) {
        m_sidebarController->performReload();
        return;
    }
    // Hidden: made anew when shown again.
    delete m_sidebarController.data();
    adjustSplitView();
}

void ZNTWindowController::toggleSidebar() {
    if (!m_sidebarController) {
        loadSidebar();
    } else if (isCollapsed(m_sidebarController)) {
        m_sidebarController->show();
        setPaneWidths(storedWidth(kLeftWidth), paneWidth(m_rightSidebarContainerView));
        m_sidebarController->selectItem(currentItem());
    } else {
        const bool hadFocus = isSidebarFirstResponder();
        UserDefaults::standard().setObject(m_sidebarController->width(), kLeftWidth);
        setPaneWidths(0, paneWidth(m_rightSidebarContainerView));
        if (hadFocus)
            makeMainViewFirstResponder();
    }
    const bool shown = !isCollapsed(m_sidebarController);
    m_leftSegment->setChecked(shown);
    UserDefaults::standard().setObject(shown, kShowSidebar);
    validateActions();
}

void ZNTWindowController::loadRightSidebar() {
    auto *provider = dynamic_cast<ZNTRightSidebarProvider *>(m_mainViewController.data());
    QWidget *view = provider ? provider->rightSidebarView() : nullptr;
    if (!view)
        return;
    const int left = paneWidth(m_sidebarController);
    if (!m_rightSidebarContainerView) {
        auto *container = new QWidget;
        container->setObjectName(QStringLiteral("detailSidebar"));
        container->setAutoFillBackground(true);
        container->setBackgroundRole(QPalette::Window);
        m_splitView->addWidget(container);
        m_rightSidebarContainerView = container;
    }
    m_rightSidebarContainerView->show();
    if (view->parentWidget() != m_rightSidebarContainerView) {
        view->setParent(nullptr);
        CC_addConstraintFormat(m_rightSidebarContainerView.data(), "H:|[%@]|", view);
        CC_addConstraintFormat(m_rightSidebarContainerView.data(), "V:|[%@]|", view);
    }
    view->show();
    adjustSplitView();
    setPaneWidths(left, storedWidth(kRightWidth));
    m_rightSegment->setChecked(true);
}

void ZNTWindowController::removeRightSidebar() {
    if (!m_rightSidebarContainerView)
        return;
    if (!isCollapsed(m_rightSidebarContainerView))
        UserDefaults::standard().setObject(m_rightSidebarContainerView->width(), kRightWidth);
    const int left = paneWidth(m_sidebarController);
    delete m_rightSidebarContainerView.data();
    adjustSplitView();
    if (m_sidebarController)
        setPaneWidths(left, 0);
}

void ZNTWindowController::toggleRightSidebar() {
    QWidget *container = m_rightSidebarContainerView;
    const bool holdsView = container && !container->findChildren<QWidget *>(Qt::FindDirectChildrenOnly).isEmpty();
    if (!holdsView) {
        loadRightSidebar();
    } else if (isCollapsed(container)) {
        container->show();
        setPaneWidths(paneWidth(m_sidebarController), storedWidth(kRightWidth));
    } else {
        const bool hadFocus = container->isAncestorOf(focusWidget());
        UserDefaults::standard().setObject(container->width(), kRightWidth);
        setPaneWidths(paneWidth(m_sidebarController), 0);
        if (hadFocus)
            makeMainViewFirstResponder();
    }
    const bool shown = m_rightSidebarContainerView && !isCollapsed(m_rightSidebarContainerView);
    m_rightSegment->setChecked(shown);
    UserDefaults::standard().setObject(shown, kShowRightSidebar);
    validateActions();
}

void ZNTWindowController::toggleLeftOrRightSidebar(int segment) {
    if (segment == 0)
        toggleSidebar();
    else
        toggleRightSidebar();
}

// After the user dragged a divider: a pane dragged shut is hidden.
void ZNTWindowController::splitViewDidResizeSubviews() {
    if (m_sidebarController) {
        const bool shown = !isCollapsed(m_sidebarController);
        m_leftSegment->setChecked(shown);
        UserDefaults::standard().setObject(shown, kShowSidebar);
    }
    if (m_rightSidebarContainerView &&
        !m_rightSidebarContainerView->findChildren<QWidget *>(Qt::FindDirectChildrenOnly).isEmpty()) {
        const bool shown = !isCollapsed(m_rightSidebarContainerView);
        m_rightSegment->setChecked(shown);
        UserDefaults::standard().setObject(shown, kShowRightSidebar);
    }
    validateActions();
}

void ZNTWindowController::dividerDoubleClicked(int index) {
    if (index == 0 && m_sidebarController && m_splitView->indexOf(m_sidebarController) == 0)
        setPaneWidths(int(std::ceil(m_sidebarController->preferredWidth())), paneWidth(m_rightSidebarContainerView));
}
