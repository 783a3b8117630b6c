#include "ReferenceSearch.h"
#include "SearchCards.h"
#include "TestCards.h"

#include <QCollator>
#include <QTest>

using namespace kelvo;
using namespace kelvo::testing;

namespace {

FieldSelection fieldsOf(std::initializer_list<int> numbers)
{
    FieldSelection fields{};
    for (int n : numbers)
        fields[static_cast<size_t>(n - 1)] = true;
    return fields;
}

QStringList names(const SearchOutcome &outcome)
{
    QStringList list;
    for (const TResultRow &row : outcome.rows)
        list.append(gb18030::decode(row.Texts[0]));
    return list;
}

class CountingPump : public MessagePump
{
public:
    void pump() override { ++calls; }
    int calls = 0;
};

const QLocale english(QLocale::English, QLocale::UnitedStates);

} // namespace

class TestSearchCards : public QObject
{
    Q_OBJECT

private slots:
    void conditionIsFoldedAndHistoryIgnoresCase();
    void blanksAroundValuesAreIgnored();
    void innerBlanksCount();
    void cardClassesNeverYieldRows();
    void anyTickedFieldMatches();
    void noFieldTicked();
    void emptyCondition_data();
    void emptyCondition();
    void emptyAndClassOnlyTrees();
    void researchSeesTheCurrentTree();
    void hitsOnlyAtCharacterBoundaries_data();
    void hitsOnlyAtCharacterBoundaries();
    void rowsShowWholeCharacters();
    void rowsSortedByName();
    void emptyNamesFirstAndEqualNamesStable();
    void chineseNamesFollowTheLocale();
    void manyRowsSortedStably();
    void nodesWithoutCardRecords();
    void pumpsOncePerNode();
};

void TestSearchCards::conditionIsFoldedAndHistoryIgnoresCase()
{
    CardTree tree;
    CardNode *cls = addClass(tree, nullptr, QStringLiteral("朋友"));
    addCard(tree, cls, QStringLiteral("abc"));
    addCard(tree, cls, QStringLiteral("Bob"), {{Field::DW, QStringLiteral("abc")}}); // company only
    addCard(tree, cls, QStringLiteral("xABCy"));
    addCard(tree, cls, QStringLiteral("Abc Ltd"));
    addCard(tree, cls, QStringLiteral("ab c"));

    ConditionHistory history;
    const SearchOutcome first = SearchCards(tree, "  abc ", DefaultFieldSelection(), english);
    QVERIFY(!first.emptyCondition);
    QCOMPARE(first.condition, QByteArray("ABC"));
    QCOMPARE(first.count(), 3);
    QCOMPARE(names(first), (QStringList{QStringLiteral("ABC"), QStringLiteral("ABC LTD"), QStringLiteral("XABCY")}));
    QVERIFY(history.add(first.condition));
    QCOMPARE(history.entries(), QList<QByteArray>{"ABC"});

    const SearchOutcome second = SearchCards(tree, "Abc", DefaultFieldSelection(), english);
    QCOMPARE(second.condition, QByteArray("ABC"));
    QVERIFY(!history.add(second.condition));
    QVERIFY(!history.add("abc")); // an entry equal without regard to case
    QVERIFY(history.add("ABD"));
    QCOMPARE(history.entries(), (QList<QByteArray>{"ABC", "ABD"}));
    QVERIFY(!history.add(""));
}

void TestSearchCards::blanksAroundValuesAreIgnored()
{
    CardTree tree;
    CardNode *cls = addClass(tree, nullptr, QStringLiteral("同事"));
    // Values straight from a data file may carry blanks the panel would have trimmed.
    addCardBytes(tree, cls, "  Li Lei\t ", {{Field::DH, QByteArray(" 010-1234 ")}});

    SearchOutcome outcome = SearchCards(tree, "lei", DefaultFieldSelection(), english);
    QCOMPARE(outcome.count(), 1);
    QCOMPARE(outcome.rows[0].Texts[0], QByteArray("LI LEI"));
    QCOMPARE(outcome.rows[0].Texts[4], QByteArray("010-1234"));

    // A condition reaching into the trimmed blanks cannot match.
    outcome = SearchCards(tree, "1234 x", fieldsOf({Field::DH}), english);
    QCOMPARE(outcome.count(), 0);
    outcome = SearchCards(tree, "010-1234", fieldsOf({Field::DH}), english);
    QCOMPARE(outcome.count(), 1);
}

void TestSearchCards::innerBlanksCount()
{
    CardTree tree;
    CardNode *cls = addClass(tree, nullptr, QStringLiteral("同事"));
    addCard(tree, cls, QStringLiteral("张三"));
    addCard(tree, cls, QStringLiteral("张 三丰"));

    const SearchOutcome outcome = SearchCards(tree, gb(QStringLiteral("张 三")), DefaultFieldSelection(), english);
    QCOMPARE(names(outcome), QStringList{QStringLiteral("张 三丰")});
}

void TestSearchCards::cardClassesNeverYieldRows()
{
    CardTree tree;
    CardNode *top = addClass(tree, nullptr, QStringLiteral("王氏"));
    CardNode *inner = addClass(tree, top, QStringLiteral("王家亲戚"));
    addCard(tree, inner, QStringLiteral("王五"));
    addCard(tree, inner, QStringLiteral("李四"));
    addCard(tree, top, QStringLiteral("赵六"), {{Field::Other, QStringLiteral("王")}});

    SearchOutcome outcome = SearchCards(tree, gb(QStringLiteral("王")), DefaultFieldSelection(), english);
    QCOMPARE(names(outcome), QStringList{QStringLiteral("王五")});
    QCOMPARE(outcome.rows[0].Node->label(), gb(QStringLiteral("王五")));
    QVERIFY(outcome.rows[0].Card == outcome.rows[0].Node->data());

    outcome = SearchCards(tree, gb(QStringLiteral("王")), fieldsOf({Field::Name, Field::Other}), english);
    QCOMPARE(outcome.count(), 2);
}

void TestSearchCards::anyTickedFieldMatches()
{
    CardTree tree;
    CardNode *cls = addClass(tree, nullptr, QStringLiteral("客户"));
    addCard(tree, cls, QStringLiteral("A"), {{Field::DH, QStringLiteral("555-0101")}});
    addCard(tree, cls, QStringLiteral("B"), {{Field::SJ, QStringLiteral("139 555 0102")}});
    addCard(tree, cls, QStringLiteral("C"), {{Field::CZ, QStringLiteral("555-0103")}});
    addCard(tree, cls, QStringLiteral("D"), {{Field::DH, QStringLiteral("555")}, {Field::SJ, QStringLiteral("555")}});

    SearchOutcome outcome = SearchCards(tree, "555", fieldsOf({Field::DH, Field::SJ}), english);
    QCOMPARE(names(outcome), (QStringList{"A", "B", "D"}));
    // Every row holds all thirteen folded texts, whatever was ticked.
    QCOMPARE(outcome.rows[1].Texts[6], QByteArray("139 555 0102"));
    QCOMPARE(outcome.rows[2].Texts[4], QByteArray("555"));

    FieldSelection all;
    all.fill(true);
    outcome = SearchCards(tree, "555", all, english);
    QCOMPARE(outcome.count(), 4);
}

void TestSearchCards::noFieldTicked()
{
    CardTree tree;
    addCard(tree, addClass(tree, nullptr, QStringLiteral("x")), QStringLiteral("abc"));
    const SearchOutcome outcome = SearchCards(tree, "abc", FieldSelection{}, english);
    QVERIFY(!outcome.emptyCondition);
    QCOMPARE(outcome.count(), 0);
    QCOMPARE(outcome.condition, QByteArray("ABC")); // still offered to the history
}

void TestSearchCards::emptyCondition_data()
{
    QTest::addColumn<QByteArray>("condition");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("blanks") << QByteArray("   ");
    QTest::newRow("control bytes") << QByteArray("\t\r\n\x01");
}

void TestSearchCards::emptyCondition()
{
    QFETCH(QByteArray, condition);
    CardTree tree;
    addCard(tree, addClass(tree, nullptr, QStringLiteral("x")), QStringLiteral("abc"));
    CountingPump pump;
    const SearchOutcome outcome = SearchCards(tree, condition, DefaultFieldSelection(), english, pump);
    QVERIFY(outcome.emptyCondition);
    QCOMPARE(outcome.count(), 0);
    QVERIFY(outcome.condition.isEmpty());
    QCOMPARE(pump.calls, 0);
}

void TestSearchCards::emptyAndClassOnlyTrees()
{
    CardTree empty;
    QCOMPARE(SearchCards(empty, "a", DefaultFieldSelection(), english).count(), 0);

    CardTree classes;
    CardNode *a = addClass(classes, nullptr, QStringLiteral("a"));
    addClass(classes, a, QStringLiteral("aa"));
    addClass(classes, nullptr, QStringLiteral("ab"));
    FieldSelection all;
    all.fill(true);
    const SearchOutcome outcome = SearchCards(classes, "a", all, english);
    QVERIFY(!outcome.emptyCondition);
    QCOMPARE(outcome.count(), 0);
}

void TestSearchCards::researchSeesTheCurrentTree()
{
    CardTree tree;
    CardNode *cls = addClass(tree, nullptr, QStringLiteral("x"));
    CardNode *ann = addCard(tree, cls, QStringLiteral("Ann"));
    CardNode *anna = addCard(tree, cls, QStringLiteral("Anna"));
    QCOMPARE(SearchCards(tree, "ann", DefaultFieldSelection(), english).count(), 2);

    tree.setField(ann, Field::Name, "Annie");
    tree.setLabel(ann, "Annie");
    tree.deleteNode(anna);
    addCard(tree, cls, QStringLiteral("Joanne"));
    const SearchOutcome outcome = SearchCards(tree, "ann", DefaultFieldSelection(), english);
    QCOMPARE(names(outcome), (QStringList{"ANNIE", "JOANNE"}));
}

void TestSearchCards::hitsOnlyAtCharacterBoundaries_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QByteArray>("condition");
    QTest::addColumn<bool>("found");

    // 张三 is D5 C5 C8 FD; 湃 is C5 C8, the bytes across the two characters.
    QTest::newRow("across two characters") << QByteArray("\xd5\xc5\xc8\xfd") << QByteArray("\xc5\xc8") << false;
    QTest::newRow("whole character") << QByteArray("\xd5\xc5\xc8\xfd") << QByteArray("\xc8\xfd") << true;
    QTest::newRow("same character later") << QByteArray("\xd5\xc5\xc8\xfd\xc5\xc8") << QByteArray("\xc5\xc8") << true;
    // 旳 is 95 41: the trail byte is the byte of the letter A.
    QTest::newRow("letter byte inside a character") << QByteArray("\x95\x41") << QByteArray("a") << false;
    QTest::newRow("letter after such a character") << QByteArray("\x95\x41"
                                                                 "a")
                                                   << QByteArray("a") << true;
    // 癮 is B0 61 and stays B0 61 on both sides of the comparison.
    QTest::newRow("character with letter trail") << QByteArray("x\xb0\x61") << QByteArray("\xb0\x61") << true;
    QTest::newRow("lowercase trail is not a letter") << QByteArray("\xb0\x61") << QByteArray("A") << false;
    // U+1F600 is 94 39 FC 36: it holds the digit bytes 9 and 6.
    QTest::newRow("digit inside a 4-byte character") << QByteArray("\x94\x39\xfc\x36") << QByteArray("9") << false;
    QTest::newRow("4-byte character itself")
        << QByteArray("a\x94\x39\xfc\x36") << QByteArray("\x94\x39\xfc\x36") << true;
    // A condition ending in half a character must not match a whole one.
    QTest::newRow("condition ends with a lead byte") << QByteArray("\xd5\xc5") << QByteArray("\xd5") << false;
}

void TestSearchCards::hitsOnlyAtCharacterBoundaries()
{
    QFETCH(QByteArray, value);
    QFETCH(QByteArray, condition);
    QFETCH(bool, found);
    CardTree tree;
    addCardBytes(tree, addClass(tree, nullptr, QStringLiteral("x")), value);
    QCOMPARE(SearchCards(tree, condition, DefaultFieldSelection(), english).count(), found ? 1 : 0);
}

void TestSearchCards::rowsShowWholeCharacters()
{
    CardTree tree;
    // 癮 (B0 61) inside a name: the row shows it unchanged, the letters folded.
    addCardBytes(tree, addClass(tree, nullptr, QStringLiteral("x")),
                 "ab\xb0\x61"
                 "cd",
                 {{Field::EMail, QByteArray("li@\xb0\x61.cn")}});
    const SearchOutcome outcome = SearchCards(tree, "b", DefaultFieldSelection(), english);
    QCOMPARE(outcome.count(), 1);
    QCOMPARE(outcome.rows[0].Texts[0],
             QByteArray("AB\xb0\x61"
                        "CD"));
    QCOMPARE(outcome.rows[0].Texts[11], QByteArray("LI@\xb0\x61.CN"));
}

void TestSearchCards::rowsSortedByName()
{
    CardTree tree;
    CardNode *first = addClass(tree, nullptr, QStringLiteral("x"));
    CardNode *second = addClass(tree, nullptr, QStringLiteral("y"));
    addCard(tree, first, QStringLiteral("Zed"), {{Field::Other, QStringLiteral("found")}});
    addCard(tree, second, QStringLiteral("Adam"), {{Field::Other, QStringLiteral("found")}});
    addCard(tree, first, QStringLiteral("Mia"), {{Field::Other, QStringLiteral("found")}});
    const SearchOutcome outcome = SearchCards(tree, "found", fieldsOf({Field::Other}), english);
    QCOMPARE(names(outcome), (QStringList{"ADAM", "MIA", "ZED"}));
}

void TestSearchCards::emptyNamesFirstAndEqualNamesStable()
{
    CardTree tree;
    CardNode *cls = addClass(tree, nullptr, QStringLiteral("x"));
    CardNode *bob1 = addCard(tree, cls, QStringLiteral("bob"), {{Field::DH, QStringLiteral("1 hit")}});
    addCard(tree, cls, QStringLiteral("Al"), {{Field::DH, QStringLiteral("2 hit")}});
    CardNode *unnamed = addCard(tree, cls, QString(), {{Field::DH, QStringLiteral("3 hit")}});
    CardNode *bob2 = addCard(tree, cls, QStringLiteral("Bob"), {{Field::DH, QStringLiteral("4 hit")}});
    CardNode *blank = addCardBytes(tree, cls, "   ", {{Field::DH, QByteArray("5 hit")}});

    const SearchOutcome outcome = SearchCards(tree, "HIT", fieldsOf({Field::DH}), english);
    QCOMPARE(outcome.count(), 5);
    // Both empty names come first, in tree order; the two BOB rows fold
    // equal and keep their tree order too.
    QCOMPARE(outcome.rows[0].Node, unnamed);
    QCOMPARE(outcome.rows[1].Node, blank);
    QCOMPARE(outcome.rows[2].Texts[0], QByteArray("AL"));
    QCOMPARE(outcome.rows[3].Node, bob1);
    QCOMPARE(outcome.rows[4].Node, bob2);
}

void TestSearchCards::chineseNamesFollowTheLocale()
{
    CardTree tree;
    CardNode *cls = addClass(tree, nullptr, QStringLiteral("x"));
    for (const QString &name :
         {QStringLiteral("张三"), QStringLiteral("李四"), QStringLiteral("阿明"), QStringLiteral("王五")})
        addCard(tree, cls, name, {{Field::Other, QStringLiteral("k")}});
    const SearchOutcome outcome =
        SearchCards(tree, "k", fieldsOf({Field::Other}), QLocale(QLocale::Chinese, QLocale::China));
    // Pinyin order: a, li, wang, zhang.
    QCOMPARE(
        names(outcome),
        (QStringList{QStringLiteral("阿明"), QStringLiteral("李四"), QStringLiteral("王五"), QStringLiteral("张三")}));
}

void TestSearchCards::manyRowsSortedStably()
{
    CardTree tree;
    CardNode *cls = addClass(tree, nullptr, QStringLiteral("x"));
    QList<const CardNode *> treeOrder;
    quint32 seed = 12345;
    const QString letters = QStringLiteral("abAB 张李");
    for (int i = 0; i < 300; ++i) {
        QString name;
        for (int length = int(seed % 4); length > 0; --length) {
            seed = seed * 1103515245u + 12345u;
            name += letters.at(qsizetype((seed >> 16) % quint32(letters.size())));
        }
        seed = seed * 1103515245u + 12345u;
        treeOrder.append(addCard(tree, cls, name, {{Field::Other, QStringLiteral("hit")}}));
    }
    const SearchOutcome outcome = SearchCards(tree, "hit", fieldsOf({Field::Other}), english);
    QCOMPARE(outcome.count(), 300);
    QCollator collator(english);
    collator.setCaseSensitivity(Qt::CaseSensitive);
    for (int i = 1; i < outcome.count(); ++i) {
        const TResultRow &before = outcome.rows[size_t(i - 1)];
        const TResultRow &after = outcome.rows[size_t(i)];
        const QString a = gb18030::decode(before.Texts[0]);
        const QString b = gb18030::decode(after.Texts[0]);
        const int order = test::nameOrder(collator, a, b);
        QVERIFY2(order <= 0, qPrintable(a + QLatin1String(" > ") + b));
        if (order == 0)
            QVERIFY(treeOrder.indexOf(before.Node) < treeOrder.indexOf(after.Node));
        QCOMPARE(after.Card, after.Node->data()); // each row still belongs to its own card
    }
}

void TestSearchCards::nodesWithoutCardRecords()
{
    CardTree tree;
    CardNode *cls = addClass(tree, nullptr, QStringLiteral("x"));
    CardNode *released = addCard(tree, cls, QStringLiteral("abc"));
    tree.releaseRecord(released);
    auto odd = MakeCardRecord();
    odd->Kind = 7; // a kind only a data file can carry
    odd->setField(Field::Name, "abc");
    tree.addChild(cls, "abc", std::move(odd));
    tree.addChild(cls, "abc"); // a node that never had a record
    addCard(tree, cls, QStringLiteral("abcd"));

    const SearchOutcome outcome = SearchCards(tree, "abc", DefaultFieldSelection(), english);
    QCOMPARE(names(outcome), QStringList{"ABCD"});
}

void TestSearchCards::pumpsOncePerNode()
{
    CardTree tree;
    CardNode *cls = addClass(tree, nullptr, QStringLiteral("x"));
    addCard(tree, addClass(tree, cls, QStringLiteral("y")), QStringLiteral("a"));
    addCard(tree, cls, QStringLiteral("b"));
    addClass(tree, nullptr, QStringLiteral("z"));
    CountingPump pump;
    SearchCards(tree, "q", DefaultFieldSelection(), english, pump);
    QCOMPARE(pump.calls, tree.count());
}

QTEST_GUILESS_MAIN(TestSearchCards)
#include "tst_searchcards.moc"
