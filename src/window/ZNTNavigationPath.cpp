#include "ZNTNavigationPath.h"

#include "model/ZNTDatabase.h"
#include "model/ZNTServer.h"

namespace {
bool equal(const std::shared_ptr<ZNTObject> &a, const ZNTObject &b) {
    return a && (a.get() == &b || a->isEqual(b));
}

template <class T> std::shared_ptr<T> firstUpPath(std::shared_ptr<ZNTObject> item) {
    for (; item; item = item->parent()) {
        if (auto found = std::dynamic_pointer_cast<T>(item))
            return found;
    }
    return nullptr;
}
} // namespace

ZNTNavigationPath::ZNTNavigationPath(const std::shared_ptr<ZNTObject> &item) : m_pathItems(pathItemsForItem(item)) {}

ZNTObjectList ZNTNavigationPath::pathItemsForItem(const std::shared_ptr<ZNTObject> &item) {
    ZNTObjectList path;
    for (auto it = item; it; it = it->parent())
        path.prepend(it);
    return path;
}

QString ZNTNavigationPath::titleForItem(const std::shared_ptr<ZNTObject> &item) {
    QString title;
    for (auto it = item; it; it = it->parent()) {
        if (!title.isEmpty())
            title.prepend(QStringLiteral(" \u2013 "));
        title.prepend(it->name());
    }
    return title;
}

std::shared_ptr<ZNTObject> ZNTNavigationPath::currentItem() const {
    return m_pathItems.isEmpty() ? nullptr : m_pathItems.last();
}

std::shared_ptr<ZNTServer> ZNTNavigationPath::currentServer() const {
    return firstUpPath<ZNTServer>(currentItem());
}

std::shared_ptr<ZNTDatabase> ZNTNavigationPath::currentDatabase() const {
    if (auto database = firstUpPath<ZNTDatabase>(currentItem()))
        return database;
    auto server = currentServer();
    return server ? server->mainDatabase() : nullptr;
}

void ZNTNavigationPath::setCurrentItem(const std::shared_ptr<ZNTObject> &item) {
    m_pathItems = pathItemsForItem(item);
}

void ZNTNavigationPath::navigateTo(const std::shared_ptr<ZNTObject> &item) {
    if (auto current = currentItem())
        m_backward.append(current);
    m_forward.clear();
    setCurrentItem(item);
}

std::shared_ptr<ZNTObject> ZNTNavigationPath::goBack() {
    if (m_backward.isEmpty())
        return nullptr;
    if (auto current = currentItem())
        m_forward.append(current);
    auto item = m_backward.takeLast();
    setCurrentItem(item);
    return item;
}

std::shared_ptr<ZNTObject> ZNTNavigationPath::goForward() {
    if (m_forward.isEmpty())
        return nullptr;
    if (auto current = currentItem())
        m_backward.append(current);
    auto item = m_forward.takeLast();
    setCurrentItem(item);
    return item;
}

bool ZNTNavigationPath::replaceInHistories(const ZNTObject &old, const std::shared_ptr<ZNTObject> &replacement) {
    for (ZNTObjectList *history : {&m_backward, &m_forward}) {
        for (auto &entry : *history) {
            if (equal(entry, old))
                entry = replacement;
        }
    }
    return equal(currentItem(), old);
}

std::shared_ptr<ZNTObject> ZNTNavigationPath::removeFromHistories(const std::shared_ptr<ZNTObject> &removed) {
    // The entries equal to the removed item go first, so that it is never what
    // is shown in its place.
    m_backward.removeIf([&](const std::shared_ptr<ZNTObject> &entry) { return equal(entry, *removed); });
    m_forward.clear();
    if (!m_backward.isEmpty())
        return m_backward.takeLast();
    if (auto parent = removed->parent())
        return parent;
    return currentDatabase();
}

QStringList ZNTNavigationPath::popupTitles() const {
    QStringList titles;
    for (const auto &item : m_pathItems)
        titles.prepend(item->name());
    return titles;
}

std::optional<qsizetype> ZNTNavigationPath::pathIndexForPopupIndex(qsizetype index) const {
    const qsizetype pathIndex = m_pathItems.size() - 1 - index;
    if (pathIndex < 0 || pathIndex >= m_pathItems.size())
        return std::nullopt;
    return pathIndex;
}
