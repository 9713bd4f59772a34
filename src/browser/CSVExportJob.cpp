#include "browser/CSVExportJob.h"

#include "engine/KesError.h"
#include "platform/FileReplacement.h"
#include "platform/Main.h"
#include "platform/Posix.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <sys/stat.h>

void reportToManager(const std::weak_ptr<CSVExportManager> &manager, std::function<void(CSVExportManager &)> fn) {
    Main::post([manager, fn = std::move(fn)] {
        if (auto self = manager.lock())
            fn(*self);
    });
}

void CSVExportFlowControl::batchQueued(const RowRange &rows) {
    std::unique_lock lock(m_mutex);
    ++m_unwritten;
    m_unwrittenBytes += rows.store ? rows.store->reservedBytes() : 0;
    m_peak = std::max(m_peak, m_unwritten);
    // A batch larger than the limit alone is let through once it is written.
    m_changed.wait(lock, [this] {
        return m_released || (m_unwritten < kMaxUnwrittenBatches && m_unwrittenBytes < kMaxUnwrittenBytes);
    });
}

void CSVExportFlowControl::batchWritten(const RowRange &rows) {
    {
        std::lock_guard lock(m_mutex);
        --m_unwritten;
        m_unwrittenBytes -= rows.store ? rows.store->reservedBytes() : 0;
    }
    m_changed.notify_all();
}

void CSVExportFlowControl::release() {
    {
        std::lock_guard lock(m_mutex);
        m_released = true;
    }
    m_changed.notify_all();
}

int CSVExportFlowControl::peakUnwritten() const {
    std::lock_guard lock(m_mutex);
    return m_peak;
}

bool CSVExportJob::prepare(ErrorPtr *error) {
    if (::mkdir(QFile::encodeName(temporaryFolder).constData(), 0700) != 0) {
        const int saved = errno;
        return failWith(
            error, KesError::errorWithCode(saved, QStringLiteral("A folder for the export could not be "
                                                                 "created beside “%1”: %2")
                                                      .arg(QFileInfo(location).fileName(), Posix::errnoText(saved))));
    }
    writer.setURL(exportFolder);
    return writer.beginWithError(error);
}

bool CSVExportJob::placeResult(ErrorPtr *error) {
    if (!writer.endWithError(error))
        return false;
    const QStringList files = writer.createdFileURLs();
    return FileReplacement::moveIntoPlace(files.size() == 1 ? files.first() : exportFolder, location, error);
}

void CSVExportJob::removeTemporaryFolder() {
    writer.abandon();
    if (!temporaryFolder.isEmpty())
        QDir(temporaryFolder).removeRecursively();
}
