// Figures of the first showing and of the save on close with a large card
// tree. Reports only; the test fails only when the windows do not do their
// job (wrong tree after the load, nothing written on close).
// KELVO_FIGURES_CARDS sets the number of cards (default 20000).

#include "CardRecords.h"
#include "CardTree.h"
#include "DataFile.h"
#include "FakeTrayIcon.h"
#include "Gb18030.h"
#include "MainState.h"
#include "RecordingShell.h"
#include "RecordingSpreadsheet.h"
#include "ScriptedDialogs.h"
#include "Session.h"
#include "StoreTestUtil.h"
#include "TfrmMain.h"
#include "TfrmProgress.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace kelvo;

namespace {

qint64 peakResidentKiB()
{
    const qint64 peak = test::processStatusBytes("VmHWM:");
    return peak < 0 ? -1 : peak / 1024;
}

int cardsWanted()
{
    bool ok = false;
    const int n = qEnvironmentVariableIntValue("KELVO_FIGURES_CARDS", &ok);
    return ok && n > 0 ? n : 20000;
}

} // namespace

class TestStartupFigures : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void loadShowAndSaveLargeTree()
    {
        QTemporaryDir dir;
        const DataFiles files = DataFiles::inFolder(dir.path());
        const int cards = cardsWanted();
        {
            CardTree tree;
            CreateDefaultTree(tree);
            CardNode *cls = nullptr;
            for (int i = 0; i < cards; ++i) {
                if (i % 500 == 0)
                    cls =
                        tree.addTopLevel(gb18030::encode(QStringLiteral("类别%1").arg(i / 500)), MakeCardClassRecord());
                auto record = MakeCardRecord();
                const QByteArray name = gb18030::encode(QStringLiteral("张%1").arg(i));
                record->setField(Field::Name, name);
                record->setField(Field::DW, gb18030::encode(QStringLiteral("北京市某某科技有限公司")));
                record->setField(Field::DZ, gb18030::encode(QStringLiteral("北京市海淀区中关村大街1号")));
                record->setField(Field::SJ, QByteArray::number(13800000000LL + i));
                record->setField(Field::EMail, "user" + QByteArray::number(i) + "@example.com");
                CardNode *node = tree.addChild(cls, name, std::move(record));
                tree.setDisplayIndexes(node, 1, 1, 1, 1);
            }
            QVERIFY(SaveTreeViewWithData(files, tree).ok());
        }
        const qint64 before = peakResidentKiB();

        ScriptedDialogs dialogs;
        RecordingShell shell;
        RecordingSpreadsheet spreadsheet;
        FakeTrayIcon tray(true);
        QElapsedTimer timer;
        timer.start();
        Session session({dialogs, shell, tray, spreadsheet, files});
        session.showMainWindow();
        QVERIFY(QTest::qWaitForWindowExposed(session.mainWindow()));
        const qint64 showMs = timer.elapsed();
        const int count = session.mainWindow()->cardTree().count();
        QCOMPARE(count, 1 + (cards + 499) / 500 + cards);
        QCOMPARE(session.mainWindow()->selectedNode(), session.mainWindow()->cardTree().lastInAbsoluteOrder());

        timer.restart();
        QVERIFY(SaveTreeViewWithData(files, session.mainWindow()->cardTree()).ok());
        const qint64 bareSaveMs = timer.elapsed();

        // One edit, so that the close saves.
        CardTree &shown = session.mainWindow()->cardTree();
        QVERIFY(shown.setField(shown.lastInAbsoluteOrder(), Field::Other, "changed"));
        QVERIFY(session.mainWindow()->isModified());
        timer.restart();
        session.mainWindow()->close();
        const qint64 saveMs = timer.elapsed();
        QVERIFY(!session.mainWindow()->isModified());
        QVERIFY(dialogs.shown().isEmpty());

        qInfo("%d nodes: first showing (windows made, file loaded, window exposed) %lld ms; "
              "save on close %lld ms (%d repaints of the progress window; the same save without any window "
              "%lld ms); "
              "peak resident memory %lld KiB before, %lld KiB after",
              count, showMs, saveMs, session.progressWindow()->repaintCount(), bareSaveMs, before, peakResidentKiB());
    }
};

QTEST_MAIN(TestStartupFigures)
#include "tst_startupfigures.moc"
