#include "MirrorObserver.h"

namespace kelvo::test {

MirrorObserver::MirrorObserver(CardTree &tree)
    : m_tree(tree)
{
    rebuild(m_root, nullptr);
    m_tree.addObserver(this);
}

MirrorObserver::~MirrorObserver()
{
    m_tree.removeObserver(this);
}

QString MirrorObserver::name(const CardNode *node)
{
    return node ? QString::fromLatin1(node->label()) : QStringLiteral("top");
}

MirrorObserver::Node *MirrorObserver::find(const CardNode *node)
{
    if (!node)
        return &m_root;
    std::vector<Node *> stack{&m_root};
    while (!stack.empty()) {
        Node *current = stack.back();
        stack.pop_back();
        if (current->node == node)
            return current;
        for (auto &child : current->children)
            stack.push_back(child.get());
    }
    return nullptr;
}

void MirrorObserver::rebuild(Node &into, CardNode *parent)
{
    into.children.clear();
    std::vector<std::pair<Node *, CardNode *>> stack{{&into, parent}};
    while (!stack.empty()) {
        auto [mirror, node] = stack.back();
        stack.pop_back();
        const int count = m_tree.childCount(node);
        for (int row = 0; row < count; ++row) {
            auto child = std::make_unique<Node>();
            child->node = m_tree.child(node, row);
            child->parent = mirror;
            stack.emplace_back(child.get(), child->node);
            mirror->children.push_back(std::move(child));
        }
    }
}

bool MirrorObserver::matchesTree()
{
    std::vector<std::pair<Node *, CardNode *>> stack{{&m_root, nullptr}};
    while (!stack.empty()) {
        auto [mirror, node] = stack.back();
        stack.pop_back();
        if (int(mirror->children.size()) != m_tree.childCount(node)) {
            errors << QStringLiteral("child count of %1: copy %2, tree %3")
                          .arg(name(node))
                          .arg(mirror->children.size())
                          .arg(m_tree.childCount(node));
            return false;
        }
        for (int row = 0; row < int(mirror->children.size()); ++row) {
            Node *child = mirror->children[size_t(row)].get();
            CardNode *actual = m_tree.child(node, row);
            if (child->node != actual || actual->row() != row || actual->parent() != node) {
                errors << QStringLiteral("row %1 of %2: copy %3, tree %4 (row %5, parent %6)")
                              .arg(row)
                              .arg(name(node), name(child->node), name(actual))
                              .arg(actual->row())
                              .arg(name(actual->parent()));
                return false;
            }
            stack.emplace_back(child, actual);
        }
    }
    return true;
}

void MirrorObserver::nodesAboutToBeInserted(CardNode *parent, int first, int last)
{
    events << QStringLiteral("insert(%1,%2,%3)").arg(name(parent)).arg(first).arg(last);
    if (m_pending != Pending::None)
        errors << QStringLiteral("insert begins inside another change");
    Node *mirror = find(parent);
    if (!mirror || first < 0 || first > int(mirror->children.size()) || last < first)
        errors << QStringLiteral("insert rows %1..%2 under %3 out of range").arg(first).arg(last).arg(name(parent));
    m_pending = Pending::Insert;
    m_pendingParent = parent;
    m_pendingFirst = first;
    m_pendingLast = last;
}

void MirrorObserver::nodesInserted(CardNode *parent, int first, int last)
{
    if (m_pending != Pending::Insert || parent != m_pendingParent || first != m_pendingFirst || last != m_pendingLast)
        errors << QStringLiteral("insert ends without its matching begin");
    m_pending = Pending::None;
    Node *mirror = find(parent);
    if (!mirror)
        return;
    for (int row = first; row <= last; ++row) {
        auto child = std::make_unique<Node>();
        child->node = m_tree.child(parent, row);
        child->parent = mirror;
        rebuild(*child, child->node); // an adopted node brings its subtree
        if (row > int(mirror->children.size()))
            return;
        mirror->children.insert(mirror->children.begin() + row, std::move(child));
    }
    matchesTree();
}

void MirrorObserver::nodesAboutToBeRemoved(CardNode *parent, int first, int last)
{
    events << QStringLiteral("remove(%1,%2,%3)").arg(name(parent)).arg(first).arg(last);
    if (m_pending != Pending::None)
        errors << QStringLiteral("remove begins inside another change");
    m_pending = Pending::Remove;
    m_pendingParent = parent;
    m_pendingFirst = first;
    m_pendingLast = last;
    // The tree must not have changed yet.
    if (!matchesTree())
        errors << QStringLiteral("the tree changed before the remove was announced");
    Node *mirror = find(parent);
    if (!mirror || first < 0 || last >= int(mirror->children.size()) || last < first)
        errors << QStringLiteral("remove rows %1..%2 under %3 out of range").arg(first).arg(last).arg(name(parent));
}

void MirrorObserver::nodesRemoved(CardNode *parent, int first, int last)
{
    if (m_pending != Pending::Remove || parent != m_pendingParent || first != m_pendingFirst || last != m_pendingLast)
        errors << QStringLiteral("remove ends without its matching begin");
    m_pending = Pending::None;
    Node *mirror = find(parent);
    if (!mirror || last >= int(mirror->children.size()))
        return;
    mirror->children.erase(mirror->children.begin() + first, mirror->children.begin() + last + 1);
    matchesTree();
}

void MirrorObserver::nodeAboutToBeMoved(CardNode *node, CardNode *newParent, int destinationRow)
{
    events << QStringLiteral("move(%1,%2,%3)").arg(name(node), name(newParent)).arg(destinationRow);
    if (m_pending != Pending::None)
        errors << QStringLiteral("move begins inside another change");
    if (!matchesTree())
        errors << QStringLiteral("the tree changed before the move was announced");
    m_pending = Pending::Move;
    m_moving = node;
    Node *mirrorNode = find(node);
    Node *destination = find(newParent);
    if (!mirrorNode || !destination) {
        errors << QStringLiteral("move of an unknown node or to an unknown parent");
        return;
    }
    m_moveFrom = mirrorNode->parent;
    m_moveFromRow = node->row();
    m_pendingParent = newParent;
    m_pendingFirst = destinationRow;
    // The rules QAbstractItemModel::beginMoveRows enforces.
    if (destinationRow < 0 || destinationRow > int(destination->children.size()))
        errors << QStringLiteral("destination row %1 out of range").arg(destinationRow);
    if (m_moveFrom == destination && (destinationRow == m_moveFromRow || destinationRow == m_moveFromRow + 1))
        errors << QStringLiteral("a move onto its own place is announced");
    for (Node *up = destination; up; up = up->parent) {
        if (up == mirrorNode)
            errors << QStringLiteral("a move into its own subtree is announced");
    }
}

void MirrorObserver::nodeMoved(CardNode *node)
{
    if (m_pending != Pending::Move || node != m_moving)
        errors << QStringLiteral("move ends without its matching begin");
    m_pending = Pending::None;
    Node *destination = find(m_pendingParent);
    if (!m_moveFrom || !destination || m_moveFromRow >= int(m_moveFrom->children.size()))
        return;
    std::unique_ptr<Node> taken = std::move(m_moveFrom->children[size_t(m_moveFromRow)]);
    m_moveFrom->children.erase(m_moveFrom->children.begin() + m_moveFromRow);
    int row = m_pendingFirst;
    if (destination == m_moveFrom && row > m_moveFromRow)
        --row;
    taken->parent = destination;
    destination->children.insert(destination->children.begin() + std::min<int>(row, int(destination->children.size())),
                                 std::move(taken));
    matchesTree();
}

void MirrorObserver::nodeChanged(CardNode *node)
{
    events << QStringLiteral("changed(%1)").arg(name(node));
}

void MirrorObserver::treeAboutToBeReset()
{
    events << QStringLiteral("reset");
    if (m_pending != Pending::None)
        errors << QStringLiteral("reset begins inside another change");
    m_pending = Pending::Reset;
}

void MirrorObserver::treeReset()
{
    if (m_pending != Pending::Reset)
        errors << QStringLiteral("reset ends without its matching begin");
    m_pending = Pending::None;
    rebuild(m_root, nullptr);
}

} // namespace kelvo::test
