// Card identities: kept through edits, moves and deletes of others; stored in
// the sync state beside the data file and found again, also when the data
// file was changed by something else.

#include "SyncStatePath.h"
#include "TreeIdentities.h"

#include "CardIdentities.h"
#include "CardRecords.h"
#include "CardTree.h"
#include "DataFile.h"
#include "DataFiles.h"
#include "Gb18030.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace kelvo;
using namespace kelvo::sync;

namespace {

CardNode *addCard(CardTree &tree, CardNode *parent, const QString &name, const QString &phone = {})
{
    auto record = MakeCardRecord();
    record->setField(Field::Name, gb18030::encode(name));
    record->setField(Field::DH, gb18030::encode(phone));
    return tree.addChild(parent, gb18030::encode(name), std::move(record));
}

CardNode *addClass(CardTree &tree, CardNode *parent, const QString &name)
{
    auto record = MakeCardClassRecord();
    record->setField(Field::Name, gb18030::encode(name));
    return tree.addChild(parent, gb18030::encode(name), std::move(record));
}

// The identity of each node by label, in absolute order.
QMap<QString, QUuid> identities(const CardTree &tree, CardIdentities &ids)
{
    QMap<QString, QUuid> all;
    tree.forEach([&](CardNode *node) { all.insert(gb18030::decode(node->label()), ids.find(node)); });
    return all;
}

void build(CardTree &tree)
{
    CardNode *company = addClass(tree, nullptr, QStringLiteral("公司"));
    addCard(tree, company, QStringLiteral("张三"), QStringLiteral("010-1111"));
    addCard(tree, company, QStringLiteral("李四"), QStringLiteral("010-2222"));
    CardNode *friends = addClass(tree, nullptr, QStringLiteral("朋友"));
    addCard(tree, friends, QStringLiteral("王五"), QStringLiteral("010-3333"));
}

} // namespace

class TestTreeIdentities : public QObject
{
    Q_OBJECT

private slots:
    void keptThroughEditsAndMoves()
    {
        CardTree tree;
        CardIdentities ids(tree);
        build(tree);
        tree.forEach([&](CardNode *node) { ids.identity(node); });
        const QMap<QString, QUuid> before = identities(tree, ids);
        QCOMPARE(QSet<QUuid>(before.cbegin(), before.cend()).size(), 5);
        CardNode *zhang = tree.child(tree.topLevel(0), 0);
        tree.setField(zhang, Field::DH, "020");
        tree.setLabel(zhang, "Zhang");
        tree.moveNode(zhang, tree.topLevel(1), CardTree::MoveMode::AsLastChild);
        tree.deleteNode(tree.child(tree.topLevel(0), 0)); // 李四
        QCOMPARE(ids.find(zhang), before[QStringLiteral("张三")]);
        QCOMPARE(ids.size(), 4);
        QVERIFY(ids.identity(zhang).toString(QUuid::WithoutBraces).at(14) == u'4'); // version 4
        tree.clear();
        QCOMPARE(ids.size(), 0);
    }

    void foundAgainBesideTheDataFile_data()
    {
        QTest::addColumn<QString>("change"); // what something else did to the data file
        QTest::addColumn<QStringList>("kept"); // labels whose identity survives
        QTest::newRow("nothing") << "" << QStringList{"公司", "张三", "李四", "朋友", "王五"};
        QTest::newRow("a field edited") << "edit" << QStringList{"公司", "张三", "李四", "朋友", "王五"};
        QTest::newRow("a card added in front") << "insert" << QStringList{"公司", "张三", "李四", "朋友", "王五"};
        QTest::newRow("a card moved") << "move" << QStringList{"公司", "张三", "李四", "朋友", "王五"};
        QTest::newRow("a card replaced by another") << "replace" << QStringList{"公司", "张三", "朋友", "王五"};
    }
    void foundAgainBesideTheDataFile()
    {
        QFETCH(QString, change);
        QFETCH(QStringList, kept);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("SavedCard/Card.DB"));
        const DataFiles files = DataFiles::forDataFile(path);
        QMap<QString, QUuid> before;
        {
            CardTree tree;
            CardIdentities ids(tree);
            build(tree);
            QVERIFY(SaveTreeViewWithData(files, tree).ok());
            QVERIFY(SaveIdentities(path, tree, ids).ok());
            before = identities(tree, ids);
        }
        CardTree tree;
        CardIdentities ids(tree);
        QVERIFY(LoadTreeViewWithData(files, tree).ok());
        if (!change.isEmpty()) {
            // Another program writes the file; the state is not told.
            CardNode *company = tree.topLevel(0);
            if (change == QLatin1String("edit"))
                tree.setField(tree.child(company, 1), Field::DH, "999");
            else if (change == QLatin1String("insert"))
                tree.addTopLevelFirst("New", MakeCardClassRecord());
            else if (change == QLatin1String("move"))
                tree.moveNode(tree.child(company, 0), tree.topLevel(1), CardTree::MoveMode::AsLastChild);
            else if (change == QLatin1String("replace")) {
                tree.deleteNode(tree.child(company, 1));
                addCard(tree, company, QStringLiteral("赵六"), QStringLiteral("777"));
            }
            QVERIFY(SaveTreeViewWithData(files, tree).ok());
            tree.clear();
            QVERIFY(LoadTreeViewWithData(files, tree).ok());
        }
        const Result<RestoreOutcome> restored = LoadIdentities(path, tree, ids);
        QVERIFY(restored.ok());
        QCOMPARE(restored.value().exact > 0, change.isEmpty());
        const QMap<QString, QUuid> after = identities(tree, ids);
        for (auto it = after.cbegin(); it != after.cend(); ++it) {
            if (kept.contains(it.key()))
                QVERIFY2(it.value() == before.value(it.key()), qPrintable(it.key()));
            else
                QVERIFY2(!before.values().contains(it.value()), qPrintable(it.key()));
        }
    }

    void damagedStateLosesNoCard()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("SavedCard/Card.DB"));
        const DataFiles files = DataFiles::forDataFile(path);
        CardTree tree;
        CardIdentities ids(tree);
        build(tree);
        QVERIFY(SaveTreeViewWithData(files, tree).ok());
        QFile state(SyncStatePath(path));
        QVERIFY(state.open(QIODevice::WriteOnly));
        state.write(QByteArray(4096, 'x'));
        state.close();
        QVERIFY(!LoadIdentities(path, tree, ids).ok());
        QCOMPARE(tree.count(), 5);
        // The next save starts the state anew and keeps the damaged one aside.
        QVERIFY(SaveIdentities(path, tree, ids).ok());
        QVERIFY(LoadIdentities(path, tree, ids).ok());
        QCOMPARE(QDir(dir.filePath(QStringLiteral("SavedCard"))).entryList({QStringLiteral("*.damaged-*")}).size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestTreeIdentities)
#include "tst_treeidentities.moc"
