#pragma once

#include "platform/NotificationCenter.h"

#include <QAbstractListModel>
#include <memory>
#include <vector>

class ZNTFavorite;

// The favorites list as rows: a thin spacer row on top, one pad per favorite in
// list order, and the new-favorite row at the bottom. It decides the rows'
// heights, which rows can be selected and which commands a row allows; the
// favorites window draws it. Widget-free, main thread.
class FavoritesListModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role {
        FavoriteRole = Qt::UserRole + 1, // QVariant::fromValue(ZNTFavorite *)
        KindRole,                        // RowKind
        DetailRole,                      // "alice@db.example:5433/shop", with the SSH server
        StateRole,                       // progress text while busy
        ErrorRole,                       // error text while failed
        BusyRole,
        FailedRole,
        ConnectedRole,
        EditingRole,
        ColorRole, // QColor, invalid for none
    };
    enum class RowKind { Spacer, Favorite, NewFavorite };
    enum class Command {
        Connect,
        Delete,
        BeginEditing,
        Duplicate,
        CopyURL,
        Export,
        ExportAll,
        Disconnect,
        CancelConnection,
        ClearError,
        Other,
    };

    static constexpr int SpacerHeight = 6;
    static constexpr int EditingHeight = 231;
    static constexpr int EditingWithSSHHeight = 374;
    static constexpr int BusyHeight = 80;
    static constexpr int ErrorBaseHeight = 66;
    static constexpr int PadHeight = 60;

    explicit FavoritesListModel(QObject *parent = nullptr);
    ~FavoritesListModel() override;

    // Shows the favorites in this order. One favorite more or less than before
    // arrives as one inserted or removed row, so the view can animate it; any
    // other change redraws the whole list.
    void setFavorites(std::vector<std::shared_ptr<ZNTFavorite>> favorites);
    const std::vector<std::shared_ptr<ZNTFavorite>> &favorites() const { return m_favorites; }

    std::shared_ptr<ZNTFavorite> favoriteAtRow(int row) const;
    // The favorite's row, -1 when it is not listed.
    int rowForFavorite(const ZNTFavorite *favorite) const;
    bool isFavoriteRow(int row) const { return row >= 1 && row <= int(m_favorites.size()); }
    int newFavoriteRow() const { return int(m_favorites.size()) + 1; }

    std::shared_ptr<ZNTFavorite> editedFavorite() const { return m_edited; }
    void setEditedFavorite(std::shared_ptr<ZNTFavorite> favorite);

    int heightOfRow(int row) const;
    bool isSelectableRow(int row) const { return isFavoriteRow(row); }
    // Whether a command may run on row (-1: no row).
    bool validate(Command command, int row) const;

    // The favorite's connection state or error changed: its row is drawn again
    // and may change height.
    void noteFavoriteChanged(const ZNTFavorite *favorite);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

signals:
    // The row's height changed; the view lays the rows out again.
    void rowHeightChanged(int row);

private:
    void observe();
    QString detailText(const ZNTFavorite &favorite) const;

    std::vector<std::shared_ptr<ZNTFavorite>> m_favorites;
    std::shared_ptr<ZNTFavorite> m_edited;
    std::vector<ObserverToken> m_observers;
};

Q_DECLARE_METATYPE(FavoritesListModel::RowKind)
Q_DECLARE_OPAQUE_POINTER(ZNTFavorite *)
Q_DECLARE_METATYPE(ZNTFavorite *)
