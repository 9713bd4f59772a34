#pragma once

#include "browser/CSVWriter.h"
#include "engine/ZNTQuery.h"
#include "platform/SerialQueue.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

class CSVExportManager;

// From the export's queue: runs fn on the main thread with the manager, when it
// is still there.
void reportToManager(const std::weak_ptr<CSVExportManager> &manager, std::function<void(CSVExportManager &)> fn);

// Holds a query on its connection's queue while the export has four batches it
// has not written yet, or a batch of 24 MB, so that the rows wait in the
// server's socket instead of in memory. Released for good by a cancel, a
// failure or the export's end. The export's queries keep no rows: each batch
// has a store of its own, whose size is the batch's.
class CSVExportFlowControl : public ZNTQueryFlowControl {
public:
    static constexpr int kMaxUnwrittenBatches = 4;
    static constexpr qsizetype kMaxUnwrittenBytes = 24 << 20;

    // connection queue
    void batchQueued(const RowRange &rows) override;
    // any thread
    void queryCancelled() override { release(); }
    void batchWritten(const RowRange &rows);
    void release();
    int peakUnwritten() const;

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    // Both may dip below 0: a batch can be written before its query reports it queued.
    int m_unwritten = 0;
    qsizetype m_unwrittenBytes = 0;
    int m_peak = 0;
    bool m_released = false;
};

// The file side of one export: its queue, its writer, and where the files go.
// The queue's jobs hold this, never the manager, so the manager is only ever
// released on the main thread.
struct CSVExportJob {
    SerialQueue queue{"norvane.Trellan.exportQueue"};
    std::shared_ptr<CSVExportFlowControl> flow = std::make_shared<CSVExportFlowControl>();
    // Set once the export has failed or been cancelled: queued work is skipped.
    std::atomic<bool> stopped{false};
    // Set on the main thread before the first job is queued.
    QString location;        // what the user chose
    QString temporaryFolder; // beside it, on the same file system
    QString exportFolder;    // inside it, named as the chosen place

    // export queue
    CSVWriter writer;
    bool prepare(ErrorPtr *error);
    // Closes the last file and puts the one file, or the folder of files, in
    // the chosen place.
    bool placeResult(ErrorPtr *error);
    void removeTemporaryFolder();
};
