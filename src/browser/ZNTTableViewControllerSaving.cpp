// The table page's saving: the change statement of its pending edits, the
// save itself with the server's rows folded back, and the SQL it would run.
#include "ZNTTableContentModel.h"
#include "ZNTTableGridView.h"
#include "ZNTTablePageLogic.h"
#include "ZNTTableViewController.h"
#include "actions/ZNTUpdateInsertDeleteQuery.h"
#include "model/ZNTDatabase.h"
#include "model/ZNTTable.h"
#include "uikit/AlertSheet.h"
#include "uikit/Beep.h"
#include "uikit/BlockObservers.h"
#include "uikit/ZNTAnimatingIndicator.h"

#include <QUndoStack>

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
    if (m_isBusy || !endEditingForAction()) {
        handler(false, nullptr);
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
    Alert *alert = Alert::alertWithMessageText(QStringLiteral("Could not save changes"), QStringLiteral("OK"), {}, {},
                                               informativeTextForError(error));
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
