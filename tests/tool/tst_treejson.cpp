#include "JsonDouble.h"
#include "TreeJsonReader.h"
#include "TreeJsonWriter.h"

#include "CardData.h"
#include "CardTree.h"
#include "Gb18030.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTest>

#include <bit>
#include <cmath>
#include <cstdint>
#include <random>

using namespace kelvo;
using namespace kelvo::tool;

class TestTreeJson : public QObject
{
    Q_OBJECT

private slots:
    void doublesSurviveJson_data();
    void doublesSurviveJson();
    void randomDoublesSurviveJson();
    void refusedCreatedValues_data();
    void refusedCreatedValues();
    void everyTextSurvives();
    void invalidGb18030IsNamedInAWarning();
    void deepTreeIsWrittenWithoutRecursion();
    void errorNamesTheNestedPlace();
};

namespace {

double throughJson(double value)
{
    const QByteArray json = "[" + ExactDoubleJson(value) + "]";
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        qFatal("not JSON: %s", json.constData());
    double back = 0;
    QString reason;
    if (!DoubleFromJson(document.array().at(0), &back, &reason))
        qFatal("refused: %s", json.constData());
    return back;
}

} // namespace

void TestTreeJson::doublesSurviveJson_data()
{
    QTest::addColumn<quint64>("bits");
    const double values[] = {0.0,
                             -0.0,
                             1.0,
                             -1.0,
                             0.1,
                             45678.123456789012,
                             1e-300,
                             5e-324,
                             -5e-324,
                             1.7976931348623157e308,
                             9007199254740993.0,
                             18446744073709551616.0,
                             1e22,
                             1e23,
                             HUGE_VAL,
                             -HUGE_VAL};
    for (double v : values)
        QTest::addRow("%.17g", v) << quint64(std::bit_cast<std::uint64_t>(v));
    QTest::newRow("quiet NaN") << quint64(0x7ff8000000000000ULL);
    QTest::newRow("negative NaN") << quint64(0xfff8000000000000ULL);
    QTest::newRow("signalling NaN") << quint64(0x7ff0000000000001ULL);
}

void TestTreeJson::doublesSurviveJson()
{
    QFETCH(quint64, bits);
    const double back = throughJson(std::bit_cast<double>(std::uint64_t(bits)));
    QCOMPARE(quint64(std::bit_cast<std::uint64_t>(back)), bits);
}

void TestTreeJson::randomDoublesSurviveJson()
{
    std::mt19937_64 random(20240607);
    for (int i = 0; i < 200000; ++i) {
        std::uint64_t bits = random();
        if (i % 2) // time-stamp-like values too
            bits = std::bit_cast<std::uint64_t>(30000.0 + double(random() % 40000000000ULL) / 1e6);
        const double back = throughJson(std::bit_cast<double>(bits));
        if (std::bit_cast<std::uint64_t>(back) != bits)
            QFAIL(qPrintable(QStringLiteral("%1 came back as %2")
                                 .arg(bits, 16, 16)
                                 .arg(std::bit_cast<std::uint64_t>(back), 16, 16)));
    }
}

void TestTreeJson::refusedCreatedValues_data()
{
    QTest::addColumn<QByteArray>("created");
    QTest::newRow("word") << QByteArray("\"today\"");
    QTest::newRow("NaN payload that is infinity") << QByteArray("\"NaN(0x7ff0000000000000)\"");
    QTest::newRow("NaN payload too long") << QByteArray("\"NaN(0x17ff0000000000001)\"");
    QTest::newRow("NaN payload not hex") << QByteArray("\"NaN(0xzz)\"");
    QTest::newRow("boolean") << QByteArray("true");
    QTest::newRow("array") << QByteArray("[1]");
}

void TestTreeJson::refusedCreatedValues()
{
    QFETCH(QByteArray, created);
    CardTree tree;
    QString error;
    QVERIFY(
        !ReadTreeJson("{\"nodes\": [{\"label\": \"a\", \"kind\": 0, \"created\": " + created + "}]}", tree, &error));
    QVERIFY2(error.startsWith(QStringLiteral("nodes[0].created: ")), qPrintable(error));
}

void TestTreeJson::everyTextSurvives()
{
    // Every ASCII byte, characters of two and four bytes in GB18030, and the
    // most a field holds.
    QByteArray ascii;
    for (int c = 1; c < 0x80; ++c)
        ascii += char(c);
    const QByteArray texts[] = {
        ascii,
        gb18030::encode(QStringLiteral("名片 €¥ 𠀀😀")),
        QByteArray(255, 'x'),
        gb18030::encode(QString(127, QChar(0x540D))) + 'y',
        QByteArray(),
    };
    CardTree tree;
    for (const QByteArray &text : texts) {
        auto record = std::make_unique<TCardData>();
        record->Kind = Kind::Card;
        for (int n = Field::First; n <= Field::Last; ++n)
            record->setField(n, text);
        record->Created = 12.5;
        CardNode *node = tree.addTopLevel(text, std::move(record));
        tree.setDisplayIndexes(node, 3, 4, 5, 6);
    }
    QStringList warnings;
    const QByteArray json = TreeToJson(tree, &warnings);
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join(QLatin1Char('\n'))));
    QVERIFY(!QJsonDocument::fromJson(json).isNull());

    CardTree back;
    QString error;
    QVERIFY2(ReadTreeJson(json, back, &error, &warnings), qPrintable(error));
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join(QLatin1Char('\n'))));
    QCOMPARE(back.count(), tree.count());
    for (int i = 0; i < tree.count(); ++i) {
        const CardNode *a = tree.nodeAt(i);
        const CardNode *b = back.nodeAt(i);
        QCOMPARE(b->label(), a->label());
        for (int n = Field::First; n <= Field::Last; ++n)
            QCOMPARE(b->data()->field(n).toByteArray(), a->data()->field(n).toByteArray());
        QCOMPARE(b->displayIndexes(), a->displayIndexes());
        QCOMPARE(b->data()->Created, 12.5);
    }
    QCOMPARE(TreeToJson(back), json);
}

void TestTreeJson::invalidGb18030IsNamedInAWarning()
{
    CardTree tree;
    CardNode *parent = tree.addTopLevel("ok", std::make_unique<TCardData>());
    tree.addChild(parent, "fine", std::make_unique<TCardData>());
    auto record = std::make_unique<TCardData>();
    record->setField(Field::EMail, QByteArray("a\xff\x80"));
    tree.addChild(parent, QByteArray("b\x81"), std::move(record));

    QStringList warnings;
    const QByteArray json = TreeToJson(tree, &warnings);
    QCOMPARE(warnings.size(), 2);
    QVERIFY2(warnings.at(0).startsWith(QStringLiteral("nodes[0].children[1]: label ")), qPrintable(warnings.at(0)));
    QVERIFY2(warnings.at(1).startsWith(QStringLiteral("nodes[0].children[1]: field 12 ")), qPrintable(warnings.at(1)));
    QVERIFY(!QJsonDocument::fromJson(json).isNull());
}

void TestTreeJson::deepTreeIsWrittenWithoutRecursion()
{
    // Far deeper than any stack would allow for a recursive writer.
    constexpr int Depth = 200000;
    CardTree tree;
    CardNode *node = tree.addTopLevel("0", std::make_unique<TCardData>());
    for (int i = 1; i < Depth; ++i)
        node = tree.addChild(node, QByteArray::number(i), std::make_unique<TCardData>());
    QStringList warnings;
    const QByteArray json = TreeToJson(tree, &warnings);
    QCOMPARE(json.count("{\"label\": "), Depth);
    // Indentation stops growing, so the text grows in step with the depth.
    QVERIFY2(json.size() < qsizetype(Depth) * 400, qPrintable(QString::number(json.size())));
    QVERIFY(json.endsWith("\n      ]}\n    ]}\n  ]}\n]}\n"));

    // It reads back whole, as deep as it was written.
    CardTree back;
    QString error;
    QVERIFY2(ReadTreeJson(json, back, &error), qPrintable(error));
    QCOMPARE(back.count(), Depth);
    QCOMPARE(back.lastInAbsoluteOrder()->depth(), Depth - 1);
    QCOMPARE(back.lastInAbsoluteOrder()->label(), QByteArray::number(Depth - 1));
    QCOMPARE(TreeToJson(back), json);
}

void TestTreeJson::errorNamesTheNestedPlace()
{
    CardTree tree;
    QString error;
    QVERIFY(!ReadTreeJson(
        R"({"nodes": [{"label": "a", "kind": 0}, {"label": "b", "kind": 0, "children": [{"label": 1, "kind": 0}]}]})",
        tree, &error));
    QCOMPARE(error.left(28), QStringLiteral("nodes[1].children[0].label: "));
}

QTEST_GUILESS_MAIN(TestTreeJson)
#include "tst_treejson.moc"
