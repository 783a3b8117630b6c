// Reading a tree out of the data file's bytes. A large file is read by two
// threads: the second starts in the middle, at the first record start it
// finds there, and makes the nodes of the second half with their subtrees
// as far as they lie in that half. The first thread reads from the start as
// a single reader would; once it meets the second half's first record
// exactly, it links what the second thread made in place of reading on. A
// record read from a given offset is the same whoever reads it, so the tree,
// the messages and the offsets of a damaged file are exactly those of a
// single reader. If the first thread never meets that offset (a file so
// made that a record start seems to lie inside a record), the second half's
// nodes are dropped and the first thread reads on alone.
#include "DataFileFormat.h"

#include "CardArena.h"
#include "CardTree.h"
#include "NodeRecordReading.h"

#include <QFileDevice>
#include <QtEndian>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <memory>
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
constexpr qsizetype RecordStartSearchBytes = qsizetype(64) << 10;
constexpr int RecordStartChain = 8;

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

// The second half of the input, read on a thread of its own into an arena of
// its own: the nodes whose parent lies in the first half ("loose" nodes),
// each with its subtree as far as the half holds it, and how the half ended.
class SecondHalf
{
public:
    // Makes the half's window with `makeWindow` (given the half's own
    // DeviceRead), looks for a record start from the window's position on
    // and, when it finds one, starts the thread reading there; null when
    // there is none.
    // With `searching` false the window's position is taken as it is.
    // `readFrom` is the number of bytes the first reader reads up to the
    // window's position.
    template<typename MakeWindow>
    static std::unique_ptr<SecondHalf> start(ReadOptions options, DeviceRead *firstInfo, qint64 readFrom,
                                             MakeWindow &&makeWindow, bool searching = true)
    {
        auto half = std::unique_ptr<SecondHalf>(new SecondHalf(options, firstInfo));
        half->m_window = makeWindow(half->m_info);
        half->m_readFrom = readFrom;
        Window &window = *half->m_window;
        const qint64 at =
            searching ? records::findRecordStart(window, RecordStartSearchBytes, RecordStartChain) : window.offset();
        if (at < 0)
            return nullptr;
        window.advance(window.pos() + (at - window.offset()));
        half->m_start = at;
        half->m_done = std::async(std::launch::async, [h = half.get()] { h->read(); });
        return half;
    }

    // Stops the thread if it still runs and drops the nodes not taken.
    ~SecondHalf()
    {
        m_stop.store(true, std::memory_order_relaxed);
        if (m_done.valid())
            m_done.wait();
        for (size_t i = m_taken; i < m_loose.size(); ++i)
            std::unique_ptr<CardNode>(m_loose[i]).reset(); // takes the node's subtree with it
    }

    qint64 startOffset() const { return m_start; }

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
        // Both read the bytes between this half's start and where the first
        // reader stopped: counted once.
        if (m_firstInfo)
            m_firstInfo->bytesRead = std::max(m_firstInfo->bytesRead, m_readFrom + m_info.bytesRead);
    }

    bool hasLoose() const { return m_taken < m_loose.size(); }
    // The next loose node; with the nodes of its subtree whose children are
    // still to come (itself first) when it is the last one and the half
    // ended inside its subtree.
    CardNode *takeLoose(std::vector<Pending> &unfinished)
    {
        CardNode *node = m_loose[m_taken++];
        unfinished.clear();
        if (m_taken == m_loose.size())
            unfinished = m_unfinished;
        return node;
    }
    // After the last loose node: whether the input ended exactly there, and
    // the failure a reader meets there (at the end: the end's own).
    bool endedAtEnd() const { return m_endedAtEnd; }
    // A read error of the half's own becomes the first reader's, as if it
    // had met it.
    const Failure &failure()
    {
        if (m_firstInfo && !m_info.error.isEmpty())
            m_firstInfo->error = m_info.error;
        return m_failure;
    }

private:
    SecondHalf(ReadOptions options, DeviceRead *firstInfo)
        : m_options(options)
        , m_firstInfo(firstInfo)
    {
    }

    // On the second thread: the same reading as the first thread's, with
    // nodes whose parent is not in this half kept loose.
    void read()
    {
        CardTreeBuilder builder(m_arena);
        std::vector<Pending> stack;
        NodeRecord record;
        while (!m_stop.load(std::memory_order_relaxed)) {
            while (!stack.empty() && stack.back().childrenLeft <= 0)
                stack.pop_back();
            m_endedAtEnd = m_window->atEnd();
            if (!records::readNodeRecord(*m_window, record, m_failure))
                break;
            CardNode *node = builder.makeBulkNode(contentsOf(record, m_options)).release();
            if (stack.empty()) {
                m_loose.push_back(node);
            } else {
                CardTreeBuilder::appendBulkChild(stack.back().node, node);
                --stack.back().childrenLeft;
            }
            if (record.childCount > 0)
                stack.push_back({node, record.childCount});
        }
        while (!stack.empty() && stack.back().childrenLeft <= 0)
            stack.pop_back();
        m_unfinished = std::move(stack);
    }

    std::unique_ptr<Window> m_window;
    ReadOptions m_options;
    DeviceRead *m_firstInfo; // the first reader's, for the bytes read and a read error
    DeviceRead m_info;       // this half's own, when it reads a device
    qint64 m_start = -1;
    qint64 m_readFrom = 0;
    std::atomic<bool> m_stop{false};
    std::future<void> m_done;

    CardArena m_arena;
    std::vector<CardNode *> m_loose; // owned until taken
    size_t m_taken = 0;
    std::vector<Pending> m_unfinished; // bottom first: the last loose node
    bool m_endedAtEnd = false;
    Failure m_failure;
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
                    std::unique_ptr<SecondHalf> second = {})
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
    bool fromSecondHalf = false;
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
            const bool atEnd = fromSecondHalf ? !second->hasLoose() && second->endedAtEnd() : window.atEnd();
            if (atEnd) {
                const qint64 offset = fromSecondHalf ? second->failure().offset : window.offset();
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

        // Where the second half starts, its nodes take over from the window.
        if (second && !fromSecondHalf && window.offset() >= second->startOffset()) {
            if (window.offset() == second->startOffset()) {
                second->finish(builder, [&] {
                    adoptComplete();
                    pump.pump();
                });
                fromSecondHalf = true;
            } else {
                second.reset(); // that start lay inside a record: read on alone
            }
        }

        CardNode *node = nullptr;
        std::int32_t childCount = 0;
        if (fromSecondHalf) {
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
    std::unique_ptr<SecondHalf> second;
    if (bytes.size() >= SplitInputBytes) {
        const qsizetype middle = bytes.size() / 2;
        second = SecondHalf::start(options, nullptr, middle, [&](DeviceRead &) {
            return std::make_unique<MemoryWindow>(bytes.sliced(middle), middle);
        });
    }
    return readTree(window, tree, progress, options, pump, std::move(second));
}

LoadResult records::ReadTreeSplitAt(QByteArrayView bytes, CardTree &tree, qint64 secondHalfStart, ReadOptions options)
{
    MemoryWindow window(bytes);
    std::unique_ptr<SecondHalf> second;
    if (secondHalfStart >= 0 && secondHalfStart <= bytes.size()) {
        second = SecondHalf::start(
            options, nullptr, secondHalfStart,
            [&](DeviceRead &) {
                return std::make_unique<MemoryWindow>(bytes.sliced(secondHalfStart), secondHalfStart);
            },
            false);
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

    // A file of known size is read from its middle too, by position.
    std::unique_ptr<SecondHalf> second;
    const auto *file = qobject_cast<QFileDevice *>(&device);
    if (file && !file->isSequential() && file->handle() >= 0 && records::PositionWindow::canReadByPosition()) {
        const qint64 from = file->pos();
        const qint64 size = file->size();
        if (size - from >= SplitInputBytes && size <= read.maxBytes) {
            const qint64 middle = from + (size - from) / 2;
            second = SecondHalf::start(options, &read, middle - from, [&](DeviceRead &halfInfo) {
                return std::make_unique<records::PositionWindow>(file->handle(), middle, halfInfo);
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
