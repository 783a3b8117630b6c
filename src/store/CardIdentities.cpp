#include "CardIdentities.h"

namespace kelvo {

CardIdentities::CardIdentities(CardTree &tree)
    : m_tree(tree)
    , m_random(QRandomGenerator64::securelySeeded())
{
    m_tree.addObserver(this);
}

CardIdentities::~CardIdentities()
{
    m_tree.removeObserver(this);
}

QUuid CardIdentities::makeIdentity()
{
    // Version 4 (random), variant RFC 4122; the generator is seeded once from
    // the system's source, so a million identities take no system calls.
    const quint64 high = m_random.generate();
    const quint64 low = m_random.generate();
    return QUuid(uint(high >> 32), ushort(high >> 16), ushort((high & 0x0FFF) | 0x4000),
                 uchar(((low >> 56) & 0x3F) | 0x80), uchar(low >> 48), uchar(low >> 40), uchar(low >> 32),
                 uchar(low >> 24), uchar(low >> 16), uchar(low >> 8), uchar(low));
}

QUuid CardIdentities::identity(const CardNode *node)
{
    auto it = m_ids.find(node);
    if (it != m_ids.end())
        return it.value();
    const QUuid id = makeIdentity();
    m_ids.insert(node, id);
    return id;
}

void CardIdentities::assign(const CardNode *node, const QUuid &id)
{
    m_ids.insert(node, id);
}

QHash<QUuid, const CardNode *> CardIdentities::byIdentity() const
{
    QHash<QUuid, const CardNode *> index;
    index.reserve(m_ids.size());
    for (auto it = m_ids.cbegin(); it != m_ids.cend(); ++it)
        index.insert(it.value(), it.key());
    return index;
}

void CardIdentities::nodesAboutToBeRemoved(CardNode *parent, int first, int last)
{
    if (m_ids.isEmpty())
        return;
    std::vector<const CardNode *> stack;
    for (int row = first; row <= last; ++row) {
        if (const CardNode *node = m_tree.child(parent, row))
            stack.push_back(node);
    }
    while (!stack.empty()) {
        const CardNode *node = stack.back();
        stack.pop_back();
        m_ids.remove(node);
        for (int i = 0; i < node->childCount(); ++i)
            stack.push_back(node->child(i));
    }
}

void CardIdentities::treeAboutToBeReset()
{
    m_ids.clear();
}

QString IdentityText(const QUuid &id)
{
    return id.toString(QUuid::WithoutBraces).toLower();
}

} // namespace kelvo
