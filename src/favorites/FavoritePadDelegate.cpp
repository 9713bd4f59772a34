#include "FavoritePadDelegate.h"

#include "FavoritesListModel.h"
#include "ZNTFavorite.h"
#include "uikit/Contrast.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>

namespace {

constexpr int kInset = 12; // text inside the pad

QColor mixed(const QColor &a, const QColor &b, double t) {
    return QColor::fromRgbF(float(a.redF() * (1 - t) + b.redF() * t), float(a.greenF() * (1 - t) + b.greenF() * t),
                            float(a.blueF() * (1 - t) + b.blueF() * t));
}

// The outline of the chosen pad: the palette's Highlight where it reads at
// 3:1 against the list's ground and against a plain pad, else Highlight moved
// towards Text until it does (a dark palette's blue all but vanishes on a pad).
QColor selectionOutline(const QPalette &palette, QPalette::ColorGroup group) {
    const QColor base = palette.color(group, QPalette::Base), text = palette.color(group, QPalette::Text);
    const QColor plainPad = laidOver(base, QColor::fromRgbF(text.redF(), text.greenF(), text.blueF(), 0.07f));
    return readableTowards(palette.color(group, QPalette::Highlight), text, {base, plainPad}, 3.0);
}

QFont boldFont(QFont font) {
    font.setBold(true);
    return font;
}

QFont smallFont(QFont font) {
    font.setPointSizeF(font.pointSizeF() * 0.9);
    return font;
}

} // namespace

FavoritePadDelegate::FavoritePadDelegate(QObject *parent) : QStyledItemDelegate(parent) {}

QColor FavoritePadDelegate::errorColor(const QPalette &palette) {
    const bool dark = palette.color(QPalette::Base).lightnessF() < 0.5;
    return dark ? QColor(255, 120, 110) : QColor(190, 20, 20);
}

QSize FavoritePadDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const {
    return QSize(option.rect.width(), index.data(Qt::SizeHintRole).toSize().height());
}

double FavoritePadDelegate::errorTextHeight(const QString &text, const QFont &font, int rowWidth) {
    if (text.isEmpty())
        return 0;
    const int width = std::max(40, padRect(QRect(0, 0, rowWidth, 100)).width() - 2 * kInset);
    const QRect bounds = QFontMetrics(smallFont(font)).boundingRect(QRect(0, 0, width, 100000), Qt::TextWordWrap, text);
    return bounds.height();
}

void FavoritePadDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const {
    painter->save();
    painter->fillRect(option.rect, option.palette.color(QPalette::Base));
    const auto kind = index.data(FavoritesListModel::KindRole).value<FavoritesListModel::RowKind>();
    if (kind == FavoritesListModel::RowKind::Favorite && !index.data(FavoritesListModel::EditingRole).toBool())
        paintPad(painter, option, index);
    painter->restore();
}

void FavoritePadDelegate::paintPad(QPainter *painter, const QStyleOptionViewItem &option,
                                   const QModelIndex &index) const {
    const QPalette &palette = option.palette;
    const QColor text = palette.color(QPalette::Text);
    const QRect pad = padRect(option.rect);
    painter->setRenderHint(QPainter::Antialiasing);
    QColor tint = index.data(FavoritesListModel::ColorRole).value<QColor>();
    if (tint.isValid())
        tint.setAlphaF(0.25f);
    else
        tint = QColor::fromRgbF(text.redF(), text.greenF(), text.blueF(), 0.07f);
    QPainterPath path;
    path.addRoundedRect(QRectF(pad).adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
    painter->fillPath(path, tint);
    // Return and Connect act on the list's current favorite, which the list
    // taking the focus makes current without selecting it: it is outlined too.
    const auto *view = qobject_cast<const QAbstractItemView *>(option.widget);
    if ((option.state & QStyle::State_Selected) || (view && view->currentIndex() == index)) {
        const auto group = (option.state & QStyle::State_Active) ? QPalette::Active : QPalette::Inactive;
        painter->setPen(QPen(selectionOutline(palette, group), 2));
        painter->drawPath(path);
    }

    const QRect inner = pad.adjusted(kInset, 7, -kInset, -6);
    const bool busy = index.data(FavoritesListModel::BusyRole).toBool();
    const bool failed = index.data(FavoritesListModel::FailedRole).toBool();
    const bool connected = index.data(FavoritesListModel::ConnectedRole).toBool();
    const QFont bold = boldFont(option.font);
    const QFont small = smallFont(option.font);
    const int nameHeight = QFontMetrics(bold).height();

    QString badge = connected ? QStringLiteral("Connected") : QString();
    int badgeWidth = badge.isEmpty() ? 0 : QFontMetrics(small).horizontalAdvance(badge) + 8;
    painter->setFont(bold);
    painter->setPen(text);
    const QRect nameRect(inner.left(), inner.top(), inner.width() - badgeWidth, nameHeight);
    painter->drawText(nameRect, Qt::AlignLeft | Qt::AlignVCenter,
                      QFontMetrics(bold).elidedText(index.data().toString(), Qt::ElideRight, nameRect.width()));
    painter->setFont(small);
    if (!badge.isEmpty()) {
        painter->setPen(mixed(text, palette.color(QPalette::Highlight), 0.6));
        painter->drawText(QRect(inner.right() - badgeWidth, inner.top(), badgeWidth, nameHeight),
                          Qt::AlignRight | Qt::AlignVCenter, badge);
    }
    const QFontMetrics smallMetrics(small);
    QRect line(inner.left(), inner.top() + nameHeight + 2, inner.width(), smallMetrics.height());
    painter->setPen(palette.color(QPalette::PlaceholderText));
    painter->drawText(
        line, Qt::AlignLeft | Qt::AlignVCenter,
        smallMetrics.elidedText(index.data(FavoritesListModel::DetailRole).toString(), Qt::ElideMiddle, line.width()));
    if (busy) {
        line.translate(0, smallMetrics.height() + 4);
        const int spin = smallMetrics.height();
        paintSpinner(painter, QRect(line.left(), line.top(), spin, spin), text);
        painter->setPen(text);
        painter->drawText(line.adjusted(spin + 6, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                          smallMetrics.elidedText(index.data(FavoritesListModel::StateRole).toString(), Qt::ElideRight,
                                                  line.width() - spin - 6));
    } else if (failed) {
        const QRect errorRect(inner.left(), line.bottom() + 4, inner.width(), inner.bottom() - line.bottom() - 3);
        painter->setPen(errorColor(palette));
        painter->drawText(errorRect, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap,
                          index.data(FavoritesListModel::ErrorRole).toString());
    }
}

void FavoritePadDelegate::paintSpinner(QPainter *painter, const QRect &rect, const QColor &color) const {
    painter->save();
    painter->translate(QRectF(rect).center());
    const double radius = rect.width() / 2.0;
    for (int i = 0; i < 12; ++i) {
        QColor c = color;
        c.setAlphaF(float(0.15 + 0.85 * ((i - m_spinnerPhase + 12) % 12) / 11.0));
        painter->setPen(QPen(c, std::max(1.5, radius / 4), Qt::SolidLine, Qt::RoundCap));
        const double angle = qDegreesToRadians(i * 30.0);
        painter->drawLine(QPointF(std::cos(angle), std::sin(angle)) * radius * 0.45,
                          QPointF(std::cos(angle), std::sin(angle)) * radius * 0.95);
    }
    painter->restore();
}

QWidget *FavoritePadDelegate::createEditor(QWidget *parent, const QStyleOptionViewItem &,
                                           const QModelIndex &index) const {
    auto *favorite = index.data(FavoritesListModel::FavoriteRole).value<ZNTFavorite *>();
    if (!favorite || !m_formFactory)
        return nullptr;
    return m_formFactory(favorite, parent);
}

void FavoritePadDelegate::updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                                               const QModelIndex &) const {
    editor->setGeometry(padRect(option.rect));
}
