#pragma once

#include "CardTree.h"
#include "SearchCards.h"

#include <QAbstractTableModel>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace kelvo {

// The search window's result list: one row per found card with its thirteen
// folded texts as they were at the time of the search, in the order the
// search gave them. Read-only.
//
// A row holds only its card: its texts are folded from the card when they
// are shown, and copied at the search's state only when a field of the card
// is about to change afterwards (the tree announces that first). So a search
// that finds most of a large tree costs a few bytes per row, and the list
// still shows what the search found.
//
// The model watches the card tree: a row whose card is deleted (with its
// node or a card class above it) or whose record is released or replaced is
// dropped at once, so nothing ever reads a record that is gone.
class SearchResultModel
    : public QAbstractTableModel
    , private CardTreeObserver
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

    // The rows of a search: the cards found, in result-list order.
    void setFound(const std::vector<FoundCard> &cards);
    void clear();
    int count() const { return static_cast<int>(m_rows.size()); }
    // Row `row`'s folded text of field `n` (1..13), as at the search.
    QByteArray text(int row, int n) const;
    // The rows with their texts, as the exports take them (made when asked
    // for, kept until the rows change).
    const std::vector<TResultRow> &rows() const;
    // Gives back what rows() made (a few hundred bytes a row; made again
    // when asked for): after an export, so that the next search does not
    // pay for freeing a large list of texts.
    void releaseMadeRows() { m_madeRows.reset(); }

private:
    struct Row
    {
        const CardNode *node = nullptr;
        const TCardData *card = nullptr;
        std::int32_t copied = -1; // the row's texts in m_copies, or -1: fold the card's
    };

    void nodesAboutToBeRemoved(CardNode *parent, int first, int last) override;
    void fieldAboutToChange(CardNode *node, int n) override;
    void nodeChanged(CardNode *node) override;
    void treeAboutToBeReset() override;

    // Removes the rows for which `gone(row)` holds, announcing each run of
    // neighbouring rows once.
    template<typename Predicate>
    void dropRows(Predicate gone);
    void rowsChanged() { m_madeRows.reset(); }

    CardTree &m_tree;
    std::vector<Row> m_rows;
    std::vector<std::array<QByteArray, Field::Count>> m_copies;
    mutable std::optional<std::vector<TResultRow>> m_madeRows;
};

} // namespace kelvo
