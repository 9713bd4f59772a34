#pragma once

#include <QByteArray>
#include <QString>

// What a private key file is, judged from its own text: libssh2 reports a wrong
// passphrase, an encrypted key without one and a file that is no key at all with
// the same sentence, so the tunnel looks at the file to tell the user which.
namespace SSHKeyFile {

enum class Protection {
    Unreadable, // missing, a folder, no permission, or implausibly large
    NotAKey,    // readable, but no private key format we know
    Plain,      // a private key without a passphrase
    Encrypted,  // a private key that needs a passphrase
};

// any thread
Protection inspect(const QString &path);
// The same judgement on file contents already read.
Protection inspectContents(const QByteArray &contents);

} // namespace SSHKeyFile
