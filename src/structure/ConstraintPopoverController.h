#pragma once

#include "model/ZNTConstraint.h"
#include "platform/NotificationCenter.h"

#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class ZNTObject;
class ZNTObjectQuery;
class ZNTTable;
class ZNTTableMetadata;

// What a constraint pill's popover edits: a copy of the pill's constraint,
// handed back when the popover closes by OK or Delete (not by Cancel or
// Escape). A CHECK shows its expression; a FOREIGN KEY the referenced table
// and column and what deleting or updating a referenced row does.
//
// A new foreign key lists the tables of every schema but the system ones
// (pg_*, information_schema), views and materialized views left out, as the
// catalog queries end; only the columns that alone make a primary key or
// unique constraint of the referenced table can be chosen, the first such
// column at once. A loaded foreign key lists only its own table. main thread
class ConstraintPopoverController : public QWidget {
    Q_OBJECT
public:
    // Null for a type that has no popover (only CHECK and FOREIGN KEY have one).
    static ConstraintPopoverController *create(const std::shared_ptr<ZNTTable> &table, const ZNTConstraint &constraint,
                                               bool isNew);
    ~ConstraintPopoverController() override;

    std::shared_ptr<ZNTConstraint> constraint() const { return m_constraint; }
    bool isNewConstraint() const { return m_isNew; }
    // Until OK or Delete is pressed.
    bool isCancelled() const { return m_cancelled; }
    // Where the buttons report (the pill, which then closes the popover).
    void setAction(std::function<void()> action) { m_action = std::move(action); }

    void cancelEdit();
    void confirmEdit();
    // Marks the copy for deletion (or unmarks a marked one) and reports.
    void deleteConstraint();
    void selectForeignKeyTable(int index);
    void selectForeignKeyColumn(int index);
    void updateForeignKeyTablePopup();
    void updateForeignKeyColumnPopup();

    // Parts the tests look at.
    QLineEdit *checkField() const { return m_checkField; }
    QComboBox *foreignKeyTablePopup() const { return m_tablePopup; }
    QComboBox *foreignKeyColumnPopup() const { return m_columnPopup; }
    QComboBox *deleteModePopup() const { return m_deletePopup; }
    QComboBox *updateModePopup() const { return m_updatePopup; }
    QLabel *deleteDescriptionLabel() const { return m_deleteDescription; }
    QLabel *updateDescriptionLabel() const { return m_updateDescription; }
    QPushButton *deleteButton() const { return m_deleteButton; }
    // Whether the schema and table listings have all ended.
    bool listingsDone() const;

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    ConstraintPopoverController(std::shared_ptr<ZNTTable> table, const ZNTConstraint &constraint, bool isNew);
    void buildUi();
    void awakeForeignKey();
    void buildCheckUi();
    void buildForeignKeyUi();
    QComboBox *actionPopup(int mode, QLabel **description, bool forDelete);
    QWidget *buttonRow();
    void report();
    void setupForeignKey();
    void foreignKeyListSchemasQueryDone();
    void showOnlyCurrentTable();
    void fillColumnPopupWithPlaceholder(const QString &title);

    std::shared_ptr<ZNTTable> m_table;
    std::shared_ptr<ZNTConstraint> m_constraint;
    bool m_isNew = false;
    bool m_cancelled = true;
    std::function<void()> m_action;

    std::shared_ptr<ZNTObjectQuery> m_schemasQuery;
    ObserverToken m_schemasObserver;
    struct TablesListing {
        std::shared_ptr<ZNTObject> schema;
        std::shared_ptr<ZNTObjectQuery> query;
        ObserverToken observer;
        bool done = false;
    };
    std::vector<TablesListing> m_tablesQueries;
    bool m_schemasDone = false;
    QList<std::shared_ptr<ZNTTable>> m_tablesForItems; // by item index of the table popup
    ObserverToken m_metadataObserver;
    // A referenced table's structure that failed to load: no new load for it.
    std::weak_ptr<ZNTTableMetadata> m_failedMetadata;

    QLineEdit *m_checkField = nullptr;
    QComboBox *m_tablePopup = nullptr;
    QComboBox *m_columnPopup = nullptr;
    QComboBox *m_deletePopup = nullptr;
    QComboBox *m_updatePopup = nullptr;
    QLabel *m_deleteDescription = nullptr;
    QLabel *m_updateDescription = nullptr;
    QPushButton *m_deleteButton = nullptr;
};
