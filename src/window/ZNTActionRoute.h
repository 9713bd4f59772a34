// The main window of a connected server: its navigation path and histories, the
// pages it shows (content controllers) and how their pending edits are settled,
// the split layout with the navigation and detail sidebars, the navigation
// sidebar itself and the toolbar's status display.
#pragma once

#include <QString>
#include <any>
#include <memory>

class ZNTContentController;
class ZNTObject;

class QObject;
class QWidget;

// An action sent up the route in place of a responder chain: its name (the
// first keyword of the selector, "navigateToItem") and its argument.
struct ZNTAction {
    QString name;
    std::any argument;
};

// An object on the route that takes actions: a widget, or the controller of a
// ZNTControlledView. main thread
class ZNTResponder {
public:
    virtual ~ZNTResponder() = default;
    // True when the action was taken; false lets it travel on.
    virtual bool performAction(const ZNTAction &action) = 0;
};

// The actions the window and its sidebar send up the route.
namespace ZNTActionName {
inline const QString navigateToItem = QStringLiteral("navigateToItem");                 // std::shared_ptr<ZNTObject>
inline const QString replaceNavigationItems = QStringLiteral("replaceNavigationItems"); // ZNTObjectList {old, new}
inline const QString removeNavigationItem = QStringLiteral("removeNavigationItem");     // std::shared_ptr<ZNTObject>
inline const QString makeMainViewFirstResponder = QStringLiteral("makeMainViewFirstResponder"); // none
inline const QString askPendingChanges = QStringLiteral("askPendingChanges"); // ZNTPendingChangesQuestion *
} // namespace ZNTActionName

// Whether any main window of the program holds a page of item with changes
// not saved yet (ZNTWindowController::hasPendingChangesOfItem), other than the
// asking page; the window that takes askPendingChanges answers in pending.
struct ZNTPendingChangesQuestion {
    std::shared_ptr<ZNTObject> item;
    const ZNTContentController *asking = nullptr;
    bool pending = false;
};

// Offers the action to from, then (for a ZNTControlledView) its controller, then
// to each parent widget in turn up to and including the window; true as soon as
// one took it, false when none did. The caller decides whether to beep.
bool sendAction(QWidget *from, const QString &name, std::any argument = {});
