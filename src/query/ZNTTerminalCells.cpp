#include "ZNTTerminalCells.h"

#include "ZNTTerminalQuery.h"
#include "uikit/BarButtons.h"
#include "uikit/DrawnIcon.h"
#include "uikit/ZNTAnimatingIndicator.h"
#include "uikit/ZNTMenuWithOwner.h"
#include "uikit/ZNTTextView.h"
#include "window/ToolbarIcons.h"

#include <QEvent>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QToolButton>

// --- result type images -----------------------------------------------------------

namespace TerminalResultImages {
namespace {

enum class Kind { Success, Notice, Error };

// A filled disc of colour with a white mark, in a 16-point design.
QImage render(Kind kind, const QSize &pixels, QIcon::Mode mode) {
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    if (pixels.isEmpty())
        return image;
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(pixels.width() / 16.0, pixels.height() / 16.0);
    if (mode == QIcon::Disabled)
        p.setOpacity(0.5);
    const QColor disc = kind == Kind::Success  ? QColor(52, 168, 83)
                        : kind == Kind::Notice ? QColor(66, 133, 244)
                                               : QColor(217, 48, 37);
    p.setPen(Qt::NoPen);
    p.setBrush(disc);
    p.drawEllipse(QRectF(1, 1, 14, 14));
    QPen mark(Qt::white, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(mark);
    p.setBrush(Qt::NoBrush);
    QPainterPath path;
    switch (kind) {
    case Kind::Success:
        path.moveTo(4.6, 8.3);
        path.lineTo(7.0, 10.7);
        path.lineTo(11.4, 5.6);
        break;
    case Kind::Notice:
        path.moveTo(8, 7.2);
        path.lineTo(8, 11.6);
        p.setBrush(Qt::white);
        p.setPen(Qt::NoPen);
        p.drawEllipse(QPointF(8, 4.7), 1.1, 1.1);
        p.setPen(mark);
        break;
    case Kind::Error:
        path.moveTo(5.4, 5.4);
        path.lineTo(10.6, 10.6);
        path.moveTo(10.6, 5.4);
        path.lineTo(5.4, 10.6);
        break;
    }
    p.drawPath(path);
    return image;
}

QIcon make(Kind kind) {
    return DrawnIcon::icon([kind](const QSize &pixels, QIcon::Mode mode) { return render(kind, pixels, mode); },
                           QStringLiteral("TrellanResultType%1").arg(int(kind)), QSizeF(16, 16));
}

} // namespace

QIcon icon(const QString &resultType) {
    static const QIcon success = make(Kind::Success);
    static const QIcon notice = make(Kind::Notice);
    static const QIcon error = make(Kind::Error);
    if (resultType == QLatin1String("success"))
        return success;
    if (resultType == QLatin1String("notice"))
        return notice;
    if (resultType == QLatin1String("error"))
        return error;
    return QIcon();
}

} // namespace TerminalResultImages

namespace {

QHBoxLayout *barLayout(QWidget *bar) {
    auto *row = new QHBoxLayout(bar);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    return row;
}

QFont fixedFont(bool bold) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setBold(bold);
    return font;
}

} // namespace

// --- editable query ---------------------------------------------------------------

ZNTTerminalEditableQueryView::ZNTTerminalEditableQueryView(QWidget *parent)
    : ZNTTextViewCell(parent, {defaultTextFieldMinHeight(), defaultTextFieldInsets()}) {
    buildUi();
}

void ZNTTerminalEditableQueryView::buildUi() {
    setObjectName(QStringLiteral("editableQueryView"));
    ZNTTextView *text = textView();
    text->setObjectName(QStringLiteral("editableQueryTextView"));
    text->setAccessibleName(QStringLiteral("SQL"));
    text->setReadOnly(false);
    text->setTextInteractionFlags(Qt::TextEditorInteraction);
    text->setUndoRedoEnabled(true);
    text->setTabChangesFocus(false);
    text->setTabStopDistance(4 * text->fontMetrics().horizontalAdvance(u' '));
    text->setFocusPolicy(Qt::StrongFocus);
    text->installEventFilter(this);

    m_topBar = new QWidget(this);
    m_historyPagerControl = new ZNTTerminalSegmentedControl(ZNTTerminalSegmentedControl::Tracking::Momentary, m_topBar);
    m_historyPagerControl->setObjectName(QStringLiteral("historyPagerControl"));
    m_historyPagerControl->addSegment(QString(), ToolbarIcons::icon(ToolbarIcons::Shape::Back),
                                      QStringLiteral("Previous Query in the History (Ctrl+Up)"));
    m_historyPagerControl->addSegment(QString(), ToolbarIcons::icon(ToolbarIcons::Shape::Forward),
                                      QStringLiteral("Next Query in the History (Ctrl+Down)"));
    m_loadButton = ZNTTerminalButton::withText(QStringLiteral("loadButton"), QStringLiteral("Load…"),
                                               QStringLiteral("Load a query from a file (Ctrl+O)"));
    m_saveButton = ZNTTerminalButton::withText(QStringLiteral("saveButton"), QStringLiteral("Save…"),
                                               QStringLiteral("Save the query to a file (Ctrl+S)"));
    m_clearDisplayButton =
        ZNTTerminalButton::withText(QStringLiteral("clearDisplayButton"), QStringLiteral("Clear Display"),
                                    QStringLiteral("Remove every query that has run from the transcript"));
    QHBoxLayout *top = barLayout(m_topBar);
    top->addWidget(m_historyPagerControl);
    top->addStretch(1);
    top->addWidget(m_loadButton);
    top->addWidget(m_saveButton);
    top->addWidget(m_clearDisplayButton);

    m_bottomBar = new QWidget(this);
    m_executeButton =
        ZNTTerminalButton::withText(QStringLiteral("executeButton"), QStringLiteral("Execute Query"),
                                    QStringLiteral("Run the query, or the selected part of it (Ctrl+Return)"));
    QHBoxLayout *bottom = barLayout(m_bottomBar);
    bottom->addStretch(1);
    bottom->addWidget(m_executeButton);
}

void ZNTTerminalEditableQueryView::setQuery(const std::shared_ptr<ZNTTerminalQuery> &query) {
    if (m_query == query)
        return;
    m_query = query;
    if (query)
        setObjectValue(query->string);
    refresh();
}

void ZNTTerminalEditableQueryView::refresh() {
    // A busy query's text stays as it ran.
    textView()->setReadOnly(m_query && m_query->isBusy);
}

void ZNTTerminalEditableQueryView::resizeEvent(QResizeEvent *event) {
    ZNTTextViewCell::resizeEvent(event);
    const QMarginsF insets = textFieldInsets();
    const int side = int(insets.left()) - 2;
    const int barHeight = 26;
    m_topBar->setGeometry(side, (int(insets.top()) - barHeight) / 2 - 2, width() - 2 * side, barHeight);
    m_bottomBar->setGeometry(side, height() - int(insets.bottom()) + (int(insets.bottom()) - barHeight) / 2 + 2,
                             width() - 2 * side, barHeight);
}

// The text view shows no frame of its own: the box around it is drawn here,
// a little larger, like a text field in the palette's colours, with the
// focus colour while it has the keys.
void ZNTTerminalEditableQueryView::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF box = textFieldFrame().adjusted(-4, -5, 4, 5);
    const bool focused = textView()->hasFocus();
    QColor border = palette().color(QPalette::Text);
    border.setAlphaF(textView()->isReadOnly() ? 0.15f : 0.3f);
    painter.setBrush(palette().color(QPalette::Base));
    painter.setPen(QPen(focused ? palette().color(QPalette::Highlight) : border, focused ? 2.0 : 1.0));
    painter.drawRoundedRect(box.adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
}

bool ZNTTerminalEditableQueryView::eventFilter(QObject *watched, QEvent *event) {
    if (watched == textView()) {
        if (event->type() == QEvent::FocusIn) {
            textviewDidBeginEditing();
            update();
        } else if (event->type() == QEvent::FocusOut) {
            textviewDidEndEditing();
            update();
        }
    }
    return ZNTTextViewCell::eventFilter(watched, event);
}

void ZNTTerminalEditableQueryView::textviewDidBeginEditing() {
    m_editing = true;
}

// The query keeps the text when the editing ends.
void ZNTTerminalEditableQueryView::textviewDidEndEditing() {
    if (m_editing && m_query)
        m_query->string = textView()->document()->toRawText().replace(QChar::ParagraphSeparator, u'\n');
    m_editing = false;
}

// --- executed query ---------------------------------------------------------------

ZNTTerminalExecutedQueryCell::ZNTTerminalExecutedQueryCell(QWidget *parent)
    : ZNTTextViewCell(parent, {defaultTextFieldMinHeight(), defaultTextFieldInsets()}) {
    buildUi();
}

void ZNTTerminalExecutedQueryCell::buildUi() {
    setObjectName(QStringLiteral("executedQueryCell"));
    textView()->setObjectName(QStringLiteral("executedQueryTextView"));
    textView()->setFont(fixedFont(true));
    textView()->setUndoRedoEnabled(false);
    textView()->setFocusPolicy(Qt::ClickFocus);

    m_topBar = new QWidget(this);
    m_progressIndicator = new ZNTAnimatingIndicator;
    m_progressIndicator->stopAnimation();
    m_statusLabel = new QLabel;
    m_statusLabel->setObjectName(QStringLiteral("statusLabel"));
    m_statusLabel->setTextFormat(Qt::PlainText);
    m_statusLabel->setForegroundRole(QPalette::PlaceholderText);
    m_executeButton = ZNTTerminalButton::withText(QStringLiteral("runAgainButton"), QStringLiteral("Run Again"),
                                                  QStringLiteral("Run this query again in its place (Ctrl+Return)"));
    m_cancelButton = ZNTTerminalButton::withText(QStringLiteral("cancelButton"), QStringLiteral("Cancel"),
                                                 QStringLiteral("Cancel the running query"));
    m_actionButton = ZNTTerminalButton::withText(QStringLiteral("queryActionButton"), QStringLiteral("More"),
                                                 QStringLiteral("Save or clear this query"));
    m_actionButton->setPopupMode(QToolButton::InstantPopup);
    m_rowMenu = new ZNTMenuWithOwner(this);
    m_rowMenu->setObjectName(QStringLiteral("queryRowMenu"));
    m_rowMenu->setOwner(this);
    m_saveAction = m_rowMenu->addAction(QStringLiteral("&Save Query…"));
    m_clearAction = m_rowMenu->addAction(QStringLiteral("&Clear Query"));
    m_actionButton->setMenu(m_rowMenu);
    QHBoxLayout *top = barLayout(m_topBar);
    top->addWidget(m_progressIndicator);
    top->addWidget(m_statusLabel, 1);
    top->addWidget(m_executeButton);
    top->addWidget(m_cancelButton);
    top->addWidget(m_actionButton);

    m_queryStateLabel = new QLabel(this);
    m_queryStateLabel->setObjectName(QStringLiteral("queryStateLabel"));
    m_queryStateLabel->setTextFormat(Qt::PlainText);
    m_queryStateLabel->setForegroundRole(QPalette::PlaceholderText);
}

void ZNTTerminalExecutedQueryCell::setQuery(const std::shared_ptr<ZNTTerminalQuery> &query) {
    if (m_query != query) {
        m_query = query;
        setObjectValue(query ? query->string : QString());
    }
    refresh();
}

void ZNTTerminalExecutedQueryCell::refresh() {
    const bool busy = m_query && m_query->isBusy;
    if (busy)
        m_progressIndicator->startAnimation();
    else
        m_progressIndicator->stopAnimation();
    m_statusLabel->setText(m_query ? m_query->statusText : QString());
    m_queryStateLabel->setText(m_query && !busy ? m_query->queryState : QString());
    m_executeButton->setEnabled(!busy);
    m_cancelButton->setEnabled(m_query && m_query->canCancel);
    m_clearAction->setText(busy ? QStringLiteral("&Cancel and Clear Query") : QStringLiteral("&Clear Query"));
}

void ZNTTerminalExecutedQueryCell::resizeEvent(QResizeEvent *event) {
    ZNTTextViewCell::resizeEvent(event);
    const QMarginsF insets = textFieldInsets();
    const int side = int(insets.left()) - 2;
    m_topBar->setGeometry(side, 3, width() - 2 * side, 24);
    const QRectF text = textFieldFrame();
    m_queryStateLabel->setGeometry(int(insets.left()) + 2, int(text.top()) + textView()->height() + 8,
                                   width() - int(insets.left() + insets.right()), 20);
}

// A faint line above each query parts the transcript into its runs.
void ZNTTerminalExecutedQueryCell::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    QColor line = palette().color(QPalette::Text);
    line.setAlphaF(0.12f);
    painter.fillRect(QRect(0, 0, width(), 1), line);
}

// --- result without rows ----------------------------------------------------------

ZNTIconAndTextViewCell::ZNTIconAndTextViewCell(QWidget *parent)
    : ZNTTextViewCell(parent, {defaultTextFieldMinHeight(), defaultTextFieldInsets()}) {
    setObjectName(QStringLiteral("resultMessageCell"));
    textView()->setObjectName(QStringLiteral("resultMessageTextView"));
    textView()->setFocusPolicy(Qt::ClickFocus);
    m_imageView = new QLabel(this);
    m_imageView->setObjectName(QStringLiteral("resultTypeImage"));
    // Level with the first line of the text (the text view keeps a margin of its own).
    m_imageView->setGeometry(14, 7, 16, 16);
}

void ZNTIconAndTextViewCell::setResult(const std::shared_ptr<ZNTTerminalResult> &result) {
    m_result = result;
    // A server's message is text: the text view takes it as plain text.
    setObjectValue(result ? result->string() : QString());
    const QIcon image = result ? TerminalResultImages::icon(result->result()->resultType()) : QIcon();
    m_imageView->setPixmap(image.isNull() ? QPixmap() : image.pixmap(QSize(16, 16), devicePixelRatioF()));
}
