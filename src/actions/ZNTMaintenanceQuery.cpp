#include "ZNTMaintenanceQuery.h"

#include "ZNTActionAccessory.h"
#include "engine/KesError.h"
#include "engine/Quoting.h"
#include "engine/ZNTConnection.h"
#include "model/ZNTDatabase.h"
#include "model/ZNTTable.h"
#include "platform/ProgramError.h"
#include "uikit/AlertSheet.h"
#include "uikit/BlockObservers.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QPushButton>

namespace {
std::shared_ptr<ZNTDatabase> databaseOf(const std::shared_ptr<ZNTObject> &object) {
    if (auto database = std::dynamic_pointer_cast<ZNTDatabase>(object))
        return database;
    if (auto table = std::dynamic_pointer_cast<ZNTTable>(object))
        return table->database();
    return nullptr;
}

bool isPlainView(const ZNTObject &object) {
    const auto *table = dynamic_cast<const ZNTTable *>(&object);
    return table && table->type() == ZNTTable::ZNTTableTypeView;
}
} // namespace

bool ZNTMaintenanceQuery::canPerform() {
    const Texts t = texts();
    std::shared_ptr<ZNTDatabase> previous;
    bool first = true;
    for (const auto &object : objects()) {
        if (!object || !accepts(*object)) {
            const bool view = object && isPlainView(*object) && !t.refusedView.isEmpty();
            setError(KesError::errorWithFormat(view ? t.refusedView : t.refused.arg(itemDescription())));
            return false;
        }
        const auto database = databaseOf(object);
        if (!first && !(database && previous && database->isEqual(*previous))) {
            setError(KesError::errorWithFormat(t.differentDatabases));
            return false;
        }
        previous = database;
        first = false;
    }
    return previous != nullptr;
}

QString ZNTMaintenanceQuery::statusMessage() const {
    return texts().status.arg(itemDescription());
}

std::shared_ptr<ZNTDatabase> ZNTMaintenanceQuery::targetDatabase() const {
    const auto all = objects();
    return all.isEmpty() ? nullptr : databaseOf(all.first());
}

QString ZNTMaintenanceQuery::quotedTable(const ZNTConnection &connection, const ZNTObject &object) const {
    const auto &table = dynamic_cast<const ZNTTable &>(object);
    return Quoting::quoteQualifiedName(table.schemaName(), table.name());
}

void ZNTMaintenanceQuery::engageWithWindow(QWidget *window, std::function<void(bool)> handler) {
    requireMainThread("ZNTMaintenanceQuery::engageWithWindow");
    if (!canPerform()) {
        presentError(error(), window);
        return;
    }
    const Texts t = texts();
    const QString item = itemDescription();
    Alert *alert =
        Alert::alertWithMessageText(t.question.arg(item), t.verb, QStringLiteral("Cancel"), {}, t.informative);
    if (ZNTActionAccessory *accessory = makeAccessory())
        alert->setAccessoryView(accessory);
    configureAlert(alert);
    QPointer<QWidget> sheetWindow = window;
    auto self = std::static_pointer_cast<ZNTMaintenanceQuery>(shared_from_this());
    alert->compatibleBeginSheetModalForWindow(window, [self, sheetWindow, handler](int code) {
        if (code != Alert::DefaultReturn) {
            if (handler)
                handler(false);
            return;
        }
        self->confirmed(sheetWindow, handler);
    });
}

void ZNTMaintenanceQuery::confirmed(QWidget *window, std::function<void(bool)> handler) {
    takeOptions();
    const Texts t = texts();
    const QString item = itemDescription();
    QPointer<QWidget> sheetWindow = window;
    // Registered before anything runs, so that even an end posted at once is
    // heard.
    m_doneObserver = observeNext(static_cast<ZNTActionQuery *>(this), DoneNotification,
                                 [this, sheetWindow, handler, t, item](const Notification &) {
                                     if (error()) {
                                         endProgressSheet();
                                         presentError(error(), sheetWindow);
                                     } else {
                                         completeWithStatus(t.done.arg(item));
                                     }
                                     if (handler)
                                         handler(success() && !error());
                                 });
    showStatus(t.progress.arg(item), window);
    const auto database = targetDatabase();
    executeInBackgroundOnConnection(database ? database->connection() : nullptr);
}

// --- ANALYZE
// -------------------------------------------------------------------

namespace {
// Relations of type table or materialized view, and database items.
bool acceptsTableOrDatabase(const ZNTObject &object) {
    if (dynamic_cast<const ZNTDatabase *>(&object))
        return true;
    const auto *table = dynamic_cast<const ZNTTable *>(&object);
    return table && table->type() != ZNTTable::ZNTTableTypeView;
}

QString nameOr(const ZNTObject &object, const QString &fallback) {
    return object.name().isEmpty() ? fallback : object.name();
}

void fail(ErrorPtr *error, const QString &description) {
    if (error)
        *error = KesError::errorWithFormat(description);
}
} // namespace

ZNTMaintenanceQuery::Texts ZNTAnalyzeQuery::texts() const {
    return {
        QStringLiteral("Do you want to analyze %1?"),
        QStringLiteral("Analyze"),
        QStringLiteral("The Analyze command refreshes column statistics used by "
                       "the query optimizer. Usually the "
                       "autovacuum daemon takes care of this, but you may want "
                       "to analyze manually after importing "
                       "data or making significant changes to table rows."),
        QStringLiteral("Analyzing %1…"),
        QStringLiteral("Analyzed %1."),
        QStringLiteral("Analyze %1…"),
        QStringLiteral("Can't analyze %1"),
        QStringLiteral("Can't analyze views."),
        QStringLiteral("Can't analyze tables from different databases."),
    };
}

bool ZNTAnalyzeQuery::accepts(const ZNTObject &object) const {
    return acceptsTableOrDatabase(object);
}

bool ZNTAnalyzeQuery::prepareSQLForConnection(const ZNTConnection &connection, ErrorPtr *error) {
    QString text;
    for (const auto &object : objects()) {
        if (object && dynamic_cast<const ZNTDatabase *>(object.get())) {
            text += QStringLiteral("ANALYZE;\n");
        } else if (object && dynamic_cast<const ZNTTable *>(object.get())) {
            text += QStringLiteral("ANALYZE %1;\n").arg(quotedTable(connection, *object));
        } else {
            fail(error, QStringLiteral("Can't analyze %1.").arg(object ? nameOr(*object, "object") : "object"));
            return false;
        }
    }
    setSql(text);
    return true;
}

// --- VACUUM
// --------------------------------------------------------------------

ZNTMaintenanceQuery::Texts ZNTVacuumQuery::texts() const {
    return {
        QStringLiteral("Do you want to vacuum %1?"),
        QStringLiteral("Vacuum"),
        QStringLiteral("Vacuum makes space from updated or deleted rows "
                       "available for reuse."),
        QStringLiteral("Vacuuming %1…"),
        QStringLiteral("Vacuumed %1."),
        QStringLiteral("Vacuum %1…"),
        QStringLiteral("Can't vacuum %1"),
        QStringLiteral("Can't vacuum views."),
        QStringLiteral("Can't vacuum tables from different databases."),
    };
}

bool ZNTVacuumQuery::accepts(const ZNTObject &object) const {
    return acceptsTableOrDatabase(object);
}

ZNTActionAccessory *ZNTVacuumQuery::makeAccessory() {
    auto *accessory = new ZNTActionAccessory;
    m_analyzeBox = accessory->addCheckBox(QStringLiteral("Analyze"),
                                          QStringLiteral("Perform the analyze command after vacuum completes."));
    m_kind = accessory->addRadioGroup(
        {QStringLiteral("Vacuum"), QStringLiteral("Vacuum Freeze"), QStringLiteral("Vacuum Full")},
        QStringLiteral("Vacuum scans only rows that were recently modified. "
                       "Vacuum Freeze scans the full table. Vacuum "
                       "Full rewrites the table. Only Vacuum Full reduces the "
                       "amount of disk space used, but it "
                       "requires an exclusive lock on the table."));
    return accessory;
}

void ZNTVacuumQuery::takeOptions() {
    if (m_kind) {
        m_vacuumFreeze = m_kind->checkedId() == 1;
        m_vacuumFull = m_kind->checkedId() == 2;
    }
    if (m_analyzeBox)
        m_analyze = m_analyzeBox->isChecked();
}

// VACUUM cannot run inside the implicit transaction of a text of several
// statements, so a vacuum of several items sends them one at a time. The old
// option syntax wants FULL before FREEZE.
bool ZNTVacuumQuery::prepareSQLForConnection(const ZNTConnection &connection, ErrorPtr *error) {
    QString options;
    if (m_vacuumFull)
        options += QStringLiteral(" FULL");
    if (m_vacuumFreeze)
        options += QStringLiteral(" FREEZE");
    if (m_analyze)
        options += QStringLiteral(" ANALYZE");
    QStringList statements;
    for (const auto &object : objects()) {
        if (object && dynamic_cast<const ZNTDatabase *>(object.get())) {
            statements << QStringLiteral("VACUUM%1;\n").arg(options);
        } else if (object && dynamic_cast<const ZNTTable *>(object.get())) {
            statements << QStringLiteral("VACUUM%1 %2;\n").arg(options, quotedTable(connection, *object));
        } else {
            fail(error, QStringLiteral("Can't vacuum %1.").arg(object ? nameOr(*object, "object") : "object"));
            return false;
        }
    }
    setSql(statements.join(QString()));
    setSeparateStatements(statements.size() > 1 ? statements : QStringList());
    return true;
}

// --- REINDEX
// -------------------------------------------------------------------

ZNTMaintenanceQuery::Texts ZNTReindexQuery::texts() const {
    return {
        QStringLiteral("Do you want to reindex %1?"),
        QStringLiteral("Reindex"),
        QStringLiteral("Reindexing is useful in the following situations:\n• "
                       "when indices have become corrupted\n• to "
                       "reduce file size in bloated BTREE indices\n• to apply "
                       "changed storage parameters"),
        QStringLiteral("Reindexing %1…"),
        QStringLiteral("Reindexed %1."),
        QStringLiteral("Reindex %1…"),
        QStringLiteral("Can't reindex %1."),
        QStringLiteral("Can't reindex views."),
        QStringLiteral("Can't reindex items from different databases."),
    };
}

bool ZNTReindexQuery::accepts(const ZNTObject &object) const {
    return acceptsTableOrDatabase(object);
}

// REINDEX DATABASE cannot run inside the implicit transaction of a text of
// several statements: with a database item among others, each goes alone.
bool ZNTReindexQuery::prepareSQLForConnection(const ZNTConnection &connection, ErrorPtr *error) {
    QStringList statements;
    bool database = false;
    for (const auto &object : objects()) {
        if (object && dynamic_cast<const ZNTDatabase *>(object.get())) {
            statements << QStringLiteral("REINDEX DATABASE %1;\n").arg(connection.quoteIdentifier(object->name()));
            database = true;
        } else if (object && dynamic_cast<const ZNTTable *>(object.get())) {
            statements << QStringLiteral("REINDEX TABLE %1;\n").arg(quotedTable(connection, *object));
        } else {
            fail(error, QStringLiteral("Can't reindex %1.").arg(object ? nameOr(*object, "item") : "item"));
            return false;
        }
    }
    setSql(statements.join(QString()));
    setSeparateStatements(database && statements.size() > 1 ? statements : QStringList());
    return true;
}

// --- TRUNCATE
// ------------------------------------------------------------------

ZNTMaintenanceQuery::Texts ZNTTruncateTableQuery::texts() const {
    return {
        QStringLiteral("Do you want to truncate %1?"),
        QStringLiteral("Truncate"),
        QStringLiteral("Truncation is an efficient method to delete all rows in a table."),
        QStringLiteral("Truncating %1…"),
        QStringLiteral("Truncated %1."),
        QStringLiteral("Truncate %1…"),
        QStringLiteral("Can't truncate %1"),
        QString(),
        QStringLiteral("Can't truncate tables from different databases."),
    };
}

bool ZNTTruncateTableQuery::accepts(const ZNTObject &object) const {
    return dynamic_cast<const ZNTTable *>(&object) && !dynamic_cast<const ZNTView *>(&object);
}

ZNTActionAccessory *ZNTTruncateTableQuery::makeAccessory() {
    auto *accessory = new ZNTActionAccessory;
    m_cascadeBox = accessory->addCheckBox(QStringLiteral("Cascade"),
                                          QStringLiteral("Also truncate tables with foreign key constraints "
                                                         "depending on the truncated tables."));
    m_restartBox = accessory->addCheckBox(QStringLiteral("Restart Identity"),
                                          QStringLiteral("Also reset sequences owned by the truncated table(s)."));
    return accessory;
}

void ZNTTruncateTableQuery::takeOptions() {
    if (m_restartBox)
        m_truncateRestartIdentity = m_restartBox->isChecked();
    if (m_cascadeBox)
        m_truncateCascade = m_cascadeBox->isChecked();
}

// Return must not empty tables: the Truncate button answers "t" instead.
void ZNTTruncateTableQuery::configureAlert(Alert *alert) {
    alert->setKeyEquivalent(alert->buttons().first(), QKeySequence(Qt::Key_T));
}

bool ZNTTruncateTableQuery::prepareSQLForConnection(const ZNTConnection &connection, ErrorPtr *error) {
    if (objects().isEmpty()) {
        fail(error, QStringLiteral("No table provided."));
        return false;
    }
    QStringList tables;
    for (const auto &object : objects()) {
        if (!object || !accepts(*object)) {
            fail(error, QStringLiteral("You can truncate tables only."));
            return false;
        }
        tables << quotedTable(connection, *object);
    }
    QString text = QStringLiteral("TRUNCATE ");
    if (m_truncateOnly)
        text += QStringLiteral("ONLY ");
    text += tables.join(QStringLiteral(", "));
    if (m_truncateRestartIdentity)
        text += QStringLiteral(" RESTART IDENTITY");
    if (m_truncateCascade)
        text += QStringLiteral(" CASCADE");
    setSql(text + QStringLiteral(";\n"));
    return true;
}

// --- REFRESH MATERIALIZED VIEW
// ---------------------------------------------------

ZNTMaintenanceQuery::Texts ZNTRefreshMaterializedViewQuery::texts() const {
    return {
        QStringLiteral("Do you want to refresh %1?"),
        QStringLiteral("Refresh"),
        QStringLiteral("Materialized views in PostgreSQL must be refreshed manually."),
        QStringLiteral("Refreshing %1…"),
        QStringLiteral("Refreshed %1."),
        QStringLiteral("Refreshing %1…"),
        QStringLiteral("Can't refresh %1"),
        QString(),
        QStringLiteral("Can't refresh views from different databases."),
    };
}

bool ZNTRefreshMaterializedViewQuery::accepts(const ZNTObject &object) const {
    return dynamic_cast<const ZNTMaterializedView *>(&object) != nullptr;
}

ZNTActionAccessory *ZNTRefreshMaterializedViewQuery::makeAccessory() {
    auto *accessory = new ZNTActionAccessory;
    m_concurrentlyBox = accessory->addCheckBox(QStringLiteral("Refresh Concurrently"),
                                               QStringLiteral("Allows other queries to access the view while it is "
                                                              "being refreshed, but requires a unique index on the "
                                                              "materialized view."));
    return accessory;
}

void ZNTRefreshMaterializedViewQuery::takeOptions() {
    if (m_concurrentlyBox)
        m_refreshConcurrently = m_concurrentlyBox->isChecked();
}

bool ZNTRefreshMaterializedViewQuery::prepareSQLForConnection(const ZNTConnection &connection, ErrorPtr *error) {
    const QString options = m_refreshConcurrently ? QStringLiteral(" CONCURRENTLY") : QString();
    QString text;
    for (const auto &object : objects()) {
        if (!object || !dynamic_cast<const ZNTTable *>(object.get())) {
            fail(error, QStringLiteral("Can't refresh %1.").arg(object ? nameOr(*object, "object") : "object"));
            return false;
        }
        text += QStringLiteral("REFRESH MATERIALIZED VIEW%1 %2;\n").arg(options, quotedTable(connection, *object));
    }
    setSql(text);
    return true;
}
