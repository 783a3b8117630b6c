// Nodes made in bulk (CardTreeBuilder on a tree): they hold what they were
// given, edits and deletes keep their meaning, and memory is given back.
#include "CardArena.h"
#include "CardRecords.h"
#include "CardTree.h"
#include "MirrorObserver.h"
#include "StoreTestUtil.h"

#include "DataFileFormat.h"
#include "Gb18030.h"

#include <QFile>
#include <QTest>

#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

using namespace kelvo;
using namespace kelvo::test;

namespace {

// The views point into `name` and `phone`, which must outlive the contents.
CardTreeBuilder::NodeContents contents(QByteArrayView name, std::int32_t kind, QByteArrayView phone = {})
{
    CardTreeBuilder::NodeContents c;
    c.label = name;
    c.fields[0] = name;
    c.fields[Field::DH - 1] = phone;
    c.kind = kind;
    c.indexes.fill(kind);
    return c;
}

// A class holding `cards` cards, all made in bulk and adopted at once.
CardNode *bulkClass(CardTree &tree, const QByteArray &label, int cards)
{
    CardTreeBuilder builder(tree);
    std::unique_ptr<CardNode> top = builder.makeBulkNode(contents(label, Kind::CardClass));
    for (int i = 0; i < cards; ++i) {
        const QByteArray name = label + '-' + QByteArray::number(i);
        builder.addBulkChild(top.get(), contents(name, Kind::Card, "010-" + QByteArray::number(i)));
    }
    return tree.adoptTopLevel(std::move(top));
}

// The heap in use, or -1 where it cannot be told (AddressSanitizer keeps its
// own heap, which glibc's counters do not see).
qsizetype heapInUse()
{
#if defined(__SANITIZE_ADDRESS__)
    return -1;
#elif defined(__GLIBC__)
    const struct mallinfo2 info = mallinfo2();
    return qsizetype(info.uordblks + info.hblkhd);
#else
    return -1;
#endif
}

// What a card made in bulk may cost beyond its texts: node (48 bytes),
// record (40), its place among its siblings (8, and up to half as much in
// reserve) and the arena's alignment. One allocation per node or per text
// (at least 16 bytes of heap bookkeeping each) breaks it, and so does a
// node grown by a pointer and a half.
constexpr double MaxBytesBeyondText = 108;

} // namespace

class TestCardTreeBulk : public QObject
{
    Q_OBJECT

private slots:
    void bulkNodesHoldTheirContents();
    void labelAndNameStayIndependentThroughEdits();
    void recordsAreReleasedAndReplaced();
    void deletesAndMovesMixBulkAndSingleNodes();
    void clearGivesTheArenaBack();
    void arenaPiecesOfEverySizeStayApart();
    void loadsOneAfterAnotherKeepEveryPiece();
    void aBuilderAtWorkKeepsTheArenaThroughAClear();
    void labelCopiesOutliveTheirNodeInTheTree();
    void displayIndexesOfAnySizeSurviveLabelChanges();
    void deepBulkChainWithoutRecursion();
    void addAndDeleteSessionDoesNotGrow();
    void bulkCardCostsLittleBeyondItsText();
};

void TestCardTreeBulk::bulkNodesHoldTheirContents()
{
    CardTree tree;
    MirrorObserver mirror(tree);
    CardTreeBuilder builder(tree);
    const QByteArray chinese = gb18030::encode(QStringLiteral("王小明"));
    CardTreeBuilder::NodeContents c;
    c.label = chinese;
    QList<QByteArray> texts;
    for (int n = Field::First; n <= Field::Last; ++n)
        texts << (n == Field::Name ? chinese : "f" + QByteArray::number(n));
    for (int n = Field::First; n <= Field::Last; ++n)
        c.fields[size_t(n - 1)] = texts[n - 1];
    // A text longer than a field holds, ending inside a two-byte character.
    const QByteArray tooLong = QByteArray(254, 'x') + gb18030::encode(QStringLiteral("名"));
    c.fields[Field::Other - 1] = tooLong;
    c.kind = 7;
    c.created = 45678.25;
    c.indexes = {1, 2, 3, 4};

    std::unique_ptr<CardNode> top = builder.makeBulkNode(contents("class", Kind::CardClass));
    CardNode *card = builder.addBulkChild(top.get(), c);
    CardTreeBuilder::NodeContents renamed = contents("name", Kind::CardClass);
    renamed.label = "a label that differs";
    CardNode *other = builder.addBulkChild(top.get(), renamed);
    QVERIFY(!builder.addBulkChild(nullptr, c));
    QVERIFY(mirror.events.isEmpty()); // nothing is announced before adoption
    tree.adoptTopLevel(std::move(top));
    QCOMPARE(mirror.events.size(), 1); // one announcement for the whole subtree
    QVERIFY(mirror.events.first().startsWith(QStringLiteral("insert(")));

    QCOMPARE(tree.count(), 3);
    QCOMPARE(card->parent(), tree.firstTopLevel());
    QCOMPARE(card->row(), 0);
    QCOMPARE(other->row(), 1);
    QCOMPARE(card->label(), chinese);
    QCOMPARE(card->data()->name().toByteArray(), chinese);
    for (int n = Field::TouXian; n < Field::Other; ++n)
        QCOMPARE(card->data()->field(n).toByteArray(), "f" + QByteArray::number(n));
    QCOMPARE(card->data()->field(Field::Other).toByteArray(), QByteArray(254, 'x')); // cut before the character
    QCOMPARE(card->kind(), 7);
    QCOMPARE(card->data()->Created, 45678.25);
    QCOMPARE(card->displayIndexes(), (std::array<std::int32_t, 4>{1, 2, 3, 4}));
    // A label equal to the name is the name's bytes; another has its own.
    QCOMPARE(card->label().data(), card->data()->name().data());
    QCOMPARE(other->label(), QByteArray("a label that differs"));
    QCOMPARE(other->data()->name().toByteArray(), QByteArray("name"));
    QVERIFY(tree.bulkBytes() > 0);
}

void TestCardTreeBulk::labelAndNameStayIndependentThroughEdits()
{
    CardTree tree;
    CardNode *cardClass = bulkClass(tree, "abc", 3);
    CardNode *card = cardClass->child(1);
    QCOMPARE(card->label(), QByteArray("abc-1"));

    // The name changes to a text of the same length: the label must not follow.
    QVERIFY(tree.setField(card, Field::Name, "xyz-9"));
    QCOMPARE(card->data()->name().toByteArray(), QByteArray("xyz-9"));
    QCOMPARE(card->label(), QByteArray("abc-1"));
    QCOMPARE(card->data()->field(Field::DH).toByteArray(), QByteArray("010-1"));
    // Same length again, now in the record's own buffer.
    QVERIFY(tree.setField(card, Field::DH, "020-2"));
    QCOMPARE(card->data()->field(Field::DH).toByteArray(), QByteArray("020-2"));
    QCOMPARE(card->data()->name().toByteArray(), QByteArray("xyz-9"));

    // The label changes: the record keeps its name.
    CardNode *second = cardClass->child(2);
    QVERIFY(tree.setLabel(second, "new"));
    QCOMPARE(second->label(), QByteArray("new"));
    QCOMPARE(second->data()->name().toByteArray(), QByteArray("abc-2"));
    QVERIFY(!tree.setField(second, Field::Name, "abc-2")); // unchanged
    QCOMPARE(cardClass->child(0)->label(), QByteArray("abc-0"));
}

void TestCardTreeBulk::recordsAreReleasedAndReplaced()
{
    CardTree tree;
    CardNode *cardClass = bulkClass(tree, "r", 4);
    tree.setField(cardClass->child(0), Field::Other, "edited before the release");
    FreeAllCardData(tree);
    tree.forEach([](const CardNode *node) {
        QVERIFY(!node->data());
        QCOMPARE(node->kind(), -1);
    });
    // Labels stay readable after the records went.
    QCOMPARE(cardClass->child(3)->label(), QByteArray("r-3"));

    tree.attachRecord(cardClass->child(3), MakeCardRecord());
    QCOMPARE(cardClass->child(3)->kind(), Kind::Card);
    QCOMPARE(cardClass->child(3)->data()->name().toByteArray(), NewCardLabel());
    QVERIFY(!tree.setField(cardClass->child(2), Field::Name, "no record"));
}

void TestCardTreeBulk::deletesAndMovesMixBulkAndSingleNodes()
{
    CardTree tree;
    CardNode *a = bulkClass(tree, "a", 5);
    CardNode *b = bulkClass(tree, "b", 5);
    // Single nodes below bulk ones and the other way round.
    CardNode *single = tree.addChild(a->child(2), "single", MakeCardClassRecord());
    tree.addChild(single, "leaf", MakeCardRecord());
    QVERIFY(tree.moveNode(b->child(0), single, CardTree::MoveMode::AsLastChild));
    QCOMPARE(single->childCount(), 2);
    QCOMPARE(single->child(1)->label(), QByteArray("b-0"));

    tree.deleteNode(a->child(2)); // a bulk node holding single and bulk nodes
    QCOMPARE(a->childCount(), 4);
    QCOMPARE(a->child(2)->label(), QByteArray("a-3"));
    QCOMPARE(a->child(2)->row(), 2);
    tree.deleteChildren(b);
    QCOMPARE(b->childCount(), 0);
    QCOMPARE(tree.count(), 1 + 4 + 1);
    tree.addChild(b, "after", MakeCardRecord());
    QCOMPARE(outline(tree), QStringLiteral("a .a-0 .a-1 .a-3 .a-4 b .after"));
    tree.deleteNode(a);
    QCOMPARE(outline(tree), QStringLiteral("b .after"));
}

void TestCardTreeBulk::clearGivesTheArenaBack()
{
    CardTree tree;
    bulkClass(tree, "c", 1000);
    QVERIFY(tree.bulkBytes() > 1000 * sizeof(CardNode));
    const qsizetype loaded = heapInUse();
    tree.clear();
    QCOMPARE(tree.bulkBytes(), size_t(0));
    QCOMPARE(tree.count(), 0);
    if (loaded >= 0)
        QVERIFY2(heapInUse() < loaded - qsizetype(1000 * sizeof(CardNode)), "the cleared tree kept its memory");
    // Loads after a clear work as before.
    bulkClass(tree, "d", 2);
    QCOMPARE(outline(tree), QStringLiteral("d .d-0 .d-1"));
}

// Small pieces, pieces that fill the large blocks (which come straight from
// the system, on large-page boundaries) and one larger than any block: each
// aligned, inside the arena, and none overlapping another.
void TestCardTreeBulk::arenaPiecesOfEverySizeStayApart()
{
    CardArena arena;
    const std::size_t sizes[] = {1, 7, 24, 300, 5000, 70000, std::size_t(3) << 20, std::size_t(9) << 20 | 3, 40};
    std::vector<std::pair<unsigned char *, std::size_t>> pieces;
    std::size_t total = 0;
    for (int round = 0; round < 40; ++round) {
        for (const std::size_t size : sizes) {
            auto *piece = static_cast<unsigned char *>(arena.allocate(size));
            QCOMPARE(reinterpret_cast<std::uintptr_t>(piece) % CardArena::Alignment, std::uintptr_t(0));
            QVERIFY(arena.owns(piece) && arena.owns(piece + size - 1));
            std::memset(piece, static_cast<int>(pieces.size() % 251), size);
            pieces.emplace_back(piece, size);
            total += size;
        }
    }
    QVERIFY(arena.reservedBytes() >= total);
    QVERIFY(!arena.owns(&total));
    for (size_t i = 0; i < pieces.size(); ++i) {
        const auto [piece, size] = pieces[i];
        const auto expected = static_cast<unsigned char>(i % 251);
        QVERIFY2(piece[0] == expected && piece[size / 2] == expected && piece[size - 1] == expected,
                 qPrintable(QStringLiteral("piece %1 was overwritten").arg(i)));
    }
}

void TestCardTreeBulk::loadsOneAfterAnotherKeepEveryPiece()
{
    // Each builder gives back the reserve beyond its last piece when it is
    // done; the next one cuts its pieces from there again. Nothing either
    // wrote may be lost, on the large blocks as on the small ones.
    CardTree tree;
    std::vector<CardNode *> classes;
    constexpr int Cards = 30000; // several megabytes of nodes and texts
    for (int load = 0; load < 3; ++load) {
        CardTreeBuilder builder(tree);
        const QByteArray classLabel = "load" + QByteArray::number(load);
        std::unique_ptr<CardNode> top = builder.makeBulkNode(contents(classLabel, Kind::CardClass));
        for (int i = 0; i < Cards; ++i) {
            const QByteArray name = QByteArray::number(load) + '-' + QByteArray::number(i);
            const QByteArray phone = "tel" + QByteArray::number(i);
            CardTreeBuilder::NodeContents c = contents(name, Kind::Card, phone);
            c.indexes = {i, -i, 1, load};
            builder.addBulkChild(top.get(), c);
        }
        classes.push_back(tree.adoptTopLevel(std::move(top)));
    }
    for (int load = 0; load < 3; ++load) {
        const CardNode *cardClass = classes[size_t(load)];
        QCOMPARE(cardClass->childCount(), Cards);
        for (int i = 0; i < Cards; ++i) {
            const CardNode *card = cardClass->child(i);
            const QByteArray name = QByteArray::number(load) + '-' + QByteArray::number(i);
            QCOMPARE(card->label(), name);
            QCOMPARE(card->data()->name(), name);
            QCOMPARE(card->data()->field(Field::DH), "tel" + QByteArray::number(i));
            QCOMPARE(card->displayIndexes(), (std::array<std::int32_t, 4>{i, -i, 1, load}));
        }
    }
}

void TestCardTreeBulk::aBuilderAtWorkKeepsTheArenaThroughAClear()
{
    // A load pumps events between top-level nodes; a command may clear the
    // tree meanwhile. The subtree already built must stay intact.
    CardTree tree;
    bulkClass(tree, "old", 3);
    CardTreeBuilder builder(tree);
    std::unique_ptr<CardNode> pending = builder.makeBulkNode(contents("pending", Kind::CardClass));
    builder.addBulkChild(pending.get(), contents("child", Kind::Card));
    tree.clear();
    QVERIFY(tree.bulkBytes() > 0);
    QCOMPARE(pending->child(0)->label(), QByteArray("child"));
    tree.adoptTopLevel(std::move(pending));
    QCOMPARE(outline(tree), QStringLiteral("pending .child"));
}

void TestCardTreeBulk::labelCopiesOutliveTheirNodeInTheTree()
{
    // Labels handed from arena nodes to nodes of another tree are copied: the
    // source tree, arena and all, may go first (AddressSanitizer would see a
    // read of its memory).
    auto source = std::make_unique<CardTree>();
    CardNode *cardClass = bulkClass(*source, "copy", 2);
    CardTree tree;
    CardNode *target = tree.addTopLevel("target", MakeCardClassRecord());
    QVERIFY(tree.setLabel(target, cardClass->child(0)->label()));
    CardNode *added = tree.addChild(target, cardClass->child(1)->label(), MakeCardRecord());
    CardNode *renamed = tree.addChild(target, "x", MakeCardRecord());
    CardTreeBuilder::setLabel(renamed, cardClass->label());
    source.reset();
    CardTreeBuilder::setLabel(target, target->label()); // a copy of its own label
    QCOMPARE(target->label(), QByteArray("copy-0"));
    QCOMPARE(added->label(), QByteArray("copy-1"));
    QCOMPARE(renamed->label(), QByteArray("copy"));
}

void TestCardTreeBulk::displayIndexesOfAnySizeSurviveLabelChanges()
{
    // Indexes that fit a byte are kept in the node, others before the label's
    // bytes: every change of either must keep the other, for nodes made one
    // by one and in bulk, and the data file must keep them all.
    using Indexes = std::array<std::int32_t, 4>;
    const std::vector<Indexes> steps = {
        {0, 0, -1, -1},
        {-128, 127, 5, -5},
        {128, -129, std::numeric_limits<std::int32_t>::max(), std::numeric_limits<std::int32_t>::min()},
        {1, 1, 1, 1},
    };
    const std::vector<QByteArray> labels = {"", "短", QByteArray(300, 'L'), "", "x"};
    CardTree tree;
    CardNode *single = tree.addTopLevel("single", MakeCardClassRecord());
    CardNode *bulk = nullptr;
    CardNode *bulkWide = nullptr;
    {
        CardTreeBuilder builder(tree);
        CardTreeBuilder::NodeContents wide = contents("wide", Kind::CardClass);
        wide.indexes = steps[2];
        std::unique_ptr<CardNode> top = builder.makeBulkNode(contents("bulk", Kind::CardClass));
        bulkWide = builder.addBulkChild(top.get(), wide);
        bulk = tree.adoptTopLevel(std::move(top));
    }
    QCOMPARE(bulkWide->displayIndexes(), steps[2]);
    QCOMPARE(bulkWide->label(), QByteArray("wide"));
    QCOMPARE(bulkWide->data()->name().toByteArray(), QByteArray("wide"));

    for (CardNode *node : {single, bulk, bulkWide}) {
        for (const Indexes &indexes : steps) {
            for (const QByteArray &label : labels) {
                tree.setDisplayIndexes(node, indexes[0], indexes[1], indexes[2], indexes[3]);
                tree.setLabel(node, label);
                QCOMPARE(node->displayIndexes(), indexes);
                QCOMPARE(node->label(), label);
                // One index at a time, across the byte's range and back.
                tree.setDisplayIndex(node, DisplayIndex::Overlay, 1000);
                QCOMPARE(node->overlayIndex(), 1000);
                QCOMPARE(node->imageIndex(), indexes[0]);
                tree.setDisplayIndex(node, DisplayIndex::Overlay, indexes[2]);
                QCOMPARE(node->displayIndexes(), indexes);
                QCOMPARE(node->label(), label);
            }
        }
    }
    tree.setDisplayIndexes(bulk, 7, 300, -7, -300);
    const QByteArray bytes = SerializeTree(tree);
    CardTree read;
    ReadOptions keep;
    keep.keepStoredDisplayIndexes = true;
    QVERIFY(ReadTreeFromBytes(bytes, read, NoProgress(), keep).ok());
    QCOMPARE(read.count(), tree.count());
    for (int i = 0; i < tree.count(); ++i) {
        QCOMPARE(read.nodeAt(i)->label(), tree.nodeAt(i)->label());
        QCOMPARE(read.nodeAt(i)->displayIndexes(), tree.nodeAt(i)->displayIndexes());
    }
    QCOMPARE(read.firstTopLevel()->displayIndexes(), (Indexes{1, 1, 1, 1}));
    QCOMPARE(read.topLevel(1)->displayIndexes(), (Indexes{7, 300, -7, -300}));
    QCOMPARE(SerializeTree(read), bytes);
}

void TestCardTreeBulk::deepBulkChainWithoutRecursion()
{
    constexpr int Depth = 1000000;
    auto tree = std::make_unique<CardTree>();
    {
        CardTreeBuilder builder(*tree);
        std::unique_ptr<CardNode> top = builder.makeBulkNode(contents("0", Kind::CardClass));
        CardNode *node = top.get();
        for (int i = 1; i < Depth; ++i)
            node = builder.addBulkChild(node, contents("n", Kind::CardClass));
        tree->adoptTopLevel(std::move(top));
        QCOMPARE(tree->count(), Depth);
        QCOMPARE(tree->lastInAbsoluteOrder(), node);
        QCOMPARE(node->depth(), Depth - 1);
        // Half of the chain deleted, the rest destroyed with the tree.
        tree->deleteNode(tree->nodeAt(Depth / 2));
        QCOMPARE(tree->count(), Depth / 2);
        // A subtree that is never adopted goes with its builder's tree too.
        std::unique_ptr<CardNode> dropped = builder.makeBulkNode(contents("x", Kind::CardClass));
        builder.addBulkChild(dropped.get(), contents("y", Kind::Card));
    }
    tree.reset();
}

void TestCardTreeBulk::addAndDeleteSessionDoesNotGrow()
{
    if (heapInUse() < 0)
        QSKIP("needs the GNU C library's heap statistics");
    CardTree tree;
    CardNode *loaded = bulkClass(tree, "loaded", 2000);
    const size_t bulk = tree.bulkBytes();
    const auto oneRound = [&] {
        for (int i = 0; i < 200; ++i) {
            CardNode *card = tree.addChild(loaded, NewCardLabel(), MakeCardRecord());
            tree.setField(card, Field::DW, "company");
            tree.setLabel(card, "named");
        }
        for (int i = 0; i < 200; ++i)
            tree.deleteNode(loaded->lastChild());
        // Bulk nodes edited and deleted too.
        tree.setField(loaded->child(0), Field::Other, "note");
        tree.deleteNode(loaded->child(1));
        QCOMPARE(tree.count(), loaded->childCount() + 1);
    };
    oneRound();
    const qsizetype afterOne = heapInUse();
    for (int round = 0; round < 500; ++round)
        oneRound();
    QCOMPARE(tree.bulkBytes(), bulk); // single adds never take arena memory
    QVERIFY2(heapInUse() <= afterOne + 64 * 1024,
             qPrintable(QStringLiteral("%1 -> %2 bytes").arg(afterOne).arg(heapInUse())));
}

void TestCardTreeBulk::bulkCardCostsLittleBeyondItsText()
{
    // The generated card's shape: a Chinese name, title, company and address,
    // numbers, web site, QQ, MSN, e-mail and a note (about 140 bytes of text).
    const QByteArray name = gb18030::encode(QStringLiteral("王小明"));
    const QByteArray title = gb18030::encode(QStringLiteral("销售经理"));
    const QByteArray company = gb18030::encode(QStringLiteral("北京某某科技有限公司"));
    const QByteArray address = gb18030::encode(QStringLiteral("北京市海淀区中关村大街1号"));
    CardTreeBuilder::NodeContents c = contents(name, Kind::Card);
    c.fields = {name,          title,          company,
                address,       "010-12345678", "010-12345679",
                "13912345678", "100080",       "www.example.com.cn",
                "123456789",   "wang@msn.com", "wang.xiaoming@example.com",
                "VIP"};
    qsizetype text = 0;
    for (QByteArrayView field : c.fields)
        text += field.size();

    // Enough cards that what the arena holds in reserve (up to a large page
    // per kind of piece) does not count per card.
    constexpr int Cards = 400000;
#if defined(__SANITIZE_ADDRESS__)
    QSKIP("AddressSanitizer's shadow memory is resident too");
#endif
    auto tree = std::make_unique<CardTree>();
#if defined(__GLIBC__)
    malloc_trim(0); // free memory of earlier tests must not be counted as reused
#endif
    const qsizetype before = residentBytes();
    if (before < 0)
        QSKIP("needs /proc/self/status");
    {
        CardTreeBuilder builder(*tree);
        std::unique_ptr<CardNode> top = builder.makeBulkNode(contents("class", Kind::CardClass));
        for (int i = 0; i < Cards; ++i)
            builder.addBulkChild(top.get(), c);
        tree->adoptTopLevel(std::move(top));
    }
    // As a load leaves it, before anything asks for the absolute order.
    const double perCard = double(residentBytes() - before) / Cards;
    qInfo("bulk card with %lld bytes of text: %.1f bytes with its node", static_cast<long long>(text), perCard);
    QVERIFY2(perCard <= double(text) + MaxBytesBeyondText, qPrintable(QString::number(perCard)));
    QCOMPARE(tree->count(), Cards + 1);
}

QTEST_GUILESS_MAIN(TestCardTreeBulk)
#include "tst_cardtreebulk.moc"
