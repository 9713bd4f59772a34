#pragma once

#include <QList>
#include <QModelIndex>
#include <QPointer>
#include <QVariant>
#include <QWidget>
#include <map>
#include <memory>
#include <tuple>
#include <vector>

class QAbstractItemModel;
class QMenu;

// A grid of large icons over a tree model (column 0): the model's top-level
// items, and for each item with children a section with a header (a triangle,
// the item's small icon and name) over the icons of its children. Roles read:
// DisplayRole (the name), DecorationRole (the header's 16-point icon, and the
// icon when there is no big one), BigImageRole (the icon) and IdentityRole
// (what selection and open sections follow through changes of the model:
// an item removed and put back is selected and open as before; without the
// role, the name).
//
// Geometry: cells of 126 x 115, 5 apart, 5 from the left; the first row 30
// from the top and 30 free below the last; a section starts on a new row,
// 28 high when closed and 40 above its first row when open; nested sections
// are not indented. The width sets the number of columns (at least one); the
// size hint asks for 4 until the grid has a width, and a scroll area around
// the grid (widgetResizable) gives it the height its width needs.
//
// Input: a click selects the icon (or clears the selection on blank space);
// Ctrl toggles it, but selects it alone in an inactive window; Shift toggles.
// Only the image and the name box are hits. A press on a header highlights it
// while the pointer stays on it; releasing there opens or closes the section.
// Arrow keys move to the nearest icon in that direction, across sections,
// Shift extending; Return and Enter are a double action; other keys go to the
// parent. A double click emits doubleAction() when the icon under the pointer
// is selected at the second release. A right click (or the menu key) selects
// the icon under the pointer alone unless it is selected already, then shows
// menu(). The grid selects its first icon when it gets the focus with nothing
// selected. Selections draw in the palette's active colours while the grid has
// the focus in the active window, else in its inactive ones. main thread
class IconView : public QWidget {
    Q_OBJECT
public:
    static constexpr int BigImageRole = Qt::UserRole + 0x4B0;
    static constexpr int IdentityRole = Qt::UserRole + 0x4B1;

    static constexpr QSize iconSize() { return {126, 115}; }
    static constexpr QSize iconSpacing() { return {5, 0}; }
    static constexpr int topMargin = 30;
    static constexpr int headerHeight = 28;
    static constexpr int openHeaderExtra = 12;

    explicit IconView(QWidget *parent = nullptr);
    ~IconView() override;

    void setModel(QAbstractItemModel *model);
    QAbstractItemModel *model() const { return m_model; }
    // Reads the model afresh now (changes of the model are read at the next use).
    void reloadData();
    // Lays out anew at the next use and repaints.
    void reflow();

    // The selected icons that are laid out (not inside a closed section), in
    // the grid's order.
    QModelIndexList selectedIndexes() const;
    // Every selected identity, those of hidden and removed items included.
    QVariantList selectedIdentities() const { return m_selected; }
    bool isSelected(const QModelIndex &index) const;
    // Not extending: the selection becomes index alone (none for an invalid one).
    void selectIndex(const QModelIndex &index, bool extend);
    void deselectIndex(const QModelIndex &index);

    // Open sections, by identity; an identity may be named before its item exists.
    void setExpanded(const QVariant &identity, bool open);
    bool isExpanded(const QVariant &identity) const;
    QVariantList expandedIdentities() const { return m_expanded; }

    // The icon whose image or name box holds point, and its cell; invalid for none.
    QModelIndex indexAt(const QPoint &point, QRect *cell = nullptr) const;
    // The section whose header holds point, and the header; invalid for none.
    QModelIndex sectionAt(const QPoint &point, QRect *header = nullptr) const;
    // The cell of an icon that is laid out; empty otherwise.
    QRect visualRect(const QModelIndex &index) const;
    // The height of the content below the top margin (the sections and rows).
    int contentHeight() const;
    int numColumns() const { return m_columns; }

    void setMenu(QMenu *menu) { m_menu = menu; }
    QMenu *menu() const { return m_menu; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

signals:
    // A double click on a selected icon, or Return with icons selected.
    void doubleAction();
    void selectionChanged();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    struct Node;

    void modelChanged();
    void ensureTree() const;
    void ensureLayout() const;
    void rebuild();
    void loadSection(Node *section, const QModelIndex &parent);
    int layoutSection(Node *section, int top, int columns, bool store) const;
    static int columnsForWidth(int width);

    Node *nodeForIndex(const QModelIndex &index) const;
    QModelIndex indexForNode(const Node *node) const;
    Node *nodeForIdentity(const QVariant &identity) const;
    Node *firstItem() const;
    Node *itemAt(const QPoint &point) const;
    Node *headerAt(const QPoint &point) const;
    static QRect headerRect(const Node *section);
    void forEachNode(const std::function<void(Node *)> &visit) const;

    void selectNode(Node *node, bool extend);
    void deselectNode(Node *node);
    void toggleNode(Node *node);
    void press(const QPoint &point, Qt::KeyboardModifiers modifiers);
    void moveSelection(int key, bool extend);
    void scrollToVisible(const QRect &rect);
    bool isInForeground() const;
    void noteKeyStatusChanged();
    void updateAround(const Node *node);

    void drawHeader(QPainter &painter, Node *section) const;
    void drawItem(QPainter &painter, Node *item) const;
    QPixmap imagePixmap(const QIcon &icon, const QSize &size) const;

    QPointer<QAbstractItemModel> m_model;
    std::vector<QMetaObject::Connection> m_modelConnections;
    std::unique_ptr<Node> m_root;
    QVariantList m_selected;
    QVariantList m_expanded;
    QVariant m_lastSelect;
    QPointer<QMenu> m_menu;
    int m_columns = 0;
    bool m_treeDirty = true;
    mutable bool m_layoutValid = false;
    // After layout: the laid-out icons and open or closed section headers, top to bottom.
    mutable std::vector<Node *> m_laidOutItems;
    mutable std::vector<Node *> m_laidOutSections;
    mutable int m_contentHeight = 0;
    // Mouse: the header being pressed; whether the press was the second of a double click.
    Node *m_pressedHeader = nullptr;
    bool m_secondClick = false;
    // The grid is its window's focus widget, even while the window or a menu has the focus.
    bool m_isFirstResponder = false;
    // Images drawn once per icon, size and pixel ratio, until the palette changes.
    mutable std::map<std::tuple<qint64, int, int, int>, QPixmap> m_pixmaps;
};
