#include "ConstraintPopoverController.h"

#include "ZNTConstraintPresentation.h"
#include "model/ZNTDatabase.h"
#include "model/ZNTObjectQuery.h"
#include "model/ZNTTable.h"
#include "model/ZNTTableMetadata.h"
#include "uikit/BlockObservers.h"
#include "uikit/LineEditLength.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QStandardItemModel>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

using namespace ZNTConstraintPresentation;

namespace {

constexpr int kIndentationRole = Qt::UserRole + 1;
constexpr int kAttnumRole = Qt::UserRole + 2;
constexpr int kDescriptionWidth = 320;

// The table popup's list: tables indented under their schema's name, and
// separators between the schemas.
class IndentingDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    static bool isSeparator(const QModelIndex &index) {
        return index.data(Qt::AccessibleDescriptionRole).toString() == QLatin1String("separator");
    }
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override {
        if (isSeparator(index)) {
            QColor line = option.palette.color(QPalette::Text);
            line.setAlphaF(0.25f);
            painter->setPen(line);
            const int y = option.rect.center().y();
            painter->drawLine(option.rect.left() + 4, y, option.rect.right() - 4, y);
            return;
        }
        QStyleOptionViewItem indented = option;
        indented.rect.adjust(16 * index.data(kIndentationRole).toInt(), 0, 0, 0);
        QStyledItemDelegate::paint(painter, indented, index);
    }
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override {
        if (isSeparator(index))
            return QSize(10, 7);
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.rwidth() += 16 * index.data(kIndentationRole).toInt();
        return size;
    }
};

void setItemEnabled(QComboBox *popup, int index, bool enabled) {
    if (auto *model = qobject_cast<QStandardItemModel *>(popup->model())) {
        if (QStandardItem *item = model->item(index))
            item->setEnabled(enabled);
    }
}

QLabel *descriptionLabel() {
    auto *label = new QLabel;
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->setFixedWidth(kDescriptionWidth);
    label->setForegroundRole(QPalette::PlaceholderText);
    return label;
}

bool isSystemSchema(const QString &name) {
    return name.startsWith(QLatin1String("pg_")) || name == QLatin1String("information_schema");
}

} // namespace

ConstraintPopoverController *ConstraintPopoverController::create(const std::shared_ptr<ZNTTable> &table,
                                                                 const ZNTConstraint &constraint, bool isNew) {
    const auto type = constraint.type();
    if (type != ZNTConstraint::ZNTConstraintTypeCheck && type != ZNTConstraint::ZNTConstraintTypeForeignKey)
        return nullptr;
    auto *controller = new ConstraintPopoverController(table, constraint, isNew);
    if (type == ZNTConstraint::ZNTConstraintTypeForeignKey)
        controller->awakeForeignKey();
    return controller;
}

ConstraintPopoverController::ConstraintPopoverController(std::shared_ptr<ZNTTable> table,
                                                         const ZNTConstraint &constraint, bool isNew)
    : m_table(std::move(table)), m_constraint(constraint.copy()), m_isNew(isNew) {
    buildUi();
}

void ConstraintPopoverController::buildUi() {
    setObjectName(QStringLiteral("constraintPopover"));
    if (m_constraint->type() == ZNTConstraint::ZNTConstraintTypeCheck)
        buildCheckUi();
    else
        buildForeignKeyUi();
}

// A loaded foreign key keeps its table: the popup lists it alone. A new one
// lists every table once the catalog listings end.
void ConstraintPopoverController::awakeForeignKey() {
    if (m_constraint->foreignTable())
        showOnlyCurrentTable();
    else
        updateForeignKeyTablePopup();
    updateForeignKeyColumnPopup();
    if (m_isNew)
        setupForeignKey();
}

ConstraintPopoverController::~ConstraintPopoverController() {
    // The listings would report to a popover that is gone.
    m_schemasObserver.stopObserving();
    m_metadataObserver.stopObserving();
    for (TablesListing &listing : m_tablesQueries)
        listing.observer.stopObserving();
    if (m_schemasQuery && !m_schemasDone)
        m_schemasQuery->cancel();
    for (TablesListing &listing : m_tablesQueries) {
        if (!listing.done)
            listing.query->cancel();
    }
}

void ConstraintPopoverController::buildCheckUi() {
    m_checkField = new QLineEdit;
    uv_showStoredValue(m_checkField);
    m_checkField->setText(m_constraint->check());
    m_checkField->setObjectName(QStringLiteral("checkField"));
    m_checkField->setMinimumWidth(kDescriptionWidth);
    auto *label = new QLabel(QStringLiteral("&Check:"));
    label->setBuddy(m_checkField);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(label);
    layout->addWidget(m_checkField);
    layout->addWidget(buttonRow());
    connect(m_checkField, &QLineEdit::textChanged, this, [this](const QString &text) { m_constraint->setCheck(text); });
}

QComboBox *ConstraintPopoverController::actionPopup(int mode, QLabel **description, bool forDelete) {
    auto *popup = new QComboBox;
    for (const char *title : {"NO ACTION", "RESTRICT", "CASCADE", "SET NULL", "SET DEFAULT"})
        popup->addItem(QString::fromLatin1(title));
    popup->setCurrentIndex(mode - 1);
    *description = descriptionLabel();
    QLabel *label = *description;
    label->setText(forDelete ? deleteDescription(mode) : updateDescription(mode));
    connect(popup, &QComboBox::activated, this, [this, label, forDelete](int index) {
        const auto action = ZNTConstraint::ForeignKeyAction(index + 1);
        if (forDelete)
            m_constraint->setDeleteMode(action);
        else
            m_constraint->setUpdateMode(action);
        label->setText(forDelete ? deleteDescription(action) : updateDescription(action));
    });
    return popup;
}

void ConstraintPopoverController::buildForeignKeyUi() {
    m_tablePopup = new QComboBox;
    m_tablePopup->setObjectName(QStringLiteral("foreignKeyTablePopup"));
    m_tablePopup->setItemDelegate(new IndentingDelegate(m_tablePopup));
    m_tablePopup->setMinimumContentsLength(20);
    m_columnPopup = new QComboBox;
    m_columnPopup->setObjectName(QStringLiteral("foreignKeyColumnPopup"));
    m_columnPopup->setMinimumContentsLength(20);
    m_deletePopup = actionPopup(m_constraint->deleteMode(), &m_deleteDescription, true);
    m_updatePopup = actionPopup(m_constraint->updateMode(), &m_updateDescription, false);
    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("&References:"), m_tablePopup);
    form->addRow(QStringLiteral("C&olumn:"), m_columnPopup);
    form->addRow(QStringLiteral("On d&elete:"), m_deletePopup);
    form->addRow(QString(), m_deleteDescription);
    form->addRow(QStringLiteral("On u&pdate:"), m_updatePopup);
    form->addRow(QString(), m_updateDescription);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(form);
    layout->addWidget(buttonRow());
    connect(m_tablePopup, &QComboBox::activated, this, &ConstraintPopoverController::selectForeignKeyTable);
    connect(m_columnPopup, &QComboBox::activated, this, &ConstraintPopoverController::selectForeignKeyColumn);
}

QWidget *ConstraintPopoverController::buttonRow() {
    auto *row = new QWidget;
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 6, 0, 0);
    m_deleteButton = new QPushButton(m_constraint->markedForDeletion() ? QStringLiteral("&Keep Constraint")
                                                                       : QStringLiteral("&Delete Constraint"));
    auto *cancel = new QPushButton(QStringLiteral("Cancel"));
    auto *ok = new QPushButton(QStringLiteral("OK"));
    ok->setDefault(true);
    layout->addWidget(m_deleteButton);
    layout->addStretch(1);
    layout->addWidget(cancel);
    layout->addWidget(ok);
    connect(m_deleteButton, &QPushButton::clicked, this, &ConstraintPopoverController::deleteConstraint);
    connect(cancel, &QPushButton::clicked, this, &ConstraintPopoverController::cancelEdit);
    connect(ok, &QPushButton::clicked, this, &ConstraintPopoverController::confirmEdit);
    return row;
}

void ConstraintPopoverController::keyPressEvent(QKeyEvent *event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        confirmEdit();
        return;
    }
    QWidget::keyPressEvent(event);
}

void ConstraintPopoverController::report() {
    if (m_action)
        m_action();
}

void ConstraintPopoverController::cancelEdit() {
    m_cancelled = true;
    report();
}

void ConstraintPopoverController::confirmEdit() {
    m_cancelled = false;
    report();
}

void ConstraintPopoverController::deleteConstraint() {
    m_constraint->setMarkedForDeletion(!m_constraint->markedForDeletion());
    m_cancelled = false;
    report();
}

// --- the referenced table -----------------------------------------------------

void ConstraintPopoverController::showOnlyCurrentTable() {
    m_tablePopup->clear();
    m_tablePopup->addItem(m_constraint->foreignTable()->name());
    m_tablesForItems = {m_constraint->foreignTable()};
    m_tablePopup->setCurrentIndex(0);
}

void ConstraintPopoverController::setupForeignKey() {
    const auto database = m_table ? m_table->database() : nullptr;
    m_schemasQuery = database ? database->descendantQuery() : nullptr;
    if (!m_schemasQuery)
        return;
    m_schemasObserver = observe(m_schemasQuery, ZNTObjectQuery::DoneNotification,
                                [this](const Notification &) { foreignKeyListSchemasQueryDone(); });
    m_schemasQuery->executeInBackground();
}

void ConstraintPopoverController::foreignKeyListSchemasQueryDone() {
    m_schemasDone = true;
    m_schemasObserver.stopObserving();
    if (m_schemasQuery->error())
        return; // the table popup keeps what it shows
    m_tablesQueries.clear();
    for (const auto &object : m_schemasQuery->objects().value_or(ZNTObjectList())) {
        if (object->objectKind() != ZNTObjectKind::Schema || isSystemSchema(object->name()))
            continue;
        if (auto query = object->descendantQuery())
            m_tablesQueries.push_back({object, query, {}, false});
    }
    for (size_t i = 0; i < m_tablesQueries.size(); ++i) {
        m_tablesQueries[i].observer =
            observe(m_tablesQueries[i].query, ZNTObjectQuery::DoneNotification, [this, i](const Notification &) {
                m_tablesQueries[i].done = true;
                m_tablesQueries[i].observer.stopObserving();
                updateForeignKeyTablePopup();
            });
        m_tablesQueries[i].query->executeInBackground();
    }
}

bool ConstraintPopoverController::listingsDone() const {
    if (!m_schemasDone)
        return false;
    return std::all_of(m_tablesQueries.begin(), m_tablesQueries.end(), [](const auto &l) { return l.done; });
}

void ConstraintPopoverController::updateForeignKeyTablePopup() {
    ZNTObjectList schemas;
    for (const TablesListing &listing : m_tablesQueries)
        schemas.append(listing.schema);
    auto tablesOf = [this](const ZNTObject &schema) -> std::optional<ZNTObjectList> {
        for (const TablesListing &listing : m_tablesQueries) {
            if (listing.schema.get() == &schema)
                return listing.query->objects().value_or(ZNTObjectList());
        }
        return std::nullopt;
    };
    int selected = 0;
    const QList<MenuEntry> entries = tableMenu(schemas, tablesOf, m_constraint->foreignTable(), &selected);
    m_tablePopup->clear();
    m_tablesForItems.clear();
    for (const MenuEntry &entry : entries) {
        if (entry.kind == MenuEntry::Kind::Separator) {
            m_tablePopup->insertSeparator(m_tablePopup->count());
        } else {
            m_tablePopup->addItem(entry.title);
            m_tablePopup->setItemData(m_tablePopup->count() - 1, entry.indentation, kIndentationRole);
            setItemEnabled(m_tablePopup, m_tablePopup->count() - 1, entry.enabled);
        }
        m_tablesForItems.append(entry.table);
    }
    m_tablePopup->setCurrentIndex(selected);
}

void ConstraintPopoverController::selectForeignKeyTable(int index) {
    const auto table = m_tablesForItems.value(index);
    if (!table)
        return;
    const auto current = m_constraint->foreignTable();
    if (current && current->isEqual(*table))
        return; // the table it references already: its column stays
    m_constraint->setForeignTable(table);
    m_constraint->setForeignAttnums({});
    updateForeignKeyColumnPopup();
}

// --- the referenced column ----------------------------------------------------

void ConstraintPopoverController::selectForeignKeyColumn(int index) {
    const QVariant attnum = m_columnPopup->itemData(index, kAttnumRole);
    if (attnum.isValid())
        m_constraint->setForeignAttnums({attnum.toLongLong()});
}

void ConstraintPopoverController::fillColumnPopupWithPlaceholder(const QString &title) {
    m_columnPopup->clear();
    m_columnPopup->addItem(title);
    setItemEnabled(m_columnPopup, 0, false);
    m_columnPopup->setCurrentIndex(0);
}

void ConstraintPopoverController::updateForeignKeyColumnPopup() {
    const auto table = m_constraint->foreignTable();
    if (!table) {
        fillColumnPopupWithPlaceholder(QStringLiteral("No Table Selected…"));
        return;
    }
    const auto metadata = table->metadata();
    if (!metadata || metadata->metadataState() != ZNTTableMetadata::ZNTMetadataStateLoaded) {
        fillColumnPopupWithPlaceholder(QStringLiteral("Loading…"));
        // After a failed load nothing more is tried: the next attempt would fail alike.
        if (!metadata || m_failedMetadata.lock() == metadata)
            return;
        m_metadataObserver =
            observeNext(metadata, ZNTTableMetadata::DidLoadNotification, [this, metadata](const Notification &n) {
                const auto error = n.value<ErrorPtr>(ZNTTableMetadata::ErrorKey);
                if (error && *error) {
                    m_failedMetadata = metadata;
                    return;
                }
                if (m_constraint->foreignTable() && m_constraint->foreignTable()->metadata() == metadata)
                    updateForeignKeyColumnPopup();
            });
        if (metadata->metadataState() == ZNTTableMetadata::ZNTMetadataStateNotLoaded)
            metadata->load();
        return;
    }
    int selected = -1;
    bool choose = false;
    const QList<MenuEntry> entries =
        columnMenu(metadata->columns(), metadata->constraints(), m_constraint->foreignAttnums(), &selected, &choose);
    m_columnPopup->clear();
    for (const MenuEntry &entry : entries) {
        m_columnPopup->addItem(entry.title, QVariant());
        m_columnPopup->setItemData(m_columnPopup->count() - 1, entry.attnum, kAttnumRole);
        setItemEnabled(m_columnPopup, m_columnPopup->count() - 1, entry.enabled);
    }
    // With nothing chosen the first column shows, chosen or not.
    m_columnPopup->setCurrentIndex(selected >= 0 ? selected : (m_columnPopup->count() > 0 ? 0 : -1));
    if (choose)
        m_constraint->setForeignAttnums({entries[selected].attnum});
}
