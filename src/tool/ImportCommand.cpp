// kelvo-tool import: reads vCard and CSV files into a data file.

#include "CommandLine.h"
#include "DataFileForChange.h"
#include "ToolCommand.h"

#include "CardImport.h"
#include "CsvLayouts.h"

#include "AtomicFile.h"
#include "CardIdentities.h"
#include "CardRecords.h"
#include "CardTree.h"
#include "DataFile.h"
#include "DataFiles.h"
#include "Gb18030.h"
#include "InstanceLock.h"
#include "StoreFiles.h"
#include "SyncStatePath.h"
#include "TreeIdentities.h"

#include <QFileInfo>
#include <QSet>

namespace kelvo::tool {

namespace {

const char *const ImportHelp =
    "Usage: kelvo-tool import [--class LABEL] [--map COLUMN=N]... [--no-header]\n"
    "                         DATAFILE FILE...\n"
    "Reads the cards of vCard (2.1, 3.0, 4.0) and CSV files and adds them, in\n"
    "file order, to the end of a card class of DATAFILE, which is then written\n"
    "as Kelvo's save writes it: the previous file copied to the backup first\n"
    "(BackUP beside DATAFILE's folder), the new one written beside it and\n"
    "renamed over it. A missing DATAFILE\n"
    "starts as Kelvo's default tree. A file with a line BEGIN:VCARD is read as\n"
    "vCard, any other as CSV (UTF-8, UTF-16 or GB18030; comma, semicolon or\n"
    "tab; the header of Kelvo, Google Contacts, Outlook or Thunderbird).\n"
    "\n"
    "  --class LABEL     the first top-level card class so labelled (made at\n"
    "                    the end of the top level when missing); default the\n"
    "                    reserved class \xE6\x9C\xAA\xE5\x88\x86\xE7\xB1\xBB\xE7\x9A\x84\xE5\x90\x8D\xE7\x89\x87\n"
    "  --map COLUMN=N    CSV: the column named COLUMN (or numbered COLUMN, from\n"
    "                    1) holds field N (1 name, 2 title, 3 company,\n"
    "                    4 address, 5 phone, 6 fax, 7 mobile, 8 postcode, 9 web,\n"
    "                    10 QQ, 11 MSN, 12 e-mail, 13 other; 0 passes it over);\n"
    "                    repeatable\n"
    "  --no-header       CSV: the first line is a card; columns in field order\n"
    "\n"
    "Prints 'imported N cards, skipped M' on standard output, and on standard\n"
    "error one line 'FILE:LINE: message' for each skipped card and each value\n"
    "cut at 255 bytes or dropped (LINE: where the card begins in FILE).\n"
    "Refused while Kelvo runs for this user: it writes the file when it closes.\n"
    "\n"
    "Exit codes: 0 all cards imported; 3 some skipped, the rest imported;\n"
    "1 usage error, Kelvo running, or a FILE that cannot be read or holds no\n"
    "card (nothing written); 2 unreadable or damaged DATAFILE, or DATAFILE\n"
    "cannot be written.\n";

constexpr int ExitSomeSkipped = 3;

struct ImportOptions
{
    QString classLabel;
    exchange::CsvOptions csv;
    QString dataPath;
    QStringList files;
};

QString parseArguments(const QStringList &args, ImportOptions &options)
{
    CommandLine commandLine;
    const QCommandLineOption classOption(QStringLiteral("class"), QString(), QStringLiteral("LABEL"));
    const QCommandLineOption mapOption(QStringLiteral("map"), QString(), QStringLiteral("COLUMN=N"));
    const QCommandLineOption noHeader(QStringLiteral("no-header"));
    for (const QCommandLineOption &option : {classOption, mapOption, noHeader})
        commandLine.addOption(option);
    if (!commandLine.parse(args)) {
        if (!commandLine.optionWithoutValue().isEmpty())
            return QStringLiteral("option '%1' needs a value").arg(commandLine.optionWithoutValue());
        return QStringLiteral("unknown option '%1'").arg(commandLine.unknownOption());
    }
    options.classLabel =
        commandLine.isSet(classOption) ? commandLine.value(classOption) : gb18030::decode(ReservedCardClassLabel());
    if (options.classLabel.isEmpty())
        return QStringLiteral("--class needs a label");
    for (const QString &map : commandLine.values(mapOption)) {
        const std::optional<exchange::CsvColumnMap> parsed = exchange::ParseCsvColumnMap(map);
        if (!parsed)
            return QStringLiteral("bad --map '%1' (COLUMN=N, N a field number 1 to 13, or 0)").arg(map);
        options.csv.maps.push_back(*parsed);
    }
    options.csv.noHeader = commandLine.isSet(noHeader);
    const QStringList positional = commandLine.positionalArguments();
    if (positional.size() < 2)
        return QStringLiteral("expected DATAFILE FILE...");
    options.dataPath = positional.first();
    options.files = positional.mid(1);
    for (const QString &word : positional) {
        if (word == QLatin1String("-"))
            return QStringLiteral("DATAFILE and FILE must name files ('-' is no file here)");
    }
    return {};
}

int runImport(const QStringList &args)
{
    ImportOptions options;
    const QString usageError = parseArguments(args, options);
    if (!usageError.isEmpty()) {
        printError(QStringLiteral("kelvo-tool import: %1\n\n").arg(usageError) + QString::fromUtf8(ImportHelp));
        return ExitUsage;
    }
    // The data file first: nothing is read in vain from a damaged one.
    InstanceLock lock;
    CardTree tree;
    const DataFiles files = DataFiles::forDataFile(options.dataPath);
    if (const int failed = TakeDataFileForChange(QStringLiteral("import"), QStringLiteral("nothing imported"),
                                                 options.dataPath, files, lock, tree))
        return failed;

    // The identities the cards have so far (imported UIDs must not take one).
    CardIdentities ids(tree);
    if (Result<sync::RestoreOutcome> restored = sync::LoadIdentities(options.dataPath, tree, ids); !restored)
        printError(QStringLiteral("kelvo-tool import: the sync state cannot be read (%1); the cards get new "
                                  "identities")
                       .arg(restored.error().message()));

    std::vector<NewCardNode> cards;
    std::vector<std::pair<QString, exchange::ImportResult::CardOrigin>> origins; // file, UID and line
    int skipped = 0;
    QStringList report;
    for (const QString &path : options.files) {
        exchange::ImportResult result = exchange::ImportCardsFromFile(path, options.csv);
        if (!result.ok()) {
            printError(QStringLiteral("kelvo-tool import: %1: %2").arg(path, result.error));
            return ExitUsage;
        }
        for (const exchange::ImportMessage &message : result.messages)
            report.append(QStringLiteral("%1:%2: %3").arg(path).arg(message.line).arg(message.text()));
        skipped += result.skipped;
        for (NewCardNode &card : result.cards)
            cards.push_back(std::move(card));
        for (exchange::ImportResult::CardOrigin &origin : result.origins)
            origins.emplace_back(path, std::move(origin));
    }

    const int imported = int(cards.size());
    if (imported > 0) {
        CardNode *target = exchange::ImportTargetClass(tree, gb18030::encode(options.classLabel));
        const int first = tree.childCount(target);
        tree.addChildren(target, std::move(cards));
        // A card that carried a UID takes it as its identity, unless it is
        // not one (identities are UUIDs) or another card has it already.
        bool uidsTaken = false;
        QSet<QUuid> taken;
        const QHash<QUuid, const CardNode *> known = ids.byIdentity();
        for (auto it = known.cbegin(); it != known.cend(); ++it)
            taken.insert(it.key());
        for (size_t i = 0; i < origins.size(); ++i) {
            const auto &[file, origin] = origins[i];
            if (origin.uid.isEmpty())
                continue;
            const QUuid id = QUuid::fromString(origin.uid);
            const CardNode *node = tree.child(target, first + int(i));
            if (!node)
                break;
            if (id.isNull()) {
                report.append(QStringLiteral("%1:%2: UID '%3' is not a UUID; the card gets a new one")
                                  .arg(file)
                                  .arg(origin.line)
                                  .arg(origin.uid.left(80)));
            } else if (taken.contains(id)) {
                report.append(QStringLiteral("%1:%2: UID %3 belongs to another card; the card gets a new one")
                                  .arg(file)
                                  .arg(origin.line)
                                  .arg(IdentityText(id)));
            } else {
                ids.assign(node, id);
                taken.insert(id);
                uidsTaken = true;
            }
        }
        const SaveResult saved = SaveTreeViewWithData(files, tree);
        if (!saved.ok()) {
            for (const QString &line : report)
                printError(line);
            printError(
                QStringLiteral("kelvo-tool import: cannot write the data file: %1").arg(saved.saved.error().message()));
            return ExitDataFile;
        }
        if (!saved.backup)
            printError(QStringLiteral("kelvo-tool import: no backup made: %1").arg(saved.backup.error().message()));
        if (!saved.history)
            printError(QStringLiteral("kelvo-tool import: no copy kept in the backup history: %1")
                           .arg(saved.history.error().message()));
        // The identities follow the new bytes (kept when there is a state
        // file already, or when imported UIDs are to be kept).
        if (uidsTaken || QFileInfo::exists(sync::SyncStatePath(options.dataPath))) {
            if (const Result<> kept = sync::SaveIdentities(options.dataPath, tree, ids); !kept)
                printError(QStringLiteral("kelvo-tool import: the cards' identities cannot be kept: %1")
                               .arg(kept.error().message()));
        }
    }
    for (const QString &line : report)
        printError(line);
    printOut(QStringLiteral("imported %1 cards, skipped %2\n").arg(imported).arg(skipped));
    QString error;
    if (!FlushStandardOutput(&error)) {
        printError(QStringLiteral("kelvo-tool import: ") + error);
        return ExitUsage;
    }
    return skipped > 0 ? ExitSomeSkipped : ExitOk;
}

const CommandRegistration registration{{
    QStringLiteral("import"),
    QStringLiteral("add the cards of vCard and CSV files to a data file"),
    QString::fromUtf8(ImportHelp),
    &runImport,
}};

} // namespace

} // namespace kelvo::tool
