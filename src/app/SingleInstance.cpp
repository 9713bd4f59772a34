#include "SingleInstance.h"

#include "InstanceMessage.h"
#include "platform/Log.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QTimer>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kAck = 'k';
constexpr int kConnectMs = 2000;
constexpr int kAnswerMs = 5000;
// A later start sends its whole message at once; a peer that has not within
// this time (silent, or dripping bytes) is dropped.
constexpr int kMessageMs = 5000;
const char *const kReceivedProperty = "trellanReceived";
const char *const kAnsweredProperty = "trellanAnswered";

bool ownedByUsAlone(const QString &path, QString *why) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        if (why)
            *why = QStringLiteral("%1 is not a directory").arg(path);
        return false;
    }
    if (st.st_uid != ::geteuid() || (st.st_mode & 077) != 0) {
        if (why)
            *why = QStringLiteral("%1 is reachable by other users").arg(path);
        return false;
    }
    return true;
}

// The uid at the other end of a local socket; -1 when it cannot be told.
long peerUid(const QLocalSocket *socket) {
    struct ucred cred {};
    socklen_t length = sizeof cred;
    if (::getsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &cred, &length) != 0)
        return -1;
    return long(cred.uid);
}

} // namespace

SingleInstance::SingleInstance(QString directory, QObject *parent)
    : QObject(parent), m_directory(std::move(directory)) {
    if (m_directory.isEmpty())
        m_directory = runtimeDirectory(&m_error);
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::runtimeDirectory(QString *why) {
    // Qt makes the fallback /tmp/runtime-<user> itself, mode 0700, when
    // XDG_RUNTIME_DIR is not set.
    const QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty()) {
        if (why)
            *why = QStringLiteral("there is no runtime directory");
        return {};
    }
    return ownedByUsAlone(dir, why) ? dir : QString();
}

QString SingleInstance::socketPath() const {
    return m_directory.isEmpty() ? QString() : m_directory + QStringLiteral("/Trellan.socket");
}

SingleInstance::Role SingleInstance::start(const QStringList &arguments) {
    if (m_directory.isEmpty() || !ownedByUsAlone(m_directory, &m_error)) {
        if (m_error.isEmpty())
            m_error = QStringLiteral("there is no runtime directory");
        return Role::Failed;
    }
    if (InstanceMessage::encode(arguments).isEmpty()) {
        m_error = QStringLiteral("the arguments are longer than the %1 bytes a start may hand over")
                      .arg(InstanceMessage::kMaxSize);
        return Role::Failed;
    }
    // Two starts at the same moment must not both find no one listening and
    // both listen: the check and the listen happen under one lock.
    QLockFile lock(m_directory + QStringLiteral("/Trellan.lock"));
    if (!lock.tryLock(kAnswerMs)) {
        m_error = QStringLiteral("another start holds %1").arg(lock.fileName());
        return Role::Failed;
    }
    switch (forward(arguments)) {
    case Forward::Delivered:
        return Role::Forwarded;
    case Forward::NoAnswer:
        m_error = QStringLiteral("the running Trellan does not answer");
        return Role::Failed;
    case Forward::NobodyListens:
        break;
    }
    return listen() ? Role::Primary : Role::Failed;
}

SingleInstance::Forward SingleInstance::forward(const QStringList &arguments) {
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(kConnectMs))
        return Forward::NobodyListens;
    socket.write(InstanceMessage::encode(arguments));
    socket.flush();
    // The answer says the running instance has the arguments; only then may this
    // process end without losing them.
    while (socket.bytesAvailable() < 1) {
        if (!socket.waitForReadyRead(kAnswerMs))
            return Forward::NoAnswer;
    }
    char answer = 0;
    socket.getChar(&answer);
    return answer == kAck ? Forward::Delivered : Forward::NoAnswer;
}

bool SingleInstance::listen() {
    // Nobody answered on the socket: what is left there is a crashed start's.
    QLocalServer::removeServer(socketPath());
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(socketPath())) {
        m_error = m_server->errorString();
        return false;
    }
    // UserAccessOption leaves the mode to the umask's mercy on some versions.
    ::chmod(QFile::encodeName(socketPath()).constData(), S_IRUSR | S_IWUSR);
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
    return true;
}

void SingleInstance::acceptConnections() {
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (peerUid(socket) != long(::geteuid())) {
            Log(QStringLiteral("Refused a start request from another user"));
            socket->abort();
            continue;
        }
        QTimer::singleShot(kMessageMs, socket, [socket] {
            if (socket->property(kAnsweredProperty).toBool())
                return;
            Log(QStringLiteral("Dropped a start request that did not arrive in time"));
            socket->abort();
        });
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readMessage(socket); });
        readMessage(socket);
    }
}

void SingleInstance::readMessage(QLocalSocket *socket) {
    // What arrived so far is kept on the socket; never more than one frame's
    // worth is read, so a peer cannot make us hold or parse more.
    QByteArray received = socket->property(kReceivedProperty).toByteArray();
    received += socket->read(InstanceMessage::kMaxSize + 1 - received.size());
    const InstanceMessage::Decoded message = InstanceMessage::decode(received);
    if (message.status == InstanceMessage::Status::Incomplete) {
        socket->setProperty(kReceivedProperty, received);
        return;
    }
    if (message.status == InstanceMessage::Status::Refused) {
        Log(QStringLiteral("Refused a start request that is not one"));
        socket->abort();
        return;
    }
    socket->setProperty(kReceivedProperty, QVariant());
    socket->setProperty(kAnsweredProperty, true);
    socket->disconnect(this);
    socket->putChar(kAck);
    socket->flush();
    socket->disconnectFromServer();
    emit argumentsReceived(message.arguments);
}
