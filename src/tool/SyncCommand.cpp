// kelvo-tool sync: two-way sync of a data file with a CardDAV address book.

#include "CommandLine.h"
#include "ToolCommand.h"

#include "CardDavClient.h"
#include "SyncEngine.h"
#include "SyncState.h"
#include "SyncBookTrust.h"
#include "SyncStatePath.h"
#include "TreeIdentities.h"

#include "AtomicFile.h"
#include "CardIdentities.h"
#include "CardRecords.h"
#include "CardTree.h"
#include "DataFile.h"
#include "DataFiles.h"
#include "InstanceLock.h"
#include "StoreFiles.h"

#include <QFile>
#include <QFileInfo>

namespace kelvo::tool {

namespace {

const char *const SyncHelp =
    "Usage: kelvo-tool sync DATAFILE [--url URL] [--user USER] [--password-file F]\n"
    "                       [--allow-mass-delete] [--insecure-http]\n"
    "Syncs the cards of DATAFILE both ways with one CardDAV address book\n"
    "(Radicale, Nextcloud, Baikal, Fastmail, ...). The first run names the\n"
    "server with --url (the server's address or the address book's own URL)\n"
    "and keeps it, with the user name but never the password, in the sync state\n"
    "file beside DATAFILE (DATAFILE.sync); later runs need only DATAFILE.\n"
    "A card changed on one side is copied to the other; a card deleted on one\n"
    "side is deleted on the other unless it was changed there; a card changed on\n"
    "both sides is merged field by field, and where both changed the same field\n"
    "this computer's value goes to both sides and the server's card is kept as a\n"
    "copy in the card class \xE5\x90\x8C\xE6\xAD\xA5\xE5\x86\xB2\xE7\xAA\x81 (never synced). Card classes are the\n"
    "cards' categories. DATAFILE is written as Kelvo's save writes it (backup\n"
    "first).\n"
    "\n"
    "  --url URL            the server or address book (https; first run, or to\n"
    "                       move to another address book)\n"
    "  --user USER          the user name on the server\n"
    "  --password-file F    read the password from the first line of F;\n"
    "                       without it, from the environment variable\n"
    "                       KELVO_SYNC_PASSWORD\n"
    "  --allow-mass-delete  delete even when a run would delete more than half\n"
    "                       of either side's cards, or a side is suddenly empty\n"
    "  --insecure-http      allow plain http to a host that is not this computer\n"
    "\n"
    "Prints 'uploaded N, downloaded M, updated K, deleted D, conflicts C' on\n"
    "standard output and one line for each conflict, failed card and skipped\n"
    "card on standard error. Refused while Kelvo runs for this user.\n"
    "\n"
    "Exit codes: 0 synced; 3 synced, but some cards failed or were skipped;\n"
    "1 usage error, Kelvo running, no address book set up, or the run stopped\n"
    "before deleting many cards; 2 unreadable or damaged DATAFILE, or DATAFILE\n"
    "or its sync state cannot be written; 4 the server could not be reached or\n"
    "refused (network, password, certificate): what was done is kept, the next\n"
    "run finishes the rest.\n";

constexpr int ExitSomeFailed = 3;
constexpr int ExitServer = 4;

struct SyncOptionsGiven
{
    QString dataPath;
    QString url;
    QString user;
    bool userGiven = false;
    QString passwordFile;
    bool allowMassDelete = false;
    bool insecureHttp = false;
};

QString parseArguments(const QStringList &args, SyncOptionsGiven &options)
{
    CommandLine commandLine;
    const QCommandLineOption url(QStringLiteral("url"), QString(), QStringLiteral("URL"));
    const QCommandLineOption user(QStringLiteral("user"), QString(), QStringLiteral("USER"));
    const QCommandLineOption passwordFile(QStringLiteral("password-file"), QString(), QStringLiteral("F"));
    const QCommandLineOption massDelete(QStringLiteral("allow-mass-delete"));
    const QCommandLineOption insecure(QStringLiteral("insecure-http"));
    for (const QCommandLineOption &option : {url, user, passwordFile, massDelete, insecure})
        commandLine.addOption(option);
    if (!commandLine.parse(args)) {
        if (!commandLine.optionWithoutValue().isEmpty())
            return QStringLiteral("option '%1' needs a value").arg(commandLine.optionWithoutValue());
        return QStringLiteral("unknown option '%1'").arg(commandLine.unknownOption());
    }
    const QStringList positional = commandLine.positionalArguments();
    if (positional.size() != 1)
        return QStringLiteral("expected DATAFILE");
    options.dataPath = positional.first();
    if (options.dataPath == QLatin1String("-"))
        return QStringLiteral("DATAFILE must name a file ('-' is no file here)");
    options.url = commandLine.value(url).trimmed();
    if (commandLine.isSet(url) && options.url.isEmpty())
        return QStringLiteral("--url needs an address");
    options.userGiven = commandLine.isSet(user);
    options.user = commandLine.value(user);
    options.passwordFile = commandLine.value(passwordFile);
    options.allowMassDelete = commandLine.isSet(massDelete);
    options.insecureHttp = commandLine.isSet(insecure);
    return {};
}

// The password: the first line of the file, or the environment variable.
bool readPassword(const SyncOptionsGiven &options, QString *password, QString *error)
{
    if (!options.passwordFile.isEmpty()) {
        QFile file(options.passwordFile);
        if (!file.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("cannot read the password file %1: %2").arg(options.passwordFile, file.errorString());
            return false;
        }
        QByteArray line = file.read(64 * 1024);
        const qsizetype end = line.indexOf('\n');
        if (end >= 0)
            line.truncate(end);
        if (line.endsWith('\r'))
            line.chop(1);
        *password = QString::fromUtf8(line);
        return true;
    }
    *password = qEnvironmentVariable("KELVO_SYNC_PASSWORD");
    return true;
}

int serverExit(const QString &text)
{
    printError(QStringLiteral("kelvo-tool sync: ") + text);
    return ExitServer;
}

int runSync(const QStringList &args)
{
    SyncOptionsGiven options;
    const QString usageError = parseArguments(args, options);
    if (!usageError.isEmpty()) {
        printError(QStringLiteral("kelvo-tool sync: %1\n\n").arg(usageError) + QString::fromUtf8(SyncHelp));
        return ExitUsage;
    }
    QString password;
    QString passwordError;
    if (!readPassword(options, &password, &passwordError)) {
        printError(QStringLiteral("kelvo-tool sync: ") + passwordError);
        return ExitUsage;
    }

    InstanceLock lock;
    if (const Result<> taken = lock.tryLock(); !taken) {
        if (taken.error().code == ErrorCode::InUse)
            printError(QStringLiteral("kelvo-tool sync: Kelvo is running for this user (%1); close it first, since "
                                      "it writes its own cards over the data file when it closes; nothing synced")
                           .arg(taken.error().message()));
        else
            printError(QStringLiteral("kelvo-tool sync: cannot take the lock of Kelvo (%1); nothing synced")
                           .arg(taken.error().message()));
        return ExitUsage;
    }

    CardTree tree;
    CardIdentities ids(tree);
    const DataFiles files = DataFiles::forDataFile(options.dataPath);
    // With the lock held no save of Kelvo runs: what an earlier, killed save
    // left behind goes (a file that stays is only logged).
    removeStaleTemporaryFiles(files);
    bool needsSave = false;
    if (QFileInfo::exists(options.dataPath)) {
        QString error;
        bool wasEmpty = false;
        if (!ReadDataFile(options.dataPath, tree, &error, {}, &wasEmpty)) {
            printError(QStringLiteral("kelvo-tool sync: ") + error);
            return ExitDataFile;
        }
        if (wasEmpty) {
            CreateDefaultTree(tree);
            needsSave = true;
        }
    } else {
        CreateDefaultTree(tree);
        needsSave = true;
    }
    const auto save = [&]() -> bool {
        const SaveResult saved = SaveTreeViewWithData(files, tree);
        if (!saved.ok()) {
            printError(QStringLiteral("kelvo-tool sync: cannot write the data file: %1")
                           .arg(saved.saved.error().message()));
            return false;
        }
        if (!saved.backup)
            printError(QStringLiteral("kelvo-tool sync: no backup made: %1").arg(saved.backup.error().message()));
        if (!saved.history)
            printError(QStringLiteral("kelvo-tool sync: no copy kept in the backup history: %1")
                           .arg(saved.history.error().message()));
        return true;
    };
    if (needsSave && !save())
        return ExitDataFile;

    // The identities first, kept at once, so that a run stopped half-way
    // meets the same ones next time.
    // Identities taken over in order for these very bytes are in the state
    // already; anything else (new, re-matched) is kept before the run.
    bool identitiesKept = false;
    if (Result<sync::RestoreOutcome> restored = sync::LoadIdentities(options.dataPath, tree, ids); !restored)
        printError(QStringLiteral("kelvo-tool sync: the sync state cannot be read (%1); it is started anew, and "
                                  "cards are linked to the server's again by UID and content")
                       .arg(restored.error().message()));
    else
        identitiesKept = !needsSave && restored.value().exact > 0 && restored.value().matched == 0
            && restored.value().fresh == 0;
    if (!identitiesKept) {
        if (Result<> kept = sync::SaveIdentities(options.dataPath, tree, ids); !kept) {
            printError(QStringLiteral("kelvo-tool sync: cannot write the sync state: %1").arg(kept.error().message()));
            return ExitDataFile;
        }
    }
    Result<std::unique_ptr<sync::SyncState>> opened = sync::SyncState::open(sync::SyncStatePath(options.dataPath));
    if (!opened) {
        printError(QStringLiteral("kelvo-tool sync: cannot open the sync state: %1").arg(opened.error().message()));
        return ExitDataFile;
    }
    sync::SyncState &state = *opened.value();

    std::optional<sync::BookSettings> book = state.book();
    if (!book && options.url.isEmpty()) {
        printError(QStringLiteral("kelvo-tool sync: no address book is set up for %1; give --url the first time")
                       .arg(options.dataPath));
        return ExitUsage;
    }
    sync::CardDavSettings settings;
    settings.url = options.url.isEmpty() ? book->url : options.url;
    settings.user = options.userGiven ? options.user : (book ? book->user : QString());
    settings.password = password;
    settings.allowInsecureHttp = options.insecureHttp;
    // What the user allowed in the window for this book (a certificate that
    // does not verify, plain http to another host) holds here too; a --url of
    // another address gets none of it.
    settings = sync::WithKeptBookTrust(std::move(settings), sync::SyncStatePath(options.dataPath),
                                       book ? book->url : QString());
    sync::CardDavClient client(settings);
    if (!options.url.isEmpty()) {
        sync::RemoteResult<sync::AddressBookInfo> found = client.open();
        if (!found)
            return serverExit(QStringLiteral("cannot open the address book at %1: %2")
                                  .arg(options.url, found.error().text));
        const bool sameBook = book && book->url == found.value().url;
        if (!sameBook) {
            // Another address book: what was synced with the old one no
            // longer says anything.
            if (Result<> cleared = state.removeAllCards(); !cleared) {
                printError(QStringLiteral("kelvo-tool sync: ") + cleared.error().message());
                return ExitDataFile;
            }
        }
        sync::BookSettings settingsKept{found.value().url, settings.user, sameBook ? book->syncToken : QByteArray(),
                                        found.value().vcardVersion};
        if (Result<> kept = state.setBook(settingsKept); !kept) {
            printError(QStringLiteral("kelvo-tool sync: ") + kept.error().message());
            return ExitDataFile;
        }
    } else {
        client.useAddressBook({book->url, QString(), book->vcardVersion});
        if (options.userGiven && options.user != book->user) {
            book->user = options.user;
            (void)state.setBook(*book);
        }
    }

    sync::SyncOptions syncOptions;
    syncOptions.allowMassDelete = options.allowMassDelete;
    const sync::SyncSnapshot snapshot = sync::TakeSnapshot(tree, ids);
    sync::SyncEngine engine(state, client, syncOptions);
    sync::SyncPlan plan = engine.run(snapshot);
    const quint64 before = tree.changeCount();
    sync::ApplySyncPlan(plan, tree, ids);
    if (tree.changeCount() != before) {
        if (!save())
            return ExitDataFile;
        identitiesKept = false;
    }
    if (!identitiesKept) {
        if (Result<> kept = sync::SaveIdentities(options.dataPath, tree, ids); !kept) {
            printError(QStringLiteral("kelvo-tool sync: cannot write the sync state: %1").arg(kept.error().message()));
            return ExitDataFile;
        }
    }
    if (Result<> committed = sync::CommitSyncPlan(plan, state); !committed) {
        printError(QStringLiteral("kelvo-tool sync: cannot write the sync state: %1")
                       .arg(committed.error().message()));
        return ExitDataFile;
    }

    const sync::SyncReport &report = plan.report;
    for (const QString &line : report.conflictLines + report.failureLines + report.skippedLines)
        printError(line);
    printOut(QStringLiteral("uploaded %1, downloaded %2, updated %3, deleted %4, conflicts %5\n")
                 .arg(report.uploaded)
                 .arg(report.downloaded)
                 .arg(report.updated)
                 .arg(report.deleted)
                 .arg(report.conflicts));
    QString error;
    if (!FlushStandardOutput(&error)) {
        printError(QStringLiteral("kelvo-tool sync: ") + error);
        return ExitUsage;
    }
    if (!report.ok()) {
        if (report.massDelete) {
            printError(QStringLiteral("kelvo-tool sync: ") + report.stopped);
            return ExitUsage;
        }
        if (report.stopStatus == sync::RemoteStatus::Ok) {
            printError(QStringLiteral("kelvo-tool sync: ") + report.stopped);
            return ExitDataFile;
        }
        return serverExit(report.stopped + QStringLiteral("; what was done is kept, the next run finishes the rest"));
    }
    return report.failureLines.isEmpty() && report.skippedLines.isEmpty() ? ExitOk : ExitSomeFailed;
}

const CommandRegistration registration{{
    QStringLiteral("sync"),
    QStringLiteral("sync a data file both ways with a CardDAV address book"),
    QString::fromUtf8(SyncHelp),
    &runSync,
}};

} // namespace

} // namespace kelvo::tool
