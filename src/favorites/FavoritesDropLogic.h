#pragma once

#include <QList>
#include <QStringList>
#include <optional>

// Decisions of dragging in the favorites list, without widgets. The list has
// n + 2 rows: row 0 a spacer, rows 1..n the favorites, row n + 1 the
// new-favorite pad.
namespace FavoritesDropLogic {

enum class Operation { None, Move, Copy };

// A favorite row being dragged; fromThisList is false for one of another window.
struct DraggedFavorite {
    bool fromThisList = false;
    int row = -1;
};

struct Validation {
    Operation operation = Operation::None;
    int row = -1; // where the drop goes (above this row)
};

// Whether a drop above proposedRow (a drop onto a row goes above it; -1: no
// row) may happen and where: above the spacer means above the first favorite,
// below the pad means above the pad. A
// dragged favorite (preferred over files) may move anywhere but onto its own
// place; files are copied in when one is a favorite file or a folder.
Validation validateDrop(int proposedRow, int favoriteCount, const std::optional<DraggedFavorite> &favorite,
                        const QStringList &filePaths);

bool isFavoriteFilePath(const QString &path);

// The orders after moving the favorite of row s to the drop above row d, for
// favorites in list order; *targetRow gets the row it now stands on.
QList<qint32> ordersAfterMove(const QList<qint32> &orders, int s, int d, int *targetRow);

// Where k imported favorites go: before the favorite at targetIndex (the end
// when there is none or it is past the list), with consecutive orders from
// firstOrder; the favorites from index `index` on take the orders after them.
struct Placement {
    int index = 0;
    qint32 firstOrder = 1;
    QList<qint32> ordersFromIndex;
};
Placement placeImported(const QList<qint32> &orders, std::optional<int> targetIndex, int k);

// The favorite files among dropped paths: a folder gives every favorite file at
// any depth below it, without following symbolic links. Slow for big folders:
// not on the main thread.
QStringList collectFavoriteFiles(const QStringList &droppedPaths);

} // namespace FavoritesDropLogic
