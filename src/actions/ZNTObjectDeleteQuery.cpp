#include "ZNTObjectDeleteQuery.h"

#include "ZNTActionAccessory.h"
#include "engine/KesError.h"
#include "engine/Quoting.h"
#include "engine/ZNTConnection.h"
#include "model/ZNTDatabase.h"
#include "model/ZNTTable.h"
#include "platform/Main.h"
#include "platform/ProgramError.h"
#include "uikit/AlertSheet.h"
#include "uikit/BlockObservers.h"

#include <QCheckBox>
#include <QPointer>
#include <QPushButton>

namespace {
// IF EXISTS came with PostgreSQL 8.2.
constexpr quint64 kIfExistsAfterVersion = 80199;

void showRefusal(QWidget *window, const QString &message, const QString &explanation) {
    Alert::alertWithMessageText(message, QStringLiteral("OK"), {}, {}, explanation)
        ->compatibleBeginSheetModalForWindow(window, nullptr);
}
} // namespace

ZNTObjectDeleteQuery::ZNTObjectDeleteQuery(const ZNTActionObjects &objects) : m_objectsToDelete(objects) {}

bool ZNTObjectDeleteQuery::refuse(QWidget *window) const {
    if (m_objectsToDelete.isEmpty()) {
        showRefusal(window, QStringLiteral("Can't delete"), QStringLiteral("No items are selected."));
        return true;
    }
    std::shared_ptr<ZNTDatabase> previous;
    for (const auto &object : m_objectsToDelete) {
        const auto table = std::dynamic_pointer_cast<ZNTTable>(object);
        if (!table) {
            showRefusal(window, QStringLiteral("Can't delete object"),
                        QStringLiteral("Only tables and views can be deleted."));
            return true;
        }
        if (previous && !(table->database() && table->database()->isEqual(*previous))) {
            showRefusal(window, QStringLiteral("Can't delete objects from different databases."),
                        QStringLiteral("Please select only objects from a single database."));
            return true;
        }
        previous = table->database();
    }
    return false;
}

QString ZNTObjectDeleteQuery::selectionName() const {
    if (m_objectsToDelete.size() == 1)
        return m_objectsToDelete.first()->name();
    return QStringLiteral("%1 items").arg(m_objectsToDelete.size());
}

void ZNTObjectDeleteQuery::engageWithWindow(QWidget *window, std::function<void(bool)> handler) {
    requireMainThread("ZNTObjectDeleteQuery::engageWithWindow");
    if (refuse(window))
        return;
    Alert *alert = Alert::alertWithMessageText(QStringLiteral("Do you want to delete %1?").arg(selectionName()),
                                               QStringLiteral("Delete"), QStringLiteral("Cancel"), {},
                                               QStringLiteral("This can not be undone."));
    // Return must not drop anything: Ctrl+Backspace confirms.
    alert->setKeyEquivalent(alert->buttons().first(), QKeySequence(Qt::CTRL | Qt::Key_Backspace));
    auto *accessory = new ZNTActionAccessory;
    QPointer<QCheckBox> cascade = accessory->addCheckBox(
        QStringLiteral("Cascade"), QStringLiteral("Also delete dependant objects like foreign keys, views, etc."));
    alert->setAccessoryView(accessory);
    QPointer<QWidget> sheetWindow = window;
    alert->compatibleBeginSheetModalForWindow(
        window, [self = shared_from_this(), cascade, sheetWindow, handler](int code) {
            if (code != Alert::DefaultReturn) {
                if (handler)
                    handler(false);
                return;
            }
            self->confirmed(sheetWindow, cascade && cascade->isChecked(), handler);
        });
}

void ZNTObjectDeleteQuery::confirmed(QWidget *window, bool cascade, std::function<void(bool)> handler) {
    m_dropCascade = cascade;
    QPointer<QWidget> sheetWindow = window;
    m_doneObserver = observeNext(this, ZNTQuery::DoneNotification, [this, sheetWindow, handler](const Notification &) {
        // A failure shows its error; success needs no word, the callers reload.
        const bool succeeded = m_success && !m_error;
        if (!succeeded) {
            const ErrorPtr shown =
                m_error ? m_error : KesError::errorWithFormat(QStringLiteral("Drop query returned unexpected result."));
            Alert::alertWithError(*shown)->compatibleBeginSheetModalForWindow(sheetWindow, nullptr);
        }
        if (handler)
            handler(succeeded);
    });
    const auto table = std::dynamic_pointer_cast<ZNTTable>(m_objectsToDelete.first());
    executeInBackgroundOnConnection(table && table->database() ? table->database()->connection() : nullptr);
}

QString ZNTObjectDeleteQuery::sqlForConnection(const ZNTConnection &connection, ErrorPtr *error) const {
    const QString cascade = m_dropCascade ? QStringLiteral(" CASCADE") : QString();
    const QString ifExists =
        m_dropCascade && connection.serverVersion() > kIfExistsAfterVersion ? QStringLiteral(" IF EXISTS") : QString();
    QString text;
    for (const auto &object : m_objectsToDelete) {
        const auto table = std::dynamic_pointer_cast<ZNTTable>(object);
        if (!table) {
            if (error)
                *error = KesError::errorWithFormat(
                    QStringLiteral("Can't delete %1.").arg(object ? object->name() : QStringLiteral("(null)")));
            return QString();
        }
        QString kind = QStringLiteral("TABLE");
        if (std::dynamic_pointer_cast<ZNTMaterializedView>(table))
            kind = QStringLiteral("MATERIALIZED VIEW");
        else if (std::dynamic_pointer_cast<ZNTView>(table))
            kind = QStringLiteral("VIEW");
        text += QStringLiteral("DROP %1%2 %3%4;\n")
                    .arg(kind, ifExists, Quoting::quoteQualifiedName(table->schemaName(), table->name()), cascade);
    }
    return text;
}

void ZNTObjectDeleteQuery::executeInBackgroundOnConnection(const std::shared_ptr<ZNTConnection> &connection) {
    requireMainThread("ZNTObjectDeleteQuery::executeInBackgroundOnConnection");
    QString sql;
    if (connection)
        sql = sqlForConnection(*connection, &m_error);
    else
        m_error = KesError::errorWithFormat(QStringLiteral("The connection was lost."));
    if (sql.isNull()) {
        Main::post([self = shared_from_this()] { self->postDone(); });
        return;
    }
    m_sqlQuery = ZNTQuery::create(sql);
    m_sqlQuery->setRefusesUserTransaction(true);
    m_sqlQuery->setStatusMessage(m_objectsToDelete.size() == 1
                                     ? QStringLiteral("Deleting %1…").arg(m_objectsToDelete.first()->name())
                                     : QStringLiteral("Deleting %1 objects…").arg(m_objectsToDelete.size()));
    m_running = shared_from_this();
    m_queryObserver = NotificationCenter::defaultCenter().observe(ZNTQuery::DoneNotification, m_sqlQuery.get(),
                                                                  [this](const Notification &n) { didFinish(n); });
    m_sqlQuery->executeInBackgroundOnConnection(connection, true);
}

void ZNTObjectDeleteQuery::cancel() {
    if (m_sqlQuery)
        m_sqlQuery->cancel();
}

void ZNTObjectDeleteQuery::didFinish(const Notification &notification) {
    if (!m_sqlQuery || notification.object.get() != m_sqlQuery.get())
        return;
    const std::shared_ptr<ZNTObjectDeleteQuery> keep = std::move(m_running);
    const auto results = m_sqlQuery->results();
    if (m_sqlQuery->error()) {
        m_error = m_sqlQuery->error();
    } else if (results.size() == m_objectsToDelete.size()) {
        m_success = std::all_of(results.begin(), results.end(),
                                [](const auto &r) { return r->resultType() == QLatin1String("success"); });
    }
    if (!m_success && !m_error)
        m_error = KesError::errorWithCode(1, QStringLiteral("Drop query returned unexpected result."));
    postDone();
    m_queryObserver.stopObserving();
    m_sqlQuery.reset();
}

void ZNTObjectDeleteQuery::postDone() {
    NotificationCenter::defaultCenter().post(ZNTQuery::DoneNotification, shared_from_this());
}
