#include "CommandLine.h"
#include "StoreFiles.h"
#include "ToolCommand.h"

#include "CardTree.h"
#include "DataFile.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace kelvo::tool {

namespace {

struct TreeFigures
{
    qint64 nodes = 0;
    qint64 cardClasses = 0;
    qint64 cards = 0;
    qint64 otherKinds = 0;
    int deepestLevel = 0; // 1 = the top level; 0 = no nodes
};

TreeFigures countTree(const CardTree &tree)
{
    TreeFigures figures;
    // Iterative walk that knows each node's level without climbing to the top.
    std::vector<std::pair<const CardNode *, int>> stack; // node, its level
    for (int row = tree.topLevelCount() - 1; row >= 0; --row)
        stack.emplace_back(tree.topLevel(row), 1);
    while (!stack.empty()) {
        const auto [node, level] = stack.back();
        stack.pop_back();
        ++figures.nodes;
        if (node->isCard())
            ++figures.cards;
        else if (node->isCardClass())
            ++figures.cardClasses;
        else
            ++figures.otherKinds;
        figures.deepestLevel = std::max(figures.deepestLevel, level);
        for (int row = node->childCount() - 1; row >= 0; --row)
            stack.emplace_back(node->child(row), level + 1);
    }
    return figures;
}

int runCheck(const QStringList &args)
{
    CommandLine commandLine;
    const bool parsed = commandLine.parse(args);
    const QStringList files = commandLine.positionalArguments();
    if (!parsed || files.size() != 1 || isOptionLike(files.first())) {
        printError(QStringLiteral("Usage: kelvo-tool check DATAFILE   (see kelvo-tool check --help)"));
        return ExitUsage;
    }
    const QString path = files.first();
    CardTree tree;
    QString error;
    bool empty = false;
    if (!ReadDataFile(path, tree, &error, {}, &empty)) {
        printError(QStringLiteral("kelvo-tool check: ") + error);
        return ExitDataFile;
    }
    if (empty)
        printError(QStringLiteral("kelvo-tool check: %1: empty file: Kelvo starts with its default tree").arg(path));

    const TreeFigures figures = countTree(tree);
    QString line = QStringLiteral("nodes: %1, card classes: %2, cards: %3, deepest level: %4")
                       .arg(figures.nodes)
                       .arg(figures.cardClasses)
                       .arg(figures.cards)
                       .arg(figures.deepestLevel);
    if (figures.otherKinds > 0)
        line += QStringLiteral(", other kinds: %1").arg(figures.otherKinds);
    printOut(line + QLatin1Char('\n'));
    if (!FlushStandardOutput(&error)) {
        printError(QStringLiteral("kelvo-tool check: ") + error);
        return ExitUsage;
    }
    return ExitOk;
}

const CommandRegistration registration{{
    QStringLiteral("check"),
    QStringLiteral("check that a data file reads, and count its nodes"),
    QStringLiteral("Usage: kelvo-tool check DATAFILE\n"
                   "\n"
                   "Reads a Kelvo data file the way Kelvo loads it and prints one line:\n"
                   "\n"
                   "  nodes: N, card classes: C, cards: K, deepest level: D\n"
                   "\n"
                   "Level 1 is the top level; an empty tree has deepest level 0. Nodes whose kind\n"
                   "is neither 0 (card class) nor 1 (card) are counted as \", other kinds: X\" at the\n"
                   "end of the line. A zero-length file holds no nodes (Kelvo then starts with its\n"
                   "default tree); a note on standard error says so. DATAFILE '-' reads standard\n"
                   "input. The file is never changed.\n"
                   "\n"
                   "Exit codes: 0 the file reads; 1 usage error, or standard output could not be\n"
                   "written; 2 missing, unreadable or damaged (the byte offset and the reason are\n"
                   "printed on standard error).\n"),
    &runCheck,
}};

} // namespace

} // namespace kelvo::tool
