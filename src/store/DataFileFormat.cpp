#include "DataFileFormat.h"

#include "CardRecords.h"
#include "CardTree.h"
#include "FileHelpers.h"
#include "Gb18030.h"
#include "NodeRecordReading.h"

#include <QIODevice>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <vector>

namespace kelvo {

namespace {

using records::FixedRecordBytes;
using records::MaxRecordBytes;
using records::TextItems;

constexpr char FillerByte = 0; // after each text item's text

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

} // namespace kelvo
