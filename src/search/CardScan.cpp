#include "CardScan.h"

#include "CardMatcher.h"
#include "Folding.h"
#include "HelperThread.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace kelvo {

// Cache-line aligned: two threads fill neighbouring pieces at the same time.
struct alignas(64) ScannedCards::Piece
{
    std::vector<FoundCard> cards;
    std::string names;           // the folded names, back to back
    std::vector<size_t> nameEnd; // where each card's name ends in `names`
};

ScannedCards::ScannedCards() = default;
ScannedCards::ScannedCards(ScannedCards &&) noexcept = default;
ScannedCards &ScannedCards::operator=(ScannedCards &&) noexcept = default;
ScannedCards::~ScannedCards() = default;

namespace {

using Piece = ScannedCards::Piece;

// Decides one node and keeps it in a piece when it is a card that matches.
// One per thread: the matcher keeps scratch buffers.
class Collector
{
public:
    Collector(QByteArrayView foldedCondition, const FieldSelection &fields)
        : m_matcher(foldedCondition, fields)
    {
    }

    void look(const CardNode *node, Piece &piece)
    {
        const TCardData *card = node->data();
        if (!card || !card->isCard() || !m_matcher.matches(*card))
            return;
        const QByteArrayView name = card->name();
        const size_t at = piece.names.size();
        piece.names.resize(at + static_cast<size_t>(name.size())); // folding never makes a text longer
        const qsizetype length = FoldTextInto(name, piece.names.data() + at);
        piece.names.resize(at + static_cast<size_t>(length));
        piece.nameEnd.push_back(piece.names.size());
        piece.cards.push_back({node, card});
    }

private:
    CardMatcher m_matcher;
};

// The pieces in order, as one list of cards and names.
void joinPieces(ScannedCards &scanned)
{
    size_t total = 0;
    for (const auto &piece : scanned.pieces)
        total += piece->cards.size();
    scanned.cards.reserve(total);
    scanned.names.reserve(total);
    for (const auto &piece : scanned.pieces) {
        scanned.cards.insert(scanned.cards.end(), piece->cards.begin(), piece->cards.end());
        size_t start = 0;
        for (const size_t end : piece->nameEnd) {
            scanned.names.emplace_back(piece->names.data() + start, qsizetype(end - start));
            start = end;
        }
    }
}

// The walk in runs shared between the calling thread and helpers. A run is
// either a stretch of absolute positions (read through the tree's order
// cache) or a stretch of whole top-level subtrees (walked from their roots,
// no order cache needed); either way the runs in their order are the tree
// in its order.
class SharedScan
{
public:
    SharedScan(const CardTree &tree, QByteArrayView foldedCondition, const FieldSelection &fields,
               const ScanSharing &sharing, std::vector<std::unique_ptr<Piece>> &pieces)
        : m_tree(tree)
        , m_condition(foldedCondition)
        , m_fields(fields)
        , m_pieces(pieces)
    {
        const int runNodes = std::max(1, sharing.chunkNodes);
        ScanSharing::Runs runs = sharing.runs;
        if (runs == ScanSharing::Runs::Chosen)
            runs = subtreesShareWell(tree, sharing.threads) ? ScanSharing::Runs::OfTopLevelSubtrees
                                                            : ScanSharing::Runs::OfNodes;
        m_bySubtrees = runs == ScanSharing::Runs::OfTopLevelSubtrees;
        if (m_bySubtrees) {
            // Stretches of top-level nodes of about `runNodes` nodes, counted
            // by their children (cheap to know; deeper nodes are not seen).
            const int top = tree.topLevelCount();
            int from = 0;
            qint64 weight = 0;
            for (int row = 0; row < top; ++row) {
                weight += 1 + tree.topLevel(row)->childCount();
                if (weight >= runNodes || row == top - 1) {
                    m_runs.emplace_back(from, row + 1);
                    from = row + 1;
                    weight = 0;
                }
            }
        } else {
            // The tree's order cache is filled here, on the calling thread,
            // before any helper reads through it; nothing changes the tree's
            // shape until the scan ends, so the helpers only read it.
            const int total = tree.count();
            for (qint64 begin = 0; begin < total; begin += runNodes)
                m_runs.emplace_back(int(begin), int(std::min<qint64>(total, begin + runNodes)));
        }
        m_runCount = static_cast<int>(m_runs.size());
        m_pieces.clear();
        m_pieces.reserve(m_runs.size());
        for (size_t r = 0; r < m_runs.size(); ++r)
            m_pieces.push_back(std::make_unique<Piece>());
    }

    void run(int helpers, MessagePump &pump)
    {
        // The calling thread takes the first run before the helpers start, so
        // it always has a part of the walk (and its pump runs).
        const int first = m_next.fetch_add(1, std::memory_order_relaxed);
        std::vector<HelperThread> threads;
        for (int h = 0; h < helpers; ++h) {
            try {
                threads.emplace_back([this] { helpOut(); });
            } catch (const std::system_error &) {
                break; // no thread to be had: the calling thread does the rest
            }
        }
        const int started = static_cast<int>(threads.size());
        try {
            [[maybe_unused]] const quint64 shape = m_tree.shapeVersion();
            Collector collector(m_condition, m_fields);
            work(first, collector, [&] {
                pump.pump();
                Q_ASSERT_X(m_tree.shapeVersion() == shape, "SearchCards",
                           "the card tree changed while events were pumped");
            });
        } catch (...) {
            m_next.store(m_runCount); // the helpers stop after their current run
            throw;                    // and are joined on the way out
        }
        // The helpers finish their last runs; the windows stay painted.
        {
            std::unique_lock lock(m_mutex);
            while (m_finished < started) {
                lock.unlock();
                pump.pump();
                lock.lock();
                m_done.wait_for(lock, std::chrono::milliseconds(1), [&] { return m_finished >= started; });
            }
        }
        threads.clear(); // joined
        if (m_failure)
            std::rethrow_exception(m_failure);
    }

private:
    // Whole top-level subtrees share the walk well when there are many of
    // them and none holds a large part of the tree, as far as their
    // children tell.
    static bool subtreesShareWell(const CardTree &tree, int threads)
    {
        const int top = tree.topLevelCount();
        if (top < 16 * std::max(1, threads))
            return false;
        qint64 total = 0;
        qint64 largest = 0;
        for (int row = 0; row < top; ++row) {
            const qint64 weight = 1 + tree.topLevel(row)->childCount();
            total += weight;
            largest = std::max(largest, weight);
        }
        return largest * 4 <= total;
    }

    // Walks run `r` and every run it claims after it, until none are left.
    template<typename EachNode>
    void work(int r, Collector &collector, EachNode &&eachNode)
    {
        std::vector<std::pair<const CardNode *, int>> stack; // a subtree walk: node, next child
        for (; r < m_runCount; r = m_next.fetch_add(1, std::memory_order_relaxed)) {
            Piece &piece = *m_pieces[static_cast<size_t>(r)];
            const auto [begin, end] = m_runs[static_cast<size_t>(r)];
            if (!m_bySubtrees) {
                for (int i = begin; i < end; ++i) {
                    eachNode();
                    collector.look(m_tree.nodeAt(i), piece);
                }
                continue;
            }
            // Pre-order, without recursion: deep trees must not overflow the stack.
            for (int row = begin; row < end; ++row) {
                const CardNode *root = m_tree.topLevel(row);
                eachNode();
                collector.look(root, piece);
                stack.clear();
                stack.emplace_back(root, 0);
                while (!stack.empty()) {
                    auto &[node, next] = stack.back();
                    if (next >= node->childCount()) {
                        stack.pop_back();
                        continue;
                    }
                    const CardNode *child = node->child(next++);
                    eachNode();
                    collector.look(child, piece);
                    if (child->childCount() > 0)
                        stack.emplace_back(child, 0);
                }
            }
        }
    }

    void helpOut()
    {
        try {
            Collector collector(m_condition, m_fields);
            work(m_next.fetch_add(1, std::memory_order_relaxed), collector, [] {});
        } catch (...) {
            m_next.store(m_runCount);
            const std::lock_guard lock(m_mutex);
            if (!m_failure)
                m_failure = std::current_exception();
        }
        const std::lock_guard lock(m_mutex);
        ++m_finished;
        m_done.notify_one();
    }

    const CardTree &m_tree;
    QByteArrayView m_condition;
    const FieldSelection &m_fields;
    std::vector<std::pair<int, int>> m_runs;
    int m_runCount = 0;
    bool m_bySubtrees = false;
    std::vector<std::unique_ptr<Piece>> &m_pieces;
    std::atomic<int> m_next{0};
    std::mutex m_mutex;
    std::condition_variable m_done;
    int m_finished = 0;
    std::exception_ptr m_failure;
};

} // namespace

ScanSharing DefaultScanSharing(int nodes)
{
    ScanSharing sharing;
    if (nodes >= MinNodesForHelperThreads)
        sharing.threads = std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, 2);
    return sharing;
}

ScanSharing DefaultScanSharing(const CardTree &tree)
{
    qint64 known = 0; // the top level and its children: a lower bound, cheap to know
    for (int row = 0; row < tree.topLevelCount() && known < MinNodesForHelperThreads; ++row)
        known += 1 + tree.topLevel(row)->childCount();
    return DefaultScanSharing(known >= MinNodesForHelperThreads ? MinNodesForHelperThreads : tree.count());
}

ScannedCards ScanCards(const CardTree &tree, QByteArrayView foldedCondition, const FieldSelection &fields,
                       const ScanSharing &sharing, MessagePump &pump)
{
    ScannedCards scanned;
    if (sharing.threads <= 1) {
        // Alone: a plain walk, no order cache needed.
        auto piece = std::make_unique<Piece>();
        Collector collector(foldedCondition, fields);
        [[maybe_unused]] const quint64 shape = tree.shapeVersion();
        tree.forEach([&](const CardNode *node) {
            pump.pump();
            Q_ASSERT_X(tree.shapeVersion() == shape, "SearchCards", "the card tree changed while events were pumped");
            collector.look(node, *piece);
        });
        scanned.pieces.push_back(std::move(piece));
    } else {
        SharedScan scan(tree, foldedCondition, fields, sharing, scanned.pieces);
        scan.run(sharing.threads - 1, pump);
    }
    joinPieces(scanned);
    return scanned;
}

} // namespace kelvo
