#include "ZNTApplicationDelegate.h"

#include "CommandLine.h"
#include "DefaultSettings.h"
#include "SingleInstance.h"
#include "TqbUpdateChecker.h"
#include "ZNTHelpWindowController.h"
#include "ZNTPreferenceWindowController.h"
#include "browser/BrowserPages.h"
#include "favorites/ZNTFavoriteFile.h"
#include "favorites/ZNTFavoriteFileImporter.h"
#include "favorites/ZNTFavoriteURL.h"
#include "favorites/ZNTFavoritesWindowController.h"
#include "model/ZNTServer.h"
#include "model/ZNTServerController.h"
#include "platform/Log.h"
#include "platform/Main.h"
#include "query/QueryPages.h"
#include "structure/StructurePages.h"
#include "uikit/AlertSheet.h"
#include "uikit/CertificateTrustPanel.h"
#include "uikit/ContextMenuKey.h"
#include "uikit/WindowPlacement.h"
#include "window/ZNTWindowController.h"

#include <QAction>
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>
#include <csignal>

namespace {

// A red frame over one widget of a window, drawn over everything else there.
class FocusFlash : public QWidget {
public:
    FocusFlash(QWidget *window, const QRect &target) : QWidget(window), m_target(target) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setGeometry(window->rect());
        show();
        raise();
    }

protected:
    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        painter.setPen(QPen(QColor::fromRgbF(1.0f, 0.3f, 0.3f, 0.6f), 4));
        painter.setBrush(QColor::fromRgbF(1.0f, 0.3f, 0.3f, 0.2f));
        painter.drawRect(m_target);
    }

private:
    QRect m_target;
};

} // namespace

ZNTApplicationDelegate::ZNTApplicationDelegate()
    : m_termination([this](bool terminate) {
          if (terminate)
              finishQuitting();
      }) {}

ZNTApplicationDelegate::~ZNTApplicationDelegate() = default;

void ZNTApplicationDelegate::applicationWillFinishLaunching(std::shared_ptr<ZNTFavoritesStore> store) {
    RegisterDefaultSettings();
    WindowPlacement::keepWindowsOnScreen();
    uv_openContextMenusWithShiftF10();
    installCertificateTrustPanel();
    BrowserPages::install();
    QueryPages::install();
    StructurePages::install();
    ZNTWindowController::ApplicationCommands commands;
    commands.quit = [this] { terminate(); };
    commands.showFavorites = [this] { showFavoritesWindow(); };
    commands.showPreferences = [this] { showPreferences(); };
    commands.showHelp = [this] { showHelp(QStringLiteral("index")); };
    ZNTServer::setWindowControllerFactory(ZNTWindowController::factory(std::move(commands)));
    m_favorites = ZNTFavoritesWindowController::create(std::move(store));
    connect(m_favorites.get(), &ZNTFavoritesWindowController::lastWindowClosedByUser, this,
            &ZNTApplicationDelegate::terminate);
    installMenus();
    m_didRemoveServer = NotificationCenter::defaultCenter().observe(
        ZNTServerController::DidRemoveServerNotification, nullptr, [this](const Notification &) { didRemoveServer(); });
}

void ZNTApplicationDelegate::applicationDidFinishLaunching(const QStringList &arguments) {
    showFavoritesWindow();
    if (!arguments.isEmpty())
        openArguments(arguments);
}

void ZNTApplicationDelegate::installMenus() {
    QWidget *window = m_favorites->window();
    auto *bar = new QMenuBar(window);
    using Command = ZNTFavoritesWindowController::WindowCommand;
    QMenu *file = bar->addMenu(QStringLiteral("&File"));
    file->addAction(m_favorites->windowAction(Command::NewFavorite));
    file->addAction(m_favorites->windowAction(Command::CloseWindow));
    file->addSeparator();
    QAction *quit = file->addAction(QStringLiteral("&Quit"), this, &ZNTApplicationDelegate::terminate);
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    QMenu *edit = bar->addMenu(QStringLiteral("&Edit"));
    edit->addAction(m_favorites->windowAction(Command::Duplicate));
    edit->addAction(m_favorites->windowAction(Command::CopyURL));
    edit->addSeparator();
    QAction *prefs = edit->addAction(QStringLiteral("&Preferences…"), this, [this] { showPreferences(); });
    prefs->setShortcut(QKeySequence::Preferences);
    QMenu *help = bar->addMenu(QStringLiteral("&Help"));
    QAction *index =
        help->addAction(QStringLiteral("Trellan &Help"), this, [this] { showHelp(QStringLiteral("index")); });
    index->setShortcut(QKeySequence::HelpContents);
    help->addAction(QStringLiteral("&Favorites"), this, [this] { showHelp(QStringLiteral("favorite-window")); });
    help->addAction(QStringLiteral("What's &New"), this, [this] { showHelp(QStringLiteral("changelist")); });
    help->addSeparator();
    help->addAction(QStringLiteral("Check for &Updates…"), this,
                    [] { TqbUpdateChecker::sharedChecker()->checkForUpdates(); });
    auto *flash = new QAction(QStringLiteral("Flash First Responder"), window);
    flash->setShortcut(QKeySequence(Qt::CTRL | Qt::ALT | Qt::SHIFT | Qt::Key_F));
    connect(flash, &QAction::triggered, this, &ZNTApplicationDelegate::flashFirstResponder);
    window->addAction(flash);
    qobject_cast<QVBoxLayout *>(window->layout())->setMenuBar(bar);
}

void ZNTApplicationDelegate::showFavoritesWindow() {
    m_favorites->showWindow();
}

void ZNTApplicationDelegate::showHelp(const QString &topic) {
    auto &help = ZNTHelpWindowController::sharedController();
    giveQuitKey(&help);
    help.showHelpTopic(topic);
}

void ZNTApplicationDelegate::showPreferences() {
    auto &preferences = ZNTPreferenceWindowController::sharedController();
    giveQuitKey(&preferences);
    preferences.showWindow();
}

// Ctrl+Q quits from every window of the program, not only from those with a
// File menu. The shared windows outlive a delegate: the key goes with it.
void ZNTApplicationDelegate::giveQuitKey(QWidget *window) {
    const QString name = QStringLiteral("quitKey");
    for (QAction *action : window->actions()) {
        if (action->parent() == this && action->objectName() == name)
            return;
    }
    auto *quit = new QAction(QStringLiteral("Quit"), this);
    quit->setObjectName(name);
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit->setShortcutContext(Qt::WindowShortcut);
    connect(quit, &QAction::triggered, this, &ZNTApplicationDelegate::terminate);
    window->addAction(quit);
}

void ZNTApplicationDelegate::flashFirstResponder() {
    QWidget *window = QApplication::activeWindow();
    QWidget *responder = window ? window->focusWidget() : nullptr;
    Log(QStringLiteral("First Responder: %1")
            .arg(responder ? QStringLiteral("%1 %2").arg(QString::fromLatin1(responder->metaObject()->className()),
                                                         responder->objectName())
                           : QStringLiteral("(null)")));
    if (!responder)
        return;
    auto *flash = new FocusFlash(window, QRect(responder->mapTo(window, QPoint(0, 0)), responder->size()));
    QTimer::singleShot(500, flash, &QObject::deleteLater);
}

void ZNTApplicationDelegate::didRemoveServer() {
    if (ZNTServerController::sharedController()->servers().empty())
        showFavoritesWindow();
}

void ZNTApplicationDelegate::openArguments(const QStringList &arguments) {
    const OpenRequest request = CommandLine::classify(arguments);
    if (request.isEmpty()) {
        showFavoritesWindow();
        return;
    }
    if (!request.files.isEmpty() && !openFiles(request.files))
        Log(QStringLiteral("Not a favorite file: %1").arg(request.files.join(QStringLiteral(", "))));
    for (const QString &url : request.urls)
        getUrl(url);
    for (const QString &text : request.malformed)
        getUrl(text);
}

bool ZNTApplicationDelegate::openFiles(const QStringList &paths) {
    std::shared_ptr<ZNTFavoriteFileImporter> importer;
    for (const QString &path : paths) {
        if (QFileInfo(path).suffix().toLower() != ZNTFavoriteFile::FileExtension)
            continue;
        if (!importer) {
            showFavoritesWindow();
            importer = ZNTFavoriteFileImporter::make();
            importer->setDelegate(m_favorites);
            importer->setWindow(m_favorites->window());
        }
        importer->addFavoriteFile(path);
    }
    if (importer)
        importer->startImport();
    return importer != nullptr;
}

void ZNTApplicationDelegate::getUrl(const QString &text) {
    showFavoritesWindow();
    if (!FavoriteURL::hasConnectionScheme(text)) {
        Alert *alert = Alert::alertWithMessageText(QStringLiteral("Can't open URL"), QStringLiteral("OK"), {}, {},
                                                   QStringLiteral("The URL ‘%1’ is malformed.").arg(text));
        alert->setAlertStyle(Alert::Style::Critical);
        alert->compatibleBeginSheetModalForWindow(m_favorites->window(), nullptr);
        return;
    }
    ErrorPtr error;
    if (!m_favorites->openURL(text, &error))
        m_favorites->presentError(error);
}

Termination::Reply ZNTApplicationDelegate::applicationShouldTerminate() {
    std::vector<Termination::Window> windows;
    for (const auto &server : ZNTServerController::sharedController()->servers()) {
        for (const auto &controller : server->windowControllers()) {
            std::weak_ptr<ZNTWindowControllerHandle> weak = controller;
            windows.push_back({[weak] {
                                   auto c = weak.lock();
                                   return c && c->hasPendingChanges();
                               },
                               [weak](std::function<void(bool)> answer) {
                                   if (auto c = weak.lock())
                                       c->resignWithDelegate(std::move(answer));
                                   else
                                       answer(true);
                               },
                               [weak] {
                                   if (auto c = weak.lock())
                                       c->close();
                               }});
        }
    }
    return m_termination.applicationShouldTerminate(windows);
}

void ZNTApplicationDelegate::terminate() {
    if (applicationShouldTerminate() == Termination::Reply::TerminateNow)
        finishQuitting();
}

void ZNTApplicationDelegate::finishQuitting() {
    if (m_savingBeforeQuit)
        return;
    // Servers and their windows let go of each other without announcing it, so
    // nothing reopens the favorites window on the way out.
    ZNTServerController::sharedController()->discardAllServers();
    // The favorites save half a second after a change: what was typed just
    // before quitting would be lost. The keyring is waited for without
    // blocking, so that a locked one can still ask to be unlocked.
    m_savingBeforeQuit = true;
    m_favorites->prepareToQuit([self = QPointer<ZNTApplicationDelegate>(this)] {
        if (!self)
            return;
        self->m_savingBeforeQuit = false;
        emit self->readyToQuit();
    });
}
