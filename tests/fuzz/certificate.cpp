// Certificates a server presents during the TLS handshake, as the trust panel
// shows them: subject, issuer, validity, alternative names and fingerprint. The
// input is the certificate's DER.
#include "FuzzSupport.h"
#include "engine/CertificateDetails.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    Fuzz::initialize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray der = Fuzz::bytes(data, size);
    const auto details = CertificateDetails::fromDER(der);
    if (!details)
        return 0;
    // The fingerprint shown is the digest of exactly the bytes read.
    FUZZ_CHECK(details->sha256 == certificateSHA256(der));
    FUZZ_CHECK(CertificateDetails::fingerprintText(details->sha256).size() == 32 * 3 - 1);
    return 0;
}
