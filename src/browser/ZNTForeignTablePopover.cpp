#include "ZNTForeignTablePopover.h"

#include "model/ZNTRow.h"
#include "platform/NotificationCenter.h"
#include "uikit/BlockObservers.h"

#include <QVBoxLayout>

ZNTForeignTablePopupViewController::ZNTForeignTablePopupViewController(QObject *parent) : QObject(parent) {
    m_view = new ZNTControlledView;
    m_view->setViewController(this);
    m_view->setFixedSize(500, 400);
    auto *layout = new QVBoxLayout(m_view);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
}

// The page's views go with the page, before the view they sit in.
ZNTForeignTablePopupViewController::~ZNTForeignTablePopupViewController() {
    delete m_containedViewController;
}

void ZNTForeignTablePopupViewController::setContainedViewController(ZNTTableViewController *controller) {
    delete m_containedViewController;
    m_containedViewController = controller;
    if (!controller)
        return;
    controller->setParent(this);
    m_view->layout()->addWidget(controller->view());
    m_view->layout()->addWidget(controller->smallAccessoryView());
}

ZNTForeignTablePopover::ZNTForeignTablePopover(const std::shared_ptr<ZNTTable> &table, QWidget *parent)
    : ZNTPopover(parent), m_contentViewController(new ZNTForeignTablePopupViewController(this)) {
    auto *page = new ZNTTableViewController(table);
    page->setReadOnly(true);
    page->setDoubleDelegate(this);
    m_contentViewController->setContainedViewController(page);
    setContentView(m_contentViewController->view());
}

ZNTForeignTablePopover::~ZNTForeignTablePopover() {
    delete std::exchange(m_contentViewController, nullptr);
}

ZNTTableViewController *ZNTForeignTablePopover::tableViewController() const {
    return m_contentViewController ? m_contentViewController->containedViewController() : nullptr;
}

void ZNTForeignTablePopover::tableViewControllerDidDoubleClickRow(ZNTTableViewController *,
                                                                  const std::shared_ptr<ZNTRow> &row) {
    NotificationCenter::defaultCenter().post(ZNTForeignTablePopoverPickedRowNotification,
                                             unownedObject(static_cast<QWidget *>(this)),
                                             {{ZNTForeignTablePopoverPickedRowKey, row}});
}
