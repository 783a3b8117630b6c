// The fast paths of the search give the answers of the plain definitions:
// the matcher against folding every field and looking at every character
// start, the order by sort keys against QCollator::compare per comparison.
#include "CardMatcher.h"
#include "Folding.h"
#include "Gb18030.h"
#include "NameOrder.h"
#include "ReferenceSearch.h"
#include "SearchCards.h"

#include "CardRecords.h"
#include "CardTree.h"

#include <QCollator>
#include <QCollatorSortKey>
#include <QRandomGenerator>
#include <QTest>

#include <algorithm>
#include <numeric>

using namespace kelvo;
using namespace kelvo::test;

namespace {

// Bytes that trip a byte-wise search: two-byte characters whose second byte
// is an ASCII letter or digit, four-byte characters with digits inside,
// letters of both cases, blanks, and lone lead bytes.
const QByteArray Pieces[] = {
    "a",
    "A",
    "b",
    "B",
    "z",
    "c",
    "o",
    "m",
    ".",
    "@",
    "1",
    "3",
    "8",
    "5",
    " ",
    "\t",
    "\x81\x61",         // a two-byte character ending in 'a'
    "\x81\x41",         // ... ending in 'A'
    "\xB0\x4D",         // ... ending in 'M'
    "\xD5\xC5",         // 张
    "\xCE\xB0",         // 伟
    "\x81\x30\x81\x30", // a four-byte character: digits in it
    "\x81\x35\xF4\x37", // another
    "\x81",             // a lead byte alone
    "\xFF",
};

QByteArray randomText(QRandomGenerator &random, int maxPieces)
{
    QByteArray text;
    for (int n = random.bounded(maxPieces + 1); n > 0; --n)
        text += Pieces[random.bounded(int(std::size(Pieces)))];
    return text;
}

QString randomName(QRandomGenerator &random)
{
    // Among them a zero-width space and a decomposed é, which the collation
    // gives the same key as names without them or with é composed, a
    // character beyond U+FFFF, a private one, and U+0000.
    static const QStringList pieces = {
        QStringLiteral("a"),      QStringLiteral("A"),       QStringLiteral("b"),      QStringLiteral("B"),
        QStringLiteral("z"),      QStringLiteral(" "),       QStringLiteral("1"),      QStringLiteral("-"),
        QStringLiteral("张"),     QStringLiteral("章"),      QStringLiteral("李"),     QStringLiteral("阿"),
        QStringLiteral("é"),      QStringLiteral("e\u0301"), QStringLiteral("\u200B"), QStringLiteral("😀"),
        QStringLiteral("\uE000"), QStringLiteral("\uFFFD"),  QString(QChar(0))};
    QString name;
    for (int length = random.bounded(5); length > 0; --length)
        name += pieces.at(random.bounded(int(pieces.size())));
    return name;
}

FieldSelection fieldsOf(std::initializer_list<int> numbers)
{
    FieldSelection fields{};
    for (int n : numbers)
        fields[size_t(n - 1)] = true;
    return fields;
}

} // namespace

class TestSearchSpeedups : public QObject
{
    Q_OBJECT

private slots:
    void matcherFollowsTheDefinition();
    void orderFollowsTheCollator_data();
    void orderFollowsTheCollator();
    void searchOrdersAsTheCollatorDoes();
    void rowTextsAreTextsOfTheirOwn();
    void findCardsFindsTheRowsCards();
};

void TestSearchSpeedups::matcherFollowsTheDefinition()
{
    QRandomGenerator random(424242);
    int hits = 0;
    int misses = 0;
    for (int round = 0; round < 20000; ++round) {
        TCardData card;
        card.Kind = Kind::Card;
        for (int n = Field::First; n <= Field::Last; ++n) {
            if (random.bounded(3) != 0)
                card.setField(n, randomText(random, 12));
        }
        // Conditions: often a piece of one of the card's own texts, in
        // another letter case; else random bytes.
        QByteArray condition;
        const int source = random.bounded(Field::First, Field::Last + 1);
        const QByteArrayView text = card.field(source);
        if (random.bounded(3) != 0 && !text.isEmpty()) {
            const qsizetype from = random.bounded(int(text.size()));
            condition = text.sliced(from, random.bounded(1, int(text.size() - from) + 1)).toByteArray();
            for (char &c : condition) {
                if (random.bounded(2) && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')))
                    c = char(c ^ 0x20);
            }
        } else {
            condition = randomText(random, 3);
        }
        const QByteArray folded = FoldText(condition);
        if (folded.isEmpty())
            continue;
        FieldSelection fields{};
        for (bool &ticked : fields)
            ticked = random.bounded(3) != 0;
        bool expected = false;
        for (int n = Field::First; n <= Field::Last; ++n)
            expected = expected || (fields[size_t(n - 1)] && plainContains(card.field(n), folded));
        CardMatcher matcher(folded, fields);
        if (matcher.matches(card) != expected) {
            QString texts;
            for (int n = Field::First; n <= Field::Last; ++n)
                texts += QStringLiteral(" %1:%2").arg(n).arg(QString::fromLatin1(card.field(n).toByteArray().toHex()));
            QFAIL(qPrintable(QStringLiteral("condition %1 (%2) expected %3;%4")
                                 .arg(QString::fromLatin1(folded.toHex()), QString::fromLatin1(condition.toHex()))
                                 .arg(expected)
                                 .arg(texts)));
        }
        (expected ? hits : misses)++;
    }
    QVERIFY(hits > 3000 && misses > 3000);
}

void TestSearchSpeedups::orderFollowsTheCollator_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::newRow("Chinese") << QLocale(QLocale::Chinese, QLocale::China);
    QTest::newRow("English") << QLocale(QLocale::English, QLocale::UnitedStates);
    QTest::newRow("C") << QLocale::c();
}

void TestSearchSpeedups::orderFollowsTheCollator()
{
    // 30,000 names from a small alphabet: many repeat, many differ only in
    // letter case, some only in a character the collation may ignore.
    QFETCH(QLocale, locale);
    QRandomGenerator random(7);
    std::vector<QByteArray> encoded;
    std::vector<QString> decoded;
    for (int i = 0; i < 30000; ++i) {
        const QString name = randomName(random);
        decoded.push_back(name);
        encoded.push_back(gb18030::encode(name));
    }
    std::vector<QByteArrayView> names(encoded.begin(), encoded.end());

    // The order as the result list had it: a stable sort comparing the
    // names' QCollatorSortKeys two at a time; and, where QCollator's
    // comparison agrees with its keys (every locale but C, whose keys put
    // characters beyond U+FFFF after U+E000-U+FFFF), comparing the names
    // themselves with QCollator::compare.
    QCollator collator(locale);
    collator.setCaseSensitivity(Qt::CaseSensitive);
    std::vector<QCollatorSortKey> keys;
    for (const QString &name : decoded)
        keys.push_back(collator.sortKey(name));
    const auto emptyFirst = [&](std::uint32_t a, std::uint32_t b, auto &&less) {
        if (decoded[a].isEmpty() || decoded[b].isEmpty())
            return decoded[a].isEmpty() && !decoded[b].isEmpty();
        return less(a, b);
    };
    std::vector<std::uint32_t> byKeys(names.size());
    std::iota(byKeys.begin(), byKeys.end(), std::uint32_t(0));
    std::stable_sort(byKeys.begin(), byKeys.end(), [&](std::uint32_t a, std::uint32_t b) {
        return emptyFirst(a, b, [&](std::uint32_t x, std::uint32_t y) { return keys[x].compare(keys[y]) < 0; });
    });
    std::vector<std::uint32_t> byCompare(names.size());
    std::iota(byCompare.begin(), byCompare.end(), std::uint32_t(0));
    std::stable_sort(byCompare.begin(), byCompare.end(), [&](std::uint32_t a, std::uint32_t b) {
        return emptyFirst(
            a, b, [&](std::uint32_t x, std::uint32_t y) { return collator.compare(decoded[x], decoded[y]) < 0; });
    });
    const bool compareAgrees = locale.language() != QLocale::C;
    // On the calling thread alone and shared with a helper thread.
    for (const int threads : {1, 2}) {
        const std::vector<std::uint32_t> order = OrderByName(names, locale, threads);
        for (const auto &[expected, what] :
             {std::pair{&byKeys, "sort keys"}, std::pair{&byCompare, "QCollator::compare"}}) {
            if (expected == &byCompare && !compareAgrees)
                continue;
            QCOMPARE(order.size(), expected->size());
            for (size_t i = 0; i < order.size(); ++i) {
                if (order[i] != (*expected)[i])
                    QFAIL(qPrintable(QStringLiteral("%1 thread(s), by %2, place %3: %4 (row %5) instead of %6 (row %7)")
                                         .arg(threads)
                                         .arg(QLatin1String(what))
                                         .arg(i)
                                         .arg(decoded[order[i]])
                                         .arg(order[i])
                                         .arg(decoded[(*expected)[i]])
                                         .arg((*expected)[i])));
            }
        }
    }
}

void TestSearchSpeedups::searchOrdersAsTheCollatorDoes()
{
    // Through SearchCards: rows in name order, ties in tree order, and each
    // row still carrying its own card's texts.
    QRandomGenerator random(8);
    CardTree tree;
    CardNode *cardClass = tree.addTopLevel("x", MakeCardClassRecord());
    for (int i = 0; i < 5000; ++i) {
        auto record = MakeCardRecord();
        const QByteArray name = gb18030::encode(randomName(random));
        record->setField(Field::Name, name);
        record->setField(Field::Other, "hit " + QByteArray::number(i));
        tree.addChild(cardClass, name, std::move(record));
    }
    const QLocale chinese(QLocale::Chinese, QLocale::China);
    FieldSelection fields{};
    fields[Field::Other - 1] = true;
    const SearchOutcome outcome = SearchCards(tree, "HIT", fields, chinese);
    QCOMPARE(outcome.count(), 5000);
    QCollator collator(chinese);
    collator.setCaseSensitivity(Qt::CaseSensitive);
    for (int i = 1; i < outcome.count(); ++i) {
        const TResultRow &before = outcome.rows[size_t(i - 1)];
        const TResultRow &after = outcome.rows[size_t(i)];
        const QString a = gb18030::decode(before.Texts[0]);
        const QString b = gb18030::decode(after.Texts[0]);
        const int order = nameOrder(collator, a, b);
        QVERIFY2(order <= 0, qPrintable(a + QLatin1String(" > ") + b));
        if (order == 0)
            QVERIFY(before.Node->row() < after.Node->row());
        QCOMPARE(after.Texts[Field::Other - 1], FoldText(after.Card->field(Field::Other)));
        QCOMPARE(after.Card, after.Node->data());
    }
}

void TestSearchSpeedups::rowTextsAreTextsOfTheirOwn()
{
    // A row's texts share one block; each still behaves as a QByteArray of
    // its own: it outlives the row, ends with a zero byte, and changes alone.
    CardTree tree;
    CardNode *cardClass = tree.addTopLevel("x", MakeCardClassRecord());
    auto record = MakeCardRecord();
    record->setField(Field::Name, "wang");
    record->setField(Field::DW, "  acme ltd ");
    record->setField(Field::EMail, "wang@example.com");
    tree.addChild(cardClass, "wang", std::move(record));
    QByteArray kept;
    QByteArray changed;
    {
        SearchOutcome outcome = SearchCards(tree, "ACME", fieldsOf({Field::DW}), QLocale::c());
        QCOMPARE(outcome.count(), 1);
        TResultRow &row = outcome.rows.front();
        QCOMPARE(row.Texts[Field::DW - 1], QByteArray("ACME LTD"));
        QCOMPARE(row.Texts[Field::DW - 1].constData()[8], '\0');
        QCOMPARE(qstrlen(row.Texts[Field::Name - 1].constData()), size_t(4));
        QVERIFY(row.Texts[Field::TouXian - 1].isEmpty());
        kept = row.Texts[Field::EMail - 1];
        changed = row.Texts[Field::Name - 1];
        changed.append("-AND-MORE"); // must not run into the next text
        row.Texts[Field::DW - 1].append('!');
        QCOMPARE(row.Texts[Field::DW - 1], QByteArray("ACME LTD!"));
        QCOMPARE(row.Texts[Field::EMail - 1], QByteArray("WANG@EXAMPLE.COM"));
        QCOMPARE(row.Texts[Field::Name - 1], QByteArray("WANG"));
        TResultRow copy = row;
        outcome.rows.clear();
        QCOMPARE(copy.Texts[Field::Name - 1], QByteArray("WANG"));
    }
    QCOMPARE(kept, QByteArray("WANG@EXAMPLE.COM"));
    QCOMPARE(changed, QByteArray("WANG-AND-MORE"));
}

void TestSearchSpeedups::findCardsFindsTheRowsCards()
{
    QRandomGenerator random(9);
    CardTree tree;
    CardNode *cardClass = tree.addTopLevel("x", MakeCardClassRecord());
    for (int i = 0; i < 3000; ++i) {
        auto record = MakeCardRecord();
        const QByteArray name = gb18030::encode(randomName(random));
        record->setField(Field::Name, name);
        record->setField(Field::Other, randomText(random, 6));
        tree.addChild(cardClass, name, std::move(record));
    }
    for (const char *condition : {"a", "A", "\xD5\xC5", "1", "\x81\x61", "b A"}) {
        const FieldSelection fields = fieldsOf({Field::Name, Field::Other});
        const QLocale chinese(QLocale::Chinese, QLocale::China);
        const SearchOutcome rows = SearchCards(tree, condition, fields, chinese);
        const FoundCards found = FindCards(tree, condition, fields, chinese);
        QCOMPARE(found.count(), rows.count());
        QCOMPARE(found.condition, rows.condition);
        for (int i = 0; i < rows.count(); ++i) {
            QCOMPARE(found.cards[size_t(i)].Node, rows.rows[size_t(i)].Node);
            QCOMPARE(found.cards[size_t(i)].Card, rows.rows[size_t(i)].Card);
        }
    }
}

QTEST_GUILESS_MAIN(TestSearchSpeedups)
#include "tst_searchspeedups.moc"
