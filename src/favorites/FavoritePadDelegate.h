#pragma once

#include <QStyledItemDelegate>
#include <functional>

class FavoriteSettingsForm;
class ZNTFavorite;

// Draws the rows of the favorites list as pads: the favorite's name, where it
// connects to, its progress or its error, on a rounded pad tinted with its label
// colour. Colours come from the palette (base, text, highlight), so the list
// reads right in a dark palette. The favorite being edited gets its settings
// form as the row's editor.
class FavoritePadDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit FavoritePadDelegate(QObject *parent = nullptr);

    // Makes the settings form of an edited favorite.
    using FormFactory = std::function<QWidget *(ZNTFavorite *favorite, QWidget *parent)>;
    void setFormFactory(FormFactory factory) { m_formFactory = std::move(factory); }

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    void updateEditorGeometry(QWidget *editor, const QStyleOptionViewItem &option,
                              const QModelIndex &index) const override;
    void setEditorData(QWidget *, const QModelIndex &) const override {}
    void setModelData(QWidget *, QAbstractItemModel *, const QModelIndex &) const override {}
    // The settings form handles its own keys (Tab between its fields, Escape to
    // finish): a cell editor's key handling would close it or leave the row.
    bool eventFilter(QObject *, QEvent *) override { return false; }

    // The pad inside a row: 10 points in from the sides, 6 from top and bottom.
    static QRect padRect(const QRect &row) { return row.adjusted(10, 6, -10, -6); }
    // Red that stays readable on the palette's base, light or dark.
    static QColor errorColor(const QPalette &palette);
    // The height the error text needs in a row of this width.
    static double errorTextHeight(const QString &text, const QFont &font, int rowWidth);
    // The busy spinner's phase, 0..11; the list advances it while a row is busy.
    void setSpinnerPhase(int phase) { m_spinnerPhase = phase; }

private:
    void paintPad(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const;
    void paintSpinner(QPainter *painter, const QRect &rect, const QColor &color) const;

    FormFactory m_formFactory;
    int m_spinnerPhase = 0;
};
