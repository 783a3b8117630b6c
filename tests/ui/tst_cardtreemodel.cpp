// The item model over the card tree: Qt's model tester watches it while the
// tree grows, moves, shrinks and is reset, and after every change the model
// must mirror the tree exactly.

#include "CardRecords.h"
#include "CardTreeModel.h"
#include "Gb18030.h"
#include "ImageList.h"

#include <QAbstractItemModelTester>
#include <QPersistentModelIndex>
#include <QSignalSpy>
#include <QTest>
#include <QTreeView>

using namespace kelvo;

namespace {

QByteArray gb(const char *utf8)
{
    return gb18030::encode(QString::fromUtf8(utf8));
}

CardNode *addClass(CardTree &tree, CardNode *parent, const char *label)
{
    return tree.addChild(parent, gb(label), MakeCardClassRecord());
}

CardNode *addCard(CardTree &tree, CardNode *parent, const char *label)
{
    CardNode *node = tree.addChild(parent, gb(label), MakeCardRecord());
    tree.setDisplayIndexes(node, 1, 1, 1, 1);
    return node;
}

// The model shows exactly the tree: same rows, same nodes, same labels.
bool mirrors(const CardTreeModel &model, const CardTree &tree, const QModelIndex &parent, const CardNode *node,
             QString *why)
{
    const int rows = tree.childCount(node);
    if (model.rowCount(parent) != rows) {
        *why = QStringLiteral("row count %1 != %2 under %3")
                   .arg(model.rowCount(parent))
                   .arg(rows)
                   .arg(node ? gb18030::decode(node->label()) : QStringLiteral("<top>"));
        return false;
    }
    for (int row = 0; row < rows; ++row) {
        const QModelIndex index = model.index(row, 0, parent);
        const CardNode *child = tree.child(node, row);
        if (CardTreeModel::nodeOfIndex(index) != child || model.indexOfNode(child) != index
            || model.parent(index) != parent) {
            *why = QStringLiteral("row %1 maps to another node").arg(row);
            return false;
        }
        if (index.data().toString() != gb18030::decode(child->label())) {
            *why = QStringLiteral("label of row %1").arg(row);
            return false;
        }
        if (!mirrors(model, tree, index, child, why))
            return false;
    }
    return true;
}

#define VERIFY_MIRRORS(model, tree)                                                                                    \
    do {                                                                                                               \
        QString why;                                                                                                   \
        QVERIFY2(mirrors(model, tree, QModelIndex(), nullptr, &why), qPrintable(why));                                 \
    } while (false)

} // namespace

class TestCardTreeModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void testerPassesThroughEveryKindOfChange()
    {
        CardTree tree;
        ImageList images;
        CardTreeModel model(tree, &images);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        // A view keeps its own state from the signals: it must survive too.
        QTreeView view;
        view.setModel(&model);
        view.expandAll();

        CreateDefaultTree(tree);
        VERIFY_MIRRORS(model, tree);
        CardNode *reserved = tree.firstTopLevel();
        CardNode *friends = addClass(tree, nullptr, "朋友");
        CardNode *school = addClass(tree, friends, "同学");
        CardNode *a = addCard(tree, school, "张三");
        CardNode *b = addCard(tree, school, "李四");
        CardNode *c = addCard(tree, reserved, "王五");
        view.expandAll();
        VERIFY_MIRRORS(model, tree);

        const QPersistentModelIndex keepA(model.indexOfNode(a));
        QVERIFY(tree.moveNode(a, c, CardTree::MoveMode::BeforeTarget)); // to another parent
        VERIFY_MIRRORS(model, tree);
        QCOMPARE(CardTreeModel::nodeOfIndex(keepA), a);
        QCOMPARE(QModelIndex(keepA), model.indexOfNode(a));
        QVERIFY(tree.moveNode(school, reserved, CardTree::MoveMode::AsLastSibling)); // up to the top level
        VERIFY_MIRRORS(model, tree);
        QVERIFY(tree.moveNode(c, reserved, CardTree::MoveMode::BeforeTarget)); // top level, earlier row
        VERIFY_MIRRORS(model, tree);
        QVERIFY(tree.moveNode(b, friends, CardTree::MoveMode::AsLastChild));
        VERIFY_MIRRORS(model, tree);
        QVERIFY(!tree.moveNode(friends, friends, CardTree::MoveMode::AsLastChild));
        VERIFY_MIRRORS(model, tree);

        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        tree.setLabel(b, gb("李四四"));
        QCOMPARE(changed.size(), 1);
        QCOMPARE(model.indexOfNode(b).data().toString(), QStringLiteral("李四四"));
        VERIFY_MIRRORS(model, tree);

        tree.deleteNode(a);
        VERIFY_MIRRORS(model, tree);
        tree.deleteChildren(friends);
        VERIFY_MIRRORS(model, tree);
        tree.deleteNode(friends);
        VERIFY_MIRRORS(model, tree);
        tree.clear();
        VERIFY_MIRRORS(model, tree);
        QCOMPARE(model.rowCount(), 0);
    }

    void bulkChangeShowsTheOldTreeUntilItEnds()
    {
        CardTree tree;
        CardTreeModel model(tree, nullptr);
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        CreateDefaultTree(tree);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        QSignalSpy reset(&model, &QAbstractItemModel::modelReset);

        model.beginBulkChange();
        for (int i = 0; i < 50; ++i) {
            CardNode *cls = addClass(tree, nullptr, "类");
            addCard(tree, cls, "人");
        }
        QCOMPARE(model.rowCount(), 1);
        QVERIFY(!model.index(1, 0).isValid());
        QVERIFY(!model.indexOfNode(tree.topLevel(5)).isValid());
        QVERIFY(model.inBulkChange());
        model.endBulkChange();

        QCOMPARE(inserted.size(), 0);
        QCOMPARE(reset.size(), 1);
        QCOMPARE(model.rowCount(), 51);
        VERIFY_MIRRORS(model, tree);
    }

    void dataOfANode()
    {
        CardTree tree;
        ImageList images;
        CardTreeModel model(tree, &images);
        CardNode *cls = addClass(tree, nullptr, "客户");
        CardNode *card = addCard(tree, cls, "张三");
        // A label of bytes that are not valid text must still display.
        CardNode *odd = tree.addChild(cls, QByteArray("\xff\x81\x30", 3), MakeCardRecord());
        tree.setDisplayIndexes(odd, 99, 99, 99, 99);

        const QModelIndex clsIndex = model.indexOfNode(cls);
        QCOMPARE(clsIndex.data(Qt::DisplayRole).toString(), QStringLiteral("客户"));
        const QImage classIcon = clsIndex.data(Qt::DecorationRole).value<QIcon>().pixmap(16, 16).toImage();
        QCOMPARE(classIcon, images.icon(ImageList::CardClass).pixmap(16, 16).toImage());
        const QModelIndex cardIndex = model.indexOfNode(card);
        const QImage cardIcon = cardIndex.data(Qt::DecorationRole).value<QIcon>().pixmap(16, 16).toImage();
        QCOMPARE(cardIcon, images.icon(ImageList::Card).pixmap(16, 16).toImage());
        QVERIFY(cardIndex.data(Qt::DecorationRole).value<QIcon>().isNull() == false);

        const QModelIndex oddIndex = model.indexOfNode(odd);
        QVERIFY(!oddIndex.data().toString().isEmpty());
        QVERIFY(oddIndex.data(Qt::DecorationRole).value<QIcon>().isNull());
        QCOMPARE(model.index(0, 1).isValid(), false);
        QCOMPARE(model.index(-1, 0).isValid(), false);
        QCOMPARE(model.index(5, 0, clsIndex).isValid(), false);
        QCOMPARE(CardTreeModel::nodeOfIndex(QModelIndex()), nullptr);
    }
};

QTEST_MAIN(TestCardTreeModel)
#include "tst_cardtreemodel.moc"
