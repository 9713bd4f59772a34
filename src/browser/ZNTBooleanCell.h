#pragma once

#include "ZNTRowValueCell.h"

#include <QWidget>

class QComboBox;
class QLabel;
class ZNTColumnNameLabel;

// The row editor's cell for a boolean column: a pop-up of true, false, NULL
// and DEFAULT. Where the selected rows differ it shows a MULTIPLE entry that
// cannot be chosen, so that confirming what is shown changes none of them.
// main thread
class ZNTBooleanCell : public QWidget, public ZNTRowValueCell {
    Q_OBJECT
public:
    static inline const QString Identifier = QStringLiteral("BooleanCell");

    explicit ZNTBooleanCell(QWidget *parent = nullptr);

    QWidget *cellWidget() override { return this; }
    void setColumn(const std::shared_ptr<ZNTColumn> &column) override;
    std::shared_ptr<ZNTColumn> column() const override { return m_column; }
    void setObjectValue(const Value &value) override;
    Value objectValue() const override { return m_value; }
    void setEditable(bool editable) override;
    QList<QWidget *> keyViews() const override;

    QComboBox *popupButton() const { return m_popupButton; }
    // The tag of the entry shown (ZNTBooleanValue::Tag).
    int selectedTag() const;
    // The user chose the entry with tag: the value follows and is reported.
    void updateValue(int tag);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void buildUi();
    void select(int tag);

    std::shared_ptr<ZNTColumn> m_column;
    Value m_value;
    ZNTColumnNameLabel *m_nameLabel = nullptr;
    QComboBox *m_popupButton = nullptr;
};
