#pragma once

#include <QString>
#include <functional>
#include <libpq-fe.h>

class QIODevice;

// The data of a COPY statement between the server and a file, as the
// terminal moves it: the server's COPY TO STDOUT data written unchanged, a
// file sent unchanged in chunks of 1 MiB for COPY FROM STDIN. Each function
// runs on the thread that holds the connection for the transfer and returns
// when the COPY state has ended.
namespace TerminalCopyTransfer {

constexpr qint64 kChunkSize = 1024 * 1024;
inline const char *const kUserCancelled = "User cancelled.";
inline const char *const kFailedToReadFile = "Failed to read file.";

struct CopyOutOutcome {
    qint64 bytesWritten = 0;
    // PQgetCopyData failed (-2): the server's (or libpq's) message.
    bool readFailed = false;
    QString readError;
    // Writing failed: the rest was read and dropped after the statement was
    // cancelled, so that it ends with the server's error.
    bool writeFailed = false;
    QString writeError;
};
// Reads the server's data to its end, writing it to out (null: read and
// dropped, the statement completes as usual).
CopyOutOutcome copyOut(PGconn *conn, QIODevice *out);

// Asks the server to cancel the statement now running (a network round trip).
void cancelStatement(PGconn *conn);

struct CopyInOutcome {
    qint64 bytesSent = 0;
    int chunks = 0;
    // Reading the file failed: the copy was ended with kFailedToReadFile, so the
    // server fails the statement and keeps none of the rows sent.
    bool readFailed = false;
    QString readError;
    // Sending failed: the copy was ended with libpq's message.
    bool sendFailed = false;
    QString sendError;
    // The statement was cancelled: nothing more was read, and the copy was
    // ended with kUserCancelled.
    bool cancelled = false;
};
// Sends in's data to its end and ends the copy: successfully at the end of
// the data, with an error message when reading or sending failed or when
// isCancelled answers true before a chunk (asked once per chunk; may be null).
CopyInOutcome copyIn(PGconn *conn, QIODevice *in, const std::function<bool()> &isCancelled = {});

// Ends a COPY FROM STDIN: successfully for a null message, else failed with it.
// False when libpq could not send the end.
bool endCopyIn(PGconn *conn, const char *errorMessage);

} // namespace TerminalCopyTransfer
