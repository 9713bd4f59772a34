#pragma once

#include "engine/Value.h"

#include <QMetaType>
#include <QStyledItemDelegate>

class RowStore;

// Backgrounds that mark a cell's edit state.
enum KRVTableDataCellStyle {
    KRVTableDataCellStyleNormal = 0,
    KRVTableDataCellStyleEdited = 1,  // rounded light yellow: an edited value
    KRVTableDataCellStyleNewRow = 2,  // light yellow over the cell: a row to insert
    KRVTableDataCellStyleDeleted = 3, // light red over the cell: a row to delete
};

// The cell of every data grid, as one item delegate: a row value as text, with
// grey placeholders for NULL, DEFAULT, MULTIPLE and binary data, TRUE and FALSE
// for booleans, the edit-state background, and at most two lines of text (the
// second ending in "…" when more follows; one elided line when the row is too
// low for two). Lines are laid out once per text, font and width and kept in a
// small process-wide cache, so that scrolling a large grid stays cheap.
//
// The model answers, per cell, the first of these it can:
//   KRVTableDataCell::DisplayValueRole  QVariant::fromValue(DisplayValue): what to
//                                       show, made without decoding more of the
//                                       value than is shown (see displayValue)
//   KRVTableDataCell::ValueRole         QVariant::fromValue(Value): what to show
//   Qt::DisplayRole                     shown as it is
// and also
//   KRVTableDataCell::CellStyleRole     int, a KRVTableDataCellStyle (none: normal)
//   Qt::EditRole                        the text an editor starts with
// Editing a placeholder starts with an empty editor. main thread
class KRVTableDataCell : public QStyledItemDelegate {
    Q_OBJECT
public:
    static constexpr int ValueRole = Qt::UserRole + 0x4b00;
    static constexpr int CellStyleRole = ValueRole + 1;
    static constexpr int DisplayValueRole = ValueRole + 2;
    // Longer texts are cut to this many UTF-16 units before any layout.
    static constexpr int kMaxDisplayLength = 5000;

    struct DisplayValue {
        QString text;
        bool isGrey = false;        // drawn faint
        bool isPlaceholder = false; // stands for the value: editing starts empty
    };

    explicit KRVTableDataCell(QObject *parent = nullptr);

    static DisplayValue displayValue(const Value &value);
    // The same for a cell of a row store, read in place: text is decoded up
    // to kMaxDisplayLength only, binary data is never copied.
    static DisplayValue displayValue(const RowStore &store, qsizetype row, int column);
    // The text area of a cell: 4 px in from the left, to the right edge.
    static QRect titleRectForBounds(const QRect &bounds);
    // Draws one cell the grid's way; also for widgets that show a single value
    // like a grid cell. palette's Base is what the cell lies on (an alternate
    // row's is its AlternateBase). highlighted: on a selected row (the
    // selection itself is the caller's to paint).
    static void drawWithFrame(QPainter *painter, const QRect &frame, const DisplayValue &value, int cellStyle,
                              const QPalette &palette, const QFont &font, bool highlighted);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    // The editor takes the whole value, of any length.
    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    void setEditorData(QWidget *editor, const QModelIndex &index) const override;
    // An editor left without a change typed gives the model nothing: opening
    // a cell and leaving it is no edit.
    void setModelData(QWidget *editor, QAbstractItemModel *model, const QModelIndex &index) const override;
    // A cell that does not show all of its text shows it in its tool tip.
    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override;

    // How the line cache has fared since the last reset; for tests and benchmarks.
    struct CacheStatistics {
        quint64 layouts = 0; // texts laid out afresh
        quint64 hits = 0;    // drawings that reused cached lines
    };
    static CacheStatistics cacheStatistics();
    static void resetLineCache();

private:
    static DisplayValue displayValueAt(const QModelIndex &index);
};

Q_DECLARE_METATYPE(KRVTableDataCell::DisplayValue)
