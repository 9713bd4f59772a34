#pragma once

#include "ZNTTableViewController.h"
#include "uikit/ZNTControlledView.h"
#include "uikit/ZNTPopover.h"

#include <QPointer>
#include <memory>

class ZNTRow;
class ZNTTable;

// Posted when a row of the picker is double-clicked; object: the popover,
// user info "pickedRow": the row (std::shared_ptr<ZNTRow>) with its values as
// loaded.
inline const QString ZNTForeignTablePopoverPickedRowNotification =
    QStringLiteral("ZNTForeignTablePopoverPickedRowNotification");
inline const QString ZNTForeignTablePopoverPickedRowKey = QStringLiteral("pickedRow");

// The content of the picker: a 500 x 400 view holding a table page with its
// compact pager and status bar under it. The page is owned here.
class ZNTForeignTablePopupViewController : public QObject {
    Q_OBJECT
public:
    explicit ZNTForeignTablePopupViewController(QObject *parent = nullptr);
    ~ZNTForeignTablePopupViewController() override;

    ZNTControlledView *view() const { return m_view; }
    // Replaces the page shown; the former one goes.
    void setContainedViewController(ZNTTableViewController *controller);
    ZNTTableViewController *containedViewController() const { return m_containedViewController; }

private:
    QPointer<ZNTControlledView> m_view;
    ZNTTableViewController *m_containedViewController = nullptr;
};

// The row picker of the foreign-key cell: a popover with a read-only page of
// the referenced table (it adds, duplicates and deletes nothing), in which a
// double-click picks a row. A click outside or Escape closes it. main thread
class ZNTForeignTablePopover : public ZNTPopover, public ZNTTableViewControllerDoubleDelegate {
    Q_OBJECT
public:
    ZNTForeignTablePopover(const std::shared_ptr<ZNTTable> &table, QWidget *parent);
    ~ZNTForeignTablePopover() override;

    ZNTTableViewController *tableViewController() const;
    void tableViewControllerDidDoubleClickRow(ZNTTableViewController *controller,
                                              const std::shared_ptr<ZNTRow> &row) override;

private:
    ZNTForeignTablePopupViewController *m_contentViewController;
};
