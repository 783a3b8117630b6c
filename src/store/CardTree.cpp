#include "CardTree.h"

#include <algorithm>

namespace kelvo {

// --- CardNode

CardNode::CardNode(QByteArray label, std::unique_ptr<TCardData> data, CardNode *parent)
    : m_label(std::move(label))
    , m_data(std::move(data))
    , m_parent(parent)
{
}

CardNode::~CardNode()
{
    // Take the subtree apart level by level so that a chain of any depth is
    // destroyed without recursion: every node is childless when it goes.
    if (m_children.empty())
        return;
    std::vector<std::unique_ptr<CardNode>> pending = std::move(m_children);
    m_children.clear();
    while (!pending.empty()) {
        std::unique_ptr<CardNode> node = std::move(pending.back());
        pending.pop_back();
        for (auto &childNode : node->m_children)
            pending.push_back(std::move(childNode));
        node->m_children.clear();
    }
}

CardNode *CardNode::parent() const
{
    return m_parent && !m_parent->m_isRoot ? m_parent : nullptr;
}

CardNode *CardNode::child(int row) const
{
    if (row < 0 || row >= childCount())
        return nullptr;
    return m_children[static_cast<size_t>(row)].get();
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
    : m_root(new CardNode(QByteArray(), nullptr, nullptr))
{
    m_root->m_isRoot = true;
}

CardTree::~CardTree() = default;

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
    auto &children = parentOrRoot->m_children;
    for (size_t row = static_cast<size_t>(std::max(fromRow, 0)); row < children.size(); ++row)
        children[row]->m_row = static_cast<int>(row);
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
    added->m_parent = parentOrRoot;
    parentOrRoot->m_children.insert(parentOrRoot->m_children.begin() + row, std::move(node));
    renumber(parentOrRoot, row);
    invalidateOrder();
    for (CardTreeObserver *observer : m_observers)
        observer->nodesInserted(announced, row, row);
    announceTreeChanged();
    return added;
}

CardNode *CardTree::addTopLevel(QByteArray label, std::unique_ptr<TCardData> data)
{
    return addChild(nullptr, std::move(label), std::move(data));
}

CardNode *CardTree::addTopLevelFirst(QByteArray label, std::unique_ptr<TCardData> data)
{
    std::unique_ptr<CardNode> node(new CardNode(std::move(label), std::move(data), nullptr));
    return insertNode(m_root.get(), 0, std::move(node));
}

CardNode *CardTree::addChild(CardNode *parent, QByteArray label, std::unique_ptr<TCardData> data)
{
    CardNode *target = parentOrRoot(parent);
    std::unique_ptr<CardNode> node(new CardNode(std::move(label), std::move(data), nullptr));
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

bool CardTree::setLabel(CardNode *node, QByteArray label)
{
    if (!node || node->m_label == label)
        return false;
    node->m_label = std::move(label);
    announceNodeChanged(node);
    return true;
}

bool CardTree::setField(CardNode *node, int n, QByteArrayView text)
{
    if (!node || !node->m_data || n < Field::First || n > Field::Last)
        return false;
    TCardData &record = *node->m_data;
    const QByteArrayView stored = record.field(n);
    // Compare with what the record would keep: the cut happens at a whole
    // character within 255 bytes, so a longer text can equal the stored one.
    if (text.size() >= stored.size() && text.first(stored.size()) == stored) {
        if (text.size() == stored.size())
            return false;
        TCardData probe;
        probe.setField(n, text);
        if (probe.field(n) == stored)
            return false;
    }
    record.setField(n, text);
    announceNodeChanged(node);
    return true;
}

bool CardTree::setDisplayIndex(CardNode *node, DisplayIndex which, std::int32_t value)
{
    if (!node || node->m_indexes[static_cast<size_t>(which)] == value)
        return false;
    node->m_indexes[static_cast<size_t>(which)] = value;
    announceNodeChanged(node);
    return true;
}

bool CardTree::setDisplayIndexes(CardNode *node, std::int32_t image, std::int32_t selected, std::int32_t overlay,
                                 std::int32_t state)
{
    const std::array<std::int32_t, 4> indexes = {image, selected, overlay, state};
    if (!node || node->m_indexes == indexes)
        return false;
    node->m_indexes = indexes;
    announceNodeChanged(node);
    return true;
}

void CardTree::attachRecord(CardNode *node, std::unique_ptr<TCardData> data)
{
    if (!node)
        return;
    node->m_data = std::move(data);
    announceNodeChanged(node);
}

void CardTree::releaseRecord(CardNode *node)
{
    if (!node || !node->m_data)
        return;
    node->m_data.reset();
    announceNodeChanged(node);
}

bool CardTree::movePlacement(const CardNode *node, const CardNode *target, MoveMode mode, CardNode **newParent,
                             int *destinationRow) const
{
    if (!node || !target || node == target || node->m_isRoot || target->m_isRoot || node->isAncestorOf(target))
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

    for (CardTreeObserver *observer : m_observers)
        observer->nodeAboutToBeMoved(node, announcedNewParent, destinationRow);

    std::unique_ptr<CardNode> taken = std::move(oldParent->m_children[static_cast<size_t>(oldRow)]);
    oldParent->m_children.erase(oldParent->m_children.begin() + oldRow);
    int insertRow = destinationRow;
    if (newParent == oldParent && destinationRow > oldRow)
        --insertRow;
    taken->m_parent = newParent;
    newParent->m_children.insert(newParent->m_children.begin() + insertRow, std::move(taken));
    if (newParent == oldParent) {
        renumber(oldParent, std::min(oldRow, insertRow));
    } else {
        renumber(oldParent, oldRow);
        renumber(newParent, insertRow);
    }
    invalidateOrder();

    for (CardTreeObserver *observer : m_observers)
        observer->nodeMoved(node);
    announceTreeChanged();
    return true;
}

void CardTree::deleteNode(CardNode *node)
{
    if (!node || node->m_isRoot || !m_root->isAncestorOf(node))
        return;
    CardNode *parent = node->m_parent;
    const int row = node->m_row;
    CardNode *announced = announcedParent(parent);
    for (CardTreeObserver *observer : m_observers)
        observer->nodesAboutToBeRemoved(announced, row, row);
    std::unique_ptr<CardNode> taken = std::move(parent->m_children[static_cast<size_t>(row)]);
    parent->m_children.erase(parent->m_children.begin() + row);
    renumber(parent, row);
    invalidateOrder();
    taken->m_parent = nullptr;
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
    std::vector<std::unique_ptr<CardNode>> taken = std::move(parent->m_children);
    parent->m_children.clear();
    invalidateOrder();
    for (CardTreeObserver *observer : m_observers)
        observer->nodesRemoved(announced, 0, last);
    announceTreeChanged();
    // Destroy iteratively: each child's destructor walks its own subtree.
}

void CardTree::clear()
{
    for (CardTreeObserver *observer : m_observers)
        observer->treeAboutToBeReset();
    std::vector<std::unique_ptr<CardNode>> taken = std::move(m_root->m_children);
    m_root->m_children.clear();
    m_order.clear();
    invalidateOrder();
    taken.clear();
    for (CardTreeObserver *observer : m_observers)
        observer->treeReset();
    announceTreeChanged();
}

CardNode *CardTree::addChildren(CardNode *parent, std::vector<NewCardNode> nodes)
{
    if (nodes.empty())
        return nullptr;
    CardNode *target = parentOrRoot(parent);
    auto &children = target->m_children;
    const int first = static_cast<int>(children.size());
    const int last = first + static_cast<int>(nodes.size()) - 1;
    CardNode *announced = announcedParent(target);
    for (CardTreeObserver *observer : m_observers)
        observer->nodesAboutToBeInserted(announced, first, last);
    children.reserve(children.size() + nodes.size());
    for (NewCardNode &made : nodes) {
        std::unique_ptr<CardNode> node(new CardNode(std::move(made.label), std::move(made.data), target));
        node->m_indexes = made.displayIndexes;
        node->m_row = static_cast<int>(children.size());
        children.push_back(std::move(node));
    }
    invalidateOrder();
    for (CardTreeObserver *observer : m_observers)
        observer->nodesInserted(announced, first, last);
    announceTreeChanged();
    return children.back().get();
}

CardNode *CardTree::adoptTopLevel(std::unique_ptr<CardNode> subtree)
{
    if (!subtree)
        return nullptr;
    return insertNode(m_root.get(), m_root->childCount(), std::move(subtree));
}

void CardTree::adoptTopLevel(std::vector<std::unique_ptr<CardNode>> subtrees)
{
    std::erase_if(subtrees, [](const std::unique_ptr<CardNode> &node) { return !node; });
    if (subtrees.empty())
        return;
    const int first = m_root->childCount();
    const int last = first + static_cast<int>(subtrees.size()) - 1;
    for (CardTreeObserver *observer : m_observers)
        observer->nodesAboutToBeInserted(nullptr, first, last);
    auto &children = m_root->m_children;
    for (auto &node : subtrees) {
        node->m_parent = m_root.get();
        children.push_back(std::move(node));
    }
    renumber(m_root.get(), first);
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

std::unique_ptr<CardNode> CardTreeBuilder::makeNode(QByteArray label, std::unique_ptr<TCardData> data)
{
    return std::unique_ptr<CardNode>(new CardNode(std::move(label), std::move(data), nullptr));
}

CardNode *CardTreeBuilder::addChild(CardNode *parent, QByteArray label, std::unique_ptr<TCardData> data)
{
    if (!parent)
        return nullptr;
    std::unique_ptr<CardNode> node(new CardNode(std::move(label), std::move(data), parent));
    node->m_row = parent->childCount();
    CardNode *added = node.get();
    parent->m_children.push_back(std::move(node));
    return added;
}

} // namespace kelvo
