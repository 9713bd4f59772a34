// The favorites window's side of favorite files: export, dragging favorites
// within and out of the list, and favorite files dropped in.
#include "FavoriteExportSheet.h"
#include "FavoritesDropLogic.h"
#include "FavoritesListDragging.h"
#include "ZNTFavorite.h"
#include "ZNTFavoriteFiles.h"
#include "ZNTFavoritesStore.h"
#include "ZNTFavoritesTable.h"
#include "ZNTFavoritesWindowController.h"
#include "platform/Main.h"
#include "platform/SerialQueue.h"
#include "platform/UserDefaults.h"
#include "uikit/Beep.h"
#include "uikit/WindowEditing.h"

#include <QFileDialog>

namespace {
// Dropped folders are searched here: a big tree must not stall the window.
SerialQueue &dropQueue() {
    static SerialQueue queue("norvane.Trellan.favoriteDrops");
    return queue;
}
} // namespace

void ZNTFavoritesWindowController::setUpDragging() {
    std::weak_ptr<ZNTFavoritesWindowController> weak = weak_from_this();
    FavoritesListDragging::Actions actions;
    actions.moveFavorite = [weak](int from, int above) {
        auto c = weak.lock();
        return c && c->moveFavorite(from, above);
    };
    actions.importFiles = [weak](const QStringList &paths, int above) {
        if (auto c = weak.lock())
            c->importFavoriteFiles(paths, above);
    };
    actions.presentError = [weak](const ErrorPtr &error) {
        if (auto c = weak.lock())
            c->presentError(error);
    };
    m_dragging = new FavoritesListDragging(m_table, m_model, std::move(actions));
}

void ZNTFavoritesWindowController::exportFavorite(int row) {
    const std::shared_ptr<ZNTFavorite> favorite = m_model->favoriteAtRow(row);
    if (!favorite) {
        beep();
        return;
    }
    exportFavorites({favorite});
}

void ZNTFavoritesWindowController::exportAllFavorites() {
    exportFavorites(m_model->favorites());
}

void ZNTFavoritesWindowController::exportFavorites(const std::vector<std::shared_ptr<ZNTFavorite>> &favorites) {
    QStringList names;
    for (const auto &favorite : favorites)
        names.append(favorite->displayName());
    auto gather = [favorites](quint32 options, std::function<void(QList<FavoriteFileWriting::Item>)> done) {
        ZNTFavoriteFiles::gatherItems(favorites, options, std::move(done));
    };
    m_favoriteExportPanel = ZNTFavoriteExporter::exportFavorites(m_window, names, gather, UserDefaults::standard());
}

bool ZNTFavoritesWindowController::moveFavorite(int from, int above) {
    const auto &favorites = m_model->favorites();
    if (!m_model->isFavoriteRow(from) || above < 1 || above > int(favorites.size()) + 1 || above == from ||
        above == from + 1)
        return false;
    if (!editObject(nullptr)) // beeps when the window keeps its editing
        return false;
    QList<qint32> orders;
    for (const auto &favorite : favorites)
        orders.append(favorite->order());
    int target = 0;
    const QList<qint32> moved = FavoritesDropLogic::ordersAfterMove(orders, from, above, &target);
    const std::vector<std::shared_ptr<ZNTFavorite>> before = favorites;
    for (std::size_t i = 0; i < before.size(); ++i)
        if (before[i]->order() != moved[qsizetype(i)])
            before[i]->setOrder(moved[qsizetype(i)]);
    reloadFavorites();
    m_table->selectRow(target);
    return true;
}

void ZNTFavoritesWindowController::importFavoriteFiles(const QStringList &paths, int above) {
    dropQueue().async([self = weak_from_this(), paths, above] {
        const QStringList files = FavoritesDropLogic::collectFavoriteFiles(paths);
        Main::post([self, files, above] {
            auto c = self.lock();
            if (!c || files.isEmpty())
                return;
            auto importer = ZNTFavoriteFileImporter::make();
            importer->setTargetIndex(above - 1);
            importer->setDelegate(c);
            importer->setWindow(c->m_window);
            for (const QString &file : files)
                importer->addFavoriteFile(file);
            importer->startImport();
        });
    });
}

void ZNTFavoritesWindowController::favoriteFileImporterDidFinish(ZNTFavoriteFileImporter &importer) {
    const QList<QVariantMap> &dictionaries = importer.parameterDictionaries();
    if (dictionaries.isEmpty() || !m_store->isOpen())
        return;
    editObject(nullptr); // the list is about to be laid out anew
    const std::vector<std::shared_ptr<ZNTFavorite>> existing = m_model->favorites();
    QList<qint32> orders;
    for (const auto &favorite : existing)
        orders.append(favorite->order());
    const FavoritesDropLogic::Placement place =
        FavoritesDropLogic::placeImported(orders, importer.targetIndex(), int(dictionaries.size()));
    std::shared_ptr<ZNTFavorite> imported;
    for (qsizetype i = 0; i < dictionaries.size(); ++i) {
        imported = m_store->insertFavorite();
        imported->takeParamsFromDictionary(dictionaries[i]);
        imported->setOrder(place.firstOrder + qint32(i));
    }
    for (qsizetype i = 0; i < place.ordersFromIndex.size(); ++i)
        existing[std::size_t(place.index + i)]->setOrder(place.ordersFromIndex[i]);
    reloadFavorites();
    if (dictionaries.size() == 1)
        editObject(imported);
    else
        m_table->selectRow(place.index + 1);
}
