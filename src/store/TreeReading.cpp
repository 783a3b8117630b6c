// Reading a tree out of the data file's bytes. A large file is read by two
// threads: the second starts in the middle of what the first has still to
// read when the second starts to run, at a record start it finds there, and
// makes the nodes of that second half with their subtrees as far as they lie
// in it. The first thread reads from the start as
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
// A second half shorter than this is not worth a thread.
constexpr qint64 MinSecondHalfBytes = qint64(1) << 20;

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
// The half begins where the thread starts to run, in the middle of what the
// first reader has still to read then (a thread may start some milliseconds
// late), at the next record start found from there.
class SecondHalf
{
public:
    // Makes the window of the half at a given offset, with the half's own
    // DeviceRead; called on the half's thread.
    using MakeWindow = std::function<std::unique_ptr<Window>(qint64 offset, DeviceRead &info)>;

    // The input runs from `firstBase` (where the first reader starts) to
    // `inputEnd`. With `forcedStart` >= 0 the half starts exactly there,
    // whatever lies there.
    static std::unique_ptr<SecondHalf> start(ReadOptions options, DeviceRead *firstInfo, qint64 firstBase,
                                             qint64 inputEnd, MakeWindow makeWindow, qint64 forcedStart = -1)
    {
        auto half = std::unique_ptr<SecondHalf>(new SecondHalf(options, firstInfo));
        half->m_firstBase = firstBase;
        half->m_inputEnd = inputEnd;
        half->m_firstAt.store(firstBase, std::memory_order_relaxed);
        half->m_makeWindow = std::move(makeWindow);
        if (forcedStart >= 0) {
            half->m_begin.store(forcedStart, std::memory_order_relaxed);
            half->m_recordStart.store(forcedStart, std::memory_order_relaxed);
        }
        std::packaged_task<void()> task([h = half.get()] { h->run(); });
        half->m_done = task.get_future();
        try {
            half->m_thread = std::thread(std::move(task));
        } catch (const std::system_error &) {
            return nullptr; // no thread to be had: one reader does it all
        }
        keepOffTheCurrentProcessor(half->m_thread);
        return half;
    }

    // Stops the thread if it still runs and drops the nodes not taken.
    ~SecondHalf()
    {
        m_stop.store(true, std::memory_order_relaxed);
        if (m_thread.joinable())
            m_thread.join();
        for (size_t i = m_taken; i < m_loose.size(); ++i)
            std::unique_ptr<CardNode>(m_loose[i]).reset(); // takes the node's subtree with it
    }

    enum class Meeting {
        Before,   // the first reader has not come to the half's start yet
        HandOver, // it is exactly at the half's start: the half's nodes take over
        Passed,   // it is past the start (which lay inside a record), or there is no half
    };
    // Where the first reader, about to read a record at `offset`, stands.
    Meeting meet(qint64 offset)
    {
        m_firstAt.store(offset, std::memory_order_relaxed);
        const qint64 begin = m_begin.load(std::memory_order_acquire);
        if (begin == Unknown || (begin >= 0 && offset < begin))
            return Meeting::Before;
        if (begin == None)
            return Meeting::Passed;
        // The half's thread is looking for its record start: a short wait.
        qint64 at = m_recordStart.load(std::memory_order_acquire);
        while (at == Unknown) {
            std::this_thread::yield();
            at = m_recordStart.load(std::memory_order_acquire);
        }
        if (at == None || offset > at)
            return Meeting::Passed;
        return offset == at ? Meeting::HandOver : Meeting::Before;
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

    // On the second thread: where to begin, then the same reading as the
    // first thread's, with nodes whose parent is not in this half kept loose.
    void run()
    {
        qint64 begin = m_begin.load(std::memory_order_relaxed);
        const bool forced = begin >= 0;
        if (!forced) {
            const qint64 first = m_firstAt.load(std::memory_order_relaxed);
            begin = first + (m_inputEnd - first) / 2;
            if (m_inputEnd - begin < MinSecondHalfBytes) {
                m_begin.store(None, std::memory_order_release);
                return;
            }
            m_begin.store(begin, std::memory_order_release);
        }
        m_readFrom = begin - m_firstBase;
        m_window = m_makeWindow(begin, m_info);
        const qint64 at =
            forced ? begin : records::findRecordStart(*m_window, RecordStartSearchBytes, RecordStartChain);
        if (at < 0) {
            m_recordStart.store(None, std::memory_order_release);
            return;
        }
        m_window->advance(m_window->pos() + (at - m_window->offset()));
        m_recordStart.store(at, std::memory_order_release);
        read();
    }

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

    static constexpr qint64 Unknown = -1;
    static constexpr qint64 None = -2;

    ReadOptions m_options;
    DeviceRead *m_firstInfo; // the first reader's, for the bytes read and a read error
    DeviceRead m_info;       // this half's own, when it reads a device
    MakeWindow m_makeWindow;
    std::unique_ptr<Window> m_window;
    qint64 m_firstBase = 0;
    qint64 m_inputEnd = 0;
    qint64 m_readFrom = 0;                      // bytes before the half's window, from firstBase
    std::atomic<qint64> m_firstAt{0};           // where the first reader is
    std::atomic<qint64> m_begin{Unknown};       // where the half looks for a record start, or None
    std::atomic<qint64> m_recordStart{Unknown}; // where it starts, or None
    std::atomic<bool> m_stop{false};
    std::future<void> m_done; // ready when run() has returned; holds what it threw
    std::thread m_thread;

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
        if (second && !fromSecondHalf) {
            switch (second->meet(window.offset())) {
            case SecondHalf::Meeting::Before:
                break;
            case SecondHalf::Meeting::HandOver:
                second->finish(builder, [&] {
                    adoptComplete();
                    pump.pump();
                });
                fromSecondHalf = true;
                break;
            case SecondHalf::Meeting::Passed:
                second.reset(); // read on alone
                break;
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
        second = SecondHalf::start(options, nullptr, 0, bytes.size(), [bytes](qint64 offset, DeviceRead &) {
            return std::make_unique<MemoryWindow>(bytes.sliced(offset), offset);
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
            options, nullptr, 0, bytes.size(),
            [bytes](qint64 offset, DeviceRead &) {
                return std::make_unique<MemoryWindow>(bytes.sliced(offset), offset);
            },
            secondHalfStart);
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
            const int fd = file->handle();
            second = SecondHalf::start(options, &read, from, size, [fd](qint64 offset, DeviceRead &halfInfo) {
                return std::make_unique<records::PositionWindow>(fd, offset, halfInfo);
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
