#include "ZNTFavoritePasteboardWriter.h"

#include "PropertyList.h"
#include "platform/Main.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QUrl>

namespace {

QTemporaryDir *&dragFolder() {
    static QTemporaryDir *folder = nullptr;
    return folder;
}

} // namespace

QString ZNTFavoritePasteboardWriter::privateFolder() {
    QTemporaryDir *&folder = dragFolder();
    if (!folder) {
        // QTemporaryDir makes the folder 0700: the files in it hold passwords.
        folder = new QTemporaryDir(QDir::tempPath() + "/trellan-drag-XXXXXX");
        const auto remove = [] {
            delete dragFolder();
            dragFolder() = nullptr;
        };
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, remove);
        // An application that ends without running its event loop never says
        // it quits; its end still takes the folder.
        QObject::connect(qApp, &QObject::destroyed, remove);
    }
    return folder->isValid() ? folder->path() : QString();
}

ZNTFavoritePasteboardWriter::ZNTFavoritePasteboardWriter(const void *tableView, qint64 favoriteID, ItemSource items,
                                                         ErrorPresenter presentError)
    : m_tableView(reinterpret_cast<quintptr>(tableView)), m_favoriteID(favoriteID), m_items(std::move(items)),
      m_presentError(std::move(presentError)) {}

ZNTFavoritePasteboardWriter::ZNTFavoritePasteboardWriter(const void *tableView, qint64 favoriteID,
                                                         QList<FavoriteFileWriting::Item> items,
                                                         ErrorPresenter presentError)
    : ZNTFavoritePasteboardWriter(
          tableView, favoriteID, [items = std::move(items)] { return items; }, std::move(presentError)) {}

QStringList ZNTFavoritePasteboardWriter::formats() const {
    return {FavoriteType, UriListType};
}

bool ZNTFavoritePasteboardWriter::hasFormat(const QString &mimeType) const {
    return formats().contains(mimeType);
}

QVariant ZNTFavoritePasteboardWriter::retrieveData(const QString &mimeType, QMetaType type) const {
    if (mimeType == FavoriteType) {
        PropertyList::Owned dict(plist_new_dict());
        plist_dict_set_item(dict.get(), "tableView", plist_new_uint(m_tableView));
        plist_dict_set_item(dict.get(), "favorite", plist_new_uint(uint64_t(m_favoriteID)));
        return PropertyList::toBinary(dict.get());
    }
    if (mimeType == UriListType) {
        if (!m_written)
            m_written = writeFiles();
        QVariantList urls;
        for (const QUrl &url : *m_written)
            urls.append(url);
        return urls;
    }
    return QMimeData::retrieveData(mimeType, type);
}

QList<QUrl> ZNTFavoritePasteboardWriter::writeFiles() const {
    QList<QUrl> urls;
    ErrorPtr error;
    const QString root = privateFolder();
    // A folder of its own per drag: names are free, and earlier drops keep theirs.
    QTemporaryDir perDrag(root.isEmpty() ? QStringLiteral("/nonexistent/XXXXXX") : root + "/XXXXXX");
    perDrag.setAutoRemove(false); // it goes with the private folder at quit
    const QString folder = perDrag.isValid() ? perDrag.path() : QString();
    if (folder.isEmpty())
        error = Error::make(kBundleIdentifier, 1,
                            {{Error::DescriptionKey, QStringLiteral("The favorite files could not be made.")}});
    const QList<FavoriteFileWriting::Item> items = error || !m_items ? QList<FavoriteFileWriting::Item>() : m_items();
    for (const FavoriteFileWriting::Item &item : items) {
        if (error)
            break;
        error = item.error;
        auto data = error ? std::nullopt
                          : ZNTFavoriteFile::dataWithOptions(item.contents, ZNTFavoriteFile::IncludePasswords,
                                                             std::nullopt, &error);
        const QString path = QDir(folder).filePath(FavoriteFileWriting::freeFileName(folder, item.displayName));
        if (data && FavoriteFileWriting::writeNewFile(path, *data, &error))
            urls.append(QUrl::fromLocalFile(path));
    }
    if (error && m_presentError)
        Main::post([present = m_presentError, error] { present(error); });
    return urls;
}

std::optional<ZNTFavoritePasteboardWriter::DraggedFavorite>
ZNTFavoritePasteboardWriter::draggedFavorite(const QMimeData *data) {
    if (!data || !data->hasFormat(FavoriteType))
        return std::nullopt;
    PropertyList::Owned dict = PropertyList::parse(data->data(FavoriteType));
    if (!PropertyList::isDictionary(dict.get()))
        return std::nullopt;
    auto tableView = PropertyList::integer(plist_dict_get_item(dict.get(), "tableView"));
    auto favorite = PropertyList::integer(plist_dict_get_item(dict.get(), "favorite"));
    if (!tableView || !favorite)
        return std::nullopt;
    return DraggedFavorite{quintptr(*tableView), qint64(*favorite)};
}
