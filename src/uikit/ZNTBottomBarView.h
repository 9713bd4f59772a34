#pragma once

#include <QWidget>

// The bar along the bottom of a page (pager, status, save buttons): a soft
// vertical gradient under a dark and a light line. main thread
class ZNTBottomBarView : public QWidget {
    Q_OBJECT
public:
    explicit ZNTBottomBarView(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};
