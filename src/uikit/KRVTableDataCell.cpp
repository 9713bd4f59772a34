#include "KRVTableDataCell.h"

#include "Contrast.h"
#include "DataCellLines.h"
#include "LineEditLength.h"
#include "engine/RowStore.h"
#include "engine/SizeFormatting.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QLineEdit>
#include <QMetaProperty>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>
#include <cmath>

namespace {

bool isDark(const QPalette &palette) {
    return palette.color(QPalette::Base).lightness() < 128;
}

// The edit-state colours: light yellow and light red on a light base; on a
// dark base the same hues darkened, so that light text stays readable.
QColor editedColor(const QPalette &palette, qreal alpha) {
    return isDark(palette) ? QColor::fromHsvF(0.153f, 0.55f, 0.42f, float(alpha))
                           : QColor::fromHsvF(0.153f, 0.36f, 1.0f, float(alpha));
}

QColor deletedColor(const QPalette &palette) {
    return isDark(palette) ? QColor::fromHsvF(0.0f, 0.55f, 0.55f, 0.4f) : QColor::fromHsvF(0.0f, 0.36f, 1.0f, 0.4f);
}

// The translucent colour a cell of this edit state lays over its row (fainter
// over a selection); invalid for a cell without one.
QColor markColour(int style, const QPalette &palette, bool highlighted) {
    switch (style) {
    case KRVTableDataCellStyleEdited:
    case KRVTableDataCellStyleNewRow:
        return editedColor(palette, highlighted ? 0.4 : 0.8);
    case KRVTableDataCellStyleDeleted:
        return deletedColor(palette);
    default:
        return {};
    }
}

void drawBackground(QPainter *painter, const QRect &frame, const QColor &mark, int style) {
    if (!mark.isValid())
        return;
    if (style != KRVTableDataCellStyleEdited) {
        painter->fillRect(frame, mark);
        return;
    }
    // 2 px free above, 3 below, 1 at each side.
    const QRectF box = QRectF(frame).adjusted(1, 2, -1, -3);
    QPainterPath path;
    path.addRoundedRect(box, 4, 4);
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->fillPath(path, mark);
    painter->setRenderHint(QPainter::Antialiasing, false);
}

// The colour of a cell's text on ground, what lies behind it. A selected row
// draws its placeholders as its text, in the selection's colour; elsewhere
// they are grey, yet grey that still reads. Where an edit state's colour takes
// the text below 4.5:1 (it lightens a light palette's selection), the row's
// own text colour is used instead, or black or white, whichever reads.
QColor textColour(const KRVTableDataCell::DisplayValue &value, const QPalette &palette, const QColor &ground,
                  bool marked, bool highlighted) {
    QColor colour = palette.color(highlighted ? QPalette::HighlightedText : QPalette::Text);
    if (marked && contrastRatio(colour, ground) < 4.5) {
        for (const QColor &other : {palette.color(QPalette::Text), QColor(Qt::black), QColor(Qt::white)}) {
            if (contrastRatio(other, ground) >= 4.5) {
                colour = other;
                break;
            }
        }
    }
    if (value.isGrey && !highlighted)
        colour = inkReadableOn(ground, colour, 4.5, 0.4);
    return colour;
}

// The string value cut at kMaxDisplayLength, never between the two halves of
// a character outside the basic plane.
QString cut(QString text) {
    if (text.size() <= KRVTableDataCell::kMaxDisplayLength) {
        // A text cut at the limit before it came here may end in half a character.
        if (text.size() == KRVTableDataCell::kMaxDisplayLength && text.back().isHighSurrogate())
            text.chop(1);
        return text;
    }
    qsizetype n = KRVTableDataCell::kMaxDisplayLength;
    if (text.at(n - 1).isHighSurrogate())
        --n;
    text.truncate(n);
    return text;
}

} // namespace

KRVTableDataCell::KRVTableDataCell(QObject *parent) : QStyledItemDelegate(parent) {}

KRVTableDataCell::DisplayValue KRVTableDataCell::displayValue(const Value &value) {
    switch (value.kind()) {
    case Value::Kind::Null:
        return {QStringLiteral("NULL"), true, true};
    case Value::Kind::Bytes:
        return {QStringLiteral("BINARY (%1)").arg(stringFromSize(value.toBytes().size())), true, true};
    case Value::Kind::Default:
        return {QStringLiteral("DEFAULT"), true, true};
    case Value::Kind::Multiple:
        return {QStringLiteral("MULTIPLE"), true, true};
    case Value::Kind::Bool:
        return {value.toBool() ? QStringLiteral("TRUE") : QStringLiteral("FALSE"), false, false};
    case Value::Kind::String:
        return {value.toString(), false, false};
    case Value::Kind::Int:
    case Value::Kind::Float:
    case Value::Kind::Double:
        return {value.description(), false, false};
    }
    return {value.description(), true, false};
}

KRVTableDataCell::DisplayValue KRVTableDataCell::displayValue(const RowStore &store, qsizetype row, int column) {
    const RowStore::Cell cell = store.cellAt(row, column);
    switch (cell.kind) {
    case RowStore::CellKind::Null:
        return {QStringLiteral("NULL"), true, true};
    case RowStore::CellKind::Bytes:
        return {QStringLiteral("BINARY (%1)").arg(stringFromSize(cell.size)), true, true};
    case RowStore::CellKind::Default:
        return {QStringLiteral("DEFAULT"), true, true};
    case RowStore::CellKind::Multiple:
        return {QStringLiteral("MULTIPLE"), true, true};
    case RowStore::CellKind::True:
        return {QStringLiteral("TRUE"), false, false};
    case RowStore::CellKind::False:
        return {QStringLiteral("FALSE"), false, false};
    case RowStore::CellKind::Text:
        return {cut(store.displayText(row, column, kMaxDisplayLength)), false, false};
    case RowStore::CellKind::Int:
    case RowStore::CellKind::Float:
    case RowStore::CellKind::Double:
        break;
    }
    return {store.displayText(row, column), false, false};
}

QRect KRVTableDataCell::titleRectForBounds(const QRect &bounds) {
    return bounds.adjusted(4, 0, 0, 0);
}

void KRVTableDataCell::drawWithFrame(QPainter *painter, const QRect &frame, const DisplayValue &value, int cellStyle,
                                     const QPalette &palette, const QFont &font, bool highlighted) {
    const QColor mark = markColour(cellStyle, palette, highlighted);
    drawBackground(painter, frame, mark, cellStyle);
    const QRect title = titleRectForBounds(frame);
    if (title.width() <= 0 || value.text.isEmpty())
        return;
    const qreal lineHeight = QFontMetricsF(font).height();
    const bool twoLines = title.height() >= 2 * lineHeight;
    const DataCellLines &lines = dataCellLines(cut(value.text), font, title.width(), twoLines);
    const QColor row = palette.color(highlighted ? QPalette::Highlight : QPalette::Base);
    const QColor ground = mark.isValid() ? laidOver(row, mark) : row;
    painter->setPen(textColour(value, palette, ground, mark.isValid(), highlighted));
    const qreal height = lines.lineHeight * (lines.twoLines ? 2 : 1);
    // Whole pixels, so that text stays sharp.
    const qreal top = std::round(title.top() + (title.height() - height) / 2);
    const bool clip = lines.naturalWidth > title.width() + 0.5;
    if (clip) {
        painter->save();
        painter->setClipRect(title, Qt::IntersectClip);
    }
    if (lines.line1)
        lines.line1->lineAt(0).draw(painter, QPointF(title.left(), top));
    if (lines.line2)
        lines.line2->lineAt(0).draw(painter, QPointF(title.left(), top + lines.lineHeight));
    if (clip)
        painter->restore();
}

KRVTableDataCell::DisplayValue KRVTableDataCell::displayValueAt(const QModelIndex &index) {
    const QVariant shown = index.data(DisplayValueRole);
    if (shown.metaType() == QMetaType::fromType<DisplayValue>())
        return *static_cast<const DisplayValue *>(shown.constData());
    const QVariant v = index.data(ValueRole);
    if (v.metaType() == QMetaType::fromType<Value>())
        return displayValue(*static_cast<const Value *>(v.constData()));
    return {index.data(Qt::DisplayRole).toString(), false, false};
}

void KRVTableDataCell::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const {
    const bool selected = option.state & QStyle::State_Selected;
    const QPalette::ColorGroup group = !(option.state & QStyle::State_Enabled) ? QPalette::Disabled
                                       : (option.state & QStyle::State_Active) ? QPalette::Active
                                                                               : QPalette::Inactive;
    QPalette palette = option.palette;
    palette.setCurrentColorGroup(group);
    // An alternate row lies on the alternate base: its placeholders are
    // made to read against that.
    if (option.features & QStyleOptionViewItem::Alternate)
        palette.setBrush(group, QPalette::Base, palette.brush(group, QPalette::AlternateBase));
    if (selected)
        painter->fillRect(option.rect, palette.brush(QPalette::Highlight));
    drawWithFrame(painter, option.rect, displayValueAt(index), index.data(CellStyleRole).toInt(), palette, option.font,
                  selected);
    if (option.state & QStyle::State_HasFocus) {
        QColor ring = palette.color(selected ? QPalette::HighlightedText : QPalette::Highlight);
        ring.setAlphaF(0.7f);
        painter->setPen(ring);
        painter->drawRect(option.rect.adjusted(0, 0, -1, -1));
    }
}

QSize KRVTableDataCell::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const {
    const QFontMetrics metrics(option.font);
    const QString text = cut(displayValueAt(index).text).section(QLatin1Char('\n'), 0, 0);
    return QSize(metrics.horizontalAdvance(text) + 4 + 6, metrics.height() + 4);
}

QWidget *KRVTableDataCell::createEditor(QWidget *parent, const QStyleOptionViewItem &option,
                                        const QModelIndex &index) const {
    QWidget *editor = QStyledItemDelegate::createEditor(parent, option, index);
    if (auto *line = qobject_cast<QLineEdit *>(editor))
        uv_takeAnyLength(line);
    return editor;
}

void KRVTableDataCell::setEditorData(QWidget *editor, const QModelIndex &index) const {
    const QVariant v = index.data(DisplayValueRole);
    const bool described = v.metaType() == QMetaType::fromType<DisplayValue>();
    const QVariant value = described ? QVariant() : index.data(ValueRole);
    if (described || value.metaType() == QMetaType::fromType<Value>()) {
        const DisplayValue shown = described ? *static_cast<const DisplayValue *>(v.constData())
                                             : displayValue(*static_cast<const Value *>(value.constData()));
        if (shown.isPlaceholder || !index.data(Qt::EditRole).isValid()) {
            // A placeholder is no text to edit: the editor starts empty.
            if (auto *line = qobject_cast<QLineEdit *>(editor)) {
                line->setText(shown.isPlaceholder ? QString() : shown.text);
                return;
            }
            if (shown.isPlaceholder) {
                const QByteArray property = editor->metaObject()->userProperty().name();
                if (!property.isEmpty())
                    editor->setProperty(property.constData(), QVariant(editor->property(property).metaType()));
                return;
            }
        }
    }
    QStyledItemDelegate::setEditorData(editor, index);
}

void KRVTableDataCell::setModelData(QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const {
    if (auto *line = qobject_cast<QLineEdit *>(editor); line && !line->isModified())
        return;
    QStyledItemDelegate::setModelData(editor, model, index);
}

bool KRVTableDataCell::helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                                 const QModelIndex &index) {
    if (event->type() != QEvent::ToolTip)
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    const DisplayValue shown = displayValueAt(index);
    const QRect title = titleRectForBounds(option.rect);
    const bool twoLines = title.height() >= 2 * QFontMetricsF(option.font).height();
    // The tool tip has the same cut as the cell: a value of megabytes would
    // stall the desktop's tool tip.
    const QString text = cut(shown.text);
    if (title.width() <= 0 || text.isEmpty() || !dataCellLines(text, option.font, title.width(), twoLines).truncated) {
        QToolTip::hideText();
        return true;
    }
    QToolTip::showText(event->globalPos(),
                       text.toHtmlEscaped().prepend(QLatin1String("<p style='white-space:pre-wrap'>")),
                       view->viewport(), option.rect);
    return true;
}

KRVTableDataCell::CacheStatistics KRVTableDataCell::cacheStatistics() {
    const DataCellLineStatistics s = dataCellLineStatistics();
    return {s.layouts, s.hits};
}

void KRVTableDataCell::resetLineCache() {
    resetDataCellLines();
}
