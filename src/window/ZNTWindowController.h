#pragma once

#include "ZNTActionRoute.h"
#include "ZNTContentController.h"
#include "ZNTNavigationPath.h"
#include "model/ZNTObjectKey.h"
#include "model/ZNTWindowControllerHandle.h"

#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <map>
#include <memory>
#include <vector>

class QAction;
class QComboBox;
class QMenu;
class QPlainTextEdit;
class QSplitter;
class QUndoStack;
class StatusDisplay;
class ZNTConnection;
class ZNTDatabase;
class ZNTServer;
class ZNTSidebarController;
class ZNTTable;

// One main window of a connected server. It shows one item of the object tree
// at a time (the server, a database, a relation, its structure, the "SQL
// Query" item or a row) through that item's page, keeps the path of the shown
// item with back and forward histories, and takes the navigation actions its
// sidebar and pages send up the route. Before it closes or reloads, pages with
// unsaved edits are asked to settle them (one after another, each brought to
// the front); the first refusal keeps the window as it is.
//
// The server object owns it through ZNTWindowControllerHandle: made by
// factory(), shown with showWindow(), forgotten after its close; the last
// reference deletes it on a later turn of the event loop. main thread
class ZNTWindowController : public QMainWindow,
                            public ZNTWindowControllerHandle,
                            public ZNTResignationDelegate,
                            public ZNTResponder {
    Q_OBJECT
public:
    // What the program's own menu entries do; an unset command has no entry.
    struct ApplicationCommands {
        std::function<void()> quit;
        std::function<void()> showFavorites;
        std::function<void()> showPreferences;
        std::function<void()> showHelp;
    };

    // A window on item; nothing is shown until showWindow().
    static std::shared_ptr<ZNTWindowController> create(const std::shared_ptr<ZNTObject> &item);
    // The factory the server object makes its main windows with.
    static ZNTWindowControllerFactory factory(ApplicationCommands commands);
    ~ZNTWindowController() override;

    // The path and histories.
    const ZNTNavigationPath &navigation() const { return m_navigation; }
    ZNTObjectList pathItems() const { return m_navigation.pathItems(); }
    std::shared_ptr<ZNTObject> currentItem() const { return m_navigation.currentItem(); }
    std::shared_ptr<ZNTDatabase> currentDatabase() const { return m_navigation.currentDatabase(); }
    std::shared_ptr<ZNTServer> currentServer() const { return m_navigation.currentServer(); }
    std::shared_ptr<ZNTConnection> currentConnection() const;

    // Navigation. Each refuses with a beep when an editor will not end its
    // editing (but for navigation from the sidebar, which edits nothing).
    void navigateToItem(const std::shared_ptr<ZNTObject> &item);
    // After a save renamed or created a relation: old becomes replacement in
    // every history, and is shown as the replacement when it is the shown item.
    void replaceNavigationItems(const std::shared_ptr<ZNTObject> &old, const std::shared_ptr<ZNTObject> &replacement);
    // Leaves and forgets item (a new relation whose edits were discarded).
    void removeNavigationItem(const std::shared_ptr<ZNTObject> &item);
    void goBack();
    void goForward();
    void goUp();
    void handlePathPopupButton(int index);
    void newWindow();
    void goToTerminal();
    void cancelCurrentQuery();

    // Pages.
    ZNTContentController *viewControllerForItem(const std::shared_ptr<ZNTObject> &item);
    ZNTContentController *mainViewController() const { return m_mainViewController; }
    // The page cached for an item equal to item, without making one.
    ZNTContentController *cachedViewController(const ZNTObject &item) const;
    // Pages with edits, or a notice a page that went left to tell.
    bool hasPendingChanges() const override;
    // Whether the page the window holds for item, other than except, has
    // changes not saved yet; for a relation or its structure item, any page of
    // the relation (its rows, its structure), also one reached through another
    // favorite's server.
    bool hasPendingChangesOfItem(const ZNTObject &item, const ZNTContentController *except = nullptr) const;
    // The same question put to every main window of the program still open.
    static bool anyWindowHasPendingChangesOfItem(const ZNTObject &item, const ZNTContentController *except = nullptr);
    // Asks every page with edits to settle them, then answers delegate once.
    // While such a request (or a reload's) is under way, a further one is
    // answered no at once.
    void resignWithDelegate(ZNTResignationDelegate *delegate, std::any userInfo);
    void resignWithDelegate(std::function<void(bool)> answer) override;
    void didResign(bool success, const std::any &userInfo) override;
    bool isResigning() const { return m_resigning; }
    // True when the window may close now; otherwise the pages are asked and
    // the window closes once all of them have agreed.
    bool windowShouldClose();
    void reloadData();
    void performReload();
    // The shown page's undo stack, else the window's own (emptied at each page).
    QUndoStack *undoManager();
    void makeMainViewFirstResponder();
    // Runs a command that may show a page: that page takes the focus, also from
    // the sidebar, whose own choices leave the focus in it. What the user types
    // next is meant for the page a command showed.
    void showPageByCommand(const std::function<void()> &command);
    void toggleTableFilter();
    void toggleStructureAndContentsInMainView();
    void exportContents();

    // Layout and sidebars.
    ZNTSidebarController *sidebarController() const;
    QSplitter *splitView() const { return m_splitView; }
    QWidget *mainView() const { return m_mainView; }
    QWidget *rightSidebarContainerView() const { return m_rightSidebarContainerView; }
    StatusDisplay *statusDisplay() const { return m_statusDisplay; }
    QComboBox *pathButton() const { return m_pathButton; }
    void loadSidebar();
    void reloadSidebar();
    void toggleSidebar();
    void loadRightSidebar();
    void toggleRightSidebar();
    void toggleLeftOrRightSidebar(int segment);
    void adjustSplitView();
    bool isSidebarFirstResponder() const;
    // The pane's width now; 0 when it is collapsed or absent.
    int sidebarWidth() const;
    int rightSidebarWidth() const;

    // Commands of the menus and the toolbar: enabled states and titles follow
    // what the window shows.
    QAction *windowAction(ZNTWindowCommand command) const;
    void validateActions();

    // ZNTWindowControllerHandle
    void showWindow() override;
    void performClose() override;
    // Closes without asking the pages (after they agreed while quitting).
    void close() override;

    // ZNTResponder: the navigation actions and makeMainViewFirstResponder.
    bool performAction(const ZNTAction &action) override;

protected:
    void closeEvent(QCloseEvent *event) override;
    void changeEvent(QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    // Shift+Tab out of the page's first control goes to the navigation sidebar.
    bool focusNextPrevChild(bool next) override;

private:
    explicit ZNTWindowController(const std::shared_ptr<ZNTObject> &item);
    void buildUi();
    void buildActions();
    void connectCommands();
    void buildMenus();
    void buildEditMenu();
    void buildViewMenu();
    void buildToolbar();
    void windowDidLoad();

    void _navigateToItem(const std::shared_ptr<ZNTObject> &item);
    void _setCurrentItem(const std::shared_ptr<ZNTObject> &item);
    void placeViewForItem(const std::shared_ptr<ZNTObject> &item);
    void clearMainView();
    void placeMainView(QWidget *view, QWidget *accessory);
    void updatePathPopup();
    void removeRightSidebar();
    void dropViewController(const ZNTObject &item);
    // The page leaves the window for good; what it had still to show stays.
    void letPageGo(ZNTContentController *controller);
    // Tells the notices pages left, one after another, after the open sheet.
    void tellNotice();
    // After a close or a quit asked the pages: the window and its newest sheet
    // come forward, unless the window closed.
    void bringForwardAsking();
    // After this window replaced a relation it renamed or moved: every other
    // window holding it (through any favorite of the same server) follows.
    void followRenamedRelationInOtherWindows(const std::shared_ptr<ZNTObject> &old,
                                             const std::shared_ptr<ZNTObject> &replacement);
    // This window's items of old (the relation and its structure item) become
    // renamed's, and its pages of old go, unless one of them holds changes.
    void followRenamedRelation(const ZNTTable &old, const ZNTTable &renamed);
    // Every main window of the program that is neither closed nor going.
    static QList<QPointer<ZNTWindowController>> openWindows();
    bool isOpen() const { return !m_closed && !m_destroying; }
    bool endEditing();
    void splitViewDidResizeSubviews();
    void dividerDoubleClicked(int index);
    int paneWidth(QWidget *pane) const;
    void setPaneWidths(int left, int right);
    bool isCollapsed(QWidget *pane) const;
    // Ctrl+Tab and Ctrl+Shift+Tab: on to the next or previous control, also out
    // of a grid or a text that takes Tab itself.
    void buildFocusKeys();
    bool isLeavingPageBackward() const;
    std::shared_ptr<ZNTObject> sidebarRoot() const;
    void watchUndoStack();
    void resign(ZNTObjectList pending, std::function<void(bool)> finished);
    void askPageToResign(const std::shared_ptr<ZNTObject> &item, std::function<void(bool)> answer);
    void windowWillClose();
    void setCommand(ZNTWindowCommand command, std::function<void()> run);
    void installPageEditActions();
    void validatePageActions();
    // Undo and Redo act on the focused text editor first: its own typing.
    QWidget *focusedTextEditor() const;
    void watchFocusedEditor();

    ZNTNavigationPath m_navigation;
    // The pages made so far, in the order they were made; keys compare by equality.
    std::vector<std::pair<ZNTObjectKey, QPointer<ZNTContentController>>> m_viewControllers;
    QPointer<ZNTContentController> m_mainViewController;
    // Notices of pages that went, not told yet: pending until they are.
    QList<ZNTPageLeftovers::Notice> m_notices;
    QPointer<ZNTSidebarController> m_sidebarController;
    QSplitter *m_splitView = nullptr;
    QWidget *m_mainView = nullptr;
    QPointer<QWidget> m_rightSidebarContainerView;
    QPointer<QWidget> m_accessoryContainer;
    QPointer<QWidget> m_accessorySeparator;
    StatusDisplay *m_statusDisplay = nullptr;
    QComboBox *m_pathButton = nullptr;
    QAction *m_leftSegment = nullptr;
    QAction *m_rightSegment = nullptr;
    QUndoStack *m_defaultUndoManager = nullptr;
    QPointer<QUndoStack> m_watchedUndoStack;
    std::vector<QMetaObject::Connection> m_undoConnections;
    std::map<ZNTWindowCommand, QAction *> m_actions;
    QMenu *m_editMenu = nullptr;
    QPointer<QAction> m_pageActionsSeparator;   // before the shown page's own Edit menu commands
    QList<QPointer<QAction>> m_pageEditActions; // the shown page's, in the Edit menu now
    QMetaObject::Connection m_pageValidation;
    QPointer<QWidget> m_watchedEditor;
    std::vector<QMetaObject::Connection> m_editorConnections;
    std::optional<std::pair<int, int>> m_widthsOnShow; // the sidebars' widths, given at the first show
    bool m_resigning = false;
    bool m_closeWithoutAsking = false;
    bool m_closed = false;
    bool m_destroying = false;
    bool m_commandShowsPage = false; // while showPageByCommand runs
};
