// The kelvo program as a process: one running copy per user, exit code 0 for
// a second start and for a termination request, the data file made on the
// first start. Each test runs a copy of the program in its own folder with a
// private runtime folder and home.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr int StartTimeoutMs = 30000;

} // namespace

class TestKelvoProcess : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_program;
    QString m_runtime;

    // The process id recorded in the lock file, 0 when there is none.
    qint64 lockOwner() const
    {
        QFile file(m_runtime + QStringLiteral("/Kelvo.lock"));
        if (!file.open(QIODevice::ReadOnly))
            return 0;
        return file.readLine().trimmed().toLongLong();
    }

    QString path(const QString &relative) const { return QDir(m_dir->path()).filePath(relative); }

    void startKelvo(QProcess &process) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime);
        env.insert(QStringLiteral("HOME"), path(QStringLiteral("home")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), path(QStringLiteral("home/.local/share")));
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(m_program, QStringList());
    }

private Q_SLOTS:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_program = path(QStringLiteral("kelvo"));
        QVERIFY(QFile::copy(QStringLiteral(KELVO_PROGRAM), m_program));
        QVERIFY(QFile::setPermissions(m_program, QFile::permissions(m_program) | QFileDevice::ExeOwner));
        m_runtime = path(QStringLiteral("run"));
        QVERIFY(QDir().mkpath(m_runtime));
        QVERIFY(
            QFile::setPermissions(m_runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
        QVERIFY(QDir().mkpath(path(QStringLiteral("home"))));
    }

    void cleanup() { m_dir.reset(); }

    void secondStartExitsAtOnceWhileFirstRuns()
    {
        QProcess first;
        startKelvo(first);
        QVERIFY(first.waitForStarted(StartTimeoutMs));
        // The first copy is up once it has made its (empty) data file.
        const QString dataFile = path(QStringLiteral("SavedCard/Card.DB"));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(dataFile), StartTimeoutMs);
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(m_runtime + QStringLiteral("/Kelvo.lock")), StartTimeoutMs);

        QProcess second;
        startKelvo(second);
        QVERIFY(second.waitForFinished(StartTimeoutMs));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(first.state(), QProcess::Running);
        QCOMPARE(QFileInfo(dataFile).size(), 0);

        // A termination request ends the first copy with exit code 0.
        first.terminate();
        QVERIFY(first.waitForFinished(StartTimeoutMs));
        QCOMPARE(first.exitStatus(), QProcess::NormalExit);
        QCOMPARE(first.exitCode(), 0);

        // With the first copy gone, a new start runs again.
        QProcess third;
        startKelvo(third);
        QVERIFY(third.waitForStarted(StartTimeoutMs));
        QTRY_COMPARE_WITH_TIMEOUT(lockOwner(), third.processId(), StartTimeoutMs);
        QCOMPARE(third.state(), QProcess::Running);
        third.terminate();
        QVERIFY(third.waitForFinished(StartTimeoutMs));
        QCOMPARE(third.exitCode(), 0);
    }

    void staleLockOfACrashedCopyIsTakenOver()
    {
        QProcess first;
        startKelvo(first);
        QVERIFY(first.waitForStarted(StartTimeoutMs));
        QTRY_COMPARE_WITH_TIMEOUT(lockOwner(), first.processId(), StartTimeoutMs);
        first.kill(); // no chance to clean up
        QVERIFY(first.waitForFinished(StartTimeoutMs));
        QVERIFY(QFileInfo::exists(m_runtime + QStringLiteral("/Kelvo.lock")));

        QProcess next;
        startKelvo(next);
        QVERIFY(next.waitForStarted(StartTimeoutMs));
        QTRY_COMPARE_WITH_TIMEOUT(lockOwner(), next.processId(), StartTimeoutMs);
        QCOMPARE(next.state(), QProcess::Running);
        next.terminate();
        QVERIFY(next.waitForFinished(StartTimeoutMs));
        QCOMPARE(next.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(TestKelvoProcess)
#include "tst_kelvo_process.moc"
