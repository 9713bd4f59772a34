#pragma once

#include <QAbstractListModel>
#include <QListView>
#include <QWidget>
#include <memory>
#include <vector>

class ZNTFavorite;
class ZNTQueryHistoryElement;
class QueryHistoryViewController;

// Told when the user picks an entry in the history list.
class QueryHistoryViewControllerDelegate {
public:
    virtual ~QueryHistoryViewControllerDelegate() = default;
    virtual void selectionChangedInQueryHistoryViewController(QueryHistoryViewController *controller) = 0;
};

// The entries of a favorite's history, newest first: each shows its preview
// text (white space as single blanks) and when it ran. main thread
class QueryHistoryModel : public QAbstractListModel {
    Q_OBJECT
public:
    static constexpr int DateRole = Qt::UserRole + 1;

    using QAbstractListModel::QAbstractListModel;
    void setElements(std::vector<std::shared_ptr<ZNTQueryHistoryElement>> elements);
    const std::vector<std::shared_ptr<ZNTQueryHistoryElement>> &elements() const { return m_elements; }
    std::shared_ptr<ZNTQueryHistoryElement> elementAt(int row) const;
    int rowOf(const std::shared_ptr<ZNTQueryHistoryElement> &element) const;
    void removeRowOf(const std::shared_ptr<ZNTQueryHistoryElement> &element);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

private:
    std::vector<std::shared_ptr<ZNTQueryHistoryElement>> m_elements;
    // Preview texts as shown, made once per entry: a long text is
    // uncompressed and collapsed only when its row is first drawn.
    mutable std::vector<QString> m_previews;
};

// The list inside the history popover of the query editor. Choosing an entry
// (click or arrow keys) tells the delegate, which loads it; the list stays
// open for the next choice. An entry goes with the button at the right end of
// its row, or the Delete key, and the store forgets it at once. main thread
class QueryHistoryViewController : public QWidget {
    Q_OBJECT
public:
    explicit QueryHistoryViewController(QWidget *parent = nullptr);

    // Lists the favorite's history anew (none without a favorite).
    void setFavorite(std::shared_ptr<ZNTFavorite> favorite);
    const std::shared_ptr<ZNTFavorite> &favorite() const { return m_favorite; }
    // Selects the entry's row, or nothing for an entry not listed; the
    // delegate is not told.
    void setSelectedQueryHistoryElement(const std::shared_ptr<ZNTQueryHistoryElement> &element);
    std::shared_ptr<ZNTQueryHistoryElement> selectedQueryHistoryElement() const { return m_selected; }
    void setDelegate(QueryHistoryViewControllerDelegate *delegate) { m_delegate = delegate; }

    void deleteHistoryElement(int row);

    QListView *tableView() const { return m_tableView; }
    QueryHistoryModel *model() const { return m_model; }
    // Where the delete button of a row is drawn, in the list's viewport.
    QRect deleteButtonRect(int row) const;

private:
    void buildUi();
    void connectActions();
    void tableViewSelectionDidChange();

    std::shared_ptr<ZNTFavorite> m_favorite;
    std::shared_ptr<ZNTQueryHistoryElement> m_selected;
    QueryHistoryViewControllerDelegate *m_delegate = nullptr;
    QListView *m_tableView = nullptr;
    QueryHistoryModel *m_model = nullptr;
    bool m_settingSelection = false;
};
