#include "SearchResultModel.h"

#include "FieldCaptions.h"
#include "Folding.h"
#include "Gb18030.h"

#include <QSet>

namespace kelvo {

namespace {

constexpr int ColumnCount = 13;

} // namespace

SearchResultModel::SearchResultModel(CardTree &tree, QObject *parent)
    : QAbstractTableModel(parent)
    , m_tree(tree)
{
    m_tree.addObserver(this);
}

SearchResultModel::~SearchResultModel()
{
    m_tree.removeObserver(this);
}

int SearchResultModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int SearchResultModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant SearchResultModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return gb18030::decode(text(index.row(), index.column() + 1));
    case Qt::TextAlignmentRole:
        return index.column() == 0 ? QVariant(Qt::AlignLeft | Qt::AlignVCenter) : QVariant(Qt::AlignCenter);
    default:
        return {};
    }
}

QVariant SearchResultModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (role == Qt::DisplayRole)
        return FieldCaption(section + 1);
    if (role == Qt::TextAlignmentRole)
        return section == 0 ? QVariant(Qt::AlignLeft | Qt::AlignVCenter) : QVariant(Qt::AlignCenter);
    return {};
}

Qt::ItemFlags SearchResultModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

void SearchResultModel::setFound(const std::vector<FoundCard> &cards)
{
    beginResetModel();
    m_rows.clear();
    m_rows.shrink_to_fit();
    m_copies.clear();
    m_rows.reserve(cards.size());
    for (const FoundCard &found : cards)
        m_rows.push_back({found.Node, found.Card, -1});
    rowsChanged();
    endResetModel();
}

void SearchResultModel::clear()
{
    if (m_rows.empty())
        return;
    setFound({});
}

QByteArray SearchResultModel::text(int row, int n) const
{
    if (row < 0 || row >= count() || n < Field::First || n > Field::Last)
        return {};
    const Row &r = m_rows[static_cast<size_t>(row)];
    if (r.copied >= 0)
        return m_copies[static_cast<size_t>(r.copied)][static_cast<size_t>(n - 1)];
    return FoldText(r.card->field(n)); // the card is as it was at the search
}

const std::vector<TResultRow> &SearchResultModel::rows() const
{
    if (!m_madeRows) {
        // Rows folded from their cards keep their texts in one block each
        // (a large list makes and frees a block per row, not thirteen).
        std::vector<TResultRow> made;
        made.reserve(m_rows.size());
        for (const Row &r : m_rows) {
            if (r.copied < 0) {
                made.push_back(MakeResultRow(r.node, *r.card));
                continue;
            }
            TResultRow &row = made.emplace_back();
            row.Texts = m_copies[static_cast<size_t>(r.copied)];
            row.Card = r.card;
            row.Node = r.node;
        }
        m_madeRows = std::move(made);
    }
    return *m_madeRows;
}

template<typename Predicate>
void SearchResultModel::dropRows(Predicate gone)
{
    // Rows that go, as runs of neighbours [first, last].
    std::vector<std::pair<int, int>> runs;
    for (int row = 0; row < static_cast<int>(m_rows.size()); ++row) {
        if (!gone(m_rows[static_cast<size_t>(row)]))
            continue;
        if (!runs.empty() && runs.back().second == row - 1)
            runs.back().second = row;
        else
            runs.emplace_back(row, row);
    }
    if (runs.empty())
        return;

    // Many scattered rows (a card class with many cards deleted): one reset
    // is far cheaper for the view than a removal per run.
    constexpr size_t MaxRunsAnnouncedOneByOne = 16;
    if (runs.size() > MaxRunsAnnouncedOneByOne) {
        beginResetModel();
        std::erase_if(m_rows, gone);
        rowsChanged();
        endResetModel();
        return;
    }
    // From the back, so the runs still to be removed keep their numbers.
    for (auto run = runs.rbegin(); run != runs.rend(); ++run) {
        beginRemoveRows(QModelIndex(), run->first, run->second);
        m_rows.erase(m_rows.begin() + run->first, m_rows.begin() + run->second + 1);
        rowsChanged();
        endRemoveRows();
    }
}

void SearchResultModel::nodesAboutToBeRemoved(CardNode *parent, int first, int last)
{
    if (m_rows.empty())
        return;
    // Every node that goes: the removed nodes with their whole subtrees. The
    // walk costs no more than the deletion itself.
    QSet<const CardNode *> removed;
    std::vector<const CardNode *> pending;
    for (int row = first; row <= last; ++row) {
        if (const CardNode *node = m_tree.child(parent, row))
            pending.push_back(node);
    }
    while (!pending.empty()) {
        const CardNode *node = pending.back();
        pending.pop_back();
        removed.insert(node);
        for (int i = 0; i < node->childCount(); ++i)
            pending.push_back(node->child(i));
    }
    dropRows([&removed](const Row &row) { return removed.contains(row.node); });
}

void SearchResultModel::fieldAboutToChange(CardNode *node, int n)
{
    (void)n;
    // The list shows the texts of the search's time: the last moment to
    // copy them from the card.
    for (Row &row : m_rows) {
        if (row.node != node || row.copied >= 0 || row.card != node->data())
            continue;
        std::array<QByteArray, Field::Count> texts;
        for (int field = Field::First; field <= Field::Last; ++field)
            texts[static_cast<size_t>(field - 1)] = FoldText(row.card->field(field));
        row.copied = static_cast<std::int32_t>(m_copies.size());
        m_copies.push_back(std::move(texts));
    }
}

void SearchResultModel::nodeChanged(CardNode *node)
{
    // A released or replaced record is gone even though its node stays.
    dropRows([node](const Row &row) { return row.node == node && row.card != node->data(); });
}

void SearchResultModel::treeAboutToBeReset()
{
    clear();
}

} // namespace kelvo
