#pragma once

#include <memory>

class ZNTColumn;
class ZNTDatabase;
class ZNTFavorite;

// What the query pages keep with the favorite their database's server was
// opened from. main thread
namespace QueryFavorite {

// None for a server that was not opened from a favorite.
std::shared_ptr<ZNTFavorite> of(const std::shared_ptr<ZNTDatabase> &database);

// The width the user gave a result column that is a table's column, as the
// table's page keeps it; 0 for none (an expression, a constant, no favorite).
double storedWidth(const std::shared_ptr<ZNTDatabase> &database, const ZNTColumn &column);

} // namespace QueryFavorite
