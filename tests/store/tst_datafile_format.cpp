#include "CardRecords.h"
#include "CardTree.h"
#include "DataFile.h"
#include "DataFileBytes.h"
#include "MirrorObserver.h"
#include "StoreTestUtil.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTest>

#include <limits>

using namespace kelvo;
using namespace kelvo::test;

namespace {

constexpr double SampleCreated = 46000.5;

QByteArray fixture(const QString &name)
{
    QFile file(QStringLiteral(KELVO_TEST_DATA_DIR "/store/") + name);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing fixture %s", qPrintable(name));
    return file.readAll();
}

// Offsets of the filler bytes in a stored file (a fixture) whose records all
// have the written shape: thirteen text items, then seven fixed items.
QList<int> fillerOffsets(const QByteArray &file)
{
    QList<int> offsets;
    int pos = 4;
    while (pos + 4 <= file.size()) {
        for (int item = 0; item < 13; ++item) {
            const int length = quint8(file[pos + 4]);
            offsets << pos + 4 + 1 + length;
            pos += 4 + length + 2;
        }
        pos += 5 * 8 + 12 + 8;
    }
    return offsets;
}

QByteArray maskFillers(QByteArray file, const QList<int> &offsets)
{
    for (int offset : offsets) {
        if (offset < file.size())
            file[offset] = '\0';
    }
    return file;
}

LoadResult read(const QByteArray &bytes, CardTree &tree, ReadOptions options = {})
{
    return ReadTreeFromBytes(bytes, tree, NoProgress(), options);
}

QByteArray serialize(const CardTree &tree)
{
    return SerializeTree(tree);
}

} // namespace

class TestDataFileFormat : public QObject
{
    Q_OBJECT

private slots:
    void writesSampleFiles();
    void readsSampleFiles();
    void emptyTree();
    void acceptance_data();
    void acceptance();
    void truncatedAtEveryOffset();
    void writtenTextIsTrimmedAndCut_data();
    void writtenTextIsTrimmedAndCut();
    void roundTrip();
    void storedDisplayIndexesOnRequest();
    void appendsAfterExistingNodes();
    void craftedCountsFailWithoutAllocating();
    void deepChain();
    void saveProgressSequence();
    void loadProgressSequence();
    void treeChangedDuringSerialization();
    void nodeWithoutRecord();
};

void TestDataFileFormat::writesSampleFiles()
{
    CardTree tree;
    CreateDefaultTree(tree);
    auto dated = std::make_unique<TCardData>(*tree.firstTopLevel()->data());
    dated->Created = SampleCreated;
    tree.attachRecord(tree.firstTopLevel(), std::move(dated));
    const QByteArray expected154 = fixture(QStringLiteral("default-tree.db"));
    QCOMPARE(expected154.size(), 154);
    const QByteArray written154 = serialize(tree);
    QCOMPARE(written154.size(), 154);
    const QList<int> fillers154 = fillerOffsets(expected154);
    QCOMPARE(fillers154.size(), 13);
    QCOMPARE(fillers154.first(), 21);
    QCOMPARE(maskFillers(written154, fillers154).toHex(' '), maskFillers(expected154, fillers154).toHex(' '));

    CardNode *card = tree.addChild(tree.firstTopLevel(), NewCardLabel(), MakeCardRecord());
    tree.setDisplayIndexes(card, 1, 1, 1, 1);
    const QByteArray expected300 = fixture(QStringLiteral("default-tree-with-card.db"));
    const QByteArray written300 = serialize(tree);
    QCOMPARE(written300.size(), 300);
    const QList<int> fillers300 = fillerOffsets(expected300);
    QCOMPARE(maskFillers(written300, fillers300).toHex(' '), maskFillers(expected300, fillers300).toHex(' '));
}

void TestDataFileFormat::readsSampleFiles()
{
    CardTree tree;
    LoadResult result = read(fixture(QStringLiteral("default-tree.db")), tree);
    QCOMPARE(result.status, LoadResult::Status::Read);
    QCOMPARE(tree.count(), 1);
    CardNode *node = tree.firstTopLevel();
    QVERIFY(IsReservedCardClass(node));
    QCOMPARE(node->data()->name().toByteArray(), ReservedCardClassLabel());
    QCOMPARE(node->kind(), Kind::CardClass);
    QCOMPARE(node->displayIndexes(), (std::array<std::int32_t, 4>{0, 0, 0, 0}));
    QCOMPARE(node->data()->Created, SampleCreated);

    CardTree withCard;
    result = read(fixture(QStringLiteral("default-tree-with-card.db")), withCard);
    QCOMPARE(result.status, LoadResult::Status::Read);
    QCOMPARE(withCard.count(), 2);
    CardNode *card = withCard.nodeAt(1);
    QCOMPARE(card->parent(), withCard.firstTopLevel());
    QCOMPARE(card->label(), NewCardLabel());
    QCOMPARE(card->data()->name().toByteArray(), NewCardLabel());
    QCOMPARE(card->kind(), Kind::Card);
    QCOMPARE(card->displayIndexes(), (std::array<std::int32_t, 4>{1, 1, 1, 1}));
    QCOMPARE(card->data()->Created, 0.0);
}

void TestDataFileFormat::emptyTree()
{
    CardTree tree;
    QCOMPARE(serialize(tree), QByteArray(4, '\0'));
    const LoadResult result = read(QByteArray(4, '\0'), tree);
    QCOMPARE(result.status, LoadResult::Status::Read);
    QVERIFY(tree.isEmpty());
    // No bytes at all: no nodes either (defaults are the load's business).
    QCOMPARE(read(QByteArray(), tree).status, LoadResult::Status::Read);
    QVERIFY(tree.isEmpty());
}

void TestDataFileFormat::acceptance_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("outline"); // nodes in the tree afterwards
    QTest::addColumn<int>("offset");      // where a damaged read stopped; -1 when read

    const auto fields = [](DataFileBytes &b, int from) {
        for (int i = from; i < 12; ++i)
            b.text("");
    };
    const auto tail = [](DataFileBytes &b, qint32 children = 0) {
        for (int i = 0; i < 4; ++i)
            b.intItem(0);
        b.intItem(children).dateItem(0).intItem(0);
    };

    {
        DataFileBytes b;
        b.int32(1).text("A", 2); // L + 1: no filler byte
        fields(b, 0);
        tail(b);
        QTest::newRow("text item without filler") << b.bytes() << true << "A" << -1;
    }
    {
        DataFileBytes b;
        b.int32(1).text(QByteArray(255, 'A'), 257);
        fields(b, 0);
        tail(b);
        QTest::newRow("text item of 257") << b.bytes() << true << QString(255, QLatin1Char('A')) << -1;
    }
    {
        DataFileBytes b;
        b.int32(1).text("A", 40); // longer payload than needed: the rest is skipped
        fields(b, 0);
        tail(b);
        QTest::newRow("text item with padding") << b.bytes() << true << "A" << -1;
    }
    {
        DataFileBytes b;
        b.int32(1).text(QByteArray(255, 'A'), 258);
        fields(b, 0);
        tail(b);
        QTest::newRow("text item of 258") << b.bytes() << false << "" << 4;
    }
    {
        DataFileBytes b;
        b.int32(1).text("ABC", 3); // shorter than 1 + L
        fields(b, 0);
        tail(b);
        QTest::newRow("text item shorter than its text") << b.bytes() << false << "" << 4;
    }
    {
        DataFileBytes b;
        b.int32(1).text("", 0, 0);
        fields(b, 0);
        tail(b);
        QTest::newRow("text item of 0") << b.bytes() << false << "" << 4;
    }
    {
        DataFileBytes b;
        b.int32(1).text("", -2, 0);
        fields(b, 0);
        tail(b);
        QTest::newRow("negative length") << b.bytes() << false << "" << 4;
    }
    {
        DataFileBytes b;
        b.int32(1).text("A").text("x", 1 << 30, 3);
        QTest::newRow("item running past the end") << b.bytes() << false << "" << 4 + 7;
    }
    for (int item = 14; item <= 20; ++item) {
        for (int wrong : {0, 3, 5, 8, -4}) {
            if (item == 19 && wrong == 8)
                continue;
            DataFileBytes b;
            b.int32(1).text("A");
            fields(b, 0);
            for (int i = 14; i <= 20; ++i) {
                const qint32 natural = i == 19 ? 8 : 4;
                const qint32 prefix = i == item ? (item == 19 && wrong == 4 ? 4 : wrong) : natural;
                if (i == 19 && prefix == 8)
                    b.dateItem(0);
                else
                    b.int32(prefix).raw(QByteArray(qMax(prefix, 0), '\0'));
            }
            const int offset = 4 + 7 + 12 * 6 + (item - 14) * 8 + (item == 20 ? 4 : 0);
            QTest::addRow("item %d of length %d", item, wrong) << b.bytes() << false << "" << offset;
        }
    }
    {
        DataFileBytes b;
        b.int32(2).record("A", 0, 0).record("B", 0, 0).raw("trailing junk that is never read");
        QTest::newRow("bytes after the last record") << b.bytes() << true << "A B" << -1;
    }
    {
        DataFileBytes b;
        b.int32(0).record("A", 0, 0);
        QTest::newRow("top-level count 0") << b.bytes() << true << "" << -1;
    }
    {
        DataFileBytes b;
        b.int32(-3).record("A", 0, 0);
        QTest::newRow("negative top-level count") << b.bytes() << true << "" << -1;
    }
    {
        DataFileBytes b;
        b.int32(1).record("A", -7, 0).record("B", 0, 0);
        QTest::newRow("negative child count") << b.bytes() << true << "A" << -1;
    }
    {
        DataFileBytes b;
        b.int32(2).record("A", 0, 0);
        QTest::newRow("fewer top-level nodes than counted") << b.bytes() << false << "A" << 4 + 139;
    }
    {
        DataFileBytes b;
        b.int32(1).record("A", 3, 0).record("b", 0, 1).record("C", 1, 0);
        QTest::newRow("fewer children than counted") << b.bytes() << false << "A .b .C" << 4 + 3 * 139;
    }
    {
        DataFileBytes b;
        b.int32(1).text("AB", 4, 3); // ends inside the payload
        QTest::newRow("ends inside a text item") << b.bytes() << false << "" << 4;
    }
    {
        QTest::newRow("three bytes") << QByteArray("\x01\x00\x00", 3) << false << "" << 0;
    }
}

void TestDataFileFormat::acceptance()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, ok);
    QFETCH(QString, outline);
    QFETCH(int, offset);

    CardTree tree;
    const LoadResult result = read(bytes, tree);
    QCOMPARE(result.ok(), ok);
    QCOMPARE(result.status, ok ? LoadResult::Status::Read : LoadResult::Status::Damaged);
    QCOMPARE(test::outline(tree), outline);
    if (!ok) {
        QCOMPARE(result.offset, qint64(offset));
        QCOMPARE(result.error.code, ErrorCode::DataDamaged);
        QVERIFY(!result.error.text.isEmpty());
    }
}

void TestDataFileFormat::truncatedAtEveryOffset()
{
    CardTree original;
    buildFromOutline(original, "A .b .C ..d E");
    original.setField(original.nodeAt(1), Field::EMail, "b@example.com");
    const QByteArray bytes = serialize(original);

    // End offset of each record, in absolute order.
    QList<int> recordEnds;
    {
        QByteArray prefix(4, '\0');
        for (int i = 0; i < original.count(); ++i) {
            WriteNodeData(prefix, *original.nodeAt(i));
            recordEnds << int(prefix.size());
        }
        QCOMPARE(prefix.size(), bytes.size());
    }
    const QStringList full = outline(original).split(QLatin1Char(' '));

    for (int length = 1; length < bytes.size(); ++length) {
        CardTree tree;
        const LoadResult result = read(bytes.left(length), tree);
        QVERIFY2(result.status == LoadResult::Status::Damaged, qPrintable(QString::number(length)));
        QVERIFY(result.offset >= 0 && result.offset <= length);
        // Every record that lies wholly before the cut stays, in order.
        const int complete =
            int(std::count_if(recordEnds.begin(), recordEnds.end(), [length](int end) { return end <= length; }));
        QCOMPARE(tree.count(), complete);
        QCOMPARE(outline(tree), QStringList(full.mid(0, complete)).join(QLatin1Char(' ')));
    }
}

void TestDataFileFormat::writtenTextIsTrimmedAndCut_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QByteArray>("storedField"); // when the field's own cut differs from the label's

    const QByteArray zhong("\xD6\xD0");
    QTest::newRow("outer blanks and controls")
        << QByteArray(" \t\x01 a  b\r\n\x1f ") << QByteArray("a  b") << QByteArray();
    QTest::newRow("only blanks") << QByteArray("   ") << QByteArray() << QByteArray();
    QTest::newRow("exactly 255") << QByteArray(255, 'x') << QByteArray(255, 'x') << QByteArray();
    QTest::newRow("300 bytes") << QByteArray(300, 'x') << QByteArray(255, 'x') << QByteArray();
    QTest::newRow("Chinese across 255") << QByteArray(QByteArray(254, 'x') + zhong) << QByteArray(254, 'x')
                                        << QByteArray();
    QTest::newRow("four-byte across 255")
        << QByteArray(QByteArray(252, 'x') + "\x94\x39\xFC\x36") << QByteArray(252, 'x') << QByteArray();
    // The label is trimmed, then cut; the field was cut when stored (first 255
    // bytes: three blanks and 252 letters), then the writer trims it.
    QTest::newRow("trimmed, then cut") << QByteArray("   " + QByteArray(253, 'x') + zhong + "  ")
                                       << QByteArray(QByteArray(253, 'x') + zhong) << QByteArray(252, 'x');
}

void TestDataFileFormat::writtenTextIsTrimmedAndCut()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, stored);
    QFETCH(QByteArray, storedField);
    if (storedField.isNull())
        storedField = stored;

    // The label has no limit of its own: the writer trims and cuts it. Fields
    // are cut when stored already, and trimmed by the writer.
    CardTree tree;
    auto record = std::make_unique<TCardData>();
    record->setField(Field::Other, text);
    CardNode *node = tree.addTopLevel(text, std::move(record));
    QByteArray buffer;
    WriteNodeData(buffer, *node);
    QCOMPARE(buffer.size(), 138 + stored.size() + storedField.size());
    QCOMPARE(buffer.left(4), DataFileBytes().int32(int(stored.size()) + 2).bytes());
    QCOMPARE(buffer.mid(4, 1 + stored.size()), char(stored.size()) + stored);

    CardTree back;
    QCOMPARE(read(QByteArray("\x01\0\0\0", 4) + buffer, back).status, LoadResult::Status::Read);
    QCOMPARE(back.firstTopLevel()->label(), stored);
    QCOMPARE(back.firstTopLevel()->data()->name().toByteArray(), stored);
    QCOMPARE(back.firstTopLevel()->data()->field(Field::Other).toByteArray(), storedField);
}

void TestDataFileFormat::roundTrip()
{
    QRandomGenerator random(77);
    CardTree tree;
    std::vector<CardNode *> classes;
    for (int i = 0; i < 400; ++i) {
        const bool isCard = !classes.empty() && random.bounded(3) != 0;
        CardNode *parent =
            classes.empty() || random.bounded(5) == 0 ? nullptr : classes[random.bounded(quint32(classes.size()))];
        auto record = isCard ? MakeCardRecord() : MakeCardClassRecord();
        for (int n = Field::First; n <= Field::Last; ++n) {
            QByteArray text;
            const int length = int(random.bounded(12));
            for (int k = 0; k < length; ++k)
                text += random.bounded(2) ? QByteArray("\xD6\xD0") : QByteArray(1, char('a' + random.bounded(26)));
            record->setField(n, text);
        }
        record->Created = random.generateDouble() * 50000;
        const QByteArray label = record->name().toByteArray();
        CardNode *node = tree.addChild(parent, label, std::move(record));
        tree.setDisplayIndexes(node, isCard, isCard, isCard, isCard);
        if (!isCard)
            classes.push_back(node);
    }
    // A renamed class: its label is written in Name's place.
    tree.setLabel(classes.front(), "renamed");

    const QByteArray bytes = serialize(tree);
    CardTree back;
    QCOMPARE(read(bytes, back).status, LoadResult::Status::Read);
    QCOMPARE(serialize(back), bytes);
    QStringList expected = describeNodes(tree);
    QStringList actual = describeNodes(back);
    QCOMPARE(actual.size(), expected.size());
    const int renamed = tree.absoluteIndexOf(classes.front());
    QVERIFY(actual[renamed].contains(QString::fromLatin1(QByteArray("renamed").toHex())));
    QCOMPARE(back.nodeAt(renamed)->data()->name().toByteArray(), QByteArray("renamed"));
    expected.removeAt(renamed);
    actual.removeAt(renamed);
    QCOMPARE(actual, expected);
}

void TestDataFileFormat::storedDisplayIndexesOnRequest()
{
    DataFileBytes b;
    b.int32(2).record("A", 0, 7, 0, {}, {3, 4, 5, 6}).record("B", 0, 1, 0, {}, {0, 0, -1, -1});
    CardTree replaced;
    QVERIFY(read(b.bytes(), replaced).ok());
    QCOMPARE(replaced.nodeAt(0)->displayIndexes(), (std::array<std::int32_t, 4>{7, 7, 7, 7}));
    QCOMPARE(replaced.nodeAt(0)->kind(), 7); // an unknown kind stays as stored
    QCOMPARE(replaced.nodeAt(1)->displayIndexes(), (std::array<std::int32_t, 4>{1, 1, 1, 1}));

    CardTree kept;
    QVERIFY(read(b.bytes(), kept, ReadOptions{true}).ok());
    QCOMPARE(kept.nodeAt(0)->displayIndexes(), (std::array<std::int32_t, 4>{3, 4, 5, 6}));
    QCOMPARE(kept.nodeAt(1)->displayIndexes(), (std::array<std::int32_t, 4>{0, 0, -1, -1}));
    QCOMPARE(b.withMyFillers(serialize(kept)), b.bytes());
}

void TestDataFileFormat::appendsAfterExistingNodes()
{
    CardTree tree;
    buildFromOutline(tree, "X .y");
    MirrorObserver mirror(tree);
    DataFileBytes b;
    b.int32(2).record("A", 1, 0).record("b", 0, 1).record("C", 0, 0);
    QVERIFY(read(b.bytes(), tree).ok());
    QCOMPARE(outline(tree), QStringLiteral("X .y A .b C"));
    QVERIFY2(mirror.errors.isEmpty(), qPrintable(mirror.errors.join('\n')));
    QVERIFY(mirror.matchesTree());
}

void TestDataFileFormat::craftedCountsFailWithoutAllocating()
{
    {
        DataFileBytes b;
        b.int32(std::numeric_limits<qint32>::max()).record("A", 0, 0);
        CardTree tree;
        const LoadResult result = read(b.bytes(), tree);
        QCOMPARE(result.status, LoadResult::Status::Damaged);
        QCOMPARE(tree.count(), 1);
    }
    {
        DataFileBytes b;
        b.int32(1).record("A", std::numeric_limits<qint32>::max(), 0).record("b", 0, 1);
        CardTree tree;
        const LoadResult result = read(b.bytes(), tree);
        QCOMPARE(result.status, LoadResult::Status::Damaged);
        QCOMPARE(outline(tree), QStringLiteral("A .b"));
    }
    {
        // Every node claims the maximum child count, nested as deep as the bytes go.
        DataFileBytes b;
        b.int32(std::numeric_limits<qint32>::max());
        for (int i = 0; i < 1000; ++i)
            b.record("n", std::numeric_limits<qint32>::max(), 0);
        CardTree tree;
        QCOMPARE(read(b.bytes(), tree).status, LoadResult::Status::Damaged);
        QCOMPARE(tree.count(), 1000);
    }
}

void TestDataFileFormat::deepChain()
{
    constexpr int Depth = 200000;
    DataFileBytes b;
    b.int32(1);
    for (int i = 0; i < Depth; ++i)
        b.record("n", i + 1 < Depth ? 1 : 0, 0, 0.0, {}, {0, 0, 0, 0}); // indexes as the reader sets them
    auto tree = std::make_unique<CardTree>();
    QCOMPARE(read(b.bytes(), *tree).status, LoadResult::Status::Read);
    QCOMPARE(tree->count(), Depth);
    QCOMPARE(tree->lastInAbsoluteOrder()->depth(), Depth - 1);
    QCOMPARE(b.withMyFillers(serialize(*tree)), b.bytes());

    // Cut in the middle: the part read so far stays.
    CardTree partial;
    QCOMPARE(read(b.bytes().left(b.bytes().size() / 2), partial).status, LoadResult::Status::Damaged);
    QCOMPARE(partial.count(), Depth / 2 - 1);
    tree.reset();
}

void TestDataFileFormat::saveProgressSequence()
{
    CardTree tree;
    buildFromOutline(tree, "A .b .C ..d E");
    RecordingProgress progress;
    int pumpsSeen = 0;
    progress.onPump = [&]() { ++pumpsSeen; };
    const QByteArray bytes = SerializeTree(tree, progress, nullptr, progress);
    QStringList expected{QStringLiteral("ShowSave(5)")};
    for (int i = 0; i < 5; ++i)
        expected << QStringLiteral("Pump") << QStringLiteral("Refresh") << QStringLiteral("Step");
    QCOMPARE(progress.calls, expected);
    QCOMPARE(pumpsSeen, 5);
    QCOMPARE(bytes, serialize(tree));
}

void TestDataFileFormat::loadProgressSequence()
{
    DataFileBytes b;
    b.int32(3).record("A", 0, 0).record("B", 2, 0).record("c", 0, 1).record("D", 1, 0).record("e", 0, 1).record("F", 0,
                                                                                                                0);
    CardTree tree;
    RecordingProgress progress;
    QStringList seenAtPumps;
    progress.onPump = [&]() { seenAtPumps << outline(tree); };
    QVERIFY(ReadTreeFromBytes(b.bytes(), tree, progress, {}, progress).ok());
    QCOMPARE(progress.calls, QStringList({"ShowLoad", "Pump", "Pump", "Pump"}));
    // Whenever events may run, the tree holds whole records only: every
    // earlier top-level subtree is complete, the one being read is not shown.
    QCOMPARE(seenAtPumps, QStringList({"A", "A", "A"}));
    QCOMPARE(outline(tree), QStringLiteral("A B .c .D ..e F"));

    CardTree empty;
    RecordingProgress none;
    QVERIFY(ReadTreeFromBytes(QByteArray(4, '\0'), empty, none, {}, none).ok());
    QCOMPARE(none.calls, QStringList({"ShowLoad"}));
}

void TestDataFileFormat::treeChangedDuringSerialization()
{
    CardTree tree;
    buildFromOutline(tree, "A .b .c D");
    RecordingProgress progress;
    int pumps = 0;
    progress.onPump = [&]() {
        if (++pumps == 2)
            tree.deleteNode(tree.nodeAt(3));
    };
    QString error;
    QVERIFY(SerializeTree(tree, progress, &error, progress).isEmpty());
    QVERIFY(!error.isEmpty());

    // Changing a field while the save runs is harmless: the record is read when its turn comes.
    // The record grows past the size measured before the first node.
    RecordingProgress editing;
    editing.onPump = [&]() { tree.setField(tree.nodeAt(0), Field::Other, QByteArray(200, 'L')); };
    const QByteArray bytes = SerializeTree(tree, editing, &error, editing);
    CardTree back;
    QVERIFY(read(bytes, back).ok());
    QCOMPARE(outline(back), outline(tree));
    QCOMPARE(back.nodeAt(0)->data()->field(Field::Other).toByteArray(), QByteArray(200, 'L'));
}

void TestDataFileFormat::nodeWithoutRecord()
{
    CardTree tree;
    CardNode *node = tree.addTopLevel(" bare ");
    QByteArray buffer;
    WriteNodeData(buffer, *node);
    QCOMPARE(buffer.size(), 138 + 4);
    CardTree back;
    QVERIFY(read(QByteArray("\x01\0\0\0", 4) + buffer, back).ok());
    QCOMPARE(back.firstTopLevel()->label(), QByteArray("bare"));
    QCOMPARE(back.firstTopLevel()->kind(), Kind::CardClass);
}

QTEST_GUILESS_MAIN(TestDataFileFormat)
#include "tst_datafile_format.moc"
