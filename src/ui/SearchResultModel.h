#pragma once

#include "CardTree.h"
#include "SearchCards.h"

#include <QAbstractTableModel>

#include <vector>

namespace kelvo {

// The search window's result list: one row per found card with its thirteen
// folded texts, in the order the search gave them. Read-only.
//
// The model watches the card tree: a row whose card is deleted (with its
// node or a card class above it) or whose record is released or replaced is
// dropped at once, so nothing ever reads a record that is gone.
class SearchResultModel : public QAbstractTableModel, private CardTreeObserver
{
    Q_OBJECT

public:
    explicit SearchResultModel(CardTree &tree, QObject *parent = nullptr);
    ~SearchResultModel() override;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    void setRows(std::vector<TResultRow> rows);
    void clear();
    const std::vector<TResultRow> &rows() const { return m_rows; }

private:
    void nodesAboutToBeRemoved(CardNode *parent, int first, int last) override;
    void nodeChanged(CardNode *node) override;
    void treeAboutToBeReset() override;

    // Removes the rows for which `gone(row)` holds, announcing each run of
    // neighbouring rows once.
    template<typename Predicate>
    void dropRows(Predicate gone);

    CardTree &m_tree;
    std::vector<TResultRow> m_rows;
};

} // namespace kelvo
