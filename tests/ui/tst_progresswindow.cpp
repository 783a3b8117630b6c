// The progress window and its bar: the range rules of the bar, and what the
// window shows while the data file is saved and loaded.

#include "CardRecords.h"
#include "CardTree.h"
#include "DataFile.h"
#include "EventLoopPump.h"
#include "Gb18030.h"
#include "TGauge.h"
#include "TfrmProgress.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QTest>

using namespace kelvo;

namespace {

QLabel *label1(const TfrmProgress &window)
{
    return window.findChild<QLabel *>(QStringLiteral("Label1"));
}

TGauge *gg1(const TfrmProgress &window)
{
    return window.findChild<TGauge *>(QStringLiteral("gg1"));
}

// Passes every call on to the window and notes what the window shows at
// each of them.
class WatchingSink final : public ProgressSink
{
public:
    explicit WatchingSink(TfrmProgress &window)
        : m_window(window)
    {
    }

    QStringList calls;
    QList<int> percents; // the bar's percentage, noted at each repaint request and at the end
    QString loadLabel;
    QString loadCaption;
    bool barShownDuringLoad = true;
    bool windowShownDuringLoad = false;

    void ShowSaveProgress(int n) override
    {
        calls << QStringLiteral("show-save");
        m_window.ShowSaveProgress(n);
        note();
    }
    void RefreshProgress() override
    {
        m_window.RefreshProgress();
        note();
    }
    void StepProgress() override { m_window.StepProgress(); }
    void ShowLoadProgress() override
    {
        calls << QStringLiteral("show-load");
        m_window.ShowLoadProgress();
        loadLabel = label1(m_window)->text();
        loadCaption = m_window.windowTitle();
        barShownDuringLoad = !gg1(m_window)->isHidden();
        windowShownDuringLoad = m_window.isVisible();
    }
    void CloseProgress() override
    {
        calls << QStringLiteral("close");
        note();
        m_window.CloseProgress();
    }

private:
    void note()
    {
        const int percent = gg1(m_window)->percentDone();
        if (percents.isEmpty() || percents.last() != percent)
            percents << percent;
    }

    TfrmProgress &m_window;
};

CardTree *treeOf(int cards, CardTree &tree)
{
    CardNode *cls = cards > 0 ? tree.addTopLevel(NewCardClassLabel(), MakeCardClassRecord()) : nullptr;
    for (int i = 1; i < cards; ++i)
        tree.addChild(cls, NewCardLabel(), MakeCardRecord());
    return &tree;
}

} // namespace

class TestProgressWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void gaugePercentage_data()
    {
        QTest::addColumn<int>("minValue");
        QTest::addColumn<int>("maxValue");
        QTest::addColumn<int>("progress");
        QTest::addColumn<int>("percent");
        QTest::addColumn<QString>("text");
        QTest::newRow("start") << 0 << 100 << 0 << 0 << "0%";
        QTest::newRow("37 of 100") << 0 << 100 << 37 << 37 << "37%";
        QTest::newRow("fraction dropped") << 0 << 3 << 2 << 66 << "66%";
        QTest::newRow("empty range") << 0 << 0 << 0 << 0 << "0%";
        QTest::newRow("offset range") << 10 << 20 << 15 << 50 << "50%";
        QTest::newRow("negative range") << -50 << 50 << 0 << 50 << "50%";
        QTest::newRow("beyond max stops") << 0 << 5 << 9 << 100 << "100%";
        QTest::newRow("below min stops") << 0 << 5 << -3 << 0 << "0%";
        QTest::newRow("wide range") << -2000000000 << 2000000000 << 2000000000 << 100 << "100%";
    }

    void gaugePercentage()
    {
        QFETCH(int, minValue);
        QFETCH(int, maxValue);
        QFETCH(int, progress);
        QFETCH(int, percent);
        QFETCH(QString, text);
        TGauge gauge;
        QCOMPARE(gauge.minValue(), 0);
        QCOMPARE(gauge.maxValue(), 100);
        QCOMPARE(gauge.progress(), 0);
        gauge.setRange(minValue, maxValue);
        gauge.setProgress(progress);
        QCOMPARE(gauge.percentDone(), percent);
        QCOMPARE(gauge.percentText(), text);
        QVERIFY(gauge.progress() >= gauge.minValue() && gauge.progress() <= gauge.maxValue());
    }

    void gaugeKeepsPositionInRange()
    {
        TGauge gauge;
        gauge.setRange(0, 10);
        gauge.setProgress(8);
        gauge.setMaxValue(5); // lowering the maximum lowers the position
        QCOMPARE(gauge.progress(), 5);
        gauge.addProgress(1);
        QCOMPARE(gauge.progress(), 5);
        gauge.setMaxValue(0x7fffffff);
        gauge.setProgress(0x7fffffff);
        gauge.addProgress(1); // no overflow past the largest value
        QCOMPARE(gauge.progress(), 0x7fffffff);
        QCOMPARE(gauge.doneWidth(357), 357);
        gauge.setRange(0, 3);
        gauge.setProgress(1);
        QCOMPARE(gauge.doneWidth(357), 119);
    }

    void windowFrame()
    {
        TfrmProgress window;
        QCOMPARE(window.objectName(), QStringLiteral("frmProgress"));
        QCOMPARE(window.size(), QSize(379, 68));
        QCOMPARE(window.minimumSize(), window.maximumSize());
        QVERIFY(window.windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(!(window.windowFlags() & Qt::WindowCloseButtonHint));
        QVERIFY(!(window.windowFlags() & Qt::WindowSystemMenuHint));
        QVERIFY(!(window.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        QVERIFY(!window.isVisible());
        QVERIFY(window.windowTitle().isEmpty());
        QVERIFY(label1(window)->text().isEmpty());
        QCOMPARE(label1(window)->pos(), QPoint(12, 8));
        QCOMPARE(gg1(window)->geometry(), QRect(12, 28, 357, 25));
    }

    void saveOfThreeNodesClimbsInSteps()
    {
        QTemporaryDir dir;
        const DataFiles files = DataFiles::inFolder(dir.path());
        EventLoopPump pump;
        TfrmProgress window;
        WatchingSink sink(window);
        CardTree tree;
        treeOf(3, tree);
        QCOMPARE(tree.count(), 3);
        QVERIFY(SaveTreeViewWithData(files, tree, sink, pump).ok());
        QCOMPARE(sink.percents, QList<int>({0, 33, 66, 100}));
        QCOMPARE(window.windowTitle(), QStringLiteral("正在保存数据,请稍候....."));
        QCOMPARE(label1(window)->text(), QStringLiteral("Warning：必须在保存完数据后才能关闭,否则数据会丢失！"));
        QVERIFY(!window.isVisible());

        // The second save starts again at 0%.
        sink.percents.clear();
        QVERIFY(SaveTreeViewWithData(files, tree, sink, pump).ok());
        QCOMPARE(sink.percents, QList<int>({0, 33, 66, 100}));
        QCOMPARE(sink.calls.count(QStringLiteral("show-save")), 2);
        QCOMPARE(sink.calls.count(QStringLiteral("close")), 2);
    }

    void saveOfEmptyTreeShowsZeroAndCloses()
    {
        QTemporaryDir dir;
        EventLoopPump pump;
        TfrmProgress window;
        WatchingSink sink(window);
        CardTree tree;
        QVERIFY(SaveTreeViewWithData(DataFiles::inFolder(dir.path()), tree, sink, pump).ok());
        QCOMPARE(sink.percents, QList<int>({0}));
        QCOMPARE(gg1(window)->maxValue(), 0);
        QVERIFY(!window.isVisible());
    }

    void loadShowsTextOnlyThenReadiesTheBar()
    {
        QTemporaryDir dir;
        const DataFiles files = DataFiles::inFolder(dir.path());
        CardTree written;
        treeOf(4, written);
        QVERIFY(SaveTreeViewWithData(files, written).ok());

        EventLoopPump pump;
        TfrmProgress window;
        WatchingSink sink(window);
        CardTree tree;
        QVERIFY(LoadTreeViewWithData(files, tree, sink, pump).ok());
        QCOMPARE(tree.count(), 4);
        QCOMPARE(sink.calls, QStringList({"show-load", "close"}));
        QCOMPARE(sink.loadLabel, QStringLiteral("正在初始化数据，请稍候..."));
        QVERIFY(sink.loadCaption.isEmpty());
        QVERIFY(!sink.barShownDuringLoad);
        QVERIFY(sink.windowShownDuringLoad);
        QVERIFY(!window.isVisible());
        QVERIFY(!gg1(window)->isHidden());
    }

    void loadWithoutDataFileShowsNothing()
    {
        QTemporaryDir dir;
        EventLoopPump pump;
        TfrmProgress window;
        WatchingSink sink(window);
        CardTree tree;
        const LoadResult result = LoadTreeViewWithData(DataFiles::inFolder(dir.path()), tree, sink, pump);
        QCOMPARE(result.status, LoadResult::Status::DefaultTreeBuilt);
        QVERIFY(sink.calls.isEmpty());
        QVERIFY(!window.isVisible());
    }

    void damagedLoadLeavesTheWindowUp()
    {
        QTemporaryDir dir;
        const DataFiles files = DataFiles::inFolder(dir.path());
        QVERIFY(QDir().mkpath(QFileInfo(files.dataFile).absolutePath()));
        QFile file(files.dataFile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray::fromHex("0200000004000000"));
        file.close();

        EventLoopPump pump;
        TfrmProgress window;
        WatchingSink sink(window);
        CardTree tree;
        QVERIFY(!LoadTreeViewWithData(files, tree, sink, pump).ok());
        QCOMPARE(sink.calls, QStringList({"show-load"}));
        QVERIFY(window.isVisible());
        QCOMPARE(label1(window)->text(), QStringLiteral("正在初始化数据，请稍候..."));
    }
};

QTEST_MAIN(TestProgressWindow)
#include "tst_progresswindow.moc"
