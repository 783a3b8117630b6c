#include "CardGenerator.h"
#include "StoreFiles.h"
#include "ToolCommand.h"

#include "CardTree.h"
#include "DataFile.h"

namespace kelvo::tool {

namespace {

// "--name VALUE" or "--name=VALUE"; removes what it takes from `args`.
bool takeOption(QStringList &args, const QString &name, QString *value, bool *found, QString *error)
{
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (arg == name) {
            if (i + 1 >= args.size()) {
                *error = QStringLiteral("%1 needs a value").arg(name);
                return false;
            }
            *value = args.at(i + 1);
            args.remove(i, 2);
            *found = true;
            return true;
        }
        if (arg.startsWith(name + QLatin1Char('='))) {
            *value = arg.mid(name.size() + 1);
            args.remove(i);
            *found = true;
            return true;
        }
    }
    *found = false;
    return true;
}

int usage(const QString &problem)
{
    printError(QStringLiteral("kelvo-tool generate: %1\n"
                              "Usage: kelvo-tool generate --cards N [--seed S] DATAFILE   (see kelvo-tool generate --help)")
                   .arg(problem));
    return ExitUsage;
}

int runGenerate(const QStringList &arguments)
{
    QStringList args = arguments;
    QString error;
    QString cardsText;
    QString seedText;
    bool haveCards = false;
    bool haveSeed = false;
    if (!takeOption(args, QStringLiteral("--cards"), &cardsText, &haveCards, &error)
        || !takeOption(args, QStringLiteral("--seed"), &seedText, &haveSeed, &error))
        return usage(error);
    if (!haveCards)
        return usage(QStringLiteral("--cards is required"));
    bool ok = false;
    const int cards = cardsText.toInt(&ok);
    if (!ok || cards < 0 || cards > MaxGeneratedCards)
        return usage(QStringLiteral("--cards needs a whole number from 0 to %1, not '%2'").arg(MaxGeneratedCards).arg(cardsText));
    quint64 seed = 1;
    if (haveSeed) {
        seed = seedText.toULongLong(&ok);
        if (!ok)
            return usage(QStringLiteral("--seed needs a whole number from 0 to 18446744073709551615, not '%1'").arg(seedText));
    }
    if (args.size() != 1 || args.first().startsWith(QLatin1Char('-')))
        return usage(args.isEmpty() ? QStringLiteral("DATAFILE is missing")
                                    : QStringLiteral("unexpected '%1'").arg(args.join(QLatin1Char(' '))));

    CardTree tree;
    GenerateCardTree(tree, cards, seed);
    const QByteArray bytes = SerializeTree(tree, NoProgress(), &error);
    if (bytes.isEmpty() || !WriteFileAtomically(args.first(), bytes, &error)) {
        printError(QStringLiteral("kelvo-tool generate: ") + error);
        return ExitDataFile;
    }
    return ExitOk;
}

const CommandRegistration registration{{
    QStringLiteral("generate"),
    QStringLiteral("write a data file of made-up cards (demos, benchmarks)"),
    QStringLiteral(
        "Usage: kelvo-tool generate --cards N [--seed S] DATAFILE\n"
        "\n"
        "Writes a Kelvo data file holding N made-up but realistic business cards\n"
        "(N from 0 to 2000000): first the card class \"未分类的名片\", then about one card\n"
        "class per 500 cards, nested up to four levels deep, holding cards with Chinese\n"
        "names, titles, companies, addresses, telephone, fax and mobile numbers,\n"
        "postcodes, web sites, QQ numbers, MSN and e-mail addresses and notes.\n"
        "\n"
        "The same N and seed S (default 1) give the same file, byte for byte, on every\n"
        "machine. DATAFILE is replaced in one step (written beside it, then renamed).\n"
        "\n"
        "Exit codes: 0 written; 1 usage error; 2 the data file could not be written.\n"),
    &runGenerate,
}};

} // namespace

} // namespace kelvo::tool
