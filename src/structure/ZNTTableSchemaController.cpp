// The structure page: how it is made, its views, and the capabilities the
// window asks of it. Building and recording live in
// ZNTTableSchemaControllerModel.cpp, saving and leaving in
// ZNTTableSchemaControllerSaving.cpp.
#include "ZNTTableSchemaController.h"

#include "ZNTTableSchemaColumnsView.h"
#include "ZNTTableSchemaFields.h"
#include "model/ZNTObjectQuery.h"
#include "model/ZNTTable.h"
#include "model/ZNTTableMetadata.h"
#include "model/ZNTTableSchema.h"
#include "platform/ProgramError.h"
#include "uikit/BarButtons.h"
#include "uikit/Beep.h"
#include "uikit/LineEditLength.h"
#include "uikit/WindowEditing.h"
#include "uikit/ZNTBottomBarView.h"
#include "uikit/ZNTSaveBarView.h"
#include "window/ZNTActionRoute.h"

#include <QComboBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSplitter>
#include <QUndoStack>
#include <QVBoxLayout>

namespace {
QLabel *formLabel(const QString &title, QWidget *buddy) {
    auto *label = new QLabel(title);
    label->setBuddy(buddy);
    return label;
}
} // namespace

ZNTTableSchemaController *ZNTTableSchemaController::viewControllerForItem(const std::shared_ptr<ZNTObject> &item) {
    auto structure = std::dynamic_pointer_cast<ZNTTableSchema>(item);
    if (!structure)
        throw ProgramError("InvalidClass",
                           QStringLiteral("Argument to [ZNTTableSchemaController viewControllerForItem:] is not of "
                                          "class ZNTTableSchema: %1")
                               .arg(item ? item->name() : QStringLiteral("(null)"))
                               .toStdString());
    return new ZNTTableSchemaController(structure);
}

ZNTTableSchemaController::ZNTTableSchemaController(const std::shared_ptr<ZNTTableSchema> &item, QObject *parent)
    : ZNTContentController(parent), m_table(item->table()) {}

ZNTTableSchemaController::~ZNTTableSchemaController() {
    m_structureObserver.stopObserving();
    m_schemaObserver.stopObserving();
    m_tablespaceObserver.stopObserving();
    m_saveObserver.stopObserving();
    if (m_schemaQuery)
        m_schemaQuery->cancel();
    if (m_tablespaceQuery)
        m_tablespaceQuery->cancel();
    // The rows report to the page until they go.
    if (m_columnsView) {
        for (ZNTTableSchemaColumnView *row : m_columnsView->rows())
            row->setDelegate(nullptr);
    }
    // What the window showed of this page and only detached.
    delete m_accessoryView.data();
}

QWidget *ZNTTableSchemaController::pageView() {
    return view();
}

QWidget *ZNTTableSchemaController::makeView() {
    buildUi();
    connectActions();
    awake();
    return m_view;
}

// --- Views ----------------------------------------------------------------------

void ZNTTableSchemaController::buildUi() {
    m_view = new ZNTControlledView;
    m_view->setObjectName(QStringLiteral("structurePage"));
    m_view->setViewController(this);
    m_undoStack = new QUndoStack(this);
    auto *page = new QVBoxLayout(m_view);
    page->setContentsMargins(0, 0, 0, 0);
    page->setSpacing(0);
    buildForm();
    page->addWidget(m_formArea);
    m_loadErrorLabel = new QLabel;
    m_loadErrorLabel->setObjectName(QStringLiteral("loadErrorLabel"));
    m_loadErrorLabel->setTextFormat(Qt::PlainText);
    m_loadErrorLabel->setWordWrap(true);
    m_loadErrorLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_loadErrorLabel->setContentsMargins(14, 8, 14, 8);
    m_loadErrorLabel->hide();
    page->addWidget(m_loadErrorLabel);
    m_splitter = new QSplitter(Qt::Vertical);
    m_splitter->setChildrenCollapsible(false);
    if (m_viewDefinitionField) {
        auto *box = new QWidget;
        auto *layout = new QVBoxLayout(box);
        layout->setContentsMargins(12, 0, 12, 6);
        layout->addWidget(formLabel(QStringLiteral("Defin&ition:"), m_viewDefinitionField));
        layout->addWidget(m_viewDefinitionField);
        m_splitter->addWidget(box);
    }
    m_columnsView = new ZNTTableSchemaColumnsView;
    m_scrollView = new QScrollArea;
    m_scrollView->setObjectName(QStringLiteral("scrollView"));
    m_scrollView->setFrameShape(QFrame::NoFrame);
    m_scrollView->setWidgetResizable(true);
    // The area shows no focus and Tab goes on to the rows in it; it still
    // scrolls each row's control into sight as Tab reaches it.
    m_scrollView->setFocusPolicy(Qt::NoFocus);
    m_scrollView->setWidget(m_columnsView);
    m_splitter->addWidget(m_scrollView);
    m_splitter->setStretchFactor(m_splitter->count() - 1, 2);
    page->addWidget(m_splitter, 1);
    m_saveBarContainer = new QVBoxLayout;
    m_saveBarContainer->setContentsMargins(0, 1, 0, 0);
    page->addLayout(m_saveBarContainer);
    buildAccessoryView();
}

void ZNTTableSchemaController::buildForm() {
    m_formArea = new QWidget;
    m_formArea->setObjectName(QStringLiteral("structureForm"));
    m_tableNameField = new QLineEdit;
    uv_showStoredValue(m_tableNameField);
    m_tableNameField->setObjectName(QStringLiteral("tableNameField"));
    // A narrow window squeezes the pop-ups beside it no further than the name.
    m_tableNameField->setMinimumWidth(m_tableNameField->fontMetrics().horizontalAdvance(QString(10, QLatin1Char('x'))));
    m_tableSchemaPopup = new QComboBox;
    m_tableSchemaPopup->setObjectName(QStringLiteral("tableSchemaPopup"));
    m_tableSchemaPopup->setMinimumContentsLength(8);
    auto *grid = new QGridLayout(m_formArea);
    grid->setContentsMargins(12, 10, 12, 8);
    grid->addWidget(formLabel(QStringLiteral("&Name:"), m_tableNameField), 0, 0);
    grid->addWidget(m_tableNameField, 0, 1);
    grid->addWidget(formLabel(QStringLiteral("Sche&ma:"), m_tableSchemaPopup), 0, 2);
    grid->addWidget(m_tableSchemaPopup, 0, 3);
    // A view keeps no rows, so it has no tablespace.
    if (m_table->type() != ZNTTable::ZNTTableTypeView) {
        m_tableTablespacePopup = new QComboBox;
        m_tableTablespacePopup->setObjectName(QStringLiteral("tableTablespacePopup"));
        m_tableTablespacePopup->setMinimumContentsLength(8);
        grid->addWidget(formLabel(QStringLiteral("Tab&lespace:"), m_tableTablespacePopup), 0, 4);
        grid->addWidget(m_tableTablespacePopup, 0, 5);
    }
    m_tableCommentField = new QLineEdit;
    uv_showStoredValue(m_tableCommentField);
    m_tableCommentField->setObjectName(QStringLiteral("tableCommentField"));
    grid->addWidget(formLabel(QStringLiteral("&Comment:"), m_tableCommentField), 1, 0);
    grid->addWidget(m_tableCommentField, 1, 1, 1, 5);
    grid->setColumnStretch(1, 1);
    if (m_table->type() != ZNTTable::ZNTTableTypeTable) {
        m_viewDefinitionField = new QPlainTextEdit;
        m_viewDefinitionField->setObjectName(QStringLiteral("viewDefinitionField"));
        m_viewDefinitionField->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
        m_viewDefinitionField->setTabChangesFocus(true);
        m_viewDefinitionField->setLineWrapMode(QPlainTextEdit::NoWrap);
        m_viewDefinitionTracker = new ZNTEditingTracker(m_viewDefinitionField);
    }
}

void ZNTTableSchemaController::buildAccessoryView() {
    m_accessoryView = new ZNTBottomBarView;
    m_accessoryView->setObjectName(QStringLiteral("structureAccessoryView"));
    m_switcher = new ZNTTerminalSegmentedControl(ZNTTerminalSegmentedControl::Tracking::SelectOne);
    m_switcher->setObjectName(QStringLiteral("structureContentsSwitcher"));
    m_switcher->addSegment(QStringLiteral("Contents"), QIcon(), QStringLiteral("The table's rows"));
    m_switcher->addSegment(QStringLiteral("Structure"), QIcon(), QStringLiteral("The table's columns and constraints"));
    m_switcher->setSelected(1, true);
    auto *bar = new QHBoxLayout(m_accessoryView);
    bar->setContentsMargins(8, 4, 8, 3);
    bar->setSpacing(8);
    bar->addWidget(m_switcher);
    bar->addStretch(1);
    // A view's columns come from its definition.
    if (m_table->type() == ZNTTable::ZNTTableTypeTable) {
        m_addColumnButton = new QPushButton(QStringLiteral("Add Col&umn"));
        m_addColumnButton->setObjectName(QStringLiteral("addColumnButton"));
        bar->addWidget(m_addColumnButton);
    }
}

void ZNTTableSchemaController::connectActions() {
    auto *nameTracker = new ZNTEditingTracker(m_tableNameField);
    auto *commentTracker = new ZNTEditingTracker(m_tableCommentField);
    for (ZNTEditingTracker *tracker : {nameTracker, commentTracker, m_viewDefinitionTracker}) {
        if (!tracker)
            continue;
        connect(tracker, &ZNTEditingTracker::didBeginEditing, this, [this] { setHasChanges(true); });
        connect(tracker, &ZNTEditingTracker::didEndEditing, this, [this] { updateModel(); });
    }
    for (QComboBox *popup : {m_tableSchemaPopup, m_tableTablespacePopup}) {
        if (popup)
            connect(popup, &QComboBox::activated, this, [this] { updateModel(); });
    }
    connect(m_switcher, &ZNTTerminalSegmentedControl::segmentClicked, this, [this](int segment) {
        if (segment != 1)
            toggleStructureAndContents(m_switcher);
    });
    if (m_addColumnButton)
        connect(m_addColumnButton, &QPushButton::clicked, this, [this] { addColumn(); });
    connect(m_undoStack, &QUndoStack::indexChanged, this, [this] { emit validationRequested(); });
}

// --- Capabilities -----------------------------------------------------------------

QWidget *ZNTTableSchemaController::accessoryView() {
    pageView();
    return m_accessoryView;
}

QUndoStack *ZNTTableSchemaController::customUndoManager() {
    pageView();
    return isSaving() ? nullptr : m_undoStack;
}

void ZNTTableSchemaController::toggleStructureAndContents(QObject *sender) {
    if (sender == m_switcher)
        m_switcher->setSelected(1, true);
    if (!m_table->hasName()) {
        beep(); // a relation not created yet has no rows to show
        return;
    }
    if (!sendAction(pageView(), ZNTActionName::navigateToItem, std::shared_ptr<ZNTObject>(m_table)))
        beep();
}

QList<ZNTTableSchemaColumnView *> ZNTTableSchemaController::columnViews() const {
    return m_columnsView ? m_columnsView->rows() : QList<ZNTTableSchemaColumnView *>();
}

bool ZNTTableSchemaController::makePageFirstResponder() {
    if (!m_view)
        return true;
    QWidget *window = m_view->window();
    QWidget *focus = window->focusWidget();
    if (!focus || !m_view->isAncestorOf(focus))
        return true;
    if (!uv_endEditing(window))
        return false;
    m_view->setFocus(Qt::OtherFocusReason);
    return true;
}

void ZNTTableSchemaController::setSaving(bool saving) {
    if (m_saveBar)
        m_saveBar->setBusy(saving);
    m_formArea->setEnabled(!saving && !m_loadFailed);
    m_splitter->setEnabled(!saving && !m_loadFailed);
    if (m_addColumnButton)
        m_addColumnButton->setEnabled(!saving && !m_loadFailed);
    emit validationRequested();
}
