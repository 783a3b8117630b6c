// kelvo-tool backups: the backup history of a data file, listed and put back.

#include "CommandLine.h"
#include "TreeIdentities.h"
#include "StoreFiles.h"
#include "ToolCommand.h"

#include "AtomicFile.h"
#include "BackupHistory.h"
#include "CardTree.h"
#include "DataFile.h"
#include "DataFiles.h"
#include "FileHelpers.h"
#include "InstanceLock.h"

#include <QDir>
#include <QFileInfo>

namespace kelvo::tool {

namespace {

const QString Help = QStringLiteral("Usage: kelvo-tool backups list DATAFILE\n"
                                    "       kelvo-tool backups restore DATAFILE COPY\n"
                                    "\n"
                                    "Each save of Kelvo keeps, besides BackUP/db.kelvo, a dated copy of the\n"
                                    "previous data file in BackUP/history beside the data file's folder\n"
                                    "(db-YYYYMMDD-HHMMSS.kelvo), at most one an hour: the newest ten copies and\n"
                                    "the newest copy of each of the last thirty days are kept.\n"
                                    "\n"
                                    "'list' prints one line per copy, newest first: the time it was made, its\n"
                                    "number of cards, its size in bytes and its file name, separated by tabs.\n"
                                    "\n"
                                    "'restore' puts COPY (a file name from the list, or a path) back as DATAFILE:\n"
                                    "the copy is read and checked first, the current DATAFILE is kept in the\n"
                                    "history, then the copy replaces it atomically. It refuses while Kelvo runs\n"
                                    "for this user, and Kelvo cannot start while it works.\n"
                                    "\n"
                                    "Exit codes: 0 done; 1 usage error, Kelvo running, or a file that cannot be\n"
                                    "written; 2 unreadable or damaged data file or copy.\n");

void printUsage()
{
    printError(QStringLiteral("Usage: kelvo-tool backups list DATAFILE | restore DATAFILE COPY   "
                              "(see kelvo-tool backups --help)"));
}

int countCards(const CardTree &tree)
{
    int cards = 0;
    tree.forEach([&cards](const CardNode *node) {
        if (node->isCard())
            ++cards;
    });
    return cards;
}

int runList(const QString &dataFile)
{
    const BackupHistory history(DataFiles::forDataFile(dataFile).historyFolder);
    const std::vector<HistoryCopy> copies = history.copies();
    if (copies.empty())
        printError(
            QStringLiteral("kelvo-tool backups: no copies in %1").arg(QDir::toNativeSeparators(history.folder())));
    bool allRead = true;
    for (const HistoryCopy &copy : copies) {
        const QFileInfo info(copy.path);
        CardTree tree;
        QString error;
        QString cards;
        if (ReadDataFile(copy.path, tree, &error)) {
            cards = QString::number(countCards(tree));
        } else {
            cards = QStringLiteral("damaged");
            printError(QStringLiteral("kelvo-tool backups: ") + error);
            allRead = false;
        }
        printOut(QStringLiteral("%1\t%2\t%3\t%4\n")
                     .arg(copy.time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), cards)
                     .arg(info.size())
                     .arg(info.fileName()));
    }
    QString error;
    if (!FlushStandardOutput(&error)) {
        printError(QStringLiteral("kelvo-tool backups: ") + error);
        return ExitUsage;
    }
    return allRead ? ExitOk : ExitDataFile;
}

int runRestore(const QString &dataFile, const QString &copyName)
{
    const DataFiles files = DataFiles::forDataFile(dataFile);
    // A bare name is a copy in the history; anything else a path.
    const QString copyPath = copyName.contains(QLatin1Char('/')) || copyName.contains(QDir::separator())
        ? copyName
        : QDir(files.historyFolder).filePath(copyName);

    // The copy is read and checked before anything changes; its bytes go
    // back exactly as they are.
    QByteArray bytes;
    QString error;
    CardTree tree;
    if (ReadWholeFile(copyPath, &bytes, &error)) {
        if (bytes.isEmpty()) {
            error = QStringLiteral("%1: empty file").arg(copyPath);
        } else if (const LoadResult loaded = ReadTreeFromBytes(bytes, tree); !loaded.ok()) {
            error = QStringLiteral("%1: damaged data file at byte %2: %3")
                        .arg(copyPath)
                        .arg(loaded.offset)
                        .arg(loaded.error.text);
        }
    }
    if (!error.isEmpty()) {
        printError(QStringLiteral("kelvo-tool backups: %1; nothing restored").arg(error));
        return ExitDataFile;
    }

    // Kelvo must not run (it would write its own tree over the restored file
    // at its next save), and must not start until the file is back.
    InstanceLock lock;
    if (const Result<> taken = lock.tryLock(); !taken) {
        if (taken.error().code == ErrorCode::InUse) {
            printError(QStringLiteral("kelvo-tool backups: Kelvo is running for this user (%1); close it first, "
                                      "nothing restored")
                           .arg(taken.error().message()));
        } else {
            printError(QStringLiteral("kelvo-tool backups: cannot take the lock of Kelvo (%1); nothing restored")
                           .arg(taken.error().message()));
        }
        return ExitUsage;
    }
    // With the lock held no save of Kelvo runs: what an earlier, killed save
    // left behind goes (a file that stays is only logged).
    removeStaleTemporaryFiles(files);

    const Result<QString> kept =
        BackupHistory(files.historyFolder).keep(files.dataFile, BackupHistory::Spacing::Always);
    if (!kept) {
        printError(QStringLiteral("kelvo-tool backups: the current data file cannot be kept in the history (%1); "
                                  "nothing restored")
                       .arg(kept.error().message()));
        return ExitUsage;
    }
    Result<> written = fileio::makeFolderFor(files.dataFile);
    if (written)
        written = writeFileAtomically(files.dataFile, bytes);
    if (!written) {
        printError(QStringLiteral("kelvo-tool backups: ") + written.error().message());
        return ExitUsage;
    }
    if (const Result<> followed = sync::FollowRewrittenDataFile(files.dataFile, tree); !followed)
        printError(QStringLiteral("kelvo-tool backups: warning: the sync state beside the data file cannot be "
                                  "written: ")
                   + followed.error().message());
    QString line = QStringLiteral("restored %1 (%2 cards) to %3")
                       .arg(QDir::toNativeSeparators(copyPath))
                       .arg(countCards(tree))
                       .arg(QDir::toNativeSeparators(files.dataFile));
    if (!kept.value().isEmpty())
        line += QStringLiteral("; the replaced file is kept as %1").arg(QDir::toNativeSeparators(kept.value()));
    printOut(line + QLatin1Char('\n'));
    FlushStandardOutput(&error);
    return ExitOk;
}

int runBackups(const QStringList &args)
{
    CommandLine commandLine;
    if (!commandLine.parse(args)) {
        printError(QStringLiteral("kelvo-tool backups: unknown option '%1'").arg(commandLine.unknownOption()));
        printUsage();
        return ExitUsage;
    }
    const QStringList positional = commandLine.positionalArguments();
    if (positional.size() == 2 && positional[0] == QLatin1String("list"))
        return runList(positional[1]);
    if (positional.size() == 3 && positional[0] == QLatin1String("restore"))
        return runRestore(positional[1], positional[2]);
    printUsage();
    return ExitUsage;
}

const CommandRegistration registration{{
    QStringLiteral("backups"),
    QStringLiteral("list the backup history of a data file, or put a copy back"),
    Help,
    &runBackups,
}};

} // namespace

} // namespace kelvo::tool
