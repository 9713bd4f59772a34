#pragma once

#include "FavoriteFileWriting.h"

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

class ZNTFavorite;

// Favorites as they go into favorite files.
namespace ZNTFavoriteFiles {

// What a favorite puts into its file, from what it holds in memory: the
// passwords with option 1, the history with option 2. main thread
ZNTFavoriteFile::Contents contents(ZNTFavorite &favorite, quint32 options);

// The favorites' files as the export writes them, in the order given. With
// option 1 the passwords not in memory are read from the secret store first
// (off the main thread), without changing the favorites; a favorite whose
// password could not be read carries that error instead of a file without its
// password. done runs on the main thread.
void gatherItems(const std::vector<std::shared_ptr<ZNTFavorite>> &favorites, quint32 options,
                 std::function<void(QList<FavoriteFileWriting::Item>)> done);
// The same at once, for a drop target that asks for the files of a drag: the
// secret store is read off the main thread, which waits for it at most limit
// per favorite.
QList<FavoriteFileWriting::Item> itemsWaiting(const std::vector<std::shared_ptr<ZNTFavorite>> &favorites,
                                              quint32 options, std::chrono::milliseconds limit);

} // namespace ZNTFavoriteFiles
