// The pages of a main window: making and caching them, settling their pending
// edits before a close, a reload or a quit, reloading, focus and undo.
#include "ZNTContentControllerFactory.h"
#include "ZNTResignationChain.h"
#include "ZNTSidebarController.h"
#include "ZNTWindowController.h"
#include "model/ZNTServer.h"
#include "model/ZNTTable.h"
#include "model/ZNTTableSchema.h"
#include "platform/Main.h"
#include "platform/ProgramError.h"
#include "uikit/Beep.h"
#include "uikit/SheetFocus.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QLineEdit>
#include <QScopedValueRollback>
#include <QUndoStack>
#include <algorithm>

namespace {
template <class T> T *capability(ZNTContentController *controller) {
    return dynamic_cast<T *>(controller);
}

// The widget that should take the focus in a page without a way of its own.
QWidget *focusTarget(QWidget *view) {
    if (view->focusPolicy() & Qt::TabFocus)
        return view;
    for (QWidget *child : view->findChildren<QWidget *>()) {
        if ((child->focusPolicy() & Qt::TabFocus) && child->isVisibleTo(view) && child->isEnabled())
            return child;
    }
    return view;
}

// What keeps a page from going with its item, and a window on a relation's
// old name after a rename: edits of its own not saved yet. A notice it has
// only to tell binds nothing to the name; its window tells it if it goes.
bool holdsUnsavedChanges(ZNTContentController *controller) {
    auto *holder = capability<ZNTPendingChangesHolder>(controller);
    return holder && holder->hasUnsavedChanges();
}

// The relation a rows or a structure page shows; nullptr for any other item.
const ZNTTable *relationOf(const ZNTObject &item) {
    if (const auto *structure = dynamic_cast<const ZNTTableSchema *>(&item))
        return structure->table().get();
    return dynamic_cast<const ZNTTable *>(&item);
}
} // namespace

ZNTContentController *ZNTWindowController::cachedViewController(const ZNTObject &item) const {
    for (const auto &[key, controller] : m_viewControllers) {
        if (key.object().get() == &item || key.object()->isEqual(item))
            return controller;
    }
    return nullptr;
}

ZNTContentController *ZNTWindowController::viewControllerForItem(const std::shared_ptr<ZNTObject> &item) {
    requireMainThread("ZNTWindowController::viewControllerForItem");
    if (!item)
        return nullptr;
    if (ZNTContentController *cached = cachedViewController(*item))
        return cached;
    ZNTContentController *controller = ZNTContentControllers::controllerForItem(item);
    if (!controller)
        return nullptr;
    controller->setParent(this);
    m_viewControllers.emplace_back(ZNTObjectKey(item), controller);
    return controller;
}

// A page that leaves the cache may be the one whose handler is running (the
// structure editor replaces its own item): it is deleted after this event.
void ZNTWindowController::dropViewController(const ZNTObject &item) {
    for (auto it = m_viewControllers.begin(); it != m_viewControllers.end(); ++it) {
        if (it->first.object().get() != &item && !it->first.object()->isEqual(item))
            continue;
        if (ZNTContentController *controller = it->second)
            letPageGo(controller);
        m_viewControllers.erase(it);
        return;
    }
}

// What the page had still to show stays with the window: its sheets stand on
// the window, and its notice is told after them.
void ZNTWindowController::letPageGo(ZNTContentController *controller) {
    if (auto *holder = capability<ZNTPendingChangesHolder>(controller)) {
        ZNTPageLeftovers leftovers = holder->takeLeftovers();
        for (QDialog *sheet : std::as_const(leftovers.sheets))
            uv_moveSheet(sheet, this);
        if (leftovers.notice) {
            m_notices << *leftovers.notice;
            QMetaObject::invokeMethod(this, &ZNTWindowController::tellNotice, Qt::QueuedConnection);
        }
    }
    controller->deleteLater();
}

// Once, after the sheet open on the window; the next notice after this one.
void ZNTWindowController::tellNotice() {
    if (m_notices.isEmpty() || !isOpen())
        return;
    if (QDialog *sheet = uv_openSheet(this)) {
        connect(sheet, &QDialog::finished, this, &ZNTWindowController::tellNotice,
                Qt::ConnectionType(Qt::QueuedConnection | Qt::SingleShotConnection));
        return;
    }
    QPointer<ZNTWindowController> self(this);
    presentPageNotice(m_notices.takeFirst(), this, [self] {
        if (self)
            self->tellNotice();
    });
}

bool ZNTWindowController::hasPendingChanges() const {
    bool pending = !m_notices.isEmpty();
    for (const auto &[key, controller] : m_viewControllers) {
        if (auto *holder = capability<ZNTPendingChangesHolder>(controller))
            pending = holder->hasPendingChanges() || pending;
    }
    return pending;
}

// Another window's structure page of the relation has an item equal to the
// asking page's: only the page itself tells them apart. A page that only has
// a notice to give holds nothing that a rename would bind to the old name.
bool ZNTWindowController::hasPendingChangesOfItem(const ZNTObject &item, const ZNTContentController *except) const {
    const ZNTTable *relation = relationOf(item);
    for (const auto &[key, controller] : m_viewControllers) {
        const ZNTTable *shown = relationOf(*key.object());
        if (controller.data() == except ||
            (relation && shown ? !shown->isSameRelationAs(*relation) : !key.object()->isEqual(item)))
            continue;
        if (holdsUnsavedChanges(controller))
            return true;
    }
    return false;
}

QList<QPointer<ZNTWindowController>> ZNTWindowController::openWindows() {
    QList<QPointer<ZNTWindowController>> windows;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *window = qobject_cast<ZNTWindowController *>(widget); window && window->isOpen())
            windows << window;
    }
    return windows;
}

bool ZNTWindowController::anyWindowHasPendingChangesOfItem(const ZNTObject &item, const ZNTContentController *except) {
    const auto windows = openWindows();
    // Asking a structure page ends its open editor: each window is checked again.
    return std::any_of(windows.begin(), windows.end(), [&item, except](const auto &window) {
        return window && window->isOpen() && window->hasPendingChangesOfItem(item, except);
    });
}

// A page left on the old name would save into whatever relation takes that
// name next; the other windows follow as this one did.
void ZNTWindowController::followRenamedRelationInOtherWindows(const std::shared_ptr<ZNTObject> &old,
                                                              const std::shared_ptr<ZNTObject> &replacement) {
    const auto oldRelation = std::dynamic_pointer_cast<ZNTTable>(old);
    const auto renamed = std::dynamic_pointer_cast<ZNTTable>(replacement);
    // A new relation had no name: no other window holds it.
    if (!oldRelation || !renamed || !oldRelation->hasName())
        return;
    // A window may close while another follows (a page it drops): each is asked
    // whether it is still open when its turn comes.
    for (const QPointer<ZNTWindowController> &window : openWindows()) {
        if (window && window != this && window->isOpen())
            window->followRenamedRelation(*oldRelation, *renamed);
    }
}

void ZNTWindowController::followRenamedRelation(const ZNTTable &old, const ZNTTable &renamed) {
    ZNTObjectList items = m_navigation.backwardHistory() + m_navigation.forwardHistory();
    items << currentItem();
    for (const auto &[key, controller] : m_viewControllers)
        items << key.object();
    // Each item once: a second replacement of an equal item would drop the page
    // just made for the first.
    std::vector<std::pair<std::shared_ptr<ZNTObject>, std::shared_ptr<ZNTObject>>> replacements;
    for (const auto &item : items) {
        const auto structure = std::dynamic_pointer_cast<ZNTTableSchema>(item);
        const auto relation = structure ? structure->table() : std::dynamic_pointer_cast<ZNTTable>(item);
        if (!relation || !relation->isSameRelationAs(old) ||
            std::any_of(replacements.begin(), replacements.end(),
                        [&](const auto &done) { return done.first->isEqual(*item); }))
            continue;
        auto follower =
            ZNTTable::createOfType(relation->type(), renamed.name(), renamed.schemaName(), relation->database());
        replacements.emplace_back(item, structure ? std::make_shared<ZNTTableSchema>(follower)
                                                  : std::shared_ptr<ZNTObject>(follower));
    }
    // Dropping a page with changes would lose them: such a window keeps its
    // pages, as the rename check that let the rename go would have refused.
    if (hasPendingChangesOfItem(old) || hasPendingChangesOfItem(renamed))
        return;
    for (const auto &[item, replacement] : replacements)
        replaceNavigationItems(item, replacement);
}

void ZNTWindowController::resignWithDelegate(ZNTResignationDelegate *delegate, std::any userInfo) {
    requireMainThread("ZNTWindowController::resignWithDelegate");
    if (m_resigning) {
        // The user is being asked already; a second round of sheets would
        // answer the same question twice.
        if (delegate)
            delegate->didResign(false, userInfo);
        return;
    }
    if (!m_notices.isEmpty()) {
        // A page that went left it to tell: the window is not let go before
        // the user has seen it.
        tellNotice();
        if (delegate)
            delegate->didResign(false, userInfo);
        return;
    }
    ZNTObjectList pending;
    for (const auto &[key, controller] : m_viewControllers) {
        auto *holder = capability<ZNTPendingChangesHolder>(controller);
        if (holder && holder->hasPendingChanges())
            pending.append(key.object());
    }
    QPointer<ZNTWindowController> self(this);
    resign(std::move(pending), [self, delegate, userInfo](bool success) {
        if (self && delegate)
            delegate->didResign(success, userInfo);
    });
}

// Quitting asks from whatever window is in front: a window that has something
// to ask or tell comes forward with it, also a sheet it has open already.
void ZNTWindowController::resignWithDelegate(std::function<void(bool)> answer) {
    const bool asks = hasPendingChanges();
    resignWithDelegate(this, std::move(answer));
    if (asks)
        bringForwardAsking();
}

// Once the page asked is placed and has opened its prompt, or waits behind a
// sheet: the newest sheet takes the keys, not an older one it covers, nor the
// window. Windows asked in turn leave them with the last one asked.
void ZNTWindowController::bringForwardAsking() {
    if (isOpen())
        showWindow();
}

void ZNTWindowController::resign(ZNTObjectList pending, std::function<void(bool)> finished) {
    m_resigning = true;
    QPointer<ZNTWindowController> self(this);
    ZNTResignationChain::Window window;
    window.currentItem = [self] { return self ? self->currentItem() : nullptr; };
    window.endEditing = [self] { return self && self->endEditing(); };
    window.showItem = [self](const std::shared_ptr<ZNTObject> &item) {
        if (self)
            self->_setCurrentItem(item);
    };
    window.askToResign = [self](const std::shared_ptr<ZNTObject> &item, std::function<void(bool)> answer) {
        if (self)
            self->askPageToResign(item, std::move(answer));
        else
            answer(false);
    };
    window.beep = [] { beep(); };
    ZNTResignationChain::run(std::move(pending), std::move(window), [self, finished](bool success) {
        if (self)
            self->m_resigning = false;
        finished(success);
    });
}

void ZNTWindowController::askPageToResign(const std::shared_ptr<ZNTObject> &item, std::function<void(bool)> answer) {
    ZNTContentController *controller = cachedViewController(*item);
    auto *holder = capability<ZNTPendingChangesHolder>(controller);
    if (!holder) {
        answer(true); // the page went, and its edits with it
        return;
    }
    // A page destroyed before it answered has refused: nothing was settled.
    auto once = std::make_shared<std::function<void(bool)>>(std::move(answer));
    auto reply = [once](bool success) {
        if (auto pending = std::exchange(*once, nullptr))
            pending(success);
    };
    auto guard = connect(controller, &QObject::destroyed, this, [this, reply] {
        if (!m_destroying)
            reply(false);
    });
    holder->resignWithDelegate(this, std::function<void(bool)>([this, guard, reply](bool success) {
                                   disconnect(guard);
                                   reply(success);
                               }));
}

void ZNTWindowController::didResign(bool success, const std::any &userInfo) {
    if (const auto *block = std::any_cast<std::function<void(bool)>>(&userInfo)) {
        if (*block)
            (*block)(success);
    }
}

bool ZNTWindowController::windowShouldClose() {
    if (m_resigning)
        return false; // the pages are being asked already; their answer closes
    if (!hasPendingChanges())
        return true;
    // Pages that answer at once let this close go on; a later answer closes
    // the window anew (a close cannot start inside the one being refused).
    auto asking = std::make_shared<bool>(true);
    auto answeredNow = std::make_shared<std::optional<bool>>();
    QPointer<ZNTWindowController> self(this);
    resignWithDelegate(this, std::function<void(bool)>([self, asking, answeredNow](bool success) {
                           if (*asking)
                               *answeredNow = success;
                           else if (success && self)
                               self->close();
                       }));
    *asking = false;
    if (answeredNow->value_or(false))
        return true;
    bringForwardAsking();
    return false;
}

void ZNTWindowController::reloadData() {
    if (m_resigning) {
        beep();
        return;
    }
    if (!capability<ZNTPendingChangesHolder>(m_mainViewController)) {
        performReload();
        return;
    }
    // Only the shown page is asked; pages with edits elsewhere keep them.
    m_resigning = true;
    QPointer<ZNTWindowController> self(this);
    askPageToResign(currentItem(), [self](bool success) {
        if (!self)
            return;
        self->m_resigning = false;
        if (success)
            self->performReload();
    });
}

void ZNTWindowController::performReload() {
    if (auto server = currentServer())
        server->purgeMetadata();
    for (auto it = m_viewControllers.begin(); it != m_viewControllers.end();) {
        ZNTContentController *controller = it->second;
        const bool shown = controller && controller == m_mainViewController;
        auto *holder = capability<ZNTPendingChangesHolder>(controller);
        auto *keeper = capability<ZNTReloadKeeping>(controller);
        if (shown || (holder && holder->hasPendingChanges()) || (keeper && keeper->keepsPageOnReload())) {
            ++it;
            continue;
        }
        if (controller)
            letPageGo(controller);
        it = m_viewControllers.erase(it);
    }
    if (auto *reloadable = capability<ZNTReloadable>(m_mainViewController))
        reloadable->performReload();
    reloadSidebar();
    validateActions();
}

QUndoStack *ZNTWindowController::undoManager() {
    if (auto *provider = capability<ZNTCustomUndoProvider>(m_mainViewController)) {
        if (QUndoStack *stack = provider->customUndoManager())
            return stack;
    }
    if (!m_defaultUndoManager)
        m_defaultUndoManager = new QUndoStack(this);
    return m_defaultUndoManager;
}

void ZNTWindowController::makeMainViewFirstResponder() {
    if (!m_mainViewController)
        return;
    if (auto *placer = capability<ZNTFirstResponderPlacer>(m_mainViewController)) {
        placer->makeFirstResponder();
        return;
    }
    // A field the page opens on is entered as by Tab, its text selected, so
    // that typing replaces it (a new relation's "untitled_table").
    QWidget *target = focusTarget(m_mainViewController->view());
    target->setFocus(qobject_cast<QLineEdit *>(target) ? Qt::TabFocusReason : Qt::OtherFocusReason);
}

void ZNTWindowController::showPageByCommand(const std::function<void()> &command) {
    const QScopedValueRollback<bool> byCommand(m_commandShowsPage, true);
    command();
}

void ZNTWindowController::toggleTableFilter() {
    if (auto *page = capability<ZNTTableFilterToggling>(m_mainViewController))
        page->toggleTableFilter();
    else
        beep();
}

void ZNTWindowController::toggleStructureAndContentsInMainView() {
    if (auto *page = capability<ZNTStructureToggling>(m_mainViewController))
        page->toggleStructureAndContents(windowAction(ZNTWindowCommand::ToggleStructureAndContents));
}

void ZNTWindowController::exportContents() {
    if (auto *page = capability<ZNTExporting>(m_mainViewController))
        page->exportContents(windowAction(ZNTWindowCommand::Export));
}
