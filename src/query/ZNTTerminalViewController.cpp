// The terminal page: how it is made, its rows and their heights, its
// commands and the capabilities the window asks of it. Runs, grids and
// editing live in the files beside this one.
#include "ZNTTerminalViewController.h"

#include "QueryFavorite.h"
#include "TerminalTextEditing.h"
#include "ZNTTerminalCells.h"
#include "ZNTTerminalCopyDelegate.h"
#include "ZNTTerminalOutlineView.h"
#include "ZNTTerminalQueryTabularResult.h"
#include "browser/ZNTCopyModes.h"
#include "engine/ZNTQuery.h"
#include "favorites/ZNTFavorite.h"
#include "model/ZNTDatabase.h"
#include "model/ZNTServer.h"
#include "model/ZNTTerminal.h"
#include "platform/ProgramError.h"
#include "uikit/BarButtons.h"
#include "uikit/Beep.h"
#include "uikit/BlockObservers.h"
#include "uikit/WindowEditing.h"
#include "uikit/ZNTGridModel.h"
#include "uikit/ZNTMenuWithOwner.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QMenu>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace {
// The row under the editable query that fills the rest of the visible area.
const char kPlaceholderItem[] = "BottomPlaceholderItem";

const QKeySequence kExecuteKey(Qt::CTRL | Qt::Key_Return);
const QKeySequence kExecuteEnterKey(Qt::CTRL | Qt::Key_Enter);
const QKeySequence kPreviousKey(Qt::CTRL | Qt::Key_Up);
const QKeySequence kNextKey(Qt::CTRL | Qt::Key_Down);

// A key that acts while the focus is in row (so each row's keys reach it alone).
QAction *rowAction(QWidget *row, const QList<QKeySequence> &keys, std::function<void()> run) {
    auto *action = new QAction(row);
    action->setShortcuts(keys);
    action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    row->addAction(action);
    QObject::connect(action, &QAction::triggered, row, [run = std::move(run)] { run(); });
    return action;
}
} // namespace

ZNTTerminalViewController *ZNTTerminalViewController::viewControllerForItem(const std::shared_ptr<ZNTObject> &item) {
    auto terminal = std::dynamic_pointer_cast<ZNTTerminal>(item);
    if (!terminal)
        throw ProgramError("InvalidClass",
                           QStringLiteral("Argument to [ZNTTerminalViewController viewControllerForItem:] is not of "
                                          "class ZNTTerminal: %1")
                               .arg(item ? item->name() : QStringLiteral("(null)"))
                               .toStdString());
    auto *controller = new ZNTTerminalViewController;
    controller->setTerminal(terminal);
    return controller;
}

ZNTTerminalViewController::ZNTTerminalViewController(QObject *parent) : ZNTContentController(parent) {
    m_queries.push_back(std::make_shared<ZNTTerminalQuery>());
    m_copyDelegate = std::make_shared<ZNTTerminalCopyDelegate>(this);
    m_clock.start();
}

ZNTTerminalViewController::~ZNTTerminalViewController() {
    while (!m_runs.empty())
        stopRun(m_runs.begin()->first, true);
    // Nobody is left to answer a COPY's question.
    closeCopyPanelsOf(nullptr);
    delete m_filePanel.data();
}

void ZNTTerminalViewController::setTerminal(std::shared_ptr<ZNTTerminal> terminal) {
    m_terminal = std::move(terminal);
    m_history.setFavorite(favorite());
    if (m_view)
        validateHistoryButtons();
}

std::shared_ptr<ZNTFavorite> ZNTTerminalViewController::favorite() const {
    return QueryFavorite::of(m_terminal ? m_terminal->database() : nullptr);
}

QWidget *ZNTTerminalViewController::window() const {
    return m_view ? m_view->window() : nullptr;
}

// --- Views ----------------------------------------------------------------------

QWidget *ZNTTerminalViewController::makeView() {
    buildUi();
    buildCommands();
    buildTableContextMenu();
    connectQueryView();
    validateHistoryButtons();
    return m_view;
}

void ZNTTerminalViewController::buildUi() {
    m_view = new ZNTControlledView;
    m_view->setObjectName(QStringLiteral("terminalPage"));
    m_view->setViewController(this);
    auto *layout = new QVBoxLayout(m_view);
    layout->setContentsMargins(0, 0, 0, 0);
    m_outline = new ZNTTerminalOutlineView;
    m_outline->setAccessibleName(QStringLiteral("Transcript"));
    layout->addWidget(m_outline);
    m_queryView = new ZNTTerminalEditableQueryView;
    m_queryView->setQuery(editableQuery());
    m_queryView->textView()->setScrollDelegate(this);
    m_outline->insertRow(0, editableQuery().get(), m_queryView, heightForItem(editableQuery().get()));
    m_outline->insertRow(1, kPlaceholderItem, nullptr, 10);
    connect(m_outline, &ZNTTerminalOutlineView::visibleSizeChanged, this, [this] {
        updatePlaceholderHeight();
        updateFloatingParts();
    });
    updatePlaceholderHeight();
}

void ZNTTerminalViewController::buildCommands() {
    auto *copyAction = new QAction(QStringLiteral("&Copy"), this);
    copyAction->setData(int(CommandTag::Copy));
    copyAction->setShortcut(QKeySequence::Copy);
    copyAction->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    m_view->addAction(copyAction);
    connect(copyAction, &QAction::triggered, this, [this] {
        // In a text of the transcript Copy copies its selected text.
        if (auto *text = qobject_cast<QTextEdit *>(workingFocusWidget(m_view)); text && m_view->isAncestorOf(text)) {
            if (text->textCursor().hasSelection())
                text->copy();
            else
                beep();
            return;
        }
        copy();
    });
    auto *special = new QAction(QStringLiteral("Copy &Special"), this);
    special->setData(int(CommandTag::CopySpecial));
    m_copySpecialMenu = new QMenu(m_view);
    const QStringList forms = {QStringLiteral("&Tab-Separated Text"), QStringLiteral("&CSV"),
                               QStringLiteral("CSV with &Header"), QStringLiteral("&INSERT Statements")};
    for (int mode = 0; mode < forms.size(); ++mode) {
        QAction *form = m_copySpecialMenu->addAction(forms[mode]);
        form->setData(int(CommandTag::CopySpecial));
        connect(form, &QAction::triggered, this, [this, mode] { copySpecial(mode); });
    }
    special->setMenu(m_copySpecialMenu);
    m_editActions = {copyAction, special};
}

void ZNTTerminalViewController::connectQueryView() {
    ZNTTerminalEditableQueryView *cell = m_queryView;
    ZNTTextView *text = cell->textView();
    text->installEventFilter(new TerminalTextEditing::KeyCommands(cell));
    connect(cell->executeButton(), &QToolButton::clicked, this, [this, cell] { executeQuery(cell); });
    connect(cell->historyPagerControl(), &ZNTTerminalSegmentedControl::segmentClicked, this,
            [this](int segment) { clickedHistoryControl(segment); });
    connect(cell->loadButton(), &QToolButton::clicked, this, [this] { loadQueryText(); });
    connect(cell->saveButton(), &QToolButton::clicked, this, [this, cell] { saveQueryText(cell); });
    connect(cell->clearDisplayButton(), &QToolButton::clicked, this, [this] { clearDisplay(); });
    connect(text, &QTextEdit::textChanged, this, [this] {
        // Every change by the user ends the stepping through the history.
        if (m_steppingHistory)
            return;
        m_history.textDidChange();
        validateHistoryButtons();
    });
    connect(text, &QTextEdit::copyAvailable, this, [this, cell, text](bool) {
        cell->executeButton()->setText(text->textCursor().hasSelection() ? QStringLiteral("Execute Selection")
                                                                         : QStringLiteral("Execute Query"));
        emit validationRequested();
    });
    connect(cell, &ZNTTextViewCell::preferredHeightChanged, this,
            [this, cell] { notePreferredHeight(editableQuery().get(), cell->preferredHeight()); });
    cell->addTextViewObserver(observe(static_cast<const void *>(text), ZNTTextViewDidBecomeFirstResponder,
                                      [this, text](const Notification &) { undoManagerForTextView(text); }));
    rowAction(cell, {kExecuteKey, kExecuteEnterKey}, [this, cell] { executeQuery(cell); });
    rowAction(cell, {kPreviousKey}, [this] { previousQueryFromHistory(); });
    rowAction(cell, {kNextKey}, [this] { nextQueryFromHistory(); });
    rowAction(cell, {QKeySequence::Save}, [this, cell] { saveQueryText(cell); });
    rowAction(cell, {QKeySequence::Open}, [this] { loadQueryText(); });
}

ZNTTerminalExecutedQueryCell *
ZNTTerminalViewController::makeExecutedQueryCell(const std::shared_ptr<ZNTTerminalQuery> &query) {
    auto *cell = new ZNTTerminalExecutedQueryCell;
    cell->setQuery(query);
    connect(cell->executeButton(), &QToolButton::clicked, this, [this, cell] { executeQuery(cell); });
    connect(cell->cancelButton(), &QToolButton::clicked, this, [this, cell] { cancelQuery(cell); });
    connect(cell->saveAction(), &QAction::triggered, this, [this, cell] { saveQueryText(cell->saveAction()); });
    connect(cell->clearAction(), &QAction::triggered, this, [this, cell] { clearQuery(cell->clearAction()); });
    const ZNTTerminalQuery *key = query.get();
    connect(cell, &ZNTTextViewCell::preferredHeightChanged, this,
            [this, cell, key] { notePreferredHeight(key, cell->preferredHeight()); });
    rowAction(cell, {kExecuteKey, kExecuteEnterKey}, [this, cell] { executeQuery(cell); });
    rowAction(cell, {QKeySequence::Save}, [this, cell] { saveQueryText(cell); });
    return cell;
}

QWidget *ZNTTerminalViewController::makeResultView(const std::shared_ptr<ZNTTerminalQuery> &,
                                                   const std::shared_ptr<ZNTTerminalResult> &result) {
    if (result->rows()) {
        auto *grid = new ZNTTerminalQueryTabularResult;
        buildGrid(grid, result);
        connectGrid(grid);
        return grid;
    }
    auto *cell = new ZNTIconAndTextViewCell;
    cell->setResult(result);
    const ZNTTerminalResult *key = result.get();
    connect(cell, &ZNTTextViewCell::preferredHeightChanged, this,
            [this, cell, key] { notePreferredHeight(key, cell->preferredHeight()); });
    return cell;
}

// --- Rows -----------------------------------------------------------------------

std::shared_ptr<ZNTTerminalQuery> ZNTTerminalViewController::queryForItem(const void *item) const {
    for (const auto &query : m_queries) {
        if (query.get() == item)
            return query;
    }
    return nullptr;
}

std::shared_ptr<ZNTTerminalQuery> ZNTTerminalViewController::queryForSender(QObject *sender) const {
    if (!m_outline)
        return nullptr;
    // A row menu's action stands for the row the menu belongs to.
    if (auto *action = qobject_cast<QAction *>(sender)) {
        auto *menu = qobject_cast<ZNTMenuWithOwner *>(action->parent());
        sender = menu ? menu->owner() : nullptr;
    }
    auto *widget = qobject_cast<QWidget *>(sender);
    return widget ? queryForItem(m_outline->keyAtRow(m_outline->rowForView(widget))) : nullptr;
}

ZNTTerminalExecutedQueryCell *ZNTTerminalViewController::cellForQuery(const ZNTTerminalQuery *query) const {
    return qobject_cast<ZNTTerminalExecutedQueryCell *>(viewForItem(query));
}

ZNTTerminalQueryTabularResult *ZNTTerminalViewController::gridForResult(const ZNTTerminalResult *result) const {
    return qobject_cast<ZNTTerminalQueryTabularResult *>(viewForItem(result));
}

QWidget *ZNTTerminalViewController::viewForItem(const void *item) const {
    return m_outline ? m_outline->viewAtRow(m_outline->rowForKey(item)) : nullptr;
}

int ZNTTerminalViewController::heightForItem(const void *item) const {
    if (item == kPlaceholderItem) {
        const int editable = m_outline ? m_outline->rowHeight(m_outline->rowForKey(editableQuery().get())) : 0;
        return TerminalPageLogic::placeholderHeight(m_outline ? m_outline->viewport()->height() : 0, editable);
    }
    if (const auto it = m_rowHeights.find(item); it != m_rowHeights.end())
        return it->second;
    if (auto *grid = gridForResult(static_cast<const ZNTTerminalResult *>(item)))
        return ZNTTerminalQueryTabularResult::heightForRowCount(grid->model()->rowCount(), grid);
    if (qobject_cast<ZNTIconAndTextViewCell *>(viewForItem(item)))
        return int(ZNTIconAndTextViewCell::defaultHeight());
    if (queryForItem(item))
        return int(ZNTTerminalEditableQueryView::defaultHeight());
    return 20;
}

void ZNTTerminalViewController::noteHeightOfRow(const void *item) {
    m_outline->setRowHeight(item, heightForItem(item));
    if (item == editableQuery().get())
        updatePlaceholderHeight();
}

void ZNTTerminalViewController::notePreferredHeight(const void *item, qreal height) {
    const int wanted = int(std::ceil(height));
    if (const auto it = m_rowHeights.find(item); it != m_rowHeights.end() && it->second == wanted)
        return;
    m_rowHeights[item] = wanted;
    noteHeightOfRow(item);
}

void ZNTTerminalViewController::updatePlaceholderHeight() {
    if (m_outline)
        m_outline->setRowHeight(kPlaceholderItem, heightForItem(kPlaceholderItem));
}

void ZNTTerminalViewController::updateFloatingParts() {
    for (int row = 0; row < m_outline->rowCount(); ++row) {
        if (auto *grid = qobject_cast<ZNTTerminalQueryTabularResult *>(m_outline->viewAtRow(row)))
            grid->updateFloatingParts();
    }
}

QList<const void *> ZNTTerminalViewController::keysOfQuery(const std::shared_ptr<ZNTTerminalQuery> &query) const {
    QList<const void *> keys{query.get()};
    for (int row = m_outline->rowForKey(query.get()) + 1; row < m_outline->rowCount(); ++row) {
        const void *key = m_outline->keyAtRow(row);
        if (!key || key == kPlaceholderItem || queryForItem(key))
            break;
        keys << key;
    }
    return keys;
}

// Tab goes through the rows from top to bottom, whatever order they were made in.
void ZNTTerminalViewController::orderTabChain() {
    QList<QWidget *> chain;
    for (int row = 0; row < m_outline->rowCount(); ++row) {
        QWidget *view = m_outline->viewAtRow(row);
        if (auto *editable = qobject_cast<ZNTTerminalEditableQueryView *>(view)) {
            chain << editable->historyPagerControl()->segmentButton(0)
                  << editable->historyPagerControl()->segmentButton(1) << editable->loadButton()
                  << editable->saveButton() << editable->clearDisplayButton() << editable->textView()
                  << editable->executeButton();
        } else if (auto *executed = qobject_cast<ZNTTerminalExecutedQueryCell *>(view)) {
            chain << executed->executeButton() << executed->cancelButton() << executed->actionButton();
        } else if (auto *grid = qobject_cast<ZNTTerminalQueryTabularResult *>(view)) {
            chain << grid->tableView();
        }
    }
    for (qsizetype i = 0; i + 1 < chain.size(); ++i)
        QWidget::setTabOrder(chain[i], chain[i + 1]);
}

void ZNTTerminalViewController::refreshQueryViews(const ZNTTerminalQuery *query) {
    if (auto *cell = cellForQuery(query))
        cell->refresh();
    if (m_queryView)
        m_queryView->refresh();
}

// --- Capabilities -----------------------------------------------------------------

bool ZNTTerminalViewController::makeFirstResponder() {
    view();
    m_outline->setFocus(Qt::OtherFocusReason);
    if (m_outline->rowCount() >= 2)
        m_queryView->textView()->setFocus(Qt::OtherFocusReason);
    validateHistoryButtons();
    return true;
}

void ZNTTerminalViewController::exportContents(QObject *) {
    beep(); // a transcript has nothing to export
}

bool ZNTTerminalViewController::validateMenuItem(ZNTWindowCommand, QAction *) {
    return true;
}

QList<QAction *> ZNTTerminalViewController::editMenuActions() {
    view();
    return m_editActions;
}

bool ZNTTerminalViewController::validateEditMenuAction(QAction *action) {
    if (!action || !m_view)
        return false;
    auto *text = qobject_cast<QTextEdit *>(workingFocusWidget(m_view));
    const bool textFocused = text && m_view->isAncestorOf(text);
    const bool rowsSelected = !selectedRowIndicesForTerminalResult(nullptr).isEmpty();
    if (CommandTag(action->data().toInt()) == CommandTag::Copy)
        return textFocused ? text->textCursor().hasSelection() : rowsSelected;
    return rowsSelected;
}
