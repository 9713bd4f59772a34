#include "ZNTServerViewController.h"

#include "ZNTObjectListModel.h"
#include "engine/PGError.h"
#include "model/ZNTServer.h"
#include "model/ZNTServerListingQuery.h"
#include "platform/ProgramError.h"
#include "uikit/AlertSheet.h"
#include "uikit/Beep.h"
#include "uikit/IconView.h"
#include "uikit/ZNTAnimatingIndicator.h"
#include "uikit/ZNTControlledView.h"
#include "window/ZNTActionRoute.h"

#include <QGridLayout>
#include <QMenu>
#include <QScrollArea>

ZNTServerViewController::ZNTServerViewController(std::shared_ptr<ZNTServer> server, QObject *parent)
    : ZNTContentController(parent), m_server(std::move(server)), m_model(new ZNTObjectListModel(this)) {
    performReload();
}

ZNTServerViewController::~ZNTServerViewController() {
    m_queryObservers.clear();
    if (m_databaseQuery)
        m_databaseQuery->cancel(); // nobody is left to show it
}

ZNTContentController *ZNTServerViewController::viewControllerForItem(const std::shared_ptr<ZNTObject> &item) {
    auto server = std::dynamic_pointer_cast<ZNTServer>(item);
    return server ? new ZNTServerViewController(server) : nullptr;
}

QWidget *ZNTServerViewController::makeView() {
    auto *page = new ZNTControlledView;
    page->setViewController(this);
    buildUi(page);
    connectActions();
    syncIndicator();
    return page;
}

void ZNTServerViewController::buildUi(QWidget *page) {
    page->setObjectName(QStringLiteral("serverPage"));
    m_iconView = new IconView;
    m_iconView->setObjectName(QStringLiteral("databaseGrid"));
    m_iconView->setAccessibleName(QStringLiteral("Databases"));
    m_iconView->setModel(m_model);
    auto *scroll = new QScrollArea;
    scroll->setWidget(m_iconView);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setFocusProxy(m_iconView);
    // The spinner sits in the grid's top right corner, over its empty margin.
    m_progressIndicator = new ZNTAnimatingIndicator;
    auto *layout = new QGridLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroll, 0, 0);
    layout->addWidget(m_progressIndicator, 0, 0, Qt::AlignTop | Qt::AlignRight);
    m_progressIndicator->setContentsMargins(0, 0, 0, 0);
    layout->setAlignment(m_progressIndicator, Qt::AlignTop | Qt::AlignRight);
    page->setFocusProxy(m_iconView);

    m_menu = new QMenu(page);
    m_openAction = m_menu->addAction(QStringLiteral("&Open"));
    m_iconView->setMenu(m_menu);
}

void ZNTServerViewController::connectActions() {
    connect(m_iconView, &IconView::doubleAction, this, &ZNTServerViewController::goDown);
    connect(m_openAction, &QAction::triggered, this, &ZNTServerViewController::goDown);
    connect(m_menu, &QMenu::aboutToShow, this, [this] { m_openAction->setEnabled(canGoDown()); });
}

IconView *ZNTServerViewController::iconView() {
    view();
    return m_iconView;
}

ZNTAnimatingIndicator *ZNTServerViewController::progressIndicator() {
    view();
    return m_progressIndicator;
}

QMenu *ZNTServerViewController::contextMenu() {
    view();
    return m_menu;
}

// --- Listing -------------------------------------------------------------------------

void ZNTServerViewController::performReload() {
    requireMainThread("ZNTServerViewController::performReload");
    if (m_databaseQuery) {
        // Nothing the old listing still sends reaches the page.
        m_queryObservers.clear();
        m_databaseQuery->cancel();
        m_databaseQuery.reset();
        m_model->removeAll();
    }
    m_databaseQuery = std::make_shared<ZNTDatabaseQuery>(m_server);
    NotificationCenter &center = NotificationCenter::defaultCenter();
    const void *sender = m_databaseQuery.get();
    m_queryObservers.push_back(
        center.observe(ZNTObjectQuery::NewObjectNotification, sender, [this](const Notification &) { newObjects(); }));
    m_queryObservers.push_back(
        center.observe(ZNTObjectQuery::DoneNotification, sender, [this](const Notification &n) { queryDone(n); }));
    syncIndicator();
    m_databaseQuery->executeInBackground();
}

void ZNTServerViewController::newObjects() {
    const ZNTObjectList objects = m_databaseQuery->objects().value_or(ZNTObjectList());
    m_model->appendItems(objects.mid(m_model->rowCount()));
}

void ZNTServerViewController::queryDone(const Notification &notification) {
    if (notification.object.get() != m_databaseQuery.get())
        return;
    auto query = m_databaseQuery;
    m_queryObservers.clear();
    newObjects(); // whatever the last batch brought
    m_initialQueryDone = true;
    syncIndicator();
    if (ErrorPtr error = query->error()) {
        // On the window that shows the page; a page not shown has none of its own.
        QWidget *window = view()->window() != view() ? view()->window() : nullptr;
        Alert *alert = Alert::alertWithError(*error);
        if (PGError::reportsLostConnection(*error))
            alert->setInformativeText(PGError::withReconnectAdvice(alert->informativeText()));
        alert->compatibleBeginSheetModalForWindow(window, nullptr);
    }
}

void ZNTServerViewController::syncIndicator() {
    if (!m_progressIndicator)
        return;
    if (!m_queryObservers.empty())
        m_progressIndicator->startAnimation();
    else
        m_progressIndicator->stopAnimation();
}

// --- Commands ------------------------------------------------------------------------

bool ZNTServerViewController::canGoDown() {
    return iconView()->selectedIndexes().size() == 1;
}

void ZNTServerViewController::goDown() {
    const QModelIndexList selected = iconView()->selectedIndexes();
    const auto item = selected.size() == 1 ? m_model->itemForIndex(selected.first()) : nullptr;
    if (!item || !sendAction(m_iconView, ZNTActionName::navigateToItem, item))
        beep();
}

bool ZNTServerViewController::makeFirstResponder() {
    IconView *grid = iconView();
    grid->setFocus(Qt::OtherFocusReason);
    return grid->window()->focusWidget() == grid;
}

bool ZNTServerViewController::validateMenuItem(ZNTWindowCommand command, QAction *) {
    return command != ZNTWindowCommand::Export;
}
