#include "CardGenerator.h"
#include "CommandLine.h"
#include "StoreFiles.h"
#include "ToolCommand.h"

#include "AtomicFile.h"
#include "CardTree.h"
#include "DataFile.h"

namespace kelvo::tool {

namespace {

int usage(const QString &problem)
{
    printError(
        QStringLiteral("kelvo-tool generate: %1\n"
                       "Usage: kelvo-tool generate --cards N [--seed S] DATAFILE   (see kelvo-tool generate --help)")
            .arg(problem));
    return ExitUsage;
}

int runGenerate(const QStringList &args)
{
    CommandLine commandLine;
    const QCommandLineOption cardsOption(QStringLiteral("cards"), QString(), QStringLiteral("N"));
    const QCommandLineOption seedOption(QStringLiteral("seed"), QString(), QStringLiteral("S"), QStringLiteral("1"));
    commandLine.addOption(cardsOption);
    commandLine.addOption(seedOption);
    if (!commandLine.parse(args)) {
        if (!commandLine.optionWithoutValue().isEmpty())
            return usage(QStringLiteral("%1 needs a value").arg(commandLine.optionWithoutValue()));
        return usage(QStringLiteral("unknown option '%1'").arg(commandLine.unknownOption()));
    }
    if (!commandLine.isSet(cardsOption))
        return usage(QStringLiteral("--cards is required"));
    const QString cardsText = commandLine.value(cardsOption);
    bool ok = false;
    const int cards = cardsText.toInt(&ok);
    if (!ok || cards < 0 || cards > MaxGeneratedCards)
        return usage(QStringLiteral("--cards needs a whole number from 0 to %1, not '%2'")
                         .arg(MaxGeneratedCards)
                         .arg(cardsText));
    const QString seedText = commandLine.value(seedOption);
    const quint64 seed = seedText.toULongLong(&ok);
    if (!ok)
        return usage(
            QStringLiteral("--seed needs a whole number from 0 to 18446744073709551615, not '%1'").arg(seedText));
    const QStringList files = commandLine.positionalArguments();
    if (files.size() != 1 || files.first().startsWith(QLatin1Char('-')))
        return usage(files.isEmpty() ? QStringLiteral("DATAFILE is missing")
                                     : QStringLiteral("unexpected '%1'").arg(files.join(QLatin1Char(' '))));

    CardTree tree;
    GenerateCardTree(tree, cards, seed);
    QString error;
    const QByteArray bytes = SerializeTree(tree, NoProgress(), &error);
    if (bytes.isEmpty()) {
        printError(QStringLiteral("kelvo-tool generate: ") + error);
        return ExitDataFile;
    }
    if (const Result<> written = writeFileAtomically(files.first(), bytes); !written) {
        printError(QStringLiteral("kelvo-tool generate: ") + written.error().message());
        return ExitDataFile;
    }
    return ExitOk;
}

const CommandRegistration registration{{
    QStringLiteral("generate"),
    QStringLiteral("write a data file of made-up cards (demos, benchmarks)"),
    QStringLiteral("Usage: kelvo-tool generate --cards N [--seed S] DATAFILE\n"
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
