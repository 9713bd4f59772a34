// The table page's saving: the change statement of its pending edits, the
// save itself with the server's rows folded back, and the SQL it would run.
#include "ZNTTableContentModel.h"
#include "ZNTTableGridView.h"
#include "ZNTTablePageLogic.h"
#include "ZNTTableViewController.h"
#include "actions/ZNTRowMatching.h"
#include "actions/ZNTUpdateInsertDeleteQuery.h"
#include "model/ZNTDatabase.h"
#include "model/ZNTTable.h"
#include "uikit/AlertSheet.h"
#include "uikit/Beep.h"
#include "uikit/BlockObservers.h"
#include "uikit/ZNTAnimatingIndicator.h"

#include <QUndoStack>
#include <utility>

using namespace ZNTTablePageLogic;

std::shared_ptr<ZNTUpdateInsertDeleteQuery> ZNTTableViewController::crudQuery() const {
    auto query = std::make_shared<ZNTUpdateInsertDeleteQuery>();
    query->setTable(m_table);
    query->setMetadata(pageMetadata());
    query->setColumns(m_model->resultColumns().mid(0, m_model->edits().columnCount()));
    const ZNTTableEdits::Changes changes = m_model->edits().changes();
    query->setInsertRows(changes.insertRows);
    query->setUpdateRowsBefore(changes.updateRowsBefore);
    query->setUpdateRowsAfter(changes.updateRowsAfter);
    query->setDeleteRows(changes.deleteRows);
    return query;
}

void ZNTTableViewController::save() {
    saveEditsWithCompletionHandler([this](bool success, ErrorPtr error) {
        if (success)
            return;
        if (error)
            presentSaveError(error);
        else
            beep();
    });
}

void ZNTTableViewController::saveEditsWithCompletionHandler(std::function<void(bool, ErrorPtr)> handler) {
    if (m_isBusy || m_saveAfterLoad || !endEditingForAction()) {
        handler(false, nullptr);
        return;
    }
    // Changes held over an unsettled save are on no row until the rows have
    // loaded again: they are saved once they are back. Edits made meanwhile
    // (to rows of a load that failed halfway) are saved as they are.
    if (m_carriedChanges && !m_model->edits().counts().any()) {
        m_saveAfterLoad = std::move(handler);
        if (!m_tableDataQuery && !m_structureObserver.isActive())
            reloadWithStructure(false);
        return;
    }
    auto query = crudQuery();
    m_saveObserver = observeNext(query, ZNTUpdateInsertDeleteQuery::DoneNotification,
                                 [this, query, handler](const Notification &) { saveDone(query, handler); });
    setBusy(true);
    m_progressIndicator->startAnimation();
    query->executeInBackgroundOnConnection(m_table->database()->connection());
}

void ZNTTableViewController::saveDone(const std::shared_ptr<ZNTUpdateInsertDeleteQuery> &query,
                                      const std::function<void(bool, ErrorPtr)> &handler) {
    setBusy(false);
    if (!m_tableDataQuery)
        m_progressIndicator->stopAnimation();
    if (!query->success()) {
        if (ZNTUpdateInsertDeleteQuery::mayHaveCommitted(query->error()))
            reloadAfterUnsettledSave(*query);
        handler(false, query->error());
        return;
    }
    const ZNTTableEdits::Counts saved = m_model->edits().counts();
    m_model->foldSaved(query->completedInsertRows(), query->completedUpdateRows());
    noteRowsSaved(saved.newRows - saved.deletedRows);
    m_undoStack->clear();
    updateSaveView();
    updateSidebarView();
    handler(true, nullptr);
}

// Sending these changes again could write them twice. The rows are loaded
// again as the table holds them now, and the changes of rows still there go
// back over them; new rows do not, as the table may hold them already. The
// changes are held (they count as unsaved) until a load puts them back.
void ZNTTableViewController::reloadAfterUnsettledSave(const ZNTUpdateInsertDeleteQuery &query) {
    ZNTTableEdits::CarriedChanges carried;
    for (const auto &column : query.columns())
        carried.columns << column->name();
    const auto metadata = pageMetadata();
    const auto connection = m_table->database()->connection();
    ZNTRowMatching::RowKey key;
    if (metadata && connection &&
        ZNTRowMatching::keyOfRelation(*m_table, *metadata, *connection, query.columns(), &key, nullptr)) {
        for (const auto &column : key.columns)
            carried.keyColumns << column->name();
    }
    carried.updateRowsBefore = query.updateRowsBefore();
    carried.updateRowsAfter = query.updateRowsAfter();
    carried.deleteRows = query.deleteRows();
    const bool completed = query.completedInsertRows().size() == query.insertRows().size() &&
                           query.completedUpdateRows().size() == query.updateRowsAfter().size();
    carried.insertedRows = completed ? query.completedInsertRows() : query.insertRows();
    carried.updatedRows = completed ? query.completedUpdateRows() : query.updateRowsAfter();
    m_carriedChanges = carried;
    reloadWithStructure(false);
}

// A save asked for while held changes waited for the rows goes on once they
// are back, or fails with the load, whose own sheet says why.
void ZNTTableViewController::saveAfterLoad(bool loaded) {
    auto handler = std::exchange(m_saveAfterLoad, nullptr);
    if (!handler)
        return;
    if (!loaded)
        handler(false, nullptr);
    else if (hasPendingChanges())
        saveEditsWithCompletionHandler(std::move(handler));
    else
        handler(true, nullptr);
}

// After the rows loaded; changes that apply to none of them are dropped.
void ZNTTableViewController::putBackCarriedChanges() {
    const auto carried = std::exchange(m_carriedChanges, std::nullopt);
    if (!carried || !m_model->hasResult())
        return;
    QStringList names;
    for (const auto &column : m_model->resultColumns().mid(0, m_model->edits().columnCount()))
        names << column->name();
    const ZNTTableEdits::Reapplied back = m_model->edits().reapplied(*carried, names);
    for (const auto &cell : back.cells)
        m_model->setValue(cell.row, cell.column, cell.value);
    for (qsizetype row : back.deletedRows)
        m_model->setDeleted(row, true);
    updateSaveView();
    updateSidebarView();
}

// The saved rows stay where they are, and the count follows them: the total
// the page showed, plus the rows inserted, less the rows deleted.
void ZNTTableViewController::noteRowsSaved(qint64 change) {
    m_savedRowsChange += change;
    if (m_totalNumRows >= 0)
        m_totalNumRows = std::max<qint64>(0, m_totalNumRows + change);
    updatePagerLabels();
    updateRowCount();
}

void ZNTTableViewController::presentSaveError(const ErrorPtr &error) {
    const bool unsettled = ZNTUpdateInsertDeleteQuery::mayHaveCommitted(error);
    Alert *alert = Alert::alertWithMessageText(
        unsettled ? QStringLiteral("The changes may have been saved") : QStringLiteral("Could not save changes"),
        QStringLiteral("OK"), {}, {},
        unsettled ? unsettledSaveText(error->localizedDescription()) : informativeTextForError(error));
    alert->setAlertStyle(Alert::Style::Critical);
    alert->compatibleBeginSheetModalForWindow(pageView()->window(), nullptr);
}

QString ZNTTableViewController::sqlPreviewString() {
    auto query = crudQuery();
    query->prepareSQLForConnection(*m_table->database()->connection(), nullptr);
    return query->sql();
}

QWidget *ZNTTableViewController::sqlPreviewView() {
    return pageView();
}
