#pragma once

#include <optional>
#include <sys/types.h>

// Who is at the other end of a TCP connection accepted on a loopback port: the
// owner of the peer's socket, as the kernel knows it. The tunnel's local port
// serves only the user who opened it.
namespace LocalPeer {
// The owner of the socket connected to acceptedFd; nothing when it cannot be
// found (no such socket, a peer that is not on this machine).
std::optional<uid_t> owner(int acceptedFd);

// The two ways owner() asks, for tests: the socket-diagnostics netlink query,
// and the tables in /proc/net/tcp and tcp6.
std::optional<uid_t> ownerBySocketDiagnostics(int acceptedFd);
std::optional<uid_t> ownerByProcNet(int acceptedFd);
} // namespace LocalPeer
