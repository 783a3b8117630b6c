// kelvo-tool export: writes what the search window's exports write.

#include "CommandLine.h"
#include "ToolCommand.h"

#include "AtomicFile.h"
#include "CardTree.h"
#include "DataFile.h"
#include "FieldList.h"
#include "Gb18030.h"
#include "ResultExport.h"
#include "SearchCards.h"
#include "LinkUrl.h"
#include "StoreFiles.h"
#include "XlsxSpreadsheet.h"

#include <QDateTime>
#include <QLocale>

namespace kelvo::tool {

namespace {

const char *const ExportHelp =
    "Usage: kelvo-tool export --format text|xlsx|mailto DATAFILE CONDITION\n"
    "                         [--fields LIST] [--now DATETIME] [--locale NAME] OUT\n"
    "Searches DATAFILE as 'kelvo-tool search' does and writes the result the way\n"
    "the search window exports it. DATAFILE '-' reads standard input; OUT '-' is\n"
    "standard output (text, mailto).\n"
    "\n"
    "  --format text    the saved result file (GB18030, CR LF line ends)\n"
    "  --format mailto  the mail link, exactly the URI handed to the desktop\n"
    "  --format xlsx    the workbook (header row, then the rows' folded texts);\n"
    "                   OUT must be a file\n"
    "  --fields LIST    field numbers 1 to 13 separated by commas, or 'all'\n"
    "                   (default 1, the name)\n"
    "  --now DATETIME   the save date written into the text file, ISO 8601\n"
    "                   (default: now), for reproducible output\n"
    "  --locale NAME    the locale of that date, e.g. zh_CN (default: the\n"
    "                   user's locale)\n"
    "\n"
    "Exit codes: 0 done; 1 usage error, empty condition or unwritable OUT;\n"
    "2 unreadable or damaged data file.\n";

struct ExportOptions
{
    QString format;
    QString fieldList;
    QString now;
    QString locale;
    QStringList positional;
};

// Returns an error text, or an empty string when the arguments were read.
QString parseArguments(const QStringList &args, ExportOptions &options)
{
    CommandLine commandLine;
    const QCommandLineOption format(QStringLiteral("format"), QString(), QStringLiteral("FORMAT"));
    const QCommandLineOption fields(QStringLiteral("fields"), QString(), QStringLiteral("LIST"), QStringLiteral("1"));
    const QCommandLineOption now(QStringLiteral("now"), QString(), QStringLiteral("DATETIME"));
    const QCommandLineOption locale(QStringLiteral("locale"), QString(), QStringLiteral("NAME"));
    for (const QCommandLineOption &option : {format, fields, now, locale})
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
    options.positional = commandLine.positionalArguments();
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
    if (!text && !mailto && !xlsx) {
        printError(QStringLiteral("kelvo-tool export: --format must be text, xlsx or mailto"));
        return ExitUsage;
    }
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
    if (xlsx) {
        QString writeError;
        if (!writeWorkbook(outPath, outcome.rows, &writeError)) {
            printError(QStringLiteral("kelvo-tool export: cannot write %1: %2").arg(outPath, writeError));
            return ExitUsage;
        }
        return ExitOk;
    }
    const QByteArray bytes = text ? ResultTextFileContent(outcome.rows, now, locale)
                                  : linkToUrl(ResultMailText(outcome.rows)).toEncoded();
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
