// The structure page's models: building them (and the rows) from the loaded
// structure, the schema and tablespace popups, recording what the page shows
// as undoable steps, the primitives undo and redo run, and new columns.
#include "ZNTTableSchemaColumnsView.h"
#include "ZNTTableSchemaController.h"
#include "ZNTTableSchemaFields.h"
#include "browser/ZNTTableEditCommands.h"
#include "engine/PGError.h"
#include "model/Tablespace.h"
#include "model/ZNTDatabase.h"
#include "model/ZNTServerListingQuery.h"
#include "model/ZNTTable.h"
#include "model/ZNTTableMetadata.h"
#include "uikit/Beep.h"
#include "uikit/BlockObservers.h"
#include "uikit/SQLPreviewTextField.h"
#include "uikit/WindowEditing.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSplitter>
#include <QUndoStack>

namespace {

bool isSystemSchema(const QString &name) {
    return name.startsWith(QLatin1String("pg_")) || name == QLatin1String("information_schema");
}

QString selectedTitle(const QComboBox *popup) {
    return popup && popup->currentIndex() >= 0 ? popup->currentText() : QString();
}

// Selects the item titled title, added when missing; none for an empty title
// (a combo box picks its first item by itself, which would read as a choice).
void selectTitle(QComboBox *popup, const QString &title) {
    if (!popup)
        return;
    if (title.isEmpty()) {
        popup->setCurrentIndex(-1);
        return;
    }
    int index = popup->findText(title, Qt::MatchExactly);
    if (index < 0) {
        popup->addItem(title);
        index = popup->count() - 1;
    }
    popup->setCurrentIndex(index);
}

} // namespace

// --- waking and loading ---------------------------------------------------------

void ZNTTableSchemaController::awake() {
    m_tableNameField->setText(m_table->name());
    selectTitle(m_tableSchemaPopup, m_table->schemaName());
    m_tableSchemaPopup->setEnabled(!isSystemSchema(m_table->schemaName()));
    if (m_tableTablespacePopup)
        m_tableTablespacePopup->clear();
    reloadStructure();
}

void ZNTTableSchemaController::performReload() {
    if (!m_view) {
        pageView(); // making the view loads
        return;
    }
    reloadStructure();
}

void ZNTTableSchemaController::reloadStructure() {
    const auto metadata = m_table->metadata();
    if (!metadata || metadata->metadataState() == ZNTTableMetadata::ZNTMetadataStateLoaded)
        noteStructureLoaded(nullptr);
    else
        startStructureLoad(metadata);
    loadPopupMenus();
}

void ZNTTableSchemaController::startStructureLoad(const std::shared_ptr<ZNTTableMetadata> &metadata) {
    m_structureObserver = observeNext(metadata, ZNTTableMetadata::DidLoadNotification,
                                      [this](const Notification &n) { noteStructureLoaded(&n); });
    if (metadata->metadataState() == ZNTTableMetadata::ZNTMetadataStateNotLoaded)
        metadata->load();
}

void ZNTTableSchemaController::noteStructureLoaded(const Notification *notification) {
    std::shared_ptr<ZNTTableMetadata> metadata;
    if (notification) {
        m_structureObserver.stopObserving();
        // A failed load is shown as such; loading again is the user's call (Reload).
        if (const auto error = notification->value<ErrorPtr>(ZNTTableMetadata::ErrorKey); error && *error) {
            showLoadError(*error);
            return;
        }
        metadata = notification->objectAs<ZNTTableMetadata>();
    } else {
        metadata = m_table->metadata();
        if (metadata && metadata->metadataState() != ZNTTableMetadata::ZNTMetadataStateLoaded) {
            startStructureLoad(metadata); // purged meanwhile
            return;
        }
    }
    makePageFirstResponder();
    m_edits.load(sourceFrom(metadata));
    // Steps recorded against the former rows must never replay on these.
    m_undoStack->clear();
    m_loadFailed = false;
    m_loadErrorLabel->hide();
    setSaving(isSaving());
    showModel();
    setHasChanges(m_edits.isNewRelation());
    if (SQLPreviewPanelController *panel = SQLPreviewPanelController::visibleController())
        panel->sqlField()->setPlainText(QString());
}

void ZNTTableSchemaController::showLoadError(const ErrorPtr &error) {
    m_loadFailed = true;
    QString text = QStringLiteral("The structure of “%1” could not be loaded.").arg(m_table->name());
    const ErrorPtr reason = error->underlyingError() ? error->underlyingError() : error;
    // The server's words with their detail and hint; else why the connection
    // failed (libpq's text, a refused reconnect).
    QString why = reason->localizedRecoverySuggestion();
    if (why.isEmpty() && reason != error)
        why = PGError::reasonText(*reason);
    for (const QString &part : {error->localizedDescription(), error->localizedFailureReason(), why}) {
        if (!part.isEmpty() && !text.contains(part))
            text += u'\n' + part;
    }
    if (PGError::reportsLostConnection(*error))
        text = PGError::withReconnectAdvice(text);
    m_loadErrorLabel->setText(text);
    m_loadErrorLabel->show();
    m_undoStack->clear();
    m_columnsView->setRows({});
    m_columnsView->setHeaderHidden(true);
    setSaving(isSaving());
    setHasChanges(false);
}

ZNTStructureSource ZNTTableSchemaController::sourceFrom(const std::shared_ptr<ZNTTableMetadata> &metadata) const {
    ZNTStructureSource source;
    source.tableName = m_table->name();
    source.schemaName = m_table->schemaName();
    source.tableType = m_table->type();
    if (metadata) {
        source.comment = metadata->comment();
        source.tablespace = metadata->tablespace() ? metadata->tablespace()->name() : QString();
        source.viewDefinition = metadata->viewDef();
        source.columns = metadata->columns();
        source.constraints = metadata->constraints();
    }
    return source;
}

// The fields and rows of the loaded model.
void ZNTTableSchemaController::showModel() {
    const ZNTTableSchemaModel &edited = m_edits.editedModel();
    m_tableNameField->setText(edited.tableName());
    selectTitle(m_tableSchemaPopup, edited.tableSchemaName());
    if (!edited.tablespaceName().isEmpty())
        selectTitle(m_tableTablespacePopup, edited.tablespaceName());
    m_tableCommentField->setText(edited.tableComment());
    if (m_viewDefinitionField) {
        m_viewDefinitionField->setPlainText(edited.viewDefinition());
        m_viewDefinitionTracker->markUnedited();
        // What a materialized view holds was made by its definition.
        m_viewDefinitionField->setReadOnly(m_table->hasName() &&
                                           m_table->type() == ZNTTable::ZNTTableTypeMaterializedView);
    }
    QList<ZNTTableSchemaColumnView *> rows;
    rows.reserve(edited.columns().size());
    const qsizetype originals = m_edits.originalColumnCount();
    for (qsizetype i = 0; i < edited.columns().size(); ++i) {
        const auto original =
            i < originals ? m_edits.originalModel().columns()[i] : m_edits.newColumnPlaceholders().value(i - originals);
        rows.append(makeRow(*edited.columns()[i], original, *edited.columnConstraints()[i],
                            m_edits.originalConstraintsOfColumn(i)));
    }
    m_columnsView->setRows(rows);
    m_columnsView->setHeaderHidden(rows.isEmpty());
    // Placed rows join the end of the window's Tab chain, behind the bars the
    // window added with the page: Tab comes to them right after the fields.
    // The last row moves first: what each move leaves behind then lies after
    // the rows still to move, so that a thousand rows take no longer to move
    // than to make.
    for (qsizetype i = rows.size() - 1; i >= 0; --i)
        chainTabOrder(rows[i], lastFieldBeforeRows());
}

ZNTTableSchemaColumnView *ZNTTableSchemaController::makeRow(
    const ZNTColumnDefinition &column, const std::shared_ptr<ZNTColumnDefinition> &originalColumn,
    const ZNTConstraintList &constraints, const std::optional<ZNTConstraintList> &originalConstraints) {
    auto *row = new ZNTTableSchemaColumnView(m_table, column, originalColumn, constraints, originalConstraints);
    row->setDelegate(this);
    return row;
}

QWidget *ZNTTableSchemaController::lastFieldBeforeRows() const {
    return m_viewDefinitionField ? static_cast<QWidget *>(m_viewDefinitionField)
                                 : static_cast<QWidget *>(m_tableCommentField);
}

// A row made after the others comes after its neighbours for Tab, not after
// the last control of the window.
void ZNTTableSchemaController::chainTabOrder(qsizetype rowIndex) {
    const auto rows = m_columnsView->rows();
    chainTabOrder(rows[rowIndex], rowIndex > 0 ? rows[rowIndex - 1]->commentField() : lastFieldBeforeRows());
}

void ZNTTableSchemaController::chainTabOrder(ZNTTableSchemaColumnView *row, QWidget *previous) {
    QList<QWidget *> chain = {row->titleField(), row->typeField(), row->defaultPopup(), row->defaultField()};
    for (ZNTConstraintView *pill : row->constraintViews())
        chain.append(pill);
    chain.append(row->constraintButton());
    if (row->deleteButton())
        chain.append(row->deleteButton());
    chain.append(row->commentField());
    for (QWidget *widget : chain) {
        QWidget::setTabOrder(previous, widget);
        previous = widget;
    }
}

// --- the popups -----------------------------------------------------------------

void ZNTTableSchemaController::loadPopupMenus() {
    const auto database = m_table->database();
    if (!database)
        return;
    if (!isSystemSchema(m_table->schemaName())) {
        if (m_schemaQuery)
            m_schemaQuery->cancel();
        m_schemaQuery = database->descendantQuery();
        m_schemaObserver = observe(m_schemaQuery, ZNTObjectQuery::DoneNotification,
                                   [this](const Notification &) { noteSchemasLoaded(); });
        m_schemaQuery->executeInBackground();
    }
    const auto server = database->server();
    if (m_tableTablespacePopup && server) {
        if (m_tablespaceQuery)
            m_tablespaceQuery->cancel();
        m_tablespaceQuery = std::make_shared<ZNTTablespaceQuery>(server);
        m_tablespaceObserver = observe(m_tablespaceQuery, ZNTObjectQuery::DoneNotification,
                                       [this](const Notification &) { noteTablespacesLoaded(); });
        m_tablespaceQuery->executeInBackground();
    }
}

void ZNTTableSchemaController::noteSchemasLoaded() {
    m_schemaObserver.stopObserving();
    if (m_schemaQuery->error())
        return;
    m_tableSchemaPopup->clear();
    for (const auto &object : m_schemaQuery->objects().value_or(ZNTObjectList())) {
        if (object->objectKind() == ZNTObjectKind::Schema && !isSystemSchema(object->name()))
            m_tableSchemaPopup->addItem(object->name());
    }
    // The edited model's schema, so that the popup shows what it holds.
    selectTitle(m_tableSchemaPopup, m_edits.editedModel().tableSchemaName());
}

void ZNTTableSchemaController::noteTablespacesLoaded() {
    m_tablespaceObserver.stopObserving();
    if (m_tablespaceQuery->error())
        return;
    m_tableTablespacePopup->clear();
    for (const auto &object : m_tablespaceQuery->objects().value_or(ZNTObjectList()))
        m_tableTablespacePopup->addItem(object->name());
    selectTitle(m_tableTablespacePopup, m_edits.editedModel().tablespaceName());
}

// --- recording ------------------------------------------------------------------

void ZNTTableSchemaController::tableSchemaColumnViewDidBeginEditing(ZNTTableSchemaColumnView *) {
    setHasChanges(true);
}

void ZNTTableSchemaController::tableSchemaColumnViewDidEndEditing(ZNTTableSchemaColumnView *) {
    updateModel();
}

ZNTTableSchemaEdits::Shown ZNTTableSchemaController::shown() const {
    ZNTTableSchemaEdits::Shown shown;
    shown.tableName = m_tableNameField->text();
    shown.schemaName = selectedTitle(m_tableSchemaPopup);
    if (m_tableTablespacePopup)
        shown.tablespaceName = selectedTitle(m_tableTablespacePopup);
    if (m_viewDefinitionField)
        shown.viewDefinition = m_viewDefinitionField->toPlainText();
    shown.tableComment = m_tableCommentField->text();
    const auto rows = m_columnsView->rows();
    shown.rows.reserve(rows.size());
    for (const ZNTTableSchemaColumnView *row : rows)
        shown.rows.append({row->editedColumn(), row->editedConstraints()});
    return shown;
}

void ZNTTableSchemaController::updateModel() {
    // Undo and redo end the editing themselves, and record nothing then; a
    // page that failed to load has nothing to compare with.
    if (m_primitiveDepth > 0 || m_loadFailed || !m_view)
        return;
    const QList<ZNTTableSchemaEdits::Step> steps = m_edits.updateModel(shown());
    for (const auto &step : steps) {
        if (step.kind == StepKind::DeleteColumn)
            m_columnsView->removeRow(step.index);
    }
    record(steps);
    didUpdateModel();
}

void ZNTTableSchemaController::record(const QList<ZNTTableSchemaEdits::Step> &steps) {
    if (steps.isEmpty())
        return;
    if (steps.size() == 1) {
        m_undoStack->push(commandFor(steps.first()));
        return;
    }
    // One step of the user's: undone and redone as one, named by its last part.
    m_undoStack->beginMacro(steps.last().actionName);
    for (const auto &step : steps)
        m_undoStack->push(commandFor(step));
    m_undoStack->endMacro();
}

// The step is done already: its command's first redo does nothing.
QUndoCommand *ZNTTableSchemaController::commandFor(const ZNTTableSchemaEdits::Step &step) {
    using Removed = ZNTTableSchemaEdits::RemovedColumn;
    std::function<void()> redo, undo;
    const qsizetype i = step.index;
    switch (step.kind) {
    case StepKind::AddColumn:
        redo = [this, step, i] {
            doInsertColumn(Removed{step.columnAfter, step.placeholder, step.constraintsAfter}, i);
        };
        undo = [this, i] { doDeleteColumnAtIndex(i); };
        break;
    case StepKind::DeleteColumn:
        redo = [this, i] { doDeleteColumnAtIndex(i); };
        undo = [this, step, i] {
            doInsertColumn(Removed{step.columnBefore, step.placeholder, step.constraintsBefore}, i);
        };
        break;
    case StepKind::ReplaceColumn:
        redo = [this, step, i] { doReplaceColumn(step.columnAfter, i); };
        undo = [this, step, i] { doReplaceColumn(step.columnBefore, i); };
        break;
    case StepKind::SetConstraints:
        redo = [this, step, i] { doSetConstraints(step.constraintsAfter, i); };
        undo = [this, step, i] { doSetConstraints(step.constraintsBefore, i); };
        break;
    default:
        redo = [this, step] { doSetText(step.kind, step.textAfter); };
        undo = [this, step] { doSetText(step.kind, step.textBefore); };
        break;
    }
    return new ZNTTableEditCommand(
        step.actionName,
        [redo](bool first) {
            if (!first)
                redo();
        },
        undo);
}

void ZNTTableSchemaController::didUpdateModel() {
    setHasChanges(m_edits.hasChanges());
    refreshSQLPreviewPanel();
    emit validationRequested();
}

void ZNTTableSchemaController::setHasChanges(bool hasChanges) {
    if (hasChanges == m_hasChanges && (!hasChanges || m_saveBar))
        return;
    m_hasChanges = hasChanges;
    if (hasChanges && !m_saveBar) {
        m_saveBar = new ZNTSaveBarView;
        m_saveBar->setObjectName(QStringLiteral("structureSaveBar"));
        m_saveBar->setStatusText(QStringLiteral("The structure has unsaved changes."));
        m_saveBarContainer->addWidget(m_saveBar);
        connect(m_saveBar, &ZNTSaveBarView::saveClicked, this, [this] { save(); });
        connect(m_saveBar, &ZNTSaveBarView::discardClicked, this, [this] { discardChanges(); });
        connect(m_saveBar, &ZNTSaveBarView::previewClicked, this, [this](QWidget *sender) { showSQLPreview(sender); });
    }
    if (m_saveBar) {
        m_saveBar->setBusy(isSaving());
        m_saveBar->setVisible(hasChanges);
    }
    emit validationRequested();
}

// --- primitives -----------------------------------------------------------------

// What is being typed when undo or redo runs stays where it is, unrecorded:
// the step may change the very row under it.
void ZNTTableSchemaController::endEditingForPrimitive() {
    ++m_primitiveDepth;
    makePageFirstResponder();
    --m_primitiveDepth;
}

void ZNTTableSchemaController::doSetText(StepKind kind, const QString &text) {
    endEditingForPrimitive();
    m_edits.setText(kind, text);
    QWidget *focus = nullptr;
    switch (kind) {
    case StepKind::TableName:
        m_tableNameField->setText(text);
        focus = m_tableNameField;
        break;
    case StepKind::SchemaName:
        selectTitle(m_tableSchemaPopup, text);
        focus = m_tableSchemaPopup;
        break;
    case StepKind::Tablespace:
        selectTitle(m_tableTablespacePopup, text);
        focus = m_tableTablespacePopup;
        break;
    case StepKind::ViewDefinition:
        m_viewDefinitionField->setPlainText(text);
        m_viewDefinitionTracker->markUnedited();
        focus = m_viewDefinitionField;
        break;
    default:
        m_tableCommentField->setText(text);
        focus = m_tableCommentField;
        break;
    }
    if (focus && focus->isVisible())
        focus->setFocus(Qt::OtherFocusReason);
    didUpdateModel();
}

void ZNTTableSchemaController::doDeleteColumnAtIndex(qsizetype index) {
    endEditingForPrimitive();
    m_edits.deleteColumnAtIndex(index);
    m_columnsView->removeRow(index);
    didUpdateModel();
}

void ZNTTableSchemaController::doInsertColumn(const ZNTTableSchemaEdits::RemovedColumn &column, qsizetype index) {
    endEditingForPrimitive();
    auto *row = makeRow(*column.column, column.placeholder,
                        column.constraints ? *column.constraints : ZNTConstraintList(), std::nullopt);
    m_edits.insertColumn(column, index);
    m_columnsView->insertRow(index, row);
    m_columnsView->setHeaderHidden(false);
    chainTabOrder(index);
    didUpdateModel();
}

void ZNTTableSchemaController::doReplaceColumn(const std::shared_ptr<ZNTColumnDefinition> &column, qsizetype index) {
    endEditingForPrimitive();
    m_edits.replaceColumn(column, index);
    m_columnsView->rows()[index]->setEditedColumn(*column);
    didUpdateModel();
}

void ZNTTableSchemaController::doSetConstraints(const std::shared_ptr<ZNTConstraintList> &constraints,
                                                qsizetype index) {
    endEditingForPrimitive();
    m_edits.setConstraints(constraints, index);
    m_columnsView->rows()[index]->setEditedConstraints(*constraints);
    didUpdateModel();
}

// --- new columns ----------------------------------------------------------------

void ZNTTableSchemaController::addColumn() {
    if (m_loadFailed || isSaving() || m_table->type() != ZNTTable::ZNTTableTypeTable || !makePageFirstResponder()) {
        beep();
        return;
    }
    auto column = std::make_shared<ZNTColumnDefinition>(m_edits.nextColumnName(), QStringLiteral("text"), QString(),
                                                        SQLExpression(), false);
    auto *row = makeRow(*column, column, {}, std::nullopt);
    m_edits.appendPlaceholder(column);
    const qsizetype index = m_columnsView->rows().size();
    m_columnsView->insertRow(index, row);
    m_columnsView->setHeaderHidden(false);
    chainTabOrder(index);
    m_scrollView->ensureWidgetVisible(row);
    row->titleField()->setFocus(Qt::OtherFocusReason);
    row->titleField()->selectAll();
    updateModel();
}
