// What a later start of the program sends the running one over its local
// socket: any process of the user's may connect and send anything. The input is
// what arrived. A frame read whole is exactly what encoding its arguments
// writes, and every beginning of it waits for more; then the arguments are
// sorted as the running program sorts them.
#include "FuzzSupport.h"
#include "app/CommandLine.h"
#include "app/InstanceMessage.h"

using namespace InstanceMessage;

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    Fuzz::initialize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray bytes = Fuzz::bytes(data, size);
    const Decoded decoded = decode(bytes);
    if (decoded.status != Status::Complete) {
        FUZZ_CHECK(decoded.arguments.isEmpty());
        return 0;
    }
    FUZZ_CHECK(bytes.size() <= kMaxSize);
    FUZZ_CHECK(encode(decoded.arguments) == bytes);
    // The socket hands over a frame in pieces of any size.
    for (const qsizetype cut : {qsizetype(0), qsizetype(4), qsizetype(8), bytes.size() / 2, bytes.size() - 1})
        if (cut < bytes.size())
            FUZZ_CHECK(decode(bytes.first(cut)).status == Status::Incomplete);

    const OpenRequest request = CommandLine::classify(decoded.arguments);
    FUZZ_CHECK(request.urls.size() + request.files.size() + request.malformed.size() == decoded.arguments.size());
    return 0;
}
