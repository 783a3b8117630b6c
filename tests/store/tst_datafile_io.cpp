#include "CardRecords.h"
#include "CardTree.h"
#include "DataFile.h"
#include "DataFiles.h"
#include "StoreTestUtil.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#ifdef Q_OS_LINUX
#include <csignal>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

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

QByteArray bytesOf(const QString &outline)
{
    CardTree tree;
    buildFromOutline(tree, outline);
    return SerializeTree(tree);
}

bool runningAsRoot()
{
#ifdef Q_OS_UNIX
    return ::geteuid() == 0;
#else
    return false;
#endif
}

#ifdef Q_OS_LINUX
bool setImmutable(const QString &path, bool on)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK);
    if (fd < 0)
        return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return ok;
}
#endif

// Makes a file or folder unwritable for as long as it lives: by its
// permissions, or for the superuser, whom permissions do not bind, by the
// file system's immutable flag where the file system has one.
class WriteProtection
{
public:
    explicit WriteProtection(const QString &path)
        : m_path(path)
        , m_permissions(QFile::permissions(path))
    {
        if (!runningAsRoot()) {
            m_active = QFile::setPermissions(path,
                                             m_permissions
                                                 & ~(QFileDevice::WriteOwner | QFileDevice::WriteUser
                                                     | QFileDevice::WriteGroup | QFileDevice::WriteOther));
            m_byFlag = false;
        } else {
#ifdef Q_OS_LINUX
            m_active = setImmutable(path, true);
#endif
        }
    }
    ~WriteProtection()
    {
        if (!m_active)
            return;
#ifdef Q_OS_LINUX
        if (m_byFlag) {
            setImmutable(m_path, false);
            return;
        }
#endif
        QFile::setPermissions(m_path, m_permissions);
    }
    bool active() const
    {
        return m_active;
    }

private:
    QString m_path;
    QFileDevice::Permissions m_permissions;
    bool m_active = false;
    bool m_byFlag = true;
};

} // namespace

class TestDataFileIo : public QObject
{
    Q_OBJECT

private slots:
    void paths();
    void firstStartCreatesEmptyFile();
    void emptyFileReadsAsNoData();
    void missingFileCannotBeCreated();
    void readOnlyDataFileIsRead();
    void dataFileThatIsAFolder();
    void loadAppendsAndReportsProgress();
    void damagedFileKeepsProgressOpen();
    void saveMakesBackupOnlyWhenThereIsData();
    void saveCreatesMissingFolders();
    void saveIntoReadOnlyFolderFailsLoudly();
    void saveRunningOutOfSpaceKeepsOldFile();
    void saveProgressSequence();
    void backupFailureDoesNotStopSave();
    void recoveryKeepsDamagedFileAndRestoresBackup();
    void recoveryWithoutBackup();
    void largeTreeRoundTrip();
};

void TestDataFileIo::paths()
{
    QTemporaryDir base;
    QVERIFY(base.isValid());
    const DataFiles files = DataFiles::inFolder(base.path());
    QCOMPARE(files.dataFile, base.path() + QStringLiteral("/SavedCard/Card.DB"));
    QCOMPARE(files.backupFile, base.path() + QStringLiteral("/BackUP/db.kelvo"));
    QCOMPARE(DataFiles::inFolder(base.path() + '/').dataFile, files.dataFile);

    QTemporaryDir perUser;
    QCOMPARE(DataFiles::forProgram(base.path(), perUser.path()).dataFile, files.dataFile);
    const QString missing = base.path() + QStringLiteral("/no-such-folder");
    QCOMPARE(DataFiles::forProgram(missing, perUser.path()).dataFile,
             perUser.path() + QStringLiteral("/SavedCard/Card.DB"));
    if (!runningAsRoot()) {
        QFile::setPermissions(base.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        QCOMPARE(DataFiles::forProgram(base.path(), perUser.path()).backupFile,
                 perUser.path() + QStringLiteral("/BackUP/db.kelvo"));
        QFile::setPermissions(base.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
}

void TestDataFileIo::firstStartCreatesEmptyFile()
{
    QTemporaryDir base;
    const DataFiles files = DataFiles::inFolder(base.path() + QStringLiteral("/deeper/program"));
    CardTree tree;
    RecordingProgress progress;
    const LoadResult result = LoadTreeViewWithData(files, tree, progress, progress);
    QCOMPARE(result.status, LoadResult::Status::DefaultTreeBuilt);
    QVERIFY(result.ok());
    QVERIFY(QFileInfo::exists(files.dataFile));
    QCOMPARE(QFileInfo(files.dataFile).size(), 0);
    QCOMPARE(tree.count(), 1);
    QVERIFY(IsReservedCardClass(tree.firstTopLevel()));
    QVERIFY(progress.calls.isEmpty()); // no progress shown
}

void TestDataFileIo::emptyFileReadsAsNoData()
{
    QTemporaryDir base;
    const DataFiles files = DataFiles::inFolder(base.path());
    QVERIFY(writeFile(files.dataFile, QByteArray()));
    CardTree tree;
    RecordingProgress progress;
    QCOMPARE(LoadTreeViewWithData(files, tree, progress, progress).status, LoadResult::Status::DefaultTreeBuilt);
    QCOMPARE(tree.count(), 1);
    QVERIFY(IsReservedCardClass(tree.firstTopLevel()));
    QVERIFY(progress.calls.isEmpty());

    // Four zero bytes are a file with no nodes: no default tree.
    QVERIFY(writeFile(files.dataFile, QByteArray(4, '\0')));
    CardTree empty;
    QCOMPARE(LoadTreeViewWithData(files, empty).status, LoadResult::Status::Read);
    QVERIFY(empty.isEmpty());
}

void TestDataFileIo::missingFileCannotBeCreated()
{
    QTemporaryDir base;
    // "SavedCard" is a plain file here, so the folder cannot be made.
    QVERIFY(writeFile(base.path() + QStringLiteral("/SavedCard"), "not a folder"));
    const DataFiles files = DataFiles::inFolder(base.path());
    CardTree tree;
    const LoadResult result = LoadTreeViewWithData(files, tree);
    QCOMPARE(result.status, LoadResult::Status::Damaged);
    QVERIFY(!result.error.message().isEmpty());
    QVERIFY(tree.isEmpty());
    QCOMPARE(readFile(base.path() + QStringLiteral("/SavedCard")), QByteArray("not a folder"));
}

void TestDataFileIo::readOnlyDataFileIsRead()
{
    QTemporaryDir base;
    const DataFiles files = DataFiles::inFolder(base.path());
    QVERIFY(writeFile(files.dataFile, bytesOf("A .b")));
    WriteProtection protection(files.dataFile);
    if (!protection.active())
        QSKIP("cannot make a file unwritable here");
    QVERIFY(!QFile(files.dataFile).open(QIODevice::ReadWrite));
    CardTree tree;
    QCOMPARE(LoadTreeViewWithData(files, tree).status, LoadResult::Status::Read);
    QCOMPARE(outline(tree), QStringLiteral("A .b"));
}

void TestDataFileIo::dataFileThatIsAFolder()
{
    QTemporaryDir base;
    const DataFiles files = DataFiles::inFolder(base.path());
    QVERIFY(QDir().mkpath(files.dataFile));
    CardTree tree;
    const LoadResult result = LoadTreeViewWithData(files, tree);
    QCOMPARE(result.status, LoadResult::Status::Damaged);
    QVERIFY(!result.error.message().isEmpty());
    QVERIFY(!SaveTreeViewWithData(files, tree).ok());
    QVERIFY(QFileInfo(files.dataFile).isDir());
}

void TestDataFileIo::loadAppendsAndReportsProgress()
{
    QTemporaryDir base;
    const DataFiles files = DataFiles::inFolder(base.path());
    QVERIFY(writeFile(files.dataFile, bytesOf("A .b .c D")));
    CardTree tree;
    buildFromOutline(tree, "X");
    RecordingProgress progress;
    QCOMPARE(LoadTreeViewWithData(files, tree, progress, progress).status, LoadResult::Status::Read);
    QCOMPARE(outline(tree), QStringLiteral("X A .b .c D"));
    QCOMPARE(progress.calls, QStringList({"ShowLoad", "Pump", "Pump", "Close"}));
}

void TestDataFileIo::damagedFileKeepsProgressOpen()
{
    QTemporaryDir base;
    const DataFiles files = DataFiles::inFolder(base.path());
    const QByteArray bytes = bytesOf("A .b .c D");
    QVERIFY(writeFile(files.dataFile, bytes.left(bytes.size() - 10)));
    CardTree tree;
    RecordingProgress progress;
    const LoadResult result = LoadTreeViewWithData(files, tree, progress, progress);
    QCOMPARE(result.status, LoadResult::Status::Damaged);
    QCOMPARE(outline(tree), QStringLiteral("A .b .c"));
    QCOMPARE(progress.calls, QStringList({"ShowLoad", "Pump", "Pump"})); // no Close: the window stays up
    QVERIFY(result.offset > 0);
}

void TestDataFileIo::saveMakesBackupOnlyWhenThereIsData()
{
    QTemporaryDir base;
    const DataFiles files = DataFiles::inFolder(base.path());
    CardTree tree;
    buildFromOutline(tree, "A .b");
    SaveResult result = SaveTreeViewWithData(files, tree);
    QVERIFY2(result.ok(), qPrintable(result.saved.error().message()));
    QVERIFY(result.backup.ok());
    QVERIFY(!QFileInfo::exists(files.backupFile));
    QCOMPARE(readFile(files.dataFile), bytesOf("A .b"));

    buildFromOutline(tree, "C");
    result = SaveTreeViewWithData(files, tree);
    QVERIFY(result.ok());
    QCOMPARE(readFile(files.backupFile), bytesOf("A .b"));
    QCOMPARE(readFile(files.dataFile), bytesOf("A .b C"));

    buildFromOutline(tree, "E");
    QVERIFY(SaveTreeViewWithData(files, tree).ok());
    QCOMPARE(readFile(files.backupFile), bytesOf("A .b C")); // the previous backup is replaced
    QCOMPARE(readFile(files.dataFile), bytesOf("A .b C E"));
    // Nothing else is left behind in the folders.
    QCOMPARE(QDir(QFileInfo(files.dataFile).absolutePath()).entryList(QDir::Files | QDir::Hidden),
             QStringList{"Card.DB"});
    QCOMPARE(QDir(QFileInfo(files.backupFile).absolutePath()).entryList(QDir::Files | QDir::Hidden),
             QStringList{"db.kelvo"});
}

void TestDataFileIo::saveCreatesMissingFolders()
{
    QTemporaryDir base;
    const DataFiles files = DataFiles::inFolder(base.path() + QStringLiteral("/a/b"));
    CardTree tree;
    CreateDefaultTree(tree);
    QVERIFY(SaveTreeViewWithData(files, tree).ok());
    QCOMPARE(QFileInfo(files.dataFile).size(), 154);
    CardTree back;
    QCOMPARE(LoadTreeViewWithData(files, back).status, LoadResult::Status::Read);
    QCOMPARE(back.count(), 1);
    QCOMPARE(back.firstTopLevel()->data()->Created, tree.firstTopLevel()->data()->Created);
}

void TestDataFileIo::saveIntoReadOnlyFolderFailsLoudly()
{
    QTemporaryDir base;
    const DataFiles files = DataFiles::inFolder(base.path());
    const QByteArray old = bytesOf("OLD");
    QVERIFY(writeFile(files.dataFile, old));
    CardTree tree;
    buildFromOutline(tree, "NEW");
    RecordingProgress progress;
    SaveResult result;
    {
        WriteProtection protection(QFileInfo(files.dataFile).absolutePath());
        if (!protection.active())
            QSKIP("cannot make a folder unwritable here");
        result = SaveTreeViewWithData(files, tree, progress, progress);
    }
    QVERIFY(!result.ok());
    QVERIFY(result.saved.error().message().startsWith(QDir::toNativeSeparators(files.dataFile)));
    QCOMPARE(readFile(files.dataFile), old);
    QCOMPARE(readFile(files.backupFile), old);
    QCOMPARE(progress.calls.last(), QStringLiteral("Close"));
    QCOMPARE(QDir(QFileInfo(files.dataFile).absolutePath()).entryList(QDir::Files | QDir::Hidden),
             QStringList{"Card.DB"});
}

void TestDataFileIo::saveRunningOutOfSpaceKeepsOldFile()
{
#ifdef Q_OS_LINUX
    // A file size limit makes every write past it fail, as a full disk would,
    // whoever runs the test.
    QTemporaryDir base;
    const DataFiles files = DataFiles::inFolder(base.path());
    const QByteArray old = bytesOf("OLD");
    QVERIFY(writeFile(files.dataFile, old));
    CardTree tree;
    for (int i = 0; i < 100; ++i)
        tree.addTopLevel(QByteArray(200, 'n'), MakeCardClassRecord());

    rlimit saved{};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 4096;
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
    RecordingProgress progress;
    const SaveResult result = SaveTreeViewWithData(files, tree, progress, progress);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    QVERIFY(!result.ok());
    QVERIFY(result.saved.error().message().startsWith(QDir::toNativeSeparators(files.dataFile)));
    QCOMPARE(readFile(files.dataFile), old);
    QCOMPARE(readFile(files.backupFile), old);
    QCOMPARE(progress.calls.last(), QStringLiteral("Close"));
    QCOMPARE(QDir(QFileInfo(files.dataFile).absolutePath()).entryList(QDir::Files | QDir::Hidden),
             QStringList{"Card.DB"});
#else
    QSKIP("needs a file size limit");
#endif
}

void TestDataFileIo::saveProgressSequence()
{
    QTemporaryDir base;
    const DataFiles files = DataFiles::inFolder(base.path());
    CardTree tree;
    buildFromOutline(tree, "A .b C");
    RecordingProgress progress;
    QVERIFY(SaveTreeViewWithData(files, tree, progress, progress).ok());
    QCOMPARE(progress.calls,
             QStringList({"ShowSave(3)", "Pump", "Refresh", "Step", "Pump", "Refresh", "Step", "Pump", "Refresh",
                          "Step", "Close"}));

    // A tree that changes shape while events run is not written: the old file stays.
    const QByteArray before = readFile(files.dataFile);
    RecordingProgress meddling;
    meddling.onPump = [&tree]() { tree.addTopLevel("late"); };
    const SaveResult failed = SaveTreeViewWithData(files, tree, meddling, meddling);
    QVERIFY(!failed.ok());
    QCOMPARE(failed.saved.error().code, ErrorCode::TreeChanged);
    QVERIFY(!failed.saved.error().message().isEmpty());
    QCOMPARE(readFile(files.dataFile), before);
    QCOMPARE(meddling.calls.last(), QStringLiteral("Close"));
}

void TestDataFileIo::backupFailureDoesNotStopSave()
{
    QTemporaryDir base;
    const DataFiles files = DataFiles::inFolder(base.path());
    QVERIFY(writeFile(files.dataFile, bytesOf("OLD")));
    // "BackUP" is a plain file: no backup can be written below it.
    QVERIFY(writeFile(base.path() + QStringLiteral("/BackUP"), "in the way"));
    CardTree tree;
    buildFromOutline(tree, "NEW");
    const SaveResult result = SaveTreeViewWithData(files, tree);
    QVERIFY(result.ok());
    QVERIFY(!result.backup.ok());
    QVERIFY(!result.backup.error().message().isEmpty());
    QCOMPARE(readFile(files.dataFile), bytesOf("NEW"));
}

void TestDataFileIo::recoveryKeepsDamagedFileAndRestoresBackup()
{
    QTemporaryDir base;
    const DataFiles files = DataFiles::inFolder(base.path());
    const QByteArray damaged = bytesOf("A .b").left(50);
    QVERIFY(writeFile(files.dataFile, damaged));
    QVERIFY(writeFile(files.backupFile, bytesOf("SAFE")));

    CardTree tree;
    QCOMPARE(LoadTreeViewWithData(files, tree).status, LoadResult::Status::Damaged);
    const RecoveryResult result = RecoverDamagedDataFile(files);
    QVERIFY2(result.outcome.ok(), qPrintable(result.outcome.error().message()));
    QVERIFY(result.backupRestored());
    QVERIFY(result.keptAsidePath.startsWith(files.dataFile));
    QVERIFY(result.keptAsidePath != files.dataFile);
    QCOMPARE(QFileInfo(result.keptAsidePath).absolutePath(), QFileInfo(files.dataFile).absolutePath());
    QCOMPARE(readFile(result.keptAsidePath), damaged);
    QCOMPARE(readFile(files.dataFile), bytesOf("SAFE"));
    QCOMPARE(readFile(files.backupFile), bytesOf("SAFE"));

    // A second recovery in the same second keeps both damaged files.
    QVERIFY(writeFile(files.dataFile, damaged + "x"));
    const RecoveryResult again = RecoverDamagedDataFile(files);
    QVERIFY(again.backupRestored());
    QVERIFY(again.keptAsidePath != result.keptAsidePath);
    QCOMPARE(readFile(again.keptAsidePath), damaged + "x");
    QCOMPARE(readFile(result.keptAsidePath), damaged);

    CardTree restored;
    QCOMPARE(LoadTreeViewWithData(files, restored).status, LoadResult::Status::Read);
    QCOMPARE(outline(restored), QStringLiteral("SAFE"));
}

void TestDataFileIo::recoveryWithoutBackup()
{
    QTemporaryDir base;
    const DataFiles files = DataFiles::inFolder(base.path());
    QVERIFY(writeFile(files.dataFile, "\x05"));
    const RecoveryResult result = RecoverDamagedDataFile(files);
    QVERIFY(!result.backupRestored());
    QCOMPARE(result.outcome.error().code, ErrorCode::NotFound);
    QVERIFY(!result.outcome.error().message().isEmpty());
    QCOMPARE(readFile(result.keptAsidePath), QByteArray("\x05"));
    // With the damaged file aside, the next start begins with the default tree.
    CardTree tree;
    QCOMPARE(LoadTreeViewWithData(files, tree).status, LoadResult::Status::DefaultTreeBuilt);
}

void TestDataFileIo::largeTreeRoundTrip()
{
    QTemporaryDir base;
    const DataFiles files = DataFiles::inFolder(base.path());
    CardTree tree;
    for (int c = 0; c < 100; ++c) {
        CardNode *cardClass = tree.addTopLevel("class " + QByteArray::number(c), MakeCardClassRecord());
        tree.setDisplayIndexes(cardClass, 0, 0, 0, 0);
        for (int i = 0; i < 200; ++i) {
            auto record = MakeCardRecord();
            record->setField(Field::Name, "card " + QByteArray::number(i));
            record->setField(Field::EMail, "card" + QByteArray::number(i) + "@example.com");
            const QByteArray label = record->name().toByteArray();
            CardNode *card = tree.addChild(cardClass, label, std::move(record));
            tree.setDisplayIndexes(card, 1, 1, 1, 1);
        }
    }
    QVERIFY(SaveTreeViewWithData(files, tree).ok());
    CardTree back;
    QCOMPARE(LoadTreeViewWithData(files, back).status, LoadResult::Status::Read);
    QCOMPARE(back.count(), tree.count());
    QCOMPARE(SerializeTree(back), readFile(files.dataFile));
}

QTEST_GUILESS_MAIN(TestDataFileIo)
#include "tst_datafile_io.moc"
