#include "ZNTFavoritesWindowController.h"

#include "FavoritePadDelegate.h"
#include "FavoriteSettingsForm.h"
#include "UpdateStatus.h"
#include "ZNTFavorite.h"
#include "ZNTFavoriteURL.h"
#include "ZNTFavoritesStore.h"
#include "ZNTFavoritesTable.h"
#include "model/ZNTServerController.h"
#include "platform/Log.h"
#include "platform/Main.h"
#include "platform/ProgramError.h"
#include "platform/SystemInfo.h"
#include "platform/UserDefaults.h"
#include "uikit/AlertSheet.h"
#include "uikit/Beep.h"
#include "uikit/SheetFocus.h"
#include "uikit/WindowEditing.h"

#include <QAction>
#include <QClipboard>
#include <QCloseEvent>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QVBoxLayout>

// The window itself: tells its controller when it becomes active and when the
// user closes it.
class ZNTFavoritesWindowController::Window : public QWidget {
public:
    explicit Window(ZNTFavoritesWindowController *controller) : m_controller(controller) {}

protected:
    void changeEvent(QEvent *event) override {
        QWidget::changeEvent(event);
        if (event->type() == QEvent::ActivationChange && isActiveWindow())
            m_controller->windowDidBecomeKey();
    }
    void closeEvent(QCloseEvent *event) override {
        event->accept();
        // Closing the favorites window is quitting when nothing else is open.
        if (ZNTServerController::sharedController()->servers().empty())
            Main::post([c = QPointer<ZNTFavoritesWindowController>(m_controller)] {
                if (c)
                    emit c->lastWindowClosedByUser();
            });
    }

private:
    ZNTFavoritesWindowController *m_controller;
};

ZNTFavoritesWindowController::ZNTFavoritesWindowController() = default;

ZNTFavoritesWindowController::~ZNTFavoritesWindowController() {
    if (m_window)
        delete m_window.data();
}

std::shared_ptr<ZNTFavoritesWindowController>
ZNTFavoritesWindowController::create(std::shared_ptr<ZNTFavoritesStore> store) {
    requireMainThread("ZNTFavoritesWindowController::create");
    std::shared_ptr<ZNTFavoritesWindowController> controller(new ZNTFavoritesWindowController);
    controller->m_store = store ? std::move(store) : ZNTFavoritesStore::create();
    controller->buildUi();
    controller->connectActions();
    controller->setupDatasource();
    return controller;
}

void ZNTFavoritesWindowController::buildUi() {
    auto *window = new Window(this);
    m_window = window;
    window->setWindowTitle(QStringLiteral("Trellan"));
    window->setObjectName(QStringLiteral("FavoritesWindow"));
    window->resize(460, 560);
    window->setMinimumSize(360, 300);

    m_model = new FavoritesListModel(this);
    m_table = new ZNTFavoritesTable;
    m_table->setListModel(m_model);
    m_table->padDelegate()->setFormFactory(
        [this](ZNTFavorite *favorite, QWidget *parent) { return makeSettingsForm(favorite, parent); });

    auto *newButton = new QPushButton(QStringLiteral("&New Favorite"));
    newButton->setToolTip(QStringLiteral("New favorite (Ctrl+N); a connection URL on the clipboard fills it in"));
    connect(newButton, &QPushButton::clicked, this, [this] { newFavorite(); });
    // No Alt key of its own: every letter of "Connect" belongs to a field of the
    // settings form or to "New Favorite"; Return connects the selected favorite.
    auto *connectButton = new QPushButton(QStringLiteral("Connect"));
    connectButton->setToolTip(QStringLiteral("Connect to the selected favorite (Return)"));
    connectButton->setObjectName(QStringLiteral("connectButton"));
    connect(connectButton, &QPushButton::clicked, this, [this] { connectToFavorite(m_table->currentRow()); });
    auto *status = new ZNTUpdateStatusView(UserDefaults::standard());

    auto *bar = new QHBoxLayout;
    bar->setContentsMargins(10, 6, 10, 8);
    // The window's layout has no spacing, which a nested layout would inherit.
    bar->setSpacing(6);
    bar->addWidget(newButton);
    bar->addWidget(connectButton);
    bar->addStretch();
    bar->addWidget(status);

    auto *layout = new QVBoxLayout(window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_table, 1);
    layout->addLayout(bar);
    window->setBackgroundRole(QPalette::Base);
    window->setAutoFillBackground(true);
    m_table->setFocus();
}

QAction *ZNTFavoritesWindowController::addAction(WindowCommand command, const QString &title, const QKeySequence &key,
                                                 std::function<void()> slot) {
    auto *action = new QAction(title, m_window);
    if (!key.isEmpty())
        action->setShortcut(key);
    connect(action, &QAction::triggered, this, std::move(slot));
    m_window->addAction(action);
    m_actions[command] = action;
    return action;
}

QAction *ZNTFavoritesWindowController::windowAction(WindowCommand command) const {
    return m_actions.at(command);
}

void ZNTFavoritesWindowController::connectActions() {
    connect(m_table, &ZNTFavoritesTable::connectRequested, this, [this](int row) { connectToFavorite(row); });
    // As the menu's Edit: a favorite that is connecting or connected keeps its
    // row, and its state.
    connect(m_table, &ZNTFavoritesTable::editRequested, this, [this](int row) {
        if (validate(FavoritesListModel::Command::BeginEditing, row))
            beginEditingFavorite(row);
        else
            beep();
    });
    connect(m_table, &ZNTFavoritesTable::deleteRequested, this, [this](int row) {
        if (validate(FavoritesListModel::Command::Delete, row))
            deleteFavorite(row);
        else
            beep();
    });
    connect(m_table, &ZNTFavoritesTable::contextMenuRequestedForRow, this, &ZNTFavoritesWindowController::showRowMenu);
    connect(m_table, &ZNTFavoritesTable::widthChanged, this, &ZNTFavoritesWindowController::remeasureErrorRows);
    // A refused password is told in its favorite's row, where it was asked for.
    m_passwordNotSavedObserver = NotificationCenter::defaultCenter().observe(
        ZNTFavorite::PasswordNotSavedNotification, nullptr, [this](const Notification &n) {
            if (const auto favorite = n.objectAs<ZNTFavorite>(); favorite && rowOf(favorite.get()) >= 0)
                measureErrorText(*favorite);
        });
    using C = WindowCommand;
    addAction(C::NewFavorite, QStringLiteral("&New Favorite"), QKeySequence::New, [this] { newFavorite(); });
    addAction(C::Duplicate, QStringLiteral("&Duplicate"), QKeySequence(Qt::CTRL | Qt::Key_D),
              [this] { duplicateFavorite(m_table->currentRow()); });
    QAction *copy = addAction(C::CopyURL, QStringLiteral("Copy &URL"), QKeySequence::Copy,
                              [this] { copyFavoriteURL(m_table->currentRow()); });
    copy->setShortcutContext(Qt::WidgetShortcut);
    m_table->addAction(copy);
    addAction(C::ExportFavorite, QStringLiteral("&Export Favorite…"), QKeySequence(Qt::CTRL | Qt::Key_E),
              [this] { exportFavorite(m_table->currentRow()); });
    addAction(C::ExportAllFavorites, QStringLiteral("Export &All Favorites…"),
              QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E), [this] { exportAllFavorites(); });
    // Ctrl+W as in the main windows: the platform's Close is Ctrl+F4 alone under some desktops' key schemes.
    addAction(C::CloseWindow, QStringLiteral("&Close Window"), QKeySequence(Qt::CTRL | Qt::Key_W),
              [this] { m_window->close(); });
    setUpDragging();
}

// MARK: the store

void ZNTFavoritesWindowController::setupDatasource() {
    m_store->setScheduledSaveHandler([self = weak_from_this()](const ErrorPtr &error) {
        if (auto c = self.lock())
            c->scheduledSaveDidEnd(error);
    });
    ErrorPtr error;
    if (!m_store->isOpen() && !m_store->open(&error)) {
        Log(QStringLiteral("Failed to create persistent store because: %1").arg(error->localizedDescription()));
        // The sheet needs the window on screen.
        Main::post([self = weak_from_this(), error] {
            if (auto c = self.lock())
                c->presentError(error);
        });
    }
    reloadFavorites();
    if (m_store->isOpen() && m_model->favorites().empty())
        Main::post([self = weak_from_this()] {
            if (auto c = self.lock(); c && c->m_model->favorites().empty())
                c->newFavorite();
        });
}

void ZNTFavoritesWindowController::reloadFavorites() {
    if (m_store->reloadData())
        Main::after(100, [self = weak_from_this()] {
            if (auto c = self.lock())
                c->m_model->setFavorites(c->m_store->favorites());
        });
    m_model->setFavorites(m_store->favorites());
}

// Saves run every half second while the user types: a store that keeps failing
// (a full disk, a file made read-only) says so once, not at every key.
void ZNTFavoritesWindowController::scheduledSaveDidEnd(const ErrorPtr &error) {
    if (!error) {
        m_shownSaveError.clear();
        return;
    }
    const QString key =
        QStringLiteral("%1 %2 %3").arg(error->domain()).arg(error->code()).arg(error->localizedDescription());
    if (key == m_shownSaveError)
        return;
    m_shownSaveError = key;
    presentError(error);
}

void ZNTFavoritesWindowController::prepareToQuit(std::function<void()> done) {
    uv_endEditing(m_window);
    m_store->saveAndSettle([self = weak_from_this(), done = std::move(done)](ErrorPtr error) {
        auto c = self.lock();
        if (!error || !c || !c->m_window) {
            done();
            return;
        }
        c->showWindow();
        Alert *alert = Alert::alertWithError(*error);
        alert->compatibleBeginSheetModalForWindow(c->m_window, [done](int) { done(); });
    });
}

void ZNTFavoritesWindowController::presentError(const ErrorPtr &error) {
    if (!error)
        return;
    Alert *alert = Alert::alertWithError(*error);
    const QStringList options = error->userInfo().value(ZNTFavoritesStore::RecoveryOptionsKey).toStringList();
    const bool recoverable = error->code() == ZNTFavoritesStore::CouldNotReadError && options.size() == 2;
    if (recoverable) {
        alert = Alert::alertWithMessageText(error->localizedDescription(), options[0], options[1], {},
                                            error->localizedRecoverySuggestion());
        alert->setAlertStyle(Alert::Style::Critical);
    }
    alert->compatibleBeginSheetModalForWindow(m_window, [self = weak_from_this(), error, recoverable](int code) {
        auto c = self.lock();
        if (!c || !recoverable || code != Alert::DefaultReturn)
            return;
        ErrorPtr openError;
        c->m_store->attemptRecoveryFromError(error, 0, &openError);
        c->reloadFavorites();
        if (openError)
            c->presentError(openError);
    });
}

// MARK: window

void ZNTFavoritesWindowController::showWindow() {
    m_window->show();
    m_window->raise();
    m_window->activateWindow();
}

void ZNTFavoritesWindowController::windowDidBecomeKey() {
    m_table->noteHeightOfRowsChanged();
}

void ZNTFavoritesWindowController::measureErrorText(ZNTFavorite &favorite) {
    const double height =
        FavoritePadDelegate::errorTextHeight(favorite.rowErrorText(), m_table->font(), m_table->viewport()->width());
    if (height != favorite.errorTextHeight) {
        favorite.errorTextHeight = height;
        m_model->noteFavoriteChanged(&favorite);
    }
}

// A narrower or wider list wraps error texts anew, so their rows change height.
void ZNTFavoritesWindowController::remeasureErrorRows() {
    for (const auto &favorite : m_model->favorites())
        if (favorite->rowShowsError())
            measureErrorText(*favorite);
}

QWidget *ZNTFavoritesWindowController::makeSettingsForm(ZNTFavorite *favorite, QWidget *parent) {
    std::weak_ptr<ZNTFavoritesWindowController> weak = weak_from_this();
    auto rowOfForm = [weak, favorite] {
        auto c = weak.lock();
        return c ? c->rowOf(favorite) : -1;
    };
    FavoriteSettingsForm::Actions actions;
    actions.done = [weak] {
        if (auto c = weak.lock())
            c->endEditingFavorite();
    };
    actions.connect = [weak, rowOfForm] {
        if (auto c = weak.lock())
            c->connectToFavorite(rowOfForm());
    };
    actions.sshEnabledChanged = [weak] {
        Main::post([weak] {
            if (auto c = weak.lock()) {
                c->m_table->noteHeightOfRowsChanged();
                if (auto edited = c->m_model->editedFavorite())
                    c->m_table->scrollRowToVisible(c->rowOf(edited.get()));
            }
        });
    };
    actions.chooseKey = [weak, rowOfForm] {
        if (auto c = weak.lock())
            c->chooseSshPrivateKey(rowOfForm());
    };
    actions.removeKey = [weak, rowOfForm] {
        if (auto c = weak.lock())
            c->removeSshPrivateKey(rowOfForm());
    };
    return new FavoriteSettingsForm(favorite, std::move(actions), parent);
}

// MARK: editing

bool ZNTFavoritesWindowController::editObject(const std::shared_ptr<ZNTFavorite> &favorite) {
    if (!uv_endEditing(m_window)) {
        beep();
        return false;
    }
    const std::shared_ptr<ZNTFavorite> previous = m_model->editedFavorite();
    if (previous == favorite)
        return true;
    if (previous && rowOf(previous.get()) > 0)
        m_table->closePersistentEditor(m_model->index(rowOf(previous.get())));
    m_model->setEditedFavorite(favorite);
    m_table->noteHeightOfRowsChanged();
    if (!favorite) {
        m_table->setFocus();
        return true;
    }
    const int row = rowOf(favorite.get());
    // Passwords in the secret store show in the form once read.
    favorite->loadPasswords([](ErrorPtr) {});
    const QModelIndex index = m_model->index(row);
    m_table->selectRow(row);
    m_table->openPersistentEditor(index);
    fitWindowToSettingsForm(m_table->indexWidget(index));
    Main::post([self = weak_from_this(), favorite] {
        auto c = self.lock();
        if (!c || c->m_model->editedFavorite() != favorite)
            return;
        const int row = c->rowOf(favorite.get());
        c->m_table->scrollRowToVisible(row);
        if (QWidget *form = c->m_table->indexWidget(c->m_model->index(row)))
            form->setFocus();
    });
    return true;
}

// The settings need their width, with room for the list's scroll bar: a
// narrower window would cut their labels and buttons. The window keeps that
// width as its least from then on.
void ZNTFavoritesWindowController::fitWindowToSettingsForm(QWidget *form) {
    if (!form)
        return;
    int chrome = m_window->width() - form->width();
    if (!m_table->verticalScrollBar()->isVisible())
        chrome += m_table->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, m_table);
    const int needed = form->minimumSizeHint().width() + chrome;
    if (needed > m_window->minimumWidth())
        m_window->setMinimumWidth(needed);
}

void ZNTFavoritesWindowController::beginEditingFavorite(int row) {
    const std::shared_ptr<ZNTFavorite> favorite = m_model->favoriteAtRow(row);
    if (!favorite)
        return;
    favorite->connectionStateError = false;
    favorite->connectionErrorString.clear();
    favorite->keychainFailureString.clear();
    favorite->errorTextHeight = 0;
    favorite->connectionStateBusy = false;
    m_model->noteFavoriteChanged(favorite.get());
    editObject(favorite);
}

void ZNTFavoritesWindowController::endEditingFavorite() {
    editObject(nullptr);
}

// MARK: list commands

void ZNTFavoritesWindowController::newFavorite() {
    if (!editObject(nullptr) || m_model->editedFavorite()) {
        beep();
        return;
    }
    ErrorPtr error;
    if (m_store->isOpen() && m_store->hasChanges() && !m_store->save(&error)) {
        presentError(error);
        return;
    }
    if (!m_store->isOpen()) {
        beep();
        return;
    }
    const std::shared_ptr<ZNTFavorite> favorite = m_store->insertFavorite();
    const QString text = QGuiApplication::clipboard()->text().trimmed().section(QLatin1Char('\n'), 0, 0);
    // Only a connection URL that a favorite can hold as libpq reads it fills the new favorite.
    if (const std::optional<QVariantMap> params = FavoriteURL::read(text))
        favorite->takeParamsFromDictionary(*params);
    reloadFavorites();
    editObject(favorite);
}

void ZNTFavoritesWindowController::deleteFavorite(int row) {
    const std::shared_ptr<ZNTFavorite> favorite = m_model->favoriteAtRow(row);
    if (!favorite)
        return;
    if (favorite == m_model->editedFavorite() && !editObject(nullptr))
        return;
    m_store->deleteFavorite(favorite);
    reloadFavorites();
    m_table->selectRow(std::min(row, int(m_model->favorites().size())));
}

void ZNTFavoritesWindowController::duplicateFavorite(int row) {
    const std::shared_ptr<ZNTFavorite> source = m_model->favoriteAtRow(row);
    if (!source) {
        beep();
        return;
    }
    source->duplicateFavorite([self = weak_from_this(), source](std::shared_ptr<ZNTFavorite> copy, ErrorPtr error) {
        auto c = self.lock();
        if (!c)
            return;
        if (!copy) {
            c->presentError(error);
            return;
        }
        // The copy goes right after its source; the favorites after it move down.
        const qint32 order = source->order();
        for (const auto &favorite : c->m_model->favorites())
            if (favorite != copy && favorite->order() > order)
                favorite->setOrder(favorite->order() + 1);
        copy->setOrder(order + 1);
        c->reloadFavorites();
        c->editObject(copy);
    });
}

void ZNTFavoritesWindowController::copyFavoriteURL(int row) {
    const std::shared_ptr<ZNTFavorite> favorite = m_model->favoriteAtRow(row);
    if (!favorite) {
        beep();
        return;
    }
    favorite->loadPasswords([self = weak_from_this(), favorite](ErrorPtr error) {
        auto c = self.lock();
        if (!c)
            return;
        if (error) {
            c->presentError(error);
            return;
        }
        const QString url = favorite->URL();
        if (url.isEmpty()) {
            beep();
            return;
        }
        QGuiApplication::clipboard()->setText(url);
    });
}

void ZNTFavoritesWindowController::chooseSshPrivateKey(int row) {
    const std::shared_ptr<ZNTFavorite> favorite = m_model->favoriteAtRow(row);
    if (!favorite) {
        beep();
        return;
    }
    auto *dialog =
        new QFileDialog(m_window, QStringLiteral("Choose the private key you would like to use for connecting:"),
                        QDir::homePath() + QStringLiteral("/.ssh"));
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setFilter(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(dialog, &QFileDialog::fileSelected, this,
            [favorite](const QString &path) { favorite->setSshPrivateKeyBookmark(path.toUtf8()); });
    uv_returnFocusAfterSheet(dialog);
    dialog->open();
}

void ZNTFavoritesWindowController::removeSshPrivateKey(int row) {
    const std::shared_ptr<ZNTFavorite> favorite = m_model->favoriteAtRow(row);
    if (!favorite) {
        beep();
        return;
    }
    favorite->setSshPrivateKeyBookmark(QByteArray());
}

void ZNTFavoritesWindowController::populateRowMenu(QMenu *menu, int row) {
    using Command = FavoritesListModel::Command;
    auto add = [&](const QString &title, Command command, std::function<void()> slot) {
        QAction *action = menu->addAction(title, this, std::move(slot));
        action->setEnabled(validate(command, row));
    };
    if (row > 0) {
        add(QStringLiteral("&Connect"), Command::Connect, [this, row] { connectToFavorite(row); });
        add(QStringLiteral("&Disconnect"), Command::Disconnect, [this, row] { disconnectFromFavorite(row); });
        add(QStringLiteral("Cancel Co&nnection"), Command::CancelConnection, [this, row] { cancelConnection(row); });
        add(QStringLiteral("Clear &Error"), Command::ClearError, [this, row] { clearError(row); });
        menu->addSeparator();
        add(QStringLiteral("&Edit"), Command::BeginEditing, [this, row] { beginEditingFavorite(row); });
        add(QStringLiteral("D&uplicate"), Command::Duplicate, [this, row] { duplicateFavorite(row); });
        add(QStringLiteral("Copy &URL"), Command::CopyURL, [this, row] { copyFavoriteURL(row); });
        add(QStringLiteral("E&xport…"), Command::Export, [this, row] { exportFavorite(row); });
        menu->addSeparator();
        add(QStringLiteral("&Delete"), Command::Delete, [this, row] { deleteFavorite(row); });
        menu->addSeparator();
    }
    add(QStringLiteral("&New Favorite"), Command::Other, [this] { newFavorite(); });
    add(QStringLiteral("Export &All Favorites…"), Command::ExportAll, [this] { exportAllFavorites(); });
}

void ZNTFavoritesWindowController::showRowMenu(int row, const QPoint &globalPos) {
    auto *menu = new QMenu(m_window);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    populateRowMenu(menu, row);
    menu->popup(globalPos);
}
