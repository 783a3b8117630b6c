#pragma once

#include "CardData.h"

#include <QByteArray>
#include <QtGlobal>

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <vector>

namespace kelvo {

class CardArena;
class CardTree;

enum class DisplayIndex { Image = 0, SelectedImage = 1, Overlay = 2, State = 3 };

// One node of the card tree: a label (GB18030 bytes, up to 1 GiB), the
// record it owns alone, four display indexes and its ordered children. A node
// knows its parent and its row among its siblings, so a view can map it to a
// model index in constant time.
//
// Nodes made one by one live on the heap; nodes a load makes in bulk
// (CardTreeBuilder on a tree) live with their records and texts in the tree's
// arena. Either kind is deleted the same way (`delete`, std::unique_ptr); an
// arena node's memory goes when its tree is cleared or destroyed.
//
// A node takes 48 bytes: a million cards are loaded at a time. The label is
// a view of bytes the node keeps (for an arena node, often the very bytes of
// its record's name); a view of it is valid until the label changes or the
// node goes. The display indexes are kept as four signed bytes when each
// fits one (image numbers and -1, all that real files hold); otherwise they
// stand as four 32-bit numbers just before the label's bytes.
class CardNode
{
public:
    CardNode(const CardNode &) = delete;
    CardNode &operator=(const CardNode &) = delete;
    ~CardNode();
    // Runs the destructor, and gives the memory back unless it lies in a
    // tree's arena.
    void operator delete(CardNode *node, std::destroying_delete_t);

    QByteArrayView label() const { return QByteArrayView(m_labelText, m_labelBits & LabelSizeMask); }
    // The record, or nullptr once it has been released (FreeAllCardData).
    // Read-only: every change of a record goes through CardTree, which
    // announces it.
    const TCardData *data() const { return record(); }
    // Kind of the record; -1 when the node has no record.
    std::int32_t kind() const
    {
        const TCardData *r = record();
        return r ? r->Kind : -1;
    }
    bool isCard() const { return kind() == Kind::Card; }
    bool isCardClass() const { return kind() == Kind::CardClass; }

    std::array<std::int32_t, 4> displayIndexes() const
    {
        std::array<std::int32_t, 4> indexes;
        if (m_labelBits & WideIndexes) {
            std::memcpy(indexes.data(), m_labelText - WideIndexBytes, WideIndexBytes);
        } else {
            for (size_t i = 0; i < indexes.size(); ++i)
                indexes[i] = m_narrowIndexes[i];
        }
        return indexes;
    }
    std::int32_t displayIndex(DisplayIndex which) const { return displayIndexes()[static_cast<size_t>(which)]; }
    std::int32_t imageIndex() const { return displayIndex(DisplayIndex::Image); }
    std::int32_t selectedIndex() const { return displayIndex(DisplayIndex::SelectedImage); }
    std::int32_t overlayIndex() const { return displayIndex(DisplayIndex::Overlay); }
    std::int32_t stateIndex() const { return displayIndex(DisplayIndex::State); }

    // nullptr for a top-level node.
    CardNode *parent() const { return m_parent && !m_parent->isRoot() ? m_parent : nullptr; }
    // Position among its siblings (top-level nodes: among the top level).
    int row() const { return m_row; }
    int childCount() const { return m_children ? m_children->count : 0; }
    CardNode *child(int row) const
    {
        if (row < 0 || row >= childCount())
            return nullptr;
        return m_children->items()[row];
    }
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

    // The children of a node: a count, room, and the pointers, in one heap
    // block. Leaves (all cards) have none.
    struct Children
    {
        int count;
        int capacity;
        CardNode **items() { return reinterpret_cast<CardNode **>(this + 1); }
        CardNode *const *items() const { return reinterpret_cast<CardNode *const *>(this + 1); }
    };

    // Flags kept in the low bits of m_record (records are 8-byte aligned).
    enum : std::uintptr_t {
        InArena = 1,       // the node itself lies in a tree's arena
        RecordInArena = 2, // the record lies in the arena (destroyed, never freed)
        IsRoot = 4,        // the tree's hidden root, never shown
        FlagBits = 7,
    };

    // m_labelBits: the label's size, and two flags.
    static constexpr std::uint32_t LabelSizeMask = (std::uint32_t(1) << 30) - 1;
    static constexpr std::uint32_t OwnsLabel = std::uint32_t(1) << 30;   // the bytes are the node's own heap block
    static constexpr std::uint32_t WideIndexes = std::uint32_t(1) << 31; // the indexes stand before the label
    static constexpr std::size_t WideIndexBytes = 4 * sizeof(std::int32_t);

    CardNode(QByteArrayView label, std::unique_ptr<TCardData> data, CardNode *parent);

    TCardData *record() const { return reinterpret_cast<TCardData *>(m_record & ~std::uintptr_t(FlagBits)); }
    bool isRoot() const { return m_record & IsRoot; }
    bool inArena() const { return m_record & InArena; }
    // Replaces the record (nullptr: none), destroying the previous one.
    void setRecord(std::unique_ptr<TCardData> data);
    void setBulkRecord(TCardData *data);
    void destroyRecord();

    // Replaces the label by a copy of `label` in a heap block of the node's
    // own (`label` may be the node's current label).
    void setLabelBytes(QByteArrayView label);
    void setIndexes(const std::array<std::int32_t, 4> &indexes);
    // Gives the label's block back, if the node owns one; the label is then
    // empty and the indexes are those of the narrow bytes.
    void releaseLabel();
    // Where a label and its flags stand once laid out.
    struct LabelLayout
    {
        char *text;
        std::uint32_t bits;
    };
    // Bytes a label needs with these indexes (wide indexes go before it).
    // Throws std::length_error for a label over 1 GiB.
    static std::size_t labelStorageBytes(QByteArrayView label, const std::array<std::int32_t, 4> &indexes);
    // Writes `label`, and the indexes when they are wide, at `storage`.
    static LabelLayout layOutLabel(char *storage, QByteArrayView label, const std::array<std::int32_t, 4> &indexes);
    // Makes a laid-out label the node's (`owned`: a heap block of its own),
    // and the indexes its own, giving back the previous label's block.
    void takeLabel(LabelLayout layout, const std::array<std::int32_t, 4> &indexes, bool owned);
    static bool fitNarrow(const std::array<std::int32_t, 4> &indexes);

    // Children, kept in row order; inserting makes room as a vector would.
    void insertChildren(int row, CardNode *const *nodes, int n);
    CardNode *takeChild(int row);
    void reserveChildren(int n);
    // Deletes every node below this one, without recursion.
    void deleteSubtree();
    void renumberFrom(int row);

    std::uintptr_t m_record = 0;  // TCardData *, with the flags above
    CardNode *m_parent = nullptr; // the tree's hidden root for top-level nodes
    Children *m_children = nullptr;
    char *m_labelText = nullptr;  // nullptr only for an empty label with narrow indexes
    std::uint32_t m_labelBits = 0;
    int m_row = 0;
    mutable int m_absoluteIndex = -1; // valid while the tree's order cache is
    std::array<std::int8_t, 4> m_narrowIndexes = {0, 0, -1, -1};
};

// Receives every change of the tree's shape and of node attributes, in the
// order a Qt item model needs them (begin/end pairs). `parent` is nullptr for
// the top level. Rows in the "about to" calls are those before the change.
class CardTreeObserver
{
public:
    virtual ~CardTreeObserver() = default;
    virtual void nodesAboutToBeInserted(CardNode *parent, int first, int last)
    {
        (void)parent;
        (void)first;
        (void)last;
    }
    virtual void nodesInserted(CardNode *parent, int first, int last)
    {
        (void)parent;
        (void)first;
        (void)last;
    }
    virtual void nodesAboutToBeRemoved(CardNode *parent, int first, int last)
    {
        (void)parent;
        (void)first;
        (void)last;
    }
    virtual void nodesRemoved(CardNode *parent, int first, int last)
    {
        (void)parent;
        (void)first;
        (void)last;
    }
    // `destinationRow` follows QAbstractItemModel::beginMoveRows: the row in
    // `newParent` before which the node goes, counted before the move.
    virtual void nodeAboutToBeMoved(CardNode *node, CardNode *newParent, int destinationRow)
    {
        (void)node;
        (void)newParent;
        (void)destinationRow;
    }
    virtual void nodeMoved(CardNode *node) { (void)node; }
    // Label, display index or record replaced.
    virtual void nodeChanged(CardNode *node) { (void)node; }
    // A field of the node's record is about to change (CardTree::setField,
    // only when the stored value really changes): the last moment the old
    // value can be read. nodeChanged follows.
    virtual void fieldAboutToChange(CardNode *node, int n)
    {
        (void)node;
        (void)n;
    }
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
    // The queries only read, with one exception: count(), nodeAt() and
    // absoluteIndexOf() fill the order cache after a change of shape. Once one of
    // them has run, and while the shape stays, several threads may query the
    // tree at once (the search shares its walk between two threads so).
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
    CardNode *addTopLevel(QByteArrayView label, std::unique_ptr<TCardData> data = {});
    CardNode *addTopLevelFirst(QByteArrayView label, std::unique_ptr<TCardData> data = {});
    // Adds as the last child of `parent`; nullptr adds at the end of the top level.
    CardNode *addChild(CardNode *parent, QByteArrayView label, std::unique_ptr<TCardData> data = {});
    // Adds all `nodes` as the last children of `parent` (nullptr: the top
    // level) with one announcement. Returns the last node added, or nullptr
    // when `nodes` is empty.
    CardNode *addChildren(CardNode *parent, std::vector<NewCardNode> nodes);

    // Each setter below announces nodeChanged only when the value really
    // changes, and returns whether it did.
    bool setLabel(CardNode *node, QByteArrayView label);
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

    // Bytes of the arena that holds the nodes made in bulk (for memory
    // accounting; nodes made one by one are on the heap).
    std::size_t bulkBytes() const;

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

    CardArena &arena();

    std::unique_ptr<CardNode> m_root;
    std::unique_ptr<CardArena> m_arena; // made by the first bulk builder
    int m_bulkBuilders = 0;             // CardTreeBuilders alive on this tree
    std::vector<CardTreeObserver *> m_observers;
    mutable std::vector<CardNode *> m_order; // absolute order cache
    mutable bool m_orderValid = true;
    quint64 m_shapeVersion = 0;
    quint64 m_changeCount = 0;
};

// Builds nodes off the tree, so that a subtree can be made complete before
// it is adopted and announced (the data file reader, the JSON reader).
//
// The static functions make nodes on the heap, one allocation each, which
// any tree may adopt. A builder object made on a tree makes nodes in bulk:
// node, record and texts in one piece of that tree's arena, with the label
// sharing the name's bytes where the two are equal. Those nodes may be
// adopted by that tree only. While a builder lives, the tree keeps its arena
// even when it is cleared.
class CardTreeBuilder
{
public:
    static std::unique_ptr<CardNode> makeNode(QByteArrayView label, std::unique_ptr<TCardData> data = {});
    static CardNode *addChild(CardNode *parent, QByteArrayView label, std::unique_ptr<TCardData> data = {});
    static void setLabel(CardNode *node, QByteArrayView label);
    static void setDisplayIndexes(CardNode *node, const std::array<std::int32_t, 4> &indexes)
    {
        node->setIndexes(indexes);
    }
    static void attachRecord(CardNode *node, std::unique_ptr<TCardData> data);
    // Appends complete subtrees made off the tree (moved from `children`;
    // null entries are skipped) as the last children of `parent`.
    static void adoptChildren(CardNode *parent, std::span<std::unique_ptr<CardNode>> children);

    // What a node made in bulk holds. Texts longer than a field holds are
    // cut as TCardData::setField cuts them (the label is kept whole).
    struct NodeContents
    {
        QByteArrayView label;
        std::array<QByteArrayView, Field::Count> fields; // fields[0] is the name
        std::int32_t kind = Kind::CardClass;
        double created = 0.0;
        std::array<std::int32_t, 4> indexes = {0, 0, -1, -1};
    };

    explicit CardTreeBuilder(CardTree &tree);
    // Makes nodes in bulk in `arena`, for instance on another thread, for the
    // tree whose builder later takes the arena over (takeOverArena); until
    // then they may be linked to each other but adopted by no tree.
    explicit CardTreeBuilder(CardArena &arena);
    ~CardTreeBuilder();
    CardTreeBuilder(const CardTreeBuilder &) = delete;
    CardTreeBuilder &operator=(const CardTreeBuilder &) = delete;

    // A node in bulk with no parent yet: the root of a subtree for
    // CardTree::adoptTopLevel of this builder's tree.
    std::unique_ptr<CardNode> makeBulkNode(const NodeContents &contents);
    // A node in bulk as the last child of `parent` (a node off the tree).
    CardNode *addBulkChild(CardNode *parent, const NodeContents &contents);
    // Appends `child`, a node made in bulk with no parent yet, as the last
    // child of `parent` (a node off the tree).
    static void appendBulkChild(CardNode *parent, CardNode *child);
    // Makes the nodes made in `arena` (see above) this builder's tree's own.
    void takeOverArena(CardArena &arena);

private:
    CardNode *makeInArena(const NodeContents &contents, CardNode *parent);

    CardTree *m_tree; // null for nodes in an arena of their own
    CardArena &m_arena;
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
        CardNode *childNode = node->m_children->items()[next++];
        visit(childNode);
        if (childNode->m_children && childNode->m_children->count > 0)
            stack.emplace_back(childNode, 0);
    }
}

} // namespace kelvo
