#pragma once

#include "ZNTWindowCommand.h"

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <any>
#include <functional>
#include <optional>

class QAction;
class QDialog;
class QUndoStack;

// The answer to a request to give up pending edits.
class ZNTResignationDelegate {
public:
    virtual ~ZNTResignationDelegate() = default;
    // success: the edits are gone (saved or discarded); false when the user
    // cancelled or the page cannot give them up now. userInfo is what the
    // request carried, unchanged.
    virtual void didResign(bool success, const std::any &userInfo) = 0;
};

// The page a main window shows for one item of the object tree. The window
// makes one per item and keeps it while the item may be shown again, so going
// back finds the page as it was left.
//
// Everything a page may offer beyond its view is a capability interface below,
// which the window tests for (dynamic_cast) before each use: a page that does
// not implement one does not answer it, which is not the same as answering no.
// main thread
class ZNTContentController : public QObject {
    Q_OBJECT
public:
    explicit ZNTContentController(QObject *parent = nullptr) : QObject(parent) {}
    // The view is the page's own: it goes with the page.
    ~ZNTContentController() override;

    // Made on first request; the window places it in its content area, full width.
    QWidget *view();

signals:
    // The page's state changed in a way its commands follow (a selection, a
    // save starting or ending): the window enables and titles its commands
    // anew, the page's Edit menu commands and its shortcuts with them.
    void validationRequested();

protected:
    virtual QWidget *makeView() = 0;

private:
    QPointer<QWidget> m_view;
};

// A bar under the page, under a 1-pixel line.
class ZNTAccessoryViewProvider {
public:
    virtual ~ZNTAccessoryViewProvider() = default;
    virtual QWidget *accessoryView() = 0; // null: none now
};

// A view for the detail sidebar; without one the sidebar is unavailable.
class ZNTRightSidebarProvider {
public:
    virtual ~ZNTRightSidebarProvider() = default;
    virtual QWidget *rightSidebarView() = 0; // null: none now
};

// Places the keyboard focus in the page itself; otherwise the window focuses the view.
class ZNTFirstResponderPlacer {
public:
    virtual ~ZNTFirstResponderPlacer() = default;
    virtual bool makeFirstResponder() = 0; // true when the focus was placed
};

// Loads afresh what the page shows, after a reload of the window.
class ZNTReloadable {
public:
    virtual ~ZNTReloadable() = default;
    virtual void performReload() = 0;
};

// A page the window keeps across a reload, as it keeps the shown page and the
// pages with edits: what it shows cannot be loaded again (a transcript of the
// statements run in it).
class ZNTReloadKeeping {
public:
    virtual ~ZNTReloadKeeping() = default;
    virtual bool keepsPageOnReload() const = 0;
};

// What a page that goes had still to show the user: a notice its window tells
// in the page's place (in a sheet with one OK), and the sheets the page opened
// on its own view while it was not on screen, which the window takes on. A
// sheet handed over must not need the page once it is gone.
struct ZNTPageLeftovers {
    struct Notice {
        QString messageText;
        QString informativeText;
    };
    std::optional<Notice> notice;
    QList<QDialog *> sheets;
};

// Tells notice in a sheet on window; after, when given, runs once it has closed.
void presentPageNotice(const ZNTPageLeftovers::Notice &notice, QWidget *window, std::function<void()> after = {});

// A page that can hold edits not yet saved. Asked to resign, it settles them
// (as a rule in a sheet: save, discard or cancel) and then calls the delegate's
// didResign exactly once, now or later, with the userInfo it was given; the
// delegate outlives the answer. A page without this capability holds nothing.
class ZNTPendingChangesHolder {
public:
    virtual ~ZNTPendingChangesHolder() = default;
    virtual bool hasPendingChanges() const = 0;
    virtual void resignWithDelegate(ZNTResignationDelegate *delegate, std::any userInfo) = 0;
    // The edits of its own that are not saved, without what it only has left
    // to tell the user (pending changes may include such a notice).
    virtual bool hasUnsavedChanges() const { return hasPendingChanges(); }
    // The window lets the page go (a rename took its item, a reload): what the
    // page has still to show goes with the window. Nothing by default: the
    // page's sheets go with it.
    virtual ZNTPageLeftovers takeLeftovers() { return {}; }
};

// The page's own undo stack; null lets the window's stack serve.
class ZNTCustomUndoProvider {
public:
    virtual ~ZNTCustomUndoProvider() = default;
    virtual QUndoStack *customUndoManager() = 0;
};

// The window's Filter command.
class ZNTTableFilterToggling {
public:
    virtual ~ZNTTableFilterToggling() = default;
    virtual void toggleTableFilter() = 0;
};

// The window's command that switches between a relation's contents and structure.
class ZNTStructureToggling {
public:
    virtual ~ZNTStructureToggling() = default;
    virtual void toggleStructureAndContents(QObject *sender) = 0;
};

// The window's Export command. (The selector's first keyword is a C++ keyword.)
class ZNTExporting {
public:
    virtual ~ZNTExporting() = default;
    virtual void exportContents(QObject *sender) = 0;
};

// Decides whether a window menu command that reaches the page is enabled; item
// is the command's action (the page may retitle it).
class ZNTMenuValidator {
public:
    virtual ~ZNTMenuValidator() = default;
    virtual bool validateMenuItem(ZNTWindowCommand command, QAction *item) = 0;
};

// Commands of the page in the window's Edit menu (copying, adding and deleting
// rows): listed there, after Undo and Redo, while the page is shown, and
// enabled as validateEditMenuAction answers for each of them (and for each
// action of a submenu) whenever the window validates its commands. The page
// owns them, does what they do and tells them apart by the objects
// themselves; keys that should act only while the focus is in the page are the
// page's to scope (Qt::WidgetWithChildrenShortcut on an action also added to
// the page's view).
class ZNTEditMenuProvider {
public:
    virtual ~ZNTEditMenuProvider() = default;
    // In menu order, the same objects each time; a null entry is a separator.
    virtual QList<QAction *> editMenuActions() = 0;
    // Whether action is enabled now; the page may retitle it ("Delete Rows").
    virtual bool validateEditMenuAction(QAction *action) = 0;
};
