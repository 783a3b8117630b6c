// A large data file read by two readers, the second from the middle: the
// same nodes, the same damage at the same offsets as one reader finds,
// wherever the second reader starts, even inside a record.
#include "CardTree.h"
#include "DataFileBytes.h"
#include "DataFileFormat.h"
#include "NodeRecordReading.h"
#include "StoreTestUtil.h"

#include <QFile>
#include <QIODevice>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <vector>

using namespace kelvo;
using namespace kelvo::test;

namespace {

// A random tree: classes nested at random (now and then a long chain of
// classes), cards with texts up to the longest, display indexes.
QByteArray randomFile(QRandomGenerator &random, int nodes)
{
    return randomDataFile(random, nodes, 4, 50);
}

std::vector<qint64> recordStarts(QByteArrayView bytes);

// Cut short, a few bytes changed, a record whose first length is wrong, bytes
// after the tree, or a top-level count that says more or less than there is.
QByteArray damage(QByteArray bytes, QRandomGenerator &random)
{
    switch (random.bounded(6)) {
    case 5: {
        const std::vector<qint64> starts = recordStarts(bytes);
        qToLittleEndian<qint32>(0, bytes.data() + starts[size_t(random.bounded(int(starts.size())))]);
        break;
    }
    case 0:
        bytes.truncate(random.bounded(int(bytes.size())));
        break;
    case 1:
        for (int k = random.bounded(1, 4); k > 0; --k)
            bytes[random.bounded(int(bytes.size()))] = char(random.bounded(256));
        break;
    case 2: // a copy of the file's own records after its end
        bytes += bytes.mid(4, random.bounded(int(bytes.size())));
        break;
    case 3: {
        const qint32 count = qFromLittleEndian<qint32>(bytes.constData());
        const qint32 other = count + random.bounded(-3, 4);
        qToLittleEndian<qint32>(other, bytes.data());
        break;
    }
    default:
        break; // intact
    }
    return bytes;
}

// The file offsets where one reader finds a record.
std::vector<qint64> recordStarts(QByteArrayView bytes)
{
    std::vector<qint64> starts;
    records::MemoryWindow window(bytes.sliced(4), 4);
    records::NodeRecord record;
    records::Failure failure;
    while (!window.atEnd()) {
        starts.push_back(window.offset());
        if (!records::readNodeRecord(window, record, failure))
            break;
    }
    return starts;
}

struct Read
{
    LoadResult result;
    QStringList nodes;
};

void compareReads(const Read &got, const Read &expected)
{
    QCOMPARE(got.result.status, expected.result.status);
    QCOMPARE(got.result.offset, expected.result.offset);
    QCOMPARE(got.result.error.code, expected.result.error.code);
    QCOMPARE(got.result.error.text, expected.result.error.text);
    QCOMPARE(got.nodes, expected.nodes);
}

Read readSplitAt(QByteArrayView bytes, const std::vector<qint64> &pieceStarts, ReadOptions options = {})
{
    CardTree tree;
    Read read{records::ReadTreeSplitAt(bytes, tree, pieceStarts, options), {}};
    read.nodes = describeNodes(tree);
    return read;
}

// A sequential device: always one reader.
class StreamDevice : public QIODevice
{
public:
    explicit StreamDevice(QByteArray bytes)
        : m_bytes(std::move(bytes))
    {
        open(QIODevice::ReadOnly);
    }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const qint64 n = std::min<qint64>(maxSize, m_bytes.size() - m_at);
        std::memcpy(data, m_bytes.constData() + m_at, size_t(n));
        m_at += n;
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray m_bytes;
    qint64 m_at = 0;
};

} // namespace

class TestDataFileSplit : public QObject
{
    Q_OBJECT

private slots:
    void anySecondStartReadsAsOneReader();
    void largeFilesReadAsOneReaderDoes();
    void recordStartsAreFoundFromAnywhere();
};

// The second reader's pieces started at every kind of place: at record
// starts, inside records, in bytes after the tree, at the very end; one
// piece or several; in intact and damaged files with deep and flat trees.
void TestDataFileSplit::anySecondStartReadsAsOneReader()
{
    QRandomGenerator random(2024);
    int damagedSeen = 0;
    int handedOver = 0;
    for (int round = 0; round < 120; ++round) {
        const QByteArray bytes = damage(randomFile(random, random.bounded(1, 300)), random);
        const ReadOptions options{round % 3 == 0};
        const Read expected = readSplitAt(bytes, {}, options);
        damagedSeen += !expected.result.ok();

        const std::vector<qint64> starts = recordStarts(bytes);
        const auto anyStart = [&] { return starts[size_t(random.bounded(int(starts.size())))]; };
        const auto anyOffset = [&] { return random.bounded(qint64(bytes.size()) + 1); };
        std::vector<std::vector<qint64>> tried;
        for (int k = 0; k < 6; ++k) {
            tried.push_back({anyStart()});
            tried.push_back({anyOffset()});
        }
        tried.push_back({qint64(bytes.size())});
        tried.push_back({4});
        for (int k = 0; k < 6; ++k) { // several pieces, some starting inside records
            std::vector<qint64> pieces;
            for (int n = random.bounded(2, 6); n > 0; --n)
                pieces.push_back(random.bounded(3) == 0 ? anyOffset() : anyStart());
            std::sort(pieces.begin(), pieces.end());
            pieces.erase(std::unique(pieces.begin(), pieces.end()), pieces.end());
            tried.push_back(pieces);
        }
        for (const std::vector<qint64> &pieces : tried) {
            const Read got = readSplitAt(bytes, pieces, options);
            compareReads(got, expected);
            if (QTest::currentTestFailed()) {
                QStringList at;
                for (const qint64 piece : pieces)
                    at << QString::number(piece);
                qWarning("round %d, pieces at %s of %lld", round, qPrintable(at.join(QLatin1Char(' '))),
                         static_cast<long long>(bytes.size()));
                return;
            }
            handedOver += std::find(starts.begin(), starts.end(), pieces.front()) != starts.end();
        }
    }
    QVERIFY(damagedSeen > 30);
    QVERIFY(handedOver > 800);
}

// Files large enough for two readers, from memory and from a file on disk,
// against one reader of a stream; intact, cut short in either half, a byte
// changed in either half.
void TestDataFileSplit::largeFilesReadAsOneReaderDoes()
{
    QRandomGenerator random(7);
    // Random trees one after the other, under one top-level count.
    QByteArray intact(4, '\0');
    qint32 topLevel = 0;
    while (intact.size() < (qsizetype(6) << 20)) {
        const QByteArray part = randomFile(random, 20000);
        topLevel += qFromLittleEndian<qint32>(part.constData());
        intact += part.mid(4);
    }
    qToLittleEndian<qint32>(topLevel, intact.data());

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const qsizetype size = intact.size();
    const std::vector<QByteArray> variants = [&] {
        std::vector<QByteArray> made{intact, intact.left(size * 3 / 4), intact.left(size / 3)};
        for (const qsizetype at : {size / 5, size * 3 / 5, size / 2 + 1}) {
            QByteArray changed = intact;
            changed[at] = char(changed[at] ^ 0x40);
            made.push_back(changed);
        }
        return made;
    }();
    for (const QByteArray &bytes : variants) {
        CardTree one;
        StreamDevice stream(bytes);
        const Read expected{ReadTreeFromDevice(stream, one), describeNodes(one)};
        QVERIFY(expected.nodes.size() > 1000);
        if (&bytes == &variants.front())
            QVERIFY2(expected.result.ok(), qPrintable(expected.result.error.text));

        CardTree fromMemory;
        Read got{ReadTreeFromBytes(bytes, fromMemory), describeNodes(fromMemory)};
        compareReads(got, expected);

        QFile file(folder.filePath(QStringLiteral("cards.db")));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(file.write(bytes), bytes.size());
        file.close();
        QVERIFY(file.open(QIODevice::ReadOnly));
        CardTree fromFile;
        DeviceRead info;
        got = Read{ReadTreeFromDevice(file, fromFile, NoProgress(), {}, &info), describeNodes(fromFile)};
        compareReads(got, expected);
        QVERIFY(info.error.isEmpty());
        QVERIFY(info.bytesRead <= bytes.size());
        file.close();
    }
}

void TestDataFileSplit::recordStartsAreFoundFromAnywhere()
{
    QRandomGenerator random(11);
    const QByteArray bytes = randomFile(random, 3000);
    const std::vector<qint64> starts = recordStarts(bytes);
    QVERIFY(starts.size() > 2000);
    for (int k = 0; k < 300; ++k) {
        const qint64 from = random.bounded(4, int(bytes.size()));
        records::MemoryWindow window(QByteArrayView(bytes).sliced(from), from);
        const qint64 found = records::findRecordStart(window, 64 << 10, 8);
        QCOMPARE(window.offset(), from); // the search moves nothing
        // One of the next few true record starts (the first of the chain may
        // lie inside a record and end where one starts).
        const auto next = std::lower_bound(starts.begin(), starts.end(), from);
        const auto at = std::find(starts.begin(), starts.end(), found);
        QVERIFY2(at != starts.end() && at >= next && at - next <= 8,
                 qPrintable(QStringLiteral("from %1: %2, %3 after the next start %4")
                                .arg(from)
                                .arg(found)
                                .arg(at - next)
                                .arg(*next)));
    }
    // Near the end a shorter chain does, but only up to the very end.
    const qint64 last = starts[starts.size() - 2]; // the last record starts at starts.back()
    records::MemoryWindow tail(QByteArrayView(bytes).sliced(last), last);
    QCOMPARE(records::findRecordStart(tail, 64 << 10, 8), starts.back());
    records::MemoryWindow cut(QByteArrayView(bytes).sliced(last, bytes.size() - last - 1), last);
    QCOMPARE(records::findRecordStart(cut, 64 << 10, 8), qint64(-1));
    // Text with no record in it.
    const QByteArray text(200000, 'x');
    records::MemoryWindow none(text);
    QCOMPARE(records::findRecordStart(none, 64 << 10, 4), qint64(-1));
}

QTEST_GUILESS_MAIN(TestDataFileSplit)
#include "tst_datafile_split.moc"
