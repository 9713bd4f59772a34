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

QString ZNTMaintenanceQuery::quotedTable(const ZNTObject &object) {
    const auto &table = dynamic_cast<const ZNTTable &>(object);
    return Quoting::quoteQualifiedName(table.schemaName(), table.name());
}

// Relations of type table or materialized view, and database items.
bool ZNTMaintenanceQuery::accepts(const ZNTObject &object) const {
    if (dynamic_cast<const ZNTDatabase *>(&object))
        return true;
    const auto *table = dynamic_cast<const ZNTTable *>(&object);
    return table && table->type() != ZNTTable::ZNTTableTypeView;
}

bool ZNTMaintenanceQuery::prepareSQLForConnection(const ZNTConnection &connection, ErrorPtr *error) {
    QStringList statements;
    for (const auto &object : objects()) {
        const QString statement = object ? statementFor(connection, *object) : QString();
        if (statement.isEmpty()) {
            const Texts t = texts();
            QString refusal = t.refused;
            if (!refusal.endsWith(QLatin1Char('.')))
                refusal += QLatin1Char('.');
            const bool named = object && !object->name().isEmpty();
            return failWith(error, KesError::errorWithFormat(refusal.arg(named ? object->name() : t.unnamed)));
        }
        statements << statement;
    }
    setSql(statements.join(QString()));
    setSeparateStatements(sendsSeparately(statements) ? statements : QStringList());
    return true;
}

void ZNTMaintenanceQuery::addOption(ZNTActionAccessory *accessory, const QString &title, const QString &explanation,
                                    bool *option) {
    m_optionBoxes.append({accessory->addCheckBox(title, explanation), option});
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
    m_optionBoxes.clear();
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
    for (const auto &[box, option] : std::as_const(m_optionBoxes)) {
        if (box)
            *option = box->isChecked();
    }
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

QString ZNTAnalyzeQuery::statementFor(const ZNTConnection &, const ZNTObject &object) const {
    if (dynamic_cast<const ZNTDatabase *>(&object))
        return QStringLiteral("ANALYZE;\n");
    if (dynamic_cast<const ZNTTable *>(&object))
        return QStringLiteral("ANALYZE %1;\n").arg(quotedTable(object));
    return QString();
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

ZNTActionAccessory *ZNTVacuumQuery::makeAccessory() {
    auto *accessory = new ZNTActionAccessory;
    addOption(accessory, QStringLiteral("Analyze"),
              QStringLiteral("Perform the analyze command after vacuum completes."), &m_analyze);
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
}

// The old option syntax wants FULL before FREEZE.
QString ZNTVacuumQuery::statementFor(const ZNTConnection &, const ZNTObject &object) const {
    QString options;
    if (m_vacuumFull)
        options += QStringLiteral(" FULL");
    if (m_vacuumFreeze)
        options += QStringLiteral(" FREEZE");
    if (m_analyze)
        options += QStringLiteral(" ANALYZE");
    if (dynamic_cast<const ZNTDatabase *>(&object))
        return QStringLiteral("VACUUM%1;\n").arg(options);
    if (dynamic_cast<const ZNTTable *>(&object))
        return QStringLiteral("VACUUM%1 %2;\n").arg(options, quotedTable(object));
    return QString();
}

// VACUUM cannot run inside the implicit transaction of a text of several
// statements, so a vacuum of several items sends them one at a time.
bool ZNTVacuumQuery::sendsSeparately(const QStringList &statements) const {
    return statements.size() > 1;
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
        QStringLiteral("item"),
    };
}

QString ZNTReindexQuery::statementFor(const ZNTConnection &connection, const ZNTObject &object) const {
    if (dynamic_cast<const ZNTDatabase *>(&object))
        return QStringLiteral("REINDEX DATABASE %1;\n").arg(connection.quoteIdentifier(object.name()));
    if (dynamic_cast<const ZNTTable *>(&object))
        return QStringLiteral("REINDEX TABLE %1;\n").arg(quotedTable(object));
    return QString();
}

// REINDEX DATABASE cannot run inside the implicit transaction of a text of
// several statements: with a database item among others, each goes alone.
bool ZNTReindexQuery::sendsSeparately(const QStringList &statements) const {
    const auto all = objects();
    const bool database = std::any_of(all.begin(), all.end(), [](const std::shared_ptr<ZNTObject> &object) {
        return dynamic_cast<const ZNTDatabase *>(object.get()) != nullptr;
    });
    return database && statements.size() > 1;
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
    addOption(accessory, QStringLiteral("Cascade"),
              QStringLiteral("Also truncate tables with foreign key constraints depending on the truncated tables."),
              &m_truncateCascade);
    addOption(accessory, QStringLiteral("Restart Identity"),
              QStringLiteral("Also reset sequences owned by the truncated table(s)."), &m_truncateRestartIdentity);
    return accessory;
}

// Return must not empty tables: the Truncate button answers "t" instead.
void ZNTTruncateTableQuery::configureAlert(Alert *alert) {
    alert->setKeyEquivalent(alert->buttons().first(), QKeySequence(Qt::Key_T));
}

bool ZNTTruncateTableQuery::prepareSQLForConnection(const ZNTConnection &connection, ErrorPtr *error) {
    if (objects().isEmpty())
        return failWith(error, KesError::errorWithFormat(QStringLiteral("No table provided.")));
    QStringList tables;
    for (const auto &object : objects()) {
        if (!object || !accepts(*object))
            return failWith(error, KesError::errorWithFormat(QStringLiteral("You can truncate tables only.")));
        tables << quotedTable(*object);
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
    addOption(accessory, QStringLiteral("Refresh Concurrently"),
              QStringLiteral("Allows other queries to access the view while it is being refreshed, but requires a "
                             "unique index on the materialized view."),
              &m_refreshConcurrently);
    return accessory;
}

QString ZNTRefreshMaterializedViewQuery::statementFor(const ZNTConnection &, const ZNTObject &object) const {
    if (!dynamic_cast<const ZNTTable *>(&object))
        return QString();
    const QString options = m_refreshConcurrently ? QStringLiteral(" CONCURRENTLY") : QString();
    return QStringLiteral("REFRESH MATERIALIZED VIEW%1 %2;\n").arg(options, quotedTable(object));
}
