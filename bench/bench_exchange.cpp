// vCard and CSV import and export of generated card trees, and the memory
// an import takes beside the tree it builds. Figures only: nothing here
// asserts a time.
#include "CardExport.h"
#include "CardGenerator.h"
#include "CardImport.h"

#include "CardRecords.h"
#include "CardTree.h"
#include "DataFile.h"

#include <benchmark/benchmark.h>

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

using namespace kelvo;
using namespace kelvo::exchange;

namespace {

constexpr quint64 Seed = 2024;

// One generated tree per card count, with its exports and data file.
struct Generated
{
    CardTree tree;
    std::vector<const CardNode *> cards;
    QByteArray vcard;
    QByteArray csv;
    QTemporaryDir dir;
    QString vcardPath, csvPath, dataPath;
};

Generated &generated(int cards)
{
    static std::map<int, std::unique_ptr<Generated>> made;
    auto &slot = made[cards];
    if (!slot) {
        slot = std::make_unique<Generated>();
        tool::GenerateCardTree(slot->tree, cards, Seed);
        slot->cards = AllCards(slot->tree);
        slot->vcard = ExportCards(slot->cards, ExportFormat::VCard30);
        slot->csv = ExportCards(slot->cards, ExportFormat::Csv);
        slot->vcardPath = slot->dir.filePath(QStringLiteral("cards.vcf"));
        slot->csvPath = slot->dir.filePath(QStringLiteral("cards.csv"));
        slot->dataPath = slot->dir.filePath(QStringLiteral("Card.DB"));
        // The data file of the tree an import of these files builds.
        CardTree imported;
        CreateDefaultTree(imported);
        imported.addChildren(imported.firstTopLevel(), ImportCards(slot->vcard).cards);
        const QByteArray data = SerializeTree(imported);
        const std::pair<QString, const QByteArray *> files[] = {
            {slot->vcardPath, &slot->vcard}, {slot->csvPath, &slot->csv}, {slot->dataPath, &data}};
        for (const auto &[path, bytes] : files) {
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly) || file.write(*bytes) != bytes->size())
                std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        }
    }
    return *slot;
}

qint64 memoryFigure(const char *name)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(name))
            return line.mid(qsizetype(std::strlen(name))).trimmed().split(' ').first().toLongLong() * 1024;
    }
    return -1;
}

void BM_ExportVCard(benchmark::State &state)
{
    const Generated &g = generated(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(ExportCards(g.cards, ExportFormat::VCard30));
    state.counters["cards"] = double(g.cards.size());
    state.SetBytesProcessed(qint64(state.iterations()) * g.vcard.size());
}

void BM_ExportCsv(benchmark::State &state)
{
    const Generated &g = generated(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(ExportCards(g.cards, ExportFormat::Csv));
    state.counters["cards"] = double(g.cards.size());
    state.SetBytesProcessed(qint64(state.iterations()) * g.csv.size());
}

// The import as kelvo-tool runs it, without the data file: the file read
// (mapped), every card read, its fields chosen and stored, and all of them
// added to the tree in one batch.
void importInto(const QString &path, benchmark::State &state)
{
    for (auto _ : state) {
        state.PauseTiming();
        auto tree = std::make_unique<CardTree>();
        CreateDefaultTree(*tree);
        state.ResumeTiming();
        ImportResult result = ImportCardsFromFile(path);
        if (!result.ok() || result.skipped != 0)
            state.SkipWithError("the generated file did not import cleanly");
        tree->addChildren(ImportTargetClass(*tree, ReservedCardClassLabel()), std::move(result.cards));
        state.PauseTiming();
        tree.reset();
        state.ResumeTiming();
    }
}

void BM_ImportVCard(benchmark::State &state)
{
    const Generated &g = generated(int(state.range(0)));
    importInto(g.vcardPath, state);
    state.counters["cards"] = double(g.cards.size());
    state.SetBytesProcessed(qint64(state.iterations()) * g.vcard.size());
}

void BM_ImportCsv(benchmark::State &state)
{
    const Generated &g = generated(int(state.range(0)));
    importInto(g.csvPath, state);
    state.counters["cards"] = double(g.cards.size());
    state.SetBytesProcessed(qint64(state.iterations()) * g.csv.size());
}

// Memory, each figure from a fresh child process: the peak while importing
// a file, against the tree that import builds once it is loaded from its
// data file.
QList<QByteArray> childFigures(const QString &mode, const QString &path)
{
    QProcess child;
    child.start(QFile::symLinkTarget(QStringLiteral("/proc/self/exe")), {mode, path});
    child.waitForFinished(-1);
    return child.readAllStandardOutput().trimmed().split(' ');
}

void BM_ImportMemory(benchmark::State &state)
{
    const Generated &g = generated(int(state.range(0)));
    const QString path = state.range(1) == 0 ? g.vcardPath : g.csvPath;
    QList<QByteArray> import, load;
    for (auto _ : state) {
        import = childFigures(QStringLiteral("--import-and-report"), path);
        load = childFigures(QStringLiteral("--load-and-report"), g.dataPath);
    }
    if (import.size() != 3 || load.size() != 3) {
        state.SkipWithError("a child process gave no figures");
        return;
    }
    const double importPeak = import[1].toDouble() - import[0].toDouble();
    const double loadedTree = load[2].toDouble() - load[0].toDouble();
    state.counters["import_peak_MiB"] = importPeak / (1 << 20);
    state.counters["loaded_tree_MiB"] = loadedTree / (1 << 20);
    state.counters["peak_to_tree"] = importPeak / loadedTree;
    state.SetLabel(state.range(1) == 0 ? "vCard" : "CSV");
}

// Child modes: print the peak resident bytes before, the peak after, and
// the resident bytes after.
int importAndReport(const char *path)
{
    const qint64 before = memoryFigure("VmHWM:");
    CardTree tree;
    CreateDefaultTree(tree);
    ImportResult result = ImportCardsFromFile(QString::fromLocal8Bit(path));
    if (!result.ok())
        return 2;
    tree.addChildren(ImportTargetClass(tree, ReservedCardClassLabel()), std::move(result.cards));
    std::printf("%lld %lld %lld\n", static_cast<long long>(before), static_cast<long long>(memoryFigure("VmHWM:")),
                static_cast<long long>(memoryFigure("VmRSS:")));
    return 0;
}

int loadAndReport(const char *path)
{
    const qint64 before = memoryFigure("VmHWM:");
    CardTree tree;
    const QString dataFile = QString::fromLocal8Bit(path);
    const LoadResult result = LoadTreeViewWithData(DataFiles::forDataFile(dataFile), tree);
    if (result.status != LoadResult::Status::Read)
        return 2;
    std::printf("%lld %lld %lld\n", static_cast<long long>(before), static_cast<long long>(memoryFigure("VmHWM:")),
                static_cast<long long>(memoryFigure("VmRSS:")));
    return 0;
}

} // namespace

BENCHMARK(BM_ExportVCard)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ExportCsv)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ImportVCard)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ImportCsv)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ImportMemory)
    ->Args({100000, 0})
    ->Args({100000, 1})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

int main(int argc, char **argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--import-and-report") == 0)
        return importAndReport(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "--load-and-report") == 0)
        return loadAndReport(argv[2]);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
