#pragma once

#include "uikit/ZNTAutosizingTextField.h"

#include <QAbstractButton>
#include <QPointer>
#include <QStringList>

class QLineEdit;
class QPlainTextEdit;
class ZNTEditingTracker;

// The controls of a column row of the structure page. Each reports when the
// user begins editing it (the first change typed) and when that editing ends
// (the focus leaves, or Return), which is when the page records the edit.
// main thread

// Tells of the user's editing of a line edit or plain-text editor: begun with
// the first change typed, ended when the focus leaves it (or by Return, in a
// line edit). Changes made by the program do not count (for a plain-text
// editor: call markUnedited() after setting its text). A child of the field.
class ZNTEditingTracker : public QObject {
    Q_OBJECT
public:
    explicit ZNTEditingTracker(QLineEdit *field);
    explicit ZNTEditingTracker(QPlainTextEdit *editor);
    bool isEditing() const { return m_isEditing; }
    void markUnedited();

signals:
    void didBeginEditing();
    void didEndEditing();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void begin();
    void end();
    QPlainTextEdit *m_editor = nullptr;
    bool m_isEditing = false;
};

// The name, type and default fields: no box of their own (the row draws one
// around all of them), as wide as their text. Announces
// NSTextFieldDidBecomeFirstResponder when it takes the focus.
class ZNTTableSchemaColumnViewTextFieldView : public ZNTAutosizingTextField {
    Q_OBJECT
public:
    explicit ZNTTableSchemaColumnViewTextFieldView(QWidget *parent = nullptr);
    bool isEditing() const;

signals:
    void didBeginEditing();
    void didEndEditing();

protected:
    void focusInEvent(QFocusEvent *event) override;

private:
    ZNTEditingTracker *m_tracker;
};

// The column comment under the row: its text wrapped to the row's width, faint;
// empty and not being edited, it takes no room. "Column Comment" shows while
// it is edited. Return ends the editing, Shift+Return breaks the line.
//
// A page may show a thousand of these: the text editor is made when the field
// first takes the focus, and until then the field draws the text itself.
class CommentTextField : public QWidget {
    Q_OBJECT
public:
    explicit CommentTextField(QWidget *parent = nullptr);

    QString text() const;
    void setText(const QString &text);
    QString placeholder() const { return m_placeholder; }
    bool isEditing() const { return m_isEditing; }
    // The editor, once made.
    QPlainTextEdit *editor() const { return m_editor; }

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;

signals:
    void didBeginEditing();
    void didEndEditing();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void makeEditor();
    void endEditing();
    QColor textColor() const;

    QString m_text; // until the editor is made
    QString m_placeholder = QStringLiteral("Column Comment");
    QPlainTextEdit *m_editor = nullptr;
    bool m_isEditing = false;
    bool m_settingText = false;
    mutable QPair<int, int> m_heightCache = {-1, 0}; // width, height; the text and focus as they are
};

// The default kind of a column: "no default", "constant", "expression",
// "sequence" (index = SQLExpression kind). A small button that draws itself;
// a click, Space or Alt+Down opens the list, Up and Down step through it.
class DefaultPopUpButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit DefaultPopUpButton(QWidget *parent = nullptr);

    static const QStringList &itemTitles();
    int currentIndex() const { return m_index; }
    // Shows index without announcing it.
    void setCurrentIndex(int index);
    QSize sizeHint() const override;

signals:
    // The user chose index (also the one shown already).
    void activated(int index);

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void showList();
    void choose(int index);
    int m_index = 0;
};

// The small round button of a table's column row that marks the column to be
// dropped; its frame shows while the mouse is over it or it has the focus.
class ZNTColumnDeleteButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit ZNTColumnDeleteButton(QWidget *parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
};

// The height of text wrapped at width in font, every line break kept.
int wrappedTextHeight(const QString &text, const QFont &font, int width);
