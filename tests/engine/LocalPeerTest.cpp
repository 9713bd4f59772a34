// Finding who owns the far end of a loopback connection, both ways the kernel
// tells it, for IPv4 clients and for IPv6 clients reaching an IPv4 port.
#include "engine/LocalPeer.h"
#include "LoopbackSockets.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
struct LoopbackPair {
    int listener = -1, client = -1, accepted = -1;
    ~LoopbackPair() {
        for (int fd : {listener, client, accepted})
            if (fd >= 0)
                ::close(fd);
    }
};

// A connection to 127.0.0.1 from a client socket of the given family.
void connectPair(LoopbackPair &pair, int clientFamily) {
    pair.listener = listenOnLoopback(0, 1);
    ASSERT_GE(pair.listener, 0);
    const int port = boundPort(pair.listener);
    if (clientFamily == AF_INET) {
        pair.client = connectLocal(port);
        ASSERT_GE(pair.client, 0);
    } else {
        pair.client = ::socket(AF_INET6, SOCK_STREAM, 0);
        sockaddr_in6 mapped{};
        mapped.sin6_family = AF_INET6;
        mapped.sin6_port = htons(quint16(port));
        ASSERT_EQ(::inet_pton(AF_INET6, "::ffff:127.0.0.1", &mapped.sin6_addr), 1);
        ASSERT_EQ(::connect(pair.client, reinterpret_cast<sockaddr *>(&mapped), sizeof mapped), 0);
    }
    pair.accepted = ::accept(pair.listener, nullptr, nullptr);
    ASSERT_GE(pair.accepted, 0);
}
} // namespace

TEST(LocalPeer, OwnerOfALoopbackClientIsFoundBothWays) {
    for (int family : {AF_INET, AF_INET6}) {
        SCOPED_TRACE(family == AF_INET ? "IPv4 client" : "IPv6 client");
        LoopbackPair pair;
        connectPair(pair, family);
        EXPECT_EQ(LocalPeer::ownerBySocketDiagnostics(pair.accepted), std::optional<uid_t>(::geteuid()));
        EXPECT_EQ(LocalPeer::ownerByProcNet(pair.accepted), std::optional<uid_t>(::geteuid()));
        EXPECT_EQ(LocalPeer::owner(pair.accepted), std::optional<uid_t>(::geteuid()));
    }
}

TEST(LocalPeer, NoOwnerForWhatIsNoConnection) {
    EXPECT_EQ(LocalPeer::owner(-1), std::nullopt);
    const int unconnected = ::socket(AF_INET, SOCK_STREAM, 0);
    EXPECT_EQ(LocalPeer::owner(unconnected), std::nullopt);
    ::close(unconnected);
}
