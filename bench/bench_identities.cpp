// What the cards' identities cost: memory per node of the side table, the
// time to give every node one, and what keeping them beside the data file
// adds to a save and a load (in order, and re-matched after the data file
// changed elsewhere). Figures only: nothing here asserts a time.
//
//     bench_identities [CARDS...]      (default: 100000 1000000)
#include "CardGenerator.h"
#include "SyncStatePath.h"
#include "TreeIdentities.h"

#include "CardIdentities.h"
#include "CardTree.h"
#include "DataFile.h"
#include "DataFiles.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <malloc.h>

#include <cstdio>

using namespace kelvo;

namespace {

qint64 heapBytes()
{
    return qint64(mallinfo2().uordblks) + qint64(mallinfo2().hblkhd);
}

double ms(QElapsedTimer &timer)
{
    const double value = timer.nsecsElapsed() / 1e6;
    timer.restart();
    return value;
}

void measure(int cards)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("SavedCard/Card.DB"));
    const DataFiles files = DataFiles::forDataFile(path);
    CardTree tree;
    tool::GenerateCardTree(tree, cards, 2024);
    const int nodes = tree.count();

    QElapsedTimer timer;
    const qint64 before = heapBytes();
    timer.start();
    {
        CardIdentities ids(tree);
        tree.forEach([&](CardNode *node) { ids.identity(node); });
        const double assign = ms(timer);
        const qint64 table = heapBytes() - before;
        std::printf("%d cards (%d nodes): identities %.1f bytes/node, %.0f ms to give every node one\n", cards, nodes,
                    double(table) / nodes, assign);

        timer.restart();
        if (!SaveTreeViewWithData(files, tree).ok())
            std::printf("  save failed\n");
        const double save = ms(timer);
        if (!sync::SaveIdentities(path, tree, ids).ok())
            std::printf("  keeping the identities failed\n");
        const double keep = ms(timer);
        std::printf("  save %.0f ms; identities beside it +%.0f ms (%lld bytes of state for %lld of data file)\n", save,
                    keep, static_cast<long long>(QFileInfo(sync::SyncStatePath(path)).size()),
                    static_cast<long long>(QFileInfo(path).size()));
    }
    {
        CardIdentities ids(tree);
        timer.restart();
        const auto restored = sync::LoadIdentities(path, tree, ids);
        std::printf("  load of the identities, in order: %.0f ms (%d exact)\n", ms(timer),
                    restored ? restored.value().exact : -1);
    }
    {
        // Something else changed the file: one field of the first card.
        bool done = false;
        tree.forEach([&](CardNode *node) {
            if (!done && node->isCard()) {
                tree.setField(node, Field::DH, "000");
                done = true;
            }
        });
        if (!SaveTreeViewWithData(files, tree).ok())
            std::printf("  save failed\n");
        CardIdentities ids(tree);
        timer.restart();
        const auto restored = sync::LoadIdentities(path, tree, ids);
        std::printf("  load after a change elsewhere, re-matched: %.0f ms (%d matched, %d new)\n", ms(timer),
                    restored ? restored.value().matched : -1, restored ? restored.value().fresh : -1);
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QList<int> counts;
    for (int i = 1; i < argc; ++i)
        counts.append(QString::fromLocal8Bit(argv[i]).toInt());
    if (counts.isEmpty())
        counts = {100000, 1000000};
    for (const int cards : counts)
        measure(cards);
    return 0;
}
