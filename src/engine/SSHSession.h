#pragma once

#include <QString>
#include <libssh2.h>

// One SSH connection: the TCP socket and the non-blocking libssh2 session on it.
// libssh2 sessions are not thread-safe: the thread that holds this object (the
// connecting queue, later the tunnel's forwarding thread) is the only one that
// calls into it. Destruction disconnects and frees without waiting for long.
class SSHSession {
public:
    // Takes ownership of the connected socket.
    explicit SSHSession(int socket);
    ~SSHSession();
    SSHSession(const SSHSession &) = delete;
    SSHSession &operator=(const SSHSession &) = delete;

    // Makes the libssh2 session, non-blocking, with abstract as the pointer its
    // callbacks receive. False when libssh2 could not make one.
    bool open(void *abstract);
    // The key exchange has finished: a polite disconnect is possible from now on.
    void markEstablished() { m_established = true; }

    int socket() const { return m_socket; }
    LIBSSH2_SESSION *get() const { return m_session; }
    // The session's last error text, empty when there is none.
    QString lastErrorMessage() const;
    int lastErrno() const;
    int blockDirections() const;

    // Bytes that libssh2 took off any session's socket on the calling thread.
    // When this grows, libssh2 may hold packets for channels whose sockets no
    // longer look readable, so the caller goes round once more before sleeping.
    static quint64 bytesReceivedOnThisThread();

private:
    void disconnect();

    int m_socket;
    LIBSSH2_SESSION *m_session = nullptr;
    bool m_established = false;
};
