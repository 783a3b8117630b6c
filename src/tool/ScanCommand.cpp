// kelvo-tool scan: reads pictures of business cards into a data file.

#include "CommandLine.h"
#include "DataFileForChange.h"
#include "StoreFiles.h"
#include "ToolCommand.h"

#include "CaptureJson.h"
#include "CardReader.h"

#include "CardAssembly.h"
#include "CardImport.h"

#include "AtomicFile.h"
#include "CardIdentities.h"
#include "CardRecords.h"
#include "CardTree.h"
#include "DataFile.h"
#include "DataFiles.h"
#include "Gb18030.h"
#include "InstanceLock.h"
#include "SyncStatePath.h"
#include "TreeIdentities.h"

#include <QFileInfo>
#include <QJsonDocument>

namespace kelvo::tool {

namespace {

const char *const ScanHelp =
    "Usage: kelvo-tool scan [--class LABEL] [--dry-run] [--json] [--lines]\n"
    "                       [--vertical | --horizontal] [--rotate DEGREES]\n"
    "                       DATAFILE IMAGE...\n"
    "Reads pictures of business cards (JPEG, PNG, BMP, TIFF; photos or scans,\n"
    "at most 50 megapixels) and adds one card per picture, in the order given,\n"
    "to the end of a card class of DATAFILE, which is then written as Kelvo's\n"
    "save writes it (backup first, then the new file renamed over the old one).\n"
    "A missing DATAFILE starts as Kelvo's default tree. A QR code on the card\n"
    "(vCard or MECARD) gives its fields exactly; otherwise the text is\n"
    "recognised (Chinese and English, offline) and put into the fields by its\n"
    "labels, patterns and words. Check the cards: recognised text has errors.\n"
    "\n"
    "  --class LABEL     the first top-level card class so labelled (made at\n"
    "                    the end of the top level when missing); default the\n"
    "                    reserved class \xE6\x9C\xAA\xE5\x88\x86\xE7\xB1\xBB\xE7\x9A\x84\xE5\x90\x8D\xE7\x89\x87\n"
    "  --dry-run         add nothing; DATAFILE is not opened\n"
    "  --json            print per picture one JSON line {\"file\": PATH,\n"
    "                    \"fields\": [13 texts in field order], \"confidence\":\n"
    "                    [13 numbers 0-100, or null where empty]} instead of\n"
    "                    the report line (\"error\": TEXT for a picture not read)\n"
    "  --lines           with --json: also the field boxes, the recognised lines\n"
    "                    with their boxes, the rotation and the layout\n"
    "  --vertical        read the cards as vertical (columns of Chinese)\n"
    "  --horizontal      read the cards as horizontal (default: a card taller\n"
    "                    than wide is read as vertical)\n"
    "  --rotate DEGREES  turn the pictures clockwise by 90, 180 or 270 degrees\n"
    "                    first (default: turned upright when that is clear)\n"
    "\n"
    "Prints on standard error one line per picture, 'IMAGE: NAME, N fields'\n"
    "with the fields read with low confidence, or 'IMAGE: skipped: REASON', and\n"
    "on standard output 'scanned N cards, skipped M'.\n"
    "Refused while Kelvo runs for this user (it writes the file when it\n"
    "closes), except with --dry-run.\n"
    "\n"
    "Exit codes: 0 all pictures read into cards; 3 some had no text and were\n"
    "skipped, the rest added; 1 usage error, Kelvo running, or a picture that\n"
    "cannot be read (damaged, too large, no picture: nothing written; with\n"
    "--dry-run the other pictures are still read); 2 unreadable or damaged\n"
    "DATAFILE, or DATAFILE cannot be written.\n";

constexpr int ExitSomeSkipped = 3;
// Fields read with less confidence are named in the report line.
constexpr int SureConfidence = 92;

const char *const FieldWords[13] = {"name", "title", "company", "address", "phone",    "fax",  "mobile",
                                    "postcode", "web", "QQ",    "MSN",     "e-mail", "other"};

struct ScanOptions
{
    QString classLabel;
    bool dryRun = false;
    bool json = false;
    bool lines = false;
    capture::OcrOptions ocr;
    QString dataPath;
    QStringList images;
};

QString parseArguments(const QStringList &args, ScanOptions &options)
{
    CommandLine commandLine;
    const QCommandLineOption classOption(QStringLiteral("class"), QString(), QStringLiteral("LABEL"));
    const QCommandLineOption dryRun(QStringLiteral("dry-run"));
    const QCommandLineOption json(QStringLiteral("json"));
    const QCommandLineOption lines(QStringLiteral("lines"));
    const QCommandLineOption vertical(QStringLiteral("vertical"));
    const QCommandLineOption horizontal(QStringLiteral("horizontal"));
    const QCommandLineOption rotate(QStringLiteral("rotate"), QString(), QStringLiteral("DEGREES"));
    for (const QCommandLineOption &option : {classOption, dryRun, json, lines, vertical, horizontal, rotate})
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
    options.dryRun = commandLine.isSet(dryRun);
    options.json = commandLine.isSet(json);
    options.lines = commandLine.isSet(lines);
    if (options.lines && !options.json)
        return QStringLiteral("--lines needs --json");
    if (commandLine.isSet(vertical) && commandLine.isSet(horizontal))
        return QStringLiteral("--vertical and --horizontal exclude each other");
    if (commandLine.isSet(vertical))
        options.ocr.layout = capture::OcrOptions::Layout::Vertical;
    if (commandLine.isSet(horizontal))
        options.ocr.layout = capture::OcrOptions::Layout::Horizontal;
    if (commandLine.isSet(rotate)) {
        bool number = false;
        const int degrees = commandLine.value(rotate).toInt(&number);
        if (!number || (degrees != 0 && degrees != 90 && degrees != 180 && degrees != 270))
            return QStringLiteral("--rotate takes 0, 90, 180 or 270");
        options.ocr.rotation = degrees;
        options.ocr.detectOrientation = false;
    }
    const QStringList positional = commandLine.positionalArguments();
    if (positional.size() < 2)
        return QStringLiteral("expected DATAFILE IMAGE...");
    options.dataPath = positional.first();
    options.images = positional.mid(1);
    for (const QString &word : positional) {
        if (word == QLatin1String("-"))
            return QStringLiteral("DATAFILE and IMAGE must name files ('-' is no file here)");
    }
    return {};
}

QString reportLine(const QString &image, const capture::CaptureResult &result)
{
    int filled = 0;
    QStringList unsure;
    for (int n = 1; n <= 13; ++n) {
        const capture::CapturedField &field = result.field(n);
        if (field.text.isEmpty())
            continue;
        ++filled;
        if (field.confidence < SureConfidence)
            unsure.append(QLatin1String(FieldWords[n - 1]));
    }
    QString line = QStringLiteral("%1: '%2', %3 fields").arg(image, result.field(1).text).arg(filled);
    if (result.fromQrCode)
        line += QStringLiteral(" from its QR code");
    else if (!unsure.isEmpty())
        line += QStringLiteral("; check %1").arg(unsure.join(QStringLiteral(", ")));
    return line;
}

int runScan(const QStringList &args)
{
    ScanOptions options;
    const QString usageError = parseArguments(args, options);
    if (!usageError.isEmpty()) {
        printError(QStringLiteral("kelvo-tool scan: %1\n\n").arg(usageError) + QString::fromUtf8(ScanHelp));
        return ExitUsage;
    }

    InstanceLock lock;
    CardTree tree;
    const DataFiles files = DataFiles::forDataFile(options.dataPath);
    if (!options.dryRun) {
        // The data file first: no picture is read in vain for a damaged one.
        if (const int failed = TakeDataFileForChange(QStringLiteral("scan"), QStringLiteral("nothing added"),
                                                     options.dataPath, files, lock, tree))
            return failed;
    }

    capture::CardOcr ocr;
    std::vector<NewCardNode> cards;
    int skipped = 0;
    bool unreadable = false;
    for (const QString &image : options.images) {
        const capture::CaptureResult result = capture::readCardFile(ocr, image, options.ocr);
        if (options.json) {
            writeOut(QJsonDocument(capture::captureToJson(image, result, options.lines))
                         .toJson(QJsonDocument::Compact) +
                     '\n');
        }
        if (!result.ok()) {
            if (!options.json)
                printError(QStringLiteral("%1: skipped: %2").arg(image, result.error));
            unreadable = true;
            if (!options.dryRun) {
                printError(QStringLiteral("kelvo-tool scan: a picture cannot be read; nothing added"));
                return ExitUsage;
            }
            continue;
        }
        if (result.isEmpty()) {
            if (!options.json)
                printError(QStringLiteral("%1: skipped: no text found").arg(image));
            ++skipped;
            continue;
        }
        exchange::CardTexts texts;
        for (int n = 1; n <= 13; ++n)
            texts[size_t(n - 1)] = result.field(n).text;
        if (texts[0].isEmpty())
            texts[0] = gb18030::decode(NewCardLabel());
        exchange::ImportMessages messages;
        cards.push_back(exchange::MakeImportedCardNode(texts, 0, messages));
        if (!options.json) {
            printError(reportLine(image, result));
            for (const exchange::ImportMessage &message : messages)
                printError(QStringLiteral("%1: %2").arg(image, message.text()));
        }
    }

    const int added = int(cards.size());
    if (!options.dryRun && added > 0) {
        // The cards' identities, where a sync state keeps them, follow the
        // new bytes of the data file.
        const bool keepIdentities = QFileInfo::exists(sync::SyncStatePath(options.dataPath));
        CardIdentities ids(tree);
        if (keepIdentities) {
            if (const Result<sync::RestoreOutcome> restored = sync::LoadIdentities(options.dataPath, tree, ids); !restored)
                printError(QStringLiteral("kelvo-tool scan: the sync state cannot be read (%1); the cards get new "
                                          "identities")
                               .arg(restored.error().message()));
        }
        CardNode *target = exchange::ImportTargetClass(tree, gb18030::encode(options.classLabel));
        tree.addChildren(target, std::move(cards));
        const SaveResult saved = SaveTreeViewWithData(files, tree);
        if (!saved.ok()) {
            printError(
                QStringLiteral("kelvo-tool scan: cannot write the data file: %1").arg(saved.saved.error().message()));
            return ExitDataFile;
        }
        if (!saved.backup)
            printError(QStringLiteral("kelvo-tool scan: no backup made: %1").arg(saved.backup.error().message()));
        if (!saved.history)
            printError(QStringLiteral("kelvo-tool scan: no copy kept in the backup history: %1")
                           .arg(saved.history.error().message()));
        if (keepIdentities) {
            if (const Result<> kept = sync::SaveIdentities(options.dataPath, tree, ids); !kept)
                printError(QStringLiteral("kelvo-tool scan: the cards' identities cannot be kept: %1")
                               .arg(kept.error().message()));
        }
    }
    if (!options.json)
        printOut(QStringLiteral("%1 %2 cards, skipped %3\n")
                     .arg(options.dryRun ? QStringLiteral("read") : QStringLiteral("scanned"))
                     .arg(added)
                     .arg(skipped));
    QString error;
    if (!FlushStandardOutput(&error)) {
        printError(QStringLiteral("kelvo-tool scan: ") + error);
        return ExitUsage;
    }
    if (unreadable)
        return ExitUsage;
    return skipped > 0 ? ExitSomeSkipped : ExitOk;
}

const CommandRegistration registration{{
    QStringLiteral("scan"),
    QStringLiteral("add cards read from pictures of business cards to a data file"),
    QString::fromUtf8(ScanHelp),
    &runScan,
}};

} // namespace

} // namespace kelvo::tool
