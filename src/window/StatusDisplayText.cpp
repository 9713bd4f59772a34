#include "StatusDisplayText.h"

#include "engine/ZNTConnection.h"
#include "engine/ZNTQuery.h"
#include "favorites/ZNTFavorite.h"
#include "model/ZNTServer.h"
#include "platform/ProgramError.h"

#include <QRegularExpression>

namespace {
// The favorite's display name; the server's name for a favorite the store does
// not know (a server made from a bare parameter dictionary).
void readFavorite(const ZNTConnection &connection, StatusSnapshot &snapshot) {
    auto server = std::dynamic_pointer_cast<ZNTServer>(connection.server());
    if (!server)
        return;
    if (auto favorite = std::dynamic_pointer_cast<ZNTFavorite>(server->favorite())) {
        snapshot.displayName = favorite->displayName();
        snapshot.color = favorite->color();
    } else {
        snapshot.displayName = server->name();
    }
}
} // namespace

StatusSnapshot StatusSnapshot::ofConnection(const std::shared_ptr<ZNTConnection> &connection) {
    requireMainThread("StatusSnapshot::ofConnection");
    StatusSnapshot snapshot;
    if (!connection)
        return snapshot;
    snapshot.hasConnection = true;
    snapshot.state = connection->state();
    const ZNTConnection::HandleInfo handle = connection->handleInfo();
    snapshot.hasHandle = handle.exists;
    snapshot.handleDatabaseName = handle.databaseName;
    readFavorite(*connection, snapshot);
    snapshot.serverVersion = connection->configurationParameterValues().value(QStringLiteral("server_version"));
    if (auto query = connection->currentQuery()) {
        snapshot.hasQuery = true;
        snapshot.statusMessage = query->statusMessage();
        snapshot.sql = query->sql();
        snapshot.cancelled = query->isCancelled();
        snapshot.startDate = query->startDate();
    }
    return snapshot;
}

QString StatusTexts::oneLineSql(const QString &sql) {
    static const QRegularExpression whitespace(QStringLiteral("\\s+"));
    QString text = sql.size() > 1000 ? sql.left(1000) + QStringLiteral("\u2026") : sql;
    return text.replace(whitespace, QStringLiteral(" "));
}

StatusTexts StatusTexts::forSnapshot(const StatusSnapshot &s, const QDateTime &now) {
    StatusTexts texts;
    const int state = s.hasConnection ? s.state : ZNTConnection::ZNTConnectionStateNotConnected;
    switch (state) {
    case ZNTConnection::ZNTConnectionStateNotConnected:
        texts.left = QStringLiteral("No connection");
        break;
    case ZNTConnection::ZNTConnectionStateConnecting:
        // Before libpq has a handle there is no database name to give.
        texts.left = s.hasHandle ? QStringLiteral("%1: connecting to %2...").arg(s.displayName, s.handleDatabaseName)
                                 : QStringLiteral("%1: connecting...").arg(s.displayName);
        break;
    case ZNTConnection::ZNTConnectionStateFailed:
    case ZNTConnection::ZNTConnectionStateLost:
        texts.left = s.hasHandle && !s.handleDatabaseName.isEmpty()
                         ? QStringLiteral("%1: connection to %2 failed.").arg(s.displayName, s.handleDatabaseName)
                         : QStringLiteral("Connection failed.");
        break;
    case ZNTConnection::ZNTConnectionStateConnected:
        texts.left = s.displayName;
        texts.right = QStringLiteral("PostgreSQL %1").arg(s.serverVersion);
        break;
    case ZNTConnection::ZNTConnectionStateBusy: {
        if (!s.statusMessage.isNull()) {
            texts.left = s.statusMessage;
        } else {
            texts.left = oneLineSql(s.sql);
            texts.leftIsSql = true;
        }
        // Busy for a moment before the statement is known: no time has passed yet.
        const double seconds = s.startDate.isValid() ? std::max<qint64>(0, s.startDate.msecsTo(now)) / 1000.0 : 0.0;
        texts.right = s.cancelled ? QStringLiteral("Cancelling\u2026") : QString::asprintf("%.1fs", seconds);
        break;
    }
    default:
        break;
    }
    return texts;
}

bool StatusTexts::drawsRight(double titleWidth, double leftWidth, double rightWidth) const {
    if (right.isNull())
        return false;
    return titleWidth > leftWidth + rightWidth + 5.0 || leftIsSql;
}

StatusLook StatusLook::forState(const QColor &text, bool active) {
    StatusLook look;
    look.left = text;
    look.right = text;
    if (!active)
        look.left.setAlphaF(0.2f);
    look.right.setAlphaF(active ? 0.4f : 0.2f);
    look.tintAlpha = active ? 0.3 : 0.15;
    return look;
}
