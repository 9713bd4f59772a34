#include "ZNTTableSchemaColumnsView.h"

#include <QEvent>
#include <QLabel>

namespace {
using Row = ZNTTableSchemaColumnView;
constexpr int kLabelsToRows = 3;
constexpr int kBottomMargin = 10;

QLabel *headerLabel(const QString &title) {
    auto *label = new QLabel(title);
    label->setTextFormat(Qt::PlainText);
    QFont font = label->font();
    font.setBold(true);
    font.setPointSizeF(std::max(6.0, font.pointSizeF() - 1));
    label->setFont(font);
    QPalette palette = label->palette();
    QColor text = palette.color(QPalette::WindowText);
    text.setAlphaF(0.7f);
    palette.setColor(QPalette::WindowText, text);
    label->setPalette(palette);
    return label;
}

int labelWidth(const QLabel *label) {
    return label->sizeHint().width();
}
} // namespace

ZNTTableSchemaColumnsView::ZNTTableSchemaColumnsView(QWidget *parent) : QWidget(parent) {
    setObjectName(QStringLiteral("columnsView"));
    for (const char *title : {"COLUMN NAME", "TYPE", "DEFAULT", "CONSTRAINTS"}) {
        QLabel *label = headerLabel(QString::fromLatin1(title));
        label->setParent(this);
        m_headerFields.append(label);
    }
}

void ZNTTableSchemaColumnsView::setRows(const QList<ZNTTableSchemaColumnView *> &rows) {
    for (ZNTTableSchemaColumnView *row : std::as_const(m_rows)) {
        row->setDelegate(nullptr);
        row->hide();
        row->deleteLater();
    }
    m_rows = rows;
    for (ZNTTableSchemaColumnView *row : rows) {
        row->setParent(this);
        row->show();
    }
    relayout();
}

void ZNTTableSchemaColumnsView::insertRow(qsizetype index, ZNTTableSchemaColumnView *row) {
    m_rows.insert(index, row);
    row->setParent(this);
    row->show();
    relayout();
}

void ZNTTableSchemaColumnsView::removeRow(qsizetype index) {
    ZNTTableSchemaColumnView *row = m_rows.takeAt(index);
    row->setDelegate(nullptr);
    row->hide();
    row->deleteLater();
    relayout();
}

void ZNTTableSchemaColumnsView::setHeaderHidden(bool hidden) {
    for (QLabel *label : std::as_const(m_headerFields))
        label->setHidden(hidden);
    relayout();
}

ZNTColumnRowWidths ZNTTableSchemaColumnsView::columnWidths() const {
    ZNTColumnRowWidths widths;
    for (const Row *row : m_rows) {
        const ZNTColumnRowWidths natural = row->naturalWidths();
        widths.name = std::max(widths.name, natural.name);
        widths.type = std::max(widths.type, natural.type);
        widths.defaultPopup = std::max(widths.defaultPopup, natural.defaultPopup);
        widths.defaultField = std::max(widths.defaultField, natural.defaultField);
        widths.strip = std::max(widths.strip, natural.strip);
    }
    // Each label stands over its parts and is never cut.
    widths.name = std::max(widths.name, labelWidth(m_headerFields[0]) - 5);
    widths.type = std::max(widths.type, labelWidth(m_headerFields[1]));
    widths.defaultField =
        std::max(widths.defaultField, labelWidth(m_headerFields[2]) - widths.defaultPopup - Row::kPopupGap + 1);
    widths.strip = std::max(widths.strip, labelWidth(m_headerFields[3]) + 5);
    return widths;
}

void ZNTTableSchemaColumnsView::placeHeader(const ZNTColumnRowWidths &w) {
    const int typeLeft = Row::kNameLeft + w.name + Row::kGap;
    const int defaultLeft = typeLeft + w.type + Row::kGap;
    const int stripLeft = defaultLeft + w.defaultPopup + Row::kPopupGap + w.defaultField + Row::kGap;
    const int height = m_headerFields[0]->sizeHint().height();
    m_headerFields[0]->setGeometry(Row::kNameLeft - 5, 0, w.name + 5, height);
    m_headerFields[1]->setGeometry(typeLeft, 0, w.type, height);
    m_headerFields[2]->setGeometry(defaultLeft + 1, 0, w.defaultPopup + Row::kPopupGap + w.defaultField - 1, height);
    m_headerFields[3]->setGeometry(stripLeft + 5, 0, w.strip - 5, height);
}

int ZNTTableSchemaColumnsView::naturalWidth(const ZNTColumnRowWidths &widths) const {
    int width = 0;
    for (const Row *row : m_rows) {
        width = std::max(width, row->sizeHint().width());
        break; // every row has the same parts but for the delete button, which all rows of a table have
    }
    const int header = Row::kNameLeft + widths.name + Row::kGap + widths.type + Row::kGap + widths.defaultPopup +
                       Row::kPopupGap + widths.defaultField + Row::kGap + widths.strip + 8;
    return std::max(width, header);
}

void ZNTTableSchemaColumnsView::relayout() {
    if (m_layingOut)
        return;
    m_layingOut = true;
    const ZNTColumnRowWidths widths = columnWidths();
    const bool changed = widths.name != m_widths.name || widths.type != m_widths.type ||
                         widths.defaultPopup != m_widths.defaultPopup || widths.defaultField != m_widths.defaultField ||
                         widths.strip != m_widths.strip;
    m_widths = widths;
    for (Row *row : std::as_const(m_rows)) {
        if (changed || row->typeLeft() != Row::kNameLeft + widths.name + Row::kGap)
            row->setColumnWidths(widths);
    }
    placeHeader(widths);
    m_width = naturalWidth(widths);
    const int width = std::max(this->width(), m_width);
    int y = m_headerFields[0]->isHidden() ? 0 : m_headerFields[0]->sizeHint().height() + kLabelsToRows;
    for (Row *row : std::as_const(m_rows)) {
        const int height = row->heightForWidth(width);
        if (row->geometry() != QRect(0, y, width, height))
            row->setGeometry(0, y, width, height);
        y += height;
    }
    m_height = y + kBottomMargin;
    setMinimumSize(m_width, m_height);
    updateGeometry();
    m_layingOut = false;
}

QSize ZNTTableSchemaColumnsView::sizeHint() const {
    return QSize(m_width, m_height);
}

QSize ZNTTableSchemaColumnsView::minimumSizeHint() const {
    return QSize(m_width, m_height);
}

bool ZNTTableSchemaColumnsView::event(QEvent *event) {
    if (event->type() == QEvent::LayoutRequest) {
        relayout();
        return true;
    }
    return QWidget::event(event);
}

void ZNTTableSchemaColumnsView::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    relayout();
}
