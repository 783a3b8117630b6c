#include "SearchResultModel.h"

#include "FieldCaptions.h"
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
        return gb18030::decode(m_rows[static_cast<size_t>(index.row())].Texts[static_cast<size_t>(index.column())]);
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

void SearchResultModel::setRows(std::vector<TResultRow> rows)
{
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
}

void SearchResultModel::clear()
{
    if (m_rows.empty())
        return;
    setRows({});
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
        std::vector<TResultRow> kept;
        kept.reserve(m_rows.size());
        for (TResultRow &row : m_rows) {
            if (!gone(row))
                kept.push_back(std::move(row));
        }
        m_rows = std::move(kept);
        endResetModel();
        return;
    }
    // From the back, so the runs still to be removed keep their numbers.
    for (auto run = runs.rbegin(); run != runs.rend(); ++run) {
        beginRemoveRows(QModelIndex(), run->first, run->second);
        m_rows.erase(m_rows.begin() + run->first, m_rows.begin() + run->second + 1);
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
    dropRows([&removed](const TResultRow &row) { return removed.contains(row.Node); });
}

void SearchResultModel::nodeChanged(CardNode *node)
{
    // A released or replaced record is gone even though its node stays.
    dropRows([node](const TResultRow &row) { return row.Node == node && row.Card != node->data(); });
}

void SearchResultModel::treeAboutToBeReset()
{
    clear();
}

} // namespace kelvo
