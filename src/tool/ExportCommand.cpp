// kelvo-tool export: writes what the search window's exports write, and
// cards as vCard or CSV.

#include "CommandLine.h"
#include "ToolCommand.h"

#include "AtomicFile.h"
#include "CardExport.h"

#include "CardIdentities.h"
#include "CardTree.h"
#include "DataFile.h"
#include "FieldList.h"
#include "Gb18030.h"
#include "LinkUrl.h"
#include "ResultExport.h"
#include "SearchCards.h"
#include "StoreFiles.h"
#include "TreeIdentities.h"
#include "XlsxSpreadsheet.h"

#include <QDateTime>
#include <QLocale>

namespace kelvo::tool {

namespace {

const char *const ExportHelp = "Usage: kelvo-tool export --format text|xlsx|mailto DATAFILE CONDITION\n"
                               "                         [--fields LIST] [--now DATETIME] [--locale NAME] OUT\n"
                               "       kelvo-tool export --format vcard|csv [--vcard-version 3.0|4.0] DATAFILE\n"
                               "                         (CONDITION [--fields LIST] | --all | --class LABEL) OUT\n"
                               "Searches DATAFILE as 'kelvo-tool search' does and writes the result the way\n"
                               "the search window exports it, or writes cards for other programs.\n"
                               "DATAFILE '-' reads standard input; OUT '-' is standard output (all but xlsx).\n"
                               "\n"
                               "  --format text    the saved result file (GB18030, CR LF line ends)\n"
                               "  --format mailto  the mail link, exactly the URI handed to the desktop\n"
                               "  --format xlsx    the workbook (header row, then the rows' folded texts);\n"
                               "                   OUT must be a file\n"
                               "  --format vcard   the cards as vCard 3.0 (UTF-8, CR LF, folded at 75\n"
                               "                   octets; each card's class as CATEGORIES)\n"
                               "  --format csv     the cards as CSV: UTF-8 with a byte order mark, CR LF,\n"
                               "                   the thirteen captions as the header\n"
                               "  --vcard-version  3.0 (the default) or 4.0\n"
                               "  --all            every card, in tree order (vcard, csv)\n"
                               "  --class LABEL    the cards of the first card class so labelled and of\n"
                               "                   its subclasses, in tree order (vcard, csv)\n"
                               "  --fields LIST    field numbers 1 to 13 separated by commas, or 'all'\n"
                               "                   (default 1, the name)\n"
                               "  --now DATETIME   the save date written into the text file, ISO 8601\n"
                               "                   (default: now), for reproducible output\n"
                               "  --locale NAME    the locale of that date, e.g. zh_CN (default: the\n"
                               "                   user's locale)\n"
                               "\n"
                               "Exit codes: 0 done; 1 usage error, empty condition, no such class or\n"
                               "unwritable OUT; 2 unreadable or damaged data file.\n";

struct ExportOptions
{
    QString format;
    QString fieldList;
    bool fieldsGiven = false;
    QString now;
    QString locale;
    QString vcardVersion;
    bool all = false;
    bool classGiven = false;
    QString classLabel;
    QStringList positional;

    bool cardExport() const { return format == QLatin1String("vcard") || format == QLatin1String("csv"); }
    bool wholeClasses() const { return all || classGiven; }
};

// Returns an error text, or an empty string when the arguments were read.
QString parseArguments(const QStringList &args, ExportOptions &options)
{
    CommandLine commandLine;
    const QCommandLineOption format(QStringLiteral("format"), QString(), QStringLiteral("FORMAT"));
    const QCommandLineOption fields(QStringLiteral("fields"), QString(), QStringLiteral("LIST"), QStringLiteral("1"));
    const QCommandLineOption now(QStringLiteral("now"), QString(), QStringLiteral("DATETIME"));
    const QCommandLineOption locale(QStringLiteral("locale"), QString(), QStringLiteral("NAME"));
    const QCommandLineOption vcardVersion(QStringLiteral("vcard-version"), QString(), QStringLiteral("VERSION"),
                                          QStringLiteral("3.0"));
    const QCommandLineOption all(QStringLiteral("all"));
    const QCommandLineOption cardClass(QStringLiteral("class"), QString(), QStringLiteral("LABEL"));
    for (const QCommandLineOption &option : {format, fields, now, locale, vcardVersion, all, cardClass})
        commandLine.addOption(option);
    if (!commandLine.parse(args)) {
        if (!commandLine.optionWithoutValue().isEmpty())
            return QStringLiteral("option '%1' needs a value").arg(commandLine.optionWithoutValue());
        return QStringLiteral("unknown option '%1'").arg(commandLine.unknownOption());
    }
    options.format = commandLine.value(format);
    options.fieldList = commandLine.value(fields);
    options.now = commandLine.value(now);
    options.locale = commandLine.value(locale);
    options.fieldsGiven = commandLine.isSet(fields);
    options.vcardVersion = commandLine.value(vcardVersion);
    options.all = commandLine.isSet(all);
    options.classGiven = commandLine.isSet(cardClass);
    options.classLabel = commandLine.value(cardClass);
    options.positional = commandLine.positionalArguments();
    if (options.wholeClasses()) {
        if (!options.cardExport())
            return QStringLiteral("--all and --class go with --format vcard or csv");
        if (options.all && options.classGiven)
            return QStringLiteral("give either --all or --class");
        if (options.fieldsGiven)
            return QStringLiteral("--fields goes with a CONDITION, not with --all or --class");
        if (options.positional.size() != 2)
            return QStringLiteral("expected DATAFILE OUT with --all or --class");
        return {};
    }
    if (commandLine.isSet(vcardVersion) && options.format != QLatin1String("vcard"))
        return QStringLiteral("--vcard-version goes with --format vcard");
    if (options.positional.size() != 3)
        return QStringLiteral("expected DATAFILE CONDITION OUT");
    return {};
}

bool writeOutput(const QString &path, const QByteArray &bytes, QString *error)
{
    if (path == QLatin1String("-")) {
        writeOut(bytes);
        return FlushStandardOutput(error);
    }
    const Result<> done = writeFileAtomically(path, bytes);
    if (!done)
        *error = done.error().message();
    return done.ok();
}

// The search window's spreadsheet export; the workbook is not opened.
bool writeWorkbook(const QString &path, const std::vector<TResultRow> &rows, QString *error)
{
    XlsxSpreadsheet spreadsheet([](const QString &) {});
    std::unique_ptr<SpreadsheetApplication> application = spreadsheet.createApplication(error);
    if (!application)
        return false;
    if (!FillAndSaveWorkbook(*application, SpreadsheetHeader(), SpreadsheetRows(rows), path)) {
        *error = application->errorString();
        return false;
    }
    return true;
}

int writeCards(const QString &outPath, const QByteArray &bytes)
{
    QString writeError;
    if (!writeOutput(outPath, bytes, &writeError)) {
        printError(QStringLiteral("kelvo-tool export: cannot write %1").arg(writeError));
        return ExitUsage;
    }
    return ExitOk;
}

// vCard and CSV of `cards`; a vCard carries each card's identity as UID,
// kept in the sync state beside the data file so that the next export (and
// a sync) gives the same one.
QByteArray cardFile(const QString &dataPath, CardTree &tree, const std::vector<const CardNode *> &cards,
                    exchange::ExportFormat format)
{
    if (format == exchange::ExportFormat::Csv)
        return exchange::ExportCards(cards, format);
    CardIdentities ids(tree);
    const bool file = dataPath != QLatin1String("-");
    if (file) {
        if (Result<sync::RestoreOutcome> restored = sync::LoadIdentities(dataPath, tree, ids); !restored)
            printError(QStringLiteral("kelvo-tool export: the sync state cannot be read (%1); the cards get new UIDs")
                           .arg(restored.error().message()));
    }
    QByteArray bytes = exchange::ExportCards(cards, format, [&ids](const CardNode *card) {
        return IdentityText(ids.identity(card));
    });
    if (file) {
        if (Result<> kept = sync::SaveIdentities(dataPath, tree, ids); !kept)
            printError(QStringLiteral("kelvo-tool export: the UIDs cannot be kept for the next export: %1")
                           .arg(kept.error().message()));
    }
    return bytes;
}

// --all and --class: whole card classes, no search.
int exportCards(const ExportOptions &options, exchange::ExportFormat format)
{
    const QString &dataPath = options.positional.at(0);
    const QString &outPath = options.positional.at(1);
    CardTree tree;
    QString error;
    if (!ReadDataFile(dataPath, tree, &error)) {
        printError(QStringLiteral("kelvo-tool export: ") + error);
        return ExitDataFile;
    }
    std::vector<const CardNode *> cards;
    if (options.all) {
        cards = exchange::AllCards(tree);
    } else {
        const CardNode *cardClass = exchange::FirstClassLabelled(tree, gb18030::encode(options.classLabel));
        if (!cardClass) {
            printError(QStringLiteral("kelvo-tool export: %1 has no card class labelled '%2'")
                           .arg(dataPath, options.classLabel));
            return ExitUsage;
        }
        cards = exchange::CardsAt(cardClass);
    }
    return writeCards(outPath, cardFile(dataPath, tree, cards, format));
}

int runExport(const QStringList &args)
{
    ExportOptions options;
    const QString usageError = parseArguments(args, options);
    if (!usageError.isEmpty()) {
        printError(QStringLiteral("kelvo-tool export: %1\n\n").arg(usageError) + QString::fromUtf8(ExportHelp));
        return ExitUsage;
    }
    const bool text = options.format == QLatin1String("text");
    const bool mailto = options.format == QLatin1String("mailto");
    const bool xlsx = options.format == QLatin1String("xlsx");
    if (!text && !mailto && !xlsx && !options.cardExport()) {
        printError(QStringLiteral("kelvo-tool export: --format must be text, xlsx, mailto, vcard or csv"));
        return ExitUsage;
    }
    exchange::ExportFormat cardFormat = exchange::ExportFormat::Csv;
    if (options.format == QLatin1String("vcard")) {
        if (options.vcardVersion == QLatin1String("3.0")) {
            cardFormat = exchange::ExportFormat::VCard30;
        } else if (options.vcardVersion == QLatin1String("4.0")) {
            cardFormat = exchange::ExportFormat::VCard40;
        } else {
            printError(QStringLiteral("kelvo-tool export: --vcard-version must be 3.0 or 4.0"));
            return ExitUsage;
        }
    }
    if (options.wholeClasses())
        return exportCards(options, cardFormat);
    const std::optional<FieldSelection> fields = ParseFieldList(options.fieldList);
    if (!fields) {
        printError(QStringLiteral("kelvo-tool export: bad field list '%1' (numbers 1 to 13 separated by commas, "
                                  "or 'all')")
                       .arg(options.fieldList));
        return ExitUsage;
    }
    QDateTime now = QDateTime::currentDateTime();
    if (!options.now.isEmpty()) {
        now = QDateTime::fromString(options.now, Qt::ISODate);
        if (!now.isValid()) {
            printError(QStringLiteral("kelvo-tool export: bad --now '%1' (ISO 8601, e.g. 2024-05-06T07:08:09)")
                           .arg(options.now));
            return ExitUsage;
        }
    }
    const QLocale locale = options.locale.isEmpty() ? QLocale() : QLocale(options.locale);

    const QString &dataPath = options.positional.at(0);
    const QByteArray condition = gb18030::encode(options.positional.at(1));
    const QString &outPath = options.positional.at(2);
    if (xlsx && outPath == QLatin1String("-")) {
        printError(QStringLiteral("kelvo-tool export: an .xlsx workbook cannot go to standard output; name a file"));
        return ExitUsage;
    }
    if (gb18030::trimmed(condition).isEmpty()) {
        printError(QStringLiteral("请输入查找条件!"));
        return ExitUsage;
    }

    CardTree tree;
    QString error;
    if (!ReadDataFile(dataPath, tree, &error)) {
        printError(QStringLiteral("kelvo-tool export: ") + error);
        return ExitDataFile;
    }

    const SearchOutcome outcome = SearchCards(tree, condition, *fields, locale);
    if (options.cardExport()) {
        std::vector<const CardNode *> cards;
        for (const TResultRow &row : outcome.rows)
            cards.push_back(row.Node);
        return writeCards(outPath, cardFile(dataPath, tree, cards, cardFormat));
    }
    if (xlsx) {
        QString writeError;
        if (!writeWorkbook(outPath, outcome.rows, &writeError)) {
            printError(QStringLiteral("kelvo-tool export: cannot write %1: %2").arg(outPath, writeError));
            return ExitUsage;
        }
        return ExitOk;
    }
    const QByteArray bytes =
        text ? ResultTextFileContent(outcome.rows, now, locale) : linkToUrl(ResultMailText(outcome.rows)).toEncoded();
    QString writeError;
    if (!writeOutput(outPath, bytes, &writeError)) {
        printError(QStringLiteral("kelvo-tool export: cannot write %1").arg(writeError));
        return ExitUsage;
    }
    return ExitOk;
}

const CommandRegistration registration{{
    QStringLiteral("export"),
    QStringLiteral("write the search window's exports of a search"),
    QString::fromUtf8(ExportHelp),
    &runExport,
}};

} // namespace

} // namespace kelvo::tool
