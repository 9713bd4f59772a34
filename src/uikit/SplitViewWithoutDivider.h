#pragma once

#include <QSplitter>

// A splitter whose panes meet edge to edge: no divider is drawn and none
// takes room. main thread
class SplitViewWithoutDivider : public QSplitter {
    Q_OBJECT
public:
    explicit SplitViewWithoutDivider(Qt::Orientation orientation = Qt::Horizontal, QWidget *parent = nullptr)
        : QSplitter(orientation, parent) {
        setHandleWidth(0);
        setChildrenCollapsible(false);
    }
};
