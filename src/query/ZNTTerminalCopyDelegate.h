#pragma once

#include "engine/ZNTQuery.h"
#include "platform/ConditionLock.h"

#include <QPointer>
#include <QString>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>

class QIODevice;
class ZNTTerminalViewController;

// A question for a COPY's file, asked on the main thread while the
// connection's queue waits for its answer. Answered exactly once: with the
// chosen path, or with none (cancelled, or nobody left to ask). any thread
class ZNTCopyFileRequest {
public:
    enum class Kind { Save, Open };
    ZNTCopyFileRequest(Kind kind, std::weak_ptr<ZNTQuery> query) : m_kind(kind), m_query(std::move(query)) {}

    Kind kind() const { return m_kind; }
    std::shared_ptr<ZNTQuery> query() const { return m_query.lock(); }
    // The first answer counts; later ones change nothing.
    void answer(std::optional<QString> path);
    bool isAnswered() const;
    // connection queue: waits for the answer; a cancelled query (or one gone)
    // answers none itself.
    std::optional<QString> waitForAnswer();

private:
    const Kind m_kind;
    const std::weak_ptr<ZNTQuery> m_query;
    ConditionLock m_lock{0};
    mutable std::mutex m_mutex;
    bool m_answered = false;
    std::optional<QString> m_path;
};

// Carries out the COPY statements of the terminal's queries. COPY TO STDOUT
// asks where to save and writes the server's data there unchanged (a file
// that was there is replaced only once all data is in); COPY FROM STDIN asks
// for a file and sends it in chunks of 1 MiB. Each transfer runs on a queue
// of its own ("Copy Out Queue", "Copy In Queue") while the connection's
// queue waits for it. Cancelling the save dialog reads and drops the data (the
// statement completes); cancelling the open dialog fails the statement with
// "User cancelled.", and so does a Cancel of the query while the file is sent
// (no further chunk is read); a file that cannot be written or read fails it
// with the server's error and is reported. COPY BOTH is cancelled and refused.
//
// Queries hold their copy delegate weakly: the page keeps this one. It asks
// and tells the page on the main thread; without the page every question is
// answered with none. handleCopy: connection queue.
class ZNTTerminalCopyDelegate : public ZNTCopyDelegate {
public:
    explicit ZNTTerminalCopyDelegate(ZNTTerminalViewController *page); // main thread

    bool handleCopy(int status, const std::shared_ptr<ZNTConnection> &connection,
                    const std::shared_ptr<ZNTQuery> &query) override;

    // How a chosen file is opened for reading: replaceable for tests (a
    // reader that fails). Null: the file itself.
    using InputOpener = std::function<std::unique_ptr<QIODevice>(const QString &path, QString *error)>;
    static void setInputOpener(InputOpener opener);

private:
    bool copyOut(PGconn *conn, const std::shared_ptr<ZNTQuery> &query);
    bool copyIn(PGconn *conn, const std::shared_ptr<ZNTQuery> &query);
    std::optional<QString> ask(ZNTCopyFileRequest::Kind kind, const std::shared_ptr<ZNTQuery> &query);
    // An alert on the page's window, sent from any thread.
    void tell(const QString &message, const QString &informative);

    const QPointer<ZNTTerminalViewController> m_page;
};
