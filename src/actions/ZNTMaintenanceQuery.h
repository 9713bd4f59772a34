#pragma once

#include "ZNTActionQuery.h"

#include <QList>
#include <QPair>
#include <QPointer>

class Alert;
class QButtonGroup;
class QCheckBox;
class ZNTActionAccessory;
class ZNTDatabase;

// The maintenance commands the sidebar and the database page offer on the
// selected items: ANALYZE, VACUUM, REINDEX, TRUNCATE and REFRESH MATERIALIZED
// VIEW. Each refuses selections it cannot handle (canPerform, which the menus
// also use to enable their entries), asks for confirmation in a sheet, shows a
// progress sheet while its statements run on the connection of the
// selection's database, and ends with the done text or the server's error.
//
//     auto vacuum = std::make_shared<ZNTVacuumQuery>();
//     vacuum->setObjects(clickedItems);
//     vacuum->engageWithWindow(window, nullptr);   // the caller may drop it
//     now
//
// All objects of one action belong to one database. main thread
class ZNTMaintenanceQuery : public ZNTActionQuery {
public:
    // The member's texts; "%1" stands for itemDescription().
    struct Texts {
        QString question;    // the confirmation's message
        QString verb;        // its default button
        QString informative; // its explanation
        QString progress;    // the progress sheet's status line
        QString done;        // the progress sheet's final line
        QString status;      // statusMessage(), shown by the toolbar
        QString refused;     // canPerform: an object of the wrong kind
        QString refusedView; // canPerform: a view, where that has its own text
        QString differentDatabases;
        // What a preparation calls an object without a name.
        QString unnamed = QStringLiteral("object");
    };

    bool canPerform() override;
    void engageWithWindow(QWidget *window, std::function<void(bool)> handler) override;
    QString statusMessage() const override;
    // One statementFor() each object, in order; refused with the member's
    // refusal for an object it gives none for.
    bool prepareSQLForConnection(const ZNTConnection &connection, ErrorPtr *error) override;

    // The database the statements run in: the first object when it is a
    // database item, else the first object's database.
    std::shared_ptr<ZNTDatabase> targetDatabase() const;

protected:
    virtual Texts texts() const = 0;
    // Whether the member acts on object; by default relations other than plain
    // views, and database items.
    virtual bool accepts(const ZNTObject &object) const;
    // The statement for one object (a relation or a database item), or an
    // empty string for an object the member cannot handle.
    virtual QString statementFor(const ZNTConnection &connection, const ZNTObject &object) const { return QString(); }
    // Whether the prepared statements must go to the server one at a time.
    virtual bool sendsSeparately(const QStringList &statements) const { return false; }
    // The option controls of the confirmation, or none.
    virtual ZNTActionAccessory *makeAccessory() { return nullptr; }
    // Copies confirmed options that are not check boxes into the properties.
    virtual void takeOptions() {}
    virtual void configureAlert(Alert *alert) {}

    // For makeAccessory: a check box whose state goes into *option when the
    // user confirms.
    void addOption(ZNTActionAccessory *accessory, const QString &title, const QString &explanation, bool *option);
    // The relation's schema-qualified name.
    static QString quotedTable(const ZNTObject &object);

private:
    void confirmed(QWidget *window, std::function<void(bool)> handler);

    QList<QPair<QPointer<QCheckBox>, bool *>> m_optionBoxes;
    ObserverToken m_doneObserver;
};

class ZNTAnalyzeQuery : public ZNTMaintenanceQuery {
protected:
    Texts texts() const override;
    QString statementFor(const ZNTConnection &connection, const ZNTObject &object) const override;
};

class ZNTVacuumQuery : public ZNTMaintenanceQuery {
public:
    bool vacuumFull() const { return m_vacuumFull; }
    void setVacuumFull(bool full) { m_vacuumFull = full; }
    bool vacuumFreeze() const { return m_vacuumFreeze; }
    void setVacuumFreeze(bool freeze) { m_vacuumFreeze = freeze; }
    bool analyze() const { return m_analyze; }
    void setAnalyze(bool analyze) { m_analyze = analyze; }

protected:
    Texts texts() const override;
    QString statementFor(const ZNTConnection &connection, const ZNTObject &object) const override;
    bool sendsSeparately(const QStringList &statements) const override;
    ZNTActionAccessory *makeAccessory() override;
    void takeOptions() override;

private:
    bool m_vacuumFull = false;
    bool m_vacuumFreeze = false;
    bool m_analyze = false;
    QPointer<QButtonGroup> m_kind;
};

class ZNTReindexQuery : public ZNTMaintenanceQuery {
protected:
    Texts texts() const override;
    QString statementFor(const ZNTConnection &connection, const ZNTObject &object) const override;
    bool sendsSeparately(const QStringList &statements) const override;
};

class ZNTTruncateTableQuery : public ZNTMaintenanceQuery {
public:
    // All tables in one statement.
    bool prepareSQLForConnection(const ZNTConnection &connection, ErrorPtr *error) override;
    bool truncateCascade() const { return m_truncateCascade; }
    void setTruncateCascade(bool cascade) { m_truncateCascade = cascade; }
    bool truncateRestartIdentity() const { return m_truncateRestartIdentity; }
    void setTruncateRestartIdentity(bool restart) { m_truncateRestartIdentity = restart; }
    bool truncateOnly() const { return m_truncateOnly; }
    void setTruncateOnly(bool only) { m_truncateOnly = only; }
    // Kept for callers that set it; no statement reads it.
    bool shouldCascade() const { return m_shouldCascade; }
    void setShouldCascade(bool cascade) { m_shouldCascade = cascade; }

protected:
    Texts texts() const override;
    bool accepts(const ZNTObject &object) const override;
    ZNTActionAccessory *makeAccessory() override;
    void configureAlert(Alert *alert) override;

private:
    bool m_truncateCascade = false;
    bool m_truncateRestartIdentity = false;
    bool m_truncateOnly = false;
    bool m_shouldCascade = false;
};

class ZNTRefreshMaterializedViewQuery : public ZNTMaintenanceQuery {
public:
    bool refreshConcurrently() const { return m_refreshConcurrently; }
    void setRefreshConcurrently(bool concurrently) { m_refreshConcurrently = concurrently; }

protected:
    Texts texts() const override;
    bool accepts(const ZNTObject &object) const override;
    QString statementFor(const ZNTConnection &connection, const ZNTObject &object) const override;
    ZNTActionAccessory *makeAccessory() override;

private:
    bool m_refreshConcurrently = false;
};
