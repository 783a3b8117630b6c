// Reading a tree out of the data file's bytes. A large file is read by two
// threads: the second reads the later part in pieces, from the end
// backwards, each from a record start it finds near the start of its
// stretch, making the nodes of the piece with their subtrees as far as they
// lie in it, for as long as the first thread is not near the next piece down.
// The first thread reads from the start as a single reader would; once it
// meets the lowest piece's start exactly, it links what the second thread
// made in place of reading on. A record read from a given offset is the
// same whoever reads it, so the tree, the messages and the offsets of a
// damaged file are exactly those of a single reader. A start the first
// thread passes (one found inside a record of a file so made) only means
// that it reads on alone to the next piece.
#include "DataFileFormat.h"

#include "CardArena.h"
#include "CardTree.h"
#include "NodeRecordReading.h"
#include "ThreadPlacement.h"

#include <QFileDevice>
#include <QtEndian>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

namespace kelvo {

using records::Failure;
using records::MemoryWindow;
using records::NodeRecord;
using records::Window;

namespace {

// Inputs this large and larger are read by two threads.
constexpr qint64 SplitInputBytes = qint64(4) << 20;
// Where the second thread looks for a record start, and how many records in
// a row must read without fault up to it.
constexpr qsizetype RecordStartSearchBytes = qsizetype(16) << 10; // a record takes at most 3.5 KB
constexpr int RecordStartChain = 8;
// The later part of an input is read in pieces of at least this size, at
// most so many; a piece is taken on only while the first reader is farther
// than this from it.
constexpr qint64 MinPieceBytes = qint64(2) << 20;
constexpr qint64 MaxPieces = 64;
constexpr qint64 ClaimDistance = qint64(1) << 20;

// The node for a record read from the file, made in bulk: the label goes
// into both the node and the record's Name.
CardTreeBuilder::NodeContents contentsOf(const NodeRecord &record, ReadOptions options)
{
    CardTreeBuilder::NodeContents contents;
    contents.label = record.texts[0];
    contents.fields = record.texts; // texts[0], the label, is field 1 (Name)
    contents.kind = record.kind;
    contents.created = record.created;
    contents.indexes = record.indexes;
    if (!options.keepStoredDisplayIndexes)
        contents.indexes.fill(record.kind);
    return contents;
}

// A node read whose children are still to come, and how many.
struct Pending
{
    CardNode *node;
    std::int32_t childrenLeft;
};

// The later part of the input, read on a thread of its own into an arena of
// its own, piece by piece from the end backwards, for as long as the first
// reader has not come near the next piece down: a processor that runs
// slower for a while (the system may lend it to others) then does less.
// A piece starts at a record start found near the start of its stretch of
// the input and ends exactly where the piece above it starts (else it reads
// on to the end). For each piece: the nodes whose parent lies before it
// ("loose" nodes), each with its subtree as far as the piece holds it, and
// how the piece ended.
class SecondReader
{
public:
    // Makes a window at a given offset, with a DeviceRead of the piece's
    // own; called on the reader's thread.
    using MakeWindow = std::function<std::unique_ptr<Window>(qint64 offset, DeviceRead &info)>;

    // The input runs from `firstBase` (where the first reader starts) to
    // `inputEnd`. With `forcedStarts` (ascending) the pieces start exactly
    // there, whatever lies there, all of them read.
    static std::unique_ptr<SecondReader> start(ReadOptions options, DeviceRead *firstInfo, qint64 firstBase,
                                               qint64 inputEnd, MakeWindow makeWindow,
                                               const std::vector<qint64> &forcedStarts = {})
    {
        auto reader = std::unique_ptr<SecondReader>(new SecondReader(options, firstInfo));
        reader->m_firstBase = firstBase;
        reader->m_inputEnd = inputEnd;
        reader->m_firstAt.store(firstBase, std::memory_order_relaxed);
        reader->m_makeWindow = std::move(makeWindow);
        reader->m_forced = !forcedStarts.empty();
        std::vector<qint64> begins = forcedStarts;
        if (begins.empty()) {
            const qint64 length = inputEnd - firstBase;
            const qint64 pieceBytes = std::max(MinPieceBytes, length / MaxPieces);
            for (qint64 at = firstBase + pieceBytes; inputEnd - at >= MinPieceBytes / 2; at += pieceBytes)
                begins.push_back(at);
        }
        if (begins.empty())
            return nullptr;
        reader->m_pieces.reserve(begins.size());
        for (const qint64 begin : begins)
            reader->m_pieces.push_back(std::make_unique<Piece>(begin));
        reader->m_lowestClaimed.store(static_cast<int>(begins.size()), std::memory_order_relaxed);
        if (reader->m_forced) { // all taken on, where they are, from the start
            for (const std::unique_ptr<Piece> &piece : reader->m_pieces)
                piece->recordStart.store(piece->begin, std::memory_order_relaxed);
            reader->m_lowestClaimed.store(0, std::memory_order_relaxed);
        }
        std::packaged_task<void()> task([r = reader.get()] { r->run(); });
        reader->m_done = task.get_future();
        try {
            reader->m_thread = std::thread(std::move(task));
        } catch (const std::system_error &) {
            return nullptr; // no thread to be had: one reader does it all
        }
        keepOffTheCurrentProcessor(reader->m_thread);
        return reader;
    }

    // Stops the thread if it still runs and drops the nodes not taken.
    ~SecondReader()
    {
        m_stop.store(true, std::memory_order_relaxed);
        if (m_thread.joinable())
            m_thread.join();
        for (const std::unique_ptr<Piece> &piece : m_pieces) {
            for (size_t i = piece->taken; i < piece->loose.size(); ++i)
                std::unique_ptr<CardNode>(piece->loose[i]).reset(); // takes the node's subtree with it
        }
    }

    enum class Meeting {
        Before,   // the first reader has not come to a piece's start (yet)
        HandOver, // it is exactly at a piece's start: the pieces' nodes take over
        Passed,   // it is past every piece (their starts lay inside records), or there is none
    };
    // Where the first reader, about to read a record at `offset`, stands.
    Meeting meet(qint64 offset)
    {
        m_firstAt.store(offset, std::memory_order_relaxed);
        const int pieces = static_cast<int>(m_pieces.size());
        for (;;) {
            const int k = std::max(m_lowestClaimed.load(std::memory_order_acquire), m_firstToMeet);
            if (k >= pieces)
                return m_firstToMeet >= pieces ? Meeting::Passed : Meeting::Before;
            Piece &piece = *m_pieces[static_cast<size_t>(k)];
            if (offset < piece.begin)
                return Meeting::Before;
            // The reader's thread is looking for the piece's record start: a short wait.
            qint64 at = piece.recordStart.load(std::memory_order_acquire);
            while (at == Unknown) {
                std::this_thread::yield();
                at = piece.recordStart.load(std::memory_order_acquire);
            }
            if (at != None && offset < at)
                return Meeting::Before;
            if (at == offset) {
                m_current = k;
                return Meeting::HandOver;
            }
            m_firstToMeet = k + 1; // passed: that start lay inside a record; the next piece may still do
        }
    }

    // Waits for the thread, calling `whileWaiting` every few milliseconds,
    // and hands the arena over to `builder`'s tree. Rethrows what the thread
    // threw.
    template<typename WhileWaiting>
    void finish(CardTreeBuilder &builder, WhileWaiting &&whileWaiting)
    {
        while (m_done.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready)
            whileWaiting();
        m_done.get();
        builder.takeOverArena(m_arena);
        // The first reader and the pieces read some bytes twice: counted once.
        if (m_firstInfo) {
            for (const std::unique_ptr<Piece> &piece : m_pieces)
                m_firstInfo->bytesRead =
                    std::max(m_firstInfo->bytesRead, piece->begin - m_firstBase + piece->info.bytesRead);
        }
    }

    // Whether a loose node is left; moves on to the next piece where one
    // ends exactly where the next starts.
    bool hasLoose()
    {
        for (;;) {
            const Piece &piece = *m_pieces[static_cast<size_t>(m_current)];
            if (piece.taken < piece.loose.size())
                return true;
            if (!piece.reachedNext)
                return false;
            do // pieces without a start of their own were read by the one below
                ++m_current;
            while (m_pieces[static_cast<size_t>(m_current)]->recordStart.load(std::memory_order_relaxed) == None);
        }
    }
    // The next loose node; with the nodes of its subtree whose children are
    // still to come (itself first) when it is the last one of its piece and
    // the piece ended inside its subtree.
    CardNode *takeLoose(std::vector<Pending> &unfinished)
    {
        Piece &piece = *m_pieces[static_cast<size_t>(m_current)];
        CardNode *node = piece.loose[piece.taken++];
        unfinished.clear();
        if (piece.taken == piece.loose.size())
            unfinished = piece.unfinished;
        return node;
    }
    // After the last loose node: whether the input ended exactly there, and
    // the failure a reader meets there (at the end: the end's own). A read
    // error of the piece's own becomes the first reader's, as if it had met it.
    bool endedAtEnd() const { return m_pieces[static_cast<size_t>(m_current)]->endedAtEnd; }
    const Failure &failure()
    {
        const Piece &piece = *m_pieces[static_cast<size_t>(m_current)];
        if (m_firstInfo && !piece.info.error.isEmpty())
            m_firstInfo->error = piece.info.error;
        return piece.failure;
    }

private:
    static constexpr qint64 Unknown = -1;
    static constexpr qint64 None = -2;

    struct Piece
    {
        explicit Piece(qint64 at)
            : begin(at)
        {
        }
        const qint64 begin;                       // where the search for its record start begins
        std::atomic<qint64> recordStart{Unknown}; // where it starts, or None
        DeviceRead info;
        std::vector<CardNode *> loose; // owned until taken
        size_t taken = 0;
        std::vector<Pending> unfinished; // bottom first: the last loose node
        bool reachedNext = false;        // it ends exactly where the next piece starts
        bool endedAtEnd = false;
        Failure failure; // where it ended otherwise
    };

    SecondReader(ReadOptions options, DeviceRead *firstInfo)
        : m_options(options)
        , m_firstInfo(firstInfo)
    {
    }

    // On the reader's thread: the pieces from the last one down.
    void run()
    {
        CardTreeBuilder builder(m_arena);
        qint64 nextStart = -1; // the record start of the piece above, -1: none to end at
        for (int k = static_cast<int>(m_pieces.size()) - 1; k >= 0; --k) {
            Piece &piece = *m_pieces[static_cast<size_t>(k)];
            if (m_stop.load(std::memory_order_relaxed))
                return;
            if (!m_forced && m_firstAt.load(std::memory_order_relaxed) >= piece.begin - ClaimDistance)
                return; // the first reader is near: it reads on itself
            if (!m_forced)
                m_lowestClaimed.store(k, std::memory_order_release);
            std::unique_ptr<Window> window = m_makeWindow(piece.begin, piece.info);
            const qint64 at =
                m_forced ? piece.begin : records::findRecordStart(*window, RecordStartSearchBytes, RecordStartChain);
            if (at < 0 || (nextStart >= 0 && at >= nextStart)) {
                piece.recordStart.store(None, std::memory_order_release);
                continue; // no start of its own: the piece below ends at the one above
            }
            window->advance(window->pos() + (at - window->offset()));
            piece.recordStart.store(at, std::memory_order_release);
            read(*window, builder, piece, nextStart);
            nextStart = at;
        }
    }

    // The same reading as the first thread's, from the piece's start to
    // where the piece above starts (or to the end, or a failure), with nodes
    // whose parent is not in this piece kept loose.
    void read(Window &window, CardTreeBuilder &builder, Piece &piece, qint64 endAt)
    {
        std::vector<Pending> stack;
        NodeRecord record;
        while (!m_stop.load(std::memory_order_relaxed)) {
            while (!stack.empty() && stack.back().childrenLeft <= 0)
                stack.pop_back();
            if (endAt >= 0 && window.offset() >= endAt) {
                if (window.offset() == endAt) {
                    piece.reachedNext = true;
                    break;
                }
                endAt = -1; // the piece above started inside a record: read on to the end
            }
            piece.endedAtEnd = window.atEnd();
            if (!records::readNodeRecord(window, record, piece.failure))
                break;
            CardNode *node = builder.makeBulkNode(contentsOf(record, m_options)).release();
            if (stack.empty()) {
                piece.loose.push_back(node);
            } else {
                CardTreeBuilder::appendBulkChild(stack.back().node, node);
                --stack.back().childrenLeft;
            }
            if (record.childCount > 0)
                stack.push_back({node, record.childCount});
        }
        while (!stack.empty() && stack.back().childrenLeft <= 0)
            stack.pop_back();
        piece.unfinished = std::move(stack);
    }

    ReadOptions m_options;
    DeviceRead *m_firstInfo; // the first reader's, for the bytes read and a read error
    MakeWindow m_makeWindow;
    qint64 m_firstBase = 0;
    qint64 m_inputEnd = 0;
    bool m_forced = false;
    std::vector<std::unique_ptr<Piece>> m_pieces; // in file order
    std::atomic<qint64> m_firstAt{0};             // where the first reader is
    std::atomic<int> m_lowestClaimed{0};          // the lowest piece the thread took on (the count: none)
    int m_firstToMeet = 0;                        // the first reader's: pieces below it were passed
    int m_current = 0;                            // the piece whose loose nodes are taken
    std::atomic<bool> m_stop{false};
    std::future<void> m_done; // ready when run() has returned; holds what it threw
    std::thread m_thread;
    CardArena m_arena;
};

LoadResult damaged(qint64 offset, QString reason)
{
    LoadResult result;
    result.status = LoadResult::Status::Damaged;
    result.offset = offset;
    result.error = Error{ErrorCode::DataDamaged, QString(), std::move(reason)};
    return result;
}

// Reads the top-level count and every node record after it, depth first,
// building the subtrees off the tree; each complete top-level subtree joins
// the tree at the latest before events run, and at the end. Iterative: an
// explicit stack holds the nodes whose children are still to come, so no
// nesting depth can overflow the call stack. Before each child node the
// window messages are pumped. Counts are never trusted for allocation: each
// node is made only once its record has been read whole. On a failure the
// nodes read so far stay in the tree.
LoadResult readTree(Window &window, CardTree &tree, ProgressSink &progress, ReadOptions options, MessagePump &pump,
                    std::unique_ptr<SecondReader> second = {})
{
    LoadResult result;
    if (window.atEnd())
        return result;
    window.require(4);
    if (window.end() - window.pos() < 4)
        return damaged(0, QStringLiteral("the file ends inside the top-level count"));
    const std::int32_t topLevelCount = qFromLittleEndian<std::int32_t>(window.pos());
    window.advance(window.pos() + 4);
    progress.ShowLoadProgress();

    // Nodes, records and texts in bulk, in the tree's own storage.
    CardTreeBuilder builder(tree);
    std::vector<std::unique_ptr<CardNode>> complete;
    const auto adoptComplete = [&tree, &complete]() {
        if (!complete.empty()) {
            tree.adoptTopLevel(std::move(complete));
            complete.clear();
        }
    };
    std::unique_ptr<CardNode> top; // the top-level subtree being read
    const auto fail = [&](const Failure &failure) {
        if (top)
            complete.push_back(std::move(top));
        adoptComplete();
        return damaged(failure.offset, failure.reason);
    };

    std::vector<Pending> stack;
    std::vector<Pending> unfinished;
    bool fromSecondReader = false;
    NodeRecord record;
    for (std::int32_t topLevelRead = 0;;) {
        while (!stack.empty() && stack.back().childrenLeft <= 0)
            stack.pop_back();
        const bool atTopLevel = stack.empty();
        if (atTopLevel) {
            if (top)
                complete.push_back(std::move(top));
            if (topLevelRead >= topLevelCount)
                break;
            const bool atEnd = fromSecondReader ? !second->hasLoose() && second->endedAtEnd() : window.atEnd();
            if (atEnd) {
                const qint64 offset = fromSecondReader ? second->failure().offset : window.offset();
                return fail({offset,
                             QStringLiteral("the file ends before top-level node %1 of %2")
                                 .arg(topLevelRead + 1)
                                 .arg(topLevelCount)});
            }
            ++topLevelRead;
        } else {
            --stack.back().childrenLeft;
            adoptComplete();
            pump.pump();
        }

        // Where a piece of the second reader starts, its nodes take over from the window.
        if (second && !fromSecondReader) {
            switch (second->meet(window.offset())) {
            case SecondReader::Meeting::Before:
                break;
            case SecondReader::Meeting::HandOver:
                second->finish(builder, [&] {
                    adoptComplete();
                    pump.pump();
                });
                fromSecondReader = true;
                break;
            case SecondReader::Meeting::Passed:
                second.reset(); // read on alone
                break;
            }
        }

        CardNode *node = nullptr;
        std::int32_t childCount = 0;
        if (fromSecondReader) {
            if (!second->hasLoose())
                return fail(second->failure());
            node = second->takeLoose(unfinished);
        } else {
            Failure failure;
            if (!records::readNodeRecord(window, record, failure))
                return fail(failure);
            node = builder.makeBulkNode(contentsOf(record, options)).release();
            childCount = record.childCount;
        }
        if (atTopLevel)
            top.reset(node);
        else
            CardTreeBuilder::appendBulkChild(stack.back().node, node);
        if (!unfinished.empty())
            stack.insert(stack.end(), unfinished.begin(), unfinished.end());
        else if (childCount > 0)
            stack.push_back({node, childCount});
    }
    adoptComplete();
    return result;
}

} // namespace

LoadResult ReadTreeFromBytes(QByteArrayView bytes, CardTree &tree, ProgressSink &progress, ReadOptions options,
                             MessagePump &pump)
{
    MemoryWindow window(bytes);
    std::unique_ptr<SecondReader> second;
    if (bytes.size() >= SplitInputBytes) {
        second = SecondReader::start(options, nullptr, 0, bytes.size(), [bytes](qint64 offset, DeviceRead &) {
            return std::make_unique<MemoryWindow>(bytes.sliced(offset), offset);
        });
    }
    return readTree(window, tree, progress, options, pump, std::move(second));
}

LoadResult records::ReadTreeSplitAt(QByteArrayView bytes, CardTree &tree, const std::vector<qint64> &pieceStarts,
                                    ReadOptions options)
{
    MemoryWindow window(bytes);
    std::vector<qint64> starts;
    for (const qint64 at : pieceStarts) {
        if (at >= 0 && at <= bytes.size())
            starts.push_back(at);
    }
    std::sort(starts.begin(), starts.end());
    starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
    std::unique_ptr<SecondReader> second;
    if (!starts.empty()) {
        second = SecondReader::start(
            options, nullptr, 0, bytes.size(),
            [bytes](qint64 offset, DeviceRead &) {
                return std::make_unique<MemoryWindow>(bytes.sliced(offset), offset);
            },
            starts);
    }
    return readTree(window, tree, NoProgress(), options, NoMessagePump(), std::move(second));
}

LoadResult ReadTreeFromDevice(QIODevice &device, CardTree &tree, ProgressSink &progress, ReadOptions options,
                              DeviceRead *info, MessagePump &pump)
{
    DeviceRead ownInfo;
    DeviceRead &read = info ? *info : ownInfo;
    read.bytesRead = 0;
    read.error.clear();

    // A file of known size is read from later on too, by position.
    std::unique_ptr<SecondReader> second;
    const auto *file = qobject_cast<QFileDevice *>(&device);
    if (file && !file->isSequential() && file->handle() >= 0 && records::PositionWindow::canReadByPosition()) {
        const qint64 from = file->pos();
        const qint64 size = file->size();
        if (size - from >= SplitInputBytes && size <= read.maxBytes) {
            const int fd = file->handle();
            second = SecondReader::start(options, &read, from, size, [fd](qint64 offset, DeviceRead &pieceInfo) {
                return std::make_unique<records::PositionWindow>(fd, offset, pieceInfo);
            });
        }
    }
    records::DeviceWindow window(device, read);
    LoadResult result = readTree(window, tree, progress, options, pump, std::move(second));
    if (!read.error.isEmpty()) { // the device failed: what was read says nothing
        result.status = LoadResult::Status::Damaged;
        result.offset = -1;
        result.error = Error{ErrorCode::ReadFailed, QString(), read.error};
    }
    return result;
}

} // namespace kelvo
