// The connecting half of the favorites window: a favorite's server is asked to
// connect, its states show in the favorite's row, and what a failed attempt
// lacked is asked for in a sheet at the row before a new attempt.
#include "FavoriteConnectPrompts.h"
#include "ZNTFavorite.h"
#include "ZNTFavoriteURL.h"
#include "ZNTFavoritesStore.h"
#include "ZNTFavoritesTable.h"
#include "ZNTFavoritesWindowController.h"
#include "engine/SSHTunnel.h"
#include "engine/ZNTConnection.h"
#include "model/ZNTServer.h"
#include "model/ZNTServerController.h"
#include "platform/Log.h"
#include "platform/Main.h"
#include "platform/SystemInfo.h"
#include "uikit/AlertSheet.h"
#include "uikit/Beep.h"
#include "uikit/BlankTextField.h"
#include "uikit/WindowEditing.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

// Hands keyboard-interactive requests of a server to the favorites window.
class ZNTFavoritesWindowController::AuthDelegate : public ZNTServerAuthenticationDelegate {
public:
    explicit AuthDelegate(std::weak_ptr<ZNTFavoritesWindowController> controller)
        : m_controller(std::move(controller)) {}
    void handleKeyboardInteractiveAuthenticationRequest(const QVariantMap &request,
                                                        const std::shared_ptr<ZNTServer> &server,
                                                        std::shared_ptr<ConditionLock> lock,
                                                        std::shared_ptr<QStringList> responses) override {
        if (auto controller = m_controller.lock())
            controller->handleKeyboardInteractiveAuthenticationRequest(request, server, lock, responses);
        else
            lock->unlockWithCondition(1); // nobody to ask: no answers, as Cancel
    }

private:
    std::weak_ptr<ZNTFavoritesWindowController> m_controller;
};

namespace {

std::shared_ptr<ZNTFavorite> favoriteOf(const std::vector<std::shared_ptr<ZNTFavorite>> &favorites,
                                        const ZNTServer &server) {
    const std::shared_ptr<ZNTFavoriteHandle> handle = server.favorite();
    for (const auto &favorite : favorites)
        if (static_cast<ZNTFavoriteHandle *>(favorite.get()) == handle.get())
            return favorite;
    return nullptr;
}

QString listForLog(const std::vector<std::shared_ptr<ZNTFavorite>> &favorites) {
    QStringList names;
    for (const auto &favorite : favorites)
        names << favorite->displayName();
    return QLatin1Char('(') + names.join(QStringLiteral(", ")) + QLatin1Char(')');
}

constexpr qsizetype kLongestPrompt = 500;
constexpr int kPromptWidth = 400;

// A secure field and the check box that keeps what is typed in it.
QWidget *secretAccessory(const ConnectPrompt &prompt, QLineEdit **secret, QCheckBox **keep) {
    auto *accessory = new QWidget;
    auto *layout = new QVBoxLayout(accessory);
    layout->setContentsMargins(0, 0, 0, 0);
    *secret = new QLineEdit;
    (*secret)->setEchoMode(QLineEdit::Password);
    (*secret)->setMinimumWidth(250);
    (*secret)->setAccessibleName(prompt.kind == ConnectPrompt::Kind::Password ? QStringLiteral("Password")
                                                                              : QStringLiteral("Passphrase"));
    *keep = new QCheckBox(prompt.checkboxTitle);
    (*keep)->setChecked(prompt.checkboxOn);
    layout->addWidget(*secret);
    layout->addWidget(*keep);
    return accessory;
}

void logMissingFavorite(const ZNTServer &server, const std::vector<std::shared_ptr<ZNTFavorite>> &favorites) {
    Log(QStringLiteral("Missing favorite: %1, Favorites: %2").arg(server.name(), listForLog(favorites)));
}

} // namespace

void ZNTFavoritesWindowController::connectToFavorite(int row) {
    connectToFavorite(m_model->favoriteAtRow(row));
}

void ZNTFavoritesWindowController::connectToFavorite(const std::shared_ptr<ZNTFavorite> &favorite) {
    const int row = favorite ? rowOf(favorite.get()) : -1;
    if (row < 0)
        return;
    if (!editObject(nullptr))
        return;
    if (m_store->hasChanges())
        m_store->save(); // a failure shows with the next save; connecting goes on
    auto controller = ZNTServerController::sharedController();
    if (favorite->connectionStateConnected) {
        const auto windows = controller->serverForFavorite(favorite)->windowControllers();
        if (!windows.empty())
            windows.front()->showWindow();
        return;
    }
    if (favorite->connectionStateBusy)
        return; // already on its way
    favorite->connectionStateString = QStringLiteral("Working…");
    favorite->connectionStateBusy = true;
    favorite->connectionStateError = false;
    favorite->connectionErrorString.clear();
    favorite->keychainFailureString.clear();
    favorite->errorTextHeight = 0;
    m_model->noteFavoriteChanged(favorite.get());

    const std::shared_ptr<ZNTServer> server = controller->serverForFavorite(favorite);
    std::weak_ptr<ZNTFavoritesWindowController> weak = weak_from_this();
    std::weak_ptr<ZNTServer> weakServer = server;
    ServerObservation &observation = m_observedServers[server.get()];
    observation.status = NotificationCenter::defaultCenter().observe(ZNTServer::StatusChangedNotification, server.get(),
                                                                     [weak, weakServer](const Notification &n) {
                                                                         auto c = weak.lock();
                                                                         if (auto s = weakServer.lock(); c && s)
                                                                             c->serverStatusChanged(s, n);
                                                                     });
    observation.allWindowsClosed = NotificationCenter::defaultCenter().observe(
        ZNTServer::AllWindowsClosedNotification, server.get(), [weak, weakServer](const Notification &) {
            auto c = weak.lock();
            if (auto s = weakServer.lock(); c && s)
                c->allWindowsClosed(s);
        });
    if (!m_authDelegate)
        m_authDelegate = std::make_shared<AuthDelegate>(weak);
    server->setAuthDelegate(m_authDelegate);
    server->connect();
}

void ZNTFavoritesWindowController::serverStatusChanged(const std::shared_ptr<ZNTServer> &server,
                                                       const Notification &notification) {
    const std::shared_ptr<ZNTFavorite> favorite = favoriteOf(m_model->favorites(), *server);
    if (!favorite) {
        logMissingFavorite(*server, m_model->favorites());
        return;
    }
    const int state = int(notification.value<unsigned>(ZNTConnection::StateKey).value_or(0));
    const ErrorPtr error = notification.value<ErrorPtr>(ZNTConnection::ErrorObjectKey).value_or(nullptr);
    favorite->connectionStateString =
        notification.value<QString>(ZNTConnection::StateDescriptionKey).value_or(QString());
    favorite->connectionErrorString = error ? error->localizedDescription() : QString();
    favorite->errorTextHeight = 0;
    favorite->connectionStateBusy = state == ZNTConnection::ZNTConnectionStateConnecting;
    favorite->connectionStateError = state == ZNTConnection::ZNTConnectionStateFailed;
    if (state != ZNTConnection::ZNTConnectionStateFailed && state != ZNTConnection::ZNTConnectionStateConnected) {
        m_model->noteFavoriteChanged(favorite.get());
        return;
    }
    measureErrorText(*favorite);
    m_model->noteFavoriteChanged(favorite.get());
    m_observedServers[server.get()].status.stopObserving();
    if (state == ZNTConnection::ZNTConnectionStateConnected) {
        server->showMainWindow();
        favorite->connectionStateConnected = true;
        m_model->noteFavoriteChanged(favorite.get());
        m_window->close();
        return;
    }
    stopObservingServer(server.get());
    ZNTServerController::sharedController()->removeServer(server);
    promptAfterFailure(favorite, server, error);
}

void ZNTFavoritesWindowController::stopObservingServer(const ZNTServer *server) {
    m_observedServers.erase(server);
}

void ZNTFavoritesWindowController::allWindowsClosed(const std::shared_ptr<ZNTServer> &server) {
    stopObservingServer(server.get());
    ZNTServerController::sharedController()->removeServer(server);
    if (const std::shared_ptr<ZNTFavorite> favorite = favoriteOf(m_model->favorites(), *server)) {
        favorite->connectionStateConnected = false;
        m_model->noteFavoriteChanged(favorite.get());
    }
}

void ZNTFavoritesWindowController::promptAfterFailure(const std::shared_ptr<ZNTFavorite> &favorite,
                                                      const std::shared_ptr<ZNTServer> &server, const ErrorPtr &error) {
    ConnectFailure failure;
    const std::shared_ptr<ZNTConnection> connection = server->mainConnection();
    failure.needsPassword = connection->needsPassword();
    failure.needsPlainTextConnection = connection->needsPlainTextConnection();
    failure.error = error;
    failure.serverName = server->name();
    failure.sshEnabled = favorite->isSshEnabled();
    failure.sshHost = favorite->sshHost();
    failure.sshPort = favorite->sshPort().value_or(0);
    failure.savePassword = favorite->savePassword();
    const ConnectPrompt prompt = FavoriteConnectPrompts::promptFor(failure);
    if (prompt.kind != ConnectPrompt::Kind::None)
        showPrompt(favorite, prompt, error);
}

void ZNTFavoritesWindowController::showPrompt(const std::shared_ptr<ZNTFavorite> &favorite, const ConnectPrompt &prompt,
                                              const ErrorPtr &error) {
    using Kind = ConnectPrompt::Kind;
    auto *alert = new Alert;
    alert->setMessageText(prompt.message);
    alert->setInformativeText(prompt.informative);
    alert->setAlertStyle(prompt.critical ? Alert::Style::Critical : Alert::Style::Warning);
    QPushButton *accept = alert->addButtonWithTitle(prompt.acceptTitle);
    QPushButton *cancel = alert->addButtonWithTitle(prompt.cancelTitle);
    alert->setCancelButton(cancel);
    // Where no secret is typed, Return must never accept a weaker connection.
    alert->setDefaultButton(prompt.returnAccepts ? accept : cancel);
    QLineEdit *secret = nullptr;
    QCheckBox *keep = nullptr;
    if (prompt.asksSecret)
        alert->setAccessoryView(secretAccessory(prompt, &secret, &keep));
    const int acceptCode = alert->returnCode(accept);
    std::weak_ptr<ZNTFavoritesWindowController> weak = weak_from_this();
    alert->compatibleBeginSheetModalForWindow(
        m_window, [weak, favorite, prompt, error, secret, keep, acceptCode](int code) {
            auto c = weak.lock();
            if (!c || code != acceptCode)
                return;
            switch (prompt.kind) {
            case Kind::Password:
                favorite->setPassword(secret->text());
                favorite->setSavePassword(keep->isChecked());
                break;
            case Kind::PlainText:
                favorite->allowPlainTextConnection = true;
                break;
            case Kind::TrustHostKey:
            case Kind::ChangedHostKey:
                SSHTunnel::addKey(error->userInfo().value(SSHTunnel::HostKeyDictionaryKey).toByteArray(),
                                  favorite->sshHost(), unsigned(favorite->sshPort().value_or(0)));
                break;
            case Kind::Passphrase:
                favorite->sshPrivateKeyPassphrase = secret->text();
                favorite->sshPrivateKeyPassphraseSaveInKeychain = keep->isChecked();
                break;
            case Kind::None:
            case Kind::NewServer: // asked by confirmNewServer, never by this sheet
                return;
            }
            c->connectToFavorite(favorite);
        });
    if (secret)
        secret->setFocus();
    openSheetForRow(alert, rowOf(favorite.get()));
}

// Sheets about a favorite hang from its row, where the user looks.
void ZNTFavoritesWindowController::openSheetForRow(QWidget *sheet, int row) {
    m_openSheet = sheet;
    if (row < 0)
        return;
    sheet->adjustSize();
    const QRect rowRect = m_table->visualRect(m_model->index(row));
    const QRect inWindow(m_table->viewport()->mapTo(m_window, rowRect.topLeft()), rowRect.size());
    if (auto origin = FavoriteConnectPrompts::sheetOrigin(inWindow, m_window->rect(), sheet->size()))
        sheet->move(m_window->mapToGlobal(*origin));
}

void ZNTFavoritesWindowController::handleKeyboardInteractiveAuthenticationRequest(
    const QVariantMap &request, const std::shared_ptr<ZNTServer> &server, std::shared_ptr<ConditionLock> lock,
    std::shared_ptr<QStringList> responses) {
    const std::shared_ptr<ZNTFavorite> favorite = favoriteOf(m_model->favorites(), *server);
    if (!favorite) {
        logMissingFavorite(*server, m_model->favorites());
        // Nobody can answer for a favorite that is gone: release the waiting
        // connection with no answers, as Cancel does, instead of holding it.
        lock->unlockWithCondition(1);
        return;
    }
    auto *alert = Alert::alertWithMessageText(
        QStringLiteral("Keyboard Interactive Authentication"), QStringLiteral("Connect"), QStringLiteral("Cancel"), {},
        QStringLiteral("The SSH server requested further information to authenticate the connection."));
    auto *accessory = new QWidget;
    auto *form = new QFormLayout(accessory);
    form->setContentsMargins(0, 0, 0, 0);
    form->setRowWrapPolicy(QFormLayout::WrapAllRows);
    QList<QLineEdit *> fields;
    for (const QVariant &prompt : request.value(QStringLiteral("prompts")).toList()) {
        const QVariantMap p = prompt.toMap();
        auto *field = new QLineEdit;
        field->setMinimumWidth(250);
        field->setEchoMode(p.value(QStringLiteral("echo")).toBool() ? QLineEdit::Normal : QLineEdit::Password);
        // The SSH server's words, shown as they are (never read as markup) and
        // no longer than a prompt needs to be.
        const QString text = p.value(QStringLiteral("text")).toString();
        auto *label =
            new BlankTextField(text.size() > kLongestPrompt ? text.left(kLongestPrompt) + QChar(0x2026) : text);
        label->setMaximumWidth(kPromptWidth); // an unbroken run of letters would widen the sheet past the screen
        label->setBuddy(field);
        form->addRow(label, field);
        fields << field;
    }
    alert->setAccessoryView(accessory);
    alert->compatibleBeginSheetModalForWindow(m_window, [fields, lock, responses](int code) {
        if (code == Alert::DefaultReturn)
            for (QLineEdit *field : fields)
                responses->append(field->text());
        lock->unlockWithCondition(1);
    });
    if (!fields.isEmpty())
        fields.front()->setFocus();
    openSheetForRow(alert, rowOf(favorite.get()));
}

void ZNTFavoritesWindowController::disconnectFromFavorite(int row) {
    const std::shared_ptr<ZNTFavorite> favorite = m_model->favoriteAtRow(row);
    if (!favorite || !favorite->connectionStateConnected)
        return;
    ZNTServerController::sharedController()->serverForFavorite(favorite)->tryCloseAllWindows();
}

void ZNTFavoritesWindowController::cancelConnection(int row) {
    const std::shared_ptr<ZNTFavorite> favorite = m_model->favoriteAtRow(row);
    if (!favorite || !favorite->connectionStateBusy)
        return;
    ZNTServerController::sharedController()->serverForFavorite(favorite)->mainConnection()->cancel();
}

void ZNTFavoritesWindowController::clearError(int row) {
    const std::shared_ptr<ZNTFavorite> favorite = m_model->favoriteAtRow(row);
    if (!favorite)
        return;
    favorite->connectionErrorString.clear();
    favorite->keychainFailureString.clear();
    favorite->errorTextHeight = 0;
    favorite->connectionStateError = false;
    m_model->noteFavoriteChanged(favorite.get());
}

bool ZNTFavoritesWindowController::openURL(const QString &text, ErrorPtr *error) {
    // A URL libpq reads otherwise than a favorite could hold would connect
    // somewhere else: refused before it is compared or added.
    const std::optional<QVariantMap> params = FavoriteURL::read(text, error);
    if (!params)
        return false;
    for (const auto &favorite : m_model->favorites()) {
        if (favorite->isSimilarToParams(*params)) {
            connectToFavorite(favorite);
            return true;
        }
    }
    if (FavoriteURL::reachesBeyondThisComputer(*params)) {
        confirmNewServer(*params);
        return true;
    }
    return addFavoriteForURL(*params, error);
}

// Connecting offers the client certificate to whoever answers: a link must
// not do that to a server the user never chose.
void ZNTFavoritesWindowController::confirmNewServer(const QVariantMap &params) {
    const ConnectPrompt prompt = FavoriteConnectPrompts::newServerPrompt(params, SystemInfo::loginName());
    auto *alert = new Alert;
    alert->setMessageText(prompt.message);
    alert->setInformativeText(prompt.informative);
    QPushButton *accept = alert->addButtonWithTitle(prompt.acceptTitle);
    QPushButton *cancel = alert->addButtonWithTitle(prompt.cancelTitle);
    alert->setCancelButton(cancel);
    alert->setDefaultButton(cancel);
    const int acceptCode = alert->returnCode(accept);
    std::weak_ptr<ZNTFavoritesWindowController> weak = weak_from_this();
    alert->compatibleBeginSheetModalForWindow(m_window, [weak, params, acceptCode](int code) {
        auto c = weak.lock();
        if (!c || code != acceptCode)
            return;
        ErrorPtr error;
        if (!c->addFavoriteForURL(params, &error))
            c->presentError(error);
    });
    m_openSheet = alert;
}

bool ZNTFavoritesWindowController::addFavoriteForURL(const QVariantMap &params, ErrorPtr *error) {
    if (m_store->hasChanges() && !m_store->save(error))
        return false;
    if (!m_store->isOpen()) {
        *error = m_store->lastSaveError();
        return false;
    }
    const std::shared_ptr<ZNTFavorite> favorite = m_store->insertFavorite();
    favorite->takeParamsFromDictionary(params);
    reloadFavorites();
    m_table->selectRow(rowOf(favorite.get()));
    connectToFavorite(favorite);
    return true;
}
