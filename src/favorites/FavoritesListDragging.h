#pragma once

#include "FavoritesDropLogic.h"
#include "platform/Error.h"

#include <QObject>
#include <QPixmap>
#include <QPoint>
#include <QPointer>
#include <chrono>
#include <functional>
#include <memory>

class QDropEvent;
class QWidget;
class QMimeData;
class FavoritesListModel;
class ZNTFavorite;
class ZNTFavoritesTable;

// Dragging in and out of the favorites list: a favorite row dragged out (moved
// within the list, or given to other programs as a file), favorite files and
// folders dropped in to be imported where they land. It watches the list's
// viewport, so the list itself needs to know nothing of it. main thread
class FavoritesListDragging : public QObject {
    Q_OBJECT
public:
    struct Actions {
        // False when the move could not happen (the window kept its editing).
        std::function<bool(int from, int above)> moveFavorite;
        std::function<void(const QStringList &paths, int above)> importFiles;
        std::function<void(const ErrorPtr &error)> presentError;
    };
    // Runs the drag of data with image; QDrag unless a test replaces it.
    using DragStarter = std::function<void(QMimeData *data, const QPixmap &image)>;

    FavoritesListDragging(ZNTFavoritesTable *table, FavoritesListModel *model, Actions actions);
    ~FavoritesListDragging() override;

    void setDragStarter(DragStarter starter) { m_startDrag = std::move(starter); }
    // The row a drop would go above, -1 while nothing is dragged over the list.
    int dropIndicatorRow() const { return m_dropRow; }

    // The drop above proposedRow of what data offers. Also used when the data
    // comes from another window of the program.
    FavoritesDropLogic::Validation validateDrop(const QMimeData *data, int proposedRow) const;
    bool acceptDrop(const QMimeData *data, int proposedRow);
    // Starts dragging the favorite of row. A program the drag ends in gets its
    // file, with its passwords read then, waiting at most FilePasswordLimit.
    void beginDrag(int row);
    static constexpr std::chrono::seconds FilePasswordLimit{15};

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    int proposedRowAt(const QPoint &viewportPos) const;
    int draggedRow(const QMimeData *data) const;
    bool handleDragOver(QDropEvent *event);
    void showIndicator(int row);
    static QStringList localPaths(const QMimeData *data);

    QPointer<ZNTFavoritesTable> m_table;
    FavoritesListModel *m_model;
    Actions m_actions;
    DragStarter m_startDrag;
    QWidget *m_indicator = nullptr;
    int m_dropRow = -1;
    int m_pressedRow = -1;
    QPoint m_pressPos;
};
