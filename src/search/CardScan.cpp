#include "CardScan.h"

#include "CardMatcher.h"
#include "Folding.h"

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

namespace kelvo {

// Cache-line aligned: two threads fill neighbouring pieces at the same time.
struct alignas(64) ScannedCards::Piece
{
    std::vector<FoundCard> cards;
    std::string names;                  // the folded names, back to back
    std::vector<std::uint32_t> nameEnd; // where each card's name ends in `names`
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
        piece.nameEnd.push_back(static_cast<std::uint32_t>(piece.names.size()));
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
        std::uint32_t start = 0;
        for (const std::uint32_t end : piece->nameEnd) {
            scanned.names.emplace_back(piece->names.data() + start, qsizetype(end - start));
            start = end;
        }
    }
}

// The walk in runs of nodes shared between the calling thread and helpers.
class SharedScan
{
public:
    SharedScan(const CardTree &tree, QByteArrayView foldedCondition, const FieldSelection &fields, int chunkNodes,
               std::vector<std::unique_ptr<Piece>> &pieces)
        : m_tree(tree)
        , m_condition(foldedCondition)
        , m_fields(fields)
        // The tree's order cache is filled here, on the calling thread,
        // before any helper reads through it; nothing changes the tree's
        // shape until the scan ends, so the helpers only read it.
        , m_total(tree.count())
        , m_chunkNodes(std::max(1, chunkNodes))
        , m_chunkCount(static_cast<int>((static_cast<qint64>(m_total) + m_chunkNodes - 1) / m_chunkNodes))
        , m_pieces(pieces)
    {
        m_pieces.clear();
        m_pieces.reserve(static_cast<size_t>(m_chunkCount));
        for (int c = 0; c < m_chunkCount; ++c)
            m_pieces.push_back(std::make_unique<Piece>());
    }

    void run(int helpers, MessagePump &pump)
    {
        std::vector<std::jthread> threads;
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
            work(collector, [&] {
                pump.pump();
                Q_ASSERT_X(m_tree.shapeVersion() == shape, "SearchCards",
                           "the card tree changed while events were pumped");
            });
        } catch (...) {
            m_next.store(m_chunkCount); // the helpers stop after their current run
            throw;                      // and are joined on the way out
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
    template<typename EachNode>
    void work(Collector &collector, EachNode &&eachNode)
    {
        for (int c = m_next.fetch_add(1, std::memory_order_relaxed); c < m_chunkCount;
             c = m_next.fetch_add(1, std::memory_order_relaxed)) {
            Piece &piece = *m_pieces[static_cast<size_t>(c)];
            const qint64 begin = static_cast<qint64>(c) * m_chunkNodes;
            const int end = static_cast<int>(std::min<qint64>(m_total, begin + m_chunkNodes));
            for (int i = static_cast<int>(begin); i < end; ++i) {
                eachNode();
                collector.look(m_tree.nodeAt(i), piece);
            }
        }
    }

    void helpOut()
    {
        try {
            Collector collector(m_condition, m_fields);
            work(collector, [] {});
        } catch (...) {
            m_next.store(m_chunkCount);
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
    const int m_total;
    const int m_chunkNodes;
    const int m_chunkCount;
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
        SharedScan scan(tree, foldedCondition, fields, sharing.chunkNodes, scanned.pieces);
        scan.run(sharing.threads - 1, pump);
    }
    joinPieces(scanned);
    return scanned;
}

} // namespace kelvo
