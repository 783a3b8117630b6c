#pragma once

#include "CardTree.h"

#include <QStringList>

#include <memory>
#include <vector>

namespace kelvo::test {

// Keeps its own copy of the tree's shape, changed only through the
// announcements, the way a Qt item model and its view would. After every
// change it compares the copy with the tree and checks the begin/end pairing
// and the move rules of QAbstractItemModel::beginMoveRows. Problems are
// collected in `errors`.
class MirrorObserver : public CardTreeObserver
{
public:
    explicit MirrorObserver(CardTree &tree);
    ~MirrorObserver() override;

    QStringList errors;
    QStringList
        events; // "insert(parent,first,last)", "remove(...)", "move(node,parent,row)", "reset", "changed(label)"

    void nodesAboutToBeInserted(CardNode *parent, int first, int last) override;
    void nodesInserted(CardNode *parent, int first, int last) override;
    void nodesAboutToBeRemoved(CardNode *parent, int first, int last) override;
    void nodesRemoved(CardNode *parent, int first, int last) override;
    void nodeAboutToBeMoved(CardNode *node, CardNode *newParent, int destinationRow) override;
    void nodeMoved(CardNode *node) override;
    void nodeChanged(CardNode *node) override;
    void treeAboutToBeReset() override;
    void treeReset() override;

    // Compares the copy with the tree; returns false and records an error on a difference.
    bool matchesTree();

private:
    struct Node
    {
        CardNode *node = nullptr;
        Node *parent = nullptr;
        std::vector<std::unique_ptr<Node>> children;
    };
    enum class Pending { None, Insert, Remove, Move, Reset };

    Node *find(const CardNode *node);
    void rebuild(Node &into, CardNode *parent);
    static QString name(const CardNode *node);

    CardTree &m_tree;
    Node m_root;
    Pending m_pending = Pending::None;
    CardNode *m_pendingParent = nullptr;
    int m_pendingFirst = 0;
    int m_pendingLast = 0;
    CardNode *m_moving = nullptr;
    Node *m_moveFrom = nullptr;
    int m_moveFromRow = 0;
};

} // namespace kelvo::test
