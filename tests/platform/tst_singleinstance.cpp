// One running copy per user: the lock, the request to show the running copy,
// a lock left behind by a crashed copy, and termination signals turned into
// events.

#include "InstanceLock.h"
#include "SingleInstance.h"
#include "TerminationSignals.h"

#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QLockFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using namespace kelvo;

class TestSingleInstance : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void secondCopyIsRefusedAndCanAskTheFirst()
    {
        QTemporaryDir dir;
        SingleInstance first(QStringLiteral("Kelvo"), dir.path());
        QVERIFY(first.acquire());
        QVERIFY(first.isPrimary());
        QVERIFY(QFileInfo::exists(first.lockFilePath()));

        SingleInstance second(QStringLiteral("Kelvo"), dir.path());
        QVERIFY(!second.acquire());
        QVERIFY(!second.isPrimary());

        QSignalSpy shown(&first, &SingleInstance::showRequested);
        QVERIFY(second.askRunningCopyToShow());
        QVERIFY(shown.wait());
        QCOMPARE(shown.size(), 1);

        // Another name is another lock.
        SingleInstance other(QStringLiteral("Other"), dir.path());
        QVERIFY(other.acquire());
    }

    void toolAndProgramShareOneLock()
    {
        // The same file by default and in a given folder, so kelvo-tool and
        // Kelvo never disagree about whether Kelvo runs.
        QCOMPARE(SingleInstance(InstanceLock::kelvoName()).lockFilePath(), InstanceLock().filePath());
        QTemporaryDir dir;
        SingleInstance program(InstanceLock::kelvoName(), dir.path());
        InstanceLock tool(InstanceLock::kelvoName(), dir.path());
        QCOMPARE(program.lockFilePath(), tool.filePath());

        // While Kelvo runs, the tool is told so.
        QVERIFY(program.acquire());
        const Result<> refused = tool.tryLock();
        QCOMPARE(refused.error().code, ErrorCode::InUse);
        QCOMPARE(refused.error().path, program.lockFilePath());
        QVERIFY(!tool.isLocked());
    }

    void programCannotStartWhileTheToolHoldsTheLock()
    {
        QTemporaryDir dir;
        InstanceLock tool(InstanceLock::kelvoName(), dir.path());
        QVERIFY(tool.tryLock().ok());
        QVERIFY(tool.isLocked());
        SingleInstance program(InstanceLock::kelvoName(), dir.path());
        QVERIFY(!program.acquire());
        tool.unlock();
        QVERIFY(!tool.isLocked());
        QVERIFY(program.acquire());
    }

    void lockIsFreedWithTheCopy()
    {
        QTemporaryDir dir;
        {
            SingleInstance first(QStringLiteral("Kelvo"), dir.path());
            QVERIFY(first.acquire());
        }
        SingleInstance next(QStringLiteral("Kelvo"), dir.path());
        QVERIFY(next.acquire());
    }

    void staleLockIsTakenOver()
    {
        QTemporaryDir dir;
        // A lock whose process has gone: the id of a finished child process.
        QProcess gone;
        gone.start(QStringLiteral("/bin/true"), QStringList());
        QVERIFY(gone.waitForStarted());
        const qint64 pid = gone.processId();
        QVERIFY(gone.waitForFinished());
        const QString lockPath = QDir(dir.path()).filePath(QStringLiteral("Kelvo.lock"));
        QFile lock(lockPath);
        QVERIFY(lock.open(QIODevice::WriteOnly));
        lock.write(QByteArray::number(pid) + "\nkelvo\n" + QSysInfo::machineHostName().toUtf8() + "\n");
        lock.close();
        // A socket file left behind as well.
        QFile socket(QDir(dir.path()).filePath(QStringLiteral("Kelvo.socket")));
        QVERIFY(socket.open(QIODevice::WriteOnly));
        socket.close();

        SingleInstance next(QStringLiteral("Kelvo"), dir.path());
        QVERIFY(next.acquire());
        SingleInstance later(QStringLiteral("Kelvo"), dir.path());
        QVERIFY(!later.acquire());
        QSignalSpy shown(&next, &SingleInstance::showRequested);
        QVERIFY(later.askRunningCopyToShow());
        QVERIFY(shown.wait());
    }

    void noRunningCopyToAsk()
    {
        QTemporaryDir dir;
        SingleInstance lonely(QStringLiteral("Kelvo"), dir.path());
        QVERIFY(!lonely.askRunningCopyToShow(200));
    }

    void garbageOnTheSocketIsIgnored()
    {
        QTemporaryDir dir;
        SingleInstance first(QStringLiteral("Kelvo"), dir.path());
        QVERIFY(first.acquire());
        QSignalSpy shown(&first, &SingleInstance::showRequested);
        QLocalSocket socket;
        socket.connectToServer(first.serverPath());
        QVERIFY(socket.waitForConnected(2000));
        socket.write(QByteArray(100000, 'x'));
        socket.waitForBytesWritten(2000);
        socket.disconnectFromServer();
        // A proper request afterwards still works, and only it counts.
        SingleInstance second(QStringLiteral("Kelvo"), dir.path());
        QVERIFY(second.askRunningCopyToShow());
        QVERIFY(shown.wait());
        QCOMPARE(shown.size(), 1);
    }

    void terminationSignalsArriveAsEvents()
    {
        TerminationSignals termination;
        QVERIFY(termination.isInstalled());
        QSignalSpy spy(&termination, &TerminationSignals::terminationRequested);
        ::raise(SIGTERM);
        QVERIFY(spy.wait());
        QCOMPARE(spy.at(0).at(0).toInt(), SIGTERM);
        ::raise(SIGINT);
        QVERIFY(spy.wait());
        QCOMPARE(spy.at(1).at(0).toInt(), SIGINT);
    }
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
