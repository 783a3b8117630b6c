#include "KelvoVersion.h"
#include "OcrEnvironment.h"
#include "ToolCommand.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace kelvo::tool {

std::vector<ToolCommand> &commandRegistry()
{
    static std::vector<ToolCommand> commands;
    return commands;
}

void printError(const QString &message)
{
    const QByteArray bytes = message.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
}

void printOut(const QString &text)
{
    writeOut(text.toUtf8());
}

void writeOut(const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
}

bool wantsHelp(const QStringList &args)
{
    return args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("-h"));
}

bool isOptionLike(const QString &word)
{
    return word.startsWith(QLatin1Char('-')) && word != QLatin1String("-");
}

} // namespace kelvo::tool

using namespace kelvo::tool;

static QString overview()
{
    auto commands = commandRegistry();
    std::sort(commands.begin(), commands.end(),
              [](const ToolCommand &a, const ToolCommand &b) { return a.name < b.name; });
    QString text = QStringLiteral("Usage: kelvo-tool COMMAND [ARGS...]\n"
                                  "The command-line companion of Kelvo: reads, writes and checks Kelvo data files.\n"
                                  "\nCommands:\n");
    for (const ToolCommand &c : commands)
        text += QStringLiteral("  %1%2\n").arg(c.name, -10).arg(c.synopsis);
    text += QStringLiteral("\n'kelvo-tool COMMAND --help' describes one command; 'kelvo-tool --version'\n"
                           "prints the version.\n"
                           "Exit codes: 0 success; 1 usage error or bad input; 2 unreadable or damaged data file.\n");
    return text;
}

int main(int argc, char **argv)
{
    // The recogniser of `scan` runs on one thread: OpenMP reads its limit
    // before main, so the tool starts itself again with the limit set.
    if (argc > 1 && std::strcmp(argv[1], "scan") == 0)
        kelvo::capture::restartWithOneRecogniserThread(argv);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kelvo-tool"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(kelvo::version::Number));
    QStringList args = QCoreApplication::arguments().mid(1);

    if (args.isEmpty()) {
        printError(overview());
        return ExitUsage;
    }
    const QString name = args.takeFirst();
    if (name == QLatin1String("--help") || name == QLatin1String("-h") || name == QLatin1String("help")) {
        printOut(overview());
        return ExitOk;
    }
    if (name == QLatin1String("--version")) {
        printOut(QStringLiteral("kelvo-tool (%1)\n").arg(QString::fromLatin1(kelvo::version::ProductNameAndVersion)));
        return ExitOk;
    }
    for (const ToolCommand &command : commandRegistry()) {
        if (command.name == name) {
            if (wantsHelp(args)) {
                printOut(command.help);
                return ExitOk;
            }
            return command.run(args);
        }
    }
    printError(QStringLiteral("kelvo-tool: unknown command '%1'\n\n").arg(name) + overview());
    return ExitUsage;
}
