#pragma once

#include <QString>
#include <functional>
#include <memory>

class ZNTObject;

// One main window of a connected server, as the server object drives it. The
// window layer implements it; until the real main window exists, the favorites
// window installs a stand-in through ZNTServer::setWindowControllerFactory.
//
// When its window is about to close, the controller posts WillCloseNotification
// with itself (the shared controller) as object; the server object that opened
// it forgets it one turn of the main loop later. main thread.
class ZNTWindowControllerHandle {
public:
    static inline const QString WillCloseNotification = QStringLiteral("norvane.ZNTWindowWillCloseNotification");

    virtual ~ZNTWindowControllerHandle() = default;
    // Shows the window and brings it forward.
    virtual void showWindow() = 0;
    // Asks the window to close, as the user's close command does: a window with
    // pending changes may stay open until the user has answered.
    virtual void performClose() = 0;

    // For quitting: whether any page of the window holds unsaved changes; asking
    // each such page to save or discard them (as a rule in a sheet), with answer
    // run once with whether all of them did; and closing without asking.
    virtual bool hasPendingChanges() const { return false; }
    virtual void resignWithDelegate(std::function<void(bool)> answer) { answer(true); }
    virtual void close() { performClose(); }
};

// Makes a controller for a window showing item (the server itself, a database, or
// any item opened in a new window). Nothing is shown until showWindow().
using ZNTWindowControllerFactory =
    std::function<std::shared_ptr<ZNTWindowControllerHandle>(std::shared_ptr<ZNTObject>)>;
