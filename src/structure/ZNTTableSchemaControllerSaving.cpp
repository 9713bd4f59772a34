// The structure page's saving: the statement of its edits, the save with its
// missing-sequence question, what follows a save, discarding, settling pending
// changes before the window closes or reloads, and the SQL preview.
#include "ZNTTableSchemaController.h"
#include "ZNTTableSchemaStatements.h"
#include "actions/ZNTStructureQuery.h"
#include "engine/KesError.h"
#include "model/ZNTDatabase.h"
#include "model/ZNTTable.h"
#include "model/ZNTTableMetadata.h"
#include "model/ZNTTableSchema.h"
#include "uikit/AlertSheet.h"
#include "uikit/Beep.h"
#include "uikit/BlockObservers.h"
#include "window/ZNTActionRoute.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QUndoStack>

std::shared_ptr<ZNTStructureQuery> ZNTTableSchemaController::saveChangesQuery() const {
    return ZNTTableSchemaStatements::saveChangesQuery(
        m_table, m_edits, {m_tableTablespacePopup != nullptr, m_viewDefinitionField != nullptr});
}

void ZNTTableSchemaController::save() {
    if (!makePageFirstResponder() || !hasChanges()) {
        beep();
        return;
    }
    saveWithCompletionHandler([this](bool success, ErrorPtr error) {
        if (success) {
            // Unless the window has put a page for the renamed item in its place.
            if (m_view && m_view->parentWidget())
                performReload();
        } else if (error) {
            presentError(error);
        }
    });
}

void ZNTTableSchemaController::saveWithCompletionHandler(std::function<void(bool, ErrorPtr)> handler) {
    if (m_saveChangesQuery) {
        handler(false, nullptr);
        return;
    }
    const auto database = m_table->database();
    const auto connection = database ? database->connection() : nullptr;
    if (!connection) {
        handler(false, KesError::errorWithFormat(QStringLiteral("The server of this table is no longer connected.")));
        return;
    }
    if (ErrorPtr refusal = renameRefusal()) {
        handler(false, std::move(refusal));
        return;
    }
    m_saveChangesQuery = saveChangesQuery();
    m_saveObserver = observe(m_saveChangesQuery, ZNTActionQuery::DoneNotification,
                             [this, handler](const Notification &) { saveStepDone(handler); });
    setSaving(true);
    m_saveChangesQuery->executeInBackgroundOnConnection(connection);
}

void ZNTTableSchemaController::saveStepDone(const std::function<void(bool, ErrorPtr)> &handler) {
    const auto query = m_saveChangesQuery;
    if (!query->missingSequenceName().isEmpty()) {
        askToCreateSequence(query->missingSequenceName(), handler);
        return;
    }
    if (query->success())
        didSave();
    finishSave(handler, query->success(), query->error());
}

void ZNTTableSchemaController::askToCreateSequence(const QString &name,
                                                   const std::function<void(bool, ErrorPtr)> &handler) {
    Alert *alert = Alert::alertWithMessageText(
        QStringLiteral("Create sequence?"), QStringLiteral("Create"), QStringLiteral("Cancel"), QString(),
        QStringLiteral("It looks like the sequence ‘%1’ doesn't exist. Would you like to create it?").arg(name));
    alert->compatibleBeginSheetModalForWindow(pageView()->window(), [this, name, handler](int code) {
        const auto query = m_saveChangesQuery;
        if (!query)
            return;
        if (code != Alert::DefaultReturn) {
            finishSave(handler, query->success(), query->error());
            return;
        }
        // The same statement again, the sequence created first; the observer stays.
        query->setCreateSequences(query->createSequences() << name);
        const auto database = m_table->database();
        const auto connection = database ? database->connection() : nullptr;
        if (!connection) {
            finishSave(handler, false, query->error());
            return;
        }
        query->executeInBackgroundOnConnection(connection);
    });
}

void ZNTTableSchemaController::finishSave(const std::function<void(bool, ErrorPtr)> &handler, bool success,
                                          ErrorPtr error) {
    m_saveObserver.stopObserving();
    m_saveChangesQuery.reset();
    setSaving(false);
    handler(success, std::move(error));
}

// A rename or a move makes the relation another item: this window drops its
// pages of the old one, and a page of it (rows or structure) in any window
// that keeps changes keeps them bound to a name the server no longer knows, or
// that another relation takes next.
ErrorPtr ZNTTableSchemaController::renameRefusal() {
    const ZNTTableSchemaModel &edited = m_edits.editedModel();
    if (!m_table->hasName() ||
        (sameText(m_table->name(), edited.tableName()) && sameText(m_table->schemaName(), edited.tableSchemaName())))
        return nullptr;
    ZNTPendingChangesQuestion question{m_table, this};
    sendAction(pageView(), ZNTActionName::askPendingChanges, &question);
    if (!question.pending)
        return nullptr;
    return KesError::errorWithFormat(
        QStringLiteral("“%1” has changes that are not saved in another page (its rows or its structure). Save or "
                       "discard them before you rename or move the relation.")
            .arg(m_table->name()));
}

// The cached structure is stale now; a renamed or moved relation (and a new
// one, which had no name) is a different item for the window.
void ZNTTableSchemaController::didSave() {
    m_undoStack->clear();
    m_table->purgeMetadata();
    const ZNTTableSchemaModel &edited = m_edits.editedModel();
    if (sameText(m_table->name(), edited.tableName()) && sameText(m_table->schemaName(), edited.tableSchemaName()))
        return;
    const auto replacement =
        ZNTTable::createOfType(m_table->type(), edited.tableName(), edited.tableSchemaName(), m_table->database());
    QWidget *from = pageView();
    sendAction(from, ZNTActionName::replaceNavigationItems,
               ZNTObjectList{std::shared_ptr<ZNTObject>(m_table), std::shared_ptr<ZNTObject>(replacement)});
    sendAction(from, ZNTActionName::replaceNavigationItems,
               ZNTObjectList{std::make_shared<ZNTTableSchema>(m_table), std::make_shared<ZNTTableSchema>(replacement)});
    if (m_table->database())
        NotificationCenter::defaultCenter().post(ZNTDatabase::RelationListChangedNotification, m_table->database());
}

void ZNTTableSchemaController::presentError(const ErrorPtr &error, std::function<void()> then) {
    Alert *alert = Alert::alertWithError(*error);
    alert->setAlertStyle(Alert::Style::Critical);
    alert->compatibleBeginSheetModalForWindow(pageView()->window(), [then](int) {
        if (then)
            then();
    });
}

// --- discarding -----------------------------------------------------------------

void ZNTTableSchemaController::discardChanges() {
    if (isSaving() || !makePageFirstResponder()) {
        beep();
        return;
    }
    m_undoStack->clear();
    if (!m_table->hasName()) {
        // Never saved: the page leaves the window, which forgets it.
        sendAction(pageView(), ZNTActionName::removeNavigationItem,
                   std::shared_ptr<ZNTObject>(std::make_shared<ZNTTableSchema>(m_table)));
        return;
    }
    noteStructureLoaded(nullptr);
}

// --- settling pending changes ---------------------------------------------------

bool ZNTTableSchemaController::hasPendingChanges() const {
    if (!m_view)
        return false;
    // An editor that will not let go holds what it has.
    if (!const_cast<ZNTTableSchemaController *>(this)->makePageFirstResponder())
        return true;
    return hasChanges();
}

QString ZNTTableSchemaController::relationNameForPrompt() const {
    return m_table->hasName() ? m_table->name() : m_tableNameField->text();
}

void ZNTTableSchemaController::resignWithDelegate(ZNTResignationDelegate *delegate, std::any userInfo) {
    auto answer = [delegate, userInfo](bool success) {
        if (delegate)
            delegate->didResign(success, userInfo);
    };
    if (isSaving() || !m_view || !makePageFirstResponder()) {
        answer(false);
        return;
    }
    if (!hasChanges()) {
        answer(true);
        return;
    }
    Alert *alert = Alert::alertWithMessageText(
        QStringLiteral("Would you like to save these changes?"), QStringLiteral("Save"),
        QStringLiteral("Discard Changes"), QStringLiteral("Cancel"),
        QStringLiteral("You have made changes to the structure of the table ‘%1’.").arg(relationNameForPrompt()));
    for (QPushButton *button : alert->buttons()) {
        if (alert->returnCode(button) == Alert::AlternateReturn)
            alert->setKeyEquivalent(button, QKeySequence(Qt::CTRL | Qt::Key_Backspace));
    }
    alert->compatibleBeginSheetModalForWindow(pageView()->window(), [this, answer](int code) {
        if (code == Alert::DefaultReturn) {
            saveWithCompletionHandler([this, answer](bool success, ErrorPtr error) {
                if (success) {
                    answer(true);
                } else if (error) {
                    presentError(error, [answer] { answer(false); });
                } else {
                    beep();
                    answer(false);
                }
            });
        } else if (code == Alert::AlternateReturn) {
            discardChanges();
            answer(true);
        } else {
            answer(false);
        }
    });
}

// --- SQL preview ----------------------------------------------------------------

QString ZNTTableSchemaController::sqlPreviewString() {
    const auto database = m_table->database();
    const auto connection = database ? database->connection() : nullptr;
    if (!connection)
        return QString();
    const auto query = saveChangesQuery();
    ErrorPtr error;
    if (query->prepareSQLForConnection(*connection, &error))
        return query->sql();
    return error ? error->localizedDescription() : QString();
}

QWidget *ZNTTableSchemaController::sqlPreviewView() {
    return pageView();
}

bool ZNTTableSchemaController::sqlPreviewCanShow() {
    return hasChanges();
}
