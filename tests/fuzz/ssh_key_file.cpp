// Private key files a user points a favorite at, judged by their own text so
// that the tunnel can say whether a passphrase is wanted. The input is the file.
#include "FuzzSupport.h"
#include "engine/SSHKeyFile.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    Fuzz::initialize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const auto protection = SSHKeyFile::inspectContents(Fuzz::bytes(data, size));
    // Contents already read are never unreadable: that is the file's verdict.
    FUZZ_CHECK(protection != SSHKeyFile::Protection::Unreadable);
    return 0;
}
