// The query page's SQL files (saving and loading the editor's text) and the
// favorite's query history (previous, next and the list in a popover).
#include "QueryTextView.h"
#include "QueryViewController.h"
#include "SQLFiles.h"
#include "uikit/AlertSheet.h"
#include "uikit/BarButtons.h"
#include "uikit/Beep.h"
#include "uikit/WindowEditing.h"
#include "uikit/ZNTPopover.h"

#include <QFileDialog>
#include <QToolButton>

// --- files --------------------------------------------------------------------------

void QueryViewController::presentError(const ErrorPtr &error) {
    Alert::alertWithError(*error)->compatibleBeginSheetModalForWindow(window(), nullptr);
}

void QueryViewController::saveQueryText() {
    view();
    if (m_filePanel)
        return; // one dialog at a time
    if (!uv_endEditing(window())) {
        beep();
        return;
    }
    QFileDialog *panel = SQLFiles::makeSavePanel(window(), m_loadPath);
    m_filePanel = panel;
    connect(panel, &QFileDialog::finished, this, [this, panel](int result) {
        const QStringList chosen = panel->selectedFiles();
        if (result == QDialog::Accepted && !chosen.isEmpty())
            writeQueryFile(chosen.first(), m_textView->text());
    });
    panel->open();
}

void QueryViewController::writeQueryFile(const QString &path, const QString &text) {
    // The file proposed next time stays the one loaded last.
    ErrorPtr error;
    if (!SQLFiles::writeText(path, text, &error))
        presentError(error);
}

void QueryViewController::loadQueryText() {
    view();
    if (m_filePanel)
        return;
    QFileDialog *panel = SQLFiles::makeOpenPanel(window(), m_loadPath);
    m_filePanel = panel;
    connect(panel, &QFileDialog::finished, this, [this, panel](int result) {
        const QStringList chosen = panel->selectedFiles();
        if (result == QDialog::Accepted && !chosen.isEmpty())
            readQueryFile(chosen.first());
    });
    panel->open();
}

void QueryViewController::readQueryFile(const QString &path) {
    ErrorPtr error;
    const std::optional<QString> text = SQLFiles::readText(path, &error);
    if (!text) {
        presentError(error); // the editor keeps its text
        return;
    }
    // One undoable change, which also ends browsing the history.
    if (!updateQueryTextViewContents(*text)) {
        beep();
        return;
    }
    m_loadPath = path;
}

// --- history ------------------------------------------------------------------------

bool QueryViewController::updateQueryTextViewContents(const QString &text) {
    return m_textView->replaceText(text);
}

QueryHistoryBrowser::Replace QueryViewController::replacer() {
    return [this](const QString &text) { return updateQueryTextViewContents(text); };
}

void QueryViewController::validateHistoryButtons() {
    const QueryHistoryBrowser::Buttons buttons = m_history.buttons(m_textView->text());
    m_historyControl->setSegmentEnabled(0, buttons.previous);
    m_historyControl->setSegmentEnabled(1, buttons.list);
    m_historyControl->setSegmentEnabled(2, buttons.next);
}

void QueryViewController::previousQueryFromHistory() {
    view();
    m_steppingHistory = true;
    const bool stepped = m_history.previous(m_textView->text(), replacer());
    m_steppingHistory = false;
    if (!stepped)
        beep();
    validateHistoryButtons();
}

void QueryViewController::nextQueryFromHistory() {
    view();
    m_steppingHistory = true;
    const bool stepped = m_history.next(m_textView->text(), replacer());
    m_steppingHistory = false;
    if (!stepped)
        beep();
    validateHistoryButtons();
}

void QueryViewController::clickedHistoryControl(int segment) {
    view();
    if (segment == 0) {
        previousQueryFromHistory();
        return;
    }
    if (segment == 2) {
        nextQueryFromHistory();
        return;
    }
    if (segment != 1)
        return;
    if (!m_historyPopover) {
        m_historyPopover = new ZNTPopover(m_view);
        m_historyPopover->setObjectName(QStringLiteral("historyPopover"));
        m_historyViewController = new QueryHistoryViewController;
        m_historyViewController->setDelegate(this);
        m_historyPopover->setContentView(m_historyViewController);
    }
    m_historyViewController->setFavorite(m_history.favorite());
    m_historyViewController->setSelectedQueryHistoryElement(m_history.currentElement());
    m_historyPopover->showRelativeToRect(m_historyControl->segmentButton(1)->geometry(), m_historyControl,
                                         ZNTPopover::Edge::Above);
}

void QueryViewController::selectionChangedInQueryHistoryViewController(QueryHistoryViewController *controller) {
    const auto element = controller->selectedQueryHistoryElement();
    if (!element)
        return;
    m_steppingHistory = true;
    m_history.select(element, m_textView->text(), replacer());
    m_steppingHistory = false;
    validateHistoryButtons();
}
