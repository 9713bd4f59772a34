#pragma once

#include "model/ZNTObject.h"
#include "platform/NotificationCenter.h"

#include <QPersistentModelIndex>
#include <QWidget>
#include <map>
#include <memory>

class QAction;
class QMenu;
class ZNTSidebarOutlineView;
class ZNTSidebarTreeModel;

// The navigation sidebar of a main window: an outline of the server's object
// tree under its root (the server, or the shown database), loaded level by
// level. Selecting a row navigates the window to its item (a schema is not
// navigated to; with Alt held a relation opens its structure); the window's
// navigation comes back as selectItem(), which highlights the shown item
// without navigating again. Its context menu opens, copies, maintains, drops
// and creates objects. A relation renamed or moved in a database under its
// root is listed anew. main thread
class ZNTSidebarController : public QWidget {
    Q_OBJECT
public:
    explicit ZNTSidebarController(QWidget *parent = nullptr);
    ~ZNTSidebarController() override;

    ZNTSidebarOutlineView *outlineView() const { return m_outlineView; }
    ZNTSidebarTreeModel *model() const { return m_model; }

    std::shared_ptr<ZNTObject> rootItem() const;
    // An equal root changes nothing; another one starts the tree over.
    void setRootItem(const std::shared_ptr<ZNTObject> &root);
    // The window shows item: its row (a row's table, a structure's relation) is
    // highlighted, or the selection cleared when it has none.
    void selectItem(const std::shared_ptr<ZNTObject> &item);
    std::shared_ptr<ZNTObject> selectedItem() const { return m_selectedItem; }
    void selectRowOfSelectedItemWithScrolling(bool scroll);
    // Loads the root's level and every level requested so far again.
    void performReload();
    // The width at which the rows' texts fit; 170 without rows.
    double preferredWidth() const;

    // The context menu's commands, in the menu's order.
    enum class Command {
        OpenSidebarItem,
        OpenSidebarItemInNewWindow,
        OpenSidebarItemSchema,
        OpenSidebarItemSchemaInNewWindow,
        CopySidebarItemName,
        AnalyzeSidebarItem,
        VacuumSidebarItem,
        ReindexSidebarItem,
        ClusterSidebarItem,
        RefreshMaterializedViewSidebarItem,
        TruncateSidebarItem,
        DeleteSidebarItem,
        ExportSidebarItem,
        NewTable,
        NewView,
        NewMaterializedView,
    };

    // The commands act on the items the menu was opened on (setClickedRow).
    void setClickedRow(const QModelIndex &clicked);
    ZNTObjectList clickedItems() const;
    QMenu *contextMenu() const { return m_menu; }
    QAction *menuAction(Command command) const;
    bool validateMenuItem(Command command) const;
    void performMenuAction(Command command);

private:
    void buildUi();
    void buildMenu();
    void connectActions();
    void selectionDidChange();
    void enterTypingPage(const QModelIndex &row);
    void relationListChanged(const Notification &notification);
    void showContextMenu(const QModelIndex &clicked, const QPoint &globalPos);
    bool clickedRowsAreItems() const;
    std::shared_ptr<ZNTObject> singleClickedItem() const;
    std::shared_ptr<class ZNTDatabase> clickedDatabase() const;
    QString clickedSchemaName() const;

    void openSidebarItem(bool inNewWindow);
    void openSidebarItemSchema(bool inNewWindow);
    void deleteSidebarItem();
    void copySidebarItemName();
    void newRelation(int type);
    void enterChosenPage();

    ZNTSidebarOutlineView *m_outlineView = nullptr;
    ZNTSidebarTreeModel *m_model = nullptr;
    QMenu *m_menu = nullptr;
    std::map<Command, QAction *> m_menuActions;
    std::shared_ptr<ZNTObject> m_selectedItem;
    QList<QPersistentModelIndex> m_clicked;
    ObserverToken m_relationsObserver;
};
