#pragma once

#include "platform/Error.h"

#include <QRect>
#include <QString>
#include <QVariantMap>
#include <optional>

// What a failed connect of a favorite lacked, and how the favorites window asks
// the user for it. Widget-free: the window builds its sheet from this description.
struct ConnectFailure {
    bool needsPassword = false;
    bool needsPlainTextConnection = false;
    ErrorPtr error;
    // Of the favorite and its server, for the texts.
    QString serverName;
    bool sshEnabled = false;
    QString sshHost;
    int sshPort = 0;
    bool savePassword = false;
};

struct ConnectPrompt {
    enum class Kind {
        None,           // the row shows the error, nothing is asked
        Password,       // a password and whether to keep it
        PlainText,      // consent to connect without TLS
        TrustHostKey,   // an SSH host key seen for the first time
        ChangedHostKey, // an SSH host key other than the one accepted before
        Passphrase,     // the passphrase of an encrypted key file
        NewServer,      // consent before a link from another program reaches a server no favorite names
    };
    Kind kind = Kind::None;
    bool critical = false;
    QString message;
    QString informative;
    QString acceptTitle; // ends the sheet with the accepting answer
    QString cancelTitle;
    // Return accepts (prompts that ask for a secret); otherwise Return presses
    // Cancel and only the accept button itself (or its mnemonic) accepts.
    bool returnAccepts = false;
    bool asksSecret = false;
    QString checkboxTitle; // empty: no check box
    bool checkboxOn = false;
};

namespace FavoriteConnectPrompts {
// The first prompt that applies, in this order: password, plain text, new host
// key, changed host key, key passphrase; Kind::None when none does.
ConnectPrompt promptFor(const ConnectFailure &failure);

// The question before a connection URL handed over by another program connects
// to a server beyond this computer that no favorite names: what the URL's
// parameter dictionary names, each value as plain text on a line of its own
// (cut when long, characters that could break or reorder lines replaced).
// Return declines.
ConnectPrompt newServerPrompt(const QVariantMap &params, const QString &loginName);

// Where a prompt hangs when it belongs to a row: from 6 points below the row's
// top, centred on the part of the row inside the window's content, moved up or
// aside as far as needed to stay inside the window (a low row would otherwise
// hang it past the window's edge). Nothing when no part of the row is inside:
// the window's usual place then.
std::optional<QPoint> sheetOrigin(const QRect &rowInContent, const QRect &contentBounds, const QSize &sheetSize);
} // namespace FavoriteConnectPrompts
