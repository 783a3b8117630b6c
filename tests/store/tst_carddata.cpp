#include "CardData.h"
#include "CardRecords.h"
#include "Gb18030.h"

#include <QRandomGenerator>
#include <QTest>

using namespace kelvo;

class TestCardData : public QObject
{
    Q_OBJECT

private slots:
    void charLength_data();
    void charLength();
    void cutAtCharBoundary_data();
    void cutAtCharBoundary();
    void trimmed_data();
    void trimmed();
    void encodeDecodeRoundTrip();
    void utf8EncodesAsTheConverterDoes();
    void utf8RefusesSurrogatesAndMalformedText();
    void utf8OutputAsTheConverterGivesIt();

    void setFieldCutsWholeCharacters_data();
    void setFieldCutsWholeCharacters();
    void fieldsAreIndependent();
    void setFieldFromOwnField();
    void setAllFieldsMatchesSetField();
    void copyIsDeep();
    void outOfRangeFieldNumbers();
    void makers();
    void typicalCardIsCompact();
};

void TestCardData::charLength_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("pos");
    QTest::addColumn<int>("length");

    QTest::newRow("ascii") << QByteArray("ab") << 0 << 1;
    QTest::newRow("two-byte") << QByteArray("\xD6\xD0") << 0 << 2;
    QTest::newRow("two-byte low trail") << QByteArray("\x81\x40") << 0 << 2;
    QTest::newRow("trail 0x7F is no trail") << QByteArray("\x81\x7F") << 0 << 1;
    QTest::newRow("four-byte") << QByteArray("\x94\x39\xFC\x36") << 0 << 4;
    QTest::newRow("four-byte cut short") << QByteArray("\x94\x39\xFC") << 0 << 1;
    QTest::newRow("four-byte bad third") << QByteArray("\x94\x39\x20\x36") << 0 << 1;
    QTest::newRow("lead at end") << QByteArray("a\xD6") << 1 << 1;
    QTest::newRow("0x80 alone") << QByteArray("\x80\x80") << 0 << 1;
    QTest::newRow("0xFF alone") << QByteArray("\xFF\x80") << 0 << 1;
    QTest::newRow("position past end") << QByteArray("a") << 5 << 1;
}

void TestCardData::charLength()
{
    QFETCH(QByteArray, text);
    QFETCH(int, pos);
    QFETCH(int, length);
    QCOMPARE(gb18030::charLength(text, pos), length);
}

void TestCardData::cutAtCharBoundary_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("maxBytes");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray zhong("\xD6\xD0"); // 中
    const QByteArray smile("\x94\x39\xFC\x36");
    QTest::newRow("fits") << QByteArray("abc") << 3 << QByteArray("abc");
    QTest::newRow("ascii cut") << QByteArray("abcd") << 3 << QByteArray("abc");
    QTest::newRow("two-byte kept whole") << QByteArray("a" + zhong) << 3 << QByteArray("a" + zhong);
    QTest::newRow("two-byte not split") << QByteArray("ab" + zhong) << 3 << QByteArray("ab");
    QTest::newRow("four-byte not split") << QByteArray("a" + smile + "b") << 4 << QByteArray("a");
    QTest::newRow("four-byte whole") << QByteArray("a" + smile + "b") << 5 << QByteArray("a" + smile);
    // A walk from the start tells that 0xD6 at byte 1 is a trail byte here.
    QTest::newRow("trail looks like lead") << QByteArray(zhong + zhong + zhong) << 5 << QByteArray(zhong + zhong);
    QTest::newRow("255 with character across the end")
        << QByteArray(QByteArray(254, 'x') + zhong) << 255 << QByteArray(254, 'x');
    QTest::newRow("255 exactly") << QByteArray(QByteArray(253, 'x') + zhong) << 255
                                 << QByteArray(QByteArray(253, 'x') + zhong);
    QTest::newRow("zero") << QByteArray("abc") << 0 << QByteArray();
}

void TestCardData::cutAtCharBoundary()
{
    QFETCH(QByteArray, text);
    QFETCH(int, maxBytes);
    QFETCH(QByteArray, expected);
    QCOMPARE(gb18030::cutAtCharBoundary(text, maxBytes).toByteArray(), expected);
}

void TestCardData::trimmed_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("plain") << QByteArray("ab") << QByteArray("ab");
    QTest::newRow("spaces and controls") << QByteArray(" \t\r\n\x01 a b \x1f\x20") << QByteArray("a b");
    QTest::newRow("nul bytes") << QByteArray("\0a\0", 3) << QByteArray("a");
    QTest::newRow("all blank") << QByteArray(" \t ") << QByteArray();
    QTest::newRow("empty") << QByteArray() << QByteArray();
    QTest::newRow("0x21 stays") << QByteArray("!a!") << QByteArray("!a!");
    QTest::newRow("high bytes stay") << QByteArray(" \xD6\xD0 ") << QByteArray("\xD6\xD0");
}

void TestCardData::trimmed()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, expected);
    QCOMPARE(gb18030::trimmed(text).toByteArray(), expected);
}

void TestCardData::encodeDecodeRoundTrip()
{
    const QString text = QStringLiteral("未分类的名片 abc 😀");
    const QByteArray bytes = gb18030::encode(text);
    QCOMPARE(bytes.left(12), ReservedCardClassLabel());
    QCOMPARE(bytes.right(4), QByteArray("\x94\x39\xFC\x36"));
    QCOMPARE(gb18030::decode(bytes), text);
}

void TestCardData::utf8EncodesAsTheConverterDoes()
{
    const auto viaConverter = [](const QString &text) { return gb18030::encode(text); };
    const auto viaUtf8 = [](const QString &text) {
        QByteArray out("prefix");
        if (!gb18030::appendFromUtf8(text.toUtf8(), out))
            return QByteArray("refused");
        return out.mid(6);
    };
    // Every code point of the Basic Multilingual Plane on its own, and the
    // ends of the planes beyond it.
    for (char32_t c = 1; c < 0x10000; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF)
            continue;
        const QString text = QString::fromUcs4(&c, 1);
        if (viaUtf8(text) != viaConverter(text))
            QFAIL(qPrintable(QStringLiteral("U+%1").arg(quint32(c), 4, 16, QLatin1Char('0'))));
    }
    for (char32_t c : {char32_t(0x10000), char32_t(0x1F600), char32_t(0x20000), char32_t(0x2FFFF), char32_t(0xE0001),
                       char32_t(0x10FFFF)}) {
        const QString text = QString::fromUcs4(&c, 1);
        QCOMPARE(viaUtf8(text), viaConverter(text));
    }
    // Random mixed texts.
    QRandomGenerator random(1234);
    for (int i = 0; i < 2000; ++i) {
        QString text;
        const int length = random.bounded(40);
        for (int k = 0; k < length; ++k) {
            char32_t c = 0;
            switch (random.bounded(4)) {
            case 0:
                c = char32_t(random.bounded(0x20, 0x7F));
                break;
            case 1:
                c = char32_t(random.bounded(0x4E00, 0x9FA6));
                break;
            case 2:
                c = char32_t(random.bounded(0x80, 0xD800));
                break;
            default:
                c = char32_t(random.bounded(0x10000, 0x110000));
                break;
            }
            text += QString::fromUcs4(&c, 1);
        }
        QCOMPARE(viaUtf8(text), viaConverter(text));
    }
}

void TestCardData::utf8RefusesSurrogatesAndMalformedText()
{
    const QByteArray refused[] = {
        "a\xED\xA0\x80",    // U+D800, as a JSON "\ud800" comes out
        "\xED\xBF\xBFz",    // U+DFFF
        "\xC0\x80",         // an overlong zero
        "\xE0\x80\xBF",     // an overlong form
        "\xF4\x90\x80\x80", // beyond U+10FFFF
        "ab\xE5\xBC",       // cut inside a character
        "\x80",             // a continuation byte alone
        "\xE5\x41\x41",     // a lead byte without its continuation
    };
    for (const QByteArray &text : refused) {
        QByteArray out("kept");
        QVERIFY2(!gb18030::appendFromUtf8(text, out), text.toHex().constData());
        QCOMPARE(out, QByteArray("kept"));
    }
}

void TestCardData::utf8OutputAsTheConverterGivesIt()
{
    const auto viaConverter = [](const QByteArray &text) { return gb18030::decode(text).toUtf8(); };
    const auto viaTables = [](const QByteArray &text) {
        QByteArray out("prefix ");
        gb18030::appendAsUtf8(text, out);
        return out.mid(7);
    };
    // Every two-byte code, mapped or not, between ASCII letters.
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
        for (int trail = 0x40; trail <= 0xFE; ++trail) {
            const QByteArray text = QByteArray("a") + char(lead) + char(trail) + "b";
            if (viaTables(text) != viaConverter(text))
                QFAIL(qPrintable(QString::fromLatin1(text.toHex())));
        }
    }
    // Every four-byte code of the first two leads (the BMP's) and a spread
    // of the supplementary ones, and the ends of the ranges.
    for (int b1 : {0x81, 0x82, 0x84, 0x85, 0x8F, 0x90, 0x95, 0xE3, 0xE4, 0xFE}) {
        for (int b2 = 0x30; b2 <= 0x39; ++b2) {
            for (int b3 = 0x81; b3 <= 0xFE; ++b3) {
                for (int b4 = 0x30; b4 <= 0x39; b4 += (b1 == 0x81 || b1 == 0x82 ? 1 : 3)) {
                    const QByteArray text = QByteArray(1, char(b1)) + char(b2) + char(b3) + char(b4);
                    if (viaTables(text) != viaConverter(text))
                        QFAIL(qPrintable(QString::fromLatin1(text.toHex())));
                }
            }
        }
    }
    // Damaged and mixed texts: lone lead bytes, cut sequences, 0x80, 0xFF.
    QRandomGenerator random(55);
    const QByteArray pieces[] = {"x",
                                 "\x81",
                                 "\x80",
                                 "\xFF",
                                 "\xD5\xC5",
                                 "\x81\x30",
                                 "\x81\x30\x81",
                                 "\x81\x30\x81\x30",
                                 "\x94\x39\xFC\x36",
                                 "\xA1\xA1",
                                 "\x0A",
                                 "\xFE\xFE"};
    for (int i = 0; i < 5000; ++i) {
        QByteArray text;
        for (int k = random.bounded(8); k > 0; --k)
            text += pieces[random.bounded(int(std::size(pieces)))];
        QCOMPARE(viaTables(text), viaConverter(text));
    }
}

void TestCardData::setFieldCutsWholeCharacters_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("stored");
    const QByteArray zhong("\xD6\xD0");
    QTest::newRow("300 bytes") << QByteArray(300, 'a') << QByteArray(255, 'a');
    QTest::newRow("255 bytes") << QByteArray(255, 'a') << QByteArray(255, 'a');
    QTest::newRow("two-byte across the limit") << QByteArray(QByteArray(254, 'a') + zhong) << QByteArray(254, 'a');
    QTest::newRow("four-byte across the limit")
        << QByteArray(QByteArray(253, 'a') + "\x94\x39\xFC\x36") << QByteArray(253, 'a');
    QTest::newRow("only Chinese") << zhong.repeated(200) << zhong.repeated(127);
    QTest::newRow("empty") << QByteArray() << QByteArray();
}

void TestCardData::setFieldCutsWholeCharacters()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, stored);
    for (int n = Field::First; n <= Field::Last; ++n) {
        TCardData record;
        record.setField(n, text);
        QCOMPARE(record.field(n).toByteArray(), stored);
        QCOMPARE(record.textBytes(), stored.size());
    }
}

void TestCardData::fieldsAreIndependent()
{
    TCardData record;
    for (int n = Field::First; n <= Field::Last; ++n)
        record.setField(n, QByteArray::number(n).repeated(n));
    // Grow, shrink and empty fields in the middle of the shared buffer.
    record.setField(Field::DZ, QByteArray(200, 'z'));
    record.setField(Field::Name, QByteArray());
    record.setField(Field::Other, QByteArray("o"));
    record.setField(Field::SJ, QByteArray("7777777"));
    for (int n = Field::First; n <= Field::Last; ++n) {
        QByteArray expected = QByteArray::number(n).repeated(n);
        if (n == Field::DZ)
            expected = QByteArray(200, 'z');
        else if (n == Field::Name)
            expected.clear();
        else if (n == Field::Other)
            expected = "o";
        QCOMPARE(record.field(n).toByteArray(), expected);
    }
}

void TestCardData::setFieldFromOwnField()
{
    TCardData record;
    record.setField(Field::Name, "name");
    record.setField(Field::DW, "company");
    record.setField(Field::TouXian, record.field(Field::DW));          // a view into the record's own buffer
    record.setField(Field::DW, record.field(Field::Name));             // same size class, different length
    record.setField(Field::Name, record.field(Field::Name).sliced(1)); // overlapping
    QCOMPARE(record.field(Field::TouXian).toByteArray(), QByteArray("company"));
    QCOMPARE(record.field(Field::DW).toByteArray(), QByteArray("name"));
    QCOMPARE(record.field(Field::Name).toByteArray(), QByteArray("ame"));
    record.setField(Field::Name, record.field(Field::DW).first(3)); // same length, in place
    QCOMPARE(record.field(Field::Name).toByteArray(), QByteArray("nam"));
}

void TestCardData::setAllFieldsMatchesSetField()
{
    std::array<QByteArrayView, Field::Count> texts;
    QList<QByteArray> keep;
    for (int i = 0; i < Field::Count; ++i) {
        keep << (i == 4 ? QByteArray(400, 'q') : QByteArray::number(i * 37));
    }
    for (int i = 0; i < Field::Count; ++i)
        texts[size_t(i)] = keep[i];
    TCardData all;
    all.setAllFields(texts);
    TCardData one;
    for (int i = 0; i < Field::Count; ++i)
        one.setField(i + 1, keep[i]);
    for (int n = Field::First; n <= Field::Last; ++n)
        QCOMPARE(all.field(n), one.field(n));
    QCOMPARE(all.field(5).size(), 255);
}

void TestCardData::copyIsDeep()
{
    TCardData record;
    record.Kind = 7;
    record.Created = 1.5;
    record.setField(Field::EMail, "a@b");
    TCardData copy(record);
    record.setField(Field::EMail, "changed");
    QCOMPARE(copy.field(Field::EMail).toByteArray(), QByteArray("a@b"));
    QCOMPARE(copy.Kind, 7);
    QCOMPARE(copy.Created, 1.5);
    TCardData assigned;
    assigned = copy;
    copy.setField(Field::EMail, QByteArray());
    QCOMPARE(assigned.field(Field::EMail).toByteArray(), QByteArray("a@b"));
}

void TestCardData::outOfRangeFieldNumbers()
{
    TCardData record;
    record.setField(0, "x");
    record.setField(14, "x");
    record.setField(-1, "x");
    QCOMPARE(record.textBytes(), 0);
    QVERIFY(record.field(0).isEmpty());
    QVERIFY(record.field(14).isEmpty());
}

void TestCardData::makers()
{
    const auto card = MakeCardRecord();
    QCOMPARE(card->Kind, Kind::Card);
    QCOMPARE(card->name().toByteArray(), gb18030::encode(QStringLiteral("<新名片>")));
    QCOMPARE(card->Created, 0.0);
    for (int n = 2; n <= Field::Last; ++n)
        QVERIFY(card->field(n).isEmpty());

    const auto cardClass = MakeCardClassRecord();
    QCOMPARE(cardClass->Kind, Kind::CardClass);
    QCOMPARE(cardClass->name().toByteArray(), gb18030::encode(QStringLiteral("<新类别>")));
    QCOMPARE(cardClass->textBytes(), cardClass->name().size());

    QCOMPARE(ReservedCardClassLabel(), gb18030::encode(QStringLiteral("未分类的名片")));
    QCOMPARE(NewCardLabel(), gb18030::encode(QStringLiteral("<新名片>")));
    QCOMPARE(NewCardClassLabel(), gb18030::encode(QStringLiteral("<新类别>")));

    // Days since 1899-12-30: any date this program meets lies well after 2000-01-01 (36526).
    QVERIFY(CurrentDateTimeStamp() > 36526.0);
}

void TestCardData::typicalCardIsCompact()
{
    // The record itself holds no per-field buffers: only the lengths and one pointer.
    QVERIFY(sizeof(TCardData) <= 48);
    TCardData record;
    record.setField(Field::Name, gb18030::encode(QStringLiteral("王小明")));
    record.setField(Field::TouXian, gb18030::encode(QStringLiteral("销售经理")));
    record.setField(Field::DW, gb18030::encode(QStringLiteral("北京某某科技有限公司")));
    record.setField(Field::DH, "010-12345678");
    record.setField(Field::SJ, "13912345678");
    record.setField(Field::EMail, "wang.xiaoming@example.com");
    QCOMPARE(record.textBytes(), qsizetype(6 + 8 + 20 + 12 + 11 + 25));
}

QTEST_GUILESS_MAIN(TestCardData)
#include "tst_carddata.moc"
