#include "Lzhuf.h"
#include "LzhufPositionCode.h"
#include "LzhufTree.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTest>
#include <QtEndian>

using namespace kelvo;

namespace {

QByteArray readData(const QString &name)
{
    QFile file(QStringLiteral(KELVO_TEST_DATA_DIR "/lzhuf/") + name);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing test data %s", qPrintable(file.fileName()));
    return file.readAll();
}

QByteArray randomBytes(qsizetype size, quint32 seed)
{
    QRandomGenerator generator(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &c : bytes)
        c = char(generator.bounded(256));
    return bytes;
}

// Words drawn from a small vocabulary: compressible, but with enough symbol
// variety that long inputs rebuild the Huffman tree many times.
QByteArray wordyText(qsizetype size, quint32 seed)
{
    static const char *const words[] = {"name", "title", "company", "address", "phone", "fax",  "mobile", "postcode",
                                        "web",  "mail",  "Kelvo",   "card",    "=",     "\r\n", "[Skin]", "0 0 0"};
    QRandomGenerator generator(seed);
    QByteArray text;
    while (text.size() < size) {
        text += words[generator.bounded(int(std::size(words)))];
        text += char(' ' + generator.bounded(95));
    }
    text.truncate(size);
    return text;
}

QByteArray withLength(quint32 length, const QByteArray &coded)
{
    QByteArray stream(4, '\0');
    qToLittleEndian(length, stream.data());
    return stream + coded;
}

} // namespace

class TestLzhuf : public QObject
{
    Q_OBJECT

private slots:
    void positionCodeIsCanonical();
    void decodesIndependentStreams_data();
    void decodesIndependentStreams();
    void roundTrip_data();
    void roundTrip();
    void encodedStreamsAreSmallWhereTheyShouldBe();
    void rebuildsTreeOnLongText();
    void refusesImplausibleLengths_data();
    void refusesImplausibleLengths();
    void missingBytesReadAsZero();
    void truncatedStreamStillGivesDeclaredLength();
};

void TestLzhuf::positionCodeIsCanonical()
{
    const lzhuf::PositionCode &table = lzhuf::positionCode();
    QCOMPARE(table.length[0], 3);
    QCOMPARE(table.code[0], 0x00);
    QCOMPARE(table.code[1], 0x20); // 0010
    QCOMPARE(table.code[2], 0x30); // 0011
    QCOMPARE(table.code[3], 0x40); // 0100
    QCOMPARE(table.length[3], 4);
    QCOMPARE(table.code[4], 0x50); // 01010
    QCOMPARE(table.length[4], 5);
    QCOMPARE(table.code[12], 0x90); // 100100
    QCOMPARE(table.length[12], 6);
    QCOMPARE(table.code[24], 0xC0); // 1100000
    QCOMPARE(table.length[24], 7);
    QCOMPARE(table.code[48], 0xF0);
    QCOMPARE(table.length[48], 8);
    QCOMPARE(table.code[63], 0xFF);
    // Decoding side: every 8-bit window maps back to the value whose code it starts with.
    for (int value = 0; value < 64; ++value) {
        const int code = table.code[value];
        QCOMPARE(int(table.upperBits[code]), value);
        QCOMPARE(int(table.codeLength[code]), int(table.length[value]));
        const int lastOfCode = code | ((1 << (8 - table.length[value])) - 1);
        QCOMPARE(int(table.upperBits[lastOfCode]), value);
    }
}

void TestLzhuf::decodesIndependentStreams_data()
{
    QTest::addColumn<QString>("name");
    for (const char *name :
         {"short_text", "ini_text", "spaces_100k", "random_50k", "bmp_button", "bmp_menu", "skin_basic"})
        QTest::newRow(name) << QString::fromLatin1(name);
}

void TestLzhuf::decodesIndependentStreams()
{
    QFETCH(QString, name);
    const QByteArray stream = readData(name + QStringLiteral(".lzhuf"));
    const QByteArray expected = readData(name + QStringLiteral(".bin"));
    const lzhuf::DecodeResult result = lzhuf::decode(stream);
    QVERIFY2(result.ok, qPrintable(result.error));
    QCOMPARE(result.data.size(), expected.size());
    QCOMPARE(result.data, expected);
    // The independent encoder pads its last byte: nothing read past the end.
    QCOMPARE(result.bitsPastEnd, 0);
    QVERIFY(!result.isTruncated());
}

void TestLzhuf::roundTrip_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("one byte") << QByteArray("x");
    QTest::newRow("one space") << QByteArray(" ");
    QTest::newRow("two bytes") << QByteArray("ab");
    QTest::newRow("spaces reaching into the initial buffer") << QByteArray(5000, ' ');
    QTest::newRow("spaces then text") << QByteArray(70, ' ') + QByteArray("card") + QByteArray(4100, ' ');
    QTest::newRow("all byte values") << [] {
        QByteArray b;
        for (int i = 0; i < 256; ++i)
            b.append(char(i));
        return b + b + b;
    }();
    QTest::newRow("zero bytes") << QByteArray(9000, '\0');
    QTest::newRow("random 1") << randomBytes(1, 1);
    QTest::newRow("random 100") << randomBytes(100, 2);
    QTest::newRow("random 70000") << randomBytes(70000, 3);
    QTest::newRow("periodic 4096") << randomBytes(4096, 4).repeated(3);
    QTest::newRow("periodic 4095") << randomBytes(4095, 5).repeated(3);
    QTest::newRow("wordy 300000") << wordyText(300000, 6);
}

void TestLzhuf::roundTrip()
{
    QFETCH(QByteArray, data);
    const QByteArray stream = lzhuf::encode(data);
    QCOMPARE(qFromLittleEndian<quint32>(stream.constData()), quint32(data.size()));
    const lzhuf::DecodeResult result = lzhuf::decode(stream);
    QVERIFY2(result.ok, qPrintable(result.error));
    QCOMPARE(result.data.size(), data.size());
    QVERIFY(result.data == data);
    QVERIFY(!result.isTruncated());
}

void TestLzhuf::encodedStreamsAreSmallWhereTheyShouldBe()
{
    // 100 KB of spaces: one 60-byte match per ~10 bits at best.
    const QByteArray spaces = lzhuf::encode(QByteArray(102400, ' '));
    QVERIFY2(spaces.size() < 2400, qPrintable(QString::number(spaces.size())));
    // Incompressible data grows only by the Huffman overhead.
    const QByteArray random = randomBytes(50000, 7);
    QVERIFY(lzhuf::encode(random).size() < 50000 * 103 / 100);
    // Our encoder compresses the independent encoder's text at least as well, give or take.
    const QByteArray ini = readData(QStringLiteral("ini_text.bin"));
    QVERIFY(lzhuf::encode(ini).size() < readData(QStringLiteral("ini_text.lzhuf")).size() * 11 / 10);
}

void TestLzhuf::rebuildsTreeOnLongText()
{
    // Feeding the tree directly: 0x8000 symbols must trigger rebuilds, and the
    // codes must stay a prefix code the decoding walk agrees with.
    lzhuf::LzhufTree tree;
    QRandomGenerator generator(9);
    for (int i = 0; i < 200000; ++i) {
        const int symbol = int(generator.bounded(i % 3 == 0 ? 314 : 40));
        const lzhuf::LzhufTree::Code code = tree.codeOf(symbol);
        int node = tree.firstChildOfRoot();
        for (int bit = code.length - 1; bit >= 0; --bit) {
            QVERIFY(node < lzhuf::LzhufTree::NodeCount);
            node = tree.step(node, int((code.bits >> bit) & 1));
        }
        QCOMPARE(node - lzhuf::LzhufTree::NodeCount, symbol);
        tree.update(symbol);
        QVERIFY(tree.rootFrequency() <= lzhuf::LzhufTree::RebuildFrequency);
    }
    QVERIFY2(tree.rebuildCount() >= 5, qPrintable(QString::number(tree.rebuildCount())));
}

void TestLzhuf::refusesImplausibleLengths_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::newRow("no length field") << QByteArray("\x01\x00", 2);
    QTest::newRow("4 GB from 16 bytes") << withLength(0xFFFFFFFFu, QByteArray(16, '\xAA'));
    QTest::newRow("1 MB from 16 bytes") << withLength(1u << 20, QByteArray(16, '\0'));
    QTest::newRow("just over the ratio") << withLength(quint32(lzhuf::maxDecodedSize(4 + 100) + 1),
                                                       QByteArray(100, '\0'));
}

void TestLzhuf::refusesImplausibleLengths()
{
    QFETCH(QByteArray, stream);
    const lzhuf::DecodeResult result = lzhuf::decode(stream);
    QVERIFY(!result.ok);
    QVERIFY(!result.error.isEmpty());
    QVERIFY(result.data.isEmpty());
}

void TestLzhuf::missingBytesReadAsZero()
{
    // A stream cut after its length field decodes its bytes from 0 bits; the
    // same stream with explicit zero bytes must give the same result.
    const quint32 length = 48 * 20;
    const lzhuf::DecodeResult cut = lzhuf::decode(withLength(length, QByteArray(20, '\0')));
    const lzhuf::DecodeResult zeros = lzhuf::decode(withLength(length, QByteArray(400, '\0')));
    QVERIFY(cut.ok);
    QVERIFY(zeros.ok);
    QCOMPARE(cut.data.size(), qsizetype(length));
    QCOMPARE(cut.data, zeros.data);
}

void TestLzhuf::truncatedStreamStillGivesDeclaredLength()
{
    const QByteArray expected = readData(QStringLiteral("ini_text.bin"));
    const QByteArray stream = readData(QStringLiteral("ini_text.lzhuf"));
    const lzhuf::DecodeResult result = lzhuf::decode(stream.left(300));
    QVERIFY2(result.ok, qPrintable(result.error));
    QCOMPARE(result.data.size(), expected.size());
    // What the remaining bytes coded is lost, but the start is intact.
    QCOMPARE(result.data.left(200), expected.left(200));
    QVERIFY(result.isTruncated());
}

QTEST_GUILESS_MAIN(TestLzhuf)
#include "tst_lzhuf.moc"
