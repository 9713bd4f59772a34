// The table page's loading: the structure, the grid's columns, the page and
// count queries and their replies, the status text, the pagers and the rows
// per page.
#include "ZNTFilter.h"
#include "ZNTTableContentModel.h"
#include "ZNTTableGridView.h"
#include "ZNTTablePageLogic.h"
#include "ZNTTableViewController.h"
#include "engine/ZNTConnection.h"
#include "engine/ZNTQuery.h"
#include "model/ZNTDatabase.h"
#include "model/ZNTTable.h"
#include "model/ZNTTableMetadata.h"
#include "platform/Log.h"
#include "platform/UserDefaults.h"
#include "uikit/AlertSheet.h"
#include "uikit/BarButtons.h"
#include "uikit/Beep.h"
#include "uikit/BlockObservers.h"
#include "uikit/WindowEditing.h"
#include "uikit/ZNTAnimatingIndicator.h"
#include "uikit/ZNTPopover.h"
#include "uikit/ZNTTableHeaderCell.h"

#include <QHeaderView>
#include <QLineEdit>
#include <QToolButton>
#include <QUndoStack>

using namespace ZNTTablePageLogic;

namespace {
// Every notification of those names from object.
std::vector<ObserverToken> observeAll(const void *object, const QStringList &names,
                                      const NotificationCenter::Callback &block) {
    std::vector<ObserverToken> tokens;
    for (const QString &name : names)
        tokens.push_back(observe(object, name, block));
    return tokens;
}

void showCriticalAlert(QWidget *window, const QString &message, const QString &informative) {
    Alert *alert = Alert::alertWithMessageText(message, QStringLiteral("OK"), {}, {}, informative);
    alert->setAlertStyle(Alert::Style::Critical);
    alert->compatibleBeginSheetModalForWindow(window, nullptr);
}
} // namespace

std::shared_ptr<ZNTTableMetadata> ZNTTableViewController::loadedMetadata() const {
    auto metadata = m_table->metadata();
    return metadata && metadata->metadataState() == ZNTTableMetadata::ZNTMetadataStateLoaded ? metadata : nullptr;
}

// A reload in another window of the server purges the cached structure; the
// rows shown and their pending edits still go by the one they were read with.
std::shared_ptr<ZNTTableMetadata> ZNTTableViewController::pageMetadata() const {
    return m_resultMetadata ? m_resultMetadata : loadedMetadata();
}

QList<std::shared_ptr<ZNTFilterCondition>> ZNTTableViewController::currentFilters() const {
    return m_filterController ? filterConditions(m_filterController->filters())
                              : QList<std::shared_ptr<ZNTFilterCondition>>();
}

bool ZNTTableViewController::isLoading() const {
    return m_tableDataQuery || m_tableCountQuery || m_structureObserver.isActive();
}

void ZNTTableViewController::stopQueries() {
    if (m_tableDataQuery)
        m_tableDataQuery->cancel();
    if (m_tableCountQuery)
        m_tableCountQuery->cancel();
    m_dataQueryObserver.clear();
    m_resultObserver.clear();
    m_countQueryObserver.clear();
    m_tableResult.reset();
    m_tableDataQuery.reset();
    m_tableCountQuery.reset();
}

void ZNTTableViewController::reloadWithStructure(bool withStructure) {
    if (m_isBusy) {
        beep();
        return;
    }
    pageView();
    m_tableView->abortEditing();
    uv_endEditing(m_view->window());
    stopQueries();
    m_reloadAfterSave = false; // this load shows what the server holds
    m_pageLoadFailed = false;
    m_model->clearResult();
    m_resultMetadata.reset();
    m_undoStack->clear();
    updateSaveView();
    updatePagerLabels();
    updateSidebarView();
    m_progressIndicator->startAnimation();

    auto metadata = m_table->metadata();
    if (!metadata) {
        m_progressIndicator->stopAnimation();
        setStatusText(QString());
        notePageLoadFailed();
        return;
    }
    if (metadata->metadataState() != ZNTTableMetadata::ZNTMetadataStateLoaded) {
        startStructureLoad(metadata);
        return;
    }
    if (withStructure) {
        noteStructureLoaded(nullptr);
        return;
    }
    startPageQueries();
}

void ZNTTableViewController::startStructureLoad(const std::shared_ptr<ZNTTableMetadata> &metadata) {
    m_structureObserver = observeNext(metadata, ZNTTableMetadata::DidLoadNotification,
                                      [this](const Notification &n) { noteStructureLoaded(&n); });
    if (metadata->metadataState() == ZNTTableMetadata::ZNTMetadataStateNotLoaded)
        metadata->load();
    setStatusText(QStringLiteral("Loading Table Schema…"));
}

void ZNTTableViewController::noteStructureLoaded(const Notification *notification) {
    if (notification) {
        m_structureObserver.stopObserving();
        if (const auto error = notification->value<ErrorPtr>(ZNTTableMetadata::ErrorKey); error && *error) {
            m_progressIndicator->stopAnimation();
            setStatusText(QString());
            notePageLoadFailed();
            const ErrorPtr underlying = (*error)->underlyingError();
            showCriticalAlert(pageView()->window(), (*error)->localizedDescription(),
                              underlying ? informativeTextForError(underlying) : QString());
            return;
        }
    }
    const auto metadata = loadedMetadata();
    if (!metadata) {
        // Purged again meanwhile: wait for the next load.
        reloadWithStructure(false);
        return;
    }
    restoreStateOnce(*metadata);
    dropVanishedSortColumn(*metadata);
    refreshColumns();
    reloadWithStructure(false);
}

std::shared_ptr<ZNTColumn> ZNTTableViewController::systemOrDisplayColumnNamed(const ZNTTableMetadata &metadata,
                                                                              const QString &name) const {
    for (const ZNTColumnList *list : {&metadata.columns(), &metadata.systemColumns()}) {
        for (const auto &column : *list) {
            if (column->name() == name)
                return column;
        }
    }
    return nullptr;
}

void ZNTTableViewController::restoreStateOnce(const ZNTTableMetadata &metadata) {
    if (m_didRestoreState)
        return;
    m_didRestoreState = true;
    if (m_layout.filterBarShown())
        toggleTableFilter();
    if (const auto sort = m_layout.sortOrder()) {
        if (auto column = systemOrDisplayColumnNamed(metadata, sort->column)) {
            m_orderColumn = column;
            m_orderAscending = sort->ascending;
        }
    }
}

void ZNTTableViewController::dropVanishedSortColumn(const ZNTTableMetadata &metadata) {
    if (!m_orderColumn || systemOrDisplayColumnNamed(metadata, m_orderColumn->name()))
        return;
    m_orderColumn.reset();
    m_orderAscending = true;
    m_currentPageIndex = 0;
    setSortIndicator();
}

void ZNTTableViewController::refreshColumns() {
    pageView();
    const auto metadata = loadedMetadata();
    const ZNTColumnList display = metadata ? metadata->displayColumns() : ZNTColumnList();
    QStringList names;
    for (const auto &column : display)
        names << column->name();
    QStringList shown;
    for (int visual = 0; visual < m_tableView->header()->count(); ++visual) {
        const int logical = m_tableView->header()->logicalIndex(visual);
        shown << m_model->headerData(logical, Qt::Horizontal).toString();
    }
    const ZNTColumnList &current = m_model->displayColumns();
    if (!display.isEmpty() && shown == names && current.size() == display.size()) {
        // Same columns in the same order: only the structure objects are new.
        bool same = true;
        for (int i = 0; i < display.size() && same; ++i)
            same = current[i]->typeOid() == display[i]->typeOid();
        if (same)
            return;
    }
    m_model->setDisplayColumns(display);
    applyColumnLayout(orderedColumnNames(names, m_layout.columnOrder()));
}

// Order, widths and the sort indicator of freshly made columns; what this
// changes is the page's doing, not the user's, and is not stored.
void ZNTTableViewController::applyColumnLayout(const QStringList &order) {
    m_layingOutColumns = true;
    QHeaderView *header = m_tableView->header();
    for (int visual = 0; visual < order.size(); ++visual) {
        const int logical = m_model->displayColumnNamed(order[visual]);
        if (logical >= 0 && header->visualIndex(logical) != visual)
            header->moveSection(header->visualIndex(logical), visual);
    }
    const ZNTColumnList &columns = m_model->displayColumns();
    for (int logical = 0; logical < columns.size(); ++logical) {
        const ZNTColumn &column = *columns[logical];
        header->resizeSection(logical, int(columnWidth(column, persistentWidthForColumn(column))));
    }
    if (columns.isEmpty())
        header->resizeSection(0, 150);
    setSortIndicator();
    m_layingOutColumns = false;
}

void ZNTTableViewController::startPageQueries() {
    // The bar's filters and that it shows, as they are applied.
    m_layout.setFilterBar(m_filterController != nullptr,
                          m_filterController ? m_filterController->dictionaryRepresentations() : QVariantList());
    m_resultIsFiltered = m_filterController != nullptr;
    if (m_orderColumn)
        m_layout.setSortOrder(ZNTTableLayoutStore::SortOrder{m_orderColumn->name(), m_orderAscending});
    else
        m_layout.setSortOrder(std::nullopt);
    setStatusText(QStringLiteral("Loading Rows…"));
    m_totalNumRows = -1;
    m_savedRowsChange = 0;
    updatePagerLabels();
    const auto filters = currentFilters();
    const auto connection = m_table->database()->connection();
    m_resultMetadata = loadedMetadata();
    m_tableDataQuery = m_table->queryWithOffset(quint64(m_currentPageIndex) * quint64(m_rowsPerPage),
                                                quint64(m_rowsPerPage), m_orderColumn, m_orderAscending, filters);
    m_dataQueryObserver =
        observeAll(m_tableDataQuery.get(), {ZNTQuery::NewResultNotification, ZNTQuery::DoneNotification},
                   [this](const Notification &n) {
                       if (n.name == ZNTQuery::NewResultNotification)
                           noteNewResult(n);
                       else if (n.name == ZNTQuery::DoneNotification)
                           noteQueryDone(n);
                   });
    m_tableDataQuery->executeInBackgroundOnConnection(connection, true);
    if (UserDefaults::standard().boolForKey(QStringLiteral("DontCountRows")))
        return;
    m_tableCountQuery = m_table->countQueryWithFilters(filters);
    m_countQueryObserver =
        observeAll(m_tableCountQuery.get(), {ZNTQuery::NewRowNotification, ZNTQuery::DoneNotification},
                   [this](const Notification &n) { noteCountQueryUpdated(n); });
    m_tableCountQuery->executeInBackgroundOnConnection(connection, false);
}

void ZNTTableViewController::noteNewResult(const Notification &notification) {
    const auto index = notification.value<qsizetype>(ZNTQuery::ResultIndexKey);
    const auto result = notification.value<std::shared_ptr<ZNTResult>>(ZNTQuery::ResultKey);
    const bool ownQuery = notification.object.get() == m_tableDataQuery.get();
    // A failure (the server's error, a lost session) comes as a result without
    // rows before the query ends; its end tells the page.
    if (ownQuery && !result)
        return;
    if (!ownQuery || index != 0 || !*result) {
        Log(QStringLiteral("Unexpected notification: %1").arg(notification.name));
        return;
    }
    m_tableResult = *result;
    m_model->setResult(m_tableResult->columns(), m_tableResult->rows());
    m_resultObserver = observeAll(m_tableResult.get(), {ZNTResult::NewRowNotification, ZNTResult::DoneNotification},
                                  [this](const Notification &n) {
                                      if (n.name == ZNTResult::NewRowNotification)
                                          noteNewRows(n);
                                      else if (n.name == ZNTResult::DoneNotification)
                                          noteResultDone(n);
                                  });
    // Rows that came before this observer began.
    if (const auto rows = m_tableResult->rows())
        m_model->takeRows(rows->rowCount());
    updateSidebarView();
}

void ZNTTableViewController::noteNewRows(const Notification &notification) {
    if (notification.object.get() != m_tableResult.get()) {
        Log(QStringLiteral("Unexpected notification: %1").arg(notification.name));
        return;
    }
    // The batch names the store rows it brought: rows the user added meanwhile
    // change nothing about which result rows are still to take.
    if (const auto range = notification.value<RowRange>(ZNTQuery::RowsKey))
        m_model->takeRows(range->firstRow + range->count);
}

void ZNTTableViewController::noteResultDone(const Notification &notification) {
    if (notification.object.get() != m_tableResult.get()) {
        Log(QStringLiteral("Unexpected notification: %1").arg(notification.name));
        return;
    }
    if (const auto rows = m_tableResult->rows())
        m_model->takeRows(rows->rowCount());
    updateRowCount();
}

void ZNTTableViewController::noteQueryDone(const Notification &notification) {
    if (notification.object.get() != m_tableDataQuery.get()) {
        Log(QStringLiteral("Unexpected notification: %1").arg(notification.name));
        return;
    }
    const ErrorPtr error = m_tableDataQuery->error();
    m_dataQueryObserver.clear();
    m_resultObserver.clear();
    m_tableDataQuery.reset();
    m_progressIndicator->stopAnimation();
    if (error && !m_tableResult)
        updateRowCount();
    if (error) {
        notePageLoadFailed();
        showCriticalAlert(pageView()->window(), QStringLiteral("Could not load table rows."),
                          informativeTextForError(error));
    } else {
        saveAfterLoad(true, putBackCarriedChanges());
    }
}

void ZNTTableViewController::noteCountQueryUpdated(const Notification &notification) {
    if (notification.object.get() != m_tableCountQuery.get())
        return;
    if (notification.name == ZNTQuery::NewRowNotification) {
        const auto range = notification.value<RowRange>(ZNTQuery::RowsKey);
        if (!range || range->isEmpty())
            return;
        const Value count = range->valueAt(0, 0);
        // The count ran before any save of this page (one session, in order).
        m_totalNumRows = count.kind() == Value::Kind::Int ? std::max<qint64>(0, count.toInt() + m_savedRowsChange) : -1;
    } else if (notification.name == ZNTQuery::DoneNotification) {
        m_totalNumRows = -1;
    } else {
        return;
    }
    m_countQueryObserver.clear();
    m_tableCountQuery.reset();
    updatePagerLabels();
    updateRowCount();
}

void ZNTTableViewController::updateRowCount() {
    const qint64 rows = m_model->hasResult() ? m_model->edits().takenStoreRows() + m_savedRowsChange : 0;
    setStatusText(ZNTTablePageLogic::statusText(m_tableResult != nullptr || m_model->hasResult(), m_totalNumRows, rows,
                                                m_rowsPerPage, m_currentPageIndex));
}

void ZNTTableViewController::updatePagerLabels() {
    const PagerState state = pagerState(m_currentPageIndex, m_rowsPerPage, m_totalNumRows, m_pageLoadFailed);
    for (ZNTTerminalSegmentedControl *pager : {m_pager, m_smallPager}) {
        pager->setSegmentEnabled(0, state.previousEnabled);
        pager->setSegmentEnabled(1, state.labelEnabled);
        pager->setSegmentEnabled(2, state.nextEnabled);
        pager->segmentButton(1)->setText(state.label);
    }
    if (!state.labelEnabled && m_pageNumberPopover->isShown())
        m_pageNumberPopover->performClose();
}

void ZNTTableViewController::notePageLoadFailed() {
    m_pageLoadFailed = true;
    updatePagerLabels();
    saveAfterLoad(false);
}

void ZNTTableViewController::performPagerOperation(int segment, QWidget *pager) {
    if (m_pageLoadFailed) {
        beep();
        return;
    }
    if (segment == 0)
        setCurrentPageIndex(m_currentPageIndex - 1);
    else if (segment == 2)
        setCurrentPageIndex(m_currentPageIndex + 1);
    else if (segment == 1) {
        auto *control = static_cast<ZNTTerminalSegmentedControl *>(pager);
        QToolButton *label = control->segmentButton(1);
        m_pageNumberTextField->setText(QString::number(m_currentPageIndex + 1));
        m_pageNumberTextField->selectAll();
        m_pageNumberPopover->showRelativeToRect(label->geometry(), control, ZNTPopover::Edge::Above);
    }
}

void ZNTTableViewController::showPageNumberPopover() {
    pageView();
    performPagerOperation(1, m_pager);
}

void ZNTTableViewController::goToPageFromPopover() {
    const auto page = pageIndexFromText(m_pageNumberTextField->text());
    m_pageNumberPopover->performClose();
    if (!page || m_pageLoadFailed) {
        beep();
        return;
    }
    setCurrentPageIndex(*page);
}

void ZNTTableViewController::setCurrentPageIndex(qint64 pageIndex) {
    const qint64 page = clampPageIndex(pageIndex, m_rowsPerPage);
    resignWithInformativeText(QStringLiteral("The page can't be changed when there are unsaved changes."),
                              [this, page](bool ok) {
                                  if (!ok)
                                      return;
                                  m_currentPageIndex = page;
                                  reloadWithStructure(false);
                              });
}

void ZNTTableViewController::userDefaultsChanged(const QString &key) {
    if (key != QLatin1String("TableViewRowsPerPage"))
        return;
    const qint64 perPage = rowsPerPageFromSetting(UserDefaults::standard().integerForKey(key));
    if (perPage == m_rowsPerPage)
        return;
    const qint64 page = pageIndexForRowsPerPage(m_rowsPerPage, m_currentPageIndex, perPage);
    // The new size holds for the next load even when the user keeps the page.
    m_rowsPerPage = perPage;
    if (m_view)
        setCurrentPageIndex(page);
}
