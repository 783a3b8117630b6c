#pragma once

#include "CardTree.h"

#include <QAbstractItemModel>

namespace kelvo {

class ImageList;

// The card tree as a Qt item model: one column, an item per node, the node's
// label (GB18030 bytes, decoded for display) and the picture of its image
// index. It follows every change the tree announces. The node pointer is the
// index's internal pointer.
class CardTreeModel final
    : public QAbstractItemModel
    , private CardTreeObserver
{
    Q_OBJECT

public:
    // The node itself, for views and delegates.
    static constexpr int NodeRole = Qt::UserRole + 1;

    CardTreeModel(CardTree &tree, const ImageList *images, QObject *parent = nullptr);
    ~CardTreeModel() override;

    CardTree &tree() const { return m_tree; }

    QModelIndex indexOfNode(const CardNode *node) const;
    // nullptr for an invalid index.
    static CardNode *nodeOfIndex(const QModelIndex &index);

    // A bulk change (the load) is shown as one model reset at its end: until
    // then the model keeps showing the top level as it was when the bulk
    // change began, so views that repaint meanwhile never see a half-built
    // tree nor receive one signal per node. Only appending at the top level
    // is allowed during a bulk change.
    void beginBulkChange();
    void endBulkChange();
    bool inBulkChange() const { return m_bulk; }

    QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    bool hasChildren(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    // CardTreeObserver
    void nodesAboutToBeInserted(CardNode *parent, int first, int last) override;
    void nodesInserted(CardNode *parent, int first, int last) override;
    void nodesAboutToBeRemoved(CardNode *parent, int first, int last) override;
    void nodesRemoved(CardNode *parent, int first, int last) override;
    void nodeAboutToBeMoved(CardNode *node, CardNode *newParent, int destinationRow) override;
    void nodeMoved(CardNode *node) override;
    void nodeChanged(CardNode *node) override;
    void treeAboutToBeReset() override;
    void treeReset() override;

    QModelIndex parentIndex(const CardNode *parent) const;

    CardTree &m_tree;
    const ImageList *m_images;
    bool m_bulk = false;
    int m_frozenTopLevel = 0;
    bool m_moveAsReset = false;
};

} // namespace kelvo
