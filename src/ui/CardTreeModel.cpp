#include "CardTreeModel.h"

#include "Gb18030.h"
#include "ImageList.h"

namespace kelvo {

CardTreeModel::CardTreeModel(CardTree &tree, const ImageList *images, QObject *parent)
    : QAbstractItemModel(parent)
    , m_tree(tree)
    , m_images(images)
{
    m_tree.addObserver(this);
}

CardTreeModel::~CardTreeModel()
{
    m_tree.removeObserver(this);
}

QModelIndex CardTreeModel::indexOfNode(const CardNode *node) const
{
    if (!node)
        return QModelIndex();
    if (m_bulk && !node->parent() && node->row() >= m_frozenTopLevel)
        return QModelIndex(); // not shown until the bulk change ends
    return createIndex(node->row(), 0, const_cast<CardNode *>(node));
}

CardNode *CardTreeModel::nodeOfIndex(const QModelIndex &index)
{
    return index.isValid() ? static_cast<CardNode *>(index.internalPointer()) : nullptr;
}

void CardTreeModel::beginBulkChange()
{
    if (m_bulk)
        return;
    m_frozenTopLevel = m_tree.topLevelCount();
    beginResetModel();
    m_bulk = true;
}

void CardTreeModel::endBulkChange()
{
    if (!m_bulk)
        return;
    m_bulk = false;
    endResetModel();
}

QModelIndex CardTreeModel::parentIndex(const CardNode *parent) const
{
    return parent ? indexOfNode(parent) : QModelIndex();
}

QModelIndex CardTreeModel::index(int row, int column, const QModelIndex &parent) const
{
    if (column != 0 || row < 0 || row >= rowCount(parent))
        return QModelIndex();
    CardNode *node = m_tree.child(nodeOfIndex(parent), row);
    return node ? createIndex(row, 0, node) : QModelIndex();
}

QModelIndex CardTreeModel::parent(const QModelIndex &child) const
{
    const CardNode *node = nodeOfIndex(child);
    if (!node)
        return QModelIndex();
    return parentIndex(node->parent());
}

int CardTreeModel::rowCount(const QModelIndex &parent) const
{
    if (parent.column() > 0)
        return 0;
    if (!parent.isValid())
        return m_bulk ? m_frozenTopLevel : m_tree.topLevelCount();
    return nodeOfIndex(parent)->childCount();
}

int CardTreeModel::columnCount(const QModelIndex &parent) const
{
    return parent.column() > 0 ? 0 : 1;
}

bool CardTreeModel::hasChildren(const QModelIndex &parent) const
{
    return rowCount(parent) > 0;
}

QVariant CardTreeModel::data(const QModelIndex &index, int role) const
{
    const CardNode *node = nodeOfIndex(index);
    if (!node)
        return QVariant();
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return gb18030::decode(node->label());
    case Qt::DecorationRole:
        return m_images ? m_images->icon(node->imageIndex()) : QVariant();
    case NodeRole:
        return QVariant::fromValue(static_cast<void *>(const_cast<CardNode *>(node)));
    default:
        return QVariant();
    }
}

Qt::ItemFlags CardTreeModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    // Editable so that the view opens the label editor; the editor's delegate
    // writes the label through the tree, never through setData.
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable;
}

void CardTreeModel::nodesAboutToBeInserted(CardNode *parent, int first, int last)
{
    if (m_bulk)
        return;
    beginInsertRows(parentIndex(parent), first, last);
}

void CardTreeModel::nodesInserted(CardNode *, int, int)
{
    if (m_bulk)
        return;
    endInsertRows();
}

void CardTreeModel::nodesAboutToBeRemoved(CardNode *parent, int first, int last)
{
    if (m_bulk)
        return;
    beginRemoveRows(parentIndex(parent), first, last);
}

void CardTreeModel::nodesRemoved(CardNode *, int, int)
{
    if (m_bulk)
        return;
    endRemoveRows();
}

void CardTreeModel::nodeAboutToBeMoved(CardNode *node, CardNode *newParent, int destinationRow)
{
    if (m_bulk)
        return;
    const QModelIndex from = parentIndex(node->parent());
    m_moveAsReset = !beginMoveRows(from, node->row(), node->row(), parentIndex(newParent), destinationRow);
    // A move the view cannot express as one (it should not happen: the tree
    // refuses moves into the node's own subtree) is shown as a reset.
    if (m_moveAsReset)
        beginResetModel();
}

void CardTreeModel::nodeMoved(CardNode *)
{
    if (m_bulk)
        return;
    if (m_moveAsReset) {
        m_moveAsReset = false;
        endResetModel();
        return;
    }
    endMoveRows();
}

void CardTreeModel::nodeChanged(CardNode *node)
{
    if (m_bulk)
        return;
    const QModelIndex index = indexOfNode(node);
    if (index.isValid())
        Q_EMIT dataChanged(index, index);
}

void CardTreeModel::treeAboutToBeReset()
{
    if (m_bulk)
        return;
    beginResetModel();
}

void CardTreeModel::treeReset()
{
    if (m_bulk)
        return;
    endResetModel();
}

} // namespace kelvo
