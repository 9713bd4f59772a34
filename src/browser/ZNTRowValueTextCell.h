#pragma once

#include "ZNTRowValueCell.h"
#include "uikit/ZNTTextViewCell.h"

class QLabel;
class ZNTColumnNameLabel;
class QMenu;
class QToolButton;
class ZNTTextContainerWithCorner;

// The row editor's cell for a column that is not binary, not boolean and not
// the single column of a foreign key: the value as many-line text in a
// bezel, NULL, DEFAULT and MULTIPLE as grey words that clear when the field
// takes the focus, and a menu of special values by column type in the
// field's top-right corner (also Alt+Down). Tab and Shift+Tab move to the
// next and previous entry. main thread
class ZNTRowValueTextCell : public ZNTTextViewCell, public ZNTRowValueCell {
    Q_OBJECT
public:
    static qreal defaultTextFieldMinHeight() { return 15; }
    static QMarginsF defaultTextFieldInsets() { return {10, 22, 10, 5}; } // left, top, right, bottom
    static qreal defaultHeight() {
        return ZNTTextViewCell::defaultHeight({defaultTextFieldMinHeight(), defaultTextFieldInsets()});
    }
    static inline const QString Identifier = QStringLiteral("TextCell");

    explicit ZNTRowValueTextCell(QWidget *parent = nullptr);

    QWidget *cellWidget() override { return this; }
    void setColumn(const std::shared_ptr<ZNTColumn> &column) override;
    std::shared_ptr<ZNTColumn> column() const override { return m_column; }
    void setObjectValue(const Value &value) override;
    Value objectValue() const override { return m_value; }
    void setEditable(bool editable) override;
    void abandonEditing() override;
    QList<QWidget *> keyViews() const override;
    // A row of a view or a query: no typing, no menu, no corner kept free.
    void setReadOnlyRow(bool readOnly);

    bool didBeginEditing() const { return m_didBeginEditing; }
    QToolButton *actionButton() const { return m_actionButton; }
    QMenu *actionMenu() const { return m_menu; }
    // The menu as it would open now (entries shown and enabled).
    void menuNeedsUpdate();
    // Sets the value of a menu entry (by its tag) and reports it.
    void handleActionMenu(int tag);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void buildUi();
    void buildMenu();
    void connectActions();
    void display(const Value &value);
    void applyTextColour();
    void textviewDidBecomeFirstResponder();
    void textviewDidEndEditing();
    void textChanged();
    void placeActionButton();
    void updateEditability();
    void post(const QString &name);

    std::shared_ptr<ZNTColumn> m_column;
    Value m_value;
    ZNTColumnNameLabel *m_nameLabel = nullptr;
    QToolButton *m_actionButton = nullptr;
    QMenu *m_menu = nullptr;
    ZNTTextContainerWithCorner *m_container = nullptr;
    bool m_didBeginEditing = false;
    bool m_settingText = false;
    bool m_showsPlaceholder = false;
    bool m_isCut = false;
    bool m_editable = false;
    bool m_readOnlyRow = false;
};
