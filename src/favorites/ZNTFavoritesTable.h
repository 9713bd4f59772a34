#pragma once

#include <QListView>
#include <QTimer>

class FavoritesListModel;
class FavoritePadDelegate;

// The favorites list. Keys: Return connects the current favorite, F2 edits it,
// Delete removes it, the menu key opens its commands, the arrow keys move from
// favorite to favorite; a double click connects.
// A context menu belongs to the row under the pointer (none on the spacer or
// new-favorite rows). Busy rows get a turning spinner.
class ZNTFavoritesTable : public QListView {
    Q_OBJECT
public:
    explicit ZNTFavoritesTable(QWidget *parent = nullptr);

    void setListModel(FavoritesListModel *model);
    FavoritesListModel *listModel() const { return m_model; }
    FavoritePadDelegate *padDelegate() const { return m_delegate; }

    // The row a context menu was opened for, -1 for none.
    int clickedRow() const { return m_clickedRow; }
    // The current row, -1 when no favorite row is current.
    int currentRow() const;
    void selectRow(int row);
    // Scrolls smoothly until the whole row shows, 5 points of margin above a
    // row that was above the visible part.
    void scrollRowToVisible(int row);
    // Rows changed height: lay them out again.
    void noteHeightOfRowsChanged();

signals:
    void connectRequested(int row);
    void editRequested(int row);
    void deleteRequested(int row);
    void contextMenuRequestedForRow(int row, const QPoint &globalPos);
    void widthChanged();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void updateSpinner();

    FavoritesListModel *m_model = nullptr;
    FavoritePadDelegate *m_delegate = nullptr;
    QTimer m_spinnerTimer;
    int m_spinnerPhase = 0;
    int m_clickedRow = -1;
};
