#pragma once

#include "CardTree.h"
#include "MessagePump.h"
#include "SearchCards.h"

#include <QByteArrayView>

#include <memory>
#include <vector>

namespace kelvo {

// How a search shares its walk over the tree: the calling thread and
// `threads - 1` helper threads each take a run of about `chunkNodes` nodes
// at a time, in absolute order, until none are left. One thread walks the
// tree itself.
struct ScanSharing
{
    enum class Runs {
        Chosen,             // whole top-level subtrees where they share well, else stretches of nodes
        OfNodes,            // stretches of absolute positions (the tree's order cache is filled first)
        OfTopLevelSubtrees, // stretches of whole top-level subtrees, counted by their children
    };

    int threads = 1;
    int chunkNodes = 4096;
    Runs runs = Runs::Chosen;
};

// Below this many nodes the calling thread walks alone: a helper thread
// costs more to start than it saves there.
inline constexpr int MinNodesForHelperThreads = 20000;

// The sharing a search of a tree of `nodes` nodes uses on this machine: the
// calling thread alone for a small tree or a single core, else two threads
// (the searches are bound by memory; more threads gain nothing).
ScanSharing DefaultScanSharing(int nodes);
// The same for `tree`, counting its nodes only where its top level and the
// children there do not already tell that it is large.
ScanSharing DefaultScanSharing(const CardTree &tree);

// The cards (Kind 1) with a ticked field that holds the folded condition, in
// tree order, each with its folded name.
struct ScannedCards
{
    std::vector<FoundCard> cards;
    std::vector<QByteArrayView> names; // names[i] is the folded name of cards[i]

    ScannedCards();
    ScannedCards(ScannedCards &&) noexcept;
    ScannedCards &operator=(ScannedCards &&) noexcept;
    ~ScannedCards();

    // What one run of nodes yields; `names` point into them.
    struct Piece;
    std::vector<std::unique_ptr<Piece>> pieces;
};

// Finds the cards as SearchCards defines it (`foldedCondition` folded and not
// empty). `pump` runs on the calling thread only: once per node that thread
// looks at, and now and then while it waits for the helpers to finish. The
// helpers only read the tree; the caller makes sure nothing changes it until
// this returns (events the pump processes must not change the tree).
ScannedCards ScanCards(const CardTree &tree, QByteArrayView foldedCondition, const FieldSelection &fields,
                       const ScanSharing &sharing, MessagePump &pump);

// FindCards and SearchCards with a chosen sharing (the others take
// DefaultScanSharing for the tree's size); the same results whatever the
// sharing.
FoundCards FindCards(const CardTree &tree, QByteArrayView condition, const FieldSelection &fields,
                     const QLocale &locale, MessagePump &pump, const ScanSharing &sharing);
SearchOutcome SearchCards(const CardTree &tree, QByteArrayView condition, const FieldSelection &fields,
                          const QLocale &locale, MessagePump &pump, const ScanSharing &sharing);

} // namespace kelvo
