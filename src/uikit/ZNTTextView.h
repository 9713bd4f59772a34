#pragma once

#include <QSizeF>
#include <QString>
#include <QTextEdit>

class ZNTTextView;

// Posted when a ZNTTextView takes the focus; object: the text view (compare
// with Notification::object.get()), no user info.
inline const QString ZNTTextViewDidBecomeFirstResponder = QStringLiteral("ZNTTextViewDidBecomeFirstResponder");

// Lets the owner of a text view scroll for it, for instance a list that holds
// self-sizing text views and must move the caret's row into sight.
class ZNTTextViewScrollDelegateProtocol {
public:
    virtual ~ZNTTextViewScrollDelegateProtocol() = default;
    // true: the delegate has scrolled; the text view does nothing more.
    virtual bool textViewScrollRangeToVisible(ZNTTextView *textView, int location, int length) = 0;
};

// A plain-text view for values of table rows: announces when it takes the
// focus, keeps a top-right corner for a button (the pointer there is an arrow,
// not the text beam) and lets its scroll delegate show the caret. main thread
class ZNTTextView : public QTextEdit {
    Q_OBJECT
public:
    explicit ZNTTextView(QWidget *parent = nullptr);

    void setBlankTopRightCornerSize(QSizeF size);
    QSizeF blankTopRightCornerSize() const { return m_corner; }
    // Not owned; the delegate must outlive the view or be unset first.
    void setScrollDelegate(ZNTTextViewScrollDelegateProtocol *delegate) { m_scrollDelegate = delegate; }
    ZNTTextViewScrollDelegateProtocol *scrollDelegate() const { return m_scrollDelegate; }

    // Brings the text range into sight: the delegate's job when it takes it.
    void scrollRangeToVisible(int location, int length);
    // Whether the point (viewport coordinates) lies in the blank corner.
    bool isInBlankCorner(QPointF point) const;

signals:
    // The view moved or changed size; owners grow rows with it.
    void frameChanged();

protected:
    void focusInEvent(QFocusEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void moveEvent(QMoveEvent *event) override;

private:
    void updatePointer(QPointF position);

    QSizeF m_corner;
    ZNTTextViewScrollDelegateProtocol *m_scrollDelegate = nullptr;
};
