// A search shared between threads finds exactly what one thread finds: the
// same cards in the same tree order, the same folded names, the same result
// order; and the pump runs on the calling thread only.
#include "CardScan.h"
#include "DistinctNames.h"
#include "Folding.h"
#include "Gb18030.h"
#include "NameOrder.h"
#include "SearchCards.h"

#include "CardRecords.h"
#include "CardTree.h"

#include <QRandomGenerator>
#include <QSet>
#include <QTest>

#include <set>
#include <thread>

using namespace kelvo;

namespace {

// Bytes that make hits and near misses: letters of both cases, digits, dots,
// blanks, Chinese characters, two-byte characters whose second byte is a
// letter, a four-byte character.
const QByteArray Pieces[] = {"a",        "A",        "b",
                             "B",        "c",        "1",
                             "3",        ".",        "@",
                             " ",        "com",      "\xD5\xC5", // 张
                             "\xCE\xB0",                         // 伟
                             "\x81\x61", "\x81\x41", "\x81\x30\x81\x30"};

// Names that fold alike or not at all, empty ones, Chinese ones.
const QByteArray Names[] = {"",         "abc", "ABC", "Abc",          " abc ",    "abd", "\xD5\xC5\xCE\xB0", // 张伟
                            "\xD5\xC5", "b",   "B",   "\x81\x61\x62", "\x81\x41", "  ",  "zz9"};

QByteArray randomText(QRandomGenerator &random, int maxPieces)
{
    QByteArray text;
    for (int n = random.bounded(maxPieces + 1); n > 0; --n)
        text += Pieces[random.bounded(int(std::size(Pieces)))];
    return text;
}

// A tree of `nodes` nodes: card classes nested up to six levels, cards at
// every depth (the top level too), nodes without a record and one of an
// unknown kind now and then.
void randomTree(CardTree &tree, int nodes, quint32 seed)
{
    QRandomGenerator random(seed);
    std::vector<CardNode *> open{nullptr}; // classes that take children; nullptr: the top level
    for (int i = 0; i < nodes; ++i) {
        CardNode *parent = open[size_t(random.bounded(int(open.size())))];
        const int what = random.bounded(100);
        std::unique_ptr<TCardData> record;
        if (what < 12) {
            record = MakeCardClassRecord();
        } else if (what < 14) {
            record.reset(); // no record
        } else {
            record = MakeCardRecord();
            if (what < 15)
                record->Kind = 7;
        }
        const QByteArray name = Names[random.bounded(int(std::size(Names)))];
        if (record) {
            record->setField(Field::Name, name);
            for (int n = Field::First + 1; n <= Field::Last; ++n) {
                if (random.bounded(3) == 0)
                    record->setField(n, randomText(random, 4));
            }
        }
        const bool isClass = record && record->isCardClass();
        CardNode *node =
            parent ? tree.addChild(parent, name, std::move(record)) : tree.addTopLevel(name, std::move(record));
        if (isClass && node->depth() < 6)
            open.push_back(node);
        if (open.size() > 40 && random.bounded(4) == 0)
            open.erase(open.begin() + 1 + random.bounded(int(open.size()) - 1));
    }
}

FieldSelection randomFields(QRandomGenerator &random)
{
    FieldSelection fields{};
    for (bool &ticked : fields)
        ticked = random.bounded(2) != 0;
    return fields;
}

FieldSelection allFields()
{
    FieldSelection fields;
    fields.fill(true);
    return fields;
}

class CountingPump : public MessagePump
{
public:
    void pump() override
    {
        ++calls;
        if (std::this_thread::get_id() != owner)
            ++foreignCalls;
    }
    std::thread::id owner = std::this_thread::get_id();
    int calls = 0;
    int foreignCalls = 0;
};

// The two scans agree card for card and name for name.
void compareScans(const ScannedCards &expected, const ScannedCards &got, const char *what)
{
    QVERIFY2(got.cards.size() == expected.cards.size(), what);
    QCOMPARE(got.names.size(), got.cards.size());
    for (size_t i = 0; i < expected.cards.size(); ++i) {
        QVERIFY2(got.cards[i].Node == expected.cards[i].Node,
                 qPrintable(QStringLiteral("%1: card %2").arg(what).arg(i)));
        QCOMPARE(got.cards[i].Card, expected.cards[i].Card);
        QCOMPARE(got.names[i], expected.names[i]);
    }
}

const QLocale Chinese(QLocale::Chinese, QLocale::China);

} // namespace

class TestSearchThreads : public QObject
{
    Q_OBJECT

private slots:
    void sharedScansFindWhatOneThreadFinds();
    void hitsAtEveryRunBoundary();
    void deepAndWideTreesShareAlike();
    void sharedSearchesGiveTheSameRows_data();
    void sharedSearchesGiveTheSameRows();
    void pumpRunsOnTheCallingThreadOnly();
    void smallTreesStayOnOneThread();
    void sharedOrderIsTheSingleOrder_data();
    void sharedOrderIsTheSingleOrder();
    void distinctNamesTellEveryNameApart();
};

void TestSearchThreads::sharedScansFindWhatOneThreadFinds()
{
    CardTree tree;
    randomTree(tree, 30000, 11);
    QRandomGenerator random(12);
    const QByteArray conditions[] = {"A",
                                     "ab",
                                     "\xD5\xC5",
                                     "1",
                                     "COM",
                                     "b a",
                                     "\x81\x61",
                                     "@",
                                     "\xCE\xB0"
                                     "1"};
    int hits = 0;
    for (const QByteArray &condition : conditions) {
        const QByteArray folded = FoldText(condition);
        const FieldSelection fields = random.bounded(3) == 0 ? allFields() : randomFields(random);
        const ScannedCards alone = ScanCards(tree, folded, fields, ScanSharing{1, 4096}, NoMessagePump());
        hits += int(alone.cards.size());
        using Runs = ScanSharing::Runs;
        for (const ScanSharing sharing :
             {ScanSharing{2, 1, Runs::OfNodes}, ScanSharing{2, 7, Runs::OfNodes}, ScanSharing{2, 4096, Runs::OfNodes},
              ScanSharing{3, 333, Runs::OfNodes}, ScanSharing{2, 1 << 20, Runs::OfNodes},
              ScanSharing{2, 1, Runs::OfTopLevelSubtrees}, ScanSharing{2, 50, Runs::OfTopLevelSubtrees},
              ScanSharing{3, 4096, Runs::OfTopLevelSubtrees}, ScanSharing{2, 4096, Runs::Chosen}}) {
            const ScannedCards shared = ScanCards(tree, folded, fields, sharing, NoMessagePump());
            compareScans(alone, shared,
                         qPrintable(QStringLiteral("%1 with %2 threads, runs of %3 (%4)")
                                        .arg(QString::fromLatin1(condition.toHex()))
                                        .arg(sharing.threads)
                                        .arg(sharing.chunkNodes)
                                        .arg(int(sharing.runs))));
        }
    }
    QVERIFY(hits > 20000); // the conditions hit often enough to mean something
}

void TestSearchThreads::hitsAtEveryRunBoundary()
{
    // Runs of ten nodes; cards that match stand just before, on and after
    // the boundaries, at the very first and the very last node, and the
    // card classes around them (which never yield rows) match too.
    CardTree tree;
    CardNode *cardClass = tree.addTopLevel("hit class", MakeCardClassRecord());
    const std::set<int> hitting = {0, 9, 10, 11, 19, 20, 29, 30, 31, 59, 98, 99};
    std::vector<const CardNode *> expected;
    for (int i = 1; i < 100; ++i) {
        auto record = i % 25 == 0 ? MakeCardClassRecord() : MakeCardRecord();
        const bool isCard = record->isCard();
        record->setField(Field::Other, hitting.count(i) ? "hit " + QByteArray::number(i) : "miss");
        record->setField(Field::Name, QByteArray::number(100 - i));
        const CardNode *node = tree.addChild(cardClass, "n", std::move(record));
        if (hitting.count(i) && isCard)
            expected.push_back(node);
    }
    QCOMPARE(tree.count(), 100);
    FieldSelection fields{};
    fields[Field::Other - 1] = true;
    for (const int threads : {1, 2, 3}) {
        const ScannedCards scanned =
            ScanCards(tree, "HIT", fields, ScanSharing{threads, 10, ScanSharing::Runs::OfNodes}, NoMessagePump());
        QCOMPARE(scanned.cards.size(), expected.size());
        for (size_t i = 0; i < expected.size(); ++i)
            QCOMPARE(scanned.cards[i].Node, expected[i]);
        QCOMPARE(scanned.names.front(), QByteArrayView("91"));
        QCOMPARE(scanned.names.back(), QByteArrayView("1"));
    }
}

void TestSearchThreads::deepAndWideTreesShareAlike()
{
    // One top-level class holding everything, nested deep (the runs are
    // stretches of nodes), and a wide top level of small classes and cards
    // (the runs are whole top-level subtrees): both as one thread has them.
    FieldSelection fields{};
    fields[Field::Name - 1] = true;
    fields[Field::Other - 1] = true;
    CardTree deep;
    CardNode *parent = deep.addTopLevel("root", MakeCardClassRecord());
    for (int level = 0; level < 200; ++level) {
        for (int i = 0; i < 120; ++i) {
            auto record = MakeCardRecord();
            record->setField(Field::Other, i % 3 ? "abc" : "xyz");
            record->setField(Field::Name, QByteArray::number((i * 7919) % 101));
            deep.addChild(parent, "c", std::move(record));
        }
        parent = deep.addChild(parent, "class", MakeCardClassRecord());
    }
    CardTree wide;
    randomTree(wide, 200, 51); // some classes first
    for (int i = 0; i < 30000; ++i) {
        auto record = i % 10 ? MakeCardRecord() : MakeCardClassRecord();
        record->setField(Field::Other, i % 4 ? "ABC" : "-");
        wide.addTopLevel("t", std::move(record));
    }
    for (CardTree *tree : {&deep, &wide}) {
        const ScannedCards alone = ScanCards(*tree, "ABC", fields, ScanSharing{1}, NoMessagePump());
        QVERIFY(alone.cards.size() > 15000);
        compareScans(alone, ScanCards(*tree, "ABC", fields, DefaultScanSharing(*tree), NoMessagePump()), "chosen");
        compareScans(alone, ScanCards(*tree, "ABC", fields, ScanSharing{2, 100}, NoMessagePump()), "runs of 100");
    }
    QCOMPARE(DefaultScanSharing(deep).threads, DefaultScanSharing(deep.count()).threads);
    QCOMPARE(DefaultScanSharing(wide).threads, DefaultScanSharing(wide.count()).threads);
}

void TestSearchThreads::sharedSearchesGiveTheSameRows_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::newRow("Chinese") << Chinese;
    QTest::newRow("C") << QLocale::c();
}

void TestSearchThreads::sharedSearchesGiveTheSameRows()
{
    // The whole search: rows, their order (names that fold alike, empty
    // names first, ties in tree order) and their texts.
    QFETCH(QLocale, locale);
    CardTree tree;
    randomTree(tree, 25000, 21);
    for (const char *condition : {"a", "B", "\xD5\xC5", "1"}) {
        const SearchOutcome alone = SearchCards(tree, condition, allFields(), locale, NoMessagePump(), ScanSharing{1});
        const SearchOutcome shared =
            SearchCards(tree, condition, allFields(), locale, NoMessagePump(), ScanSharing{2, 100});
        const FoundCards found = FindCards(tree, condition, allFields(), locale, NoMessagePump(), ScanSharing{2, 3});
        QVERIFY(alone.count() > 1000);
        QCOMPARE(shared.count(), alone.count());
        QCOMPARE(found.count(), alone.count());
        QCOMPARE(shared.condition, alone.condition);
        for (int i = 0; i < alone.count(); ++i) {
            const TResultRow &a = alone.rows[size_t(i)];
            const TResultRow &b = shared.rows[size_t(i)];
            QCOMPARE(b.Node, a.Node);
            QCOMPARE(found.cards[size_t(i)].Node, a.Node);
            QCOMPARE(b.Texts, a.Texts);
        }
        // What the default choice gives (two threads for this size, on a
        // machine with two cores) is the same again.
        const FoundCards chosen = FindCards(tree, condition, allFields(), locale);
        QCOMPARE(chosen.count(), alone.count());
        for (int i = 0; i < alone.count(); ++i)
            QCOMPARE(chosen.cards[size_t(i)].Node, alone.rows[size_t(i)].Node);
    }
}

void TestSearchThreads::pumpRunsOnTheCallingThreadOnly()
{
    CardTree tree;
    randomTree(tree, 30000, 31);
    CountingPump pump;
    const FoundCards found = FindCards(tree, "a", allFields(), Chinese, pump, ScanSharing{2, 64});
    QVERIFY(found.count() > 0);
    QCOMPARE(pump.foreignCalls, 0);
    // It ran for the nodes the calling thread looked at: the first run at
    // least (the calling thread takes it before the helper starts), not
    // necessarily half of them.
    QVERIFY(pump.calls >= 64);

    // Alone, once per node, as before.
    CountingPump alone;
    FindCards(tree, "a", allFields(), Chinese, alone, ScanSharing{1});
    QCOMPARE(alone.calls, tree.count());
}

void TestSearchThreads::smallTreesStayOnOneThread()
{
    QCOMPARE(DefaultScanSharing(0).threads, 1);
    QCOMPARE(DefaultScanSharing(MinNodesForHelperThreads - 1).threads, 1);
    const int large = DefaultScanSharing(MinNodesForHelperThreads).threads;
    QVERIFY(large >= 1 && large <= 2);
    if (std::thread::hardware_concurrency() >= 2)
        QCOMPARE(large, 2);
}

void TestSearchThreads::sharedOrderIsTheSingleOrder_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::newRow("Chinese") << Chinese;
    QTest::newRow("English") << QLocale(QLocale::English, QLocale::UnitedStates);
    QTest::newRow("C") << QLocale::c();
}

void TestSearchThreads::sharedOrderIsTheSingleOrder()
{
    // Names split between two threads by their hash: equal keys of names in
    // different shares (letter case aside, é composed or not, names with
    // characters the collation ignores) still share a rank, so ties keep
    // the order given.
    QFETCH(QLocale, locale);
    QRandomGenerator random(41);
    const QStringList pieces = {QStringLiteral("a"),        QStringLiteral("A"),      QStringLiteral("é"),
                                QStringLiteral("e\u0301"),  QStringLiteral("\u200B"), QStringLiteral("张"),
                                QStringLiteral("章"),       QStringLiteral("1"),      QStringLiteral(" "),
                                QStringLiteral("ab张伟李"), QString(QChar(0)),        QStringLiteral("😀")};
    std::vector<QByteArray> encoded;
    for (int i = 0; i < int(MinNamesForHelperThread) + 20000; ++i) {
        QString name;
        for (int n = random.bounded(6); n > 0; --n)
            name += pieces.at(random.bounded(int(pieces.size())));
        encoded.push_back(gb18030::encode(name));
    }
    const std::vector<QByteArrayView> names(encoded.begin(), encoded.end());
    const std::vector<std::uint32_t> alone = OrderByName(names, locale, 1);
    const std::vector<std::uint32_t> shared = OrderByName(names, locale, 2);
    const std::vector<std::uint32_t> chosen = OrderByName(names, locale);
    QCOMPARE(shared, alone);
    QCOMPARE(chosen, alone);
    // Ties do occur, and keep the order given.
    int ties = 0;
    for (size_t i = 1; i < alone.size(); ++i) {
        if (encoded[alone[i - 1]] == encoded[alone[i]]) {
            ++ties;
            QVERIFY(alone[i - 1] < alone[i]);
        }
    }
    QVERIFY(ties > 1000);
}

void TestSearchThreads::distinctNamesTellEveryNameApart()
{
    // Every text of up to three bytes over a small alphabet and longer ones
    // that share their first eight bytes: each gets a number of its own, and
    // the same number however often it comes; the table grows meanwhile.
    std::vector<QByteArray> texts;
    const char alphabet[] = {'a', 'b', '\0', '\xD5', '\xFF'};
    for (char x : alphabet) {
        texts.push_back(QByteArray(1, x));
        for (char y : alphabet) {
            texts.push_back(QByteArray(1, x) + y);
            for (char z : alphabet)
                texts.push_back(QByteArray(1, x) + y + z);
        }
    }
    for (int length = 4; length <= 20; ++length) {
        for (int variant = 0; variant < 300; ++variant) {
            QByteArray text(length, 'x');
            text[length - 1] = char('a' + variant % 26);
            text[length / 2] = char('a' + variant / 26);
            texts.push_back(text);
        }
    }
    QSet<QByteArray> unique(texts.begin(), texts.end());
    std::vector<QByteArray> all(unique.begin(), unique.end());
    DistinctNames table(4);
    std::vector<std::uint32_t> first;
    for (const QByteArray &text : all)
        first.push_back(table.slotOf(text, DistinctNames::hashOf(text)));
    QCOMPARE(table.count(), std::uint32_t(all.size() + 1));
    for (size_t i = 0; i < all.size(); ++i) {
        QCOMPARE(first[i], std::uint32_t(i + 1)); // numbered in order of first appearance
        QCOMPARE(table.slotOf(all[i], DistinctNames::hashOf(all[i])), first[i]);
        QCOMPARE(table.names()[first[i]], QByteArrayView(all[i]));
    }
}

QTEST_GUILESS_MAIN(TestSearchThreads)
#include "tst_searchthreads.moc"
