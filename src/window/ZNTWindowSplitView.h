#pragma once

#include <QSplitter>
#include <QSplitterHandle>

// The split view of a main window: its dividers report double clicks, which
// fit the navigation sidebar to its rows (a double click never collapses a
// pane). main thread
class ZNTWindowSplitView : public QSplitter {
    Q_OBJECT
public:
    explicit ZNTWindowSplitView(QWidget *parent = nullptr) : QSplitter(Qt::Horizontal, parent) {}

signals:
    // index: the divider's, 0 for the one right of the first pane.
    void dividerDoubleClicked(int index);

protected:
    QSplitterHandle *createHandle() override;
};

class ZNTWindowSplitHandle : public QSplitterHandle {
    Q_OBJECT
public:
    ZNTWindowSplitHandle(Qt::Orientation orientation, ZNTWindowSplitView *parent)
        : QSplitterHandle(orientation, parent), m_view(parent) {}

protected:
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    ZNTWindowSplitView *m_view;
};
