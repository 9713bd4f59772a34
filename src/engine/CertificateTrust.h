#pragma once

#include <QString>

typedef struct ssl_st SSL;

// connection queue. Judges the certificate chain of a finished TLS handshake for
// host (name or address): true when the connection may go on to send its
// startup packet. May ask the user on the main thread while the queue waits.
bool verifyServerCertificate(SSL *ssl, const QString &host);
