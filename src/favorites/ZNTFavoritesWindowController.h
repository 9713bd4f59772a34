#pragma once

#include "FavoritesListModel.h"
#include "ZNTFavoriteFileImporter.h"
#include "platform/Error.h"
#include "platform/NotificationCenter.h"

#include <QFileDialog>
#include <QPointer>
#include <QUrl>
#include <QWidget>
#include <map>
#include <memory>

class FavoritesListDragging;
class QAction;
class QMenu;
class ZNTFavorite;
class ZNTFavoritesStore;
class ZNTFavoritesTable;
class ZNTServer;
class ConditionLock;
struct ConnectPrompt;

// The favorites window: the list of saved connections, edited in place, and
// where every connection starts. It owns the favorites store, follows each
// connecting favorite's server, shows progress and errors in the favorite's row,
// and asks in sheets for what a failed attempt lacked (a password, consent to
// connect without TLS, trust in an SSH host key, a key passphrase, answers to a
// keyboard-interactive login). main thread
class ZNTFavoritesWindowController : public QObject,
                                     public ZNTFavoriteFileImporterDelegate,
                                     public std::enable_shared_from_this<ZNTFavoritesWindowController> {
    Q_OBJECT
public:
    // store: the favorites store to show; null: the user's own.
    static std::shared_ptr<ZNTFavoritesWindowController> create(std::shared_ptr<ZNTFavoritesStore> store = {});
    ~ZNTFavoritesWindowController() override;

    QWidget *window() const { return m_window; }
    void showWindow();
    ZNTFavoritesTable *table() const { return m_table; }
    FavoritesListModel *model() const { return m_model; }
    std::shared_ptr<ZNTFavoritesStore> store() const { return m_store; }
    const std::vector<std::shared_ptr<ZNTFavorite>> &favorites() const { return m_model->favorites(); }
    std::shared_ptr<ZNTFavorite> currentlyEditableObject() const { return m_model->editedFavorite(); }

    // List commands; row is a list row (favorites start at 1), -1 for none.
    bool editObject(const std::shared_ptr<ZNTFavorite> &favorite);
    void beginEditingFavorite(int row);
    void endEditingFavorite();
    void newFavorite();
    void deleteFavorite(int row);
    void duplicateFavorite(int row);
    void copyFavoriteURL(int row);
    void chooseSshPrivateKey(int row);
    void removeSshPrivateKey(int row);
    bool validate(FavoritesListModel::Command command, int row) const { return m_model->validate(command, row); }
    // The commands of a row's context menu; others may add theirs.
    void populateRowMenu(QMenu *menu, int row);

    // The window's commands that the program's menus show, with their keys.
    enum class WindowCommand { NewFavorite, Duplicate, CopyURL, ExportFavorite, ExportAllFavorites, CloseWindow };
    QAction *windowAction(WindowCommand command) const;

    // Connecting.
    void connectToFavorite(int row);
    void connectToFavorite(const std::shared_ptr<ZNTFavorite> &favorite);
    void disconnectFromFavorite(int row);
    void cancelConnection(int row);
    void clearError(int row);
    // A connection URL handed over by another program: connects the first
    // similar favorite, else adds one made from the URL and connects it; for a
    // server beyond this computer only once the user has agreed in a sheet.
    // False with *error for a URL that is refused (FavoriteURL::read) or a store
    // that cannot save.
    bool openURL(const QString &url, ErrorPtr *error);
    void handleKeyboardInteractiveAuthenticationRequest(const QVariantMap &request,
                                                        const std::shared_ptr<ZNTServer> &server,
                                                        std::shared_ptr<ConditionLock> lock,
                                                        std::shared_ptr<QStringList> responses);

    // Favorite files and dragging (ZNTFavoritesWindowControllerFiles.cpp).
    // Export: one favorite to a file, several to a new folder, from a save sheet
    // with the password, history and encryption choices. Beeps without a favorite.
    void exportFavorite(int row);
    void exportAllFavorites();
    void exportFavorites(const std::vector<std::shared_ptr<ZNTFavorite>> &favorites);
    QFileDialog *favoriteExportPanel() const { return m_favoriteExportPanel; }
    // Moves the favorite of row from to the place above row above (list rows);
    // false, with a beep, when the window cannot end its editing.
    bool moveFavorite(int from, int above);
    // Imports the favorite files among paths (folders searched at any depth)
    // to stand above row above.
    void importFavoriteFiles(const QStringList &paths, int above);
    FavoritesListDragging *dragging() const { return m_dragging; }
    // Imported favorite files become favorites, at the importer's target index;
    // a single one is then edited.
    void favoriteFileImporterDidFinish(ZNTFavoriteFileImporter &importer) override;

    // Shows an error as a sheet on the window (with its recovery options).
    void presentError(const ErrorPtr &error);

    // Before the program ends: ends the editing in the window (what is typed
    // goes to its favorite), saves, and calls done on the main thread once the
    // secret store holds what was saved. A save that fails is shown first, and
    // done follows when the user has closed the alert.
    void prepareToQuit(std::function<void()> done);

    // The prompt sheet shown last, for tests; null when none is open.
    QWidget *openSheet() const { return m_openSheet; }

signals:
    // The user closed the window with nothing else open: the program should end.
    void lastWindowClosedByUser();

private:
    class Window;
    class AuthDelegate;
    friend class Window;
    ZNTFavoritesWindowController();

    void buildUi();
    void connectActions();
    QAction *addAction(WindowCommand command, const QString &title, const QKeySequence &key,
                       std::function<void()> slot);
    void setupDatasource();
    void reloadFavorites();
    void scheduledSaveDidEnd(const ErrorPtr &error);
    void windowDidBecomeKey();
    void remeasureErrorRows();
    void fitWindowToSettingsForm(QWidget *form);
    void measureErrorText(ZNTFavorite &favorite);
    QWidget *makeSettingsForm(ZNTFavorite *favorite, QWidget *parent);
    int rowOf(const ZNTFavorite *favorite) const { return m_model->rowForFavorite(favorite); }
    void showRowMenu(int row, const QPoint &globalPos);
    void setUpDragging();

    // Connecting (ZNTFavoritesWindowControllerConnect.cpp).
    void serverStatusChanged(const std::shared_ptr<ZNTServer> &server, const Notification &notification);
    void allWindowsClosed(const std::shared_ptr<ZNTServer> &server);
    void stopObservingServer(const ZNTServer *server);
    void promptAfterFailure(const std::shared_ptr<ZNTFavorite> &favorite, const std::shared_ptr<ZNTServer> &server,
                            const ErrorPtr &error);
    void showPrompt(const std::shared_ptr<ZNTFavorite> &favorite, const ConnectPrompt &prompt, const ErrorPtr &error);
    void confirmNewServer(const QVariantMap &params);
    bool addFavoriteForURL(const QVariantMap &params, ErrorPtr *error);
    void openSheetForRow(QWidget *sheet, int row);

    struct ServerObservation {
        ObserverToken status;
        ObserverToken allWindowsClosed;
    };

    QPointer<QWidget> m_window;
    ZNTFavoritesTable *m_table = nullptr;
    FavoritesListModel *m_model = nullptr;
    std::shared_ptr<ZNTFavoritesStore> m_store;
    std::shared_ptr<AuthDelegate> m_authDelegate;
    std::map<const ZNTServer *, ServerObservation> m_observedServers;
    ObserverToken m_passwordNotSavedObserver;
    QPointer<QWidget> m_openSheet;
    QPointer<QFileDialog> m_favoriteExportPanel;
    FavoritesListDragging *m_dragging = nullptr;
    std::map<WindowCommand, QAction *> m_actions;
    // The failed save shown last; the same failure again is not shown again.
    QString m_shownSaveError;
};
