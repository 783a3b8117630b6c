// Load and save of generated card trees, and the memory a loaded tree takes.
// Figures only: nothing here asserts a time.
#include "CardGenerator.h"

#include "CardTree.h"
#include "DataFile.h"
#include "DataFiles.h"

#include <benchmark/benchmark.h>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

using namespace kelvo;

namespace {

constexpr quint64 Seed = 2024;

// One generated data file per card count, made once per run.
struct GeneratedFile
{
    QTemporaryDir dir;
    DataFiles files;
    QByteArray bytes;
};

GeneratedFile &generatedFile(int cards)
{
    static std::map<int, std::unique_ptr<GeneratedFile>> made;
    auto &slot = made[cards];
    if (!slot) {
        slot = std::make_unique<GeneratedFile>();
        slot->files = DataFiles::inFolder(slot->dir.path());
        CardTree tree;
        tool::GenerateCardTree(tree, cards, Seed);
        slot->bytes = SerializeTree(tree);
        QDir().mkpath(slot->dir.path() + QStringLiteral("/SavedCard"));
        QFile file(slot->files.dataFile);
        if (!file.open(QIODevice::WriteOnly) || file.write(slot->bytes) != slot->bytes.size())
            std::fprintf(stderr, "cannot write %s\n", qPrintable(slot->files.dataFile));
    }
    return *slot;
}

// A figure of /proc/self/status in bytes: "VmHWM:" (peak resident memory
// so far) or "VmRSS:" (resident now).
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

void BM_GenerateCards(benchmark::State &state)
{
    for (auto _ : state) {
        auto tree = std::make_unique<CardTree>();
        tool::GenerateCardTree(*tree, int(state.range(0)), Seed);
        state.PauseTiming();
        tree.reset();
        state.ResumeTiming();
    }
    state.counters["cards"] = double(state.range(0));
}

// The load without the file: bytes already in memory.
void BM_ReadTreeFromBytes(benchmark::State &state)
{
    const GeneratedFile &file = generatedFile(int(state.range(0)));
    for (auto _ : state) {
        auto tree = std::make_unique<CardTree>();
        const LoadResult result = ReadTreeFromBytes(file.bytes, *tree);
        if (!result.ok())
            state.SkipWithError("generated file reads as damaged");
        state.PauseTiming();
        tree.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(qint64(state.iterations()) * file.bytes.size());
}

// The program's load: opens and reads the data file, builds the tree.
void BM_LoadTreeViewWithData(benchmark::State &state)
{
    const GeneratedFile &file = generatedFile(int(state.range(0)));
    for (auto _ : state) {
        auto tree = std::make_unique<CardTree>();
        const LoadResult result = LoadTreeViewWithData(file.files, *tree);
        if (result.status != LoadResult::Status::Read)
            state.SkipWithError("generated file did not load");
        state.PauseTiming();
        tree.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(qint64(state.iterations()) * file.bytes.size());
}

// The save without the file: the bytes of the whole tree in memory.
void BM_SerializeTree(benchmark::State &state)
{
    const GeneratedFile &file = generatedFile(int(state.range(0)));
    CardTree tree;
    ReadTreeFromBytes(file.bytes, tree);
    for (auto _ : state)
        benchmark::DoNotOptimize(SerializeTree(tree));
    state.SetBytesProcessed(qint64(state.iterations()) * file.bytes.size());
}

// The program's save: backup copy, then the new file written, flushed to
// disk and renamed over the data file.
void BM_SaveTreeViewWithData(benchmark::State &state)
{
    const GeneratedFile &file = generatedFile(int(state.range(0)));
    CardTree tree;
    ReadTreeFromBytes(file.bytes, tree);
    QTemporaryDir dir;
    const DataFiles target = DataFiles::inFolder(dir.path());
    for (auto _ : state) {
        const SaveResult result = SaveTreeViewWithData(target, tree);
        if (!result.ok())
            state.SkipWithError("save failed");
    }
    state.SetBytesProcessed(qint64(state.iterations()) * file.bytes.size());
}

// The save when a copy into the backup history is due (the first save of
// each hour): the clock moves on by an hour before every save.
void BM_SaveWithHistoryCopy(benchmark::State &state)
{
    const GeneratedFile &file = generatedFile(int(state.range(0)));
    CardTree tree;
    ReadTreeFromBytes(file.bytes, tree);
    QTemporaryDir dir;
    const DataFiles target = DataFiles::inFolder(dir.path());
    QDateTime now(QDate(2026, 1, 1), QTime(0, 0));
    const Clock clock = [&now] { return now; };
    SaveTreeViewWithData(target, tree, NoProgress(), NoMessagePump(), clock);
    for (auto _ : state) {
        now = now.addSecs(3600);
        const SaveResult result = SaveTreeViewWithData(target, tree, NoProgress(), NoMessagePump(), clock);
        if (!result.ok() || !result.history.ok())
            state.SkipWithError("save failed");
    }
    state.SetBytesProcessed(qint64(state.iterations()) * file.bytes.size());
}

// Peak memory of a fresh process that loads the file (run as a child, so
// nothing this process holds is counted).
void BM_PeakMemoryOfLoad(benchmark::State &state)
{
    const int cards = int(state.range(0));
    const GeneratedFile &file = generatedFile(cards);
    QByteArray report;
    for (auto _ : state) {
        QProcess child;
        child.start(QFile::symLinkTarget(QStringLiteral("/proc/self/exe")),
                    {QStringLiteral("--load-and-report"), file.files.dataFile});
        child.waitForFinished(-1);
        report = child.readAllStandardOutput().trimmed();
    }
    const QList<QByteArray> numbers = report.split(' ');
    if (numbers.size() != 3) {
        state.SkipWithError("the child process gave no figures");
        return;
    }
    const double before = numbers[0].toDouble();
    const double peak = numbers[1].toDouble();
    const double resident = numbers[2].toDouble();
    state.counters["peak_MiB"] = peak / (1 << 20);
    state.counters["resident_after_MiB"] = resident / (1 << 20);
    state.counters["peak_bytes_per_card"] = (peak - before) / cards;
    state.counters["tree_bytes_per_card"] = (resident - before) / cards;
    state.counters["file_bytes_per_card"] = double(file.bytes.size()) / cards;
}

// Child mode: load the file, print the peak resident bytes before and after
// the load, and the resident bytes after it (the file's bytes released).
int loadAndReport(const char *path)
{
    const qint64 before = memoryFigure("VmHWM:");
    CardTree tree;
    QString dataFile = QString::fromLocal8Bit(path);
    DataFiles files{dataFile, dataFile + QStringLiteral(".backup"), dataFile + QStringLiteral(".history")};
    const LoadResult result = LoadTreeViewWithData(files, tree);
    if (result.status != LoadResult::Status::Read)
        return 2;
    std::printf("%lld %lld %lld\n", static_cast<long long>(before), static_cast<long long>(memoryFigure("VmHWM:")),
                static_cast<long long>(memoryFigure("VmRSS:")));
    return 0;
}

} // namespace

BENCHMARK(BM_GenerateCards)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadTreeFromBytes)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LoadTreeViewWithData)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SerializeTree)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SaveTreeViewWithData)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_SaveWithHistoryCopy)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PeakMemoryOfLoad)->Arg(100000)->Arg(1000000)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char **argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--load-and-report") == 0)
        return loadAndReport(argv[2]);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
