#pragma once

#include "model/ZNTConstraint.h"

#include <QAbstractButton>
#include <QPointer>
#include <memory>

class ConstraintPopoverController;
class ZNTConstraintView;
class ZNTPopover;
class ZNTTable;

class ZNTConstraintViewDelegate {
public:
    virtual ~ZNTConstraintViewDelegate() = default;
    // The pill's constraint may have changed (its popover closed, Delete marked
    // it). The delegate may remove the pill: it is deleted later.
    virtual void constraintViewDidEndEditing(ZNTConstraintView *pill) = 0;
};

// One constraint of a column row, as a small rounded pill: "NOT NULL",
// "PRIMARY KEY", "UNIQUE", a check's expression, "➜ table.column". A marked
// constraint is struck through. It edits the row's constraint object in place:
// Delete or Backspace marks it for deletion; a click, Return or Space opens
// the popover of a CHECK or FOREIGN KEY constraint, which hands its values
// back when it closes with its OK or Delete button. main thread
class ZNTConstraintView : public QAbstractButton {
    Q_OBJECT
public:
    // original: the loaded constraint this pill pairs with, null for a new one.
    ZNTConstraintView(std::shared_ptr<ZNTConstraint> original, std::shared_ptr<ZNTConstraint> edited,
                      std::shared_ptr<ZNTTable> table, QWidget *parent = nullptr);
    ~ZNTConstraintView() override;

    std::shared_ptr<ZNTConstraint> originalConstraint() const { return m_original; }
    std::shared_ptr<ZNTConstraint> editedConstraint() const { return m_edited; }
    std::shared_ptr<ZNTTable> table() const { return m_table; }
    void setDelegate(ZNTConstraintViewDelegate *delegate) { m_delegate = delegate; }
    // The open popover's content; null while none is open.
    ConstraintPopoverController *popoverController() const;
    ZNTPopover *popover() const { return m_popover; }

    // Opens the popover of a CHECK or FOREIGN KEY constraint (none for the
    // others, nor while one is open, nor when an edit elsewhere cannot end).
    void showPopover();
    // The popover's OK, Delete and Cancel buttons: it closes.
    void popoverSaved();
    // Gives the constraint back the values it had before its popover opened.
    void putBack();
    // Title and tool tip follow the constraint.
    void setNeedsDisplay();

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void popoverDidClose();
    QString referencedColumnName() const;

    std::shared_ptr<ZNTConstraint> m_original;
    std::shared_ptr<ZNTConstraint> m_edited;
    std::shared_ptr<ZNTConstraint> m_beforePopover;
    std::shared_ptr<ZNTTable> m_table;
    ZNTConstraintViewDelegate *m_delegate = nullptr;
    ZNTPopover *m_popover = nullptr;
    QPointer<ConstraintPopoverController> m_controller;
};

// The pull-down of a column row that adds a constraint: "Not NULL", "Primary
// Key", "Unique", "Foreign Key…", "Check…". A click, Space, Return or Alt+Down
// opens it. main thread
class ZNTConstraintButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit ZNTConstraintButton(QWidget *parent = nullptr);
    QSize sizeHint() const override;
    // The menu as it opens (made at each opening).
    static QList<QPair<QString, ZNTConstraint::Type>> items();

signals:
    void addConstraint(ZNTConstraint::Type type);

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void showMenu();
};

// The rounded shape of pills and buttons of the constraint strip, in the
// palette's text colour at the given strength (0 to 1).
void drawStripShape(QPainter &painter, const QRectF &box, const QPalette &palette, qreal stroke, qreal fill);
