#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

namespace kelvo::tool {

// Exit codes of kelvo-tool.
enum ExitCode : int {
    ExitOk = 0,
    ExitUsage = 1,   // usage error or bad input (bad JSON, empty condition, ...)
    ExitDataFile = 2 // unreadable or damaged data file
};

struct ToolCommand
{
    QString name;                                    // "dump", "skin", ...
    QString synopsis;                                // one line for the overview
    QString help;                                    // full text for `kelvo-tool NAME --help`
    std::function<int(const QStringList &args)> run; // args after the command name
};

// Commands register themselves from their own source files:
//   static const kelvo::tool::CommandRegistration reg{{"dump", ..., &runDump}};
std::vector<ToolCommand> &commandRegistry();

struct CommandRegistration
{
    explicit CommandRegistration(ToolCommand command) { commandRegistry().push_back(std::move(command)); }
};

// Messages go to standard error, results to standard output (UTF-8).
void printError(const QString &message);
void printOut(const QString &text);
void writeOut(const QByteArray &bytes);

// True when args hold -h or --help.
bool wantsHelp(const QStringList &args);

// True for a word that starts with '-' and is not "-" (standard input), so
// that it cannot be meant as a file name where a command expects one.
bool isOptionLike(const QString &word);

} // namespace kelvo::tool
