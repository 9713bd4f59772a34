#pragma once

// The inside of ZNTConnection, shared by its two source files (state and quoting;
// the connect sequence). Not for other classes.

#include "CertificateTrust.h"
#include "DNSResolver.h"
#include "LibpqHandles.h"
#include "TcpTimeouts.h"
#include "ZNTConnection.h"
#include "platform/Reaper.h"

#include <optional>
#include <utility>

struct ZNTConnection::Impl {
    Impl(QVariantMap p, std::weak_ptr<ZNTServerHandle> s)
        : params(std::move(p)), server(std::move(s)), queue(QueueLabel.toStdString()) {}

    const QVariantMap params;
    const std::weak_ptr<ZNTServerHandle> server;
    std::atomic<bool> shouldCancel{false};
    // Ends a wait for the trust panel when the connection is cancelled.
    const std::shared_ptr<TrustCancellation> trust = std::make_shared<TrustCancellation>();
    std::atomic<int> state{ZNTConnectionStateNotConnected};

    // The snapshot other threads read; written on the connection queue.
    mutable std::mutex mutex;
    QString stateDescription;
    ErrorPtr error;
    QHash<QString, QString> parameterValues;
    QHash<QString, QString> parameterDescriptions;
    quint64 serverVersion = 0;
    bool isRedshift = false;
    bool needsPassword = false;
    bool needsPlainTextConnection = false;
    std::shared_ptr<SSHTunnel> tunnel;
    std::shared_ptr<DNSResolver> resolver;
    std::shared_ptr<ZNTQuery> currentQuery;
    HandleInfo handleInfo;

    // main thread. Absent until first used, and again after purgeMetadata.
    std::optional<QHash<QString, std::shared_ptr<void>>> metadata;

    // connection queue: the deadline of the connect under way, set as it starts.
    ConnectDeadline connectDeadline;
    // connection queue: what setUnacknowledgedTimeout asked for.
    std::chrono::milliseconds unacknowledgedTimeout{0};
    // connection queue: libpq's socket's own probes while that bound holds.
    std::optional<TcpTimeouts::Probes> regularProbes;
    // connection queue: the host name and the addresses libpq was given for it
    // by the connect under way (none when libpq was given no addresses).
    QString pinnedHost;
    QStringList pinnedAddresses;

    // connection queue. Declared after the tunnel so that it is finished first:
    // its goodbye still travels through the tunnel.
    PGconnPtr conn;

    // Closes the connection when the program ends.
    Reaper::Registration exitRegistration;

    // Declared last, so destroyed first: queued jobs finish while the rest stands.
    SerialQueue queue;
};

// The state and progress text announced for a libpq connection status; every
// status of a connection still in progress is state 1.
std::pair<int, QString> connectionStatusState(int connStatus);
