#include "DataFileFormat.h"

#include "CardRecords.h"
#include "CardTree.h"
#include "FileHelpers.h"
#include "Gb18030.h"

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

struct Failure
{
    qint64 offset = -1;
    QString reason;
};

class Cursor
{
public:
    explicit Cursor(QByteArrayView bytes)
        : m_begin(reinterpret_cast<const unsigned char *>(bytes.data()))
        , m_pos(m_begin)
        , m_end(m_begin + bytes.size())
    {
    }

    qint64 offset() const { return m_pos - m_begin; }
    qint64 left() const { return m_end - m_pos; }
    bool atEnd() const { return m_pos == m_end; }

    std::int32_t takeInt32()
    {
        const auto value = qFromLittleEndian<std::int32_t>(m_pos);
        m_pos += 4;
        return value;
    }
    double takeDouble()
    {
        const auto bits = qFromLittleEndian<quint64>(m_pos);
        m_pos += 8;
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    const unsigned char *take(qsizetype n)
    {
        const unsigned char *at = m_pos;
        m_pos += n;
        return at;
    }

private:
    const unsigned char *m_begin;
    const unsigned char *m_pos;
    const unsigned char *m_end;
};

struct NodeRecord
{
    std::array<QByteArrayView, TextItems> texts; // label, then fields 2..13
    std::array<std::int32_t, 4> indexes = {};
    std::int32_t childCount = 0;
    double created = 0.0;
    std::int32_t kind = 0;
};

// Reads an item's length prefix and checks that its payload lies within the
// bytes left. `item` is the item's number (1..20) for the message.
bool readItemLength(Cursor &cursor, int item, std::int32_t &length, qint64 &itemOffset, Failure &failure)
{
    itemOffset = cursor.offset();
    if (cursor.left() < 4) {
        failure = {itemOffset, QStringLiteral("the file ends inside the length of item %1").arg(item)};
        return false;
    }
    length = cursor.takeInt32();
    return true;
}

bool readTextItem(Cursor &cursor, int item, QByteArrayView &text, Failure &failure)
{
    std::int32_t n = 0;
    qint64 itemOffset = 0;
    if (!readItemLength(cursor, item, n, itemOffset, failure))
        return false;
    if (n < 1 || n > MaxTextItem) {
        failure = {itemOffset, QStringLiteral("text item %1 has length %2; a text item holds 1 to %3 bytes")
                                   .arg(item)
                                   .arg(n)
                                   .arg(MaxTextItem)};
        return false;
    }
    if (n > cursor.left()) {
        failure = {itemOffset, QStringLiteral("item %1 (%2 bytes) runs past the end of the file").arg(item).arg(n)};
        return false;
    }
    const unsigned char *payload = cursor.take(n);
    const int textLength = payload[0];
    if (1 + textLength > n) {
        failure = {itemOffset, QStringLiteral("text item %1 claims %2 text bytes but has length %3")
                                   .arg(item)
                                   .arg(textLength)
                                   .arg(n)};
        return false;
    }
    text = QByteArrayView(reinterpret_cast<const char *>(payload + 1), textLength);
    return true;
}

bool readFixedItem(Cursor &cursor, int item, std::int32_t expectedLength, Failure &failure)
{
    std::int32_t n = 0;
    qint64 itemOffset = 0;
    if (!readItemLength(cursor, item, n, itemOffset, failure))
        return false;
    if (n != expectedLength) {
        failure = {itemOffset,
                   QStringLiteral("item %1 has length %2 instead of %3").arg(item).arg(n).arg(expectedLength)};
        return false;
    }
    if (cursor.left() < n) {
        failure = {itemOffset, QStringLiteral("item %1 (%2 bytes) runs past the end of the file").arg(item).arg(n)};
        return false;
    }
    return true;
}

bool readIntItem(Cursor &cursor, int item, std::int32_t &value, Failure &failure)
{
    if (!readFixedItem(cursor, item, 4, failure))
        return false;
    value = cursor.takeInt32();
    return true;
}

bool readNodeRecord(Cursor &cursor, NodeRecord &record, Failure &failure)
{
    for (int i = 0; i < TextItems; ++i) {
        if (!readTextItem(cursor, i + 1, record.texts[static_cast<size_t>(i)], failure))
            return false;
    }
    for (int i = 0; i < 4; ++i) {
        if (!readIntItem(cursor, 14 + i, record.indexes[static_cast<size_t>(i)], failure))
            return false;
    }
    if (!readIntItem(cursor, 18, record.childCount, failure))
        return false;
    if (!readFixedItem(cursor, 19, 8, failure))
        return false;
    record.created = cursor.takeDouble();
    return readIntItem(cursor, 20, record.kind, failure);
}

// Makes the node for a record read from the file: the label goes into both
// the node and the record's Name; one allocation holds all field texts.
std::unique_ptr<CardNode> makeNodeFromRecord(const NodeRecord &record, CardNode *parent, ReadOptions options)
{
    auto data = std::make_unique<TCardData>();
    data->Kind = record.kind;
    data->Created = record.created;
    data->setAllFields(record.texts); // texts[0], the label, is field 1 (Name)

    std::array<std::int32_t, 4> indexes = record.indexes;
    if (!options.keepStoredDisplayIndexes)
        indexes.fill(record.kind);

    const QByteArray label(record.texts[0].data(), record.texts[0].size());
    std::unique_ptr<CardNode> owned;
    CardNode *node = nullptr;
    if (parent) {
        node = CardTreeBuilder::addChild(parent, label, std::move(data));
    } else {
        owned = CardTreeBuilder::makeNode(label, std::move(data));
        node = owned.get();
    }
    CardTreeBuilder::setDisplayIndexes(node, indexes);
    return owned;
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
ReadNodeResult ReadNodeData(Cursor &cursor, MessagePump &pump, ReadOptions options,
                            const std::function<void()> &beforePump, Failure &failure)
{
    ReadNodeResult result;
    NodeRecord record;
    if (!readNodeRecord(cursor, record, failure)) {
        result.ok = false;
        return result;
    }
    result.node = makeNodeFromRecord(record, nullptr, options);

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
        if (!readNodeRecord(cursor, record, failure)) {
            result.ok = false;
            return result;
        }
        makeNodeFromRecord(record, parent, options);
        if (record.childCount > 0)
            stack.push_back({parent->lastChild(), record.childCount});
    }
    return result;
}

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

LoadResult ReadTreeFromBytes(QByteArrayView bytes, CardTree &tree, ProgressSink &progress, ReadOptions options,
                             MessagePump &pump)
{
    LoadResult result;
    if (bytes.isEmpty())
        return result;
    Cursor cursor(bytes);
    if (cursor.left() < 4)
        return damaged(0, QStringLiteral("the file ends inside the top-level count"));
    const std::int32_t topLevelCount = cursor.takeInt32();
    progress.ShowLoadProgress();

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
        if (cursor.atEnd()) {
            adoptComplete();
            return damaged(cursor.offset(), QStringLiteral("the file ends before top-level node %1 of %2")
                                                .arg(i + 1)
                                                .arg(topLevelCount));
        }
        Failure failure;
        ReadNodeResult node = ReadNodeData(cursor, pump, options, adoptComplete, failure);
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

} // namespace kelvo
