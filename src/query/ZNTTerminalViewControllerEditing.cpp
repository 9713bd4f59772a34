// The terminal page's editable query (its undo history and keeping the text
// being typed in sight), the favorite's query history, SQL files, and the
// dialogs and alerts of COPY statements.
#include "SQLFiles.h"
#include "TerminalTextEditing.h"
#include "ZNTTerminalCells.h"
#include "ZNTTerminalCopyDelegate.h"
#include "ZNTTerminalOutlineView.h"
#include "ZNTTerminalViewController.h"
#include "engine/ZNTQuery.h"
#include "platform/Log.h"
#include "uikit/AlertSheet.h"
#include "uikit/BarButtons.h"
#include "uikit/Beep.h"
#include "uikit/SheetFocus.h"
#include "uikit/WindowEditing.h"

#include <QDir>
#include <QFileDialog>
#include <QTextBlock>
#include <QTimer>

namespace {
constexpr int kScrollDelay = 50;
} // namespace

// --- the editable text --------------------------------------------------------------

void ZNTTerminalViewController::undoManagerForTextView(QTextEdit *textView) {
    if (!textView)
        return;
    if (m_lastUndoTextView && m_lastUndoTextView != textView) {
        // The page keeps one history: what was done in another text is gone.
        Log(QStringLiteral("Removing all undo actions…"));
        m_lastUndoTextView->document()->clearUndoRedoStacks();
        textView->document()->clearUndoRedoStacks();
    }
    m_lastUndoTextView = textView;
}

// The editable query grows instead of scrolling: the transcript brings the
// range into sight, a moment later (once the row has its new height).
bool ZNTTerminalViewController::textViewScrollRangeToVisible(ZNTTextView *textView, int location, int) {
    if (!m_queryView || textView != m_queryView->textView())
        return false;
    QTextCursor cursor(textView->document());
    cursor.setPosition(std::clamp(location, 0, textView->document()->characterCount() - 1));
    const QRect caret = textView->cursorRect(cursor);
    const int rowTop = m_outline->rectOfRow(m_outline->rowForKey(editableQuery().get())).top();
    const int top = rowTop + textView->viewport()->mapTo(m_queryView, caret.topLeft()).y();
    const QRect visible = m_outline->visibleRect();
    if (top >= visible.top() && top + caret.height() <= visible.bottom())
        return true;
    QPointer<ZNTTerminalViewController> self = this;
    QTimer::singleShot(kScrollDelay, this, [self, top, caret] {
        if (!self || !self->m_outline)
            return;
        const int row = self->m_outline->rowForKey(self->editableQuery().get());
        if (self->m_outline->viewport()->height() > self->m_outline->rowHeight(row))
            self->m_outline->scrollRowToVisible(row);
        else
            self->m_outline->scrollRectToVisible(QRect(0, top, 1, caret.height()));
    });
    return true;
}

// --- history ------------------------------------------------------------------------

bool ZNTTerminalViewController::updateQueryTextViewContents(const QString &text) {
    view();
    if (!TerminalTextEditing::replaceText(m_queryView->textView(), text))
        return false;
    QPointer<ZNTTerminalViewController> self = this;
    QTimer::singleShot(kScrollDelay, this, [self] {
        if (self)
            self->m_outline->scrollRowToVisible(self->m_outline->rowForKey(self->editableQuery().get()));
    });
    return true;
}

void ZNTTerminalViewController::validateHistoryButtons() {
    if (!m_queryView)
        return;
    m_queryView->historyPagerControl()->setSegmentEnabled(0, m_history.canGoBack());
    m_queryView->historyPagerControl()->setSegmentEnabled(1, m_history.canGoForward());
}

void ZNTTerminalViewController::previousQueryFromHistory() {
    view();
    m_steppingHistory = true;
    const bool stepped = m_history.previous(TerminalTextEditing::text(m_queryView->textView()),
                                            [this](const QString &text) { return updateQueryTextViewContents(text); });
    m_steppingHistory = false;
    if (!stepped)
        beep();
    validateHistoryButtons();
}

void ZNTTerminalViewController::nextQueryFromHistory() {
    view();
    m_steppingHistory = true;
    const bool stepped = m_history.next([this](const QString &text) { return updateQueryTextViewContents(text); });
    m_steppingHistory = false;
    if (!stepped)
        beep();
    validateHistoryButtons();
}

void ZNTTerminalViewController::clickedHistoryControl(int segment) {
    if (segment == 0)
        previousQueryFromHistory();
    else if (segment == 1)
        nextQueryFromHistory();
}

// --- SQL files ----------------------------------------------------------------------

void ZNTTerminalViewController::presentError(const QString &message, const QString &informative) {
    Alert *alert = Alert::alertWithMessageText(message, QStringLiteral("OK"), {}, {}, informative);
    alert->compatibleBeginSheetModalForWindow(window(), nullptr);
}

void ZNTTerminalViewController::saveQueryText(QObject *sender) {
    view();
    const auto query = queryForSender(sender);
    if (!query || m_filePanel || !uv_endEditing(window())) {
        beep();
        return;
    }
    const QString text = query == editableQuery() ? TerminalTextEditing::text(m_queryView->textView()) : query->string;
    QFileDialog *panel = SQLFiles::makeSavePanel(window(), query->loadPath);
    m_filePanel = panel;
    connect(panel, &QFileDialog::finished, this, [this, panel, text](int result) {
        const QStringList chosen = panel->selectedFiles();
        if (result != QDialog::Accepted || chosen.isEmpty())
            return;
        ErrorPtr error;
        if (!SQLFiles::writeText(chosen.first(), text, &error))
            Alert::alertWithError(*error)->compatibleBeginSheetModalForWindow(window(), nullptr);
    });
    panel->open();
}

void ZNTTerminalViewController::loadQueryText() {
    view();
    if (m_filePanel) {
        beep();
        return;
    }
    QFileDialog *panel = SQLFiles::makeOpenPanel(window(), editableQuery()->loadPath);
    m_filePanel = panel;
    connect(panel, &QFileDialog::finished, this, [this, panel](int result) {
        const QStringList chosen = panel->selectedFiles();
        if (result != QDialog::Accepted || chosen.isEmpty())
            return;
        ErrorPtr error;
        const std::optional<QString> text = SQLFiles::readText(chosen.first(), &error);
        if (!text) {
            Alert::alertWithError(*error)->compatibleBeginSheetModalForWindow(window(), nullptr);
            return;
        }
        if (!updateQueryTextViewContents(*text)) {
            beep();
            return;
        }
        editableQuery()->loadPath = chosen.first();
        m_history.textDidChange();
        validateHistoryButtons();
    });
    panel->open();
}

// --- COPY ---------------------------------------------------------------------------

// Every way the dialog goes answers the question: a choice, Cancel, the
// dialog closed with its window, the query cleared, the page gone.
void ZNTTerminalViewController::presentCopyPanel(const std::shared_ptr<ZNTCopyFileRequest> &request) {
    view();
    if (request->isAnswered())
        return;
    const bool save = request->kind() == ZNTCopyFileRequest::Kind::Save;
    auto *panel = new QFileDialog(window(), save ? QStringLiteral("Save the Data of COPY TO STDOUT")
                                                 : QStringLiteral("Choose the Data for COPY FROM STDIN"));
    panel->setObjectName(QStringLiteral("copyPanel"));
    panel->setOption(QFileDialog::DontUseNativeDialog);
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setWindowModality(Qt::WindowModal);
    panel->setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    panel->setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    panel->setDirectory(QDir::homePath());
    uv_returnFocusAfterSheet(panel);
    connect(panel, &QFileDialog::finished, panel, [panel, request](int result) {
        const QStringList chosen = panel->selectedFiles();
        request->answer(result == QDialog::Accepted && !chosen.isEmpty() ? std::optional<QString>(chosen.first())
                                                                         : std::nullopt);
    });
    connect(panel, &QObject::destroyed, [request] { request->answer(std::nullopt); });
    std::erase_if(m_copyRequests, [](const auto &entry) { return !entry.first; });
    m_copyRequests.push_back({panel, request});
    m_copyPanel = panel;
    panel->open();
}

void ZNTTerminalViewController::presentCopyAlert(const QString &message, const QString &informative) {
    presentError(message, informative);
}

// Answers the questions of query's COPY (every one for none) and closes their dialogs.
void ZNTTerminalViewController::closeCopyPanelsOf(const std::shared_ptr<ZNTQuery> &query) {
    auto pending = std::move(m_copyRequests);
    m_copyRequests.clear();
    for (auto &[panel, request] : pending) {
        if (query && request->query() != query) {
            if (panel)
                m_copyRequests.push_back({panel, request});
            continue;
        }
        request->answer(std::nullopt);
        if (panel)
            panel->reject();
    }
}
