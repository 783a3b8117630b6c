#pragma once

#include "CardIdentities.h"
#include "CardTree.h"
#include "Result.h"

#include <QByteArray>
#include <QString>

namespace kelvo::sync {

// The identities of a tree as one blob, node by node in absolute order: the
// UUID, the depth and kind, and a one-byte fingerprint of each of the
// thirteen fields (0: empty). Every node gets an identity on the way.
QByteArray DescribeIdentities(const CardTree &tree, CardIdentities &ids);

struct RestoreOutcome
{
    int exact = 0;    // taken over in order (the data file is the one described)
    int matched = 0;  // re-matched by place and content, or by content alone
    int fresh = 0;    // nodes left to get new identities
};

// Gives the tree's nodes the identities of `blob`. `sameFile`: the blob was
// written for these very bytes, so the nodes are taken in order (as long as
// depth and kind agree). Otherwise (a data file changed by something else)
// a node takes the identity of the described node at the same place in the
// tree, of the same kind, when their names or most of their non-empty
// fields agree; a node
// still without one takes that of a described node of the same kind with
// all fields equal that no other node took. The rest get new ones when
// first asked for. A blob that cannot be read gives nothing.
RestoreOutcome RestoreIdentities(const QByteArray &blob, bool sameFile, const CardTree &tree, CardIdentities &ids);

// A hash of the data file's bytes (MD5: a name for the content, not a seal).
Result<QByteArray> HashDataFile(const QString &dataFilePath);

// After a load of `dataFilePath` into `tree`: the identities from the sync
// state beside it, if there is one. A missing state changes nothing; a
// damaged one is reported (the cards get new identities; nothing is lost).
Result<RestoreOutcome> LoadIdentities(const QString &dataFilePath, const CardTree &tree, CardIdentities &ids);

// After a save of `tree` to `dataFilePath`: the identities into the sync
// state beside it, keyed by the hash of the bytes just written. A damaged
// state file is set aside and started anew.
Result<> SaveIdentities(const QString &dataFilePath, const CardTree &tree, CardIdentities &ids);

// After a command wrote `dataFilePath` from `tree` without knowing the
// identities (build, a restored backup): when a sync state lies beside it,
// the identities it describes are matched to the tree and kept for the new
// bytes. Without a state nothing is written.
Result<> FollowRewrittenDataFile(const QString &dataFilePath, CardTree &tree);

} // namespace kelvo::sync
