#include "BackupHistory.h"
#include "CardTree.h"
#include "DataFile.h"
#include "DataFiles.h"
#include "FileSizeLimit.h"
#include "StoreTestUtil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

using namespace kelvo;
using namespace kelvo::test;

namespace {

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

QDateTime at(int year, int month, int day, int hour, int minute = 0, int second = 0)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second));
}

// A clock the test moves by hand.
struct FakeClock
{
    QDateTime now;
    Clock clock()
    {
        return [this] { return now; };
    }
};

QList<QDateTime> timesOf(const std::vector<HistoryCopy> &copies)
{
    QList<QDateTime> times;
    for (const HistoryCopy &copy : copies)
        times.append(copy.time);
    return times;
}

} // namespace

class TestBackupHistory : public QObject
{
    Q_OBJECT

private slots:
    void copyNames();
    void ruleKeepsTheNewestTenAndOnePerDay();
    void manySavesOverTwoMonths();
    void atMostOneCopyPerHour();
    void clockPutBack();
    void forcedCopiesInTheSameSecond();
    void otherFilesAreLeftAlone();
    void emptyOrMissingDataFileMakesNoCopy();
    void saveGoesOnWhenTheHistoryCannotBeWritten();
    void saveGoesOnWhenTheDiskIsFull();
};

void TestBackupHistory::copyNames()
{
    QCOMPARE(BackupHistory::fileNameFor(at(2026, 12, 8, 15, 30, 12)), QStringLiteral("db-20261208-153012.kelvo"));
    QCOMPARE(BackupHistory::timeFromFileName(QStringLiteral("db-20261208-153012.kelvo")), at(2026, 12, 8, 15, 30, 12));
    QCOMPARE(BackupHistory::timeFromFileName(QStringLiteral("db-20261208-153012-2.kelvo")),
             at(2026, 12, 8, 15, 30, 12));
    for (const char *name :
         {"db.kelvo", "Card.DB", "db-20261308-153012.kelvo", "db-20261208-253012.kelvo", "db-20261208-153012.kelvo.tmp",
          ".db-20261208-153012.kelvo.1a2b3c4d.tmp", "db-2026120-153012.kelvo", "xdb-20261208-153012.kelvo"})
        QVERIFY2(!BackupHistory::timeFromFileName(QString::fromLatin1(name)), name);
}

void TestBackupHistory::ruleKeepsTheNewestTenAndOnePerDay()
{
    const QDateTime now = at(2026, 12, 31, 12);
    // Newest first: four copies a day (at 20, 14, 8 and 2 o'clock) for sixty days.
    std::vector<QDateTime> times;
    for (int day = 0; day < 60; ++day) {
        for (int hour : {20, 14, 8, 2})
            times.push_back(QDateTime(now.date().addDays(-day), QTime(hour, 0)));
    }
    times.erase(times.begin()); // today's 20 o'clock is still to come
    const std::vector<bool> kept = BackupHistory::keptByRule(times, now);

    QSet<QDate> daysKept;
    int count = 0;
    for (size_t i = 0; i < times.size(); ++i) {
        if (!kept[i])
            continue;
        ++count;
        if (i >= 10) {
            // Beyond the newest ten: only the newest copy of a day of the last thirty.
            QVERIFY2(times[i].date() > now.date().addDays(-30), qPrintable(times[i].toString()));
            QVERIFY2(times[i].time() == QTime(20, 0), qPrintable(times[i].toString()));
        }
        daysKept.insert(times[i].date());
    }
    for (size_t i = 0; i < 10; ++i)
        QVERIFY(kept[i]);
    for (int day = 0; day < 30; ++day)
        QVERIFY(daysKept.contains(now.date().addDays(-day)));
    QVERIFY(!daysKept.contains(now.date().addDays(-30)));
    // The newest ten reach back to the day before yesterday; each of the 27
    // older days of the thirty adds its newest copy.
    QCOMPARE(count, 10 + 27);

    // Fewer than ten copies: all are kept, however old.
    const std::vector<QDateTime> few{at(2020, 1, 1, 0), at(2019, 1, 1, 0)};
    QCOMPARE(BackupHistory::keptByRule(few, now), std::vector<bool>({true, true}));
}

void TestBackupHistory::manySavesOverTwoMonths()
{
    // A save every 40 minutes, four hours a day, for sixty days, through
    // the save itself, with the tree changing before each save.
    QTemporaryDir base;
    const DataFiles files = DataFiles::inFolder(base.path());
    FakeClock clock;
    CardTree tree;
    buildFromOutline(tree, "A");
    QVERIFY(SaveTreeViewWithData(files, tree, NoProgress(), NoMessagePump(), clock.clock()).ok());

    QList<QDateTime> made;               // when copies were made
    QHash<QString, QByteArray> expected; // what each copy must hold
    const QDateTime start = at(2026, 3, 1, 9);
    for (int day = 0; day < 60; ++day) {
        for (int minute = 0; minute < 4 * 60; minute += 40) {
            clock.now = start.addDays(day).addSecs(minute * 60);
            const QByteArray previous = readFile(files.dataFile);
            tree.addTopLevel(QByteArray::number(day * 1000 + minute));
            const SaveResult result = SaveTreeViewWithData(files, tree, NoProgress(), NoMessagePump(), clock.clock());
            QVERIFY2(result.ok() && result.backup.ok() && result.history.ok(),
                     qPrintable(result.history.error().message()));
            const QString name = QDir(files.historyFolder).filePath(BackupHistory::fileNameFor(clock.now));
            if (QFileInfo::exists(name) && !expected.contains(name)) {
                made.append(clock.now);
                expected.insert(name, previous);
            }
        }
    }

    // At most one copy per hour.
    for (qsizetype i = 1; i < made.size(); ++i)
        QVERIFY2(made[i - 1].secsTo(made[i]) >= 3600, qPrintable(made[i].toString()));

    const BackupHistory history(files.historyFolder, clock.clock());
    const std::vector<HistoryCopy> copies = history.copies();
    const QList<QDateTime> times = timesOf(copies);
    // The ten newest copies made are there ...
    QList<QDateTime> newestMade = made.mid(made.size() - 10);
    std::reverse(newestMade.begin(), newestMade.end());
    QCOMPARE(times.mid(0, 10), newestMade);
    // ... and one copy for each of the last thirty days, the day's last one.
    const QDate today = clock.now.date();
    for (int day = 0; day < 30; ++day) {
        const QDate date = today.addDays(-day);
        QDateTime lastOfDay;
        for (const QDateTime &time : made)
            if (time.date() == date)
                lastOfDay = time;
        QVERIFY(times.contains(lastOfDay));
    }
    // Nothing else.
    for (const QDateTime &time : times.mid(10)) {
        QVERIFY(time.date() > today.addDays(-30));
        QCOMPARE(times.count(time), 1);
    }
    QVERIFY(copies.size() <= size_t(10 + 30));
    // Every copy holds the data file as it was before the save that made it.
    for (const HistoryCopy &copy : copies)
        QCOMPARE(readFile(copy.path), expected.value(copy.path));
    // The one specified backup is the file before the last save, as ever.
    tree.addTopLevel("last");
    const QByteArray beforeLast = readFile(files.dataFile);
    clock.now = clock.now.addSecs(60);
    QVERIFY(SaveTreeViewWithData(files, tree, NoProgress(), NoMessagePump(), clock.clock()).ok());
    QCOMPARE(readFile(files.backupFile), beforeLast);
}

void TestBackupHistory::atMostOneCopyPerHour()
{
    QTemporaryDir base;
    const QString data = base.filePath(QStringLiteral("Card.DB"));
    QVERIFY(writeFile(data, "one"));
    FakeClock clock{at(2026, 5, 1, 10)};
    BackupHistory history(base.filePath(QStringLiteral("history")), clock.clock());

    Result<QString> kept = history.keep(data);
    QVERIFY(kept.ok());
    QCOMPARE(QFileInfo(kept.value()).fileName(), QStringLiteral("db-20260501-100000.kelvo"));
    QCOMPARE(readFile(kept.value()), QByteArray("one"));

    clock.now = at(2026, 5, 1, 10, 59, 59);
    kept = history.keep(data);
    QVERIFY(kept.ok());
    QVERIFY(kept.value().isEmpty());
    clock.now = at(2026, 5, 1, 11);
    kept = history.keep(data);
    QCOMPARE(QFileInfo(kept.value()).fileName(), QStringLiteral("db-20260501-110000.kelvo"));
    QCOMPARE(history.copies().size(), size_t(2));
}

void TestBackupHistory::clockPutBack()
{
    QTemporaryDir base;
    const QString data = base.filePath(QStringLiteral("Card.DB"));
    QVERIFY(writeFile(data, "x"));
    FakeClock clock{at(2030, 1, 1, 12)};
    BackupHistory history(base.filePath(QStringLiteral("history")), clock.clock());
    QVERIFY(!history.keep(data).value().isEmpty());
    // Back to the present: a copy "from the future" does not stop new ones.
    clock.now = at(2026, 1, 1, 12);
    QVERIFY(!history.keep(data).value().isEmpty());
    QCOMPARE(history.copies().size(), size_t(2));
}

void TestBackupHistory::forcedCopiesInTheSameSecond()
{
    QTemporaryDir base;
    const QString data = base.filePath(QStringLiteral("Card.DB"));
    FakeClock clock{at(2026, 5, 1, 10)};
    BackupHistory history(base.filePath(QStringLiteral("history")), clock.clock());
    QStringList paths;
    for (const char *content : {"first", "second", "third"}) {
        QVERIFY(writeFile(data, content));
        const Result<QString> kept = history.keep(data, BackupHistory::Spacing::Always);
        QVERIFY(kept.ok());
        paths.append(kept.value());
    }
    QCOMPARE(QFileInfo(paths[1]).fileName(), QStringLiteral("db-20260501-100000-2.kelvo"));
    QCOMPARE(readFile(paths[0]), QByteArray("first"));
    QCOMPARE(readFile(paths[2]), QByteArray("third"));
    // Newest first: the later copies of the same second come first.
    const std::vector<HistoryCopy> copies = history.copies();
    QCOMPARE(copies.size(), size_t(3));
    QCOMPARE(copies[0].path, paths[2]);
    QCOMPARE(copies[2].path, paths[0]);
}

void TestBackupHistory::otherFilesAreLeftAlone()
{
    QTemporaryDir base;
    const QString folder = base.filePath(QStringLiteral("history"));
    const QString data = base.filePath(QStringLiteral("Card.DB"));
    QVERIFY(writeFile(data, "x"));
    for (const char *name : {"notes.txt", "db-old.kelvo", "db-20000101-000000.kelvo.bak"})
        QVERIFY(writeFile(QDir(folder).filePath(QString::fromLatin1(name)), "mine"));
    // Old copies beyond the rule go; the user's own files stay.
    for (int i = 0; i < 15; ++i)
        QVERIFY(writeFile(QDir(folder).filePath(BackupHistory::fileNameFor(at(2001, 1, 1, 0).addDays(i))), "old"));
    FakeClock clock{at(2026, 5, 1, 10)};
    BackupHistory history(folder, clock.clock());
    QVERIFY(history.keep(data).ok());
    QCOMPARE(history.copies().size(), size_t(10));
    for (const char *name : {"notes.txt", "db-old.kelvo", "db-20000101-000000.kelvo.bak"})
        QCOMPARE(readFile(QDir(folder).filePath(QString::fromLatin1(name))), QByteArray("mine"));
    QVERIFY(!QFileInfo::exists(QDir(folder).filePath(BackupHistory::fileNameFor(at(2001, 1, 1, 0)))));
}

void TestBackupHistory::emptyOrMissingDataFileMakesNoCopy()
{
    QTemporaryDir base;
    const QString folder = base.filePath(QStringLiteral("history"));
    BackupHistory history(folder);
    const QString data = base.filePath(QStringLiteral("Card.DB"));
    QVERIFY(history.keep(data).ok());
    QVERIFY(writeFile(data, QByteArray()));
    QVERIFY(history.keep(data, BackupHistory::Spacing::Always).value().isEmpty());
    QVERIFY(!QFileInfo::exists(folder));
}

void TestBackupHistory::saveGoesOnWhenTheHistoryCannotBeWritten()
{
    QTemporaryDir base;
    const DataFiles files = DataFiles::inFolder(base.path());
    CardTree old;
    buildFromOutline(old, "OLD");
    QVERIFY(writeFile(files.dataFile, SerializeTree(old)));
    // "history" is a plain file: no copy can be made below it.
    QVERIFY(writeFile(files.historyFolder, "in the way"));
    CardTree tree;
    buildFromOutline(tree, "NEW");
    const SaveResult result = SaveTreeViewWithData(files, tree);
    QVERIFY(result.ok());
    QVERIFY(result.backup.ok());
    QCOMPARE(result.history.error().code, ErrorCode::FolderNotCreated);
    QCOMPARE(result.history.error().path, files.historyFolder);
    QCOMPARE(readFile(files.dataFile), SerializeTree(tree));
    QCOMPARE(readFile(files.backupFile), SerializeTree(old));
    QCOMPARE(readFile(files.historyFolder), QByteArray("in the way"));
}

void TestBackupHistory::saveGoesOnWhenTheDiskIsFull()
{
#ifdef KELVO_HAVE_FILE_SIZE_LIMIT
    // The previous file is too large to be copied anywhere; the new one
    // still fits: both backups fail, the save succeeds.
    QTemporaryDir base;
    const DataFiles files = DataFiles::inFolder(base.path());
    CardTree big;
    for (int i = 0; i < 40; ++i)
        big.addTopLevel(QByteArray(200, 'b'));
    const QByteArray old = SerializeTree(big);
    QVERIFY(old.size() > 8192);
    QVERIFY(writeFile(files.dataFile, old));
    QVERIFY(QDir().mkpath(files.historyFolder));
    CardTree small;
    buildFromOutline(small, "NEW");
    SaveResult result;
    {
        FileSizeLimit limit(4096);
        QVERIFY(limit.active());
        result = SaveTreeViewWithData(files, small);
    }
    QVERIFY2(result.ok(), qPrintable(result.saved.error().message()));
    QCOMPARE(result.backup.error().code, ErrorCode::WriteFailed);
    QCOMPARE(result.history.error().code, ErrorCode::WriteFailed);
    QCOMPARE(readFile(files.dataFile), SerializeTree(small));
    QVERIFY(!QFileInfo::exists(files.backupFile));
    QCOMPARE(QDir(files.historyFolder).entryList(QDir::Files | QDir::Hidden), QStringList());
#else
    QSKIP("needs a file size limit");
#endif
}

QTEST_GUILESS_MAIN(TestBackupHistory)
#include "tst_backuphistory.moc"
