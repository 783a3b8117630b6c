#include "AtomicFile.h"
#include "FileHelpers.h"
#include "FileSizeLimit.h"
#include "Result.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

#ifdef Q_OS_UNIX
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

QTEST_GUILESS_MAIN(TestAtomicFile)
#include "tst_atomicfile.moc"
