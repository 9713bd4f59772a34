#include "ZNTTerminalCopyDelegate.h"

#include "TerminalCopyTransfer.h"
#include "ZNTTerminalViewController.h"
#include "engine/ZNTConnection.h"
#include "platform/Log.h"
#include "platform/Main.h"
#include "platform/SerialQueue.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <chrono>
#include <csignal>
#include <mutex>

namespace {
constexpr std::chrono::milliseconds kAnswerWaitSlice(100);

ZNTTerminalCopyDelegate::InputOpener &inputOpener() {
    static ZNTTerminalCopyDelegate::InputOpener opener;
    return opener;
}

std::unique_ptr<QIODevice> openInput(const QString &path, QString *error) {
    if (const auto &opener = inputOpener())
        return opener(path, error);
    auto file = std::make_unique<QFile>(path);
    if (!QFileInfo(path).isFile()) {
        *error = QStringLiteral("It is not a plain file.");
        return nullptr;
    }
    if (!file->open(QIODevice::ReadOnly)) {
        *error = file->errorString();
        return nullptr;
    }
    return file;
}

QString fileName(const QString &path) {
    return QFileInfo(path).fileName();
}
} // namespace

// --- the question -----------------------------------------------------------------

void ZNTCopyFileRequest::answer(std::optional<QString> path) {
    {
        std::lock_guard lock(m_mutex);
        if (m_answered)
            return;
        m_answered = true;
        m_path = std::move(path);
    }
    m_lock.unlockWithCondition(1);
}

bool ZNTCopyFileRequest::isAnswered() const {
    std::lock_guard lock(m_mutex);
    return m_answered;
}

std::optional<QString> ZNTCopyFileRequest::waitForAnswer() {
    while (!m_lock.waitForCondition(1, kAnswerWaitSlice)) {
        // A cancelled query (Cancel, or its page closed) is not waited for.
        const auto running = query();
        if (!running || running->isCancelled())
            answer(std::nullopt);
    }
    std::lock_guard lock(m_mutex);
    return m_path;
}

// --- the delegate -----------------------------------------------------------------

ZNTTerminalCopyDelegate::ZNTTerminalCopyDelegate(ZNTTerminalViewController *page) : m_page(page) {
    // A file that grows past the user's file-size limit (ulimit -f) must fail
    // its write, which is reported, rather than end the program.
    static std::once_flag ignoreFileSizeSignal;
    std::call_once(ignoreFileSizeSignal, [] { std::signal(SIGXFSZ, SIG_IGN); });
}

void ZNTTerminalCopyDelegate::setInputOpener(InputOpener opener) {
    inputOpener() = std::move(opener);
}

bool ZNTTerminalCopyDelegate::handleCopy(int status, const std::shared_ptr<ZNTConnection> &connection,
                                         const std::shared_ptr<ZNTQuery> &query) {
    PGconn *conn = connection->conn();
    if (!conn)
        return false;
    if (status == PGRES_COPY_OUT)
        return copyOut(conn, query);
    if (status == PGRES_COPY_IN)
        return copyIn(conn, query);
    // COPY BOTH belongs to replication connections: not for the terminal.
    query->cancel();
    return false;
}

std::optional<QString> ZNTTerminalCopyDelegate::ask(ZNTCopyFileRequest::Kind kind,
                                                    const std::shared_ptr<ZNTQuery> &query) {
    auto request = std::make_shared<ZNTCopyFileRequest>(kind, query);
    QPointer<ZNTTerminalViewController> page = m_page;
    Main::post([page, request] {
        if (page)
            page->presentCopyPanel(request);
        else
            request->answer(std::nullopt);
    });
    return request->waitForAnswer();
}

void ZNTTerminalCopyDelegate::tell(const QString &message, const QString &informative) {
    QPointer<ZNTTerminalViewController> page = m_page;
    Main::post([page, message, informative] {
        if (page)
            page->presentCopyAlert(message, informative);
        else
            Log(message + u' ' + informative);
    });
}

bool ZNTTerminalCopyDelegate::copyOut(PGconn *conn, const std::shared_ptr<ZNTQuery> &query) {
    const std::optional<QString> path = ask(ZNTCopyFileRequest::Kind::Save, query);
    TerminalCopyTransfer::CopyOutOutcome outcome;
    QString fileError;
    SerialQueue copyQueue("Copy Out Queue");
    copyQueue.sync([&] {
        // Written beside the chosen file and renamed over it at the end, so a
        // file that was there stays unless all the data is in.
        std::unique_ptr<QSaveFile> file;
        if (path) {
            file = std::make_unique<QSaveFile>(*path);
            if (!file->open(QIODevice::WriteOnly)) {
                fileError = file->errorString();
                file.reset();
                TerminalCopyTransfer::cancelStatement(conn);
            }
        }
        outcome = TerminalCopyTransfer::copyOut(conn, file.get());
        if (!file)
            return;
        if (outcome.writeFailed || outcome.readFailed) {
            fileError = outcome.writeFailed ? outcome.writeError : fileError;
            file->cancelWriting(); // what was written beside goes with the file object
        } else if (!file->commit()) {
            fileError = file->errorString();
        }
    });
    if (outcome.readFailed)
        tell(QStringLiteral("Failed to read data from server."),
             QStringLiteral("The server said: %1").arg(outcome.readError));
    if (path && !fileError.isEmpty())
        tell(QStringLiteral("The file “%1” couldn’t be saved.").arg(fileName(*path)), fileError);
    return true;
}

bool ZNTTerminalCopyDelegate::copyIn(PGconn *conn, const std::shared_ptr<ZNTQuery> &query) {
    const std::optional<QString> path = ask(ZNTCopyFileRequest::Kind::Open, query);
    QString fileError;
    SerialQueue copyQueue("Copy In Queue");
    copyQueue.sync([&] {
        if (!path) {
            TerminalCopyTransfer::endCopyIn(conn, TerminalCopyTransfer::kUserCancelled);
            return;
        }
        std::unique_ptr<QIODevice> in = openInput(*path, &fileError);
        if (!in) {
            TerminalCopyTransfer::endCopyIn(conn, TerminalCopyTransfer::kFailedToReadFile);
            return;
        }
        const TerminalCopyTransfer::CopyInOutcome outcome =
            TerminalCopyTransfer::copyIn(conn, in.get(), [&query] { return query->isCancelled(); });
        if (outcome.readFailed)
            fileError = outcome.readError;
    });
    if (path && !fileError.isEmpty())
        tell(QStringLiteral("The file “%1” couldn’t be read.").arg(fileName(*path)), fileError);
    return true;
}
