#include "CardRecords.h"
#include "CardTree.h"
#include "MirrorObserver.h"
#include "StoreTestUtil.h"

#include "Gb18030.h"

#include <QRandomGenerator>
#include <QTest>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

using namespace kelvo;
using namespace kelvo::test;

Q_DECLARE_METATYPE(kelvo::CardTree::MoveMode)

namespace {

CardNode *byLabel(const CardTree &tree, const QByteArray &label)
{
    CardNode *found = nullptr;
    tree.forEach([&](CardNode *node) {
        if (!found && node->label() == label)
            found = node;
    });
    return found;
}

// Absolute order, counts and rows as the cache reports them, checked against a fresh walk.
void verifyOrder(const CardTree &tree)
{
    std::vector<CardNode *> walk;
    tree.forEach([&walk](CardNode *node) { walk.push_back(node); });
    QCOMPARE(tree.count(), int(walk.size()));
    for (int i = 0; i < int(walk.size()); ++i) {
        QCOMPARE(tree.nodeAt(i), walk[size_t(i)]);
        QCOMPARE(tree.absoluteIndexOf(walk[size_t(i)]), i);
        CardNode *node = walk[size_t(i)];
        QCOMPARE(tree.child(node->parent(), node->row()), node);
    }
    QVERIFY(!tree.nodeAt(-1));
    QVERIFY(!tree.nodeAt(int(walk.size())));
    QCOMPARE(tree.lastInAbsoluteOrder(), walk.empty() ? nullptr : walk.back());
}

} // namespace

class TestCardTree : public QObject
{
    Q_OBJECT

private slots:
    void addAnnouncesRows();
    void navigation();
    void moves_data();
    void moves();
    void deletes();
    void attributeChangesAreAnnounced();
    void onlyRealChangesAreAnnounced();
    void addChildrenAnnouncesOnce();
    void adoptAnnouncesOnce();
    void randomChangesKeepEverythingConsistent();
    void createDefaultTree();
    void freeAllCardData();
    void reservedCardClass();
    void deepChainWithoutRecursion();
    void foreignNodesAreRefused();
    void typicalCardCostsAtMost320Bytes();
};

void TestCardTree::addAnnouncesRows()
{
    CardTree tree;
    MirrorObserver mirror(tree);
    CardNode *b = tree.addTopLevel("B");
    CardNode *a = tree.addTopLevelFirst("A");
    tree.addChild(a, "a1");
    tree.addChild(a, "a2");
    tree.addChild(nullptr, "C");
    tree.addChild(b, "b1");
    QCOMPARE(outline(tree), QStringLiteral("A .a1 .a2 B .b1 C"));
    QCOMPARE(mirror.events,
             QStringList({"insert(top,0,0)", "insert(top,0,0)", "insert(A,0,0)", "insert(A,1,1)", "insert(top,2,2)",
                          "insert(B,0,0)"}));
    QVERIFY2(mirror.errors.isEmpty(), qPrintable(mirror.errors.join('\n')));
    QCOMPARE(a->row(), 0);
    QCOMPARE(b->row(), 1);
    verifyOrder(tree);
}

void TestCardTree::navigation()
{
    CardTree tree;
    buildFromOutline(tree, "A .a1 .B ..b1 C");
    CardNode *a = byLabel(tree, "A");
    CardNode *a1 = byLabel(tree, "a1");
    CardNode *bigB = byLabel(tree, "B");
    CardNode *b1 = byLabel(tree, "b1");
    CardNode *c = byLabel(tree, "C");
    QCOMPARE(tree.firstTopLevel(), a);
    QCOMPARE(a->nextSibling(), c);
    QCOMPARE(c->previousSibling(), a);
    QVERIFY(!c->nextSibling());
    QVERIFY(!a->previousSibling());
    QCOMPARE(a1->nextSibling(), bigB);
    QCOMPARE(a->firstChild(), a1);
    QCOMPARE(a->lastChild(), bigB);
    QVERIFY(!a->parent());
    QCOMPARE(b1->parent(), bigB);
    QCOMPARE(b1->depth(), 2);
    QVERIFY(a->isAncestorOf(b1));
    QVERIFY(a->isAncestorOf(a));
    QVERIFY(!bigB->isAncestorOf(a1));
    QCOMPARE(tree.topLevelCount(), 2);
    QCOMPARE(tree.childCount(nullptr), 2);
    QCOMPARE(tree.lastInAbsoluteOrder(), c);
    QVERIFY(!a->child(5));
    QVERIFY(!a->child(-1));
    QCOMPARE(a1->kind(), Kind::Card);
    QVERIFY(a->isCardClass());
    verifyOrder(tree);
}

void TestCardTree::moves_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<QByteArray>("node");
    QTest::addColumn<QByteArray>("target");
    QTest::addColumn<CardTree::MoveMode>("mode");
    QTest::addColumn<QString>("expected"); // empty: refused, nothing changes
    QTest::addColumn<QString>("announced");

    using M = CardTree::MoveMode;
    const QString start = QStringLiteral("A .a .b .c B .d");
    QTest::newRow("before, down within parent")
        << start << QByteArray("a") << QByteArray("c") << M::BeforeTarget << "A .b .a .c B .d"
        << "move(a,A,2)";
    QTest::newRow("before, up within parent")
        << start << QByteArray("c") << QByteArray("a") << M::BeforeTarget << "A .c .a .b B .d"
        << "move(c,A,0)";
    QTest::newRow("before, already there") << start << QByteArray("b") << QByteArray("c") << M::BeforeTarget << ""
                                           << "";
    QTest::newRow("before, other parent")
        << start << QByteArray("b") << QByteArray("d") << M::BeforeTarget << "A .a .c B .b .d"
        << "move(b,B,0)";
    QTest::newRow("before, to top level")
        << start << QByteArray("d") << QByteArray("A") << M::BeforeTarget << "d A .a .b .c B"
        << "move(d,top,0)";
    QTest::newRow("before, top level up")
        << start << QByteArray("B") << QByteArray("A") << M::BeforeTarget << "B .d A .a .b .c"
        << "move(B,top,0)";
    QTest::newRow("before itself") << start << QByteArray("a") << QByteArray("a") << M::BeforeTarget << ""
                                   << "";
    QTest::newRow("last sibling within parent")
        << start << QByteArray("a") << QByteArray("b") << M::AsLastSibling << "A .b .c .a B .d"
        << "move(a,A,3)";
    QTest::newRow("last sibling, already last") << start << QByteArray("c") << QByteArray("a") << M::AsLastSibling << ""
                                                << "";
    QTest::newRow("last sibling of a top-level node")
        << start << QByteArray("a") << QByteArray("A") << M::AsLastSibling << "A .b .c B .d a"
        << "move(a,top,2)";
    QTest::newRow("last sibling, top level down")
        << start << QByteArray("A") << QByteArray("B") << M::AsLastSibling << "B .d A .a .b .c"
        << "move(A,top,2)";
    QTest::newRow("last child, other parent")
        << start << QByteArray("a") << QByteArray("B") << M::AsLastChild << "A .b .c B .d .a"
        << "move(a,B,1)";
    QTest::newRow("last child, own parent")
        << start << QByteArray("a") << QByteArray("A") << M::AsLastChild << "A .b .c .a B .d"
        << "move(a,A,3)";
    QTest::newRow("last child, already last") << start << QByteArray("c") << QByteArray("A") << M::AsLastChild << ""
                                              << "";
    QTest::newRow("last child of a card")
        << start << QByteArray("B") << QByteArray("b") << M::AsLastChild << "A .a .b ..B ...d .c"
        << "move(B,b,0)";
    QTest::newRow("into own subtree") << start << QByteArray("A") << QByteArray("b") << M::AsLastChild << ""
                                      << "";
    QTest::newRow("before own child") << start << QByteArray("A") << QByteArray("b") << M::BeforeTarget << ""
                                      << "";
    QTest::newRow("deep node to the top")
        << "A .B ..C D" << QByteArray("C") << QByteArray("D") << M::BeforeTarget << "A .B C D"
        << "move(C,top,1)";
    QTest::newRow("subtree travels") << "A .B ..C D" << QByteArray("B") << QByteArray("D") << M::AsLastChild
                                     << "A D .B ..C"
                                     << "move(B,D,0)";
}

void TestCardTree::moves()
{
    QFETCH(QString, start);
    QFETCH(QByteArray, node);
    QFETCH(QByteArray, target);
    QFETCH(CardTree::MoveMode, mode);
    QFETCH(QString, expected);
    QFETCH(QString, announced);

    CardTree tree;
    buildFromOutline(tree, start);
    verifyOrder(tree); // fills the order cache, which the move must invalidate
    MirrorObserver mirror(tree);
    CardNode *moving = byLabel(tree, node);
    CardNode *at = byLabel(tree, target);

    CardNode *plannedParent = nullptr;
    int plannedRow = -1;
    const bool planned = tree.movePlacement(moving, at, mode, &plannedParent, &plannedRow);
    const bool moved = tree.moveNode(moving, at, mode);
    QCOMPARE(moved, !expected.isEmpty());
    QCOMPARE(planned, moved);
    QCOMPARE(outline(tree), moved ? expected : start);
    QCOMPARE(mirror.events, announced.isEmpty() ? QStringList() : QStringList{announced});
    QVERIFY2(mirror.errors.isEmpty(), qPrintable(mirror.errors.join('\n')));
    if (moved)
        QCOMPARE(QStringLiteral("move(%1,%2,%3)")
                     .arg(QString::fromLatin1(node),
                          plannedParent ? QString::fromLatin1(plannedParent->label()) : QStringLiteral("top"))
                     .arg(plannedRow),
                 announced);
    verifyOrder(tree);
}

void TestCardTree::deletes()
{
    CardTree tree;
    buildFromOutline(tree, "A .a .B ..b .c D .d E");
    verifyOrder(tree);
    MirrorObserver mirror(tree);

    tree.deleteNode(byLabel(tree, "B"));
    QCOMPARE(outline(tree), QStringLiteral("A .a .c D .d E"));
    verifyOrder(tree);
    tree.deleteChildren(byLabel(tree, "A"));
    QCOMPARE(outline(tree), QStringLiteral("A D .d E"));
    tree.deleteChildren(byLabel(tree, "E")); // no children: nothing announced
    tree.deleteNode(byLabel(tree, "A"));
    QCOMPARE(byLabel(tree, "D")->row(), 0);
    QCOMPARE(byLabel(tree, "E")->row(), 1);
    verifyOrder(tree);
    tree.deleteNode(nullptr);
    tree.clear();
    QVERIFY(tree.isEmpty());
    QCOMPARE(tree.count(), 0);
    QCOMPARE(mirror.events, QStringList({"remove(A,1,1)", "remove(A,0,1)", "remove(top,0,0)", "reset"}));
    QVERIFY2(mirror.errors.isEmpty(), qPrintable(mirror.errors.join('\n')));
    verifyOrder(tree);
}

void TestCardTree::attributeChangesAreAnnounced()
{
    CardTree tree;
    CardNode *a = tree.addTopLevel("A", MakeCardClassRecord());
    MirrorObserver mirror(tree);
    tree.setLabel(a, "A2");
    tree.setDisplayIndex(a, DisplayIndex::Overlay, 5);
    tree.setDisplayIndexes(a, 1, 2, 3, 4);
    tree.releaseRecord(a);
    tree.releaseRecord(a); // nothing left to release: no announcement
    tree.attachRecord(a, MakeCardRecord());
    QCOMPARE(mirror.events, QStringList({"changed(A2)", "changed(A2)", "changed(A2)", "changed(A2)", "changed(A2)"}));
    QCOMPARE(a->displayIndexes(), (std::array<std::int32_t, 4>{1, 2, 3, 4}));
    QCOMPARE(a->kind(), Kind::Card);

    tree.removeObserver(&mirror);
    tree.setLabel(a, "A3");
    QCOMPARE(mirror.events.size(), 5);
    tree.addObserver(&mirror);
}

namespace {
// Counts the treeChanged calls and checks that each comes after a complete change.
struct ChangeCounter : CardTreeObserver
{
    int changes = 0;
    int open = 0;
    void nodesAboutToBeInserted(CardNode *, int, int) override { ++open; }
    void nodesInserted(CardNode *, int, int) override { --open; }
    void treeChanged() override
    {
        QCOMPARE(open, 0);
        ++changes;
    }
};
} // namespace

void TestCardTree::onlyRealChangesAreAnnounced()
{
    CardTree tree;
    CardNode *card = tree.addTopLevel("A", MakeCardRecord());
    MirrorObserver mirror(tree);
    ChangeCounter counter;
    tree.addObserver(&counter);
    const quint64 before = tree.changeCount();

    // Same values: nothing announced, nothing counted.
    QVERIFY(!tree.setLabel(card, "A"));
    QVERIFY(!tree.setDisplayIndexes(card, 0, 0, -1, -1));
    QVERIFY(!tree.setDisplayIndex(card, DisplayIndex::Image, 0));
    QVERIFY(!tree.setField(card, Field::Name, card->data()->field(Field::Name)));
    QVERIFY(!tree.setField(card, 0, "x"));
    QVERIFY(!tree.setField(card, 14, "x"));
    QVERIFY(mirror.events.isEmpty());
    QCOMPARE(tree.changeCount(), before);

    // A field is cut as the record cuts it; a longer text that cuts to the stored value is no change.
    const QByteArray long300(300, 'x');
    QVERIFY(tree.setField(card, Field::Other, long300));
    QCOMPARE(card->data()->field(Field::Other).size(), TCardData::MaxFieldBytes);
    QVERIFY(!tree.setField(card, Field::Other, long300 + "more"));
    QVERIFY(!tree.setField(card, Field::Other, QByteArray(255, 'x')));
    QVERIFY(tree.setField(card, Field::Other, QByteArray(254, 'x')));
    QVERIFY(tree.setField(card, Field::DH, "123"));
    QCOMPARE(card->data()->field(Field::DH), QByteArrayView("123"));
    QCOMPARE(mirror.events, QStringList({"changed(A)", "changed(A)", "changed(A)"}));
    QCOMPARE(counter.changes, 3);
    QCOMPARE(tree.changeCount(), before + 3);

    // Every other change counts once, after it is complete.
    CardNode *b = tree.addTopLevel("B", MakeCardClassRecord());
    tree.moveNode(card, b, CardTree::MoveMode::AsLastChild);
    tree.setLabel(card, "A2");
    tree.deleteNode(card);
    tree.releaseRecord(b);
    tree.clear();
    QCOMPARE(counter.changes, 9);
    QCOMPARE(tree.changeCount(), before + 9);
    QVERIFY2(mirror.errors.isEmpty(), qPrintable(mirror.errors.join('\n')));

    // A node without a record has no field to set.
    CardNode *bare = tree.addTopLevel("C");
    QVERIFY(!tree.setField(bare, Field::Name, "C"));
    tree.removeObserver(&counter);
}

void TestCardTree::addChildrenAnnouncesOnce()
{
    CardTree tree;
    CardNode *cls = tree.addTopLevel("K", MakeCardClassRecord());
    tree.addChild(cls, "first", MakeCardRecord());
    MirrorObserver mirror(tree);
    ChangeCounter counter;
    tree.addObserver(&counter);
    QVERIFY(!tree.addChildren(cls, {}));
    QCOMPARE(counter.changes, 0);

    std::vector<NewCardNode> made;
    for (const char *label : {"x", "y", "z"})
        made.push_back({label, MakeCardRecord()});
    CardNode *last = tree.addChildren(cls, std::move(made));
    QCOMPARE(last->label(), QByteArray("z"));
    QCOMPARE(mirror.events, QStringList({"insert(K,1,3)"}));
    QCOMPARE(counter.changes, 1);
    QCOMPARE(cls->childCount(), 4);
    for (int row = 0; row < 4; ++row) {
        QCOMPARE(cls->child(row)->row(), row);
        QCOMPARE(cls->child(row)->parent(), cls);
    }
    QCOMPARE(tree.absoluteIndexOf(last), 4);
    QVERIFY(mirror.matchesTree());
    tree.removeObserver(&counter);
}

void TestCardTree::adoptAnnouncesOnce()
{
    CardTree tree;
    tree.addTopLevel("X");
    MirrorObserver mirror(tree);
    std::vector<std::unique_ptr<CardNode>> subtrees;
    subtrees.push_back(CardTreeBuilder::makeNode("A"));
    CardNode *b = CardTreeBuilder::addChild(subtrees.back().get(), "b");
    CardTreeBuilder::addChild(b, "c");
    subtrees.push_back(nullptr);
    subtrees.push_back(CardTreeBuilder::makeNode("D"));
    // Off the tree, the built nodes know their parents already.
    QCOMPARE(b->parent(), subtrees.front().get());
    QVERIFY(!subtrees.front()->parent());
    tree.adoptTopLevel(std::move(subtrees));
    CardNode *e = tree.adoptTopLevel(CardTreeBuilder::makeNode("E"));
    QCOMPARE(outline(tree), QStringLiteral("X A .b ..c D E"));
    QCOMPARE(mirror.events, QStringList({"insert(top,1,2)", "insert(top,3,3)"}));
    QVERIFY2(mirror.errors.isEmpty(), qPrintable(mirror.errors.join('\n')));
    QCOMPARE(e->row(), 3);
    QVERIFY(!byLabel(tree, "A")->parent());
    verifyOrder(tree);
}

void TestCardTree::randomChangesKeepEverythingConsistent()
{
    CardTree tree;
    MirrorObserver mirror(tree);
    QRandomGenerator random(20240611);
    int made = 0;
    for (int step = 0; step < 1500; ++step) {
        const int count = tree.count();
        CardNode *some = count ? tree.nodeAt(int(random.bounded(count))) : nullptr;
        CardNode *other = count ? tree.nodeAt(int(random.bounded(count))) : nullptr;
        const QByteArray label = "n" + QByteArray::number(made++);
        switch (random.bounded(count < 40 ? 4 : 7)) {
        case 0:
            tree.addTopLevel(label);
            break;
        case 1:
            tree.addTopLevelFirst(label);
            break;
        case 2:
        case 3:
            tree.addChild(some, label);
            break;
        case 4:
            tree.deleteNode(some);
            break;
        case 5: {
            const auto mode = CardTree::MoveMode(random.bounded(3));
            const bool legal = some && other && !some->isAncestorOf(other);
            const bool moved = tree.moveNode(some, other, mode);
            QVERIFY(legal || !moved);
            break;
        }
        case 6:
            if (random.bounded(10) == 0)
                tree.deleteChildren(some);
            else
                tree.moveNode(some, other, CardTree::MoveMode::BeforeTarget);
            break;
        }
        if (step % 50 == 0)
            verifyOrder(tree);
        QVERIFY2(mirror.errors.isEmpty(), qPrintable(QString::number(step) + ": " + mirror.errors.join('\n')));
    }
    QVERIFY(mirror.matchesTree());
    verifyOrder(tree);
}

void TestCardTree::createDefaultTree()
{
    CardTree tree;
    buildFromOutline(tree, "A .a .b B");
    MirrorObserver mirror(tree);
    const double before = CurrentDateTimeStamp();
    CreateDefaultTree(tree);
    const double after = CurrentDateTimeStamp();

    QCOMPARE(tree.count(), 1);
    CardNode *node = tree.firstTopLevel();
    QCOMPARE(node->label(), ReservedCardClassLabel());
    QCOMPARE(node->data()->name().toByteArray(), ReservedCardClassLabel());
    QCOMPARE(node->kind(), Kind::CardClass);
    QCOMPARE(node->childCount(), 0);
    QCOMPARE(node->displayIndexes(), (std::array<std::int32_t, 4>{0, 0, -1, -1}));
    QVERIFY(node->data()->Created >= before && node->data()->Created <= after);
    for (int n = 2; n <= Field::Last; ++n)
        QVERIFY(node->data()->field(n).isEmpty());
    QVERIFY(IsReservedCardClass(node));
    QVERIFY2(mirror.errors.isEmpty(), qPrintable(mirror.errors.join('\n')));
    QVERIFY(mirror.matchesTree());
}

void TestCardTree::freeAllCardData()
{
    CardTree tree;
    buildFromOutline(tree, "A .a .B ..b C");
    FreeAllCardData(tree);
    QCOMPARE(tree.count(), 5);
    tree.forEach([](const CardNode *node) {
        QVERIFY(!node->data());
        QCOMPARE(node->kind(), -1);
        QVERIFY(!node->isCard());
        QVERIFY(!node->isCardClass());
    });
    QCOMPARE(outline(tree), QStringLiteral("A .a .B ..b C"));
}

void TestCardTree::reservedCardClass()
{
    CardTree tree;
    CardNode *exact = tree.addTopLevel(ReservedCardClassLabel(), MakeCardRecord()); // whatever its kind
    CardNode *spaced = tree.addTopLevel(ReservedCardClassLabel() + ' ', MakeCardClassRecord());
    CardNode *prefix = tree.addTopLevel(ReservedCardClassLabel().chopped(2), MakeCardClassRecord());
    QVERIFY(IsReservedCardClass(exact));
    QVERIFY(!IsReservedCardClass(spaced));
    QVERIFY(!IsReservedCardClass(prefix));
    QVERIFY(!IsReservedCardClass(nullptr));
}

void TestCardTree::deepChainWithoutRecursion()
{
    constexpr int Depth = 300000;
    auto tree = std::make_unique<CardTree>();
    CardNode *node = nullptr;
    for (int i = 0; i < Depth; ++i)
        node = tree->addChild(node, QByteArray::number(i));
    QCOMPARE(tree->count(), Depth);
    QCOMPARE(tree->nodeAt(Depth - 1), node);
    QCOMPARE(tree->lastInAbsoluteOrder(), node);
    QCOMPARE(node->depth(), Depth - 1);
    QVERIFY(tree->firstTopLevel()->isAncestorOf(node));

    // Moving the chain's second half to the top level, then deleting parts of it.
    CardNode *middle = tree->nodeAt(Depth / 2);
    QVERIFY(tree->moveNode(middle, tree->firstTopLevel(), CardTree::MoveMode::AsLastSibling));
    QCOMPARE(tree->topLevelCount(), 2);
    QCOMPARE(tree->absoluteIndexOf(middle), Depth / 2);
    tree->deleteNode(tree->nodeAt(10));
    QCOMPARE(tree->count(), Depth - (Depth / 2 - 10));
    tree->deleteChildren(middle);
    QCOMPARE(tree->count(), 11);
    node = middle;
    for (int i = 0; i < Depth; ++i)
        node = tree->addChild(node, "x");
    QCOMPARE(tree->lastInAbsoluteOrder(), node);
    QCOMPARE(tree->count(), 11 + Depth);
    tree->clear();
    QCOMPARE(tree->count(), 0);
    for (int i = 0; i < Depth; ++i)
        node = tree->addChild(i ? node : nullptr, "y");
    tree.reset(); // the destructor walks the chain without recursion
}

void TestCardTree::foreignNodesAreRefused()
{
    CardTree one;
    CardTree two;
    CardNode *a = one.addTopLevel("A");
    CardNode *b = two.addTopLevel("B");
    MirrorObserver mirrorOne(one);
    MirrorObserver mirrorTwo(two);
    QVERIFY(!one.moveNode(b, a, CardTree::MoveMode::AsLastChild));
    QVERIFY(!one.moveNode(a, b, CardTree::MoveMode::AsLastChild));
    one.deleteNode(b);
    one.deleteChildren(b);
    QCOMPARE(two.count(), 1);
    QCOMPARE(one.count(), 1);
    QVERIFY(mirrorOne.events.isEmpty());
    QVERIFY(mirrorTwo.events.isEmpty());
    QCOMPARE(one.absoluteIndexOf(b), -1);
}

void TestCardTree::typicalCardCostsAtMost320Bytes()
{
#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__)
    const QByteArray name = gb18030::encode(QStringLiteral("王小明"));
    const QByteArray title = gb18030::encode(QStringLiteral("销售经理"));
    const QByteArray company = gb18030::encode(QStringLiteral("北京某某科技有限公司"));
    constexpr int Cards = 20000;
    auto tree = std::make_unique<CardTree>();
    CardNode *cardClass = tree->addTopLevel("class", MakeCardClassRecord());
    const size_t before = mallinfo2().uordblks;
    for (int i = 0; i < Cards; ++i) {
        auto record = MakeCardRecord();
        record->setField(Field::Name, name);
        record->setField(Field::TouXian, title);
        record->setField(Field::DW, company);
        record->setField(Field::DH, "010-12345678");
        record->setField(Field::SJ, "13912345678");
        record->setField(Field::EMail, "wang.xiaoming@example.com");
        CardNode *card = tree->addChild(cardClass, name, std::move(record));
        tree->setDisplayIndexes(card, 1, 1, 1, 1);
    }
    QCOMPARE(tree->count(), Cards + 1); // the order cache counts too
    const size_t perCard = (mallinfo2().uordblks - before) / Cards;
    qInfo("heap per typical card with its node: %zu bytes", perCard);
    // About 80 bytes of text; node, record and text buffer are one heap
    // allocation each.
    QVERIFY2(perCard <= 320, qPrintable(QString::number(perCard)));
#else
    QSKIP("needs the GNU C library's heap statistics (and its allocator)");
#endif
}

QTEST_GUILESS_MAIN(TestCardTree)
#include "tst_cardtree.moc"
