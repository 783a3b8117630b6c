#include "Folding.h"
#include "Gb18030.h"

#include <QRandomGenerator>
#include <QTest>

using namespace kelvo;

class TestFolding : public QObject
{
    Q_OBJECT

private slots:
    void foldText_data();
    void foldText();
    void foldIntoMarksCharacterStarts();
    void equalIgnoringCase_data();
    void equalIgnoringCase();
    void characterWalkAgreesWithStore();
};

void TestFolding::foldText_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("folded");

    QTest::newRow("empty") << QByteArray() << QByteArray();
    QTest::newRow("blanks only") << QByteArray("  \t \r\n") << QByteArray();
    QTest::newRow("ascii letters") << QByteArray("abc xyz") << QByteArray("ABC XYZ");
    QTest::newRow("trim both ends") << QByteArray("  abc ") << QByteArray("ABC");
    QTest::newRow("control bytes trimmed") << QByteArray("\x01\x1f"
                                                         "a b\x20\x00",
                                                         7)
                                           << QByteArray("A B");
    QTest::newRow("inner blanks stay") << QByteArray("a  b") << QByteArray("A  B");
    QTest::newRow("digits and signs stay") << QByteArray("a-1@b.c_{}") << QByteArray("A-1@B.C_{}");
    QTest::newRow("byte 0x7f stays") << QByteArray("a\x7f") << QByteArray("A\x7f");
    // 张三: two 2-byte characters, nothing to upper-case.
    QTest::newRow("chinese") << QByteArray("\xd5\xc5\xc8\xfd") << QByteArray("\xd5\xc5\xc8\xfd");
    // 癮 is B0 61: its trail byte is the letter a's byte and must stay.
    QTest::newRow("trail byte a stays") << QByteArray("x\xb0\x61y") << QByteArray("X\xb0\x61Y");
    QTest::newRow("trail byte z stays") << QByteArray("\x81\x7a") << QByteArray("\x81\x7a");
    // A 4-byte character (U+1F600) holds the digit bytes 9 and 6.
    QTest::newRow("four-byte character") << QByteArray("a\x94\x39\xfc\x36"
                                                       "b")
                                         << QByteArray("A\x94\x39\xfc\x36"
                                                       "B");
    // The full-width space A1 A1 is not a blank to trim.
    QTest::newRow("full-width space kept") << QByteArray("\xa1\xa1"
                                                         "a\xa1\xa1")
                                           << QByteArray("\xa1\xa1"
                                                         "A\xa1\xa1");
    // A lead byte followed by a blank is no character: each byte stands alone.
    QTest::newRow("damaged lead byte") << QByteArray("\x81 a") << QByteArray("\x81 A");
    QTest::newRow("lead byte at the end") << QByteArray("a\x81") << QByteArray("A\x81");
    // 81 61 is one character: its a stays, the following b is a letter.
    QTest::newRow("lead byte before letters") << QByteArray("\x81"
                                                            "ab")
                                              << QByteArray("\x81"
                                                            "aB");
}

void TestFolding::foldText()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, folded);
    QCOMPARE(FoldText(text), folded);
    // Folding is idempotent: the search folds the condition and the values
    // alike, and history entries are folded already.
    QCOMPARE(FoldText(FoldText(text)), folded);
}

void TestFolding::foldIntoMarksCharacterStarts()
{
    // " a张\x94\x39\xfc\x36b " -> "A张<4 bytes>B": starts at 0, 1, 3, 7 and the end 8.
    const QByteArray text(" a\xd5\xc5\x94\x39\xfc\x36"
                          "b ");
    char out[16];
    bool boundaries[17];
    const qsizetype length = FoldTextInto(text, out, boundaries);
    QCOMPARE(length, 8);
    QCOMPARE(QByteArray(out, length),
             QByteArray("A\xd5\xc5\x94\x39\xfc\x36"
                        "B"));
    const bool expected[9] = {true, true, false, true, false, false, false, true, true};
    for (int i = 0; i <= 8; ++i)
        QVERIFY2(boundaries[i] == expected[i], qPrintable(QStringLiteral("offset %1").arg(i)));
}

void TestFolding::equalIgnoringCase_data()
{
    QTest::addColumn<QByteArray>("a");
    QTest::addColumn<QByteArray>("b");
    QTest::addColumn<bool>("equal");

    QTest::newRow("same") << QByteArray("ABC") << QByteArray("ABC") << true;
    QTest::newRow("case differs") << QByteArray("ABC") << QByteArray("Abc") << true;
    QTest::newRow("different letters") << QByteArray("ABC") << QByteArray("ABD") << false;
    QTest::newRow("different length") << QByteArray("ABC") << QByteArray("ABCD") << false;
    QTest::newRow("blanks count") << QByteArray("ABC") << QByteArray(" ABC") << false;
    QTest::newRow("both empty") << QByteArray() << QByteArray() << true;
    QTest::newRow("chinese equal") << QByteArray("\xd5\xc5"
                                                 "a")
                                   << QByteArray("\xd5\xc5"
                                                 "A")
                                   << true;
    // 癮 (B0 61) and 癆 (B0 41) are different characters, not a case pair.
    QTest::newRow("trail bytes are not letters") << QByteArray("\xb0\x61") << QByteArray("\xb0\x41") << false;
}

void TestFolding::equalIgnoringCase()
{
    QFETCH(QByteArray, a);
    QFETCH(QByteArray, b);
    QFETCH(bool, equal);
    QCOMPARE(EqualIgnoringCase(a, b), equal);
    QCOMPARE(EqualIgnoringCase(b, a), equal);
}

void TestFolding::characterWalkAgreesWithStore()
{
    // The search's inline walk must split text into characters exactly as the
    // store's helper does, on damaged text too.
    QRandomGenerator random(20240506);
    const unsigned char interesting[] = {0x00, 0x20, 0x30, 0x39, 0x3a, 0x40, 0x61, 0x7e, 0x7f,
                                         0x80, 0x81, 0x95, 0xa1, 0xb0, 0xd5, 0xfe, 0xff};
    for (int round = 0; round < 3000; ++round) {
        QByteArray text(static_cast<qsizetype>(random.bounded(1, 12)), Qt::Uninitialized);
        for (char &c : text) {
            c = static_cast<char>(random.bounded(2) ? interesting[random.bounded(int(sizeof interesting))]
                                                    : random.bounded(256));
        }
        for (qsizetype pos = 0; pos < text.size(); ++pos) {
            const auto *p = reinterpret_cast<const unsigned char *>(text.constData()) + pos;
            QCOMPARE(gb18030::charLengthAt(p, text.size() - pos), gb18030::charLength(text, pos));
        }
    }
}

QTEST_GUILESS_MAIN(TestFolding)
#include "tst_folding.moc"
