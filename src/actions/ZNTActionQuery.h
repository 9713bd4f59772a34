// Object actions and change statements: confirm-and-run actions on the items
// the user selected (maintenance, drop), the transaction that saves row edits,
// and the ALTER and CREATE statements a structure edit becomes.
#pragma once

#include "engine/ZNTQuery.h"
#include "model/ZNTObject.h"
#include "platform/Error.h"
#include "platform/NotificationCenter.h"

#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class ProgressSheet;
class QWidget;
class ZNTConnection;

using ZNTActionObjects = QList<std::shared_ptr<ZNTObject>>;

// The base of every action that runs SQL for the user: it holds the objects it
// acts upon, builds its SQL for one connection (each subclass), runs it as one
// query with automatic reconnection, judges the outcome from the results and
// announces its end with DoneNotification (object: the action, no user info),
// posted on the main thread exactly once per run.
//
// Callers make an action, set its objects and either engage it on a window
// (confirmation, progress and result sheets) or, for the change statements, set
// their inputs, observe DoneNotification and run it on a connection. Either way
// the caller may drop its reference at once: a running action keeps itself
// alive until its done notification has been posted.
//
// The base class can always perform, and both its engagement and its SQL
// preparation fail with "Not implemented.". main thread, unless said otherwise.
class ZNTActionQuery : public std::enable_shared_from_this<ZNTActionQuery> {
public:
    static inline const QString DoneNotification = ZNTQuery::DoneNotification;

    ZNTActionQuery() = default;
    virtual ~ZNTActionQuery();
    ZNTActionQuery(const ZNTActionQuery &) = delete;
    ZNTActionQuery &operator=(const ZNTActionQuery &) = delete;

    // The progress sheet on window, with text as its status line; its Cancel
    // cancels the running query.
    virtual void showStatus(const QString &text, QWidget *window);
    // Shows text, stops the bar and swaps Cancel for OK; the sheet stays until
    // the user presses OK.
    virtual void completeWithStatus(const QString &text);
    virtual void endProgressSheet();
    // Asks the running query to stop; nothing when none runs.
    virtual void cancel();

    // False, with error() set to the refusal, when the objects are not what the
    // action can act upon.
    virtual bool canPerform();
    // The name of the selection in every sheet text: the one object's name, or
    // "%lu items".
    QString itemDescription() const;

    // The whole user interaction on window. handler (may be empty) gets whether
    // the action succeeded; a failure never reaches it as success.
    virtual void engageWithWindow(QWidget *window, std::function<void(bool)> handler);
    // Sets sql() for connection and answers true, or fills *error (when given)
    // and answers false. The SQL previews call it alone.
    virtual bool prepareSQLForConnection(const ZNTConnection &connection, ErrorPtr *error);
    // Prepares and runs; the end is DoneNotification.
    virtual void executeInBackgroundOnConnection(const std::shared_ptr<ZNTConnection> &connection);

    // The outcome and the SQL are written on the main thread only: a queue's job
    // hands its outcome over through Main::post.
    bool success() const { return m_success; }
    void setSuccess(bool success);
    ErrorPtr error() const { return m_error; }
    void setError(ErrorPtr error);
    QString sql() const { return m_sql; }
    void setSql(const QString &sql);
    QStringList params() const { return m_params; }
    void setParams(const QStringList &params) { m_params = params; }
    ZNTActionObjects objects() const { return m_objects; }
    void setObjects(const ZNTActionObjects &objects) { m_objects = objects; }
    // The text the toolbar shows while the query runs; copied onto the query.
    virtual QString statusMessage() const { return QString(); }
    // The query of the current run; null before and after it.
    std::shared_ptr<ZNTQuery> sqlQuery() const { return m_sqlQuery; }
    ProgressSheet *progressWindow() const;

protected:
    // Observer of the running query's done notification: judges the outcome,
    // sends the hook, posts the action's own done notification.
    void didFinish(const Notification &notification);
    // Sent after success() and error() are settled, before the done notification.
    virtual void didFinish() {}

    // Statements that must not share one query text (the server refuses to run
    // them inside the implicit transaction of a multi-statement text). When a
    // preparation fills it, the run sends them one at a time on the connection,
    // in order, and stops at the first that fails; sql() still holds them all.
    void setSeparateStatements(const QStringList &statements) { m_separateStatements = statements; }

    // Posts DoneNotification for a run that sent nothing, from the main loop, so
    // that an observer registered after the start still hears it.
    void postDoneLater();
    // Keeps the action alive until its done notification has been posted.
    void retainUntilDone() { m_running = shared_from_this(); }
    void postDone();
    void setSqlQuery(std::shared_ptr<ZNTQuery> query);

    // Shows error as a sheet on window (the error of the last run when null).
    static void presentError(const ErrorPtr &error, QWidget *window);

private:
    void startQuery(const QString &text);
    void judge();

    std::shared_ptr<ZNTQuery> m_sqlQuery;
    QPointer<ProgressSheet> m_progressWindow;
    bool m_success = false;
    ErrorPtr m_error;
    QString m_sql;
    QStringList m_params;
    ZNTActionObjects m_objects;

    // The run: the connection, the statements still to send one at a time, the
    // results of those sent before the current one, and whether the user cancelled.
    std::shared_ptr<ZNTConnection> m_connection;
    QStringList m_separateStatements;
    QStringList m_pendingStatements;
    QList<std::shared_ptr<ZNTResult>> m_earlierResults;
    bool m_cancelled = false;
    ObserverToken m_queryObserver;
    std::shared_ptr<ZNTActionQuery> m_running;
};

// An action whose menu entry is enabled (the base's canPerform) but that does
// nothing of its own: engaging it shows "Not implemented." and sends nothing.
class ZNTClusterQuery : public ZNTActionQuery {};
