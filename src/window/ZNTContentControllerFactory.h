#pragma once

#include "model/ZNTObject.h"

#include <functional>
#include <memory>
#include <optional>

class ZNTContentController;

// The pages of the main window, one per kind of item it can show. Schemas and
// tablespaces have none.
enum class ZNTPage { Server, Database, Table, Row, Structure, Query, Terminal };

std::optional<ZNTPage> pageForItem(const ZNTObject &item);

// Makes the page of one item; null when it cannot show the item.
using ZNTPageFactory = std::function<ZNTContentController *(const std::shared_ptr<ZNTObject> &item)>;

// Where the window gets its pages. The layers above the window (the table
// browser, the query editor, the structure editor, the overview pages) install
// their factories at start-up; a page without one is a placeholder that names
// its item. main thread
namespace ZNTContentControllers {
// An empty factory puts the placeholder back.
void setFactory(ZNTPage page, ZNTPageFactory factory);
// A new page for item, owned by the caller; null for an item without a page.
ZNTContentController *controllerForItem(const std::shared_ptr<ZNTObject> &item);
} // namespace ZNTContentControllers
