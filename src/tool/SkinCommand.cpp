#include "CommandLine.h"
#include "ToolCommand.h"

#include "AtomicFile.h"
#include "SkinArchive.h"
#include "SkinFiles.h"
#include "StoreFiles.h"

#include <QDir>
#include <QFile>
#include <QSet>

namespace kelvo::tool {

namespace {

// A skin archive decodes to at most 256 MB; its compressed form is far smaller.
constexpr qint64 MaxArchiveFileBytes = qint64(64) * 1024 * 1024;

bool readArchiveFile(const QString &path, TSkinReader &reader, bool *storedProperty)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        printError(QStringLiteral("kelvo-tool skin: cannot read %1: %2").arg(path, file.errorString()));
        return false;
    }
    if (file.size() > MaxArchiveFileBytes) {
        printError(QStringLiteral("kelvo-tool skin: %1 is larger than %2 bytes: no skin archive")
                       .arg(path)
                       .arg(MaxArchiveFileBytes));
        return false;
    }
    QString error;
    if (!readSkinArchiveFile(file.readAll(), reader, storedProperty, &error)) {
        printError(QStringLiteral("kelvo-tool skin: %1: %2").arg(path, error));
        return false;
    }
    return true;
}

// The arguments of a subcommand without options; empty when they do not parse.
QStringList plainArguments(const QStringList &words, bool *parsed)
{
    CommandLine commandLine;
    *parsed = commandLine.parse(words);
    return commandLine.positionalArguments();
}

int runList(const QStringList &words)
{
    bool parsed = false;
    const QStringList args = plainArguments(words, &parsed);
    if (!parsed || args.size() != 1) {
        printError(QStringLiteral("Usage: kelvo-tool skin list ARCHIVE"));
        return ExitUsage;
    }
    TSkinReader reader;
    bool storedProperty = false;
    if (!readArchiveFile(args[0], reader, &storedProperty))
        return ExitDataFile;
    QString text = QStringLiteral("form: %1\nversion: %2\nentries: %3\ndata area: %4 bytes\n")
                       .arg(storedProperty ? QStringLiteral("stored skin property") : QStringLiteral("bare archive"))
                       .arg(reader.version())
                       .arg(reader.count())
                       .arg(reader.dataArea().size());
    for (qsizetype i = 0; i < reader.count(); ++i) {
        text += QStringLiteral("%1 %2 %3 %4\n")
                    .arg(i + 1, 4)
                    .arg(reader.sizes()[i], 10)
                    .arg(reader.offsets()[i], 10)
                    .arg(QString::fromUtf8(reader.names()[i]));
    }
    printOut(text);
    return ExitOk;
}

int runUnpack(const QStringList &words)
{
    bool parsed = false;
    const QStringList args = plainArguments(words, &parsed);
    if (!parsed || args.size() != 2) {
        printError(QStringLiteral("Usage: kelvo-tool skin unpack ARCHIVE DIR"));
        return ExitUsage;
    }
    TSkinReader reader;
    if (!readArchiveFile(args[0], reader, nullptr))
        return ExitDataFile;
    const QDir dir(args[1]);
    if (!dir.mkpath(QStringLiteral("."))) {
        printError(QStringLiteral("kelvo-tool skin: cannot create folder %1").arg(args[1]));
        return ExitUsage;
    }
    int status = ExitOk;
    QSet<QByteArray> written;
    for (qsizetype i = 0; i < reader.count(); ++i) {
        const QByteArray &name = reader.names()[i];
        if (!isSafeEntryFileName(name)) {
            printError(QStringLiteral("kelvo-tool skin: entry %1 skipped: its name \"%2\" is no plain file name")
                           .arg(i + 1)
                           .arg(QString::fromUtf8(name)));
            status = ExitUsage;
            continue;
        }
        if (written.contains(name)) {
            // Lookups always find the first entry of a name; a later one is unreachable.
            printError(
                QStringLiteral("kelvo-tool skin: entry %1 skipped: \"%2\" repeats an earlier name and is never used")
                    .arg(i + 1)
                    .arg(QString::fromUtf8(name)));
            continue;
        }
        if (const Result<> done = writeFileAtomically(dir.filePath(QString::fromUtf8(name)), reader.entry(i)); !done) {
            printError(QStringLiteral("kelvo-tool skin: cannot write %1").arg(done.error().message()));
            return ExitUsage;
        }
        written.insert(name);
    }
    return status;
}

int runPack(const QStringList &words)
{
    CommandLine commandLine;
    const QCommandLineOption propertyOption(QStringLiteral("property"));
    commandLine.addOption(propertyOption);
    const bool parsed = commandLine.parse(words);
    const bool property = commandLine.isSet(propertyOption);
    const QStringList args = commandLine.positionalArguments();
    if (!parsed || args.size() != 2) {
        printError(QStringLiteral("Usage: kelvo-tool skin pack [--property] DIR ARCHIVE"));
        return ExitUsage;
    }
    QString error;
    const QStringList files = skinFolderFiles(args[0], &error);
    if (files.isEmpty()) {
        printError(QStringLiteral("kelvo-tool skin: %1")
                       .arg(error.isEmpty() ? QStringLiteral("%1 holds no files").arg(args[0]) : error));
        return ExitUsage;
    }
    const SkinArchiveBuild archive = packSkinFiles(files);
    if (!archive.ok) {
        printError(QStringLiteral("kelvo-tool skin: ") + archive.error);
        return ExitUsage;
    }
    const QByteArray bytes = property ? makeStoredSkinProperty(archive.bytes) : archive.bytes;
    if (const Result<> done = writeFileAtomically(args[1], bytes); !done) {
        printError(QStringLiteral("kelvo-tool skin: cannot write %1").arg(done.error().message()));
        return ExitUsage;
    }
    return ExitOk;
}

int runSkin(const QStringList &args)
{
    const QString sub = args.value(0);
    const QStringList rest = args.mid(1);
    if (sub == QLatin1String("list"))
        return runList(rest);
    if (sub == QLatin1String("unpack"))
        return runUnpack(rest);
    if (sub == QLatin1String("pack"))
        return runPack(rest);
    printError(QStringLiteral("Usage: kelvo-tool skin list|unpack|pack ...   (see kelvo-tool skin --help)"));
    return ExitUsage;
}

const CommandRegistration registration{{
    QStringLiteral("skin"),
    QStringLiteral("list, unpack or pack a skin archive"),
    QStringLiteral("Usage: kelvo-tool skin list ARCHIVE\n"
                   "       kelvo-tool skin unpack ARCHIVE DIR\n"
                   "       kelvo-tool skin pack [--property] DIR ARCHIVE\n"
                   "\n"
                   "A skin is a set of BMP pictures and one INI skin description, packed into one\n"
                   "LZHUF-compressed skin archive (format version 20000). Kelvo carries its skin as\n"
                   "the stored skin property: a 32-bit little-endian length, then the archive.\n"
                   "\n"
                   "ARCHIVE read by 'list' and 'unpack' may be either form: a file whose first four\n"
                   "bytes give the length of the rest is read as the stored property, any other as\n"
                   "the bare archive. 'pack' writes the bare archive, or with --property the stored\n"
                   "property (the form of resources/skin.cmake's kelvo.skin).\n"
                   "\n"
                   "list    prints the form, the version, and each entry's number, size, offset in\n"
                   "        the data area and name (names are lower-cased when an archive is read).\n"
                   "unpack  writes each entry as a file into DIR (created when missing). An entry\n"
                   "        whose name repeats an earlier one is skipped (lookups never reach it);\n"
                   "        an entry whose name is no plain file name (folders, '..') is skipped\n"
                   "        and makes the exit code 1.\n"
                   "pack    packs every file directly inside DIR, in name order, each under its\n"
                   "        file name. The skin description is the first entry whose name holds\n"
                   "        \".ini\"; pictures are found by name, with the exact extension \".bmp\".\n"
                   "\n"
                   "Exit codes: 0 done; 1 usage error, unreadable or unwritable file or folder, or\n"
                   "a skipped entry; 2 the archive is damaged or of another version.\n"),
    &runSkin,
}};

} // namespace

} // namespace kelvo::tool
