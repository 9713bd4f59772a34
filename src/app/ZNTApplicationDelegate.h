#pragma once

#include "Termination.h"
#include "platform/NotificationCenter.h"

#include <QObject>
#include <QStringList>
#include <QUrl>
#include <memory>

class QWidget;
class SingleInstance;
class ZNTFavoritesWindowController;
class ZNTFavoritesStore;

// The program: registers its settings' defaults, opens the favorites window,
// takes connection URLs and favorite files from the command line, the desktop
// and later starts, brings the favorites window back when the last server's
// windows have closed, and ends only once every window with unsaved changes has
// been dealt with. main thread
class ZNTApplicationDelegate : public QObject {
    Q_OBJECT
public:
    ZNTApplicationDelegate();
    ~ZNTApplicationDelegate() override;

    // Start-up after the single-instance check: defaults, what every window
    // takes (its place on screen, Shift+F10 for context menus), the favorites
    // window, the server registry's removals; then shows the window and opens
    // what the arguments (already normalized) name. store: null for the user's
    // own.
    void applicationWillFinishLaunching(std::shared_ptr<ZNTFavoritesStore> store = {});
    void applicationDidFinishLaunching(const QStringList &arguments);

    // What a start (this one or a later one) asks for: URLs, favorite files,
    // and, with nothing, the favorites window.
    void openArguments(const QStringList &arguments);
    void showFavoritesWindow();
    // The shared Help (at topic) and Preferences windows, which quit with Ctrl+Q.
    void showHelp(const QString &topic);
    void showPreferences();
    // Favorite files: one import for all "tqbfav" files of the list; false when
    // the list holds none.
    bool openFiles(const QStringList &paths);
    // A connection URL text as the desktop hands it over.
    void getUrl(const QString &text);

    // Diagnostic: logs the widget with the keyboard focus and frames it in red
    // for half a second.
    void flashFirstResponder();

    // Quit: every main window with unsaved changes is asked first; then what is
    // typed in the favorites window is saved, with its passwords, and
    // readyToQuit follows once the secret store has them.
    void terminate();
    Termination::Reply applicationShouldTerminate();

    ZNTFavoritesWindowController *favoritesWindowController() const { return m_favorites.get(); }

signals:
    // The program may end now.
    void readyToQuit();

private:
    void didRemoveServer();
    void installMenus();
    void giveQuitKey(QWidget *window);
    void finishQuitting();

    std::shared_ptr<ZNTFavoritesWindowController> m_favorites;
    Termination m_termination;
    bool m_savingBeforeQuit = false;
    ObserverToken m_didRemoveServer;
};

// The whole program: argument handling, single instance, the application.
int ZNTApplicationMain(int argc, char *argv[]);
