#pragma once

#include "CardTree.h"

#include <QHash>
#include <QRandomGenerator64>
#include <QUuid>

#include <vector>

namespace kelvo {

// The permanent identity (a random UUID) of every card and card class, kept
// in memory beside the tree, never in the data file (whose bytes stay as they
// are). A node's identity survives edits, renames and moves; it goes with the
// node when the node is deleted, and with everything when the tree is reset.
//
// Identities are given out when first asked for (`identity()`), or set from
// the sync state that a load finds beside the data file (`assign()`), so a
// tree nobody asks about costs nothing. The table follows the tree through
// its announcements: it observes the tree from construction to destruction.
class CardIdentities : public CardTreeObserver
{
public:
    explicit CardIdentities(CardTree &tree);
    ~CardIdentities() override;
    CardIdentities(const CardIdentities &) = delete;
    CardIdentities &operator=(const CardIdentities &) = delete;

    CardTree &tree() const { return m_tree; }

    // The node's identity, made now when it has none yet.
    QUuid identity(const CardNode *node);
    // The node's identity, or a null QUuid when it has none yet.
    QUuid find(const CardNode *node) const { return m_ids.value(node); }
    bool has(const CardNode *node) const { return m_ids.contains(node); }
    // Gives the node this identity (replacing any it had). The caller keeps
    // identities unique (see `taken()`).
    void assign(const CardNode *node, const QUuid &id);
    // Every node with an identity, by identity (built on each call).
    QHash<QUuid, const CardNode *> byIdentity() const;
    // Identities given out so far.
    qsizetype size() const { return m_ids.size(); }
    // Forgets every identity (a tree read again from a file).
    void forgetAll() { m_ids.clear(); }

    // A new random (version 4) UUID.
    QUuid makeIdentity();

    // CardTreeObserver
    void nodesAboutToBeRemoved(CardNode *parent, int first, int last) override;
    void treeAboutToBeReset() override;

private:
    CardTree &m_tree;
    QHash<const CardNode *, QUuid> m_ids;
    QRandomGenerator64 m_random;
};

// The lowercase text of a UUID without braces ("8c0e...-..."), as the sync
// and the vCard export write it.
QString IdentityText(const QUuid &id);

} // namespace kelvo
