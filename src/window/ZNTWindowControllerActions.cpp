// The menus and the toolbar of a main window, and the enabled states and
// titles of their commands.
#include "StatusDisplay.h"
#include "ToolbarIcons.h"
#include "ZNTSidebarController.h"
#include "ZNTWindowController.h"
#include "ZNTWindowSplitView.h"
#include "engine/ZNTConnection.h"
#include "engine/ZNTQuery.h"
#include "uikit/WindowEditing.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QTextDocument>
#include <QTextEdit>
#include <QToolBar>
#include <QToolButton>
#include <QUndoStack>

namespace {
ZNTWindowController::ApplicationCommands &applicationCommands() {
    static ZNTWindowController::ApplicationCommands commands;
    return commands;
}

struct Command {
    ZNTWindowCommand command;
    const char *title;
    QList<QKeySequence> keys;
};

// Every command of the window with its title; the letter after "&" opens it
// from its menu and is used once in each menu.
const QList<Command> &commands() {
    using C = ZNTWindowCommand;
    static const QList<Command> all = {
        {C::NewWindow, "&New Window", {QKeySequence::New}},
        {C::ShowFavorites, "&Favorites", {}},
        {C::Export, "&Export\u2026", {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E)}},
        {C::PerformClose, "&Close Window", {QKeySequence(Qt::CTRL | Qt::Key_W)}},
        {C::Quit, "&Quit", {QKeySequence(Qt::CTRL | Qt::Key_Q)}},
        {C::Undo, "&Undo", {QKeySequence::Undo}},
        {C::Redo, "&Redo", {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)}},
        {C::ShowPreferences, "&Preferences\u2026", {}},
        {C::ToggleSidebar, "Show &Navigation Sidebar", {QKeySequence(Qt::Key_F9)}},
        {C::ToggleRightSidebar, "Show &Detail Sidebar", {QKeySequence(Qt::CTRL | Qt::Key_F9)}},
        {C::ToggleTableFilter, "&Filter", {QKeySequence::Find}},
        {C::ToggleStructureAndContents, "Go to &Table Structure", {QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_S)}},
        {C::ReloadData, "&Reload", {QKeySequence(Qt::Key_F5), QKeySequence(Qt::CTRL | Qt::Key_R)}},
        {C::CancelCurrentQuery, "&Cancel Query", {QKeySequence(Qt::CTRL | Qt::Key_Period)}},
        {C::GoBack, "&Back", {QKeySequence(Qt::ALT | Qt::Key_Left)}},
        {C::GoForward, "&Forward", {QKeySequence(Qt::ALT | Qt::Key_Right)}},
        {C::GoUp, "&Up", {QKeySequence(Qt::ALT | Qt::Key_Up)}},
        {C::GoToTerminal, "&SQL Query", {QKeySequence(Qt::CTRL | Qt::Key_T)}},
        {C::ShowHelp, "Trellan &Help", {QKeySequence::HelpContents}},
    };
    return all;
}

// A title that shows text as it stands: "&" is not taken for a mnemonic.
QString literally(QString text) {
    return text.replace(u'&', QStringLiteral("&&"));
}

// The document of a text editor, plain (the query editor) or rich (the
// terminal's query being written); none for another widget.
QTextDocument *editorDocument(QWidget *widget) {
    if (auto *plain = qobject_cast<QPlainTextEdit *>(widget))
        return plain->isReadOnly() ? nullptr : plain->document();
    if (auto *rich = qobject_cast<QTextEdit *>(widget))
        return rich->isReadOnly() ? nullptr : rich->document();
    return nullptr;
}

// What Undo (undo true) or Redo can do, and does, in a text editor.
bool editorCan(QWidget *editor, bool undo) {
    QTextDocument *document = editorDocument(editor);
    return document && (undo ? document->isUndoAvailable() : document->isRedoAvailable());
}

void editorDo(QWidget *editor, bool undo) {
    // Through the editor, which puts its cursor where the change was.
    if (auto *plain = qobject_cast<QPlainTextEdit *>(editor))
        undo ? plain->undo() : plain->redo();
    else if (auto *rich = qobject_cast<QTextEdit *>(editor))
        undo ? rich->undo() : rich->redo();
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
    connect(m_pathButton, &QComboBox::activated, this,
            [this](int index) { showPageByCommand([this, index] { handlePathPopupButton(index); }); });
}

void ZNTWindowController::setCommand(ZNTWindowCommand command, std::function<void()> run) {
    connect(windowAction(command), &QAction::triggered, this, [run = std::move(run)] { run(); });
}

void ZNTWindowController::buildActions() {
    for (const Command &command : commands()) {
        auto *action = new QAction(QString::fromUtf8(command.title), this);
        action->setShortcuts(command.keys);
        // Window-wide, but a focused editor keeps its own meaning of the key.
        action->setShortcutContext(Qt::WindowShortcut);
        m_actions[command.command] = action;
    }
    connectCommands();
    using C = ZNTWindowCommand;
    windowAction(C::GoBack)->setIcon(ToolbarIcons::icon(ToolbarIcons::Shape::Back));
    windowAction(C::GoForward)->setIcon(ToolbarIcons::icon(ToolbarIcons::Shape::Forward));
    windowAction(C::ReloadData)->setIcon(ToolbarIcons::icon(ToolbarIcons::Shape::Reload));
    windowAction(C::ToggleTableFilter)->setIcon(ToolbarIcons::icon(ToolbarIcons::Shape::Filter));

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

void ZNTWindowController::connectCommands() {
    using C = ZNTWindowCommand;
    const ApplicationCommands &app = applicationCommands();
    setCommand(C::NewWindow, [this] { newWindow(); });
    setCommand(C::Export, [this] { exportContents(); });
    setCommand(C::PerformClose, [this] { performClose(); });
    setCommand(C::Quit, [quit = app.quit] { quit ? quit() : void(); });
    setCommand(C::ShowFavorites, [show = app.showFavorites] { show ? show() : void(); });
    setCommand(C::ShowPreferences, [show = app.showPreferences] { show ? show() : void(); });
    setCommand(C::ShowHelp, [show = app.showHelp] { show ? show() : void(); });
    setCommand(C::Undo, [this] {
        if (QWidget *editor = focusedTextEditor())
            editorDo(editor, true);
        else
            undoManager()->undo();
    });
    setCommand(C::Redo, [this] {
        if (QWidget *editor = focusedTextEditor())
            editorDo(editor, false);
        else
            undoManager()->redo();
    });
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget *old, QWidget *now) {
        if ((old && isAncestorOf(old)) || (now && isAncestorOf(now))) {
            watchFocusedEditor();
            validateActions();
        }
    });
    setCommand(C::ToggleSidebar, [this] { toggleSidebar(); });
    setCommand(C::ToggleRightSidebar, [this] { toggleRightSidebar(); });
    setCommand(C::ToggleTableFilter, [this] { toggleTableFilter(); });
    setCommand(C::ToggleStructureAndContents,
               [this] { showPageByCommand([this] { toggleStructureAndContentsInMainView(); }); });
    setCommand(C::ReloadData, [this] { reloadData(); });
    setCommand(C::CancelCurrentQuery, [this] { cancelCurrentQuery(); });
    setCommand(C::GoBack, [this] { showPageByCommand([this] { goBack(); }); });
    setCommand(C::GoForward, [this] { showPageByCommand([this] { goForward(); }); });
    setCommand(C::GoUp, [this] { showPageByCommand([this] { goUp(); }); });
    setCommand(C::GoToTerminal, [this] { showPageByCommand([this] { goToTerminal(); }); });
}

QAction *ZNTWindowController::windowAction(ZNTWindowCommand command) const {
    return m_actions.at(command);
}

void ZNTWindowController::buildMenus() {
    followMenuBarFocus();
    using C = ZNTWindowCommand;
    const ApplicationCommands &app = applicationCommands();
    QMenu *file = menuBar()->addMenu(QStringLiteral("&File"));
    file->addAction(windowAction(C::NewWindow));
    if (app.showFavorites)
        file->addAction(windowAction(C::ShowFavorites));
    file->addSeparator();
    file->addAction(windowAction(C::Export));
    file->addSeparator();
    file->addAction(windowAction(C::PerformClose));
    if (app.quit)
        file->addAction(windowAction(C::Quit));
    buildEditMenu();
    buildViewMenu();
    QMenu *go = menuBar()->addMenu(QStringLiteral("&Go"));
    for (C command : {C::GoBack, C::GoForward, C::GoUp})
        go->addAction(windowAction(command));
    go->addSeparator();
    go->addAction(windowAction(C::GoToTerminal));
    if (app.showHelp)
        menuBar()->addMenu(QStringLiteral("&Help"))->addAction(windowAction(C::ShowHelp));
    for (QMenu *menu : menuBar()->findChildren<QMenu *>())
        connect(menu, &QMenu::aboutToShow, this, [this] { validateActions(); });
}

// Undo and Redo first; a page's own editing commands go after them, above the
// program's Preferences.
void ZNTWindowController::buildEditMenu() {
    m_editMenu = menuBar()->addMenu(QStringLiteral("&Edit"));
    m_editMenu->addAction(windowAction(ZNTWindowCommand::Undo));
    m_editMenu->addAction(windowAction(ZNTWindowCommand::Redo));
    m_pageActionsSeparator = m_editMenu->addSeparator();
    m_pageActionsSeparator->setVisible(false);
    if (applicationCommands().showPreferences) {
        m_editMenu->addSeparator();
        m_editMenu->addAction(windowAction(ZNTWindowCommand::ShowPreferences));
    }
}

void ZNTWindowController::buildViewMenu() {
    using C = ZNTWindowCommand;
    QMenu *view = menuBar()->addMenu(QStringLiteral("&View"));
    for (C command : {C::ToggleSidebar, C::ToggleRightSidebar})
        view->addAction(windowAction(command));
    view->addSeparator();
    for (C command : {C::ToggleTableFilter, C::ToggleStructureAndContents})
        view->addAction(windowAction(command));
    view->addSeparator();
    for (C command : {C::ReloadData, C::CancelCurrentQuery})
        view->addAction(windowAction(command));
}

void ZNTWindowController::buildToolbar() {
    QToolBar *bar = addToolBar(QStringLiteral("Toolbar"));
    bar->setObjectName(QStringLiteral("toolbar"));
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->toggleViewAction()->setEnabled(false);
    bar->setIconSize(QSize(18, 18));
    bar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    bar->addAction(windowAction(ZNTWindowCommand::GoBack));
    bar->addAction(windowAction(ZNTWindowCommand::GoForward));
    bar->addSeparator();
    bar->addWidget(m_pathButton);
    bar->addSeparator();
    bar->addAction(m_leftSegment);
    bar->addAction(m_rightSegment);
    bar->addSeparator();
    bar->addWidget(m_statusDisplay);
    bar->addSeparator();
    bar->addAction(windowAction(ZNTWindowCommand::ReloadData));
    bar->addAction(windowAction(ZNTWindowCommand::ToggleTableFilter));
    QAction *terminal = windowAction(ZNTWindowCommand::GoToTerminal);
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

// A text editor keeps the undo history of what is typed into it (the query
// editor's SQL, the terminal's query being written): while it has the focus,
// Undo and Redo are its own. Fields and
// cells are left to their page, whose edits they become.
QWidget *ZNTWindowController::focusedTextEditor() const {
    // While the menu bar has the keyboard (Alt+E), the editor it came from.
    QWidget *editor = workingFocusWidget(const_cast<ZNTWindowController *>(this));
    if (!editor || editor->window() != this || !editorDocument(editor))
        return nullptr;
    return editor;
}

// The focused editor's undo history changes as it is typed in: the menu follows.
void ZNTWindowController::watchFocusedEditor() {
    QWidget *editor = focusedTextEditor();
    if (editor == m_watchedEditor)
        return;
    for (const auto &connection : m_editorConnections)
        disconnect(connection);
    m_editorConnections.clear();
    m_watchedEditor = editor;
    if (!editor)
        return;
    auto revalidate = [this] { validateActions(); };
    QTextDocument *document = editorDocument(editor);
    m_editorConnections.push_back(connect(document, &QTextDocument::undoAvailable, this, revalidate));
    m_editorConnections.push_back(connect(document, &QTextDocument::redoAvailable, this, revalidate));
}

void ZNTWindowController::validateActions() {
    if (m_destroying)
        return;
    using C = ZNTWindowCommand;
    auto set = [this](C command, bool enabled, const QString &title = QString()) {
        QAction *action = windowAction(command);
        action->setEnabled(enabled);
        if (!title.isNull())
            action->setText(title);
    };
    const bool sidebarShown = m_sidebarController && !isCollapsed(m_sidebarController);
    set(C::ToggleSidebar, true,
        sidebarShown ? QStringLiteral("Hide &Navigation Sidebar") : QStringLiteral("Show &Navigation Sidebar"));
    const bool detailShown = m_rightSidebarContainerView && !isCollapsed(m_rightSidebarContainerView);
    set(C::ToggleRightSidebar, m_rightSegment->isEnabled(),
        detailShown ? QStringLiteral("Hide &Detail Sidebar") : QStringLiteral("Show &Detail Sidebar"));
    ZNTContentController *page = m_mainViewController;
    set(C::ToggleTableFilter, dynamic_cast<ZNTTableFilterToggling *>(page) != nullptr);
    const auto current = currentItem();
    const bool structure = current && current->objectKind() == ZNTObjectKind::TableSchema;
    set(C::ToggleStructureAndContents, dynamic_cast<ZNTStructureToggling *>(page) != nullptr,
        structure ? QStringLiteral("Go to &Table Contents") : QStringLiteral("Go to &Table Structure"));
    set(C::GoBack, !m_navigation.backwardHistory().isEmpty());
    set(C::GoForward, !m_navigation.forwardHistory().isEmpty());
    set(C::GoUp, pathItems().size() > 1);
    const auto connection = currentConnection();
    const auto query = connection ? connection->currentQuery() : nullptr;
    set(C::CancelCurrentQuery,
        connection && connection->state() == ZNTConnection::ZNTConnectionStateBusy && query && !query->isCancelled());
    auto *validator = dynamic_cast<ZNTMenuValidator *>(page);
    set(C::Export, validator && validator->validateMenuItem(C::Export, windowAction(C::Export)));
    validatePageActions();
    if (QWidget *editor = focusedTextEditor()) {
        set(C::Undo, editorCan(editor, true), QStringLiteral("&Undo"));
        set(C::Redo, editorCan(editor, false), QStringLiteral("&Redo"));
        return;
    }
    // The page names its edits; an "&" in a name is shown, not taken for a mnemonic.
    QUndoStack *stack = undoManager();
    set(C::Undo, stack->canUndo(),
        stack->undoText().isEmpty() ? QStringLiteral("&Undo")
                                    : QStringLiteral("&Undo %1").arg(literally(stack->undoText())));
    set(C::Redo, stack->canRedo(),
        stack->redoText().isEmpty() ? QStringLiteral("&Redo")
                                    : QStringLiteral("&Redo %1").arg(literally(stack->redoText())));
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
    auto *provider = dynamic_cast<ZNTEditMenuProvider *>(m_mainViewController.data());
    std::function<void(QAction *)> validate = [&](QAction *action) {
        if (!action || action->isSeparator())
            return;
        action->setEnabled(!provider || provider->validateEditMenuAction(action));
        if (QMenu *submenu = action->menu()) {
            for (QAction *inner : submenu->actions())
                validate(inner);
        }
    };
    for (const QPointer<QAction> &action : std::as_const(m_pageEditActions))
        validate(action);
}
