#include "FavoritesDropLogic.h"

#include "ZNTFavoriteFile.h"

#include <QDirIterator>
#include <QFileInfo>

namespace FavoritesDropLogic {

bool isFavoriteFilePath(const QString &path) {
    return QFileInfo(path).suffix() == ZNTFavoriteFile::FileExtension;
}

Validation validateDrop(int proposedRow, int favoriteCount, const std::optional<DraggedFavorite> &favorite,
                        const QStringList &filePaths) {
    Validation refused;
    if (proposedRow < 0)
        return refused;
    const int row = qBound(1, proposedRow, favoriteCount + 1);
    if (favorite) {
        if (!favorite->fromThisList || row == favorite->row || row == favorite->row + 1)
            return refused;
        return {Operation::Move, row};
    }
    for (const QString &path : filePaths)
        if (isFavoriteFilePath(path) || QFileInfo(path).isDir())
            return {Operation::Copy, row};
    return refused;
}

QList<qint32> ordersAfterMove(const QList<qint32> &orders, int s, int d, int *targetRow) {
    QList<qint32> result = orders;
    const auto at = [](int row) { return row - 1; }; // favorites start at row 1
    int t = s < d ? d - 1 : d;
    if (s < d) {
        for (int row = s + 1; row <= d - 1; ++row)
            result[at(row)] = orders[at(row)] - 1;
    } else {
        for (int row = d; row <= s - 1; ++row)
            result[at(row)] = orders[at(row)] + 1;
    }
    result[at(s)] = orders[at(t)];
    if (targetRow)
        *targetRow = t;
    return result;
}

Placement placeImported(const QList<qint32> &orders, std::optional<int> targetIndex, int k) {
    const int n = int(orders.size());
    Placement p;
    p.index = targetIndex && *targetIndex < n ? qMax(0, *targetIndex) : n;
    p.firstOrder = p.index < n ? orders[p.index] : n > 0 ? orders[n - 1] + 1 : 1;
    for (int i = p.index; i < n; ++i)
        p.ordersFromIndex.append(p.firstOrder + k + (i - p.index));
    return p;
}

QStringList collectFavoriteFiles(const QStringList &droppedPaths) {
    QStringList files;
    for (const QString &path : droppedPaths) {
        if (!QFileInfo(path).isDir()) {
            if (isFavoriteFilePath(path))
                files.append(path);
            continue;
        }
        QStringList inside;
        QDirIterator it(path, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::NoSymLinks,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString found = it.next();
            if (isFavoriteFilePath(found) && it.fileInfo().isFile())
                inside.append(found);
        }
        inside.sort();
        files.append(inside);
    }
    return files;
}

} // namespace FavoritesDropLogic
