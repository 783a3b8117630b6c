// kelvo-tool search: runs the search window's search over a data file.

#include "CommandLine.h"
#include "StoreFiles.h"
#include "ToolCommand.h"

#include "CardTree.h"
#include "DataFile.h"
#include "FieldList.h"
#include "Gb18030.h"
#include "SearchCards.h"

namespace kelvo::tool {

namespace {

const char *const SearchHelp =
    "Usage: kelvo-tool search DATAFILE CONDITION [--fields LIST]\n"
    "Finds the cards of DATAFILE whose chosen fields contain CONDITION, as the\n"
    "search window does (ASCII letter case ignored, blanks around values and the\n"
    "condition ignored). DATAFILE '-' reads standard input.\n"
    "\n"
    "  --fields LIST  field numbers 1 to 13 separated by commas, or 'all'\n"
    "                 (default 1, the name). 1 name, 2 title, 3 company,\n"
    "                 4 address, 5 phone, 6 fax, 7 mobile, 8 postcode, 9 web,\n"
    "                 10 QQ, 11 MSN, 12 e-mail, 13 other.\n"
    "\n"
    "Prints one line per found card in result-list order: the thirteen folded\n"
    "field texts separated by tabs (a tab, line break or backslash inside a text\n"
    "is written \\t, \\r, \\n or \\\\), then the line 共找到N张名片。\n"
    "Exit codes: 0 done; 1 usage error, empty condition, or standard output could\n"
    "not be written; 2 unreadable or damaged data file.\n";

QString escapedCell(const QString &text)
{
    QString cell;
    cell.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'\\': cell += QLatin1String("\\\\"); break;
        case u'\t': cell += QLatin1String("\\t"); break;
        case u'\r': cell += QLatin1String("\\r"); break;
        case u'\n': cell += QLatin1String("\\n"); break;
        default: cell += c;
        }
    }
    return cell;
}

int runSearch(const QStringList &args)
{
    CommandLine commandLine;
    const QCommandLineOption fieldsOption(QStringLiteral("fields"), QString(), QStringLiteral("LIST"), QStringLiteral("1"));
    commandLine.addOption(fieldsOption);
    if (!commandLine.parse(args)) {
        if (!commandLine.optionWithoutValue().isEmpty())
            printError(QStringLiteral("kelvo-tool search: --fields needs a list"));
        else
            printError(QStringLiteral("kelvo-tool search: unknown option '%1'").arg(commandLine.unknownOption()));
        return ExitUsage;
    }
    const QStringList positional = commandLine.positionalArguments();
    if (positional.size() != 2) {
        printError(QString::fromUtf8(SearchHelp));
        return ExitUsage;
    }
    const QString fieldList = commandLine.value(fieldsOption);
    const std::optional<FieldSelection> fields = ParseFieldList(fieldList);
    if (!fields) {
        printError(QStringLiteral("kelvo-tool search: bad field list '%1' (numbers 1 to 13 separated by commas, or 'all')")
                       .arg(fieldList));
        return ExitUsage;
    }
    const QByteArray condition = gb18030::encode(positional.at(1));
    if (gb18030::trimmed(condition).isEmpty()) {
        printError(QStringLiteral("请输入查找条件!"));
        return ExitUsage;
    }

    CardTree tree;
    QString error;
    if (!ReadDataFile(positional.at(0), tree, &error)) {
        printError(QStringLiteral("kelvo-tool search: ") + error);
        return ExitDataFile;
    }

    const SearchOutcome outcome = SearchCards(tree, condition, *fields);
    QString out;
    for (const TResultRow &row : outcome.rows) {
        for (size_t i = 0; i < row.Texts.size(); ++i) {
            if (i > 0)
                out += u'\t';
            out += escapedCell(gb18030::decode(row.Texts[i]));
        }
        out += u'\n';
    }
    out += FoundCardsStatusText(outcome.count()) + u'\n';
    printOut(out);
    if (!FlushStandardOutput(&error)) {
        printError(QStringLiteral("kelvo-tool search: ") + error);
        return ExitUsage;
    }
    return ExitOk;
}

const CommandRegistration registration{{
    QStringLiteral("search"),
    QStringLiteral("find cards as the search window does"),
    QString::fromUtf8(SearchHelp),
    &runSearch,
}};

} // namespace

} // namespace kelvo::tool
