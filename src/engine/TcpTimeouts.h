#pragma once

#include <chrono>

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
// Data sent on fd and not acknowledged for this long ends the connection
// (TCP_USER_TIMEOUT); zero leaves it to the kernel's retries. Recent kernels
// also end a connection whose peer keeps its receive window shut that long (an
// upload into a table another session holds locked), so it is set only around
// what must not wait on a dead link. False when the system refused it.
bool setUnacknowledgedTimeout(int fd, std::chrono::milliseconds timeout);
} // namespace TcpTimeouts
