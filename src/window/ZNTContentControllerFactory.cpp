#include "ZNTContentControllerFactory.h"

#include "ZNTPlaceholderPage.h"
#include "platform/ProgramError.h"

#include <array>

namespace {
std::array<ZNTPageFactory, 7> &factories() {
    static std::array<ZNTPageFactory, 7> all;
    return all;
}
} // namespace

std::optional<ZNTPage> pageForItem(const ZNTObject &item) {
    switch (item.objectKind()) {
    case ZNTObjectKind::Database:
        return ZNTPage::Database;
    case ZNTObjectKind::Table:
    case ZNTObjectKind::View:
    case ZNTObjectKind::MaterializedView:
        return ZNTPage::Table;
    case ZNTObjectKind::Server:
        return ZNTPage::Server;
    case ZNTObjectKind::Row:
        return ZNTPage::Row;
    case ZNTObjectKind::TableSchema:
        return ZNTPage::Structure;
    case ZNTObjectKind::QueryObject:
        return ZNTPage::Query;
    case ZNTObjectKind::Terminal:
        return ZNTPage::Terminal;
    case ZNTObjectKind::Schema:
    case ZNTObjectKind::Tablespace:
        break;
    }
    return std::nullopt;
}

void ZNTContentControllers::setFactory(ZNTPage page, ZNTPageFactory factory) {
    requireMainThread("ZNTContentControllers::setFactory");
    factories()[size_t(page)] = std::move(factory);
}

ZNTContentController *ZNTContentControllers::controllerForItem(const std::shared_ptr<ZNTObject> &item) {
    requireMainThread("ZNTContentControllers::controllerForItem");
    if (!item)
        return nullptr;
    const std::optional<ZNTPage> page = pageForItem(*item);
    if (!page)
        return nullptr;
    if (const ZNTPageFactory &factory = factories()[size_t(*page)])
        return factory(item);
    return new ZNTPlaceholderPage(item);
}
