#include "TerminalCopyTransfer.h"

#include "engine/LibpqHandles.h"
#include "platform/Log.h"

#include <QIODevice>
#include <memory>
#include <thread>

namespace TerminalCopyTransfer {

namespace {
QString libpqMessage(PGconn *conn) {
    return QString::fromUtf8(PQerrorMessage(conn)).trimmed();
}
} // namespace

void cancelStatement(PGconn *conn) {
    PGcancelPtr cancel(PQgetCancel(conn));
    char reason[256] = {};
    if (!cancel || !PQcancel(cancel.get(), reason, sizeof reason))
        Log(QStringLiteral("Failed to cancel the COPY because: %1").arg(QString::fromUtf8(reason)));
}

CopyOutOutcome copyOut(PGconn *conn, QIODevice *out) {
    CopyOutOutcome outcome;
    char *buffer = nullptr;
    int received = 0;
    while ((received = PQgetCopyData(conn, &buffer, 0)) > 0) {
        std::unique_ptr<char, decltype(&PQfreemem)> owned(buffer, &PQfreemem);
        if (!out || outcome.writeFailed)
            continue;
        if (out->write(buffer, received) != received) {
            // Nothing more is written, and the statement must not end as if
            // its data had arrived: the server is asked to cancel it.
            outcome.writeFailed = true;
            outcome.writeError = out->errorString();
            cancelStatement(conn);
            continue;
        }
        outcome.bytesWritten += received;
    }
    if (received == -2) {
        outcome.readFailed = true;
        outcome.readError = libpqMessage(conn);
    }
    return outcome;
}

bool endCopyIn(PGconn *conn, const char *errorMessage) {
    int sent = 0;
    // A blocking connection answers at once; a non-blocking one may ask again.
    while ((sent = PQputCopyEnd(conn, errorMessage)) == 0)
        std::this_thread::yield();
    return sent == 1;
}

CopyInOutcome copyIn(PGconn *conn, QIODevice *in, const std::function<bool()> &isCancelled) {
    CopyInOutcome outcome;
    QByteArray chunk(int(kChunkSize), Qt::Uninitialized);
    for (;;) {
        // A cancelled upload stops here: the rest of a large file would hold
        // the session for as long as it takes to send.
        if (isCancelled && isCancelled()) {
            outcome.cancelled = true;
            endCopyIn(conn, kUserCancelled);
            return outcome;
        }
        const qint64 read = in->read(chunk.data(), kChunkSize);
        if (read < 0) {
            outcome.readFailed = true;
            outcome.readError = in->errorString();
            endCopyIn(conn, kFailedToReadFile);
            return outcome;
        }
        if (read == 0)
            break;
        ++outcome.chunks;
        int sent = 0;
        while ((sent = PQputCopyData(conn, chunk.constData(), int(read))) == 0)
            std::this_thread::yield();
        if (sent < 0) {
            outcome.sendFailed = true;
            outcome.sendError = libpqMessage(conn);
            endCopyIn(conn, outcome.sendError.toUtf8().constData());
            return outcome;
        }
        outcome.bytesSent += read;
    }
    endCopyIn(conn, nullptr);
    return outcome;
}

} // namespace TerminalCopyTransfer
