#pragma once

#include "FavoriteFileWriting.h"

#include <QMimeData>
#include <functional>
#include <optional>

// Favorite rows being dragged. Inside the program the drag carries
// "norvane.ZNTFavorite": the source list and the favorite's id (its row may
// change while the drag runs), so the list can move it. To other programs it
// offers the favorites as files ("text/uri-list"), made with their passwords
// only when a drop target asks for them, owner-only, in a private folder that is
// removed when the program quits. main thread
class ZNTFavoritePasteboardWriter : public QMimeData {
    Q_OBJECT
public:
    static inline const QString FavoriteType = QStringLiteral("norvane.ZNTFavorite");
    static inline const QString UriListType = QStringLiteral("text/uri-list");

    using ErrorPresenter = std::function<void(const ErrorPtr &error)>;
    // The dragged favorites, in row order, as they go into their files
    // (passwords included, no history, no encryption); asked once, when the
    // files are.
    using ItemSource = std::function<QList<FavoriteFileWriting::Item>()>;

    ZNTFavoritePasteboardWriter(const void *tableView, qint64 favoriteID, ItemSource items,
                                ErrorPresenter presentError);
    ZNTFavoritePasteboardWriter(const void *tableView, qint64 favoriteID, QList<FavoriteFileWriting::Item> items,
                                ErrorPresenter presentError);

    QStringList formats() const override;
    bool hasFormat(const QString &mimeType) const override;

    // The list and id of a dragged favorite; nothing for other data.
    struct DraggedFavorite {
        quintptr tableView = 0;
        qint64 favoriteID = 0;
    };
    static std::optional<DraggedFavorite> draggedFavorite(const QMimeData *data);

    // Where drag-out files are written; made on first use, owner-only, removed
    // at quit.
    static QString privateFolder();

protected:
    QVariant retrieveData(const QString &mimeType, QMetaType type) const override;

private:
    QList<QUrl> writeFiles() const;

    quintptr m_tableView;
    qint64 m_favoriteID;
    ItemSource m_items;
    ErrorPresenter m_presentError;
    mutable std::optional<QList<QUrl>> m_written;
};
