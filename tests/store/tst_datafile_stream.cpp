// The data file read from a device in pieces: the same nodes, the same
// damage at the same offsets as from memory, with memory that follows the
// tree, not the file.
#include "CardTree.h"
#include "DataFileBytes.h"
#include "DataFileFormat.h"
#include "StoreTestUtil.h"

#include <QFile>
#include <QIODevice>
#include <QRandomGenerator>
#include <QTest>

#include <functional>

using namespace kelvo;
using namespace kelvo::test;

namespace {

// A sequential device that hands out at most a few bytes at a time (sizes
// drawn at random), optionally failing after a number of bytes.
class PiecewiseDevice : public QIODevice
{
public:
    PiecewiseDevice(std::function<qint64(char *, qint64, qint64)> produce, qint64 size, quint32 seed,
                    qint64 failAfter = -1)
        : m_produce(std::move(produce))
        , m_size(size)
        , m_random(seed)
        , m_failAfter(failAfter)
    {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }

    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        if (m_failAfter >= 0 && m_at >= m_failAfter) {
            setErrorString(QStringLiteral("the cable came loose"));
            return -1;
        }
        const qint64 n = std::min({maxSize, m_size - m_at, qint64(m_random.bounded(1, 9000))});
        if (n <= 0)
            return 0;
        const qint64 made = m_produce(data, m_at, n);
        m_at += made;
        return made;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    std::function<qint64(char *, qint64, qint64)> m_produce;
    qint64 m_size;
    qint64 m_at = 0;
    QRandomGenerator m_random;
    qint64 m_failAfter;
};

std::function<qint64(char *, qint64, qint64)> from(const QByteArray &bytes)
{
    return [bytes](char *into, qint64 at, qint64 n) {
        std::memcpy(into, bytes.constData() + at, size_t(n));
        return n;
    };
}

// A random tree of a few hundred nodes with texts up to the longest.
QByteArray randomFile(QRandomGenerator &random)
{
    return randomDataFile(random, random.bounded(1, 400), 3);
}

} // namespace

class TestDataFileStream : public QObject
{
    Q_OBJECT

private slots:
    void deviceReadsAsMemoryDoes();
    void memoryFollowsTheTreeNotTheFile();
    void deviceFailuresEndTheRead();
    void writtenInPiecesAsInOne();
};

void TestDataFileStream::deviceReadsAsMemoryDoes()
{
    QRandomGenerator random(99);
    int damagedSeen = 0;
    for (int round = 0; round < 300; ++round) {
        QByteArray bytes = randomFile(random);
        // Mostly damaged: cut short, or a byte changed (a length, a count, a text).
        if (round % 4 != 0) {
            if (random.bounded(2) == 0) {
                bytes.truncate(random.bounded(int(bytes.size())));
            } else {
                for (int k = random.bounded(1, 4); k > 0; --k)
                    bytes[random.bounded(int(bytes.size()))] = char(random.bounded(256));
            }
        }
        for (const ReadOptions options : {ReadOptions{}, ReadOptions{true}}) {
            CardTree fromMemory;
            const LoadResult expected = ReadTreeFromBytes(bytes, fromMemory, NoProgress(), options);
            PiecewiseDevice device(from(bytes), bytes.size(), quint32(round));
            CardTree fromDevice;
            DeviceRead info;
            const LoadResult got = ReadTreeFromDevice(device, fromDevice, NoProgress(), options, &info);
            QCOMPARE(got.status, expected.status);
            QCOMPARE(got.offset, expected.offset);
            QCOMPARE(got.error.text, expected.error.text);
            QCOMPARE(got.error.code, expected.error.code);
            QCOMPARE(describeNodes(fromDevice), describeNodes(fromMemory));
            QVERIFY(info.error.isEmpty());
            QVERIFY(info.bytesRead <= bytes.size());
            damagedSeen += !expected.ok();
        }
    }
    QVERIFY(damagedSeen > 200);
}

void TestDataFileStream::memoryFollowsTheTreeNotTheFile()
{
    // 60,000 nodes whose text items are as long as an item may be, with one
    // text byte each: about 200 MB of file for a tree of a few megabytes.
    constexpr int Nodes = 60000;
    DataFileBytes record;
    for (int i = 0; i < 13; ++i)
        record.text(QByteArray("x"), 257);
    for (int i = 0; i < 4; ++i)
        record.intItem(1);
    record.intItem(0).dateItem(0.0).intItem(1);
    const QByteArray one = record.bytes();
    DataFileBytes head;
    head.int32(Nodes);
    const QByteArray top = head.bytes();
    const qint64 size = top.size() + qint64(one.size()) * Nodes;
    PiecewiseDevice device(
        [&](char *into, qint64 at, qint64 n) {
            for (qint64 k = 0; k < n; ++k) {
                const qint64 pos = at + k;
                into[k] = pos < top.size() ? top[pos] : one[(pos - top.size()) % one.size()];
            }
            return n;
        },
        size, 5);
    const qint64 before = residentBytes();
    CardTree tree;
    const LoadResult result = ReadTreeFromDevice(device, tree);
    QVERIFY2(result.ok(), qPrintable(result.error.text));
    QCOMPARE(tree.count(), Nodes);
    QCOMPARE(tree.nodeAt(Nodes - 1)->label(), QByteArray("x"));
    if (before > 0) {
        const qint64 grown = residentBytes() - before;
        QVERIFY2(grown < qint64(60) << 20, qPrintable(QString::number(grown)));
    }
}

void TestDataFileStream::deviceFailuresEndTheRead()
{
    QRandomGenerator random(3);
    QByteArray bytes;
    while (bytes.size() < 200000)
        bytes = randomFile(random);
    PiecewiseDevice failing(from(bytes), bytes.size(), 1, 100000);
    CardTree tree;
    DeviceRead info;
    LoadResult result = ReadTreeFromDevice(failing, tree, NoProgress(), {}, &info);
    QCOMPARE(result.status, LoadResult::Status::Damaged);
    QCOMPARE(result.offset, qint64(-1));
    QCOMPARE(result.error.code, ErrorCode::ReadFailed);
    QCOMPARE(result.error.text, QStringLiteral("the cable came loose"));
    QCOMPARE(info.error, result.error.text);

    PiecewiseDevice large(from(bytes), bytes.size(), 2);
    CardTree other;
    info = DeviceRead();
    info.maxBytes = 50000;
    result = ReadTreeFromDevice(large, other, NoProgress(), {}, &info);
    QCOMPARE(result.status, LoadResult::Status::Damaged);
    QCOMPARE(result.error.text, QStringLiteral("larger than 50000 bytes; refused"));

    // Nothing at all reads as no nodes.
    PiecewiseDevice empty(from(QByteArray()), 0, 3);
    CardTree none;
    info = DeviceRead();
    QVERIFY(ReadTreeFromDevice(empty, none, NoProgress(), {}, &info).ok());
    QCOMPARE(info.bytesRead, qint64(0));
    QCOMPARE(none.count(), 0);
}

void TestDataFileStream::writtenInPiecesAsInOne()
{
    QRandomGenerator random(17);
    std::vector<QByteArray> files;
    for (int i = 0; i < 20; ++i)
        files.push_back(randomFile(random));
    // Larger than a piece, and a tree with no nodes.
    QByteArray large;
    while (large.size() < (qsizetype(3) << 20)) {
        CardTree grown;
        QVERIFY(ReadTreeFromBytes(large.isEmpty() ? randomFile(random) : large, grown).ok());
        CardTree more;
        QVERIFY(ReadTreeFromBytes(randomFile(random), more).ok());
        for (int row = 0; row < more.topLevelCount(); ++row)
            grown.addTopLevel(more.topLevel(row)->label(), std::make_unique<TCardData>(*more.topLevel(row)->data()));
        large = SerializeTree(grown);
    }
    files.push_back(large);
    files.push_back(SerializeTree(CardTree()));
    for (const QByteArray &bytes : files) {
        CardTree tree;
        QVERIFY(ReadTreeFromBytes(bytes, tree).ok());
        QByteArray pieces;
        int calls = 0;
        qsizetype largest = 0;
        const Result<> written = WriteTreeInPieces(tree, [&](QByteArrayView piece) -> Result<> {
            ++calls;
            largest = std::max(largest, piece.size());
            pieces += piece;
            return {};
        });
        QVERIFY(written.ok());
        QVERIFY2(largest <= (qsizetype(1) << 20) + 4096, "a piece larger than a megabyte and a record");
        QCOMPARE(pieces, SerializeTree(tree));
        QVERIFY(calls >= int(pieces.size() >> 20));
    }

    // The first failing write ends the walk and is told.
    CardTree tree;
    QVERIFY(ReadTreeFromBytes(large, tree).ok());
    int calls = 0;
    const Result<> failed = WriteTreeInPieces(tree, [&](QByteArrayView) -> Result<> {
        ++calls;
        return Error{ErrorCode::WriteFailed, QStringLiteral("out.DB"), QStringLiteral("No space left on device")};
    });
    QVERIFY(!failed.ok());
    QCOMPARE(failed.error().code, ErrorCode::WriteFailed);
    QCOMPARE(calls, 1);
}

QTEST_GUILESS_MAIN(TestDataFileStream)
#include "tst_datafile_stream.moc"
