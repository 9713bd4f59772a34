#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QStringList>
#include <optional>

// What the certificate trust panel shows of one certificate, read from its DER.
struct CertificateDetails {
    QString subject; // one line, most significant part last ("CN=localhost,O=...")
    QString issuer;
    QDateTime notBefore; // UTC
    QDateTime notAfter;
    QStringList alternativeNames; // "DNS:name", "IP:address", "email:..."
    QByteArray sha256;            // of the DER, 32 bytes

    // Empty when der is not one certificate.
    static std::optional<CertificateDetails> fromDER(const QByteArray &der);
    // "AB:CD:..." as certificate viewers print digests.
    static QString fingerprintText(const QByteArray &digest);
};

// The SHA-256 of a certificate's DER encoding, 32 bytes.
QByteArray certificateSHA256(const QByteArray &der);
