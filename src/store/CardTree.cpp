#include "CardTree.h"

#include "CardArena.h"
#include "Gb18030.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

namespace kelvo {

// --- CardNode

static_assert(sizeof(void *) != 8 || sizeof(CardNode) == 48, "a card node takes 48 bytes");

CardNode::CardNode(QByteArrayView label, std::unique_ptr<TCardData> data, CardNode *parent)
    : m_record(reinterpret_cast<std::uintptr_t>(data.get()))
    , m_parent(parent)
{
    setLabelBytes(label); // may throw: `data` still owns the record
    data.release();
}

CardNode::~CardNode()
{
    deleteSubtree();
    destroyRecord();
    releaseLabel();
}

void CardNode::operator delete(CardNode *node, std::destroying_delete_t)
{
    const bool inArena = node->inArena();
    node->~CardNode();
    if (!inArena)
        ::operator delete(node);
}

void CardNode::destroyRecord()
{
    TCardData *data = record();
    if (data) {
        if (m_record & RecordInArena)
            data->~TCardData(); // frees a buffer of its own, if an edit gave it one
        else
            delete data;
    }
    m_record &= (InArena | IsRoot);
}

void CardNode::setRecord(std::unique_ptr<TCardData> data)
{
    destroyRecord();
    m_record |= reinterpret_cast<std::uintptr_t>(data.release());
}

void CardNode::setBulkRecord(TCardData *data)
{
    destroyRecord();
    m_record |= reinterpret_cast<std::uintptr_t>(data) | RecordInArena;
}

bool CardNode::fitNarrow(const std::array<std::int32_t, 4> &indexes)
{
    return std::all_of(indexes.begin(), indexes.end(), [](std::int32_t index) {
        return index >= std::numeric_limits<std::int8_t>::min() && index <= std::numeric_limits<std::int8_t>::max();
    });
}

std::size_t CardNode::labelStorageBytes(QByteArrayView label, const std::array<std::int32_t, 4> &indexes)
{
    if (label.size() > qsizetype(LabelSizeMask))
        throw std::length_error("a card label of more than 1 GiB");
    return (fitNarrow(indexes) ? 0 : WideIndexBytes) + static_cast<std::size_t>(label.size());
}

CardNode::LabelLayout CardNode::layOutLabel(char *storage, QByteArrayView label,
                                            const std::array<std::int32_t, 4> &indexes)
{
    const bool wide = !fitNarrow(indexes);
    char *text = storage;
    if (wide) {
        std::memcpy(storage, indexes.data(), WideIndexBytes);
        text += WideIndexBytes;
    }
    if (!label.isEmpty())
        std::memcpy(text, label.data(), static_cast<size_t>(label.size()));
    return {text, static_cast<std::uint32_t>(label.size()) | (wide ? WideIndexes : 0)};
}

void CardNode::takeLabel(LabelLayout layout, const std::array<std::int32_t, 4> &indexes, bool owned)
{
    releaseLabel();
    m_labelText = layout.text;
    m_labelBits = layout.bits | (owned ? OwnsLabel : 0);
    if (!(m_labelBits & WideIndexes)) {
        for (size_t i = 0; i < indexes.size(); ++i)
            m_narrowIndexes[i] = static_cast<std::int8_t>(indexes[i]);
    }
}

void CardNode::setLabelBytes(QByteArrayView label)
{
    const std::array<std::int32_t, 4> indexes = displayIndexes();
    const std::size_t bytes = labelStorageBytes(label, indexes);
    if (bytes == 0) { // an empty label with narrow indexes needs no block
        takeLabel({nullptr, 0}, indexes, false);
        return;
    }
    // Laid out before the old block goes: `label` may lie in it.
    std::unique_ptr<char[]> storage(new char[bytes]);
    const LabelLayout layout = layOutLabel(storage.get(), label, indexes);
    storage.release();
    takeLabel(layout, indexes, true);
}

void CardNode::setIndexes(const std::array<std::int32_t, 4> &indexes)
{
    if (m_labelBits & WideIndexes) {
        // The block before the label is the node's own (its heap block, or
        // its piece of the arena).
        std::memcpy(m_labelText - WideIndexBytes, indexes.data(), WideIndexBytes);
    } else if (fitNarrow(indexes)) {
        for (size_t i = 0; i < indexes.size(); ++i)
            m_narrowIndexes[i] = static_cast<std::int8_t>(indexes[i]);
    } else { // from narrow to wide: a block with room for the indexes
        const QByteArrayView label = this->label();
        std::unique_ptr<char[]> storage(new char[labelStorageBytes(label, indexes)]);
        const LabelLayout layout = layOutLabel(storage.get(), label, indexes);
        storage.release();
        takeLabel(layout, indexes, true);
    }
}

void CardNode::releaseLabel()
{
    if (m_labelBits & OwnsLabel)
        delete[] (m_labelText - ((m_labelBits & WideIndexes) ? WideIndexBytes : 0));
    m_labelText = nullptr;
    m_labelBits = 0;
}

void CardNode::reserveChildren(int n)
{
    const int capacity = m_children ? m_children->capacity : 0;
    if (n <= capacity)
        return;
    const int wanted = std::max({n, capacity + capacity / 2, 4});
    // realloc: a large block grows in place or is remapped, never copied
    // through a second one that would stay behind as free heap.
    void *grown = std::realloc(m_children, sizeof(Children) + sizeof(CardNode *) * static_cast<size_t>(wanted));
    if (!grown)
        throw std::bad_alloc();
    const bool fresh = !m_children;
    m_children = static_cast<Children *>(grown);
    if (fresh)
        m_children->count = 0;
    m_children->capacity = wanted;
}

void CardNode::insertChildren(int row, CardNode *const *nodes, int n)
{
    if (n <= 0)
        return;
    reserveChildren(childCount() + n);
    CardNode **items = m_children->items();
    const int count = m_children->count;
    row = std::clamp(row, 0, count);
    if (row < count)
        std::memmove(items + row + n, items + row, sizeof(CardNode *) * static_cast<size_t>(count - row));
    for (int i = 0; i < n; ++i) {
        items[row + i] = nodes[i];
        nodes[i]->m_parent = this;
        nodes[i]->m_row = row + i;
    }
    m_children->count = count + n;
    if (row < count)
        renumberFrom(row + n);
}

CardNode *CardNode::takeChild(int row)
{
    CardNode **items = m_children->items();
    CardNode *taken = items[row];
    const int count = m_children->count;
    std::memmove(items + row, items + row + 1, sizeof(CardNode *) * static_cast<size_t>(count - row - 1));
    m_children->count = count - 1;
    renumberFrom(row);
    taken->m_parent = nullptr;
    return taken;
}

void CardNode::renumberFrom(int row)
{
    if (!m_children)
        return;
    CardNode **items = m_children->items();
    for (int i = std::max(row, 0); i < m_children->count; ++i)
        items[i]->m_row = i;
}

void CardNode::deleteSubtree()
{
    // Take the subtree apart without recursion: every node is childless when
    // it goes, so a chain of any depth is destroyed in a loop.
    if (!m_children)
        return;
    std::vector<CardNode *> pending(m_children->items(), m_children->items() + m_children->count);
    std::free(m_children);
    m_children = nullptr;
    while (!pending.empty()) {
        CardNode *node = pending.back();
        pending.pop_back();
        if (node->m_children) {
            pending.insert(pending.end(), node->m_children->items(),
                           node->m_children->items() + node->m_children->count);
            std::free(node->m_children);
            node->m_children = nullptr;
        }
        delete node;
    }
}

CardNode *CardNode::nextSibling() const
{
    return m_parent ? m_parent->child(m_row + 1) : nullptr;
}

CardNode *CardNode::previousSibling() const
{
    return m_parent ? m_parent->child(m_row - 1) : nullptr;
}

int CardNode::depth() const
{
    int result = 0;
    for (const CardNode *node = parent(); node; node = node->parent())
        ++result;
    return result;
}

bool CardNode::isAncestorOf(const CardNode *other) const
{
    for (const CardNode *node = other; node; node = node->m_parent) {
        if (node == this)
            return true;
    }
    return false;
}

// --- CardTree

CardTree::CardTree()
    : m_root(new CardNode(QByteArrayView(), nullptr, nullptr))
{
    m_root->m_record |= CardNode::IsRoot;
}

CardTree::~CardTree()
{
    // The nodes go before the arena that may hold them.
    m_root.reset();
    m_arena.reset();
}

CardArena &CardTree::arena()
{
    if (!m_arena)
        m_arena = std::make_unique<CardArena>();
    return *m_arena;
}

std::size_t CardTree::bulkBytes() const
{
    return m_arena ? m_arena->reservedBytes() : 0;
}

int CardTree::count() const
{
    ensureOrder();
    return static_cast<int>(m_order.size());
}

CardNode *CardTree::nodeAt(int absoluteIndex) const
{
    ensureOrder();
    if (absoluteIndex < 0 || static_cast<size_t>(absoluteIndex) >= m_order.size())
        return nullptr;
    return m_order[static_cast<size_t>(absoluteIndex)];
}

int CardTree::absoluteIndexOf(const CardNode *node) const
{
    if (!node)
        return -1;
    ensureOrder();
    const int index = node->m_absoluteIndex;
    if (index < 0 || static_cast<size_t>(index) >= m_order.size() || m_order[static_cast<size_t>(index)] != node)
        return -1;
    return index;
}

int CardTree::topLevelCount() const
{
    return m_root->childCount();
}

CardNode *CardTree::topLevel(int row) const
{
    return m_root->child(row);
}

CardNode *CardTree::lastInAbsoluteOrder() const
{
    CardNode *node = m_root->lastChild();
    while (node && node->childCount() > 0)
        node = node->lastChild();
    return node;
}

int CardTree::childCount(const CardNode *parent) const
{
    return parentOrRoot(parent)->childCount();
}

CardNode *CardTree::child(const CardNode *parent, int row) const
{
    return parentOrRoot(parent)->child(row);
}

CardNode *CardTree::parentOrRoot(const CardNode *parent) const
{
    return parent ? const_cast<CardNode *>(parent) : m_root.get();
}

CardNode *CardTree::announcedParent(const CardNode *parentOrRoot) const
{
    return parentOrRoot == m_root.get() ? nullptr : const_cast<CardNode *>(parentOrRoot);
}

void CardTree::renumber(CardNode *parentOrRoot, int fromRow)
{
    parentOrRoot->renumberFrom(fromRow);
}

void CardTree::invalidateOrder()
{
    m_orderValid = false;
    ++m_shapeVersion;
}

void CardTree::ensureOrder() const
{
    if (m_orderValid)
        return;
    m_order.clear();
    forEach([this](CardNode *node) {
        node->m_absoluteIndex = static_cast<int>(m_order.size());
        m_order.push_back(node);
    });
    m_orderValid = true;
}

CardNode *CardTree::insertNode(CardNode *parentOrRoot, int row, std::unique_ptr<CardNode> node)
{
    row = std::clamp(row, 0, parentOrRoot->childCount());
    CardNode *announced = announcedParent(parentOrRoot);
    for (CardTreeObserver *observer : m_observers)
        observer->nodesAboutToBeInserted(announced, row, row);
    CardNode *added = node.get();
    parentOrRoot->reserveChildren(parentOrRoot->childCount() + 1); // may throw: `node` still owns
    parentOrRoot->insertChildren(row, &added, 1);
    node.release();
    invalidateOrder();
    for (CardTreeObserver *observer : m_observers)
        observer->nodesInserted(announced, row, row);
    announceTreeChanged();
    return added;
}

CardNode *CardTree::addTopLevel(QByteArrayView label, std::unique_ptr<TCardData> data)
{
    return addChild(nullptr, label, std::move(data));
}

CardNode *CardTree::addTopLevelFirst(QByteArrayView label, std::unique_ptr<TCardData> data)
{
    std::unique_ptr<CardNode> node(new CardNode(label, std::move(data), nullptr));
    return insertNode(m_root.get(), 0, std::move(node));
}

CardNode *CardTree::addChild(CardNode *parent, QByteArrayView label, std::unique_ptr<TCardData> data)
{
    CardNode *target = parentOrRoot(parent);
    std::unique_ptr<CardNode> node(new CardNode(label, std::move(data), nullptr));
    return insertNode(target, target->childCount(), std::move(node));
}

void CardTree::announceNodeChanged(CardNode *node)
{
    for (CardTreeObserver *observer : m_observers)
        observer->nodeChanged(node);
    announceTreeChanged();
}

void CardTree::announceTreeChanged()
{
    ++m_changeCount;
    for (CardTreeObserver *observer : m_observers)
        observer->treeChanged();
}

bool CardTree::setLabel(CardNode *node, QByteArrayView label)
{
    if (!node || node->label() == label)
        return false;
    node->setLabelBytes(label);
    announceNodeChanged(node);
    return true;
}

bool CardTree::setField(CardNode *node, int n, QByteArrayView text)
{
    TCardData *data = node ? node->record() : nullptr;
    if (!data || n < Field::First || n > Field::Last)
        return false;
    TCardData &record = *data;
    const QByteArrayView stored = record.field(n);
    // Compare with what the record would keep: the cut happens at a whole
    // character within 255 bytes, so a longer text can equal the stored one.
    if (text.size() >= stored.size() && text.first(stored.size()) == stored) {
        if (text.size() == stored.size())
            return false;
        if (gb18030::cutAtCharBoundary(text, TCardData::MaxFieldBytes) == stored)
            return false;
    }
    for (CardTreeObserver *observer : m_observers)
        observer->fieldAboutToChange(node, n);
    record.setField(n, text);
    announceNodeChanged(node);
    return true;
}

bool CardTree::setDisplayIndex(CardNode *node, DisplayIndex which, std::int32_t value)
{
    std::array<std::int32_t, 4> indexes = node ? node->displayIndexes() : std::array<std::int32_t, 4>{};
    if (!node || indexes[static_cast<size_t>(which)] == value)
        return false;
    indexes[static_cast<size_t>(which)] = value;
    node->setIndexes(indexes);
    announceNodeChanged(node);
    return true;
}

bool CardTree::setDisplayIndexes(CardNode *node, std::int32_t image, std::int32_t selected, std::int32_t overlay,
                                 std::int32_t state)
{
    const std::array<std::int32_t, 4> indexes = {image, selected, overlay, state};
    if (!node || node->displayIndexes() == indexes)
        return false;
    node->setIndexes(indexes);
    announceNodeChanged(node);
    return true;
}

void CardTree::attachRecord(CardNode *node, std::unique_ptr<TCardData> data)
{
    if (!node)
        return;
    node->setRecord(std::move(data));
    announceNodeChanged(node);
}

void CardTree::releaseRecord(CardNode *node)
{
    if (!node || !node->record())
        return;
    node->destroyRecord();
    announceNodeChanged(node);
}

bool CardTree::movePlacement(const CardNode *node, const CardNode *target, MoveMode mode, CardNode **newParent,
                             int *destinationRow) const
{
    if (!node || !target || node == target || node->isRoot() || target->isRoot() || node->isAncestorOf(target))
        return false;
    CardNode *parent = nullptr; // the parent or the root
    int row = 0;
    switch (mode) {
    case MoveMode::AsLastChild:
        parent = const_cast<CardNode *>(target);
        row = parent->childCount();
        break;
    case MoveMode::AsLastSibling:
        parent = target->m_parent;
        row = parent ? parent->childCount() : 0;
        break;
    case MoveMode::BeforeTarget:
        parent = target->m_parent;
        row = target->m_row;
        break;
    }
    // Both must belong to this tree.
    if (!parent || !m_root->isAncestorOf(parent) || !m_root->isAncestorOf(node))
        return false;
    if (parent == node->m_parent && (row == node->m_row || row == node->m_row + 1))
        return false; // it already stands there
    if (newParent)
        *newParent = announcedParent(parent);
    if (destinationRow)
        *destinationRow = row;
    return true;
}

bool CardTree::moveNode(CardNode *node, CardNode *target, MoveMode mode)
{
    CardNode *announcedNewParent = nullptr;
    int destinationRow = 0;
    if (!movePlacement(node, target, mode, &announcedNewParent, &destinationRow))
        return false;
    CardNode *newParent = parentOrRoot(announcedNewParent);
    CardNode *oldParent = node->m_parent;
    const int oldRow = node->m_row;
    newParent->reserveChildren(newParent->childCount() + 1); // before anything changes

    for (CardTreeObserver *observer : m_observers)
        observer->nodeAboutToBeMoved(node, announcedNewParent, destinationRow);

    CardNode *taken = oldParent->takeChild(oldRow);
    int insertRow = destinationRow;
    if (newParent == oldParent && destinationRow > oldRow)
        --insertRow;
    newParent->insertChildren(insertRow, &taken, 1);
    invalidateOrder();

    for (CardTreeObserver *observer : m_observers)
        observer->nodeMoved(node);
    announceTreeChanged();
    return true;
}

void CardTree::deleteNode(CardNode *node)
{
    if (!node || node->isRoot() || !m_root->isAncestorOf(node))
        return;
    CardNode *parent = node->m_parent;
    const int row = node->m_row;
    CardNode *announced = announcedParent(parent);
    for (CardTreeObserver *observer : m_observers)
        observer->nodesAboutToBeRemoved(announced, row, row);
    std::unique_ptr<CardNode> taken(parent->takeChild(row));
    invalidateOrder();
    for (CardTreeObserver *observer : m_observers)
        observer->nodesRemoved(announced, row, row);
    announceTreeChanged();
    // `taken` goes here, with its subtree and all their records.
}

void CardTree::deleteChildren(CardNode *node)
{
    if (node && !m_root->isAncestorOf(node))
        return;
    CardNode *parent = parentOrRoot(node);
    const int last = parent->childCount() - 1;
    if (last < 0)
        return;
    CardNode *announced = announcedParent(parent);
    for (CardTreeObserver *observer : m_observers)
        observer->nodesAboutToBeRemoved(announced, 0, last);
    // Off the tree first, destroyed after the announcement.
    CardNode::Children *taken = parent->m_children;
    parent->m_children = nullptr;
    invalidateOrder();
    for (CardTreeObserver *observer : m_observers)
        observer->nodesRemoved(announced, 0, last);
    announceTreeChanged();
    CardNode holder(QByteArrayView(), nullptr, nullptr);
    holder.m_children = taken;
    // `holder` takes the children apart without recursion as it goes.
}

void CardTree::clear()
{
    for (CardTreeObserver *observer : m_observers)
        observer->treeAboutToBeReset();
    CardNode::Children *taken = m_root->m_children;
    m_root->m_children = nullptr;
    m_order.clear();
    m_order.shrink_to_fit();
    invalidateOrder();
    {
        CardNode holder(QByteArrayView(), nullptr, nullptr);
        holder.m_children = taken;
    }
    // No node is left, so the arena's memory can go too; a builder still at
    // work keeps it, since its nodes are yet to be adopted.
    if (m_bulkBuilders == 0)
        m_arena.reset();
    for (CardTreeObserver *observer : m_observers)
        observer->treeReset();
    announceTreeChanged();
}

CardNode *CardTree::addChildren(CardNode *parent, std::vector<NewCardNode> nodes)
{
    if (nodes.empty())
        return nullptr;
    CardNode *target = parentOrRoot(parent);
    const int first = target->childCount();
    const int last = first + static_cast<int>(nodes.size()) - 1;
    target->reserveChildren(last + 1);
    std::vector<std::unique_ptr<CardNode>> owned; // until they are in the tree
    owned.reserve(nodes.size());
    for (NewCardNode &node : nodes) {
        owned.emplace_back(new CardNode(node.label, std::move(node.data), nullptr));
        owned.back()->setIndexes(node.displayIndexes);
    }
    std::vector<CardNode *> made;
    made.reserve(owned.size());
    for (std::unique_ptr<CardNode> &node : owned)
        made.push_back(node.release());
    CardNode *announced = announcedParent(target);
    for (CardTreeObserver *observer : m_observers)
        observer->nodesAboutToBeInserted(announced, first, last);
    target->insertChildren(first, made.data(), static_cast<int>(made.size()));
    invalidateOrder();
    for (CardTreeObserver *observer : m_observers)
        observer->nodesInserted(announced, first, last);
    announceTreeChanged();
    return made.back();
}

CardNode *CardTree::adoptTopLevel(std::unique_ptr<CardNode> subtree)
{
    if (!subtree)
        return nullptr;
    Q_ASSERT(!subtree->inArena() || (m_arena && m_arena->owns(subtree.get())));
    return insertNode(m_root.get(), m_root->childCount(), std::move(subtree));
}

void CardTree::adoptTopLevel(std::vector<std::unique_ptr<CardNode>> subtrees)
{
    std::erase_if(subtrees, [](const std::unique_ptr<CardNode> &node) { return !node; });
    if (subtrees.empty())
        return;
    const int first = m_root->childCount();
    const int last = first + static_cast<int>(subtrees.size()) - 1;
    m_root->reserveChildren(last + 1);
    for (CardTreeObserver *observer : m_observers)
        observer->nodesAboutToBeInserted(nullptr, first, last);
    std::vector<CardNode *> nodes;
    nodes.reserve(subtrees.size());
    for (auto &node : subtrees) {
        Q_ASSERT(!node->inArena() || (m_arena && m_arena->owns(node.get())));
        nodes.push_back(node.release());
    }
    m_root->insertChildren(first, nodes.data(), static_cast<int>(nodes.size()));
    invalidateOrder();
    for (CardTreeObserver *observer : m_observers)
        observer->nodesInserted(nullptr, first, last);
    announceTreeChanged();
}

void CardTree::addObserver(CardTreeObserver *observer)
{
    if (observer && std::find(m_observers.begin(), m_observers.end(), observer) == m_observers.end())
        m_observers.push_back(observer);
}

void CardTree::removeObserver(CardTreeObserver *observer)
{
    std::erase(m_observers, observer);
}

// --- CardTreeBuilder

std::unique_ptr<CardNode> CardTreeBuilder::makeNode(QByteArrayView label, std::unique_ptr<TCardData> data)
{
    return std::unique_ptr<CardNode>(new CardNode(label, std::move(data), nullptr));
}

CardNode *CardTreeBuilder::addChild(CardNode *parent, QByteArrayView label, std::unique_ptr<TCardData> data)
{
    if (!parent)
        return nullptr;
    parent->reserveChildren(parent->childCount() + 1);
    CardNode *added = new CardNode(label, std::move(data), nullptr);
    parent->insertChildren(parent->childCount(), &added, 1);
    return added;
}

void CardTreeBuilder::setLabel(CardNode *node, QByteArrayView label)
{
    node->setLabelBytes(label);
}

void CardTreeBuilder::attachRecord(CardNode *node, std::unique_ptr<TCardData> data)
{
    node->setRecord(std::move(data));
}

void CardTreeBuilder::adoptChildren(CardNode *parent, std::span<std::unique_ptr<CardNode>> children)
{
    if (!parent)
        return;
    std::vector<CardNode *> nodes;
    nodes.reserve(children.size());
    for (const std::unique_ptr<CardNode> &child : children) {
        if (child)
            nodes.push_back(child.get());
    }
    parent->reserveChildren(parent->childCount() + static_cast<int>(nodes.size())); // may throw: nothing moved yet
    for (std::unique_ptr<CardNode> &child : children)
        child.release();
    parent->insertChildren(parent->childCount(), nodes.data(), static_cast<int>(nodes.size()));
}

CardTreeBuilder::CardTreeBuilder(CardTree &tree)
    : m_tree(&tree)
    , m_arena(tree.arena())
{
    ++m_tree->m_bulkBuilders;
}

CardTreeBuilder::CardTreeBuilder(CardArena &arena)
    : m_tree(nullptr)
    , m_arena(arena)
{
}

CardTreeBuilder::~CardTreeBuilder()
{
    if (m_tree)
        --m_tree->m_bulkBuilders;
    m_arena.releaseUnusedTails(); // a load is done: its reserve goes back
}

void CardTreeBuilder::appendBulkChild(CardNode *parent, CardNode *child)
{
    parent->reserveChildren(parent->childCount() + 1);
    parent->insertChildren(parent->childCount(), &child, 1);
}

void CardTreeBuilder::takeOverArena(CardArena &arena)
{
    m_arena.adopt(arena);
}

std::unique_ptr<CardNode> CardTreeBuilder::makeBulkNode(const NodeContents &contents)
{
    return std::unique_ptr<CardNode>(makeInArena(contents, nullptr));
}

CardNode *CardTreeBuilder::addBulkChild(CardNode *parent, const NodeContents &contents)
{
    if (!parent)
        return nullptr;
    parent->reserveChildren(parent->childCount() + 1); // may throw before the node is made
    CardNode *added = makeInArena(contents, nullptr);
    appendBulkChild(parent, added);
    return added;
}

CardNode *CardTreeBuilder::makeInArena(const NodeContents &contents, CardNode *parent)
{
    // Two pieces: the node with its record, and the texts (the name last)
    // with, when it differs from the name or the indexes are wide, the label.
    static_assert(sizeof(CardNode) % CardArena::Alignment == 0 && sizeof(TCardData) % CardArena::Alignment == 0);
    std::array<QByteArrayView, Field::Count> cut;
    qsizetype textBytes = 0;
    for (size_t i = 0; i < cut.size(); ++i) {
        cut[i] = gb18030::cutAtCharBoundary(contents.fields[i], TCardData::MaxFieldBytes);
        textBytes += cut[i].size();
    }
    const bool labelIsName = contents.label.size() == cut[0].size()
        && (cut[0].isEmpty() || contents.label.data() == cut[0].data() // the same bytes (a data file's record)
            || std::memcmp(contents.label.data(), cut[0].data(), static_cast<size_t>(cut[0].size())) == 0);
    const std::size_t labelBytes = CardNode::labelStorageBytes(contents.label, contents.indexes);
    const bool labelOfItsOwn = labelBytes > 0 && (!labelIsName || !CardNode::fitNarrow(contents.indexes));
    char *piece = static_cast<char *>(m_arena.allocate(sizeof(CardNode) + sizeof(TCardData)));
    char *text = m_arena.allocateText(static_cast<size_t>(textBytes) + (labelOfItsOwn ? labelBytes : 0));

    auto *data = new (piece + sizeof(CardNode)) TCardData;
    data->Kind = contents.kind;
    data->Created = contents.created;
    char *name = data->useBulkText(text, cut);

    auto *node = new (piece) CardNode(QByteArrayView(), nullptr, parent);
    node->m_record = CardNode::InArena;
    node->setBulkRecord(data);
    // The label shares the arena's bytes on purpose.
    if (labelOfItsOwn)
        node->takeLabel(CardNode::layOutLabel(text + textBytes, contents.label, contents.indexes), contents.indexes,
                        false);
    else
        node->takeLabel({labelIsName ? name : nullptr, static_cast<std::uint32_t>(labelBytes)}, contents.indexes,
                        false);
    return node;
}

} // namespace kelvo
