#include "FavoritesListDragging.h"

#include "FavoritesListModel.h"
#include "ZNTFavorite.h"
#include "ZNTFavoriteFiles.h"
#include "ZNTFavoritePasteboardWriter.h"
#include "ZNTFavoritesTable.h"

#include <QApplication>
#include <QDrag>
#include <QDropEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>

using FavoritesDropLogic::Operation;

FavoritesListDragging::FavoritesListDragging(ZNTFavoritesTable *table, FavoritesListModel *model, Actions actions)
    : QObject(table), m_table(table), m_model(model), m_actions(std::move(actions)) {
    m_startDrag = [table = QPointer<ZNTFavoritesTable>(table)](QMimeData *data, const QPixmap &image) {
        auto *drag = new QDrag(table ? static_cast<QObject *>(table) : qApp);
        drag->setMimeData(data);
        drag->setPixmap(image);
        // Inside the list a row moves; other programs get a copy of the file.
        drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::CopyAction);
    };
    m_indicator = new QWidget(table->viewport());
    m_indicator->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_indicator->setAutoFillBackground(true);
    m_indicator->setBackgroundRole(QPalette::Highlight);
    m_indicator->hide();
    table->setAcceptDrops(true);
    table->viewport()->setAcceptDrops(true);
    table->viewport()->installEventFilter(this);
}

FavoritesListDragging::~FavoritesListDragging() = default;

QStringList FavoritesListDragging::localPaths(const QMimeData *data) {
    QStringList paths;
    if (data && data->hasUrls())
        for (const QUrl &url : data->urls())
            if (url.isLocalFile())
                paths.append(url.toLocalFile());
    return paths;
}

// The row the dragged favorite has now, -1 when it is not in this list (any more).
int FavoritesListDragging::draggedRow(const QMimeData *data) const {
    const auto dragged = ZNTFavoritePasteboardWriter::draggedFavorite(data);
    if (!dragged || dragged->tableView != reinterpret_cast<quintptr>(m_table.data()))
        return -1;
    const auto &favorites = m_model->favorites();
    for (std::size_t i = 0; i < favorites.size(); ++i)
        if (favorites[i]->objectID() == dragged->favoriteID)
            return int(i) + 1;
    return -1;
}

FavoritesDropLogic::Validation FavoritesListDragging::validateDrop(const QMimeData *data, int proposedRow) const {
    const int count = int(m_model->favorites().size());
    // A dragged favorite is preferred over the file it also offers.
    if (ZNTFavoritePasteboardWriter::draggedFavorite(data)) {
        const int row = draggedRow(data);
        return FavoritesDropLogic::validateDrop(proposedRow, count, FavoritesDropLogic::DraggedFavorite{row > 0, row},
                                                {});
    }
    return FavoritesDropLogic::validateDrop(proposedRow, count, std::nullopt, localPaths(data));
}

bool FavoritesListDragging::acceptDrop(const QMimeData *data, int proposedRow) {
    const FavoritesDropLogic::Validation v = validateDrop(data, proposedRow);
    if (v.operation == Operation::Move)
        return m_actions.moveFavorite && m_actions.moveFavorite(draggedRow(data), v.row);
    if (v.operation == Operation::Copy) {
        if (m_actions.importFiles)
            m_actions.importFiles(localPaths(data), v.row);
        return true;
    }
    return false;
}

int FavoritesListDragging::proposedRowAt(const QPoint &pos) const {
    const QModelIndex index = m_table->indexAt(pos);
    if (!index.isValid())
        return pos.y() < 0 ? 0 : m_model->rowCount();
    // The upper half of a row drops above it, the lower half above the next.
    const QRect rect = m_table->visualRect(index);
    return pos.y() < rect.center().y() ? index.row() : index.row() + 1;
}

void FavoritesListDragging::showIndicator(int row) {
    m_dropRow = row;
    if (row < 0) {
        m_indicator->hide();
        return;
    }
    const QModelIndex index = m_model->index(qMin(row, m_model->rowCount() - 1));
    const QRect rect = m_table->visualRect(index);
    const int y = row < m_model->rowCount() ? rect.top() : rect.bottom();
    // Between two pads, across their width.
    m_indicator->setGeometry(10, qMax(0, y - 1), m_table->viewport()->width() - 20, 3);
    m_indicator->show();
    m_indicator->raise();
}

bool FavoritesListDragging::handleDragOver(QDropEvent *event) {
    const int proposed = proposedRowAt(event->position().toPoint());
    const FavoritesDropLogic::Validation v = validateDrop(event->mimeData(), proposed);
    if (v.operation == Operation::None) {
        showIndicator(-1);
        event->ignore();
        return true;
    }
    event->setDropAction(v.operation == Operation::Move ? Qt::MoveAction : Qt::CopyAction);
    event->accept();
    showIndicator(v.row);
    return true;
}

// A move within the list needs nothing of the keyring: the passwords are read
// only when another program asks for the file, and nothing of the favorite
// changes for it.
void FavoritesListDragging::beginDrag(int row) {
    const std::shared_ptr<ZNTFavorite> favorite = m_model->favoriteAtRow(row);
    if (!favorite)
        return;
    const QPixmap image = m_table->viewport()->grab(m_table->visualRect(m_model->index(row)));
    std::weak_ptr<ZNTFavorite> weak = favorite;
    auto items = [weak]() -> QList<FavoriteFileWriting::Item> {
        auto dragged = weak.lock();
        if (!dragged || dragged->isDeleted())
            return {};
        return ZNTFavoriteFiles::itemsWaiting({dragged}, ZNTFavoriteFile::IncludePasswords, FilePasswordLimit);
    };
    m_startDrag(new ZNTFavoritePasteboardWriter(m_table.data(), favorite->objectID(), items, m_actions.presentError),
                image);
}

bool FavoritesListDragging::eventFilter(QObject *watched, QEvent *event) {
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        const int row = m_table->indexAt(mouse->position().toPoint()).row();
        m_pressedRow = mouse->button() == Qt::LeftButton && m_model->isFavoriteRow(row) ? row : -1;
        m_pressPos = mouse->position().toPoint();
        break;
    }
    case QEvent::MouseMove: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (m_pressedRow < 0 || !(mouse->buttons() & Qt::LeftButton) ||
            (mouse->position().toPoint() - m_pressPos).manhattanLength() < QApplication::startDragDistance())
            break;
        const int row = std::exchange(m_pressedRow, -1);
        beginDrag(row);
        return true;
    }
    case QEvent::MouseButtonRelease:
        m_pressedRow = -1;
        break;
    case QEvent::DragEnter:
    case QEvent::DragMove:
        return handleDragOver(static_cast<QDropEvent *>(event));
    case QEvent::DragLeave:
        showIndicator(-1);
        return true;
    case QEvent::Drop: {
        auto *drop = static_cast<QDropEvent *>(event);
        showIndicator(-1);
        const int proposed = proposedRowAt(drop->position().toPoint());
        const FavoritesDropLogic::Validation v = validateDrop(drop->mimeData(), proposed);
        if (acceptDrop(drop->mimeData(), proposed)) {
            drop->setDropAction(v.operation == Operation::Move ? Qt::MoveAction : Qt::CopyAction);
            drop->accept();
        } else {
            drop->ignore();
        }
        return true;
    }
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
