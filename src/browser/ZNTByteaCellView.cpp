#include "ZNTByteaCellView.h"

#include "ZNTColumnNameLabel.h"

#include "ZNTColumnNameLabel.h"

#include "engine/ZNTColumn.h"
#include "platform/Main.h"
#include "platform/NotificationCenter.h"
#include "platform/SerialQueue.h"
#include "uikit/AlertSheet.h"
#include "uikit/Beep.h"
#include "uikit/BlockObservers.h"
#include "uikit/SheetFocus.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QStyle>
#include <QToolButton>

namespace {
constexpr int kMargin = 10;
constexpr int kButtonTop = 2;
constexpr int kInfoTop = 30;
constexpr int kImageTop = 55;
constexpr int kIconSize = 32;

// File transfers of the bytea cells, one after the other, off the GUI thread.
SerialQueue &fileQueue() {
    static SerialQueue queue("Bytea file queue");
    return queue;
}

QIcon iconForMimeType(const QString &mimeType, const QStyle *style) {
    for (const QString &name : ZNTByteaValue::iconNamesForMimeType(mimeType)) {
        const QIcon icon = QIcon::fromTheme(name);
        if (!icon.isNull())
            return icon;
    }
    return style->standardIcon(QStyle::SP_FileIcon);
}
} // namespace

ZNTByteaCellView::ZNTByteaCellView(QWidget *parent) : QWidget(parent) {
    buildUi();
    connectActions();
}

ZNTByteaCellView::~ZNTByteaCellView() {
    if (m_load)
        m_load->store(true);
}

void ZNTByteaCellView::buildUi() {
    m_nameLabel = new ZNTColumnNameLabel(this);
    m_titleLabel = new QLabel(this);
    m_sizeLabel = new QLabel(this);
    for (QLabel *label : {m_titleLabel, m_sizeLabel})
        label->setTextFormat(Qt::PlainText);
    m_sizeLabel->setForegroundRole(QPalette::PlaceholderText);
    // Icons keep the buttons narrow enough for a narrow sidebar; the words are
    // in their tool tips and accessible names.
    m_loadButton = new QToolButton(this);
    m_saveButton = new QToolButton(this);
    m_saveButton->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
    m_saveButton->setText(QStringLiteral("Save…"));
    m_saveButton->setToolTip(QStringLiteral("Save the value as a file"));
    for (QToolButton *button : {m_loadButton, m_saveButton}) {
        button->setToolButtonStyle(Qt::ToolButtonIconOnly);
        button->setAccessibleName(button->text());
    }
    m_nullButton = new QToolButton(this);
    m_nullButton->setText(QStringLiteral("NULL"));
    m_nullButton->setToolTip(QStringLiteral("Set the value to NULL"));
    for (QToolButton *button : {m_loadButton, m_saveButton, m_nullButton})
        button->setFocusPolicy(Qt::StrongFocus);
    updateButtons();
}

void ZNTByteaCellView::connectActions() {
    connect(m_loadButton, &QToolButton::clicked, this, [this] {
        if (isLoading())
            cancelLoading();
        else
            chooseFile();
    });
    connect(m_saveButton, &QToolButton::clicked, this, [this] { exportFile(); });
    connect(m_nullButton, &QToolButton::clicked, this, &ZNTByteaCellView::makeNull);
}

void ZNTByteaCellView::setColumn(const std::shared_ptr<ZNTColumn> &column) {
    m_column = column;
    m_nameLabel->setText(column ? column->name() : QString());
}

void ZNTByteaCellView::setObjectValue(const Value &value) {
    ++m_generation;
    cancelLoading(); // a file read for the value before has no place here
    m_value = value;
    m_display = ZNTByteaValue::displayOf(value);
    m_image = m_display.isData ? QImage::fromData(value.toBytes()) : QImage();
    m_icon = m_display.isData && m_image.isNull() ? iconForMimeType(m_display.type.mimeType, style()) : QIcon();
    m_titleLabel->setText(m_display.title);
    m_sizeLabel->setText(m_display.size);
    updateButtons();
    placeViews();
    update();
}

void ZNTByteaCellView::setEditable(bool editable) {
    m_editable = editable;
    updateButtons();
}

void ZNTByteaCellView::updateButtons() {
    // While a file loads, the load button stops it.
    const bool loading = isLoading();
    m_loadButton->setIcon(style()->standardIcon(loading ? QStyle::SP_BrowserStop : QStyle::SP_DialogOpenButton));
    m_loadButton->setText(loading ? QStringLiteral("Stop Loading") : QStringLiteral("Load…"));
    m_loadButton->setAccessibleName(m_loadButton->text());
    m_loadButton->setToolTip(loading ? QStringLiteral("Stop loading the file")
                                     : QStringLiteral("Load the value from a file"));
    m_loadButton->setEnabled(loading || m_editable);
    m_nullButton->setEnabled(m_editable && !loading && !m_value.isNull());
    m_saveButton->setEnabled(m_display.isData);
}

QList<QWidget *> ZNTByteaCellView::keyViews() const {
    return {m_loadButton, m_saveButton, m_nullButton};
}

QSizeF ZNTByteaCellView::previewSize() const {
    if (!m_image.isNull())
        return m_image.deviceIndependentSize();
    if (!m_icon.isNull())
        return QSizeF(kIconSize, kIconSize);
    return QSizeF();
}

qreal ZNTByteaCellView::preferredHeight() const {
    return ZNTByteaValue::preferredHeight(previewSize(), m_imageFrame.width());
}

// The column's name with the buttons beside it, the type and size under them,
// the preview below, scaled down to the cell's width.
void ZNTByteaCellView::placeViews() {
    const QFontMetrics metrics(font());
    int right = width() - kMargin;
    for (QToolButton *button : {m_nullButton, m_saveButton, m_loadButton}) {
        const QSize hint = button->sizeHint();
        right -= hint.width();
        button->setGeometry(right, kButtonTop, hint.width(), hint.height());
        right -= 4;
    }
    const int lineHeight = m_loadButton->sizeHint().height();
    m_nameLabel->setGeometry(6, kButtonTop, std::max(0, right - 6), lineHeight);
    const int available = std::max(0, width() - 2 * kMargin);
    const int titleWidth = std::min(metrics.horizontalAdvance(m_display.title) + 8, available);
    m_titleLabel->setGeometry(kMargin, kInfoTop, titleWidth, metrics.height());
    m_sizeLabel->setGeometry(kMargin + titleWidth, kInfoTop, available - titleWidth, metrics.height());
    const QRect before = m_imageFrame;
    const int previewWidth = std::max(1, width() - 2 * kMargin);
    const qreal previewHeight =
        ZNTByteaValue::preferredHeight(previewSize(), previewWidth) - ZNTByteaValue::kHeightWithoutPreview;
    m_imageFrame = QRect(kMargin, kImageTop, previewWidth, int(previewHeight));
    if (m_imageFrame != before)
        post(ZNTRowHeightChanged);
}

void ZNTByteaCellView::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    placeViews();
}

void ZNTByteaCellView::paintEvent(QPaintEvent *) {
    if (m_imageFrame.height() <= 0)
        return;
    QPainter painter(this);
    if (!m_image.isNull()) {
        const QSizeF size = m_image.deviceIndependentSize();
        const qreal scale = std::min<qreal>(1, m_imageFrame.width() / size.width());
        const QRectF target(m_imageFrame.topLeft(), size * scale);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
        painter.drawImage(target, m_image);
    } else if (!m_icon.isNull()) {
        m_icon.paint(&painter, QRect(m_imageFrame.topLeft(), QSize(kIconSize, kIconSize)),
                     Qt::AlignLeft | Qt::AlignTop);
    }
}

void ZNTByteaCellView::post(const QString &name) {
    NotificationCenter::defaultCenter().post(name, unownedObject(static_cast<QWidget *>(this)));
}

void ZNTByteaCellView::showError(const ErrorPtr &error) {
    Alert *alert = Alert::alertWithError(*error);
    alert->compatibleBeginSheetModalForWindow(window(), nullptr);
}

void ZNTByteaCellView::makeNull() {
    ++m_generation;
    m_value = Value::null();
    setObjectValue(m_value);
    post(ZNTRowValueChanged);
}

// Window-modal panels, made for each use and gone when they close.
static QFileDialog *makePanel(QWidget *cell, const QString &title, QFileDialog::AcceptMode mode) {
    auto *panel = new QFileDialog(cell->window(), title);
    panel->setOption(QFileDialog::DontUseNativeDialog);
    panel->setAcceptMode(mode);
    panel->setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    panel->setAttribute(Qt::WA_DeleteOnClose);
    panel->setWindowModality(Qt::WindowModal);
    return panel;
}

QFileDialog *ZNTByteaCellView::chooseFile() {
    if (!m_editable || isLoading() || m_panel) {
        beep();
        return nullptr;
    }
    QFileDialog *panel = makePanel(this, QStringLiteral("Load File"), QFileDialog::AcceptOpen);
    const quint64 generation = m_generation;
    QPointer<ZNTByteaCellView> guard(this);
    connect(panel, &QFileDialog::fileSelected, this, [guard, generation](const QString &path) {
        // The cell may show another row by now.
        if (guard && guard->m_generation == generation)
            guard->loadFile(path);
    });
    m_panel = panel;
    uv_returnFocusAfterSheet(panel);
    panel->open();
    return panel;
}

QFileDialog *ZNTByteaCellView::exportFile() {
    if (!m_display.isData || m_panel) {
        beep();
        return nullptr;
    }
    QFileDialog *panel = makePanel(this, QStringLiteral("Save File"), QFileDialog::AcceptSave);
    panel->selectFile(ZNTByteaValue::proposedFileName(m_display.type));
    const QByteArray data = m_value.toBytes();
    QPointer<ZNTByteaCellView> guard(this);
    connect(panel, &QFileDialog::fileSelected, this, [guard, data](const QString &path) {
        if (guard)
            guard->saveFile(path, data);
    });
    m_panel = panel;
    uv_returnFocusAfterSheet(panel);
    panel->open();
    return panel;
}

void ZNTByteaCellView::loadFile(const QString &path) {
    // The size is known before a byte is read: a file too large is refused at once.
    if (ErrorPtr tooLarge = ZNTByteaValue::tooLargeError(path, QFileInfo(path).size())) {
        showError(tooLarge);
        return;
    }
    auto load = std::make_shared<std::atomic<bool>>(false);
    m_load = load;
    updateButtons();
    QPointer<ZNTByteaCellView> guard(this);
    fileQueue().async([guard, load, path] {
        auto data = std::make_shared<QByteArray>();
        ErrorPtr error;
        const bool read = ZNTByteaValue::readFile(path, data.get(), &error, ZNTByteaValue::kMaxFileSize, load.get());
        Main::post([guard, load, read, data, error] {
            // Cancelled, or another value arrived meanwhile (which cancels).
            if (!guard || guard->m_load != load)
                return;
            guard->m_load.reset();
            guard->updateButtons();
            if (!read) {
                guard->showError(error);
                return;
            }
            guard->setObjectValue(Value::fromBytes(std::move(*data)));
            guard->post(ZNTRowValueChanged);
        });
    });
}

// A pipe may have no writer for ever: the read stops at once and the file
// queue is free for the next transfer.
void ZNTByteaCellView::cancelLoading() {
    if (!m_load)
        return;
    m_load->store(true);
    m_load.reset();
    updateButtons();
}

void ZNTByteaCellView::saveFile(const QString &path, const QByteArray &data, std::function<void(bool written)> done) {
    QPointer<ZNTByteaCellView> guard(this);
    fileQueue().async([guard, path, data, done] {
        ErrorPtr error;
        const bool written = ZNTByteaValue::writeFile(path, data, &error);
        Main::post([guard, written, error, done] {
            if (!written && guard)
                guard->showError(error);
            if (done)
                done(written);
        });
    });
}
