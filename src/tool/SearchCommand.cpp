// kelvo-tool search: runs the search window's search over a data file.

#include "CommandLine.h"
#include "StoreFiles.h"
#include "ToolCommand.h"

#include "CardTree.h"
#include "DataFile.h"
#include "FieldList.h"
#include "Folding.h"
#include "Gb18030.h"
#include "SearchCards.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

namespace kelvo::tool {

namespace {

const char *const SearchHelp = "Usage: kelvo-tool search DATAFILE CONDITION [--fields LIST]\n"
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

// Writes a field as the search window shows it (its folded
// value) in UTF-8 at `to` (room for 2 * MaxUtf8Bytes of it), with a tab,
// line break or backslash written \t, \r, \n or \\. Returns the end of
// what was written.
//
// With many rows, the text is trimmed and turned into UTF-8 through the
// tables, then its ASCII letters are upper-cased: the same as folding first
// (folding touches only ASCII letters standing as characters, which are just
// the ASCII bytes of the UTF-8), without a pass and a copy more.
bool mayNeedEscape(QByteArrayView text)
{
    // Eight bytes at a time: any byte below 0x20 (among ASCII bytes; a false
    // alarm only costs the exact look) or a backslash.
    constexpr std::uint64_t Ones = 0x0101010101010101ULL;
    const char *p = text.data();
    qsizetype left = text.size();
    for (; left >= 8; p += 8, left -= 8) {
        std::uint64_t x;
        std::memcpy(&x, p, 8);
        const std::uint64_t backslash = x ^ (0x5C * Ones);
        if ((((x - 0x20 * Ones) & ~x) | ((backslash - Ones) & ~backslash)) & (0x80 * Ones))
            return true;
    }
    for (; left > 0; ++p, --left) {
        if (static_cast<unsigned char>(*p) < 0x20 || *p == '\\')
            return true;
    }
    return false;
}

char *putCell(QByteArrayView raw, bool manyRows, QByteArray &spare, char *to)
{
    const QByteArrayView trimmed = gb18030::trimmed(raw);
    char *end = manyRows ? gb18030::putAsUtf8(trimmed, to, true) : nullptr;
    if (!end) {
        spare = gb18030::decode(FoldText(raw)).toUtf8();
        std::memcpy(to, spare.constData(), static_cast<size_t>(spare.size()));
        end = to + spare.size();
    }
    const auto needsEscape = [](char c) { return c == '\\' || c == '\t' || c == '\r' || c == '\n'; };
    // The four bytes are below 0x40, so they stand for themselves in GB18030
    // as in UTF-8: a look at the shorter text tells.
    if (!mayNeedEscape(trimmed) || std::none_of(trimmed.begin(), trimmed.end(), needsEscape))
        return end;
    spare = QByteArray(to, end - to);
    for (const char c : std::as_const(spare)) {
        if (needsEscape(c)) {
            *to++ = '\\';
            *to++ = c == '\\' ? '\\' : c == '\t' ? 't' : c == '\r' ? 'r' : 'n';
        } else {
            *to++ = c;
        }
    }
    return to;
}

int runSearch(const QStringList &args)
{
    CommandLine commandLine;
    const QCommandLineOption fieldsOption(QStringLiteral("fields"), QString(), QStringLiteral("LIST"),
                                          QStringLiteral("1"));
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
        printError(
            QStringLiteral("kelvo-tool search: bad field list '%1' (numbers 1 to 13 separated by commas, or 'all')")
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

    const FoundCards outcome = FindCards(tree, condition, *fields, QLocale());
    const bool manyRows = outcome.count() > 64;
    constexpr qsizetype Piece = qsizetype(1) << 20;
    QByteArray out;
    out.reserve(Piece + 4096);
    QByteArray spare;
    for (const FoundCard &found : outcome.cards) {
        const TCardData &card = *found.Card;
        const qsizetype at = out.size();
        out.resize(at + 2 * gb18030::MaxUtf8Bytes(card.textBytes()) + 2 * Field::Count * 4 + 16);
        char *to = out.data() + at;
        const std::array<QByteArrayView, Field::Count> fields = card.fields();
        for (size_t i = 0; i < fields.size(); ++i) {
            if (i > 0)
                *to++ = '\t';
            to = putCell(fields[i], manyRows, spare, to);
        }
        *to++ = '\n';
        out.truncate(to - out.constData());
        if (out.size() >= Piece) {
            writeOut(out);
            out.resize(0);
        }
    }
    out += (FoundCardsStatusText(outcome.count()) + u'\n').toUtf8();
    writeOut(out);
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
