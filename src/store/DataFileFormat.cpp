#include "DataFileFormat.h"

#include "CardRecords.h"
#include "CardTree.h"
#include "FileHelpers.h"
#include "Gb18030.h"

#include <QIODevice>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <vector>

namespace kelvo {

namespace {

// Shape of a node record: twenty items, each a 4-byte length and its payload.
constexpr int TextItems = 13;          // items 1..13
constexpr qsizetype MaxTextItem = 257; // length byte, 255 text bytes, filler
constexpr qsizetype FixedRecordBytes = 13 * (4 + 2) + 5 * (4 + 4) + (4 + 8) + (4 + 4); // 138
constexpr char FillerByte = 0;

// --- writing

char *putInt32(char *out, std::int32_t value)
{
    qToLittleEndian<std::int32_t>(value, out);
    return out + 4;
}

char *putDouble(char *out, double value)
{
    quint64 bits;
    static_assert(sizeof bits == sizeof value);
    std::memcpy(&bits, &value, sizeof bits);
    qToLittleEndian<quint64>(bits, out);
    return out + 8;
}

char *putTextItem(char *out, QByteArrayView text)
{
    const auto length = static_cast<std::int32_t>(text.size());
    out = putInt32(out, length + 2);
    *out++ = static_cast<char>(static_cast<unsigned char>(length));
    if (length > 0)
        std::memcpy(out, text.data(), static_cast<size_t>(length));
    out += length;
    *out++ = FillerByte;
    return out;
}

QByteArrayView storedText(QByteArrayView text)
{
    return gb18030::cutAtCharBoundary(gb18030::trimmed(text), TCardData::MaxFieldBytes);
}

// --- reading

// The most bytes one node record can take: thirteen text items of at most
// 257 bytes, six fixed items of four and one of eight, each after a 4-byte
// length.
constexpr qsizetype MaxRecordBytes = TextItems * (4 + MaxTextItem) + 6 * (4 + 4) + (4 + 8);

struct Failure
{
    qint64 offset = -1;
    QString reason;
};

// The bytes of the file as far as they are in memory: all of them (a mapped
// or read file), or a window that a device refills as the reader goes on.
class Window
{
public:
    virtual ~Window() = default;

    // Makes at least `n` bytes available at pos(), or all that are left.
    void require(qsizetype n)
    {
        if (m_end - m_pos < n && !m_finished)
            refill(n);
    }
    const unsigned char *pos() const { return m_pos; }
    const unsigned char *end() const { return m_end; }
    void advance(const unsigned char *to) { m_pos = to; }
    // File offset of the byte at `p` (within the window).
    qint64 offsetOf(const unsigned char *p) const { return m_base + (p - m_start); }
    qint64 offset() const { return offsetOf(m_pos); }
    bool atEnd()
    {
        require(1);
        return m_pos == m_end;
    }

protected:
    virtual void refill(qsizetype n) = 0;

    const unsigned char *m_start = nullptr; // file offset m_base
    const unsigned char *m_pos = nullptr;
    const unsigned char *m_end = nullptr;
    qint64 m_base = 0;
    bool m_finished = true; // nothing more than [m_start, m_end)
};

class MemoryWindow final : public Window
{
public:
    explicit MemoryWindow(QByteArrayView bytes)
    {
        m_start = m_pos = reinterpret_cast<const unsigned char *>(bytes.data());
        m_end = m_start + bytes.size();
    }

private:
    void refill(qsizetype) override {}
};

// Reads the device in large pieces; the bytes already used are dropped, so
// memory stays the size of the buffer whatever the size of the file.
class DeviceWindow final : public Window
{
public:
    DeviceWindow(QIODevice &device, DeviceRead &info)
        : m_device(device)
        , m_info(info)
    {
        m_finished = false;
        m_buffer.resize(static_cast<size_t>(PieceBytes + MaxRecordBytes));
        m_start = m_pos = m_end = reinterpret_cast<const unsigned char *>(m_buffer.data());
    }

private:
    static constexpr qsizetype PieceBytes = qsizetype(1) << 20;

    void refill(qsizetype n) override
    {
        // Keep what is left, at the front.
        const qsizetype left = m_end - m_pos;
        auto *front = reinterpret_cast<unsigned char *>(m_buffer.data());
        m_base += m_pos - m_start;
        std::memmove(front, m_pos, static_cast<size_t>(left));
        m_start = m_pos = front;
        m_end = front + left;
        while (m_end - m_pos < n && !m_finished) {
            const qsizetype room = static_cast<qsizetype>(m_buffer.size()) - (m_end - front);
            const qint64 got = m_device.read(reinterpret_cast<char *>(front) + (m_end - front), room);
            if (got < 0) {
                m_info.error = m_device.errorString();
                m_finished = true;
            } else if (got == 0) {
                m_finished = !m_device.isSequential() || !m_device.waitForReadyRead(-1) || m_device.atEnd();
                if (m_device.isSequential() && !m_finished)
                    continue;
                m_finished = true;
            } else {
                m_end += got;
                m_info.bytesRead += got;
                if (m_info.bytesRead > m_info.maxBytes) {
                    m_info.error = QStringLiteral("larger than %1 bytes; refused").arg(m_info.maxBytes);
                    m_finished = true;
                }
            }
        }
    }

    QIODevice &m_device;
    DeviceRead &m_info;
    std::vector<char> m_buffer;
};

struct NodeRecord
{
    std::array<QByteArrayView, TextItems> texts; // label, then fields 2..13
    std::array<std::int32_t, 4> indexes = {};
    std::int32_t childCount = 0;
    double created = 0.0;
    std::int32_t kind = 0;
};

std::int32_t int32At(const unsigned char *p)
{
    return qFromLittleEndian<std::int32_t>(p);
}

// The messages of a damaged record, made only when one is met.
Q_DECL_COLD_FUNCTION Failure endsInsideLength(const Window &w, const unsigned char *at, int item)
{
    return {w.offsetOf(at), QStringLiteral("the file ends inside the length of item %1").arg(item)};
}

Q_DECL_COLD_FUNCTION Failure runsPastTheEnd(const Window &w, const unsigned char *at, int item, std::int32_t n)
{
    return {w.offsetOf(at), QStringLiteral("item %1 (%2 bytes) runs past the end of the file").arg(item).arg(n)};
}

Q_DECL_COLD_FUNCTION Failure badTextLength(const Window &w, const unsigned char *at, int item, std::int32_t n)
{
    return {w.offsetOf(at),
            QStringLiteral("text item %1 has length %2; a text item holds 1 to %3 bytes")
                .arg(item)
                .arg(n)
                .arg(MaxTextItem)};
}

Q_DECL_COLD_FUNCTION Failure claimsTooMuch(const Window &w, const unsigned char *at, int item, int textLength,
                                           std::int32_t n)
{
    return {w.offsetOf(at),
            QStringLiteral("text item %1 claims %2 text bytes but has length %3").arg(item).arg(textLength).arg(n)};
}

Q_DECL_COLD_FUNCTION Failure badFixedLength(const Window &w, const unsigned char *at, int item, std::int32_t n,
                                            std::int32_t expected)
{
    return {w.offsetOf(at), QStringLiteral("item %1 has length %2 instead of %3").arg(item).arg(n).arg(expected)};
}

// Reads one node record (twenty items) at the window's position; the texts
// are views into the window, valid until it is next refilled. Every length
// is checked before it is used; with `Roomy` the window is known to hold the
// longest record there can be, so no item can run past its end and only the
// lengths' shapes need checking.
template<bool Roomy>
bool readNodeRecordAt(Window &w, NodeRecord &record, Failure &failure)
{
    const unsigned char *p = w.pos();
    const unsigned char *const end = w.end();
    for (int i = 0; i < TextItems; ++i) {
        if (!Roomy && end - p < 4) {
            failure = endsInsideLength(w, p, i + 1);
            return false;
        }
        const std::int32_t n = int32At(p);
        if (n < 1 || n > MaxTextItem) [[unlikely]] {
            failure = badTextLength(w, p, i + 1, n);
            return false;
        }
        if (!Roomy && n > end - p - 4) {
            failure = runsPastTheEnd(w, p, i + 1, n);
            return false;
        }
        const int textLength = p[4];
        if (1 + textLength > n) [[unlikely]] {
            failure = claimsTooMuch(w, p, i + 1, textLength, n);
            return false;
        }
        record.texts[static_cast<size_t>(i)] = QByteArrayView(reinterpret_cast<const char *>(p + 5), textLength);
        p += 4 + n;
    }
    // Items 14 to 20: four display indexes, the child count, the date, the kind.
    std::int32_t values[6];
    for (int item = 14; item <= 20; ++item) {
        const std::int32_t expected = item == 19 ? 8 : 4;
        if (!Roomy && end - p < 4) {
            failure = endsInsideLength(w, p, item);
            return false;
        }
        const std::int32_t n = int32At(p);
        if (n != expected) [[unlikely]] {
            failure = badFixedLength(w, p, item, n, expected);
            return false;
        }
        if (!Roomy && end - p - 4 < n) {
            failure = runsPastTheEnd(w, p, item, n);
            return false;
        }
        if (item == 19) {
            const auto bits = qFromLittleEndian<quint64>(p + 4);
            std::memcpy(&record.created, &bits, sizeof record.created);
        } else {
            values[item < 19 ? item - 14 : 5] = int32At(p + 4);
        }
        p += 4 + n;
    }
    record.indexes = {values[0], values[1], values[2], values[3]};
    record.childCount = values[4];
    record.kind = values[5];
    w.advance(p);
    return true;
}

bool readNodeRecord(Window &w, NodeRecord &record, Failure &failure)
{
    w.require(MaxRecordBytes);
    if (w.end() - w.pos() >= MaxRecordBytes)
        return readNodeRecordAt<true>(w, record, failure);
    return readNodeRecordAt<false>(w, record, failure);
}

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

struct ReadNodeResult
{
    std::unique_ptr<CardNode> node; // complete, or the part read before a failure
    bool ok = true;
};

// Reads one node record and the records of its whole subtree, building the
// subtree off the tree. Iterative: an explicit stack holds the nodes whose
// children are still to come, so no nesting depth can overflow the call
// stack. Before each child node `beforePump` runs, then the window messages
// are pumped. Counts are never trusted for allocation: each node is made
// only once its record has been read whole.
template<typename BeforePump>
ReadNodeResult ReadNodeData(Window &window, CardTreeBuilder &builder, MessagePump &pump, ReadOptions options,
                            BeforePump &beforePump, Failure &failure)
{
    ReadNodeResult result;
    NodeRecord record;
    if (!readNodeRecord(window, record, failure)) {
        result.ok = false;
        return result;
    }
    result.node = builder.makeBulkNode(contentsOf(record, options));

    struct Pending
    {
        CardNode *node;
        std::int32_t childrenLeft;
    };
    std::vector<Pending> stack;
    if (record.childCount > 0)
        stack.push_back({result.node.get(), record.childCount});

    while (!stack.empty()) {
        Pending &top = stack.back();
        if (top.childrenLeft <= 0) {
            stack.pop_back();
            continue;
        }
        --top.childrenLeft;
        CardNode *parent = top.node;
        beforePump();
        pump.pump();
        if (!readNodeRecord(window, record, failure)) {
            result.ok = false;
            return result;
        }
        CardNode *node = builder.addBulkChild(parent, contentsOf(record, options));
        if (record.childCount > 0)
            stack.push_back({node, record.childCount});
    }
    return result;
}

LoadResult readTree(Window &window, CardTree &tree, ProgressSink &progress, ReadOptions options, MessagePump &pump);

LoadResult damaged(qint64 offset, QString reason)
{
    LoadResult result;
    result.status = LoadResult::Status::Damaged;
    result.offset = offset;
    result.error = Error{ErrorCode::DataDamaged, QString(), std::move(reason)};
    return result;
}

} // namespace

// --- the node record

namespace {

// The texts of a node record as written, and the record's size.
struct RecordTexts
{
    std::array<QByteArrayView, TextItems> texts;
    qsizetype size = FixedRecordBytes;
};

RecordTexts recordTexts(const CardNode &node)
{
    RecordTexts result;
    const TCardData *data = node.data();
    result.texts[0] = storedText(node.label());
    for (int field = 2; field <= Field::Last; ++field)
        result.texts[static_cast<size_t>(field - 1)] = data ? storedText(data->field(field)) : QByteArrayView();
    for (const QByteArrayView &text : result.texts)
        result.size += text.size();
    return result;
}

// Writes the record into `out`, which has room for `texts.size` bytes.
void putNodeRecord(char *out, const CardNode &node, const RecordTexts &texts)
{
    const TCardData *data = node.data();
    for (const QByteArrayView &text : texts.texts)
        out = putTextItem(out, text);
    for (std::int32_t index : node.displayIndexes()) {
        out = putInt32(out, 4);
        out = putInt32(out, index);
    }
    out = putInt32(out, 4);
    out = putInt32(out, node.childCount());
    out = putInt32(out, 8);
    out = putDouble(out, data ? data->Created : 0.0);
    out = putInt32(out, 4);
    putInt32(out, data ? data->Kind : Kind::CardClass);
}

} // namespace

void WriteNodeData(QByteArray &buffer, const CardNode &node)
{
    const RecordTexts texts = recordTexts(node);
    const qsizetype at = buffer.size();
    buffer.resize(at + texts.size);
    putNodeRecord(buffer.data() + at, node, texts);
}

// --- the whole file in memory

QByteArray SerializeTree(const CardTree &tree, ProgressSink &progress, QString *error, MessagePump &pump)
{
    const int count = tree.count();
    const quint64 shape = tree.shapeVersion();

    // The exact size first, so that the file is built in one allocation.
    qsizetype total = 4;
    for (int i = 0; i < count; ++i)
        total += recordTexts(*tree.nodeAt(i)).size;
    QByteArray buffer(total, Qt::Uninitialized);
    fileio::adviseLargeBuffer(buffer.data(), total);
    qsizetype used = 0;
    putInt32(buffer.data(), tree.topLevelCount());
    used += 4;

    progress.ShowSaveProgress(count);
    for (int i = 0; i < count; ++i) {
        pump.pump();
        // Events may have run: a tree that changed shape meanwhile cannot be
        // written consistently any more (counts already written).
        if (tree.shapeVersion() != shape) {
            if (error)
                *error = QStringLiteral("the card tree changed while it was being saved");
            return {};
        }
        progress.RefreshProgress();
        const CardNode &node = *tree.nodeAt(i);
        const RecordTexts texts = recordTexts(node);
        if (used + texts.size > buffer.size()) // a field was edited while events ran
            buffer.resize(std::max(used + texts.size, buffer.size() + buffer.size() / 2));
        putNodeRecord(buffer.data() + used, node, texts);
        used += texts.size;
        progress.StepProgress();
    }
    buffer.truncate(used);
    return buffer;
}

Result<> WriteTreeInPieces(const CardTree &tree, const std::function<Result<>(QByteArrayView piece)> &write)
{
    constexpr qsizetype Piece = qsizetype(1) << 20;
    QByteArray buffer(Piece + MaxRecordBytes + 8, Qt::Uninitialized);
    qsizetype used = 0;
    putInt32(buffer.data(), tree.topLevelCount());
    used += 4;
    Result<> written;
    tree.forEach([&](const CardNode *node) {
        if (!written)
            return;
        const RecordTexts texts = recordTexts(*node);
        if (used + texts.size > buffer.size()) {
            written = write(QByteArrayView(buffer.constData(), used));
            used = 0;
            if (!written)
                return;
        }
        putNodeRecord(buffer.data() + used, *node, texts);
        used += texts.size;
        if (used >= Piece) {
            written = write(QByteArrayView(buffer.constData(), used));
            used = 0;
        }
    });
    if (written && used > 0)
        written = write(QByteArrayView(buffer.constData(), used));
    return written;
}

namespace {

LoadResult readTree(Window &window, CardTree &tree, ProgressSink &progress, ReadOptions options, MessagePump &pump)
{
    LoadResult result;
    if (window.atEnd())
        return result;
    window.require(4);
    if (window.end() - window.pos() < 4)
        return damaged(0, QStringLiteral("the file ends inside the top-level count"));
    const std::int32_t topLevelCount = int32At(window.pos());
    window.advance(window.pos() + 4);
    progress.ShowLoadProgress();

    // Nodes, records and texts in bulk, in the tree's own storage.
    CardTreeBuilder builder(tree);
    // Complete top-level subtrees wait here and join the tree together,
    // at the latest before events run and at the end.
    std::vector<std::unique_ptr<CardNode>> complete;
    const auto adoptComplete = [&tree, &complete]() {
        if (!complete.empty()) {
            tree.adoptTopLevel(std::move(complete));
            complete.clear();
        }
    };

    for (std::int32_t i = 0; i < topLevelCount; ++i) {
        if (window.atEnd()) {
            adoptComplete();
            return damaged(
                window.offset(),
                QStringLiteral("the file ends before top-level node %1 of %2").arg(i + 1).arg(topLevelCount));
        }
        Failure failure;
        ReadNodeResult node = ReadNodeData(window, builder, pump, options, adoptComplete, failure);
        if (node.node)
            complete.push_back(std::move(node.node));
        if (!node.ok) {
            adoptComplete();
            return damaged(failure.offset, failure.reason);
        }
    }
    adoptComplete();
    return result;
}

} // namespace

LoadResult ReadTreeFromBytes(QByteArrayView bytes, CardTree &tree, ProgressSink &progress, ReadOptions options,
                             MessagePump &pump)
{
    MemoryWindow window(bytes);
    return readTree(window, tree, progress, options, pump);
}

LoadResult ReadTreeFromDevice(QIODevice &device, CardTree &tree, ProgressSink &progress, ReadOptions options,
                              DeviceRead *info, MessagePump &pump)
{
    DeviceRead ownInfo;
    DeviceRead &read = info ? *info : ownInfo;
    read.bytesRead = 0;
    read.error.clear();
    DeviceWindow window(device, read);
    LoadResult result = readTree(window, tree, progress, options, pump);
    if (!read.error.isEmpty()) { // the device failed: what was read says nothing
        result.status = LoadResult::Status::Damaged;
        result.offset = -1;
        result.error = Error{ErrorCode::ReadFailed, QString(), read.error};
    }
    return result;
}

} // namespace kelvo
