// The menus and the toolbar of a main window, and the enabled states and
// titles of their commands.
#include "StatusDisplay.h"
#include "ToolbarIcons.h"
#include "ZNTSidebarController.h"
#include "ZNTWindowController.h"
#include "ZNTWindowSplitView.h"
#include "engine/ZNTConnection.h"
#include "engine/ZNTQuery.h"

#include <QAction>
#include <QComboBox>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>
#include <QToolButton>
#include <QUndoStack>

namespace {
ZNTWindowController::ApplicationCommands &applicationCommands() {
    static ZNTWindowController::ApplicationCommands commands;
    return commands;
}

struct Command {
    const char *name;
    const char *title;
    QList<QKeySequence> keys;
};

// Every command of the window, by the name of its action.
const QList<Command> &commands() {
    static const QList<Command> all = {
        {"newWindow", "&New Window", {QKeySequence::New}},
        {"export", "&Export\u2026", {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E)}},
        {"performClose", "&Close Window", {QKeySequence(Qt::CTRL | Qt::Key_W)}},
        {"quit", "&Quit", {QKeySequence(Qt::CTRL | Qt::Key_Q)}},
        {"showFavorites", "&Favorites", {}},
        {"undo", "&Undo", {QKeySequence::Undo}},
        {"redo", "&Redo", {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)}},
        {"showPreferences", "Pre&ferences\u2026", {}},
        {"toggleSidebar", "Show Navigation Sidebar", {QKeySequence(Qt::Key_F9)}},
        {"toggleRightSidebar", "Show Detail Sidebar", {QKeySequence(Qt::CTRL | Qt::Key_F9)}},
        {"toggleTableFilter", "&Filter", {QKeySequence::Find}},
        {"toggleStructureAndContentsInMainView",
         "Go to Table Structure",
         {QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_S)}},
        {"reloadData", "&Reload", {QKeySequence(Qt::Key_F5), QKeySequence(Qt::CTRL | Qt::Key_R)}},
        {"cancelCurrentQuery", "&Cancel Query", {QKeySequence(Qt::CTRL | Qt::Key_Period)}},
        {"goBack", "&Back", {QKeySequence(Qt::ALT | Qt::Key_Left)}},
        {"goForward", "&Forward", {QKeySequence(Qt::ALT | Qt::Key_Right)}},
        {"goUp", "&Up", {QKeySequence(Qt::ALT | Qt::Key_Up)}},
        {"goToTerminal", "&SQL Query", {QKeySequence(Qt::CTRL | Qt::Key_T)}},
        {"showHelp", "Trellan &Help", {QKeySequence::HelpContents}},
    };
    return all;
}
} // namespace

ZNTWindowControllerFactory ZNTWindowController::factory(ApplicationCommands commands) {
    applicationCommands() = std::move(commands);
    return [](std::shared_ptr<ZNTObject> item) -> std::shared_ptr<ZNTWindowControllerHandle> { return create(item); };
}

void ZNTWindowController::buildUi() {
    setObjectName(QStringLiteral("mainWindow"));
    setUnifiedTitleAndToolBarOnMac(true);
    resize(1100, 700);
    setMinimumSize(640, 400);
    auto *split = new ZNTWindowSplitView;
    split->setObjectName(QStringLiteral("splitView"));
    split->setChildrenCollapsible(true);
    m_splitView = split;
    m_mainView = new QWidget;
    m_mainView->setObjectName(QStringLiteral("mainView"));
    m_mainView->setMinimumWidth(200);
    m_splitView->addWidget(m_mainView);
    setCentralWidget(m_splitView);
    adjustSplitView();
    connect(split, &QSplitter::splitterMoved, this, [this] { splitViewDidResizeSubviews(); });
    connect(split, &ZNTWindowSplitView::dividerDoubleClicked, this, [this](int index) { dividerDoubleClicked(index); });

    m_statusDisplay = new StatusDisplay;
    connect(m_statusDisplay, &StatusDisplay::connectionStateChanged, this, [this] { validateActions(); });
    m_pathButton = new QComboBox;
    m_pathButton->setObjectName(QStringLiteral("pathButton"));
    m_pathButton->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_pathButton->setToolTip(QStringLiteral("Path of the shown item"));
    m_pathButton->setAccessibleName(QStringLiteral("Path"));
    connect(m_pathButton, &QComboBox::activated, this, [this](int index) { handlePathPopupButton(index); });
}

void ZNTWindowController::setCommand(const QString &name, std::function<void()> run) {
    QAction *action = windowAction(name);
    connect(action, &QAction::triggered, this, [run = std::move(run)] { run(); });
}

void ZNTWindowController::buildActions() {
    for (const Command &command : commands()) {
        auto *action = new QAction(QString::fromUtf8(command.title), this);
        action->setObjectName(QString::fromUtf8(command.name));
        action->setShortcuts(command.keys);
        // Window-wide, but a focused editor keeps its own meaning of the key.
        action->setShortcutContext(Qt::WindowShortcut);
        m_actions.push_back(action);
    }
    const ApplicationCommands &app = applicationCommands();
    setCommand(QStringLiteral("newWindow"), [this] { newWindow(); });
    setCommand(QStringLiteral("export"), [this] { exportContents(); });
    setCommand(QStringLiteral("performClose"), [this] { performClose(); });
    setCommand(QStringLiteral("quit"), [quit = app.quit] { quit ? quit() : void(); });
    setCommand(QStringLiteral("showFavorites"), [show = app.showFavorites] { show ? show() : void(); });
    setCommand(QStringLiteral("showPreferences"), [show = app.showPreferences] { show ? show() : void(); });
    setCommand(QStringLiteral("showHelp"), [show = app.showHelp] { show ? show() : void(); });
    setCommand(QStringLiteral("undo"), [this] { undoManager()->undo(); });
    setCommand(QStringLiteral("redo"), [this] { undoManager()->redo(); });
    setCommand(QStringLiteral("toggleSidebar"), [this] { toggleSidebar(); });
    setCommand(QStringLiteral("toggleRightSidebar"), [this] { toggleRightSidebar(); });
    setCommand(QStringLiteral("toggleTableFilter"), [this] { toggleTableFilter(); });
    setCommand(QStringLiteral("toggleStructureAndContentsInMainView"),
               [this] { toggleStructureAndContentsInMainView(); });
    setCommand(QStringLiteral("reloadData"), [this] { reloadData(); });
    setCommand(QStringLiteral("cancelCurrentQuery"), [this] { cancelCurrentQuery(); });
    setCommand(QStringLiteral("goBack"), [this] { goBack(); });
    setCommand(QStringLiteral("goForward"), [this] { goForward(); });
    setCommand(QStringLiteral("goUp"), [this] { goUp(); });
    setCommand(QStringLiteral("goToTerminal"), [this] { goToTerminal(); });

    windowAction(QStringLiteral("goBack"))->setIcon(ToolbarIcons::icon(ToolbarIcons::Shape::Back));
    windowAction(QStringLiteral("goForward"))->setIcon(ToolbarIcons::icon(ToolbarIcons::Shape::Forward));
    windowAction(QStringLiteral("reloadData"))->setIcon(ToolbarIcons::icon(ToolbarIcons::Shape::Reload));
    windowAction(QStringLiteral("toggleTableFilter"))->setIcon(ToolbarIcons::icon(ToolbarIcons::Shape::Filter));

    // The two segments of the sidebar control: selected while their sidebar shows.
    m_leftSegment =
        new QAction(ToolbarIcons::icon(ToolbarIcons::Shape::LeftSidebar), QStringLiteral("Navigation Sidebar"), this);
    m_leftSegment->setObjectName(QStringLiteral("sidebarSegment0"));
    m_rightSegment =
        new QAction(ToolbarIcons::icon(ToolbarIcons::Shape::RightSidebar), QStringLiteral("Detail Sidebar"), this);
    m_rightSegment->setObjectName(QStringLiteral("sidebarSegment1"));
    for (QAction *segment : {m_leftSegment, m_rightSegment})
        segment->setCheckable(true);
    m_rightSegment->setEnabled(false);
    connect(m_leftSegment, &QAction::triggered, this, [this] { toggleLeftOrRightSidebar(0); });
    connect(m_rightSegment, &QAction::triggered, this, [this] { toggleLeftOrRightSidebar(1); });
}

QAction *ZNTWindowController::windowAction(const QString &name) const {
    for (QAction *action : m_actions) {
        if (action->objectName() == name)
            return action;
    }
    return nullptr;
}

void ZNTWindowController::buildMenus() {
    const ApplicationCommands &app = applicationCommands();
    auto add = [this](QMenu *menu, const char *name) { menu->addAction(windowAction(QString::fromUtf8(name))); };
    QMenu *file = menuBar()->addMenu(QStringLiteral("&File"));
    add(file, "newWindow");
    if (app.showFavorites)
        add(file, "showFavorites");
    file->addSeparator();
    add(file, "export");
    file->addSeparator();
    add(file, "performClose");
    if (app.quit)
        add(file, "quit");

    QMenu *edit = menuBar()->addMenu(QStringLiteral("&Edit"));
    m_editMenu = edit;
    add(edit, "undo");
    add(edit, "redo");
    m_pageActionsSeparator = edit->addSeparator();
    m_pageActionsSeparator->setVisible(false);
    if (app.showPreferences) {
        edit->addSeparator();
        add(edit, "showPreferences");
    }

    QMenu *view = menuBar()->addMenu(QStringLiteral("&View"));
    for (const char *name : {"toggleSidebar", "toggleRightSidebar"})
        add(view, name);
    view->addSeparator();
    for (const char *name : {"toggleTableFilter", "toggleStructureAndContentsInMainView"})
        add(view, name);
    view->addSeparator();
    for (const char *name : {"reloadData", "cancelCurrentQuery"})
        add(view, name);

    QMenu *go = menuBar()->addMenu(QStringLiteral("&Go"));
    for (const char *name : {"goBack", "goForward", "goUp"})
        add(go, name);
    go->addSeparator();
    add(go, "goToTerminal");

    if (app.showHelp)
        add(menuBar()->addMenu(QStringLiteral("&Help")), "showHelp");
    for (QMenu *menu : menuBar()->findChildren<QMenu *>())
        connect(menu, &QMenu::aboutToShow, this, [this] { validateActions(); });
}

void ZNTWindowController::buildToolbar() {
    QToolBar *bar = addToolBar(QStringLiteral("Toolbar"));
    bar->setObjectName(QStringLiteral("toolbar"));
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->toggleViewAction()->setEnabled(false);
    bar->setIconSize(QSize(18, 18));
    bar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    bar->addAction(windowAction(QStringLiteral("goBack")));
    bar->addAction(windowAction(QStringLiteral("goForward")));
    bar->addSeparator();
    bar->addWidget(m_pathButton);
    bar->addSeparator();
    bar->addAction(m_leftSegment);
    bar->addAction(m_rightSegment);
    bar->addSeparator();
    bar->addWidget(m_statusDisplay);
    bar->addSeparator();
    bar->addAction(windowAction(QStringLiteral("reloadData")));
    bar->addAction(windowAction(QStringLiteral("toggleTableFilter")));
    QAction *terminal = windowAction(QStringLiteral("goToTerminal"));
    bar->addAction(terminal);
    if (auto *button = qobject_cast<QToolButton *>(bar->widgetForAction(terminal)))
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    // Tooltips that tell the keys.
    for (QAction *action : bar->actions()) {
        if (!action->shortcut().isEmpty())
            action->setToolTip(QStringLiteral("%1 (%2)").arg(action->text().remove(u'&'),
                                                             action->shortcut().toString(QKeySequence::NativeText)));
    }
}

void ZNTWindowController::cancelCurrentQuery() {
    if (auto connection = currentConnection()) {
        if (auto query = connection->currentQuery())
            query->cancel();
    }
    validateActions();
}

void ZNTWindowController::watchUndoStack() {
    QUndoStack *stack = undoManager();
    if (stack == m_watchedUndoStack)
        return;
    for (const auto &connection : m_undoConnections)
        disconnect(connection);
    m_undoConnections.clear();
    m_watchedUndoStack = stack;
    for (auto signal : {&QUndoStack::canUndoChanged, &QUndoStack::canRedoChanged})
        m_undoConnections.push_back(connect(stack, signal, this, [this] { validateActions(); }));
    m_undoConnections.push_back(connect(stack, &QUndoStack::indexChanged, this, [this] { validateActions(); }));
}

void ZNTWindowController::validateActions() {
    auto set = [this](const char *name, bool enabled, const QString &title = QString()) {
        QAction *action = windowAction(QString::fromUtf8(name));
        action->setEnabled(enabled);
        if (!title.isNull())
            action->setText(title);
    };
    const bool sidebarShown = m_sidebarController && !isCollapsed(m_sidebarController);
    set("toggleSidebar", true,
        sidebarShown ? QStringLiteral("Hide Navigation Sidebar") : QStringLiteral("Show Navigation Sidebar"));
    const bool detailShown = m_rightSidebarContainerView && !isCollapsed(m_rightSidebarContainerView);
    set("toggleRightSidebar", m_rightSegment->isEnabled(),
        detailShown ? QStringLiteral("Hide Detail Sidebar") : QStringLiteral("Show Detail Sidebar"));
    ZNTContentController *page = m_mainViewController;
    set("toggleTableFilter", dynamic_cast<ZNTTableFilterToggling *>(page) != nullptr);
    const auto current = currentItem();
    const bool structure = current && current->objectKind() == ZNTObjectKind::TableSchema;
    set("toggleStructureAndContentsInMainView", dynamic_cast<ZNTStructureToggling *>(page) != nullptr,
        structure ? QStringLiteral("Go to Table Contents") : QStringLiteral("Go to Table Structure"));
    set("goBack", !m_navigation.backwardHistory().isEmpty());
    set("goForward", !m_navigation.forwardHistory().isEmpty());
    set("goUp", pathItems().size() > 1);
    const auto connection = currentConnection();
    const auto query = connection ? connection->currentQuery() : nullptr;
    set("cancelCurrentQuery",
        connection && connection->state() == ZNTConnection::ZNTConnectionStateBusy && query && !query->isCancelled());
    auto *validator = dynamic_cast<ZNTMenuValidator *>(page);
    set("export", validator && validator->validateMenuItem(windowAction(QStringLiteral("export"))));
    validatePageActions();
    QUndoStack *stack = undoManager();
    set("undo", stack->canUndo(),
        stack->undoText().isEmpty() ? QStringLiteral("&Undo") : QStringLiteral("&Undo %1").arg(stack->undoText()));
    set("redo", stack->canRedo(),
        stack->redoText().isEmpty() ? QStringLiteral("&Redo") : QStringLiteral("&Redo %1").arg(stack->redoText()));
}

// The shown page's own commands take their place in the Edit menu, after Undo
// and Redo; those of the page shown before leave it.
void ZNTWindowController::installPageEditActions() {
    if (!m_editMenu)
        return;
    for (const QPointer<QAction> &action : std::as_const(m_pageEditActions)) {
        if (!action)
            continue;
        m_editMenu->removeAction(action);
        if (action->isSeparator())
            delete action.data(); // made here, below
    }
    m_pageEditActions.clear();
    disconnect(m_pageValidation);
    ZNTContentController *page = m_mainViewController;
    if (page)
        m_pageValidation =
            connect(page, &ZNTContentController::validationRequested, this, [this] { validateActions(); });
    auto *provider = dynamic_cast<ZNTEditMenuProvider *>(page);
    const QList<QAction *> actions = provider ? provider->editMenuActions() : QList<QAction *>();
    QAction *before = nullptr; // the end of the menu, or what follows the page's place
    const QList<QAction *> all = m_editMenu->actions();
    const qsizetype separatorAt = all.indexOf(m_pageActionsSeparator.data());
    if (separatorAt >= 0 && separatorAt + 1 < all.size())
        before = all[separatorAt + 1];
    for (QAction *action : actions) {
        QAction *added = action;
        if (!added) {
            added = new QAction(page); // goes with the page
            added->setSeparator(true);
        }
        m_editMenu->insertAction(before, added);
        m_pageEditActions << added;
    }
    m_pageActionsSeparator->setVisible(!actions.isEmpty());
}

void ZNTWindowController::validatePageActions() {
    auto *validator = dynamic_cast<ZNTMenuValidator *>(m_mainViewController.data());
    std::function<void(QAction *)> validate = [&](QAction *action) {
        if (!action || action->isSeparator())
            return;
        action->setEnabled(!validator || validator->validateMenuItem(action));
        if (QMenu *submenu = action->menu()) {
            for (QAction *inner : submenu->actions())
                validate(inner);
        }
    };
    for (const QPointer<QAction> &action : std::as_const(m_pageEditActions))
        validate(action);
}
