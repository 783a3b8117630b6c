#include "AtomicFile.h"
#include "DataFiles.h"
#include "FileHelpers.h"
#include "FileSizeLimit.h"
#include "Result.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <cstring>
#include <thread>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

using namespace kelvo;

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writePlainFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Every entry of a folder, hidden ones included.
QStringList entriesOf(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

QByteArray pattern(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char('a' + i % 26);
    return bytes;
}

// Whether the file system of `folder` offers unnamed files: where it does,
// AtomicFile must use them.
bool offersUnnamedFiles(const QString &folder)
{
#if defined(Q_OS_LINUX) && defined(O_TMPFILE)
    const int fd = ::open(QFile::encodeName(folder).constData(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
#else
    Q_UNUSED(folder);
    return false;
#endif
}

// Sets the kind of temporary file for one test and puts the automatic choice back.
class TemporaryKindForTest
{
public:
    explicit TemporaryKindForTest(TemporaryFileKind kind) { setTemporaryFileKindForTests(kind); }
    ~TemporaryKindForTest() { setTemporaryFileKindForTests(TemporaryFileKind::Automatic); }
};

const char *const WriteUntilKilled = "--write-until-killed";
constexpr qint64 ReportedAfterBytes = 16 * 1024 * 1024;

// The child process of killedDuringAWrite: writes the target's temporary file
// piece by piece, says "writing N" (N: whether the file is unnamed) once
// ReportedAfterBytes are written, and goes on until it is killed (or gives up
// after a minute, uncommitted).
int writeUntilKilled(const char *kind, const char *target)
{
    setTemporaryFileKindForTests(std::strcmp(kind, "named") == 0 ? TemporaryFileKind::Named
                                                                 : TemporaryFileKind::Automatic);
    AtomicFile file(QString::fromLocal8Bit(target));
    if (!file.open())
        return 2;
    const QByteArray piece = pattern(64 * 1024);
    qint64 written = 0;
    for (int i = 0; i < 60000; ++i) {
        if (!file.write(piece))
            return 2;
        written += piece.size();
        if (written == ReportedAfterBytes) {
            std::printf("writing %d\n", file.isUnnamed() ? 1 : 0);
            std::fflush(stdout);
        }
        if (written > ReportedAfterBytes)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return 3;
}

} // namespace

class TestAtomicFile : public QObject
{
    Q_OBJECT

private slots:
    void replacesTheTargetWhole();
    void createsANewFile();
    void shortWritesAreCaught();
    void failingFolders();
    void symbolicLinkKeepsPointing();
    void writeProtectedTargetIsRefused();
    void uncommittedFileIsRemoved();
    void writerWithItsOwnPath();
    void copyReplacesTheDestination();
    void errorMessages();
    void everyKindOfTemporaryFile_data();
    void everyKindOfTemporaryFile();
    void killedDuringAWrite_data();
    void killedDuringAWrite();
    void sweepRemovesOnlyStaleTemporaryFiles_data();
    void sweepRemovesOnlyStaleTemporaryFiles();
    void sweepLeavesAFileBeingWritten();
};

void TestAtomicFile::replacesTheTargetWhole()
{
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("data.bin"));
    QVERIFY(writePlainFile(target, "old contents"));
    QVERIFY(QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup));
    // A reader that has the old file open keeps reading the old file: the
    // target is replaced by another file, never rewritten in place.
    QFile reader(target);
    QVERIFY(reader.open(QIODevice::ReadOnly));

    const QByteArray next = pattern(3 * 1024 * 1024 + 17);
    const Result<> done = writeFileAtomically(target, next);
    QVERIFY2(done.ok(), qPrintable(done.error().message()));
    QCOMPARE(readFile(target), next);
    QCOMPARE(reader.readAll(), QByteArray("old contents"));
    const QFileDevice::Permissions ownerGroupOther(0x7077);
    QCOMPARE(QFile::permissions(target) & ownerGroupOther,
             QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup);
    QCOMPARE(entriesOf(dir.path()), QStringList{"data.bin"});
}

void TestAtomicFile::createsANewFile()
{
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("new.txt"));
    QVERIFY(writeFileAtomically(target, "x").ok());
    QCOMPARE(readFile(target), QByteArray("x"));
    // A name at the system's length limit leaves room for the temporary name.
    const QString longName = dir.filePath(QString(255, QLatin1Char('n')));
    const Result<> longWritten = writeFileAtomically(longName, "long");
    QVERIFY2(longWritten.ok(), qPrintable(longWritten.error().message()));
    QCOMPARE(readFile(longName), QByteArray("long"));
    QVERIFY(QFile::remove(longName));
    // An empty file is a file too.
    const QString empty = dir.filePath(QStringLiteral("empty"));
    QVERIFY(writeFileAtomically(empty, {}).ok());
    QVERIFY(QFileInfo(empty).isFile());
    QCOMPARE(QFileInfo(empty).size(), 0);
    QCOMPARE(entriesOf(dir.path()), QStringList({"empty", "new.txt"}));
}

void TestAtomicFile::shortWritesAreCaught()
{
#ifdef KELVO_HAVE_FILE_SIZE_LIMIT
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("data.bin"));
    QVERIFY(writePlainFile(target, "old"));
    Result<> done;
    {
        // The first write stops at the limit (a short write); writing the
        // rest then fails with the system's reason.
        test::FileSizeLimit limit(4096);
        QVERIFY(limit.active());
        done = writeFileAtomically(target, pattern(100000));
    }
    QVERIFY(!done.ok());
    QCOMPARE(done.error().code, ErrorCode::WriteFailed);
    QCOMPARE(done.error().path, target);
    QVERIFY(!done.error().text.isEmpty());
    QCOMPARE(readFile(target), QByteArray("old"));
    QCOMPARE(entriesOf(dir.path()), QStringList{"data.bin"});

    // Through AtomicFile piece by piece: the piece that crosses the limit fails.
    {
        test::FileSizeLimit limit(4096);
        AtomicFile file(target);
        QVERIFY(file.open().ok());
        QVERIFY(file.write(pattern(4000)).ok());
        const Result<> crossing = file.write(pattern(200));
        QVERIFY(!crossing.ok());
        QCOMPARE(crossing.error().code, ErrorCode::WriteFailed);
        QVERIFY(!file.commit().ok());
    }
    QCOMPARE(readFile(target), QByteArray("old"));
    QCOMPARE(entriesOf(dir.path()), QStringList{"data.bin"});
#else
    QSKIP("needs a file size limit");
#endif
}

void TestAtomicFile::failingFolders()
{
    QTemporaryDir dir;
    // The folder is a plain file.
    const QString notAFolder = dir.filePath(QStringLiteral("plain"));
    QVERIFY(writePlainFile(notAFolder, "in the way"));
    Result<> done = writeFileAtomically(notAFolder + QStringLiteral("/x.bin"), "new");
    QVERIFY(!done.ok());
    QCOMPARE(done.error().code, ErrorCode::WriteFailed);
    QCOMPARE(done.error().path, notAFolder + QStringLiteral("/x.bin"));
    QVERIFY(!done.error().text.isEmpty());
    QCOMPARE(readFile(notAFolder), QByteArray("in the way"));

    // The folder does not exist: it is not created.
    done = writeFileAtomically(dir.filePath(QStringLiteral("missing/x.bin")), "new");
    QCOMPARE(done.error().code, ErrorCode::WriteFailed);
    QVERIFY(!QFileInfo::exists(dir.filePath(QStringLiteral("missing"))));

    // The target is a folder: it stays one.
    const QString folder = dir.filePath(QStringLiteral("folder"));
    QVERIFY(QDir().mkpath(folder + QStringLiteral("/inside")));
    done = writeFileAtomically(folder, "new");
    QCOMPARE(done.error().code, ErrorCode::WriteFailed);
    QVERIFY(QFileInfo(folder + QStringLiteral("/inside")).isDir());

    // makeFolderFor says which folder it could not make.
    const Result<> made = fileio::makeFolderFor(notAFolder + QStringLiteral("/a/b.bin"));
    QCOMPARE(made.error().code, ErrorCode::FolderNotCreated);
    QCOMPARE(made.error().path, notAFolder + QStringLiteral("/a"));
    QCOMPARE(entriesOf(dir.path()), QStringList({"folder", "plain"}));
}

void TestAtomicFile::symbolicLinkKeepsPointing()
{
#ifdef Q_OS_UNIX
    QTemporaryDir dir;
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("real"))));
    const QString real = dir.filePath(QStringLiteral("real/data.bin"));
    const QString link = dir.filePath(QStringLiteral("link.bin"));
    QVERIFY(writePlainFile(real, "old"));
    QVERIFY(QFile::link(real, link));
    QVERIFY(writeFileAtomically(link, "new").ok());
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(readFile(real), QByteArray("new"));
    QCOMPARE(entriesOf(dir.filePath(QStringLiteral("real"))), QStringList{"data.bin"});
#else
    QSKIP("symbolic links");
#endif
}

void TestAtomicFile::writeProtectedTargetIsRefused()
{
#ifdef Q_OS_UNIX
    if (::geteuid() == 0)
        QSKIP("permissions do not bind the superuser");
#endif
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("data.bin"));
    QVERIFY(writePlainFile(target, "old"));
    QVERIFY(QFile::setPermissions(target, QFileDevice::ReadOwner));
    const Result<> done = writeFileAtomically(target, "new");
    QCOMPARE(done.error().code, ErrorCode::WriteFailed);
    QCOMPARE(readFile(target), QByteArray("old"));
    QCOMPARE(entriesOf(dir.path()), QStringList{"data.bin"});
}

void TestAtomicFile::uncommittedFileIsRemoved()
{
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("data.bin"));
    QVERIFY(writePlainFile(target, "old"));
    {
        AtomicFile file(target);
        QVERIFY(file.open().ok());
        QVERIFY(file.write("half of it").ok());
        const QFileInfo temporary(file.temporaryPath());
        QVERIFY(temporary.exists());
        QCOMPARE(temporary.absolutePath(), QFileInfo(target).absolutePath());
        QVERIFY(temporary.fileName().startsWith(QLatin1Char('.'))); // hidden while it is written
    }
    QCOMPARE(readFile(target), QByteArray("old"));
    QCOMPARE(entriesOf(dir.path()), QStringList{"data.bin"});

    AtomicFile discarded(target);
    QVERIFY(discarded.open().ok());
    QVERIFY(discarded.write("other").ok());
    discarded.discard();
    QVERIFY(!discarded.commit().ok());
    QCOMPARE(readFile(target), QByteArray("old"));
    QCOMPARE(entriesOf(dir.path()), QStringList{"data.bin"});
}

void TestAtomicFile::writerWithItsOwnPath()
{
    QTemporaryDir dir;
    const QString target = dir.filePath(QStringLiteral("book.xlsx"));
    QVERIFY(writePlainFile(target, "old"));

    // A writer that opens the path itself, with the C library.
    QString given;
    Result<> done = writeFileAtomicallyThrough(target, [&given](const QString &path) -> Result<> {
        given = path;
        std::FILE *out = std::fopen(QFile::encodeName(path).constData(), "wb");
        if (!out)
            return Error{ErrorCode::WriteFailed, path, QStringLiteral("fopen")};
        std::fputs("written by the library", out);
        std::fclose(out);
        return {};
    });
    QVERIFY2(done.ok(), qPrintable(done.error().message()));
    QCOMPARE(QFileInfo(given).absolutePath(), QFileInfo(target).absolutePath());
    QVERIFY(given != target);
    QCOMPARE(readFile(target), QByteArray("written by the library"));
    QCOMPARE(entriesOf(dir.path()), QStringList{"book.xlsx"});

    // A writer that fails after writing half: its error comes back, the
    // target stays, the half-written file goes.
    done = writeFileAtomicallyThrough(target, [](const QString &path) -> Result<> {
        writePlainFile(path, "half");
        return Error{ErrorCode::WriteFailed, path, QStringLiteral("the library gave up")};
    });
    QVERIFY(!done.ok());
    QCOMPARE(done.error().text, QStringLiteral("the library gave up"));
    QCOMPARE(readFile(target), QByteArray("written by the library"));
    QCOMPARE(entriesOf(dir.path()), QStringList{"book.xlsx"});
}

void TestAtomicFile::copyReplacesTheDestination()
{
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("source.bin"));
    const QString destination = dir.filePath(QStringLiteral("a/b/copy.bin"));
    const QByteArray bytes = pattern(2 * 1024 * 1024 + 5); // more than one piece of the copy
    QVERIFY(writePlainFile(source, bytes));
    QVERIFY(fileio::copyFileReplacing(source, destination).ok());
    QCOMPARE(readFile(destination), bytes);

    QVERIFY(writePlainFile(source, "shorter"));
    QVERIFY(fileio::copyFileReplacing(source, destination).ok());
    QCOMPARE(readFile(destination), QByteArray("shorter"));

    const Result<> missing = fileio::copyFileReplacing(dir.filePath(QStringLiteral("none")), destination);
    QCOMPARE(missing.error().code, ErrorCode::NotFound);
    QCOMPARE(missing.error().path, dir.filePath(QStringLiteral("none")));
    QCOMPARE(readFile(destination), QByteArray("shorter"));
    QCOMPARE(entriesOf(dir.filePath(QStringLiteral("a/b"))), QStringList{"copy.bin"});
}

void TestAtomicFile::errorMessages()
{
    const Error withText{ErrorCode::WriteFailed, QStringLiteral("/data/SavedCard/Card.DB"),
                         QStringLiteral("No space left on device")};
    QCOMPARE(withText.message(),
             QDir::toNativeSeparators(QStringLiteral("/data/SavedCard/Card.DB"))
                 + QStringLiteral(": No space left on device"));
    const Error withoutText{ErrorCode::FolderNotCreated, QStringLiteral("/data/BackUP"), QString()};
    QCOMPARE(withoutText.message(),
             QDir::toNativeSeparators(QStringLiteral("/data/BackUP"))
                 + QStringLiteral(": the folder cannot be created"));
}

void TestAtomicFile::everyKindOfTemporaryFile_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("unnamed");
#if defined(Q_OS_LINUX)
    QTest::newRow("unnamed") << int(TemporaryFileKind::Automatic) << true;
    QTest::newRow("unnamed, copied into a named file") << int(TemporaryFileKind::UnnamedUnlinkable) << true;
#endif
    QTest::newRow("named") << int(TemporaryFileKind::Named) << false;
}

void TestAtomicFile::everyKindOfTemporaryFile()
{
    QFETCH(int, kind);
    QFETCH(bool, unnamed);
    const TemporaryKindForTest forTest(static_cast<TemporaryFileKind>(kind));
    QTemporaryDir dir;
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("real"))));
    const QString real = dir.filePath(QStringLiteral("real/data.bin"));
    QVERIFY(writePlainFile(real, "old"));
    QVERIFY(QFile::setPermissions(real, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther));

    // Open, written, not yet committed: only the named kind shows a file.
    const QByteArray next = pattern(3 * 1024 * 1024 + 5); // more than one piece of the copy
    {
        AtomicFile file(real);
        QVERIFY(file.open().ok());
        if (unnamed && !offersUnnamedFiles(dir.path()))
            QSKIP("the file system has no unnamed temporary files");
        QCOMPARE(file.isUnnamed(), unnamed);
        QVERIFY(file.write(next).ok());
        QCOMPARE(entriesOf(dir.filePath(QStringLiteral("real"))).size(), unnamed ? 1 : 2);
    }
    QCOMPARE(readFile(real), QByteArray("old"));

    // Through a symbolic link: the file it points to is replaced, its
    // permissions kept, and nothing else is left.
    const QString link = dir.filePath(QStringLiteral("link.bin"));
    QVERIFY(QFile::link(real, link));
    const Result<> done = writeFileAtomically(link, next);
    QVERIFY2(done.ok(), qPrintable(done.error().message()));
    QVERIFY(QFileInfo(link).isSymLink());
    QCOMPARE(readFile(real), next);
    const QFileDevice::Permissions ownerGroupOther(0x7077);
    QCOMPARE(QFile::permissions(real) & ownerGroupOther,
             QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
    QCOMPARE(entriesOf(dir.filePath(QStringLiteral("real"))), QStringList{"data.bin"});

    // A writer that needs a path gets a named file beside the target.
    QString given;
    const Result<> through = writeFileAtomicallyThrough(real, [&given](const QString &path) -> Result<> {
        given = path;
        if (!writePlainFile(path, "by path"))
            return Error{ErrorCode::WriteFailed, path, QString()};
        return {};
    });
    QVERIFY2(through.ok(), qPrintable(through.error().message()));
    QVERIFY(isTemporaryFileNameFor(QFileInfo(given).fileName(), QStringLiteral("data.bin")));
    QCOMPARE(readFile(real), QByteArray("by path"));
    QCOMPARE(entriesOf(dir.filePath(QStringLiteral("real"))), QStringList{"data.bin"});
}

void TestAtomicFile::killedDuringAWrite_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("leftBehind");
    QTest::newRow("unnamed") << QStringLiteral("automatic") << 0;
    QTest::newRow("named") << QStringLiteral("named") << 1;
}

void TestAtomicFile::killedDuringAWrite()
{
#ifdef Q_OS_UNIX
    QFETCH(QString, kind);
    QFETCH(int, leftBehind);
    QTemporaryDir dir;
    const DataFiles files = DataFiles::inFolder(dir.path());
    QVERIFY(fileio::makeFolderFor(files.dataFile).ok());
    QVERIFY(writePlainFile(files.dataFile, "old cards"));

    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(WriteUntilKilled), kind, files.dataFile});
    QVERIFY(child.waitForStarted());
    while (!child.canReadLine() && child.state() == QProcess::Running)
        child.waitForReadyRead(10000);
    const QByteArray said = child.readLine().trimmed();
    QVERIFY2(said.startsWith("writing"), said.constData());
    if (kind == QLatin1String("automatic") && !offersUnnamedFiles(dir.path())) {
        child.kill();
        child.waitForFinished();
        QSKIP("the file system has no unnamed temporary files");
    }
    QCOMPARE(said, kind == QLatin1String("automatic") ? QByteArray("writing 1") : QByteArray("writing 0"));
    child.kill(); // SIGKILL
    QVERIFY(child.waitForFinished());
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);

    const QString folder = QFileInfo(files.dataFile).absolutePath();
    QStringList entries = entriesOf(folder);
    QCOMPARE(entries.size(), 1 + leftBehind);
    QCOMPARE(readFile(files.dataFile), QByteArray("old cards"));
    if (leftBehind > 0) {
        entries.removeOne(QStringLiteral("Card.DB"));
        QVERIFY(QFileInfo(folder + QLatin1Char('/') + entries.first()).size() >= ReportedAfterBytes);
    }
    // The next start's sweep removes what the named file left.
    const TemporaryFileSweep sweep = removeStaleTemporaryFiles(files);
    QCOMPARE(sweep.removed.size(), leftBehind);
    QVERIFY(sweep.kept.isEmpty());
    QCOMPARE(entriesOf(folder), QStringList{"Card.DB"});
    QCOMPARE(readFile(files.dataFile), QByteArray("old cards"));
#else
    QSKIP("needs SIGKILL");
#endif
}

void TestAtomicFile::sweepRemovesOnlyStaleTemporaryFiles_data()
{
    QTest::addColumn<QString>("where");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("removed");
    QTest::newRow("data file's") << "SavedCard"
                                 << ".Card.DB.0123abcd.tmp" << true;
    QTest::newRow("backup's") << "BackUP"
                              << ".db.kelvo.89abcdef.tmp" << true;
    QTest::newRow("history copy's") << "BackUP/history"
                                    << ".db-20261208-153012.kelvo.00ff00ff.tmp" << true;
    QTest::newRow("second history copy's") << "BackUP/history"
                                           << ".db-20261208-153012-2.kelvo.00ff00ff.tmp" << true;
    QTest::newRow("capital hex digits") << "SavedCard"
                                        << ".Card.DB.0123ABCD.tmp" << false;
    QTest::newRow("seven digits") << "SavedCard"
                                  << ".Card.DB.0123abc.tmp" << false;
    QTest::newRow("nine digits") << "SavedCard"
                                 << ".Card.DB.0123abcde.tmp" << false;
    QTest::newRow("not hidden") << "SavedCard"
                                << "Card.DB.0123abcd.tmp" << false;
    QTest::newRow("another suffix") << "SavedCard"
                                    << ".Card.DB.0123abcd.tmp~" << false;
    QTest::newRow("another file's") << "SavedCard"
                                    << ".Notes.DB.0123abcd.tmp" << false;
    QTest::newRow("letter case of the name") << "SavedCard"
                                             << ".card.db.0123abcd.tmp" << false;
    QTest::newRow("data file's name in the backups") << "BackUP"
                                                     << ".Card.DB.0123abcd.tmp" << false;
    QTest::newRow("not a history copy's") << "BackUP/history"
                                          << ".notes.kelvo.0123abcd.tmp" << false;
    QTest::newRow("another program's") << "SavedCard"
                                       << ".Card.DB.tmp" << false;
}

void TestAtomicFile::sweepRemovesOnlyStaleTemporaryFiles()
{
    QFETCH(QString, where);
    QFETCH(QString, name);
    QFETCH(bool, removed);
    QTemporaryDir dir;
    const DataFiles files = DataFiles::inFolder(dir.path());
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("SavedCard"))));
    QVERIFY(QDir().mkpath(dir.filePath(QStringLiteral("BackUP/history"))));
    QVERIFY(writePlainFile(files.dataFile, "cards"));
    QVERIFY(writePlainFile(files.backupFile, "backup"));
    const QString path = dir.filePath(where + QLatin1Char('/') + name);
    QVERIFY(writePlainFile(path, "left behind"));

    const TemporaryFileSweep sweep = removeStaleTemporaryFiles(files);
    QCOMPARE(QFileInfo::exists(path), !removed);
    QCOMPARE(sweep.removed, removed ? QStringList{path} : QStringList());
    QVERIFY(sweep.kept.isEmpty());
    QCOMPARE(readFile(files.dataFile), QByteArray("cards"));
    QCOMPARE(readFile(files.backupFile), QByteArray("backup"));

    // A folder or a link of such a name is never the program's file.
    if (removed) {
        QVERIFY(QDir().mkpath(path));
        QVERIFY(removeStaleTemporaryFiles(files).removed.isEmpty());
        QVERIFY(QFileInfo(path).isDir());
    }
}

void TestAtomicFile::sweepLeavesAFileBeingWritten()
{
    // A save that runs (a kelvo-tool command without the lock) keeps its file.
    const TemporaryKindForTest forTest(TemporaryFileKind::Named);
    QTemporaryDir dir;
    const DataFiles files = DataFiles::inFolder(dir.path());
    QVERIFY(fileio::makeFolderFor(files.dataFile).ok());
    AtomicFile file(files.dataFile);
    QVERIFY(file.open().ok());
    QVERIFY(file.write("new").ok());
    const TemporaryFileSweep sweep = removeStaleTemporaryFiles(files);
    QVERIFY(sweep.removed.isEmpty());
#ifdef Q_OS_UNIX
    QCOMPARE(sweep.kept.size(), 1);
#endif
    QVERIFY(file.commit().ok());
    QCOMPARE(readFile(files.dataFile), QByteArray("new"));
}

int main(int argc, char **argv)
{
    if (argc == 4 && std::strcmp(argv[1], WriteUntilKilled) == 0)
        return writeUntilKilled(argv[2], argv[3]);
    QCoreApplication app(argc, argv);
    TestAtomicFile test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_atomicfile.moc"
