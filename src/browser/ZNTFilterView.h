#pragma once

#include <QString>
#include <QWidget>

class QComboBox;
class QLineEdit;
class QToolButton;

// The filter bar's background: a soft body with a light edge along the top and
// the sides and a dark line along the bottom, the grid's border. main thread
class ZNTFilterSetView : public QWidget {
    Q_OBJECT
public:
    explicit ZNTFilterSetView(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

// One row of the filter bar: the left-hand popup (any column, SQL expression,
// the table's columns), the detail view of the filter's kind (an operator popup
// and a value field, as the kind has them) and the remove and add buttons.
// ZNTFilterController fills and wires it. main thread
class ZNTFilterView : public QWidget {
    Q_OBJECT
public:
    explicit ZNTFilterView(QWidget *parent = nullptr);

    // The row's index among the bar's filters.
    int tag() const { return m_tag; }
    void setTag(int tag) { m_tag = tag; }

    // Items carry their tag as item data (see FilterBarModel).
    QComboBox *popupButton() const { return m_popupButton; }
    QWidget *detailViewContainer() const { return m_detailViewContainer; }
    QToolButton *removeButton() const { return m_removeButton; }
    QToolButton *addButton() const { return m_addButton; }

    // Replaces the detail view by a new one of that name (a ZNTFilter detail
    // view name) offering those operators (item data: the operator code); an
    // empty name leaves the row without one.
    void loadDetailView(const QString &nibName, const QList<int> &operators);
    QString detailViewNibName() const { return m_detailViewNibName; }
    QWidget *detailView() const { return m_detailView; }
    // Null in a detail view without one (SQL expression).
    QComboBox *detailOperatorPopupButton() const { return m_detailOperatorPopupButton; }
    QLineEdit *detailTextField() const { return m_detailTextField; }

private:
    void buildUi();
    void clearDetailView();

    int m_tag = 0;
    QComboBox *m_popupButton = nullptr;
    QWidget *m_detailViewContainer = nullptr;
    QToolButton *m_removeButton = nullptr;
    QToolButton *m_addButton = nullptr;
    QString m_detailViewNibName;
    QWidget *m_detailView = nullptr;
    QComboBox *m_detailOperatorPopupButton = nullptr;
    QLineEdit *m_detailTextField = nullptr;
};
