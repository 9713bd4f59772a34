#pragma once

#include "ZNTConstraintView.h"
#include "engine/SQLExpression.h"
#include "model/ZNTColumnDefinition.h"
#include "model/ZNTTableSchemaModel.h"

#include <QList>
#include <QWidget>
#include <memory>
#include <optional>

class CommentTextField;
class DefaultPopUpButton;
class ZNTColumnDeleteButton;
class ZNTConstraintButton;
class ZNTTable;
class ZNTTableSchemaColumnView;
class ZNTTableSchemaColumnViewTextFieldView;

class ZNTTableSchemaColumnViewDelegate {
public:
    virtual ~ZNTTableSchemaColumnViewDelegate() = default;
    virtual void tableSchemaColumnViewDidBeginEditing(ZNTTableSchemaColumnView *row) = 0;
    virtual void tableSchemaColumnViewDidEndEditing(ZNTTableSchemaColumnView *row) = 0;
};

// The widths every row of a structure page gives its parts, so that the parts
// stand in columns under the page's header labels.
struct ZNTColumnRowWidths {
    int name = 0;
    int type = 0;
    int defaultPopup = 0;
    int defaultField = 0;
    int strip = 0;
};

// One column of the structure page: its name, type, default (kind and value)
// and constraint pills in one box of four compartments, the column comment
// under it, and for a table a button that marks the column for deletion (the
// row is then struck through). The row keeps no model: it reads its column
// back from its fields (editedColumn) and hands out copies of its constraints
// (editedConstraints); the page compares and records. Views show the name and
// type read-only; a materialized view its type. main thread
class ZNTTableSchemaColumnView : public QWidget, public ZNTConstraintViewDelegate {
    Q_OBJECT
public:
    // originalColumn: what this row's constraints name (the loaded column's
    // definition, or a new column's placeholder); originalConstraints: the
    // loaded constraints the first pills pair with, none for a new column.
    ZNTTableSchemaColumnView(std::shared_ptr<ZNTTable> table, const ZNTColumnDefinition &column,
                             std::shared_ptr<ZNTColumnDefinition> originalColumn, const ZNTConstraintList &constraints,
                             std::optional<ZNTConstraintList> originalConstraints, QWidget *parent = nullptr);

    std::shared_ptr<ZNTTable> table() const { return m_table; }
    std::shared_ptr<ZNTColumnDefinition> originalColumn() const { return m_originalColumn; }
    const ZNTConstraintList &originalConstraints() const { return m_originalConstraints; }
    void setDelegate(ZNTTableSchemaColumnViewDelegate *delegate) { m_delegate = delegate; }

    QString name() const;
    QString typeName() const;
    QString comment() const;
    // A generated or identity column has none (its generation is no default).
    SQLExpression defaultExpression() const;
    // The server fills the column itself: its default cannot be edited.
    bool isFilledByServer() const;
    static QString generationClause(const ZNTColumn &column);
    bool markedForDeletion() const { return m_markedForDeletion; }
    // A new definition from the fields.
    std::shared_ptr<ZNTColumnDefinition> editedColumn() const;
    void setEditedColumn(const ZNTColumnDefinition &column);
    // Fresh copies of the row's constraints.
    ZNTConstraintList editedConstraints() const;
    void setEditedConstraints(const ZNTConstraintList &constraints);

    // Actions.
    void deleteColumn();
    void defaultPopupChanged();
    void defaultFieldChanged();
    void addConstraint(ZNTConstraint::Type type);
    void insertConstraintViewForConstraint(const ZNTConstraint &constraint);
    void constraintViewDidEndEditing(ZNTConstraintView *pill) override;

    // The parts; firstView is the name field.
    ZNTTableSchemaColumnViewTextFieldView *titleField() const { return m_titleField; }
    ZNTTableSchemaColumnViewTextFieldView *typeField() const { return m_typeField; }
    ZNTTableSchemaColumnViewTextFieldView *defaultField() const { return m_defaultField; }
    DefaultPopUpButton *defaultPopup() const { return m_defaultPopup; }
    QWidget *constraintsView() const { return m_constraintsView; }
    ZNTConstraintButton *constraintButton() const { return m_constraintButton; }
    CommentTextField *commentField() const { return m_commentField; }
    ZNTColumnDeleteButton *deleteButton() const { return m_deleteButton; }
    QList<ZNTConstraintView *> constraintViews() const { return m_constraintViews; }
    QWidget *firstView() const;
    QWidget *lastView() const { return m_constraintsView; }

    // Layout: the widths the row's parts would like, and those the page gives.
    ZNTColumnRowWidths naturalWidths() const;
    void setColumnWidths(const ZNTColumnRowWidths &widths);
    int heightForWidth(int width) const override;
    bool hasHeightForWidth() const override { return true; }
    QSize sizeHint() const override;
    // Where the box's compartments start (the header labels follow them).
    int typeLeft() const;
    int defaultLeft() const;
    int stripLeft() const;
    static constexpr int kNameLeft = 26;
    static constexpr int kGap = 9;      // between compartments
    static constexpr int kPopupGap = 4; // between the default popup and its field

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void buildUi(const ZNTColumnDefinition &column, const ZNTConstraintList &constraints);
    void connectActions();
    void watch(QWidget *field);
    void layOutChildren();
    void layOutStrip();
    QRect boxRect() const;
    int fieldHeight() const;
    void beganEditing();
    void endedEditing();
    void removePill(qsizetype index);
    void partsChanged();

    std::shared_ptr<ZNTTable> m_table;
    std::shared_ptr<ZNTColumnDefinition> m_originalColumn;
    ZNTConstraintList m_originalConstraints;
    ZNTConstraintList m_constraints; // one per pill, edited in place
    QList<ZNTConstraintView *> m_constraintViews;
    ZNTTableSchemaColumnViewDelegate *m_delegate = nullptr;
    bool m_markedForDeletion = false;
    ZNTColumn m_filledByServer; // the shown column's identity and generation
    ZNTColumnRowWidths m_widths;
    mutable std::optional<ZNTColumnRowWidths> m_natural; // until a part changes its size

    ZNTTableSchemaColumnViewTextFieldView *m_titleField = nullptr;
    ZNTTableSchemaColumnViewTextFieldView *m_typeField = nullptr;
    ZNTTableSchemaColumnViewTextFieldView *m_defaultField = nullptr;
    DefaultPopUpButton *m_defaultPopup = nullptr;
    QWidget *m_constraintsView = nullptr;
    ZNTConstraintButton *m_constraintButton = nullptr;
    CommentTextField *m_commentField = nullptr;
    ZNTColumnDeleteButton *m_deleteButton = nullptr;
};
