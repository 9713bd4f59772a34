#pragma once

#include "ZNTForeignKeyStrip.h"
#include "ZNTRowValueCell.h"
#include "platform/NotificationCenter.h"
#include "uikit/ZNTBeveledTextField.h"

#include <QList>
#include <QPointer>
#include <QWidget>

class QLabel;
class ZNTColumnNameLabel;
class QScrollArea;
class QToolButton;
class ZNTAnimatingIndicator;
class ZNTRow;

// A read-only field of the foreign-key strip that draws its value as the
// grid draws a cell (NULL, DEFAULT, binary data and booleans alike).
class ZNTForeignValueField : public ZNTBeveledTextField {
    Q_OBJECT
public:
    explicit ZNTForeignValueField(QWidget *parent = nullptr);
    void setValue(const Value &value, bool hasValue);
    bool hasValue() const { return m_hasValue; }
    Value value() const { return m_value; }
    // What the field shows ("" without a value).
    QString shownText() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    Value m_value;
    bool m_hasValue = false;
};

// The row editor's cell for a column that is the single column of a foreign
// key: a strip of the referenced row's columns, labelled, in which the key
// column's field holds the edited row's value (typed into; Escape takes the
// typing back) and the others the referenced row's values, empty until it has
// loaded. A select button, titled with the referenced table's name, picks
// another row from a list of that table; an edit button opens the referenced
// row on a page of its own. main thread
class ZNTForeignKeyCell : public QWidget, public ZNTRowValueCell {
    Q_OBJECT
public:
    static inline const QString Identifier = QStringLiteral("ForeignKeyCell");

    // The strip's height: 51 points, and a scroll bar's width where scroll
    // bars take room of their own.
    static int scrollViewHeight();
    // The row height of the cell.
    static int defaultHeight();

    explicit ZNTForeignKeyCell(ZNTRowValueCellDelegate *delegate, QWidget *parent = nullptr);
    ~ZNTForeignKeyCell() override;

    QWidget *cellWidget() override { return this; }
    void setColumn(const std::shared_ptr<ZNTColumn> &column) override;
    std::shared_ptr<ZNTColumn> column() const override { return m_column; }
    void setObjectValue(const Value &value) override;
    Value objectValue() const override { return m_value; }
    void setEditable(bool editable) override;
    void abandonEditing() override;
    QList<QWidget *> keyViews() const override;
    // Whether the buttons act (not while the row editor's editing is disabled).
    void setActionsEnabled(bool enabled);

    // The referenced columns' attribute numbers (the key's foreignAttnums).
    void setKeyAttnums(const QList<qint64> &attnums) { m_keyAttnums = attnums; }
    // Shows row (a ZNTAsynchronousRow loads on; a picked row is whole) and
    // rebuilds the strip.
    void setForeignRow(const std::shared_ptr<ZNTRow> &row);
    std::shared_ptr<ZNTRow> foreignRow() const { return m_foreignRow; }
    bool foreignRowEditable() const { return m_foreignRowEditable; }
    bool didBeginEditing() const { return m_didBeginEditing; }

    ZNTBeveledTextField *textField() const { return m_keyField; }
    QList<ZNTBeveledTextField *> headerFields() const { return m_headerFields; }
    QList<ZNTBeveledTextField *> dataFields() const { return m_dataFields; }
    QToolButton *selectButton() const { return m_selectButton; }
    QToolButton *editButton() const { return m_editButton; }
    ZNTAnimatingIndicator *progressIndicator() const { return m_progressIndicator; }
    QScrollArea *foreignTableScrollView() const { return m_scrollView; }

    // Escape while the key is typed: the typing is taken back.
    void cancelOperation();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void applyKeyColour();
    void buildUi();
    void connectActions();
    void remakeTable();
    void placeStrip(const QList<int> &widths);
    void clearDataFields();
    void showKeyValue();
    void rowLoaded();
    void textFieldDidBecomeFirstResponder();
    void textFieldDidBeginEditing();
    void textFieldDidEndEditing();
    void updateButtons();
    void post(const QString &name);

    ZNTRowValueCellDelegate *m_delegate;
    std::shared_ptr<ZNTColumn> m_column;
    Value m_value;
    std::shared_ptr<ZNTRow> m_foreignRow;
    QList<qint64> m_keyAttnums;
    ObserverToken m_loadingObserver;
    ObserverToken m_focusObserver;
    bool m_didBeginEditing = false;
    bool m_foreignRowEditable = false;
    bool m_editable = false;
    bool m_actionsEnabled = true;
    bool m_showsPlaceholder = false;

    ZNTColumnNameLabel *m_nameLabel = nullptr;
    ZNTAnimatingIndicator *m_progressIndicator = nullptr;
    QToolButton *m_selectButton = nullptr;
    QToolButton *m_editButton = nullptr;
    QScrollArea *m_scrollView = nullptr;
    QWidget *m_strip = nullptr;
    ZNTBeveledTextField *m_keyField = nullptr;
    QList<ZNTBeveledTextField *> m_headerFields;
    QList<ZNTBeveledTextField *> m_dataFields;
    // Fields of earlier strips, kept for the next one.
    QList<ZNTBeveledTextField *> m_spareHeaders;
    QList<ZNTForeignValueField *> m_spareValues;
};
