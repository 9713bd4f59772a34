#include "FavoritesListModel.h"

#include "ZNTFavorite.h"
#include "platform/ProgramError.h"
#include "platform/SystemInfo.h"

#include <QColor>
#include <QSize>
#include <algorithm>
#include <cmath>

FavoritesListModel::FavoritesListModel(QObject *parent) : QAbstractListModel(parent) {}

FavoritesListModel::~FavoritesListModel() = default;

void FavoritesListModel::setFavorites(std::vector<std::shared_ptr<ZNTFavorite>> favorites) {
    requireMainThread("FavoritesListModel::setFavorites");
    const auto &old = m_favorites;
    // The first place where the lists differ tells which single row came or went.
    const std::size_t common = std::min(old.size(), favorites.size());
    std::size_t first = 0;
    while (first < common && old[first] == favorites[first])
        ++first;
    const bool oneAdded =
        favorites.size() == old.size() + 1 && std::equal(old.begin() + first, old.end(), favorites.begin() + first + 1);
    const bool oneRemoved = old.size() == favorites.size() + 1 &&
                            std::equal(favorites.begin() + first, favorites.end(), old.begin() + first + 1);
    if (oneAdded) {
        beginInsertRows({}, int(first) + 1, int(first) + 1);
        m_favorites = std::move(favorites);
        endInsertRows();
    } else if (oneRemoved) {
        beginRemoveRows({}, int(first) + 1, int(first) + 1);
        m_favorites = std::move(favorites);
        endRemoveRows();
    } else if (old != favorites) {
        beginResetModel();
        m_favorites = std::move(favorites);
        endResetModel();
    }
    if (m_edited && rowForFavorite(m_edited.get()) < 0)
        m_edited.reset();
    observe();
}

// Settings edited in a pad change the favorite; its row shows them at once.
void FavoritesListModel::observe() {
    m_observers.clear();
    for (const auto &favorite : m_favorites) {
        const ZNTFavorite *raw = favorite.get();
        m_observers.push_back(NotificationCenter::defaultCenter().observe(
            ZNTFavorite::DidChangeNotification, raw, [this, raw](const Notification &) { noteFavoriteChanged(raw); }));
    }
}

std::shared_ptr<ZNTFavorite> FavoritesListModel::favoriteAtRow(int row) const {
    return isFavoriteRow(row) ? m_favorites[std::size_t(row - 1)] : nullptr;
}

int FavoritesListModel::rowForFavorite(const ZNTFavorite *favorite) const {
    for (std::size_t i = 0; i < m_favorites.size(); ++i)
        if (m_favorites[i].get() == favorite)
            return int(i) + 1;
    return -1;
}

void FavoritesListModel::setEditedFavorite(std::shared_ptr<ZNTFavorite> favorite) {
    if (favorite == m_edited)
        return;
    const int before = m_edited ? rowForFavorite(m_edited.get()) : -1;
    m_edited = std::move(favorite);
    const int after = m_edited ? rowForFavorite(m_edited.get()) : -1;
    for (int row : {before, after}) {
        if (row < 0)
            continue;
        emit dataChanged(index(row), index(row));
        emit rowHeightChanged(row);
    }
}

int FavoritesListModel::heightOfRow(int row) const {
    const std::shared_ptr<ZNTFavorite> favorite = favoriteAtRow(row);
    if (!favorite)
        return SpacerHeight;
    if (favorite == m_edited)
        return favorite->isSshEnabled() ? EditingWithSSHHeight : EditingHeight;
    if (favorite->connectionStateBusy)
        return BusyHeight;
    if (favorite->rowShowsError())
        return ErrorBaseHeight + int(std::ceil(favorite->errorTextHeight));
    return PadHeight;
}

bool FavoritesListModel::validate(Command command, int row) const {
    const std::shared_ptr<ZNTFavorite> favorite = favoriteAtRow(row);
    const bool free = favorite && !favorite->connectionStateBusy && !favorite->connectionStateConnected;
    switch (command) {
    case Command::Delete:
    case Command::Connect:
        return free;
    case Command::BeginEditing:
        return free && favorite != m_edited;
    case Command::Duplicate:
    case Command::CopyURL:
    case Command::Export:
        return favorite != nullptr;
    case Command::ExportAll:
        return !m_favorites.empty();
    case Command::Disconnect:
        return favorite && favorite->connectionStateConnected;
    case Command::CancelConnection:
        return favorite && favorite->connectionStateBusy;
    case Command::ClearError:
        return favorite && favorite->rowShowsError();
    case Command::Other:
        return true;
    }
    return true;
}

void FavoritesListModel::noteFavoriteChanged(const ZNTFavorite *favorite) {
    const int row = rowForFavorite(favorite);
    if (row < 0)
        return;
    emit dataChanged(index(row), index(row));
    emit rowHeightChanged(row);
}

int FavoritesListModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : int(m_favorites.size()) + 2;
}

QString FavoritesListModel::detailText(const ZNTFavorite &f) const {
    QString text = f.user().isEmpty() ? SystemInfo::loginName() : f.user();
    text += QLatin1Char('@') + (f.host().isEmpty() ? QStringLiteral("localhost") : f.host());
    if (f.port().value_or(0) >= 1 && f.port().value_or(0) != 5432)
        text += QStringLiteral(":%1").arg(*f.port());
    text += f.showAllDatabases() ? QStringLiteral(" — all databases") : QStringLiteral("/") + f.effectiveDatabase();
    if (f.isSshEnabled())
        text += QStringLiteral(" via %1").arg(f.sshHost().isEmpty() ? QStringLiteral("SSH") : f.sshHost());
    return text;
}

QVariant FavoritesListModel::data(const QModelIndex &index, int role) const {
    const int row = index.row();
    if (role == KindRole) {
        const RowKind kind = isFavoriteRow(row) ? RowKind::Favorite : row == 0 ? RowKind::Spacer : RowKind::NewFavorite;
        return QVariant::fromValue(kind);
    }
    if (role == Qt::SizeHintRole)
        return QSize(0, heightOfRow(row));
    const std::shared_ptr<ZNTFavorite> f = favoriteAtRow(row);
    if (!f)
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return f->displayName();
    case FavoriteRole:
        return QVariant::fromValue(f.get());
    case DetailRole:
        return detailText(*f);
    case StateRole:
        return f->connectionStateString;
    case ErrorRole:
        return f->rowErrorText();
    case BusyRole:
        return f->connectionStateBusy;
    case FailedRole:
        return f->rowShowsError();
    case ConnectedRole:
        return f->connectionStateConnected;
    case EditingRole:
        return f == m_edited;
    case ColorRole:
        return f->color();
    default:
        return {};
    }
}

Qt::ItemFlags FavoritesListModel::flags(const QModelIndex &index) const {
    if (!isSelectableRow(index.row()))
        return Qt::ItemIsEnabled;
    Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (favoriteAtRow(index.row()) == m_edited)
        flags |= Qt::ItemIsEditable;
    return flags;
}
