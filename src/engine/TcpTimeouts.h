#pragma once

#include <chrono>
#include <optional>

// How a session notices that its link died (a cable pulled, a laptop gone off
// the network, a NAT that forgot it). The kernel's own defaults take two hours
// for an idle session and about fifteen minutes for data the server never
// acknowledged, while a table's save holds its connection's queue. Any thread.
namespace TcpTimeouts {
// 45 s idle, then 5 probes 15 s apart: a dead link ends an idle session within
// two minutes, and an outage under a minute misses at most four probes.
constexpr int kKeepaliveIdleSeconds = 45;
constexpr int kKeepaliveIntervalSeconds = 15;
constexpr int kKeepaliveCount = 5;

// Probes on a connected socket of our own (libpq sets its own from its
// parameters). Probes go out only while nothing is in flight, so a server that
// works long answers them and is never cut; false when the system refused one.
bool enableKeepalive(int fd);
// How soon a socket's keepalive probes go out: after so many idle seconds,
// then so many seconds apart.
struct Probes {
    int idleSeconds = 0;
    int intervalSeconds = 0;
};

// Data sent on fd and not acknowledged for this long ends the connection
// (TCP_USER_TIMEOUT); zero leaves it to the kernel's retries. Recent kernels
// also end a connection whose peer keeps its receive window shut that long (an
// upload into a table another session holds locked), so it is set only around
// what must not wait on a dead link. False when the system refused it.
// While it is set, the kernel also ends a connection once a probe is out and
// nothing came for that long, and nothing comes while the server waits on a
// lock: probes then go out within a twelfth of it (sooner when the socket's own
// are), so that an outage shorter than it less two probe times costs nothing.
// regular keeps the socket's own probes meanwhile; they go back when the
// timeout is taken off. A socket without probes gets none.
bool setUnacknowledgedTimeout(int fd, std::chrono::milliseconds timeout, std::optional<Probes> &regular);
} // namespace TcpTimeouts
