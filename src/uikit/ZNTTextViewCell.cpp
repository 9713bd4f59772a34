#include "ZNTTextViewCell.h"

#include "ZNTTextView.h"
#include "engine/Value.h"

#include <QAbstractTextDocumentLayout>
#include <QFontDatabase>

ZNTTextViewCell::ZNTTextViewCell(QWidget *parent)
    : ZNTTextViewCell(parent, {defaultTextFieldMinHeight(), defaultTextFieldInsets()}) {}

ZNTTextViewCell::ZNTTextViewCell(QWidget *parent, const Metrics &metrics) : QWidget(parent), m_metrics(metrics) {
    buildUi();
}

ZNTTextViewCell::~ZNTTextViewCell() {
    removeTextViewObservers();
}

void ZNTTextViewCell::buildUi() {
    m_textView = new ZNTTextView(this);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    m_textView->setFont(mono);
    m_textView->setFrameShape(QFrame::NoFrame);
    m_textView->viewport()->setAutoFillBackground(false);
    m_textView->setAutoFillBackground(false);
    m_textView->setReadOnly(true);
    m_textView->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_textView->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_textView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_textView->setMinimumSize(50, int(m_metrics.minHeight));
    // Below everything else of the row, so that buttons stay on top of it.
    m_textView->lower();
    connect(m_textView->document()->documentLayout(), &QAbstractTextDocumentLayout::documentSizeChanged, this,
            &ZNTTextViewCell::placeTextView);
    connect(m_textView->document(), &QTextDocument::documentLayoutChanged, this, [this] {
        connect(m_textView->document()->documentLayout(), &QAbstractTextDocumentLayout::documentSizeChanged, this,
                &ZNTTextViewCell::placeTextView);
        placeTextView();
    });
    connect(m_textView, &ZNTTextView::frameChanged, this, &ZNTTextViewCell::preferredHeightChanged);
    placeTextView();
}

QRectF ZNTTextViewCell::textFieldFrame() const {
    const QMarginsF &i = m_metrics.insets;
    return QRectF(i.left(), i.top(), width() - i.left() - i.right(), height() - i.top() - i.bottom());
}

// The text view keeps its distance from the top and follows the cell's width;
// its height is its text's, never less than the minimum.
void ZNTTextViewCell::placeTextView() {
    const QRectF frame = textFieldFrame();
    const qreal textHeight = m_textView->document()->size().height();
    const int h = int(std::ceil(std::max(m_metrics.minHeight, textHeight)));
    const QRect target(int(frame.x()), int(frame.y()), std::max(50, int(frame.width())), h);
    if (m_textView->geometry() != target)
        m_textView->setGeometry(target);
}

void ZNTTextViewCell::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    placeTextView();
}

qreal ZNTTextViewCell::preferredHeight() const {
    const qreal h = m_textView ? m_textView->height() : 0;
    return h + m_metrics.insets.top() + m_metrics.insets.bottom();
}

void ZNTTextViewCell::setTextFieldInsets(const QMarginsF &insets) {
    m_metrics.insets = insets;
    placeTextView();
}

void ZNTTextViewCell::setObjectValue(const QVariant &value) {
    m_objectValue = value;
    if (!value.isValid())
        return;
    QString text;
    if (value.metaType() == QMetaType::fromType<QString>())
        text = value.toString();
    else if (value.metaType() == QMetaType::fromType<Value>())
        text = value.value<Value>().description();
    else
        text = value.toString();
    m_textView->setPlainText(text);
}

void ZNTTextViewCell::addTextViewObserver(QObject *receiver) {
    if (receiver && !textViewObservers().contains(receiver))
        m_observers.append(receiver);
}

void ZNTTextViewCell::addTextViewObserver(ObserverToken token) {
    m_tokens.push_back(std::move(token));
}

QList<QObject *> ZNTTextViewCell::textViewObservers() const {
    QList<QObject *> live;
    for (const QPointer<QObject> &o : m_observers)
        if (o)
            live.append(o);
    return live;
}

void ZNTTextViewCell::removeTextViewObservers() {
    for (QObject *receiver : textViewObservers()) {
        disconnect(this, nullptr, receiver, nullptr);
        if (m_textView)
            m_textView->disconnect(receiver);
    }
    m_observers.clear();
    m_tokens.clear();
}
