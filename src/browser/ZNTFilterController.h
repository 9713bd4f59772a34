#pragma once

#include "FilterBarModel.h"
#include "ZNTFilterView.h"
#include "platform/NotificationCenter.h"

#include <QFileDialog>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QVariant>
#include <memory>

class QLineEdit;
class QScrollArea;
class QToolButton;
class QWidget;
class ZNTColumn;
class ZNTFilterController;
class ZNTTable;

// What the filter bar asks of the page that hosts it.
class ZNTFilterControllerDelegate {
public:
    virtual ~ZNTFilterControllerDelegate() = default;
    // The user asked to run the filters (Return in a row, or the Filter button).
    virtual void filterControllerDidClickFind(ZNTFilterController &controller) = 0;
    // The user removed the only row; the bar keeps it, the page hides the bar.
    virtual void filterControllerDidRemoveLastFilter(ZNTFilterController &controller) = 0;
};

// The filter bar above a table's rows: one row per filter (left-hand popup of
// any column, SQL expression or a column; an operator popup and a value field
// that depend on the filter; remove and add buttons), the Filter button that
// runs them, and saving and loading filter files.
//
// The page makes one when it shows the bar and drops it when it hides it:
//
//     m_filterController = std::make_unique<ZNTFilterController>(table);
//     m_filterController->setDelegate(this);
//     m_filterController->loadDictionaryRepresentations(storedFilters); // when stored
//     splitLayout->addWidget(m_filterController->view());
//     m_filterController->makeFirstResponder();
//     ... table->queryWithOffset(..., filterConditions(m_filterController->filters()));
//
// The controller deletes its view. main thread
class ZNTFilterController : public QObject {
    Q_OBJECT
public:
    explicit ZNTFilterController(std::shared_ptr<ZNTTable> table, QObject *parent = nullptr);
    ~ZNTFilterController() override;

    const std::shared_ptr<ZNTTable> &table() const { return m_model.table(); }
    // The bar, made on first request with its rows (a first row when there are
    // no filters).
    QWidget *view();
    // The delegate is not owned and outlives the bar.
    void setDelegate(ZNTFilterControllerDelegate *delegate) { m_delegate = delegate; }
    ZNTFilterControllerDelegate *delegate() const { return m_delegate; }

    // The filters in on-screen order (the filters themselves are shared).
    QList<std::shared_ptr<ZNTFilter>> filters() const { return m_model.filters(); }
    QVariantList dictionaryRepresentations() const { return m_model.dictionaryRepresentations(); }
    // false, changing nothing, unless object is an array (see FilterBarModel).
    bool loadDictionaryRepresentations(const QVariant &object);
    // Replaces all filters by one on column (null: any column); the column
    // header menu's "filter by this column".
    void filterColumn(const std::shared_ptr<ZNTColumn> &column);
    // Focuses the first row's value field (its left-hand popup when the
    // operator takes no value); true when the focus is there.
    bool makeFirstResponder();
    // The first row's value field; null before the view is made.
    QLineEdit *firstTextField() const;

    // Actions of the controls in a row (sender: the control).
    void selectLeftSide(QObject *sender);
    void selectOperator(QObject *sender);
    void addFilter(QObject *sender);
    void removeFilter(QObject *sender);
    void performFilter(QObject *sender);
    // The bar's own file commands, each a window-modal file dialog.
    void saveFilter();
    void loadFilter();
    // The row of a control: the tag of the ZNTFilterView that holds it; 0 when
    // the sender is no widget or no row holds it.
    static int filterIndexForSender(QObject *sender);

    const QList<ZNTFilterView *> &filterViews() const { return m_filterViews; }
    const FilterBarModel &model() const { return m_model; }
    // The open save or load dialog, for tests; null when none is open.
    QFileDialog *filterPanel() const { return m_panel; }
    QToolButton *filterButton() const { return m_filterButton; }
    QToolButton *fileMenuButton() const { return m_fileMenuButton; }

    // The directory the save and load dialogs of every bar start in: the last
    // one a dialog was accepted in. Empty until then.
    static QString rememberedFilterDirectory();
    // Rows beyond this many scroll.
    static constexpr int kMaxRowsShown = 8;

private:
    void buildUi();
    void connectActions();
    void makeFilterViews();
    ZNTFilterView *makeFilterView(qsizetype index);
    void updateFilterViewAtIndex(qsizetype index);
    void orderTabChain();
    void fitRowsScrollArea();
    void focusValueField(qsizetype index);
    bool endEditingOrBeep();
    void tableMetadataUpdated(const Notification &notification);
    QWidget *window() const;
    QFileDialog *makePanel(bool save);
    void writeFilterFile(const QString &path, const QByteArray &data);
    void readFilterFile(const QString &path);
    void showUnreadableFile();

    FilterBarModel m_model;
    ZNTFilterControllerDelegate *m_delegate = nullptr;
    QPointer<ZNTFilterSetView> m_view;
    QWidget *m_filterContainerView = nullptr;
    QScrollArea *m_rowsScrollArea = nullptr;
    QToolButton *m_filterButton = nullptr;
    QToolButton *m_fileMenuButton = nullptr;
    QList<ZNTFilterView *> m_filterViews;
    QPointer<QFileDialog> m_panel;
    bool m_didWake = false;
    ObserverToken m_metadataObserver;
};
