#pragma once

#include "CardData.h"

#include <QByteArray>
#include <QtGlobal>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace kelvo {

class CardTree;

enum class DisplayIndex { Image = 0, SelectedImage = 1, Overlay = 2, State = 3 };

// One node of the card tree: a label (GB18030 bytes, no length limit), the
// record it owns alone, four display indexes and its ordered children. A node
// knows its parent and its row among its siblings, so a view can map it to a
// model index in constant time.
class CardNode
{
public:
    CardNode(const CardNode &) = delete;
    CardNode &operator=(const CardNode &) = delete;
    ~CardNode();

    const QByteArray &label() const { return m_label; }
    // The record, or nullptr once it has been released (FreeAllCardData).
    // Read-only: every change of a record goes through CardTree, which
    // announces it.
    const TCardData *data() const { return m_data.get(); }
    // Kind of the record; -1 when the node has no record.
    std::int32_t kind() const { return m_data ? m_data->Kind : -1; }
    bool isCard() const { return kind() == Kind::Card; }
    bool isCardClass() const { return kind() == Kind::CardClass; }

    std::int32_t displayIndex(DisplayIndex which) const { return m_indexes[static_cast<int>(which)]; }
    std::int32_t imageIndex() const { return m_indexes[0]; }
    std::int32_t selectedIndex() const { return m_indexes[1]; }
    std::int32_t overlayIndex() const { return m_indexes[2]; }
    std::int32_t stateIndex() const { return m_indexes[3]; }
    const std::array<std::int32_t, 4> &displayIndexes() const { return m_indexes; }

    // nullptr for a top-level node.
    CardNode *parent() const;
    // Position among its siblings (top-level nodes: among the top level).
    int row() const { return m_row; }
    int childCount() const { return static_cast<int>(m_children.size()); }
    CardNode *child(int row) const;
    CardNode *firstChild() const { return child(0); }
    CardNode *lastChild() const { return child(childCount() - 1); }
    CardNode *nextSibling() const;
    CardNode *previousSibling() const;
    // Depth: 0 for a top-level node.
    int depth() const;
    // True when `other` is this node or lies in its subtree.
    bool isAncestorOf(const CardNode *other) const;

private:
    friend class CardTree;
    friend class CardTreeBuilder;

    CardNode(QByteArray label, std::unique_ptr<TCardData> data, CardNode *parent);

    QByteArray m_label;
    std::unique_ptr<TCardData> m_data;
    std::array<std::int32_t, 4> m_indexes = {0, 0, -1, -1};
    CardNode *m_parent = nullptr; // the tree's hidden root for top-level nodes
    int m_row = 0;
    mutable int m_absoluteIndex = -1; // valid while the tree's order cache is
    bool m_isRoot = false;            // the tree's hidden root, never shown
    std::vector<std::unique_ptr<CardNode>> m_children;
};

// Receives every change of the tree's shape and of node attributes, in the
// order a Qt item model needs them (begin/end pairs). `parent` is nullptr for
// the top level. Rows in the "about to" calls are those before the change.
class CardTreeObserver
{
public:
    virtual ~CardTreeObserver() = default;
    virtual void nodesAboutToBeInserted(CardNode *parent, int first, int last) { (void)parent; (void)first; (void)last; }
    virtual void nodesInserted(CardNode *parent, int first, int last) { (void)parent; (void)first; (void)last; }
    virtual void nodesAboutToBeRemoved(CardNode *parent, int first, int last) { (void)parent; (void)first; (void)last; }
    virtual void nodesRemoved(CardNode *parent, int first, int last) { (void)parent; (void)first; (void)last; }
    // `destinationRow` follows QAbstractItemModel::beginMoveRows: the row in
    // `newParent` before which the node goes, counted before the move.
    virtual void nodeAboutToBeMoved(CardNode *node, CardNode *newParent, int destinationRow) { (void)node; (void)newParent; (void)destinationRow; }
    virtual void nodeMoved(CardNode *node) { (void)node; }
    // Label, display index or record replaced.
    virtual void nodeChanged(CardNode *node) { (void)node; }
    virtual void treeAboutToBeReset() {}
    virtual void treeReset() {}
    // After every announced change above, once the change is complete: the
    // one hook for "the tree differs from what was there" (unsaved changes).
    virtual void treeChanged() {}
};

// A node about to be added by CardTree::addChildren.
struct NewCardNode
{
    QByteArray label;
    std::unique_ptr<TCardData> data;
    // Image, selected image, overlay, state (a card's are 1, 1, 1, 1).
    std::array<std::int32_t, 4> displayIndexes = {0, 0, -1, -1};
};

// The ordered tree of card classes and cards. Absolute order is depth-first
// pre-order over the top level; index 0 is the first top-level node.
class CardTree
{
public:
    enum class MoveMode {
        AsLastChild,   // the target's last child
        AsLastSibling, // the last child of the target's parent (or last top-level node)
        BeforeTarget,  // just before the target, as its sibling
    };

    CardTree();
    ~CardTree();
    CardTree(const CardTree &) = delete;
    CardTree &operator=(const CardTree &) = delete;

    // --- queries
    int count() const; // all nodes at every depth
    bool isEmpty() const { return topLevelCount() == 0; }
    // Node at absolute (pre-order) index, nullptr when out of range. Amortised
    // O(1): the order is cached and rebuilt once after a change of shape.
    CardNode *nodeAt(int absoluteIndex) const;
    int absoluteIndexOf(const CardNode *node) const;
    int topLevelCount() const;
    CardNode *topLevel(int row) const;
    CardNode *firstTopLevel() const { return topLevel(0); }
    CardNode *lastInAbsoluteOrder() const;
    // Children of `parent`, or the top level when `parent` is nullptr.
    int childCount(const CardNode *parent) const;
    CardNode *child(const CardNode *parent, int row) const;

    // Calls `visit(node)` for every node in absolute order; cheap, no cache.
    template<typename Visit>
    void forEach(Visit &&visit) const
    {
        forEachBelow(m_root.get(), visit);
    }

    // --- changes (each announced to the observers)
    CardNode *addTopLevel(QByteArray label, std::unique_ptr<TCardData> data = {});
    CardNode *addTopLevelFirst(QByteArray label, std::unique_ptr<TCardData> data = {});
    // Adds as the last child of `parent`; nullptr adds at the end of the top level.
    CardNode *addChild(CardNode *parent, QByteArray label, std::unique_ptr<TCardData> data = {});
    // Adds all `nodes` as the last children of `parent` (nullptr: the top
    // level) with one announcement. Returns the last node added, or nullptr
    // when `nodes` is empty.
    CardNode *addChildren(CardNode *parent, std::vector<NewCardNode> nodes);

    // Each setter below announces nodeChanged only when the value really
    // changes, and returns whether it did.
    bool setLabel(CardNode *node, QByteArray label);
    // Stores `text` into field n (1..13) of the node's record, cut as
    // TCardData::setField cuts it. False (nothing announced) when the node has
    // no record, n is out of range, or the stored value would stay the same.
    bool setField(CardNode *node, int n, QByteArrayView text);
    bool setDisplayIndex(CardNode *node, DisplayIndex which, std::int32_t value);
    bool setDisplayIndexes(CardNode *node, std::int32_t image, std::int32_t selected, std::int32_t overlay,
                           std::int32_t state);
    void attachRecord(CardNode *node, std::unique_ptr<TCardData> data);
    // Releases the node's record; the node stays, with no record.
    void releaseRecord(CardNode *node);

    // Moves `node` with its subtree relative to `target`. Returns false, and
    // changes nothing, when the target lies in the node's own subtree, when
    // the node is the target, or when the node already stands there.
    bool moveNode(CardNode *node, CardNode *target, MoveMode mode);
    // Where moveNode would put the node: the new parent (nullptr = top level)
    // and the row before which it goes, counted before the move.
    bool movePlacement(const CardNode *node, const CardNode *target, MoveMode mode, CardNode **newParent,
                       int *destinationRow) const;

    // Deletes the node with its subtree and all their records.
    void deleteNode(CardNode *node);
    void deleteChildren(CardNode *node);
    void clear();

    // Adopts a whole subtree built off the tree (the data file reader builds
    // each top-level node complete, then announces it once).
    CardNode *adoptTopLevel(std::unique_ptr<CardNode> subtree);
    // Adopts several complete subtrees at the end of the top level with one
    // announcement. Null entries are skipped.
    void adoptTopLevel(std::vector<std::unique_ptr<CardNode>> subtrees);

    // Grows with every change of shape (insert, remove, move, clear). A long
    // walk that lets events run in between compares it to notice changes.
    quint64 shapeVersion() const { return m_shapeVersion; }
    // Grows with every announced change of any kind (shape, label, field,
    // display index, record). Never shrinks.
    quint64 changeCount() const { return m_changeCount; }

    void addObserver(CardTreeObserver *observer);
    void removeObserver(CardTreeObserver *observer);

private:
    friend class CardNode;
    friend class CardTreeBuilder;

    template<typename Visit>
    static void forEachBelow(const CardNode *parent, Visit &visit);

    CardNode *parentOrRoot(const CardNode *parent) const;
    CardNode *insertNode(CardNode *parentOrRoot, int row, std::unique_ptr<CardNode> node);
    void renumber(CardNode *parentOrRoot, int fromRow);
    void invalidateOrder();
    void ensureOrder() const;
    CardNode *announcedParent(const CardNode *parentOrRoot) const;
    void announceNodeChanged(CardNode *node);
    void announceTreeChanged();

    std::unique_ptr<CardNode> m_root;
    std::vector<CardTreeObserver *> m_observers;
    mutable std::vector<CardNode *> m_order; // absolute order cache
    mutable bool m_orderValid = true;
    quint64 m_shapeVersion = 0;
    quint64 m_changeCount = 0;
};

// Builds nodes off the tree (for the data file reader), so that a subtree can
// be made complete before it is adopted and announced.
class CardTreeBuilder
{
public:
    static std::unique_ptr<CardNode> makeNode(QByteArray label, std::unique_ptr<TCardData> data = {});
    static CardNode *addChild(CardNode *parent, QByteArray label, std::unique_ptr<TCardData> data = {});
    static void setLabel(CardNode *node, QByteArray label) { node->m_label = std::move(label); }
    static void setDisplayIndexes(CardNode *node, const std::array<std::int32_t, 4> &indexes) { node->m_indexes = indexes; }
    static void attachRecord(CardNode *node, std::unique_ptr<TCardData> data) { node->m_data = std::move(data); }
};

template<typename Visit>
void CardTree::forEachBelow(const CardNode *parent, Visit &visit)
{
    // Iterative pre-order walk: deep trees from data files must not overflow the stack.
    std::vector<std::pair<const CardNode *, int>> stack;
    stack.emplace_back(parent, 0);
    while (!stack.empty()) {
        auto &[node, next] = stack.back();
        if (next >= node->childCount()) {
            stack.pop_back();
            continue;
        }
        CardNode *childNode = node->m_children[static_cast<size_t>(next++)].get();
        visit(childNode);
        if (childNode->childCount() > 0)
            stack.emplace_back(childNode, 0);
    }
}

} // namespace kelvo
