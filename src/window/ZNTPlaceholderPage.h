#pragma once

#include "ZNTContentController.h"

#include <memory>

class ZNTObject;

// The page of an item whose own page is not part of the program yet: it names
// the item and says so. main thread
class ZNTPlaceholderPage : public ZNTContentController {
    Q_OBJECT
public:
    explicit ZNTPlaceholderPage(std::shared_ptr<ZNTObject> item, QObject *parent = nullptr);

    std::shared_ptr<ZNTObject> item() const { return m_item; }
    // "The table page is not built yet."
    static QString noteForItem(const ZNTObject &item);

protected:
    QWidget *makeView() override;

private:
    std::shared_ptr<ZNTObject> m_item;
};
