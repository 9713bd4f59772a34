#pragma once

#include "model/ZNTObject.h"

#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

class ZNTDatabase;
class ZNTServer;

// Where a main window is in the object tree: the path of the shown item (root
// first, the item last) and the items to go back and forward to (most recent
// last; entries may repeat). It keeps the books only; the window shows what it
// says. Items compare by equality, never by identity. main thread
class ZNTNavigationPath {
public:
    explicit ZNTNavigationPath(const std::shared_ptr<ZNTObject> &item);

    // The item and its ancestors through parent(), root first; schemas are not
    // ancestors of relations. Empty for no item.
    static ZNTObjectList pathItemsForItem(const std::shared_ptr<ZNTObject> &item);
    // The names of the item and its ancestors, root first, joined by " – ".
    static QString titleForItem(const std::shared_ptr<ZNTObject> &item);

    const ZNTObjectList &pathItems() const { return m_pathItems; }
    const ZNTObjectList &backwardHistory() const { return m_backward; }
    const ZNTObjectList &forwardHistory() const { return m_forward; }

    std::shared_ptr<ZNTObject> currentItem() const;
    // The first server up the path.
    std::shared_ptr<ZNTServer> currentServer() const;
    // The first database up the path, else the server's main database.
    std::shared_ptr<ZNTDatabase> currentDatabase() const;

    // Makes item the shown one; the histories stay as they are.
    void setCurrentItem(const std::shared_ptr<ZNTObject> &item);
    // A navigation: the shown item goes to the back history, the forward
    // history empties, item becomes the shown one.
    void navigateTo(const std::shared_ptr<ZNTObject> &item);
    // One step back or forward; the item now shown, null (and nothing changed)
    // when that history is empty.
    std::shared_ptr<ZNTObject> goBack();
    std::shared_ptr<ZNTObject> goForward();

    // Puts replacement in place of every history entry equal to old; true when
    // old is the shown item (the caller then shows the replacement). The path
    // itself is left alone.
    bool replaceInHistories(const ZNTObject &old, const std::shared_ptr<ZNTObject> &replacement);
    // Forgets removed: the forward history empties and the back history loses
    // every entry equal to it. Answers the item to show instead: the most recent
    // item left in the back history (taken out of it), else removed's parent,
    // else the current database.
    std::shared_ptr<ZNTObject> removeFromHistories(const std::shared_ptr<ZNTObject> &removed);

    // The path popup: the shown item first, the root last.
    QStringList popupTitles() const;
    // The path item chosen as popup entry index; none for an index outside the path.
    std::optional<qsizetype> pathIndexForPopupIndex(qsizetype index) const;

private:
    ZNTObjectList m_pathItems;
    ZNTObjectList m_backward;
    ZNTObjectList m_forward;
};
