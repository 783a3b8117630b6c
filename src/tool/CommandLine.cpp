#include "CommandLine.h"

namespace kelvo::tool {

void CommandLine::addOption(const QCommandLineOption &option)
{
    m_options.append(option);
    m_parser.addOption(option);
}

const QCommandLineOption *CommandLine::option(const QString &name) const
{
    for (const QCommandLineOption &option : m_options) {
        if (option.names().contains(name))
            return &option;
    }
    return nullptr;
}

bool CommandLine::takesValue(const QString &name) const
{
    const QCommandLineOption *found = option(name);
    return found && !found->valueName().isEmpty();
}

bool CommandLine::isFlag(const QString &name) const
{
    const QCommandLineOption *found = option(name);
    return found && found->valueName().isEmpty();
}

QString CommandLine::value(const QCommandLineOption &option) const
{
    if (!m_parsed)
        return option.defaultValues().value(0);
    return m_parser.value(option);
}

QStringList CommandLine::values(const QCommandLineOption &option) const
{
    if (!m_parsed)
        return option.defaultValues();
    return m_parser.values(option);
}

bool CommandLine::parse(const QStringList &words)
{
    m_parsed = false;
    m_positional.clear();
    m_unknownOption.clear();
    m_optionWithoutValue.clear();

    // Positional words that start with '-' reach the parser as "-", which it
    // keeps as a positional argument in its place, and are put back after.
    QStringList dashWords;
    QStringList forParser{QStringLiteral("kelvo-tool")};
    bool optionsEnded = false;
    for (qsizetype i = 0; i < words.size(); ++i) {
        const QString &word = words.at(i);
        if (!optionsEnded && word == QLatin1String("--")) {
            optionsEnded = true;
            forParser.append(word);
        } else if (!optionsEnded && word.startsWith(QLatin1String("--"))) {
            forParser.append(word);
            const QString name = word.mid(2);
            const qsizetype equals = name.indexOf(u'=');
            if (equals >= 0 && isFlag(name.left(equals))) {
                m_unknownOption = word; // a value for an option that takes none
                return false;
            }
            if (equals < 0 && takesValue(name)) {
                if (i + 1 == words.size()) {
                    m_optionWithoutValue = word;
                    return false;
                }
                forParser.append(words.at(++i)); // the value, whatever it looks like
            }
        } else if (word.startsWith(u'-')) {
            dashWords.append(word);
            forParser.append(QStringLiteral("-"));
        } else {
            forParser.append(word);
        }
    }

    if (!m_parser.parse(forParser)) {
        const QStringList unknown = m_parser.unknownOptionNames();
        m_unknownOption = QStringLiteral("--") + unknown.value(0);
        return false;
    }
    qsizetype nextDashWord = 0;
    for (const QString &argument : m_parser.positionalArguments())
        m_positional.append(argument == QLatin1String("-") ? dashWords.value(nextDashWord++, argument) : argument);
    m_parsed = true;
    return true;
}

} // namespace kelvo::tool
