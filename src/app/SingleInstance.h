#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>

class QLocalServer;
class QLocalSocket;

// One running program per user. The first start listens on a local socket in the
// user's runtime directory (owner-only directory and socket: the arguments can
// carry a connection URL with its password); a later start hands its arguments
// to that one, in one frame of at most 64 KB (InstanceMessage), and ends. A peer
// whose message is not such a frame, or has not arrived within 5 seconds, is
// dropped.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Role {
        Primary,   // we listen; argumentsReceived() brings later starts' arguments
        Forwarded, // the running instance took our arguments
        Failed,    // neither: error() says why
    };

    // directory: where the socket and its lock live; empty: the runtime directory.
    explicit SingleInstance(QString directory = {}, QObject *parent = nullptr);
    ~SingleInstance() override;

    // main thread (or a thread of its own for a start that only forwards).
    Role start(const QStringList &arguments);
    QString socketPath() const;
    QString error() const { return m_error; }

    // The user's runtime directory, checked to belong to us alone; empty when it
    // does not.
    static QString runtimeDirectory(QString *why = nullptr);

signals:
    // main thread. An empty list: a start without arguments (show the favorites).
    void argumentsReceived(const QStringList &arguments);

private:
    enum class Forward { Delivered, NobodyListens, NoAnswer };
    Forward forward(const QStringList &arguments);
    bool listen();
    void acceptConnections();
    void readMessage(QLocalSocket *socket);

    QString m_directory;
    QString m_error;
    QLocalServer *m_server = nullptr;
};
