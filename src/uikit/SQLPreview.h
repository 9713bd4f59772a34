#pragma once

#include <QFrame>
#include <QPointer>

class SQLPreviewPopoverViewController;
class SQLPreviewTextField;
class QToolButton;

enum class PopoverCloseReason { Standard, DetachToWindow };

// What a page that can show the SQL its saving would run supplies (the table
// browser, the structure editor). The defaults do what both pages do:
//
//     class TablePage : public QWidget, public SQLPreviewOwner {
//         QString sqlPreviewString() override { return pendingStatements(); }
//         QWidget *sqlPreviewView() override { return this; }
//     };
//     connect(previewButton, &QAbstractButton::clicked, this, [=] { showSQLPreview(previewButton); });
//     ... and whenever the pending changes change: refreshSQLPreviewPanel();
//
// main thread
class SQLPreviewOwner {
public:
    virtual ~SQLPreviewOwner() = default;

    // The whole SQL that saving would run now; empty for nothing.
    virtual QString sqlPreviewString() = 0;
    // The page: its window's editing ends before the SQL is read.
    virtual QWidget *sqlPreviewView() = 0;
    // false: nothing to preview (the structure editor without changes); the
    // button then beeps.
    virtual bool sqlPreviewCanShow() { return true; }

    // The preview button's action: closes a visible panel, else ends editing
    // (beeping when an editor refuses) and shows the SQL in a popover at sender.
    virtual void showSQLPreview(QWidget *sender);
    // The popover may be dragged off into the one preview panel.
    virtual bool popoverShouldDetach(SQLPreviewPopoverViewController *popover);
    // The window it becomes: the shared panel, showing the current SQL.
    virtual QWidget *detachableWindowForPopover(SQLPreviewPopoverViewController *popover);
    // After detaching, the panel comes to the front with the focus.
    virtual void popoverDidClose(SQLPreviewPopoverViewController *popover, PopoverCloseReason reason);

    // Call when the pending changes change: a visible panel follows them.
    void refreshSQLPreviewPanel();
};

// The transient popover with the SQL: closes on a click outside it or Escape;
// dragging it (or its detach button) turns it into the preview panel.
class SQLPreviewPopoverViewController : public QFrame {
    Q_OBJECT
public:
    SQLPreviewPopoverViewController(SQLPreviewOwner *owner, QWidget *parent);

    SQLPreviewTextField *sqlField() const { return m_sqlField; }
    // Above the anchor when there is room on its screen, else below it.
    void showRelativeTo(QWidget *anchor);
    // What dragging the popover off does.
    void detach();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    SQLPreviewOwner *m_owner;
    SQLPreviewTextField *m_sqlField = nullptr;
    QToolButton *m_detach = nullptr;
    QPoint m_pressAt;
    bool m_pressed = false;
    bool m_detaching = false;
    bool m_closed = false;
};

// The one free-standing SQL preview window of the program, made on first
// need and kept until the program ends.
class SQLPreviewPanelController {
public:
    static SQLPreviewPanelController *sharedController();
    // The shared controller while its window is visible; never makes one.
    static SQLPreviewPanelController *visibleController();

    QWidget *window() const { return m_window; }
    SQLPreviewTextField *sqlField() const { return m_sqlField; }
    void close();

private:
    SQLPreviewPanelController();

    QWidget *m_window = nullptr;
    SQLPreviewTextField *m_sqlField = nullptr;
};
