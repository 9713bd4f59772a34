#pragma once

#include "uikit/ZNTTextViewCell.h"

#include <QIcon>
#include <memory>

class QLabel;
class QToolButton;
class ZNTAnimatingIndicator;
class ZNTMenuWithOwner;
class ZNTTerminalQuery;
class ZNTTerminalResult;
class ZNTTerminalSegmentedControl;

// The rows of the terminal's transcript that show text: the editable query,
// an executed query and a result without rows. Each is a text view cell with
// its own metrics; the page wires their buttons. main thread

// The icon of a result type, "success", "notice" or "error", drawn in code;
// null for any other type.
namespace TerminalResultImages {
QIcon icon(const QString &resultType);
}

// The last row: the query being written, in a box drawn like a text field,
// with the history and file buttons above it and the execute button below.
class ZNTTerminalEditableQueryView : public ZNTTextViewCell {
    Q_OBJECT
public:
    static qreal defaultTextFieldMinHeight() { return 50; }
    static QMarginsF defaultTextFieldInsets() { return {21, 36, 21, 36}; } // left, top, right, bottom
    static qreal defaultHeight() {
        return ZNTTextViewCell::defaultHeight({defaultTextFieldMinHeight(), defaultTextFieldInsets()});
    }

    explicit ZNTTerminalEditableQueryView(QWidget *parent = nullptr);

    // The editable query the row shows; its text is put in the text view.
    void setQuery(const std::shared_ptr<ZNTTerminalQuery> &query);
    const std::shared_ptr<ZNTTerminalQuery> &query() const { return m_query; }
    // Follows the query: its text is read-only while it is busy.
    void refresh();
    bool isEditing() const { return m_editing; }

    QToolButton *executeButton() const { return m_executeButton; }
    // Segment 0 steps back in the history, segment 1 forward.
    ZNTTerminalSegmentedControl *historyPagerControl() const { return m_historyPagerControl; }
    QToolButton *loadButton() const { return m_loadButton; }
    QToolButton *saveButton() const { return m_saveButton; }
    QToolButton *clearDisplayButton() const { return m_clearDisplayButton; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildUi();
    void textviewDidBeginEditing();
    void textviewDidEndEditing();

    std::shared_ptr<ZNTTerminalQuery> m_query;
    bool m_editing = false;
    QWidget *m_topBar = nullptr;
    QWidget *m_bottomBar = nullptr;
    QToolButton *m_executeButton = nullptr;
    ZNTTerminalSegmentedControl *m_historyPagerControl = nullptr;
    QToolButton *m_loadButton = nullptr;
    QToolButton *m_saveButton = nullptr;
    QToolButton *m_clearDisplayButton = nullptr;
};

// A query that has run: its text in bold, its state above it (spinner,
// elapsed time, run again, cancel, a menu to save or clear it) and the
// summary of its run below it. Its results are the rows that follow.
class ZNTTerminalExecutedQueryCell : public ZNTTextViewCell {
    Q_OBJECT
public:
    static qreal defaultTextFieldMinHeight() { return ZNTTextViewCell::defaultTextFieldMinHeight(); }
    static QMarginsF defaultTextFieldInsets() { return {14, 30, 14, 41}; }

    explicit ZNTTerminalExecutedQueryCell(QWidget *parent = nullptr);

    void setQuery(const std::shared_ptr<ZNTTerminalQuery> &query);
    const std::shared_ptr<ZNTTerminalQuery> &query() const { return m_query; }
    // Shows the query's state, status and summary anew.
    void refresh();

    QToolButton *executeButton() const { return m_executeButton; }
    QToolButton *cancelButton() const { return m_cancelButton; }
    QToolButton *actionButton() const { return m_actionButton; }
    // The row's menu; its owner is this row.
    ZNTMenuWithOwner *rowMenu() const { return m_rowMenu; }
    QAction *saveAction() const { return m_saveAction; }
    QAction *clearAction() const { return m_clearAction; }
    QLabel *statusLabel() const { return m_statusLabel; }
    QLabel *queryStateLabel() const { return m_queryStateLabel; }
    ZNTAnimatingIndicator *progressIndicator() const { return m_progressIndicator; }

protected:
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void buildUi();

    std::shared_ptr<ZNTTerminalQuery> m_query;
    QWidget *m_topBar = nullptr;
    ZNTAnimatingIndicator *m_progressIndicator = nullptr;
    QLabel *m_statusLabel = nullptr;
    QLabel *m_queryStateLabel = nullptr;
    QToolButton *m_executeButton = nullptr;
    QToolButton *m_cancelButton = nullptr;
    QToolButton *m_actionButton = nullptr;
    ZNTMenuWithOwner *m_rowMenu = nullptr;
    QAction *m_saveAction = nullptr;
    QAction *m_clearAction = nullptr;
};

// A result without rows (a command's status, a notice, an error): the icon of
// its type and its message.
class ZNTIconAndTextViewCell : public ZNTTextViewCell {
    Q_OBJECT
public:
    static qreal defaultTextFieldMinHeight() { return 15; }
    static QMarginsF defaultTextFieldInsets() { return {36, 3, 14, 6}; }
    static qreal defaultHeight() {
        return ZNTTextViewCell::defaultHeight({defaultTextFieldMinHeight(), defaultTextFieldInsets()});
    }

    explicit ZNTIconAndTextViewCell(QWidget *parent = nullptr);

    // Shows the result's message (as plain text) and its type's icon.
    void setResult(const std::shared_ptr<ZNTTerminalResult> &result);
    const std::shared_ptr<ZNTTerminalResult> &result() const { return m_result; }
    QLabel *imageView() const { return m_imageView; }

private:
    std::shared_ptr<ZNTTerminalResult> m_result;
    QLabel *m_imageView = nullptr;
};
