// kelvo-tool export: writes what the search window's exports write.

#include "ToolCommand.h"

#include "CardTree.h"
#include "DataFile.h"
#include "FieldList.h"
#include "Gb18030.h"
#include "ResultExport.h"
#include "SearchCards.h"
#include "Shell.h"
#include "StoreFiles.h"
#include "XlsxSpreadsheet.h"

#include <QDateTime>
#include <QFile>
#include <QLocale>

namespace kelvo::tool {

namespace {

const char *const ExportHelp =
    "Usage: kelvo-tool export --format text|xlsx|mailto DATAFILE CONDITION\n"
    "                         [--fields LIST] [--now DATETIME] [--locale NAME] OUT\n"
    "Searches DATAFILE as 'kelvo-tool search' does and writes the result the way\n"
    "the search window exports it. OUT '-' is standard output (text, mailto).\n"
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
    QString fieldList = QStringLiteral("1");
    QString now;
    QString locale;
    QStringList positional;
};

// Returns an error text, or an empty string when the arguments were read.
QString parseArguments(const QStringList &args, ExportOptions &options)
{
    bool optionsEnded = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (optionsEnded || !arg.startsWith(QLatin1String("--"))) {
            options.positional.append(arg);
            continue;
        }
        if (arg == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        QString name = arg;
        QString value;
        const qsizetype equals = arg.indexOf(u'=');
        if (equals > 0) {
            name = arg.left(equals);
            value = arg.mid(equals + 1);
        } else if (i + 1 < args.size()) {
            value = args.at(++i);
        } else {
            return QStringLiteral("option '%1' needs a value").arg(arg);
        }
        if (name == QLatin1String("--format"))
            options.format = value;
        else if (name == QLatin1String("--fields"))
            options.fieldList = value;
        else if (name == QLatin1String("--now"))
            options.now = value;
        else if (name == QLatin1String("--locale"))
            options.locale = value;
        else
            return QStringLiteral("unknown option '%1'").arg(name);
    }
    if (options.positional.size() != 3)
        return QStringLiteral("expected DATAFILE CONDITION OUT");
    return {};
}

bool writeOutput(const QString &path, const QByteArray &bytes, QString *error)
{
    if (path == QLatin1String("-")) {
        writeOut(bytes);
        return true;
    }
    return WriteFileAtomically(path, bytes, error);
}

// The spreadsheet export's steps, as the search window runs them, without
// showing the workbook.
bool writeWorkbook(const QString &path, const std::vector<TResultRow> &rows, QString *error)
{
    XlsxSpreadsheet spreadsheet([](const QString &) {});
    std::unique_ptr<SpreadsheetApplication> application = spreadsheet.createApplication(error);
    if (!application)
        return false;
    bool ok = application->addWorkbook();
    const QStringList header = SpreadsheetHeader();
    for (int column = 0; ok && column < header.size(); ++column)
        ok = application->setCell(1, column + 1, header.at(column));
    const std::vector<QStringList> cells = SpreadsheetRows(rows);
    for (size_t row = 0; ok && row < cells.size(); ++row) {
        for (int column = 0; ok && column < cells[row].size(); ++column)
            ok = application->setCell(int(row) + 2, column + 1, cells[row].at(column));
    }
    ok = ok && application->saveActiveWorkbookAs(path);
    if (!ok)
        *error = application->errorString();
    return ok;
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

    QFile file(dataPath);
    if (!file.open(QIODevice::ReadOnly)) {
        printError(QStringLiteral("kelvo-tool export: cannot read %1: %2").arg(dataPath, file.errorString()));
        return ExitDataFile;
    }
    CardTree tree;
    const LoadResult loaded = ReadTreeFromBytes(file.readAll(), tree);
    if (!loaded.ok()) {
        printError(QStringLiteral("kelvo-tool export: %1 is damaged at byte %2: %3")
                       .arg(dataPath)
                       .arg(loaded.offset)
                       .arg(loaded.reason));
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
