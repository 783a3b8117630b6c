#pragma once

#include "CardDavRemote.h"
#include "CardVCard.h"
#include "SyncState.h"

#include "CardIdentities.h"
#include "CardTree.h"

#include <QHash>
#include <QSet>
#include <QStringList>
#include <QUuid>

#include <functional>

#include <vector>

namespace kelvo::sync {

// One run of the sync, in three phases so that the window never waits on
// the network:
//   1. TakeSnapshot (the tree's thread): the synced cards' identities,
//      fields and class paths;
//   2. SyncEngine::run (any thread): talks to the server using only the
//      snapshot and the state, records each server action in the state as it
//      completes, and plans the changes of the tree;
//   3. ApplySyncPlan (the tree's thread): makes those changes through the
//      store (announced like any edit), leaving alone a card the user
//      changed since the snapshot; then the caller saves the data file and
//      calls CommitSyncPlan, which records the rest in the state.

struct LocalCard
{
    QUuid id;
    QString name; // for the report
    CardContent content;
    QByteArray hash;
};

struct SyncSnapshot
{
    std::vector<LocalCard> cards;  // every card outside the conflict class
    QSet<QString> classPaths;      // every card class's path, joined with "/"
};

// The content of a card node as the sync sees it.
CardContent ContentOfNode(const CardNode &node);

SyncSnapshot TakeSnapshot(const CardTree &tree, CardIdentities &ids);

struct SyncReport
{
    int uploaded = 0;   // cards created on the server
    int downloaded = 0; // cards created in the data file
    int updated = 0;    // cards updated on either side
    int deleted = 0;    // cards deleted on either side
    int conflicts = 0;
    QStringList conflictLines; // one per conflict copy
    QStringList failureLines;  // one per card that failed
    QStringList skippedLines;  // one per server resource passed over, or local change held back
    QString stopped;           // the run stopped (network, mass delete, ...): why
    RemoteStatus stopStatus = RemoteStatus::Ok;
    bool massDelete = false;

    bool ok() const { return stopped.isEmpty(); }
};

// A change of the tree the server asks for.
struct LocalChange
{
    enum Kind { Create, Update, Delete, ConflictCopy };
    Kind kind = Update;
    QUuid id;
    CardContent content;          // Create, Update, ConflictCopy: what the card becomes
    std::optional<CardContent> expected; // the card's content at the snapshot (Update, Delete)
    // What the state records once the change is saved: the row to put, or
    // to remove (Delete).
    std::optional<SyncedCard> row;
    bool applied = false;
};

struct SyncPlan
{
    std::vector<LocalChange> changes;
    QByteArray syncToken; // the token to keep once everything is applied
    bool advanceToken = false;
    // Cards were created on the server: the token, taken before, cannot tell
    // of their deletion elsewhere (a change list from it holds nothing about
    // a card made after it), so the state keeps none and the next run lists
    // the whole book.
    bool createdOnServer = false;
    QHash<QString, QByteArray> skippedResources; // href -> ETag, to record
    QStringList skippedGone;                     // skipped hrefs now gone
    SyncReport report;
};

struct SyncOptions
{
    bool allowMassDelete = false;
    // Called on the run's thread as it goes: `done` of `total` steps (the
    // listing and the fetch, then one a card the run acts on), first once
    // the cards to act on are known, last with done == total.
    std::function<void(int done, int total)> progress;
};

class SyncEngine
{
public:
    SyncEngine(SyncState &state, CardDavRemote &remote, SyncOptions options = {});
    // Phase 2. Never touches the tree.
    SyncPlan run(const SyncSnapshot &snapshot);

private:
    struct Impl;
    SyncState &m_state;
    CardDavRemote &m_remote;
    SyncOptions m_options;
};

// Phase 3: the plan's changes through the store. Returns how many changes
// were held back because the user changed the card since the snapshot.
int ApplySyncPlan(SyncPlan &plan, CardTree &tree, CardIdentities &ids);

// After the data file is saved: the applied changes, the passed-over
// resources and (when nothing was held back) the new sync token into the
// state, in one transaction.
Result<> CommitSyncPlan(const SyncPlan &plan, SyncState &state);

// The three-way merge of a card: a field changed on one side takes that
// side's value; one changed differently on both sides takes `local`'s and
// sets `*conflict`.
CardContent MergeContents(const CardContent &base, const CardContent &local, const CardContent &remote,
                          bool *conflict);

} // namespace kelvo::sync
