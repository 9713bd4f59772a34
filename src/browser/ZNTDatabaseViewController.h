#pragma once

#include "ZNTDatabaseOverview.h"
#include "platform/NotificationCenter.h"
#include "window/ZNTContentController.h"

#include <QMenu>
#include <QPersistentModelIndex>
#include <QPointer>
#include <map>
#include <memory>

class IconView;

class QScrollArea;
class QStackedWidget;
class QTreeView;
class ZNTAnimatingIndicator;
class ZNTDatabase;
class ZNTDatabaseTreeModel;
class ZNTTerminalSegmentedControl;
class ZNTVariousObjectsQuery;

// The page of a database: its "SQL Query" item and every table, view and
// materialized view grouped by schema, as a grid of icons with a section per
// schema or as a list with the rows, size and index size the catalog
// estimates; the bar under the page switches between the two. Both show one
// model, filled by one listing (ZNTVariousObjectsQuery) batch by batch, so
// that neither loses what the user opened or selected when a batch arrives.
//
// Opening an item (double click, Return) shows its page, its structure with
// Alt held; the context menu of either presentation opens, maintains, drops,
// exports and starts relations, acting on the clicked items (the list's
// clicked rows, else its selected rows; the grid's selected icons). A reload
// keeps the old tree until the new listing's first relations; a failed
// listing is shown in a sheet and the tree keeps what had arrived. A relation
// of the database renamed or moved elsewhere reloads it.
// main thread
class ZNTDatabaseViewController : public ZNTContentController,
                                  public ZNTAccessoryViewProvider,
                                  public ZNTFirstResponderPlacer,
                                  public ZNTReloadable,
                                  public ZNTExporting,
                                  public ZNTMenuValidator {
    Q_OBJECT
public:
    using Command = ZNTDatabaseOverview::Command;
    enum class Presentation { Icons, List };

    explicit ZNTDatabaseViewController(std::shared_ptr<ZNTDatabase> database, QObject *parent = nullptr);
    ~ZNTDatabaseViewController() override;
    // The factory the browser installs: a page for a database item, else null.
    static ZNTContentController *viewControllerForItem(const std::shared_ptr<ZNTObject> &item);

    std::shared_ptr<ZNTDatabase> database() const { return m_database; }
    ZNTDatabaseTreeModel *model() const { return m_model; }
    std::shared_ptr<ZNTVariousObjectsQuery> objectsQuery() const { return m_objectsQuery; }
    bool initialQueryDone() const { return m_initialQueryDone; }
    IconView *iconView();
    QTreeView *outlineView();
    ZNTTerminalSegmentedControl *viewModeControl();
    ZNTAnimatingIndicator *progressIndicator();
    QMenu *contextMenu();
    QAction *menuAction(Command command);

    Presentation presentation();
    // Shows the grid or the list and gives it the focus.
    void setPresentation(Presentation presentation);

    // What the commands act on (see the class comment).
    ZNTObjectList clickedItems();
    // The list's menu was opened on row (invalid: on no row), as a right click does.
    void setClickedRow(const QModelIndex &row);
    bool validateCommand(Command command);
    void performCommand(Command command);
    // Opens the item the grid's double action or the list's activation names.
    void openFromGrid();
    void openFromList(const QModelIndex &row);

    QWidget *accessoryView() override;
    bool makeFirstResponder() override;
    void performReload() override;
    void exportContents(QObject *sender) override;
    bool validateMenuItem(ZNTWindowCommand command, QAction *item) override;

protected:
    QWidget *makeView() override;

private:
    void buildUi(QWidget *page);
    void buildList();
    void buildAccessory();
    void buildMenu(QWidget *page);
    void connectActions();
    void showPresentation(Presentation presentation);
    void showListMenu(const QPoint &position);
    void handleObjects();
    void queryDone(const Notification &notification);
    void syncIndicator();
    QWidget *shownPresentation();
    void open(const std::shared_ptr<ZNTObject> &item, QWidget *from);
    void openStructure(const ZNTObjectList &items);

    const std::shared_ptr<ZNTDatabase> m_database;
    ZNTDatabaseTreeModel *m_model;
    std::shared_ptr<ZNTVariousObjectsQuery> m_objectsQuery;
    std::vector<ObserverToken> m_queryObservers;
    ObserverToken m_relationsObserver;
    qsizetype m_handled = 0; // of the current listing's objects, those in the tree
    bool m_initialQueryDone = false;
    QList<QPersistentModelIndex> m_clickedRows;

    QPointer<QStackedWidget> m_stack;
    QPointer<IconView> m_iconView;
    QPointer<QScrollArea> m_iconScroll;
    QPointer<QTreeView> m_outlineView;
    QPointer<QWidget> m_accessoryView;
    QPointer<ZNTTerminalSegmentedControl> m_viewModeControl;
    QPointer<ZNTAnimatingIndicator> m_progressIndicator;
    QPointer<QMenu> m_menu;
    std::map<Command, QAction *> m_menuActions;
};
