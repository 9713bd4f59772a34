#include "FavoriteConnectPrompts.h"

#include "engine/SSHTunnel.h"

namespace {

ConnectPrompt passwordPrompt(const ConnectFailure &f) {
    ConnectPrompt p;
    p.kind = ConnectPrompt::Kind::Password;
    p.message = QStringLiteral("Password required");
    p.informative = QStringLiteral("Please provide password for %1:").arg(f.serverName);
    p.acceptTitle = QStringLiteral("Connect");
    p.cancelTitle = QStringLiteral("Cancel");
    p.returnAccepts = true;
    p.asksSecret = true;
    p.checkboxTitle = QStringLiteral("Save password in keychain");
    p.checkboxOn = f.savePassword;
    return p;
}

ConnectPrompt plainTextPrompt(const ConnectFailure &f) {
    ConnectPrompt p;
    p.kind = ConnectPrompt::Kind::PlainText;
    if (f.sshEnabled) {
        p.message = QStringLiteral("Connect without SSL?");
        p.informative = QStringLiteral(
            "The database server doesn't support SSL. If you connect, data between the SSH server and the database "
            "server will be transferred in plain text, and the identity of the database server can't be verified.");
    } else {
        p.message = QStringLiteral("Connect without encryption?");
        p.informative = QStringLiteral("The server doesn't support SSL. If you connect, data will be transferred over "
                                       "the network in plain text, and the identity of the server can't be verified.");
    }
    p.acceptTitle = QStringLiteral("&Connect");
    p.cancelTitle = QStringLiteral("Cancel");
    return p;
}

QString onPort(const ConnectFailure &f) {
    return f.sshPort != 0 ? QStringLiteral(" on port %1").arg(f.sshPort) : QString();
}

ConnectPrompt trustPrompt(const ConnectFailure &f) {
    ConnectPrompt p;
    p.kind = ConnectPrompt::Kind::TrustHostKey;
    p.message = QStringLiteral("Trust SSH server fingerprint?");
    p.informative =
        QStringLiteral("You have never connected to the SSH server %1%2 before. The fingerprint is %3. Do "
                       "you want to trust this server?")
            .arg(f.sshHost, onPort(f), f.error->userInfo().value(SSHTunnel::FingerprintDictionaryKey).toString());
    p.acceptTitle = QStringLiteral("&Trust");
    p.cancelTitle = QStringLiteral("Cancel");
    return p;
}

ConnectPrompt changedKeyPrompt(const ConnectFailure &f) {
    ConnectPrompt p;
    p.kind = ConnectPrompt::Kind::ChangedHostKey;
    p.critical = true;
    p.message = QStringLiteral("The SSH server's fingerprint has changed");
    p.informative =
        QStringLiteral("The SSH server %1%2 now identifies itself with the fingerprint %3, but when you accepted it, "
                       "its fingerprint was %4. Someone may be intercepting the connection, or the server's key may "
                       "have been replaced. Connect only if you know why it changed.")
            .arg(f.sshHost, onPort(f), f.error->userInfo().value(SSHTunnel::FingerprintDictionaryKey).toString(),
                 f.error->userInfo().value(SSHTunnel::PreviousFingerprintDictionaryKey).toString());
    p.acceptTitle = QStringLiteral("Connect &Anyway");
    p.cancelTitle = QStringLiteral("Cancel");
    return p;
}

ConnectPrompt passphrasePrompt(const ConnectFailure &f) {
    ConnectPrompt p;
    p.kind = ConnectPrompt::Kind::Passphrase;
    p.message = f.error->code() == SSHTunnel::ErrorPrivateKeyEncrypted ? QStringLiteral("Encrypted Private Key")
                                                                       : QStringLiteral("Incorrect Passphrase");
    p.informative = QStringLiteral("Please provide the passphrase for decrypting the private key file:");
    p.acceptTitle = QStringLiteral("OK");
    p.cancelTitle = QStringLiteral("Cancel");
    p.returnAccepts = true;
    p.asksSecret = true;
    p.checkboxTitle = QStringLiteral("Remember in Keychain");
    return p;
}

// A value from a link, safe to show on one line: no line breaks, no control or
// direction characters that could make it look like another line or value,
// and no more than fits a sheet.
QString shownValue(const QString &value) {
    constexpr qsizetype kLongest = 120;
    QString shown;
    for (const QChar c : QStringView(value).left(kLongest)) {
        const QChar::Category category = c.category();
        const bool hidden = category == QChar::Other_Control || category == QChar::Other_Format ||
                            category == QChar::Separator_Line || category == QChar::Separator_Paragraph;
        shown += hidden ? QChar(QChar::ReplacementCharacter) : c;
    }
    return value.size() > kLongest ? shown + QChar(0x2026) : shown;
}

QString textParam(const QVariantMap &params, const char *key) {
    return params.value(QLatin1String(key)).toString();
}

} // namespace

ConnectPrompt FavoriteConnectPrompts::newServerPrompt(const QVariantMap &params, const QString &loginName) {
    const QString host = textParam(params, "host"), user = textParam(params, "user");
    const QString shownUser = user.isEmpty() ? loginName : user;
    const QString database = textParam(params, "database");
    const int port = params.value(QStringLiteral("port")).toInt();
    QStringList lines{QStringLiteral("Host: %1").arg(shownValue(host.isEmpty() ? QStringLiteral("localhost") : host)),
                      QStringLiteral("Port: %1").arg(port > 0 ? port : 5432),
                      QStringLiteral("User: %1").arg(shownValue(shownUser)),
                      QStringLiteral("Database: %1").arg(shownValue(database.isEmpty() ? shownUser : database))};
    const bool ssh = params.value(QStringLiteral("sshEnabled")).toBool();
    if (ssh) {
        const int sshPort = params.value(QStringLiteral("sshPort")).toInt();
        lines << QStringLiteral("SSH host: %1%2")
                     .arg(shownValue(textParam(params, "sshHost")),
                          sshPort > 0 && sshPort != 22 ? QStringLiteral(":%1").arg(sshPort) : QString());
    }
    // What such a connection gives away: libpq offers the user's client
    // certificate to the database server. A favorite made from a link has no
    // key file, so the SSH server is offered no key.
    const QString offered = QStringLiteral("Connecting offers %1 your client certificate, if you have one.")
                                .arg(ssh ? QStringLiteral("the database server") : QStringLiteral("this server"));
    ConnectPrompt p;
    p.kind = ConnectPrompt::Kind::NewServer;
    p.message = QStringLiteral("Connect to a server that none of your favorites names?");
    p.informative = QStringLiteral("Another program asked Trellan to connect here:\n\n%1\n\n%2 Connect only if you "
                                   "expected this.")
                        .arg(lines.join(QLatin1Char('\n')), offered);
    p.acceptTitle = QStringLiteral("&Connect");
    p.cancelTitle = QStringLiteral("Cancel");
    return p;
}

ConnectPrompt FavoriteConnectPrompts::promptFor(const ConnectFailure &f) {
    if (f.needsPassword)
        return passwordPrompt(f);
    if (f.needsPlainTextConnection)
        return plainTextPrompt(f);
    if (!f.error || f.error->domain() != SSHTunnel::ErrorDomain)
        return {};
    switch (f.error->code()) {
    case SSHTunnel::ErrorHostKeyNotVerified:
        return trustPrompt(f);
    case SSHTunnel::ErrorHostKeyChanged:
        return changedKeyPrompt(f);
    case SSHTunnel::ErrorPrivateKeyEncrypted:
    case SSHTunnel::ErrorPassphraseIncorrect:
        return passphrasePrompt(f);
    default:
        return {};
    }
}

std::optional<QPoint> FavoriteConnectPrompts::sheetOrigin(const QRect &rowInContent, const QRect &contentBounds,
                                                          const QSize &sheetSize) {
    const QRect visible = rowInContent.intersected(contentBounds);
    if (visible.width() == 0)
        return std::nullopt;
    // Within the bounds where it fits; a sheet wider or taller than the window
    // keeps its start at the window's edge.
    auto inside = [](int start, int size, int low, int high) { return std::max(low, std::min(start, high - size)); };
    return QPoint(inside(visible.left() + (visible.width() - sheetSize.width()) / 2, sheetSize.width(),
                         contentBounds.left(), contentBounds.left() + contentBounds.width()),
                  inside(visible.top() + 6, sheetSize.height(), contentBounds.top(),
                         contentBounds.top() + contentBounds.height()));
}
