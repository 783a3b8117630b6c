// vCard and CSV files dropped onto the card tree from outside, and nodes
// dragged out of it as .vcf files.

#include "TreePanelHarness.h"

#include "CardImport.h"

#include <QDragMoveEvent>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include <memory>

using namespace kelvo;
using namespace kelvo::testing;

namespace {

// Counts the model's row insertions: a batch must arrive as one.
struct InsertCounter
{
    explicit InsertCounter(QAbstractItemModel &model)
        : spy(&model, &QAbstractItemModel::rowsInserted)
    {
    }
    QSignalSpy spy;
};

QStringList childLabels(const TreePanelHarness &h, const CardNode *parent)
{
    QStringList labels;
    for (int row = 0; row < parent->childCount(); ++row)
        labels.append(h.labelOf(parent->child(row)));
    return labels;
}

} // namespace

class TestTreeFileExchange : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TreePanelHarness> h;
    std::unique_ptr<QTemporaryDir> dir;
    CardNode *reserved = nullptr;
    CardNode *friends = nullptr;
    CardNode *classmates = nullptr;
    CardNode *li = nullptr;

    QString file(const QString &name, const QByteArray &bytes)
    {
        const QString path = dir->filePath(name);
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size())
            qFatal("cannot write a test file");
        return path;
    }
    QPoint labelPoint(CardNode *target)
    {
        const QModelIndex index = h->indexOfNode(target);
        h->view->scrollTo(index);
        return h->controls->delegate()->iconAndLabelRect(*h->view, index).center();
    }
    QPoint emptySpace() { return QPoint(h->view->viewport()->width() / 2, h->view->viewport()->height() - 3); }
    // A drag of `files` from the file manager; returns whether the enter,
    // the move and the drop were each accepted.
    QString dropFiles(const QStringList &files, const QPoint &pos)
    {
        QMimeData mime;
        QList<QUrl> urls;
        for (const QString &path : files)
            urls.append(QUrl::fromLocalFile(path));
        mime.setUrls(urls);
        QWidget *viewport = h->view->viewport();
        QDragEnterEvent enter(pos, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(viewport, &enter);
        QDragMoveEvent move(pos, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(viewport, &move);
        const bool highlighted = h->dragDrop()->dropTarget().isValid();
        QDropEvent drop(pos, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(viewport, &drop);
        QCoreApplication::processEvents(); // the import runs once the drop is over
        return QStringLiteral("%1%2%3%4")
            .arg(enter.isAccepted() ? 'E' : '-')
            .arg(move.isAccepted() ? 'M' : '-')
            .arg(highlighted ? 'H' : '-')
            .arg(drop.isAccepted() ? 'D' : '-');
    }

    const QByteArray twoCards =
        QStringLiteral("BEGIN:VCARD\r\nVERSION:3.0\r\nFN:张三\r\nTEL;TYPE=CELL:139\r\nEND:VCARD\r\n"
                       "BEGIN:VCARD\r\nVERSION:2.1\r\nN;CHARSET=UTF-8:李;雷\r\nEND:VCARD\r\n")
            .toUtf8();

private Q_SLOTS:
    void init()
    {
        h = std::make_unique<TreePanelHarness>();
        dir = std::make_unique<QTemporaryDir>();
        reserved = h->addReserved();
        friends = h->addClass(nullptr, QStringLiteral("朋友"));
        li = h->addCard(friends, QStringLiteral("李四"));
        classmates = h->addClass(friends, QStringLiteral("同学"));
        h->show();
        h->modified = false;
    }
    void cleanup()
    {
        h.reset();
        dir.reset();
    }

    void dropOntoAClassImportsInOneBatch()
    {
        const QString vcf = file(QStringLiteral("two.vcf"), twoCards);
        const QString csv = file(QStringLiteral("more.CSV"), QStringLiteral("姓名,手机\r\n王五,137\r\n").toUtf8());
        InsertCounter inserts(h->model);
        const QString accepted = dropFiles({vcf, csv}, labelPoint(classmates));
        QCOMPARE(accepted, QStringLiteral("EMHD"));
        QCOMPARE(childLabels(*h, classmates), QStringList({"张三", "李雷", "王五"}));
        QCOMPARE(inserts.spy.count(), 1);
        QCOMPARE(h->selectedNode(), classmates->child(2));
        QVERIFY(h->modified);
        QCOMPARE(h->fieldOf(classmates->child(0), Field::SJ), QStringLiteral("139"));
        QCOMPARE(classmates->child(0)->displayIndexes(), (std::array<std::int32_t, 4>{1, 1, 1, 1}));
        QCOMPARE(h->noticeTexts(), QStringList({"已导入3张名片。"}));
        QCOMPARE(h->scripted.shown().size(), 1);
        QCOMPARE(h->scripted.shown().first().caption, applicationTitle());
    }

    void dropOntoACardImportsIntoItsClass()
    {
        const QString vcf = file(QStringLiteral("two.vcf"), twoCards);
        QCOMPARE(dropFiles({vcf}, labelPoint(li)), QStringLiteral("EMHD"));
        QCOMPARE(childLabels(*h, friends), QStringList({"李四", "同学", "张三", "李雷"}));
        QCOMPARE(h->selectedNode(), friends->child(3));

        // The reserved class takes cards inside it.
        QCOMPARE(dropFiles({vcf}, labelPoint(reserved)), QStringLiteral("EMHD"));
        QCOMPARE(childLabels(*h, reserved), QStringList({"张三", "李雷"}));
    }

    void refusedDrops_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<bool>("overEmptySpace");
        QTest::addColumn<QString>("accepted");
        QTest::newRow("over empty space") << QStringList({"a.vcf"}) << true << "E---";
        QTest::newRow("another kind of file") << QStringList({"a.txt"}) << false << "----";
        QTest::newRow("cards and another file") << QStringList({"a.vcf", "b.jpg"}) << false << "----";
    }
    void refusedDrops()
    {
        QFETCH(QStringList, names);
        QFETCH(bool, overEmptySpace);
        QFETCH(QString, accepted);
        QStringList files;
        for (const QString &name : names)
            files.append(file(name, twoCards));
        const int before = h->tree.count();
        QVERIFY(h->view->indexAt(emptySpace()) == QModelIndex());
        QCOMPARE(dropFiles(files, overEmptySpace ? emptySpace() : labelPoint(friends)), accepted);
        QCOMPARE(h->tree.count(), before);
        QVERIFY(!h->modified);
        QVERIFY(h->noticeTexts().isEmpty());
    }

    void unreadableFileChangesNothing()
    {
        const QString good = file(QStringLiteral("good.vcf"), twoCards);
        const QString bad = file(QStringLiteral("people.csv"), QStringLiteral("名字,手机号\r\n张三,139\r\n").toUtf8());
        const int before = h->tree.count();
        QCOMPARE(dropFiles({good, bad}, labelPoint(friends)), QStringLiteral("EMHD"));
        QCOMPARE(h->tree.count(), before);
        QVERIFY(!h->modified);
        QCOMPARE(h->noticeTexts(),
                 QStringList({"无法导入文件“people.csv”：无法识别CSV文件的标题行，其中的列为：“名字”、“手机号”。"
                              "请用 kelvo-tool import --map 指定各列所对应的项目。没有导入任何名片。"}));

        h->scripted.clear();
        const QString empty = file(QStringLiteral("empty.vcf"), QByteArray());
        dropFiles({empty}, labelPoint(friends));
        QCOMPARE(h->noticeTexts(), QStringList({"无法导入文件“empty.vcf”：文件是空的。没有导入任何名片。"}));
        QCOMPARE(h->tree.count(), before);
    }

    void noticeListsTheFirstSkippedOrCutCards()
    {
        QByteArray bytes;
        for (int i = 0; i < 7; ++i)
            bytes += "BEGIN:VCARD\r\nUID:" + QByteArray::number(i) + "\r\nEND:VCARD\r\n";
        bytes += "BEGIN:VCARD\r\nFN:" + QByteArray(300, 'x') + "\r\nEND:VCARD\r\n";
        const QString path = file(QStringLiteral("odd.vcf"), bytes);
        dropFiles({path}, labelPoint(friends));
        QCOMPARE(friends->childCount(), 3);
        const QStringList notices = h->noticeTexts();
        QCOMPARE(notices.size(), 1);
        QCOMPARE(notices.first(),
                 QStringLiteral("已导入1张名片。跳过7张。\n"
                                "odd.vcf 第1行：名片没有任何内容，已跳过\n"
                                "odd.vcf 第4行：名片没有任何内容，已跳过\n"
                                "odd.vcf 第7行：名片没有任何内容，已跳过\n"
                                "odd.vcf 第10行：名片没有任何内容，已跳过\n"
                                "odd.vcf 第13行：名片没有任何内容，已跳过\n"
                                "……另有3条未列出。"));
    }

    void dragOutOffersAVCardFile()
    {
        h->addCard(classmates, QStringLiteral("赵六"), {{Field::QQ, QStringLiteral("10001")}});
        std::unique_ptr<QMimeData> mime(h->dragDrop()->makeDragData(friends));
        QVERIFY(mime->hasUrls());
        const QList<QUrl> urls = mime->urls();
        QCOMPARE(urls.size(), 1);
        const QString path = urls.first().toLocalFile();
        QCOMPARE(QFileInfo(path).fileName(), QStringLiteral("朋友.vcf"));
        const exchange::ImportResult back = exchange::ImportCardsFromFile(path);
        QCOMPARE(back.cards.size(), size_t(2)); // the class with every card below it
        QCOMPARE(text(back.cards[1].label), QStringLiteral("赵六"));
        QCOMPARE(text(back.cards[1].data->field(Field::QQ)), QStringLiteral("10001"));
        QFile written(path);
        QVERIFY(written.open(QIODevice::ReadOnly));
        QVERIFY(written.readAll().contains("CATEGORIES:\xE5\x90\x8C\xE5\xAD\xA6\r\n")); // 同学

        // A card alone, named after it.
        std::unique_ptr<QMimeData> card(h->dragDrop()->makeDragData(li));
        QCOMPARE(QFileInfo(card->urls().first().toLocalFile()).fileName(), QStringLiteral("李四.vcf"));
    }

    void dragOutOffersNothingOnceTheTreeChanged()
    {
        std::unique_ptr<QMimeData> mime(h->dragDrop()->makeDragData(li));
        h->tree.deleteNode(li);
        QVERIFY(!mime->hasUrls());
        QVERIFY(mime->urls().isEmpty());
    }

    void dragDataStillMovesWithinTheTree()
    {
        // What a real drag carries now (the file offer besides the token)
        // moves the node as before, and writes no file.
        std::unique_ptr<QMimeData> mime(h->dragDrop()->makeDragData(li));
        h->selectNode(li);
        h->modified = false;
        const QPoint pos = labelPoint(classmates);
        QWidget *viewport = h->view->viewport();
        QDragEnterEvent enter(pos, Qt::MoveAction | Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(viewport, &enter);
        QDragMoveEvent move(pos, Qt::MoveAction | Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(viewport, &move);
        QCOMPARE(move.dropAction(), Qt::MoveAction);
        QDropEvent drop(pos, Qt::MoveAction | Qt::CopyAction, mime.get(), Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(viewport, &drop);
        QVERIFY(drop.isAccepted());
        QCOMPARE(li->parent(), classmates);
        QVERIFY(h->modified);
        QVERIFY(h->noticeTexts().isEmpty());
    }

    void realDragOutToAnotherWindow()
    {
        // The platform's drag loop carries the file to a window that takes
        // file drops, as a file manager does.
        if (QGuiApplication::platformName() == QLatin1String("offscreen"))
            QSKIP("the offscreen platform has no drag loop: run under xvfb-run with QT_QPA_PLATFORM=xcb");
        class FileTarget : public QWidget
        {
        public:
            FileTarget() { setAcceptDrops(true); }
            QList<QUrl> dropped;

        protected:
            void dragEnterEvent(QDragEnterEvent *event) override
            {
                if (event->mimeData()->hasUrls())
                    event->acceptProposedAction();
            }
            void dragMoveEvent(QDragMoveEvent *event) override { event->acceptProposedAction(); }
            void dropEvent(QDropEvent *event) override
            {
                dropped = event->mimeData()->urls();
                event->setDropAction(Qt::CopyAction);
                event->accept();
            }
        };
        FileTarget target;
        target.resize(200, 200);
        target.move(h->window.geometry().right() + 40, h->window.geometry().top());
        target.show();
        QVERIFY(QTest::qWaitForWindowExposed(&target));

        QWidget *viewport = h->view->viewport();
        const QPoint from = labelPoint(li);
        const QPoint global = target.mapToGlobal(target.rect().center());
        QTimer::singleShot(0, viewport, [viewport, global] {
            for (const QPoint &at : {global, global + QPoint(1, 0)}) {
                QMouseEvent move(QEvent::MouseMove, viewport->mapFromGlobal(at), at, Qt::NoButton, Qt::LeftButton,
                                 Qt::NoModifier);
                QCoreApplication::sendEvent(viewport, &move);
            }
            QMouseEvent release(QEvent::MouseButtonRelease, viewport->mapFromGlobal(global), global, Qt::LeftButton,
                                Qt::NoButton, Qt::NoModifier);
            QCoreApplication::sendEvent(viewport, &release);
        });
        QTest::mousePress(viewport, Qt::LeftButton, {}, from);
        QMouseEvent moved(QEvent::MouseMove, from + QPoint(0, 6), viewport->mapToGlobal(from + QPoint(0, 6)),
                          Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(viewport, &moved);

        QTRY_COMPARE(target.dropped.size(), 1);
        const QString path = target.dropped.first().toLocalFile();
        QCOMPARE(QFileInfo(path).fileName(), QStringLiteral("李四.vcf"));
        QCOMPARE(exchange::ImportCardsFromFile(path).cards.size(), size_t(1));
        QCOMPARE(li->parent(), friends); // nothing moved in the tree
        QVERIFY(!h->modified);
    }
};

QTEST_MAIN(TestTreeFileExchange)
#include "tst_treefileexchange.moc"
