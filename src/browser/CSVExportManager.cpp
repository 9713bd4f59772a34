#include "browser/CSVExportManager.h"

#include "browser/CSVExportJob.h"
#include "engine/KesError.h"
#include "engine/PGError.h"
#include "engine/ZNTConnection.h"
#include "engine/ZNTQuery.h"
#include "model/ZNTDatabase.h"
#include "model/ZNTTable.h"
#include "platform/FileReplacement.h"
#include "platform/Log.h"
#include "platform/Main.h"
#include "platform/ProgramError.h"
#include "uikit/AlertSheet.h"
#include "uikit/Beep.h"
#include "uikit/ProgressSheet.h"
#include "uikit/SheetFocus.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>
#include <cxxabi.h>
#include <set>
#include <typeinfo>

namespace {
// Rows first..first+count of a fetched result, in the store's order or in
// rowOrder's; on the export's queue.
bool writeResultRows(CSVWriter &writer, const RowStore &rows, const std::vector<qsizetype> &rowOrder, qsizetype first,
                     qsizetype count, const std::vector<int> &columns, ErrorPtr *error) {
    if (rowOrder.empty())
        return writer.writeStoredRows(rows, first, count, columns, error);
    for (qsizetype i = first; i < first + count; ++i) {
        if (!writer.writeStoredRows(rows, rowOrder[size_t(i)], 1, columns, error))
            return false;
    }
    return true;
}

// A fetched result goes to the file in runs of this many rows, so that a cancel
// is heard and the bar moves.
constexpr qsizetype kResultRowsPerRun = 20000;
// The bar's steps.
constexpr int kBarSteps = 1000;

std::set<std::shared_ptr<CSVExportManager>> &runningExports() {
    static std::set<std::shared_ptr<CSVExportManager>> running;
    return running;
}

std::function<void()> &batchHook() {
    static std::function<void()> hook;
    return hook;
}

// The class of an item, as "Exporting %1 is not supported." names it.
QString className(const ZNTObject &item) {
    int status = 0;
    char *name = abi::__cxa_demangle(typeid(item).name(), nullptr, nullptr, &status);
    const QString text = QString::fromLatin1(status == 0 && name ? name : typeid(item).name());
    std::free(name);
    return text;
}

std::vector<int> identityOrder(int columns) {
    std::vector<int> order(size_t(std::max(columns, 0)));
    for (int c = 0; c < columns; ++c)
        order[size_t(c)] = c;
    return order;
}
} // namespace

CSVExportManager::CSVExportManager(Source source) : m_source(std::move(source)) {}

CSVExportManager::~CSVExportManager() = default;

std::shared_ptr<CSVExportManager> CSVExportManager::withTables(const ZNTObjectList &tables) {
    return std::shared_ptr<CSVExportManager>(new CSVExportManager(tables));
}

std::shared_ptr<CSVExportManager> CSVExportManager::withQuery(std::shared_ptr<ZNTQuery> query) {
    return std::shared_ptr<CSVExportManager>(new CSVExportManager(std::move(query)));
}

std::shared_ptr<CSVExportManager> CSVExportManager::withQueryViewResult(std::shared_ptr<CSVExportResultSource> result) {
    return std::shared_ptr<CSVExportManager>(new CSVExportManager(std::move(result)));
}

std::shared_ptr<CSVExportManager> CSVExportManager::withResult(std::shared_ptr<ZNTResult> result) {
    return std::shared_ptr<CSVExportManager>(new CSVExportManager(std::move(result)));
}

QFileDialog *CSVExportManager::savePanel() const {
    return m_savePanel;
}

ProgressSheet *CSVExportManager::progressSheet() const {
    return m_sheet;
}

size_t CSVExportManager::runningCount() {
    return runningExports().size();
}

void CSVExportManager::setBatchHookForTesting(std::function<void()> hook) {
    batchHook() = std::move(hook);
}

const std::function<void()> &CSVExportManager::batchHookForQueue() {
    return batchHook();
}

int CSVExportManager::peakUnwrittenBatches() const {
    return m_job ? m_job->flow->peakUnwritten() : 0;
}

bool CSVExportManager::makesOneFile() const {
    const auto *tables = std::get_if<ZNTObjectList>(&m_source);
    return !tables || tables->size() == 1;
}

QString CSVExportManager::suggestedFileName() const {
    QString name = m_suggestedName;
    if (name.isEmpty()) {
        if (const auto *tables = std::get_if<ZNTObjectList>(&m_source)) {
            if (tables->size() == 1)
                name = tables->first() && !tables->first()->name().isEmpty() ? tables->first()->name()
                                                                             : QStringLiteral("Table");
            else
                name = QStringLiteral("Exported Tables");
        } else {
            name = QStringLiteral("Query Results");
        }
    }
    name.replace(u'/', u'-'); // a file name cannot hold it
    return makesOneFile() ? name + QStringLiteral(".csv") : name;
}

// Relations must all be reached through one connection, which becomes the
// export's when none was given.
ErrorPtr CSVExportManager::checkTables() {
    for (const auto &item : std::get<ZNTObjectList>(m_source)) {
        const auto table = std::dynamic_pointer_cast<ZNTTable>(item);
        if (!table || !table->hasName() || !table->database())
            return KesError::errorWithFormat(QStringLiteral("Exporting %1 is not supported.")
                                                 .arg(item ? className(*item) : QStringLiteral("nothing")));
        const auto connection = table->database()->connection();
        if (!m_connection)
            m_connection = connection;
        else if (connection != m_connection)
            return KesError::errorWithFormat(
                QStringLiteral("Exporting objects from different connections is not possible."));
    }
    if (!m_connection)
        return KesError::errorWithFormat(QStringLiteral("The connection was lost."));
    return nullptr;
}

// What keeps the export from starting; with nothing to export at all, no error
// but *nothingToExport.
ErrorPtr CSVExportManager::refusal(bool *nothingToExport) {
    *nothingToExport = false;
    if (const auto *tables = std::get_if<ZNTObjectList>(&m_source)) {
        *nothingToExport = tables->isEmpty();
        return tables->isEmpty() ? nullptr : checkTables();
    }
    if (const auto *query = std::get_if<std::shared_ptr<ZNTQuery>>(&m_source)) {
        if (!*query || !m_connection)
            throw ProgramError("IncorrectUsage", "A query export needs the query and its connection.");
        return nullptr;
    }
    if (const auto *result = std::get_if<std::shared_ptr<CSVExportResultSource>>(&m_source))
        *nothingToExport = !*result || !(*result)->rows();
    else if (const auto *result = std::get_if<std::shared_ptr<ZNTResult>>(&m_source))
        *nothingToExport = !*result || !(*result)->rows();
    return nullptr;
}

void CSVExportManager::beginModalForWindow(QWidget *window) {
    requireMainThread("CSVExportManager::beginModalForWindow");
    m_window = window;
    bool nothing = false;
    if (const ErrorPtr error = refusal(&nothing)) {
        showError(error);
        return;
    }
    if (nothing) {
        beep();
        return;
    }
    showSavePanel(window);
}

void CSVExportManager::showSavePanel(QWidget *window) {
    auto *panel = new QFileDialog(window ? window->window() : nullptr, QObject::tr("Export"));
    panel->setOption(QFileDialog::DontUseNativeDialog);
    panel->setAcceptMode(QFileDialog::AcceptSave);
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setDirectory(QDir::homePath());
    panel->selectFile(suggestedFileName());
    panel->setWindowModality(Qt::WindowModal);
    // The panel holds the export until the user has chosen.
    QObject::connect(panel, &QFileDialog::finished, panel, [self = shared_from_this(), panel](int result) {
        const QStringList chosen = panel->selectedFiles();
        if (result == QDialog::Accepted && !chosen.isEmpty())
            self->exportToLocation(self->m_window, chosen.first());
    });
    m_savePanel = panel;
    uv_returnFocusAfterSheet(panel);
    panel->open();
}

void CSVExportManager::exportToLocation(QWidget *window, const QString &location) {
    requireMainThread("CSVExportManager::exportToLocation");
    if (m_job)
        throw ProgramError("IncorrectUsage", "An export runs once.");
    m_window = window;
    bool nothing = false;
    if (const ErrorPtr error = refusal(&nothing)) {
        showError(error);
        return;
    }
    if (nothing) {
        beep();
        return;
    }
    m_job = std::make_shared<CSVExportJob>();
    m_job->location = QFileInfo(location).absoluteFilePath();
    m_job->temporaryFolder = FileReplacement::sidePath(m_job->location, QStringLiteral("export"));
    m_job->exportFolder = QDir(m_job->temporaryFolder).filePath(QFileInfo(m_job->location).fileName());
    runningExports().insert(shared_from_this());
    startFiles();
    showProgressSheet();
    if (std::holds_alternative<ZNTObjectList>(m_source)) {
        startTables();
    } else if (const auto *query = std::get_if<std::shared_ptr<ZNTQuery>>(&m_source)) {
        startQuery(*query);
    } else if (const auto *view = std::get_if<std::shared_ptr<CSVExportResultSource>>(&m_source)) {
        startFetchedResult((*view)->columns(), (*view)->columnIndices(), (*view)->rows(), (*view)->rowOrder());
    } else {
        const auto &result = std::get<std::shared_ptr<ZNTResult>>(m_source);
        const ZNTColumnList columns = result->columns();
        startFetchedResult(columns, identityOrder(int(columns.size())), result->rows());
    }
}

void CSVExportManager::startFiles() {
    m_job->queue.async([job = m_job, weak = weak_from_this()] {
        ErrorPtr error;
        if (job->prepare(&error))
            return;
        job->stopped = true;
        reportToManager(weak, [error](CSVExportManager &self) { self.fail(error); });
    });
}

// Written from the rows the export holds, in the column order of this moment,
// on the export's queue.
void CSVExportManager::startFetchedResult(const ZNTColumnList &columns, std::vector<int> order,
                                          std::shared_ptr<const RowStore> rows, std::vector<qsizetype> rowOrder) {
    QStringList names;
    for (int column : order) {
        if (column < 0 || column >= columns.size() || column >= rows->columnCount())
            throw ProgramError("IncorrectUsage", "A result's column order names a column it does not have.");
        names << columns[column]->name();
    }
    const qsizetype stored = rows->rowCount();
    if (std::any_of(rowOrder.begin(), rowOrder.end(), [stored](qsizetype row) { return row < 0 || row >= stored; }))
        throw ProgramError("IncorrectUsage", "A result's row order names a row it does not have.");
    const qsizetype rowCount = rowOrder.empty() ? stored : qsizetype(rowOrder.size());
    m_progress.tablesInExport = 1;
    m_progress.estimatedAll = m_progress.currentEstimate = quint64(rowCount);
    updateProgress();
    m_job->queue.async(
        [job = m_job, weak = weak_from_this(), names, order, rows, rowOrder = std::move(rowOrder), rowCount] {
            auto report = [weak](std::function<void(CSVExportManager &)> fn) { reportToManager(weak, std::move(fn)); };
            ErrorPtr error;
            if (job->stopped || !job->writer.beginTableName(QStringLiteral("Query Result"), names, &error))
                return report([error](CSVExportManager &self) { self.fail(error); });
            for (qsizetype first = 0; first < rowCount; first += kResultRowsPerRun) {
                if (job->stopped)
                    return report([](CSVExportManager &self) {
                        self.fail(KesError::errorWithFormat(QStringLiteral("The export was cancelled by the user.")));
                    });
                const qsizetype count = std::min(kResultRowsPerRun, rowCount - first);
                if (!writeResultRows(job->writer, *rows, rowOrder, first, count, order, &error))
                    return report([error](CSVExportManager &self) { self.fail(error); });
                report([count](CSVExportManager &self) { self.rowsWritten(count); });
            }
            if (!job->writer.endTableWithError(&error))
                return report([error](CSVExportManager &self) { self.fail(error); });
            report([](CSVExportManager &self) { self.finish(); });
        });
}

void CSVExportManager::showProgressSheet() {
    std::weak_ptr<CSVExportManager> weak = weak_from_this();
    m_sheet = ProgressSheet::showStatus(m_progress.text(), m_window, [weak] {
        if (auto self = weak.lock())
            self->cancelExport();
    });
    updateProgress();
}

void CSVExportManager::updateProgress() {
    if (!m_sheet)
        return;
    QProgressBar *bar = m_sheet->progressBar();
    if (const auto fraction = m_progress.fraction()) {
        bar->setRange(0, kBarSteps);
        bar->setValue(int(*fraction * kBarSteps));
    } else {
        bar->setRange(0, 0);
    }
    m_sheet->setStatus(m_progress.text());
}

void CSVExportManager::cancelExport() {
    if (m_ended)
        return;
    if (m_sheet)
        m_sheet->cancelButton()->setEnabled(false);
    if (m_exportQuery) {
        // The query then ends with the server's error, reported as any other.
        m_exportQuery->cancel();
        if (m_countQuery)
            m_countQuery->cancel();
    } else if (m_job && !std::holds_alternative<ZNTObjectList>(m_source) &&
               !std::holds_alternative<std::shared_ptr<ZNTQuery>>(m_source)) {
        m_job->stopped = true; // a fetched result stops between runs of rows
    } else {
        Log(QStringLiteral("Cancelling export not possible."));
    }
}

// The last file is closed and the result moved into place on the queue, after
// every row queued before.
void CSVExportManager::finish() {
    if (m_ended)
        return;
    m_job->queue.async([job = m_job, weak = weak_from_this()] {
        ErrorPtr error;
        if (job->stopped) // a fetched result cancelled after its last run of rows
            error = KesError::errorWithFormat(QStringLiteral("The export was cancelled by the user."));
        const bool placed = !error && job->placeResult(&error);
        job->removeTemporaryFolder();
        reportToManager(weak, [placed, error](CSVExportManager &self) {
            if (placed)
                self.end();
            else
                self.fail(error);
        });
    });
}

void CSVExportManager::end() {
    if (m_ended)
        return;
    m_ended = true;
    stopObserving();
    m_job->flow->release();
    if (m_sheet)
        m_sheet->endProgressSheet();
    leaveRunningSet();
}

// The export stays running until its partial files are gone, after whatever
// is still queued (and now skipped).
void CSVExportManager::fail(const ErrorPtr &error) {
    if (m_ended)
        return;
    m_ended = true;
    m_job->stopped = true;
    stopObserving();
    m_job->flow->release();
    if (m_exportQuery)
        m_exportQuery->cancel();
    if (m_countQuery)
        m_countQuery->cancel();
    if (m_sheet)
        m_sheet->endProgressSheet();
    showError(error ? error : KesError::errorWithFormat(QStringLiteral("Invalid result returned.")));
    m_job->queue.async([job = m_job, weak = weak_from_this()] {
        job->removeTemporaryFolder();
        reportToManager(weak, [](CSVExportManager &self) { self.leaveRunningSet(); });
    });
}

void CSVExportManager::showError(const ErrorPtr &error) {
    // A server error's description only says that a query failed: the
    // server's own words say why, or libpq's when the connection broke.
    const QString reason = PGError::reasonText(*error);
    Alert *alert = Alert::alertWithMessageText(QObject::tr("Export failed."), QObject::tr("OK"), {}, {},
                                               QObject::tr("Reason: %1").arg(reason));
    alert->setAlertStyle(Alert::Style::Critical);
    alert->compatibleBeginSheetModalForWindow(m_window, nullptr);
}

// Later, from the event loop: the set may hold the last reference.
void CSVExportManager::leaveRunningSet() {
    Main::post([self = shared_from_this()] { runningExports().erase(self); });
}
