// The table page's saving: the change statement of its pending edits, the
// save itself with the server's rows folded back, and the SQL it would run.
#include "ZNTTableContentModel.h"
#include "ZNTTableGridView.h"
#include "ZNTTablePageLogic.h"
#include "ZNTTableViewController.h"
#include "actions/ZNTRowMatching.h"
#include "actions/ZNTUpdateInsertDeleteQuery.h"
#include "engine/KesError.h"
#include "engine/ZNTConnection.h"
#include "engine/ZNTResult.h"
#include "model/ZNTDatabase.h"
#include "model/ZNTTable.h"
#include "model/ZNTTableMetadata.h"
#include "uikit/AlertSheet.h"
#include "uikit/Beep.h"
#include "uikit/BlockObservers.h"
#include "uikit/SheetFocus.h"
#include "uikit/ZNTAnimatingIndicator.h"

#include <QUndoStack>
#include <utility>

using namespace ZNTTablePageLogic;

namespace {
ZNTPageLeftovers::Notice notPutBackNotice(qsizetype rows) {
    return {QStringLiteral("Changes could not be put back"), notPutBackNoticeText(rows)};
}
} // namespace

std::shared_ptr<ZNTUpdateInsertDeleteQuery> ZNTTableViewController::crudQuery() const {
    auto query = std::make_shared<ZNTUpdateInsertDeleteQuery>();
    query->setTable(m_table);
    query->setMetadata(pageMetadata());
    // The rows' texts mean the values shown only under the settings they
    // were read with; a page without rows has none.
    query->setValueStyles(m_tableResult ? m_tableResult->valueStyles() : ZNTValueStyles());
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
    if (!m_carriedChanges.isEmpty() && !m_model->edits().counts().any()) {
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
        const ErrorPtr error = ZNTUpdateInsertDeleteQuery::mayHaveCommitted(query->error())
                                   ? reloadAfterUnsettledSave(*query)
                                   : query->error();
        handler(false, error);
        return;
    }
    // Held changes on the rows this save wrote, or changed again, stay out.
    if (!m_carriedChanges.isEmpty())
        ZNTTableEdits::noteSaved(m_carriedChanges, carriedChangesOf(*query));
    const ZNTTableEdits::Counts saved = m_model->edits().counts();
    m_model->foldSaved(query->completedInsertRows(), query->completedUpdateRows());
    noteRowsSaved(saved.newRows - saved.deletedRows);
    m_undoStack->clear();
    updateSaveView();
    updateSidebarView();
    // A trigger rewrote a key the save did not write: the rows shown are not
    // what the server holds, and a later change would reach another row.
    m_reloadAfterSave = m_reloadAfterSave || query->writtenRowsUnpaired();
    const QPointer<ZNTTableViewController> self(this);
    handler(true, nullptr);
    if (self)
        reloadAfterUnpairedSave();
}

// As after an unsettled save: the same page, sort and filter. A load the
// handler started (a page change, a reload) shows the server's rows itself. A
// page that is not on screen (another page shown, its window closed) loads
// them when it is shown again; one that holds changes by then (typed after a
// save the handler started) keeps them, and loads after its next save.
void ZNTTableViewController::reloadAfterUnpairedSave() {
    if (!m_reloadAfterSave || m_isBusy || !m_view || !m_view->isVisible() || m_tableView->isEditing() ||
        m_model->edits().counts().any())
        return;
    reloadWithStructure(false);
}

void ZNTTableViewController::pageShown() {
    if (!m_view || !m_view->isVisible())
        return;
    reloadAfterUnpairedSave();
    presentNotPutBackNotice();
}

// A save's changes of loaded rows and what it wrote, to be found again by the
// key that tells the relation's rows apart: rows matched by every column are
// not told from look-alikes.
ZNTTableEdits::CarriedChanges ZNTTableViewController::carriedChangesOf(const ZNTUpdateInsertDeleteQuery &query) const {
    ZNTTableEdits::CarriedChanges carried;
    for (const auto &column : query.columns())
        carried.columns << column->name();
    const auto metadata = pageMetadata();
    const auto connection = m_table->database()->connection();
    for (const auto &column :
         metadata &&connection ? ZNTRowMatching::identifyingKey(*metadata, *connection) : ZNTColumnList())
        carried.keyColumns << column->name();
    carried.updateRowsBefore = query.updateRowsBefore();
    carried.updateRowsAfter = query.updateRowsAfter();
    carried.deleteRows = query.deleteRows();
    carried.addedRows = !query.insertRows().isEmpty();
    carried.writtenAsStored = query.writtenRowsFilled();
    return carried;
}

// Sending these changes again could write them twice. The rows are loaded
// again as the table holds them now, and the changes of rows still there go
// back over them where they can land on no other row; new rows do not, as the
// table may hold them already. What is held, with what an earlier such save
// held, counts as unsaved until a load puts it back. Answers the save's error
// with what the sheet says of them.
ErrorPtr ZNTTableViewController::reloadAfterUnsettledSave(const ZNTUpdateInsertDeleteQuery &query) {
    const ZNTTableEdits::LeftOut leftOut = ZNTTableEdits::hold(m_carriedChanges, carriedChangesOf(query));
    HeldChanges held;
    held.kept = m_carriedChanges.size();
    held.withoutKey = leftOut.withoutKey;
    held.uncertain = leftOut.uncertain;
    held.changedAgain = leftOut.changedAgain;
    held.newRows = query.insertRows().size();
    reloadWithStructure(false);
    const ErrorPtr &error = query.error();
    QVariantMap info = error->userInfo();
    info.insert(Error::RecoverySuggestionKey, unsettledSaveText(error->localizedDescription(), held));
    return Error::make(error->domain(), error->code(), info, error->underlyingError());
}

// A save asked for while held changes waited for the rows goes on once they
// are back, or fails with the load, whose own sheet says why. Changes that
// found no row stop it: the user looks before anything is written. Without
// such a save the page tells them itself.
void ZNTTableViewController::saveAfterLoad(bool loaded, qsizetype notPutBack) {
    auto handler = std::exchange(m_saveAfterLoad, nullptr);
    if (!handler) {
        if (loaded && notPutBack > 0) {
            m_notPutBackNotice += notPutBack;
            presentNotPutBackNotice();
        }
        return;
    }
    if (!loaded)
        handler(false, nullptr);
    else if (notPutBack > 0)
        handler(false, KesError::errorWithFormat(notPutBackText(notPutBack)));
    else if (hasUnsavedChanges())
        saveEditsWithCompletionHandler(std::move(handler));
    else
        handler(true, nullptr);
}

// The rows usually load while the sheet of the save that held the changes, or
// the close prompt, is still open: the notice follows it, and a save it
// started, in turn. A page that is not on screen keeps it until it is shown
// again, and follows the sheets it opened meanwhile. What a discard (in that
// prompt) took with it is not told.
void ZNTTableViewController::presentNotPutBackNotice() {
    if (m_notPutBackNotice == 0 || !m_view || !m_view->isVisible())
        return;
    QWidget *window = m_view->window();
    // Queued: after the handlers of the sheet or save, which may close the window.
    const auto again = Qt::ConnectionType(Qt::QueuedConnection | Qt::SingleShotConnection);
    if (m_isBusy) {
        connect(this, &ZNTTableViewController::busyChanged, this, &ZNTTableViewController::presentNotPutBackNotice,
                again);
        return;
    }
    if (QDialog *sheet = uv_openSheet(window)) {
        connect(sheet, &QDialog::finished, this, &ZNTTableViewController::presentNotPutBackNotice, again);
        return;
    }
    presentPageNotice(notPutBackNotice(std::exchange(m_notPutBackNotice, 0)), window);
}

// Its window lets the page go (a rename of the table) while it is not on
// screen: the notice, and the sheets the page opened on its own view
// meanwhile, none of which needs the page, go on with the window.
ZNTPageLeftovers ZNTTableViewController::takeLeftovers() {
    ZNTPageLeftovers leftovers;
    if (m_view && m_view->isWindow())
        leftovers.sheets = uv_sheetsOn(m_view);
    if (noticeWaits())
        leftovers.notice = notPutBackNotice(std::exchange(m_notPutBackNotice, 0));
    return leftovers;
}

// After the rows loaded; answers how many rows' changes did not go back,
// which are dropped.
qsizetype ZNTTableViewController::putBackCarriedChanges() {
    const auto carried = std::exchange(m_carriedChanges, {});
    if (carried.isEmpty() || !m_model->hasResult())
        return 0;
    QStringList names;
    for (const auto &column : m_model->resultColumns().mid(0, m_model->edits().columnCount()))
        names << column->name();
    const ZNTTableEdits::Reapplied back = m_model->edits().reapplied(carried, names);
    for (const auto &cell : back.cells)
        m_model->setValue(cell.row, cell.column, cell.value);
    for (qsizetype row : back.deletedRows)
        m_model->setDeleted(row, true);
    updateSaveView();
    updateSidebarView();
    return back.notPutBack;
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
    // A save that may have been committed carries, as its recovery suggestion,
    // why and what the page did with the changes.
    const bool unsettled = ZNTUpdateInsertDeleteQuery::mayHaveCommitted(error);
    QString text = unsettled ? error->localizedRecoverySuggestion() : informativeTextForError(error);
    if (text.isEmpty())
        text = error->localizedDescription();
    Alert *alert = Alert::alertWithMessageText(unsettled ? QStringLiteral("The changes may have been saved")
                                                         : QStringLiteral("Could not save changes"),
                                               QStringLiteral("OK"), {}, {}, text);
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
