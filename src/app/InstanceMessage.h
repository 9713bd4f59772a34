#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QStringList>

// What a later start of the program sends to the running one: its arguments
// in one frame of at most kMaxSize bytes. The frame is "TRL2", the length of
// the rest (4 bytes, big-endian), then each argument as its length in UTF-8
// (4 bytes, big-endian) and those bytes. Any thread.
namespace InstanceMessage {

constexpr qsizetype kMaxSize = 64 * 1024;

// The frame; empty when the arguments do not fit into kMaxSize.
QByteArray encode(const QStringList &arguments);

enum class Status {
    Incomplete, // a beginning of a frame: wait for more
    Complete,   // exactly one frame
    Refused,    // anything else: another magic, too long, bytes after the frame, text that is not UTF-8, a NUL
};
struct Decoded {
    Status status = Status::Incomplete;
    QStringList arguments; // when Complete
};
Decoded decode(QByteArrayView bytes);

} // namespace InstanceMessage
