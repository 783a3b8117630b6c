// kelvo-tool search: runs the search window's search over a data file.

#include "ToolCommand.h"

#include "CardTree.h"
#include "DataFile.h"
#include "FieldList.h"
#include "Gb18030.h"
#include "SearchCards.h"

#include <QFile>

namespace kelvo::tool {

namespace {

const char *const SearchHelp =
    "Usage: kelvo-tool search DATAFILE CONDITION [--fields LIST]\n"
    "Finds the cards of DATAFILE whose chosen fields contain CONDITION, as the\n"
    "search window does (ASCII letter case ignored, blanks around values and the\n"
    "condition ignored).\n"
    "\n"
    "  --fields LIST  field numbers 1 to 13 separated by commas, or 'all'\n"
    "                 (default 1, the name). 1 name, 2 title, 3 company,\n"
    "                 4 address, 5 phone, 6 fax, 7 mobile, 8 postcode, 9 web,\n"
    "                 10 QQ, 11 MSN, 12 e-mail, 13 other.\n"
    "\n"
    "Prints one line per found card in result-list order: the thirteen folded\n"
    "field texts separated by tabs (a tab, line break or backslash inside a text\n"
    "is written \\t, \\r, \\n or \\\\), then the line 共找到N张名片。\n"
    "Exit codes: 0 done; 1 usage error or empty condition; 2 unreadable or\n"
    "damaged data file.\n";

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
    QStringList positional;
    QString fieldList = QStringLiteral("1");
    bool optionsEnded = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (!optionsEnded && arg == QLatin1String("--")) {
            optionsEnded = true;
        } else if (!optionsEnded && arg == QLatin1String("--fields")) {
            if (i + 1 >= args.size()) {
                printError(QStringLiteral("kelvo-tool search: --fields needs a list"));
                return ExitUsage;
            }
            fieldList = args.at(++i);
        } else if (!optionsEnded && arg.startsWith(QLatin1String("--fields="))) {
            fieldList = arg.mid(9);
        } else if (!optionsEnded && arg.startsWith(QLatin1String("--"))) {
            printError(QStringLiteral("kelvo-tool search: unknown option '%1'").arg(arg));
            return ExitUsage;
        } else {
            positional.append(arg);
        }
    }
    if (positional.size() != 2) {
        printError(QString::fromUtf8(SearchHelp));
        return ExitUsage;
    }
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

    QFile file(positional.at(0));
    if (!file.open(QIODevice::ReadOnly)) {
        printError(QStringLiteral("kelvo-tool search: cannot read %1: %2").arg(positional.at(0), file.errorString()));
        return ExitDataFile;
    }
    const QByteArray bytes = file.readAll();
    CardTree tree;
    const LoadResult loaded = ReadTreeFromBytes(bytes, tree);
    if (!loaded.ok()) {
        printError(QStringLiteral("kelvo-tool search: %1 is damaged at byte %2: %3")
                       .arg(positional.at(0))
                       .arg(loaded.offset)
                       .arg(loaded.reason));
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
