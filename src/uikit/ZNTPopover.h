#pragma once

#include <QFrame>
#include <QPointer>

// A small panel anchored to a control (the go-to-page field, the row picker,
// the query history, a constraint's editor): it opens beside a rectangle of
// the anchor, above it when there is room on the screen (or below, when asked
// first or when there is no room above), and takes the keyboard focus.
// Escape closes it, and so do its own buttons (performClose()); a click
// outside closes it too unless closesOnOutsideClick is off, and then it holds
// the keys and the mouse until one of those closes it.
//
//     auto *popover = new ZNTPopover(page);       // kept and shown again
//     popover->setContentView(form);
//     connect(form, &Form::done, popover, &ZNTPopover::performClose);
//     popover->showRelativeToRect(segmentRect, pager, ZNTPopover::Edge::Above);
//
// It is a window of its own, owned by its parent widget. main thread
class ZNTPopover : public QFrame {
    Q_OBJECT
public:
    enum class Edge { Above, Below };

    explicit ZNTPopover(QWidget *parent = nullptr);

    // The popover takes ownership; a former content is deleted.
    void setContentView(QWidget *content);
    QWidget *contentView() const { return m_content; }
    void setClosesOnOutsideClick(bool closes) { m_closesOnOutsideClick = closes; }
    bool closesOnOutsideClick() const { return m_closesOnOutsideClick; }

    // rect is in anchor's coordinates; an empty rect stands for the anchor's
    // whole rectangle. The first widget of the content that takes the focus by
    // Tab gets it.
    void showRelativeToRect(const QRect &rect, QWidget *anchor, Edge preferredEdge = Edge::Above);
    bool isShown() const { return isVisible(); }

public slots:
    void performClose();

signals:
    // Once per showing, after it has gone (Escape, a button, a click outside,
    // or its window closing).
    void didClose();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    QPointer<QWidget> m_content;
    bool m_closesOnOutsideClick = true;
    bool m_open = false;
};
