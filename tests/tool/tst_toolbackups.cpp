// kelvo-tool backups, run as a program: the list of the backup history, and
// the restore, which keeps the current file first and refuses while Kelvo runs.

#include "BackupHistory.h"
#include "CardRecords.h"
#include "CardTree.h"
#include "DataFile.h"
#include "DataFiles.h"
#include "InstanceLock.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace kelvo;

namespace {

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// One card class holding `cards` cards.
void fillTree(CardTree &tree, int cards)
{
    CardNode *cardClass = tree.addTopLevel("class", MakeCardClassRecord());
    for (int i = 0; i < cards; ++i)
        tree.addChild(cardClass, QByteArray("card ") + QByteArray::number(i), MakeCardRecord());
}

QByteArray fileOf(int cards)
{
    CardTree tree;
    fillTree(tree, cards);
    return SerializeTree(tree);
}

QStringList entriesOf(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

} // namespace

class TestToolBackups : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void listShowsEveryCopyNewestFirst();
    void listMarksADamagedCopy();
    void restorePutsTheCopyBackAndKeepsTheCurrentFile();
    void restoreRefusesWhileKelvoRuns();
    void restoreRefusesADamagedOrMissingCopy();
    void usageErrors();

private:
    Run run(const QStringList &args);
    // Three saves two hours apart: 5, 7 and 9 cards, so the history holds
    // the files of 5 and 7 cards.
    void makeHistory();

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QTemporaryDir> m_runtime; // the per-user runtime folder of the tool
    DataFiles m_files;
};

void TestToolBackups::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_runtime = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid() && m_runtime->isValid());
    QVERIFY(QFile::setPermissions(m_runtime->path(),
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
    m_files = DataFiles::inFolder(m_dir->path());
}

Run TestToolBackups::run(const QStringList &args)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_runtime->path());
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(KELVO_TOOL_PATH), args);
    if (!process.waitForStarted())
        qFatal("kelvo-tool did not start");
    process.closeWriteChannel();
    process.waitForFinished(-1);
    Run result;
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

void TestToolBackups::makeHistory()
{
    QDateTime now(QDate(2026, 12, 8), QTime(9, 0));
    const Clock clock = [&now] { return now; };
    for (int cards : {5, 7, 9}) {
        CardTree tree;
        fillTree(tree, cards);
        QVERIFY(SaveTreeViewWithData(m_files, tree, NoProgress(), NoMessagePump(), clock).ok());
        now = now.addSecs(2 * 3600);
    }
}

void TestToolBackups::listShowsEveryCopyNewestFirst()
{
    makeHistory();
    const Run listed = run({QStringLiteral("backups"), QStringLiteral("list"), m_files.dataFile});
    QCOMPARE(listed.exitCode, 0);
    const QString expected = QStringLiteral("2026-12-08 13:00:00\t7\t%1\tdb-20261208-130000.kelvo\n"
                                            "2026-12-08 11:00:00\t5\t%2\tdb-20261208-110000.kelvo\n")
                                 .arg(fileOf(7).size())
                                 .arg(fileOf(5).size());
    QCOMPARE(listed.out, expected);

    // An empty history lists nothing, and says so.
    const DataFiles other = DataFiles::inFolder(m_dir->filePath(QStringLiteral("other")));
    const Run empty = run({QStringLiteral("backups"), QStringLiteral("list"), other.dataFile});
    QCOMPARE(empty.exitCode, 0);
    QCOMPARE(empty.out, QString());
    QVERIFY2(empty.err.contains(QStringLiteral("no copies")), qPrintable(empty.err));
}

void TestToolBackups::listMarksADamagedCopy()
{
    makeHistory();
    const QString damaged = QDir(m_files.historyFolder).filePath(QStringLiteral("db-20261208-140000.kelvo"));
    QVERIFY(writeFile(damaged, fileOf(3).left(60)));
    const Run listed = run({QStringLiteral("backups"), QStringLiteral("list"), m_files.dataFile});
    QCOMPARE(listed.exitCode, 2);
    QVERIFY2(listed.out.startsWith(QStringLiteral("2026-12-08 14:00:00\tdamaged\t60\tdb-20261208-140000.kelvo\n")),
             qPrintable(listed.out));
    QCOMPARE(listed.out.count(QLatin1Char('\n')), 3);
    QVERIFY2(listed.err.contains(QStringLiteral("damaged data file at byte")), qPrintable(listed.err));
}

void TestToolBackups::restorePutsTheCopyBackAndKeepsTheCurrentFile()
{
    makeHistory();
    const QByteArray current = readFile(m_files.dataFile);
    QCOMPARE(current, fileOf(9));
    const QStringList before = entriesOf(m_files.historyFolder);

    const Run restored = run({QStringLiteral("backups"), QStringLiteral("restore"), m_files.dataFile,
                              QStringLiteral("db-20261208-110000.kelvo")});
    QCOMPARE(restored.exitCode, 0);
    QCOMPARE(readFile(m_files.dataFile), fileOf(5));
    QVERIFY2(restored.out.startsWith(QStringLiteral("restored ")), qPrintable(restored.out));
    // The file that was replaced is one more copy in the history.
    const QStringList after = entriesOf(m_files.historyFolder);
    QCOMPARE(after.size(), before.size() + 1);
    QString added;
    for (const QString &name : after)
        if (!before.contains(name))
            added = name;
    QVERIFY(BackupHistory::timeFromFileName(added));
    QCOMPARE(readFile(QDir(m_files.historyFolder).filePath(added)), current);
    QVERIFY(restored.out.contains(added));
    // Nothing else is left beside the data file, and the lock is free again.
    QCOMPARE(entriesOf(QFileInfo(m_files.dataFile).absolutePath()), QStringList{"Card.DB"});
    InstanceLock lock(InstanceLock::kelvoName(), m_runtime->path());
    QVERIFY(lock.tryLock().ok());

    // A copy given by its path works as well.
    lock.unlock();
    const QString elsewhere = m_dir->filePath(QStringLiteral("saved-elsewhere.kelvo"));
    QVERIFY(writeFile(elsewhere, fileOf(2)));
    QCOMPARE(run({QStringLiteral("backups"), QStringLiteral("restore"), m_files.dataFile, elsewhere}).exitCode, 0);
    QCOMPARE(readFile(m_files.dataFile), fileOf(2));
}

void TestToolBackups::restoreRefusesWhileKelvoRuns()
{
    makeHistory();
    const QByteArray current = readFile(m_files.dataFile);
    const QStringList before = entriesOf(m_files.historyFolder);
    {
        // The lock a running Kelvo holds.
        InstanceLock kelvo(InstanceLock::kelvoName(), m_runtime->path());
        QVERIFY(kelvo.tryLock().ok());
        const Run refused = run({QStringLiteral("backups"), QStringLiteral("restore"), m_files.dataFile,
                                 QStringLiteral("db-20261208-110000.kelvo")});
        QCOMPARE(refused.exitCode, 1);
        QVERIFY2(refused.err.contains(QStringLiteral("Kelvo is running")), qPrintable(refused.err));
        QVERIFY2(refused.err.contains(QStringLiteral("nothing restored")), qPrintable(refused.err));
        QCOMPARE(readFile(m_files.dataFile), current);
        QCOMPARE(entriesOf(m_files.historyFolder), before);
        // Listing reads only, and works while Kelvo runs.
        QCOMPARE(run({QStringLiteral("backups"), QStringLiteral("list"), m_files.dataFile}).exitCode, 0);
    }
    QCOMPARE(run({QStringLiteral("backups"), QStringLiteral("restore"), m_files.dataFile,
                  QStringLiteral("db-20261208-110000.kelvo")})
                 .exitCode,
             0);
    QCOMPARE(readFile(m_files.dataFile), fileOf(5));
}

void TestToolBackups::restoreRefusesADamagedOrMissingCopy()
{
    makeHistory();
    const QByteArray current = readFile(m_files.dataFile);
    const QString damaged = QDir(m_files.historyFolder).filePath(QStringLiteral("db-20261208-140000.kelvo"));
    QVERIFY(writeFile(damaged, fileOf(3).left(60)));
    const QString empty = QDir(m_files.historyFolder).filePath(QStringLiteral("db-20261208-150000.kelvo"));
    QVERIFY(writeFile(empty, QByteArray()));
    const QStringList before = entriesOf(m_files.historyFolder);
    for (const QString &copy : {QStringLiteral("db-20261208-140000.kelvo"), QStringLiteral("db-20261208-150000.kelvo"),
                                QStringLiteral("db-20991231-000000.kelvo")}) {
        const Run refused = run({QStringLiteral("backups"), QStringLiteral("restore"), m_files.dataFile, copy});
        QCOMPARE(refused.exitCode, 2);
        QVERIFY2(refused.err.contains(QStringLiteral("nothing restored")), qPrintable(refused.err));
        QCOMPARE(readFile(m_files.dataFile), current);
        QCOMPARE(entriesOf(m_files.historyFolder), before);
    }
}

void TestToolBackups::usageErrors()
{
    for (const QStringList &args :
         {QStringList{QStringLiteral("backups")}, QStringList{QStringLiteral("backups"), QStringLiteral("list")},
          QStringList{QStringLiteral("backups"), QStringLiteral("restore"), m_files.dataFile},
          QStringList{QStringLiteral("backups"), QStringLiteral("prune"), m_files.dataFile},
          QStringList{QStringLiteral("backups"), QStringLiteral("list"), m_files.dataFile,
                      QStringLiteral("--bogus")}}) {
        const Run wrong = run(args);
        QCOMPARE(wrong.exitCode, 1);
        QVERIFY2(wrong.err.contains(QStringLiteral("Usage: kelvo-tool backups")), qPrintable(wrong.err));
    }
    const Run help = run({QStringLiteral("backups"), QStringLiteral("--help")});
    QCOMPARE(help.exitCode, 0);
    QVERIFY(help.out.contains(QStringLiteral("kelvo-tool backups restore DATAFILE COPY")));
}

QTEST_GUILESS_MAIN(TestToolBackups)
#include "tst_toolbackups.moc"
