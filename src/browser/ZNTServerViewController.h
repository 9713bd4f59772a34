#pragma once

#include "model/ZNTObject.h"
#include "platform/NotificationCenter.h"
#include "window/ZNTContentController.h"

#include <QMenu>
#include <QPointer>
#include <memory>

class IconView;

class QScrollArea;
class ZNTAnimatingIndicator;
class ZNTDatabaseQuery;
class ZNTObjectListModel;
class ZNTServer;

// The page of a server whose favorite shows all its databases: one large icon
// per database that accepts connections, in name order, filled by one listing
// (ZNTDatabaseQuery) while a spinner turns. Opening an icon (double click,
// Return, or Open in its menu) shows that database's page in the window; with
// no icon or several selected it beeps. A reload starts the listing over with
// an empty grid; what the replaced listing still sends is ignored. A failed
// listing is shown in a sheet, and the grid keeps what had arrived.
// main thread
class ZNTServerViewController : public ZNTContentController,
                                public ZNTFirstResponderPlacer,
                                public ZNTReloadable,
                                public ZNTMenuValidator {
    Q_OBJECT
public:
    explicit ZNTServerViewController(std::shared_ptr<ZNTServer> server, QObject *parent = nullptr);
    ~ZNTServerViewController() override;
    // The factory the browser installs: a page for a server item, else null.
    static ZNTContentController *viewControllerForItem(const std::shared_ptr<ZNTObject> &item);

    std::shared_ptr<ZNTServer> server() const { return m_server; }
    ZNTObjectListModel *model() const { return m_model; }
    std::shared_ptr<ZNTDatabaseQuery> databaseQuery() const { return m_databaseQuery; }
    bool initialQueryDone() const { return m_initialQueryDone; }
    IconView *iconView();
    ZNTAnimatingIndicator *progressIndicator();
    QMenu *contextMenu();

    // Opens the one selected database; a beep without exactly one.
    void goDown();
    // Open is enabled with exactly one database selected.
    bool canGoDown();

    bool makeFirstResponder() override;
    void performReload() override;
    // The page exports nothing.
    bool validateMenuItem(ZNTWindowCommand command, QAction *item) override;

protected:
    QWidget *makeView() override;

private:
    void buildUi(QWidget *page);
    void connectActions();
    void newObjects();
    void queryDone(const Notification &notification);
    void syncIndicator();

    const std::shared_ptr<ZNTServer> m_server;
    ZNTObjectListModel *m_model;
    std::shared_ptr<ZNTDatabaseQuery> m_databaseQuery;
    std::vector<ObserverToken> m_queryObservers;
    bool m_initialQueryDone = false;
    QPointer<IconView> m_iconView;
    QPointer<ZNTAnimatingIndicator> m_progressIndicator;
    QPointer<QMenu> m_menu;
    QAction *m_openAction = nullptr;
};
