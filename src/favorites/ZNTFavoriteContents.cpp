// What belongs to a favorite beyond its own fields: its copies, its view-setting
// containers and its query history.
#include "ZNTFavorite.h"
#include "ZNTFavoritesStore.h"
#include "ZNTPrefContainer.h"
#include "ZNTQueryHistoryElement.h"
#include "platform/Log.h"
#include "platform/ProgramError.h"

QString ZNTFavorite::nameForDuplicate(const QString &displayName) {
    static const QString copy = QStringLiteral(" copy");
    const qsizetype at = displayName.lastIndexOf(copy);
    if (at < 0)
        return displayName + copy;
    const QString stem = displayName.left(at);
    if (at + copy.size() == displayName.size())
        return stem + QStringLiteral(" copy 2");
    // A number after " copy", blanks before it skipped and text after it ignored.
    const QString rest = displayName.mid(at + copy.size());
    qsizetype i = 0;
    while (i < rest.size() && rest[i].isSpace())
        ++i;
    const qsizetype start = i;
    if (i < rest.size() && (rest[i] == u'-' || rest[i] == u'+'))
        ++i;
    const qsizetype digits = i;
    while (i < rest.size() && i - digits < 18 && rest[i] >= u'0' && rest[i] <= u'9')
        ++i;
    const qint64 n = i > digits ? rest.mid(start, i - start).toLongLong() : 0;
    if (n == 0)
        return displayName + copy;
    return stem + QStringLiteral(" copy %1").arg(n + 1);
}

void ZNTFavorite::duplicateFavorite(std::function<void(std::shared_ptr<ZNTFavorite>, ErrorPtr)> completion) {
    requireMainThread("ZNTFavorite::duplicateFavorite");
    std::weak_ptr<ZNTFavorite> weakSelf = std::static_pointer_cast<ZNTFavorite>(shared_from_this());
    // The copy takes the passwords along, so they are read first.
    loadPasswords([weakSelf, completion](ErrorPtr error) {
        auto self = weakSelf.lock();
        auto store = self ? self->store() : nullptr;
        if (!error && (!self || self->isDeleted() || !store || !store->isOpen()))
            error = Error::make(kBundleIdentifier, 1,
                                {{Error::DescriptionKey, QStringLiteral("The favorite is no longer there.")}});
        if (error) {
            completion(nullptr, error);
            return;
        }
        auto twin = store->insertFavorite();
        ZNTFavoriteValues values = self->m_values;
        values.nickname = nameForDuplicate(self->displayName());
        values.order = twin->order();
        values.colorIndex = 0;
        values.savePassword = false;
        values.saveSshPassword = false;
        twin->m_values = values;
        twin->m_password = self->m_password;
        twin->m_sshPassword = self->m_sshPassword;
        twin->markChanged();
        completion(twin, nullptr);
    });
}

std::shared_ptr<ZNTPrefContainerHandle> ZNTFavorite::prefContainerOfType(unsigned type, const QString &databaseName,
                                                                         const QString &schemaName,
                                                                         const QString &objectName,
                                                                         bool createIfNotExists) {
    return prefContainer(type, databaseName, schemaName, objectName, createIfNotExists);
}

std::shared_ptr<ZNTPrefContainer> ZNTFavorite::prefContainer(unsigned type, const QString &databaseName,
                                                             const QString &schemaName, const QString &objectName,
                                                             bool createIfNotExists) {
    requireMainThread("ZNTFavorite::prefContainer");
    auto store = this->store();
    if (!store || !store->isOpen() || isDeleted())
        return nullptr;
    auto container = store->fetchPrefContainer(objectID(), type, databaseName, schemaName, objectName);
    if (container || !createIfNotExists)
        return container;
    container = store->insertPrefContainer(std::static_pointer_cast<ZNTFavorite>(shared_from_this()), type,
                                           databaseName, schemaName, objectName);
    // Saved at once: a container that cannot be saved is not handed out.
    ErrorPtr error;
    if (!store->save(&error)) {
        store->deleteObject(container.get(), true);
        Log(QStringLiteral("Failed to create database object: %1").arg(error->localizedDescription()));
        return nullptr;
    }
    return container;
}

std::shared_ptr<ZNTPrefContainer> ZNTFavorite::prefContainerOfType(unsigned type, const QString &databaseName,
                                                                   qint64 oid) {
    requireMainThread("ZNTFavorite::prefContainerOfType");
    auto store = this->store();
    if (!store || !store->isOpen() || isDeleted())
        return nullptr;
    return store->fetchPrefContainer(objectID(), type, databaseName, oid);
}

std::shared_ptr<ZNTQueryHistoryElement> ZNTFavorite::firstQueryHistoryElement() {
    auto store = this->store();
    if (!store || !store->isOpen() || isDeleted())
        return nullptr;
    return store->fetchHistoryElement(objectID(), ZNTFavoritesStore::HistoryStep::First);
}

std::shared_ptr<ZNTQueryHistoryElement> ZNTFavorite::lastQueryHistoryElement() {
    auto store = this->store();
    if (!store || !store->isOpen() || isDeleted())
        return nullptr;
    return store->fetchHistoryElement(objectID(), ZNTFavoritesStore::HistoryStep::Last);
}

void ZNTFavorite::recordQueryTextInHistory(const QString &text) {
    requireMainThread("ZNTFavorite::recordQueryTextInHistory");
    auto store = this->store();
    if (!store || !store->isOpen() || isDeleted() || text.size() > HistoryTextLimit)
        return;
    if (auto newest = lastQueryHistoryElement(); newest && newest->text() == text)
        return;
    auto element = store->insertHistoryElement(objectID());
    element->setText(text);
    element->setDateMicroseconds(ZNTQueryHistoryElement::nowMicroseconds());
    while (store->historyCount(objectID()) > HistoryLimit) {
        auto oldest = firstQueryHistoryElement();
        if (!oldest)
            break;
        store->deleteObject(oldest.get(), false);
    }
    store->save(); // a failure leaves the entry to the next save
}

void ZNTFavorite::deleteQueryHistoryElement(const std::shared_ptr<ZNTQueryHistoryElement> &element) {
    requireMainThread("ZNTFavorite::deleteQueryHistoryElement");
    auto store = this->store();
    if (!element || !store || !store->isOpen() || element->store() != store || element->favoriteID() != objectID() ||
        element->isDeleted())
        return;
    store->deleteObject(element.get(), false);
    store->save(); // a failure leaves the deletion to the next save
}

std::shared_ptr<ZNTQueryHistoryElement> ZNTFavorite::insertQueryHistoryElement(const QString &text,
                                                                               qint64 dateMicroseconds) {
    requireMainThread("ZNTFavorite::insertQueryHistoryElement");
    auto store = this->store();
    if (!store || !store->isOpen() || isDeleted())
        return nullptr;
    auto element = store->insertHistoryElement(objectID());
    element->setText(text);
    element->setDateMicroseconds(dateMicroseconds);
    return element;
}
