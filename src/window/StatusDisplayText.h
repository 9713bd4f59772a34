#pragma once

#include <QColor>
#include <QDateTime>
#include <QString>
#include <memory>

class ZNTConnection;

// What the toolbar's status display shows of one connection, read from what the
// connection publishes (never from its libpq handle) and from its favorite.
struct StatusSnapshot {
    bool hasConnection = false;
    int state = 0;
    bool hasHandle = false;
    QString handleDatabaseName; // PQdb of the handle, when there is one
    QString displayName;        // the favorite's
    QColor color;               // the favorite's; invalid for none
    QString serverVersion;      // "server_version" of the connection's settings
    bool hasQuery = false;      // a statement is running
    QString statusMessage;      // its progress text; null for none
    QString sql;
    bool cancelled = false;
    QDateTime startDate; // invalid before the statement was sent

    // main thread
    static StatusSnapshot ofConnection(const std::shared_ptr<ZNTConnection> &connection);
};

// The two texts of the status display and how they share its width.
struct StatusTexts {
    QString left;
    QString right;          // null: none
    bool leftIsSql = false; // the running statement's text: the time always shows beside it

    static StatusTexts forSnapshot(const StatusSnapshot &snapshot, const QDateTime &now);
    // The statement's text on one line, cut after 1000 characters with "…".
    static QString oneLineSql(const QString &sql);
    // Whether the right text is drawn in a title area of titleWidth where the
    // texts measure leftWidth and rightWidth: when both fit with more than 5
    // points to spare, and always beside a statement's text.
    bool drawsRight(double titleWidth, double leftWidth, double rightWidth) const;
};

// How strongly the display draws its texts and the favorite's colour: the
// palette's text colour at full strength (the version and time at 0.4) in the
// active look, everything at 0.2 and the colour at half its strength in the
// inactive one. Taken from the palette, they read on a dark one as well.
struct StatusLook {
    QColor left;
    QColor right;
    double tintAlpha = 0.0;

    static StatusLook forState(const QColor &text, bool active);
};
