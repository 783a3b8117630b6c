// kelvo-tool qr: a card as the QR code the window's "名片二维码..." shows.

#include "CommandLine.h"
#include "StoreFiles.h"
#include "ToolCommand.h"

#include "CardQrCode.h"

#include "AtomicFile.h"
#include "CardIdentities.h"
#include "CardTree.h"
#include "Gb18030.h"
#include "TreeIdentities.h"

#include <QBuffer>

namespace kelvo::tool {

namespace {

const char *const QrHelp = "Usage: kelvo-tool qr DATAFILE NAME -o FILE.png [--module-size PIXELS]\n"
                           "\n"
                           "Writes the first card named NAME (in tree order) as a QR code picture (PNG):\n"
                           "the card as vCard 3.0, UTF-8 behind the UTF-8 ECI, error correction M, with\n"
                           "a quiet zone of four modules. A phone's camera adds it to its contacts.\n"
                           "When all fields together need a code larger than version 15, the code holds\n"
                           "only the name, title, company, phones and e-mail, and a note on standard\n"
                           "error says so. The file is written atomically. DATAFILE '-' reads standard\n"
                           "input.\n"
                           "\n"
                           "  -o, --output FILE    the picture to write\n"
                           "  --module-size PIXELS pixels a module (1 to 64, default 8)\n"
                           "\n"
                           "Exit codes: 0 written; 1 usage error, no card so named, a card too long for\n"
                           "any QR code, or FILE cannot be written; 2 unreadable or damaged data file.\n";

// The card NAME names: the first card in absolute order whose name is NAME
// byte for byte (as GB18030).
const CardNode *firstCardNamed(const CardTree &tree, QByteArrayView name)
{
    const CardNode *found = nullptr;
    tree.forEach([&](const CardNode *node) {
        if (!found && node->isCard() && node->data() && node->data()->name() == name)
            found = node;
    });
    return found;
}

int usage(const QString &problem)
{
    printError(QStringLiteral("kelvo-tool qr: %1\n\n").arg(problem) + QString::fromUtf8(QrHelp));
    return ExitUsage;
}

int runQr(const QStringList &args)
{
    // "-o FILE" the way such tools take it; the command line reads long
    // options only.
    QStringList words;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--")) {
            words += args.mid(i);
            break;
        }
        if (args.at(i) == QLatin1String("-o"))
            words.append(QStringLiteral("--output"));
        else
            words.append(args.at(i));
    }
    CommandLine commandLine;
    const QCommandLineOption output(QStringLiteral("output"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption moduleSize(QStringLiteral("module-size"), QString(), QStringLiteral("PIXELS"),
                                        QStringLiteral("8"));
    commandLine.addOption(output);
    commandLine.addOption(moduleSize);
    if (!commandLine.parse(words)) {
        if (!commandLine.optionWithoutValue().isEmpty())
            return usage(QStringLiteral("option '%1' needs a value").arg(commandLine.optionWithoutValue()));
        return usage(QStringLiteral("unknown option '%1'").arg(commandLine.unknownOption()));
    }
    const QStringList positional = commandLine.positionalArguments();
    if (positional.size() != 2)
        return usage(QStringLiteral("expected DATAFILE NAME"));
    const QString outPath = commandLine.value(output);
    if (outPath.isEmpty())
        return usage(QStringLiteral("name the picture to write with -o FILE.png"));
    bool numeric = false;
    const int pixels = commandLine.value(moduleSize).toInt(&numeric);
    if (!numeric || pixels < 1 || pixels > 64)
        return usage(QStringLiteral("--module-size must be a number from 1 to 64"));

    const QString &dataPath = positional.at(0);
    const QString &name = positional.at(1);
    CardTree tree;
    QString error;
    if (!ReadDataFile(dataPath, tree, &error)) {
        printError(QStringLiteral("kelvo-tool qr: ") + error);
        return ExitDataFile;
    }
    const CardNode *card = firstCardNamed(tree, gb18030::encode(name));
    if (!card) {
        printError(QStringLiteral("kelvo-tool qr: %1 has no card named '%2'").arg(dataPath, name));
        return ExitUsage;
    }
    // The card's identity as UID, kept in the sync state beside the data file
    // so that the code, an export and a sync give the same one.
    CardIdentities ids(tree);
    const bool file = dataPath != QLatin1String("-");
    if (file) {
        if (Result<sync::RestoreOutcome> restored = sync::LoadIdentities(dataPath, tree, ids); !restored)
            printError(QStringLiteral("kelvo-tool qr: the sync state cannot be read (%1); the card gets a new UID")
                           .arg(restored.error().message()));
    }
    const bool hadIdentity = ids.has(card);
    const QByteArray uid = IdentityText(ids.identity(card)).toLatin1();
    if (file && !hadIdentity) {
        if (Result<> kept = sync::SaveIdentities(dataPath, tree, ids); !kept)
            printError(QStringLiteral("kelvo-tool qr: the UID cannot be kept for the next code: %1")
                           .arg(kept.error().message()));
    }
    const capture::CardQrCode code = capture::EncodeCardQr(*card->data(), uid);
    if (!code.ok()) {
        printError(QStringLiteral("kelvo-tool qr: %1: %2").arg(name, code.error));
        return ExitUsage;
    }
    const QImage picture = capture::RenderQrSymbol(code.symbol, pixels);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    if (picture.isNull() || !picture.save(&buffer, "PNG")) {
        printError(QStringLiteral("kelvo-tool qr: the picture could not be made"));
        return ExitUsage;
    }
    const Result<> written = writeFileAtomically(outPath, png);
    if (!written) {
        printError(QStringLiteral("kelvo-tool qr: cannot write %1").arg(written.error().message()));
        return ExitUsage;
    }
    if (code.compact)
        printError(QStringLiteral("kelvo-tool qr: %1: all fields need more than QR version %2; the code holds the "
                                  "name, title, company, phones and e-mail only")
                       .arg(name)
                       .arg(capture::CardQrMaxFullVersion));
    return ExitOk;
}

const CommandRegistration registration{{
    QStringLiteral("qr"),
    QStringLiteral("write a card as a QR code picture (PNG)"),
    QString::fromUtf8(QrHelp),
    &runQr,
}};

} // namespace

} // namespace kelvo::tool
