#include "CertificateDetails.h"

#include <QCryptographicHash>
#include <arpa/inet.h>
#include <memory>
#include <openssl/bio.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace {

struct X509Free {
    void operator()(X509 *x) const { X509_free(x); }
};
struct BioFree {
    void operator()(BIO *b) const { BIO_free(b); }
};
struct NamesFree {
    void operator()(GENERAL_NAMES *n) const { GENERAL_NAMES_free(n); }
};

QString nameText(const X509_NAME *name) {
    std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
    if (!bio || X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB) < 0)
        return QString();
    char *data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    return QString::fromUtf8(data, length);
}

QDateTime timeValue(const ASN1_TIME *time) {
    struct tm parts {};
    if (!time || ASN1_TIME_to_tm(time, &parts) != 1)
        return QDateTime();
    return QDateTime(QDate(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday),
                     QTime(parts.tm_hour, parts.tm_min, parts.tm_sec), Qt::UTC);
}

QString asn1Text(const ASN1_STRING *text) {
    return QString::fromUtf8(reinterpret_cast<const char *>(ASN1_STRING_get0_data(text)), ASN1_STRING_length(text));
}

QString addressText(const ASN1_OCTET_STRING *address) {
    const int length = ASN1_STRING_length(address);
    char text[INET6_ADDRSTRLEN] = {};
    if ((length != 4 && length != 16) ||
        !inet_ntop(length == 4 ? AF_INET : AF_INET6, ASN1_STRING_get0_data(address), text, sizeof text))
        return QStringLiteral("?");
    return QString::fromLatin1(text);
}

QStringList alternativeNamesOf(X509 *certificate) {
    QStringList names;
    std::unique_ptr<GENERAL_NAMES, NamesFree> general(
        static_cast<GENERAL_NAMES *>(X509_get_ext_d2i(certificate, NID_subject_alt_name, nullptr, nullptr)));
    for (int i = 0; general && i < sk_GENERAL_NAME_num(general.get()); ++i) {
        const GENERAL_NAME *name = sk_GENERAL_NAME_value(general.get(), i);
        if (name->type == GEN_DNS)
            names << QStringLiteral("DNS:") + asn1Text(name->d.dNSName);
        else if (name->type == GEN_IPADD)
            names << QStringLiteral("IP:") + addressText(name->d.iPAddress);
        else if (name->type == GEN_EMAIL)
            names << QStringLiteral("email:") + asn1Text(name->d.rfc822Name);
        else if (name->type == GEN_URI)
            names << QStringLiteral("URI:") + asn1Text(name->d.uniformResourceIdentifier);
    }
    return names;
}

} // namespace

std::optional<CertificateDetails> CertificateDetails::fromDER(const QByteArray &der) {
    const auto *bytes = reinterpret_cast<const unsigned char *>(der.constData());
    std::unique_ptr<X509, X509Free> certificate(d2i_X509(nullptr, &bytes, der.size()));
    // Trailing bytes would mean the panel shows one thing and the digest covers another.
    if (!certificate || bytes != reinterpret_cast<const unsigned char *>(der.constData()) + der.size())
        return std::nullopt;
    CertificateDetails details;
    details.subject = nameText(X509_get_subject_name(certificate.get()));
    details.issuer = nameText(X509_get_issuer_name(certificate.get()));
    details.notBefore = timeValue(X509_get0_notBefore(certificate.get()));
    details.notAfter = timeValue(X509_get0_notAfter(certificate.get()));
    details.alternativeNames = alternativeNamesOf(certificate.get());
    details.sha256 = certificateSHA256(der);
    return details;
}

QString CertificateDetails::fingerprintText(const QByteArray &digest) {
    return QString::fromLatin1(digest.toHex(':').toUpper());
}

QByteArray certificateSHA256(const QByteArray &der) {
    return QCryptographicHash::hash(der, QCryptographicHash::Sha256);
}
