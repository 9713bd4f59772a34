#include "ZNTWindowController.h"

#include "StatusDisplay.h"
#include "ZNTSidebarController.h"
#include "actions/ZNTObjectImages.h"
#include "model/ZNTDatabase.h"
#include "model/ZNTFavoriteHandle.h"
#include "model/ZNTQueryObject.h"
#include "model/ZNTServer.h"
#include "platform/Log.h"
#include "platform/NotificationCenter.h"
#include "platform/ProgramError.h"
#include "platform/UserDefaults.h"
#include "uikit/Beep.h"
#include "uikit/BlockObservers.h"
#include "uikit/ConciseConstraints.h"
#include "uikit/SheetFocus.h"
#include "uikit/WindowEditing.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QPainter>
#include <QSplitter>
#include <QUndoStack>

namespace {
// The 1-pixel line over a page's accessory bar.
class SeparatorLine : public QWidget {
public:
    SeparatorLine() {
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        setFixedHeight(1);
    }

protected:
    void paintEvent(QPaintEvent *) override { QPainter(this).fillRect(rect(), palette().color(QPalette::Mid)); }
};

template <class T> T *capability(ZNTContentController *controller) {
    return dynamic_cast<T *>(controller);
}
} // namespace

std::shared_ptr<ZNTWindowController> ZNTWindowController::create(const std::shared_ptr<ZNTObject> &item) {
    requireMainThread("ZNTWindowController::create");
    // The window goes when its last owner lets go, on a later turn of the event
    // loop: the owner may be in the middle of one of its events.
    return std::shared_ptr<ZNTWindowController>(new ZNTWindowController(item),
                                                [](ZNTWindowController *window) { window->deleteLater(); });
}

ZNTWindowController::ZNTWindowController(const std::shared_ptr<ZNTObject> &item) : m_navigation(item) {
    buildUi();
    buildActions();
    buildFocusKeys();
    buildMenus();
    buildToolbar();
    windowDidLoad();
}

ZNTWindowController::~ZNTWindowController() {
    // A page asked to resign and going now answers no one: the window goes too.
    m_destroying = true;
    // Focus moves while the pages and then the window's own controls go (a
    // shown window deactivates as it is destroyed): none may reach this
    // window's commands, which are half gone by then.
    disconnect(qApp, nullptr, this, nullptr);
    // Pages first: their views may still sit in this window.
    for (auto &[key, controller] : m_viewControllers)
        delete controller.data();
    m_viewControllers.clear();
}

std::shared_ptr<ZNTConnection> ZNTWindowController::currentConnection() const {
    auto database = currentDatabase();
    return database ? database->connection() : nullptr;
}

void ZNTWindowController::windowDidLoad() {
    placeViewForItem(currentItem());
    if (auto database = currentDatabase())
        windowAction(ZNTWindowCommand::GoToTerminal)->setIcon(imageForObject(*database->queryObject()));
    UserDefaults &defaults = UserDefaults::standard();
    m_leftSegment->setChecked(defaults.boolForKey(QStringLiteral("ShowSidebar")));
    m_rightSegment->setChecked(defaults.boolForKey(QStringLiteral("ShowRightSidebar")));
    if (defaults.boolForKey(QStringLiteral("ShowSidebar")))
        loadSidebar();
    validateActions();
}

// --- Navigation ---------------------------------------------------------------

void ZNTWindowController::navigateToItem(const std::shared_ptr<ZNTObject> &item) {
    requireMainThread("ZNTWindowController::navigateToItem");
    const auto current = currentItem();
    if (!item || (current && item->isEqual(*current)))
        return;
    _navigateToItem(item);
}

bool ZNTWindowController::endEditing() {
    return uv_endEditing(this);
}

void ZNTWindowController::_navigateToItem(const std::shared_ptr<ZNTObject> &item) {
    // The sidebar edits nothing: going somewhere from it leaves the focus there.
    if (!isSidebarFirstResponder() && !endEditing()) {
        beep();
        return;
    }
    m_navigation.navigateTo(item);
    _setCurrentItem(item);
}

void ZNTWindowController::goBack() {
    if (m_navigation.backwardHistory().isEmpty()) {
        beep();
        return;
    }
    if (!endEditing()) {
        beep();
        return;
    }
    _setCurrentItem(m_navigation.goBack());
}

void ZNTWindowController::goForward() {
    if (m_navigation.forwardHistory().isEmpty()) {
        beep();
        return;
    }
    if (!endEditing()) {
        beep();
        return;
    }
    _setCurrentItem(m_navigation.goForward());
}

void ZNTWindowController::goUp() {
    const ZNTObjectList path = pathItems();
    if (path.size() >= 2)
        navigateToItem(path[path.size() - 2]);
}

void ZNTWindowController::handlePathPopupButton(int index) {
    m_pathButton->setCurrentIndex(0);
    const ZNTObjectList path = pathItems();
    const std::optional<qsizetype> pathIndex = m_navigation.pathIndexForPopupIndex(index);
    if (!pathIndex) {
        QStringList names;
        for (const auto &item : path)
            names << item->name();
        Log(QStringLiteral("Invalid path item index: %1 for path items (%2)")
                .arg(path.size() - 1 - index)
                .arg(names.join(QStringLiteral(", "))));
        return;
    }
    if (*pathIndex != path.size() - 1)
        navigateToItem(path[*pathIndex]);
}

void ZNTWindowController::newWindow() {
    if (auto server = currentServer())
        server->openNewWindowForItem(currentItem());
}

void ZNTWindowController::goToTerminal() {
    const auto database = currentDatabase();
    if (!database)
        return;
    const auto query = database->queryObject();
    const auto shown = currentItem();
    // Shown already: the command still takes the user to its text.
    if (shown && shown->isEqual(*query))
        makeMainViewFirstResponder();
    else
        navigateToItem(query);
}

void ZNTWindowController::replaceNavigationItems(const std::shared_ptr<ZNTObject> &old,
                                                 const std::shared_ptr<ZNTObject> &replacement) {
    requireMainThread("ZNTWindowController::replaceNavigationItems");
    if (!old || !replacement)
        return;
    dropViewController(*replacement);
    if (m_navigation.replaceInHistories(*old, replacement)) {
        m_navigation.setCurrentItem(replacement);
        _setCurrentItem(replacement);
    }
    dropViewController(*old);
}

void ZNTWindowController::removeNavigationItem(const std::shared_ptr<ZNTObject> &item) {
    requireMainThread("ZNTWindowController::removeNavigationItem");
    if (!item)
        return;
    if (!endEditing()) {
        beep();
        return;
    }
    const auto shown = m_navigation.removeFromHistories(item);
    m_navigation.setCurrentItem(shown);
    _setCurrentItem(shown);
    dropViewController(*item);
}

// The path is set by the caller (m_navigation); this shows it.
void ZNTWindowController::_setCurrentItem(const std::shared_ptr<ZNTObject> &item) {
    if (currentItem() != item)
        m_navigation.setCurrentItem(item);
    placeViewForItem(item);
    if (m_sidebarController)
        m_sidebarController->selectItem(item);
    validateActions();
}

bool ZNTWindowController::performAction(const ZNTAction &action) {
    using ItemPtr = std::shared_ptr<ZNTObject>;
    if (action.name == ZNTActionName::navigateToItem) {
        if (const auto *item = std::any_cast<ItemPtr>(&action.argument))
            navigateToItem(*item);
        return true;
    }
    if (action.name == ZNTActionName::replaceNavigationItems) {
        const auto *items = std::any_cast<ZNTObjectList>(&action.argument);
        if (items && items->size() == 2) {
            replaceNavigationItems(items->at(0), items->at(1));
            followRenamedRelationInOtherWindows(items->at(0), items->at(1));
        }
        return true;
    }
    if (action.name == ZNTActionName::removeNavigationItem) {
        if (const auto *item = std::any_cast<ItemPtr>(&action.argument))
            removeNavigationItem(*item);
        return true;
    }
    if (action.name == ZNTActionName::askPendingChanges) {
        if (auto *const *question = std::any_cast<ZNTPendingChangesQuestion *>(&action.argument))
            (*question)->pending =
                (*question)->item && anyWindowHasPendingChangesOfItem(*(*question)->item, (*question)->asking);
        return true;
    }
    if (action.name == ZNTActionName::makeMainViewFirstResponder) {
        makeMainViewFirstResponder();
        return true;
    }
    return false;
}

// --- Showing an item ----------------------------------------------------------

void ZNTWindowController::placeViewForItem(const std::shared_ptr<ZNTObject> &item) {
    clearMainView();
    m_mainViewController = item ? viewControllerForItem(item) : nullptr;
    if (!m_mainViewController) {
        Log(QStringLiteral("Couldn't create view controller for item %1.").arg(item ? item->name() : QString()));
        return;
    }
    QWidget *view = m_mainViewController->view();
    auto *accessoryProvider = capability<ZNTAccessoryViewProvider>(m_mainViewController);
    auto *rightProvider = capability<ZNTRightSidebarProvider>(m_mainViewController);
    QWidget *accessory = accessoryProvider ? accessoryProvider->accessoryView() : nullptr;
    QWidget *rightView = rightProvider ? rightProvider->rightSidebarView() : nullptr;
    placeMainView(view, accessory);
    for (QWidget *part : {view, accessory, rightView})
        uv_moveSheets(part, this);
    if (m_commandShowsPage || !isSidebarFirstResponder())
        makeMainViewFirstResponder();

    m_rightSegment->setEnabled(rightView != nullptr);
    if (m_rightSidebarContainerView) {
        for (QWidget *child : m_rightSidebarContainerView->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
            child->setParent(nullptr);
    }
    if (!UserDefaults::standard().boolForKey(QStringLiteral("ShowRightSidebar")) || !rightView)
        removeRightSidebar();
    else
        loadRightSidebar();

    updatePathPopup();
    m_statusDisplay->setConnection(currentConnection());
    if (m_sidebarController)
        m_sidebarController->setRootItem(sidebarRoot());
    setWindowTitle(ZNTNavigationPath::titleForItem(currentItem()));
    if (m_defaultUndoManager)
        m_defaultUndoManager->clear();
    watchUndoStack();
    installPageEditActions();
}

// The page's own widgets leave the content area without being destroyed: the
// page keeps them for the next time it is shown.
void ZNTWindowController::clearMainView() {
    if (m_accessoryContainer) {
        for (QWidget *child : m_accessoryContainer->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
            child->setParent(nullptr);
        delete m_accessoryContainer.data();
    }
    delete m_accessorySeparator.data();
    for (QWidget *child : m_mainView->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        child->setParent(nullptr);
}

void ZNTWindowController::placeMainView(QWidget *view, QWidget *accessory) {
    for (QWidget *widget : {view, accessory}) {
        if (widget && widget->parentWidget())
            widget->setParent(nullptr);
    }
    CC_addConstraintFormat(m_mainView, "H:|[%@]|", view);
    if (accessory) {
        auto *container = new QWidget;
        container->setObjectName(QStringLiteral("accessoryBar"));
        container->setAutoFillBackground(true);
        container->setBackgroundRole(QPalette::Window);
        // The bar keeps its own height; the page takes the rest.
        container->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
        CC_addConstraintFormat(container, "H:|[%@]|", accessory);
        CC_addConstraintFormat(container, "V:|[%@]|", accessory);
        auto *line = new SeparatorLine;
        CC_addConstraintFormat(m_mainView, "H:|[%@]|", container);
        CC_addConstraintFormat(m_mainView, "H:|[%@]|", line);
        CC_addConstraintFormat(m_mainView, "V:|[%@][%@(==1)][%@]|", view, line, container);
        m_accessoryContainer = container;
        m_accessorySeparator = line;
        container->show();
        accessory->show();
        line->show();
    } else {
        CC_addConstraintFormat(m_mainView, "V:|[%@]|", view);
    }
    view->show();
}

void ZNTWindowController::updatePathPopup() {
    const QSignalBlocker blocker(m_pathButton);
    m_pathButton->clear();
    for (const auto &item : pathItems())
        m_pathButton->insertItem(0, imageForObject(*item), item->name());
    m_pathButton->setCurrentIndex(0);
    // The list draws its entries with more room around the icon than the
    // button measures with: it is made wide enough to show every name whole.
    QAbstractItemView *list = m_pathButton->view();
    list->setMinimumWidth(list->sizeHintForColumn(0) + 2 * list->frameWidth());
    const QSize hint = m_pathButton->sizeHint();
    m_pathButton->setMinimumWidth(std::min(120, hint.width()));
    m_pathButton->setMaximumWidth(hint.width());
}

// --- Window -------------------------------------------------------------------

void ZNTWindowController::showWindow() {
    uv_bringForward(this);
}

void ZNTWindowController::performClose() {
    QWidget::close();
}

void ZNTWindowController::close() {
    m_closeWithoutAsking = true;
    QWidget::close();
}

void ZNTWindowController::closeEvent(QCloseEvent *event) {
    if (m_closed || (!m_closeWithoutAsking && !windowShouldClose())) {
        event->ignore();
        m_closeWithoutAsking = false;
        return;
    }
    event->accept();
    windowWillClose();
}

void ZNTWindowController::windowWillClose() {
    m_closed = true;
    if (m_sidebarController && !isCollapsed(m_sidebarController))
        UserDefaults::standard().setObject(m_sidebarController->width(), QStringLiteral("LeftSidebarWidth"));
    // Announced with the handle as object: that is what the server object knows.
    NotificationCenter::defaultCenter().post(WillCloseNotification,
                                             unownedObject(static_cast<ZNTWindowControllerHandle *>(this)));
}

void ZNTWindowController::changeEvent(QEvent *event) {
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        validateActions();
    QMainWindow::changeEvent(event);
}
