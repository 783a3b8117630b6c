#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QString>
#include <QStringList>

namespace kelvo::tool {

// The words after a command's name, read with QCommandLineParser. Options are
// long: "--name", "--name VALUE" or "--name=VALUE"; "--" ends them. Every
// other word is a positional argument, also one that starts with a single
// '-' (a condition "-0571", a file "-x", "-" for standard input), which
// QCommandLineParser alone would read as short options. (-h and --help are
// answered before a command runs.)
class CommandLine
{
public:
    void addOption(const QCommandLineOption &option);

    // False when a word names none of the added options, or when a value
    // option is the last word and has no value; see the two texts below.
    bool parse(const QStringList &words);
    // "--name" of the first word that names no option (or the word itself
    // when it gives a value to an option that takes none), or empty.
    QString unknownOption() const { return m_unknownOption; }
    // "--name" of the option given without its value, or empty.
    QString optionWithoutValue() const { return m_optionWithoutValue; }

    // After a successful parse: whether the option was given, and its value
    // (the one given last, else the option's default).
    bool isSet(const QCommandLineOption &option) const { return m_parsed && m_parser.isSet(option); }
    QString value(const QCommandLineOption &option) const;
    // Every value given to a repeatable option, in the order given.
    QStringList values(const QCommandLineOption &option) const;
    QStringList positionalArguments() const { return m_positional; }

private:
    const QCommandLineOption *option(const QString &name) const;
    bool takesValue(const QString &name) const;
    bool isFlag(const QString &name) const;

    QCommandLineParser m_parser;
    QList<QCommandLineOption> m_options;
    QStringList m_positional;
    QString m_unknownOption;
    QString m_optionWithoutValue;
    bool m_parsed = false;
};

} // namespace kelvo::tool
