// Search over a generated tree of 100,000 cards, all thirteen fields ticked,
// and ripgrep over a UTF-8 dump of the same fields for comparison; and the
// parts of a search of the million cards of `kelvo-tool generate` (the walk
// on one thread and on two, the order of many rows in two locales). Figures
// only; nothing here asserts a timing.

#include "CardGenerator.h"
#include "CardRecords.h"
#include "CardScan.h"
#include "CardTree.h"
#include "DataFileFormat.h"
#include "Folding.h"
#include "Gb18030.h"
#include "NameOrder.h"
#include "SearchCards.h"

#include <QByteArray>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <array>
#include <cstdio>
#include <memory>
#include <string_view>
#include <unordered_set>

using namespace kelvo;

namespace {

constexpr int CardCount = 100000;
constexpr int CardsPerClass = 1000;

const char16_t *const Surnames[] = {u"王", u"李", u"张", u"刘", u"陈", u"杨", u"黄", u"赵", u"吴", u"周",
                                    u"徐", u"孙", u"马", u"朱", u"胡", u"郭", u"何", u"高", u"林", u"罗"};
const char16_t *const GivenChars[] = {u"伟", u"芳", u"娜", u"敏", u"静", u"丽", u"强", u"磊", u"军", u"洋",
                                      u"勇", u"艳", u"杰", u"娟", u"涛", u"明", u"超", u"秀", u"霞", u"平"};
const char16_t *const Titles[] = {u"经理", u"总经理", u"工程师", u"销售代表", u"主任", u"会计", u"Director", u""};
const char16_t *const Cities[] = {u"北京", u"上海", u"广州", u"深圳", u"杭州", u"成都", u"武汉", u"南京"};
const char16_t *const Trades[] = {u"科技", u"贸易", u"电子", u"物流", u"咨询", u"建设", u"网络", u"医药"};
const char *const Pinyin[] = {"wang", "li", "zhang", "liu", "chen", "yang", "huang", "zhao", "wu", "zhou"};
const char *const Domains[] = {"163.com", "qq.com", "sina.com", "hotmail.com", "example.cn"};

template<typename T, size_t N>
const T &pick(QRandomGenerator &random, const T (&items)[N])
{
    return items[random.bounded(static_cast<quint32>(N))];
}

QByteArray digits(QRandomGenerator &random, int count)
{
    QByteArray text;
    for (int i = 0; i < count; ++i)
        text += char('0' + random.bounded(10));
    return text;
}

std::unique_ptr<TCardData> makeCard(QRandomGenerator &random)
{
    auto card = MakeCardRecord();
    const QString city = QString::fromUtf16(pick(random, Cities));
    QString name = QString::fromUtf16(pick(random, Surnames)) + QString::fromUtf16(pick(random, GivenChars));
    if (random.bounded(2))
        name += QString::fromUtf16(pick(random, GivenChars));
    const QByteArray login = QByteArray(pick(random, Pinyin)) + digits(random, 3);
    card->setField(Field::Name, gb18030::encode(name));
    card->setField(Field::TouXian, gb18030::encode(QString::fromUtf16(pick(random, Titles))));
    card->setField(Field::DW,
                   gb18030::encode(city + QString::fromUtf16(pick(random, Trades)) + QStringLiteral("有限公司")));
    card->setField(Field::DZ, gb18030::encode(city + QStringLiteral("市中山路%1号").arg(random.bounded(1, 999))));
    card->setField(Field::DH, "0" + digits(random, 2) + "-" + digits(random, 8));
    card->setField(Field::CZ, random.bounded(3) ? QByteArray() : "0" + digits(random, 2) + "-" + digits(random, 8));
    card->setField(Field::SJ, "13" + digits(random, 9));
    card->setField(Field::YB, digits(random, 6));
    card->setField(Field::WZ, random.bounded(2) ? "www." + login + ".com" : QByteArray());
    card->setField(Field::QQ, digits(random, 9));
    card->setField(Field::MSN, random.bounded(3) ? QByteArray() : login + "@hotmail.com");
    card->setField(Field::EMail, login + "@" + pick(random, Domains));
    card->setField(Field::Other,
                   random.bounded(4) ? QByteArray() : gb18030::encode(QStringLiteral("去年在展会上认识")));
    return card;
}

// One tree for all benchmarks: 100 card classes of 1,000 cards each.
const CardTree &generatedTree()
{
    static const std::unique_ptr<CardTree> tree = [] {
        auto made = std::make_unique<CardTree>();
        QRandomGenerator random(1234567);
        CardNode *cardClass = nullptr;
        for (int i = 0; i < CardCount; ++i) {
            if (i % CardsPerClass == 0) {
                auto record = MakeCardClassRecord();
                const QByteArray label = gb18030::encode(QStringLiteral("类别%1").arg(i / CardsPerClass));
                record->setField(Field::Name, label);
                cardClass = made->addTopLevel(label, std::move(record));
            }
            auto card = makeCard(random);
            const QByteArray label = card->name().toByteArray();
            made->addChild(cardClass, label, std::move(card));
        }
        return made;
    }();
    return *tree;
}

FieldSelection allFields()
{
    FieldSelection fields;
    fields.fill(true);
    return fields;
}

// Conditions: a rare one, a typical name, a phone fragment and one that
// every card matches (so the sort of 100,000 rows is included).
const char16_t *const Conditions[] = {u"xyzzy", u"张伟", u"1385", u".com"};

void BM_SearchAllFields(benchmark::State &state)
{
    const CardTree &tree = generatedTree();
    const QByteArray condition = gb18030::encode(QString::fromUtf16(Conditions[state.range(0)]));
    const FieldSelection fields = allFields();
    const QLocale locale(QLocale::Chinese, QLocale::China);
    int rows = 0;
    for (auto _ : state) {
        const SearchOutcome outcome = SearchCards(tree, condition, fields, locale);
        rows = outcome.count();
        benchmark::DoNotOptimize(rows);
    }
    state.SetLabel(QString::fromUtf16(Conditions[state.range(0)]).toStdString());
    state.counters["rows"] = rows;
    state.counters["cards"] = CardCount;
}
BENCHMARK(BM_SearchAllFields)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

void BM_SearchNameOnly(benchmark::State &state)
{
    const CardTree &tree = generatedTree();
    const QByteArray condition = gb18030::encode(QStringLiteral("张伟"));
    for (auto _ : state)
        benchmark::DoNotOptimize(SearchCards(tree, condition, DefaultFieldSelection()).count());
}
BENCHMARK(BM_SearchNameOnly)->Unit(benchmark::kMillisecond);

// The million generated cards of `kelvo-tool generate`, loaded from their
// data file's bytes as the window has them (in bulk, not one by one).
const CardTree &millionCards()
{
    static const std::unique_ptr<CardTree> tree = [] {
        QByteArray bytes;
        {
            CardTree generated;
            tool::GenerateCardTree(generated, 1000000, 2024);
            bytes = SerializeTree(generated);
        }
        auto made = std::make_unique<CardTree>();
        ReadTreeFromBytes(bytes, *made);
        return made;
    }();
    return *tree;
}

const char16_t *const MillionConditions[] = {u"张伟", u"1385", u".com"};

// The walk alone (matching and folding the names, no order), on one thread
// (range 1) and shared with a helper (range 2).
void BM_ScanMillionCards(benchmark::State &state)
{
    const CardTree &tree = millionCards();
    const QByteArray condition = FoldText(gb18030::encode(QString::fromUtf16(MillionConditions[state.range(0)])));
    ScanSharing sharing;
    sharing.threads = int(state.range(1));
    size_t rows = 0;
    for (auto _ : state) {
        const ScannedCards scanned = ScanCards(tree, condition, allFields(), sharing, NoMessagePump());
        rows = scanned.cards.size();
    }
    state.SetLabel(QString::fromUtf16(MillionConditions[state.range(0)]).toStdString()
                   + " threads=" + std::to_string(sharing.threads));
    state.counters["rows"] = double(rows);
}
BENCHMARK(BM_ScanMillionCards)
    ->ArgsProduct({{0, 1, 2}, {1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(5);

// The order of the 729,256 rows of ".com" among the million cards, in the C
// locale (range 0) and in Chinese (range 1).
void BM_OrderManyRows(benchmark::State &state)
{
    static const ScannedCards scanned = ScanCards(millionCards(), ".COM", allFields(), ScanSharing{}, NoMessagePump());
    const QLocale locale = state.range(0) ? QLocale(QLocale::Chinese, QLocale::China) : QLocale::c();
    for (auto _ : state)
        benchmark::DoNotOptimize(OrderByName(scanned.names, locale).size());
    state.SetLabel(locale.name().toStdString());
    state.counters["rows"] = double(scanned.names.size());
    std::unordered_set<std::string_view> distinct;
    for (const QByteArrayView name : scanned.names)
        distinct.emplace(name.data(), size_t(name.size()));
    state.counters["names"] = double(distinct.size());
}
BENCHMARK(BM_OrderManyRows)->DenseRange(0, 1)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

// The same fields as UTF-8 text, one card per line, fields separated by tabs.
// With KELVO_BENCH_KEEP_DUMP set the file stays (its path goes to standard
// error), for timing other tools over it, e.g. with hyperfine.
QString dumpFile()
{
    static QTemporaryDir dir;
    static const QString path = [] {
        if (qEnvironmentVariableIsSet("KELVO_BENCH_KEEP_DUMP")) {
            dir.setAutoRemove(false);
            std::fprintf(stderr, "dump: %s\n", qPrintable(dir.filePath(QStringLiteral("cards.txt"))));
        }
        const QString file = dir.filePath(QStringLiteral("cards.txt"));
        QFile out(file);
        if (!out.open(QIODevice::WriteOnly))
            return QString();
        QByteArray line;
        generatedTree().forEach([&](const CardNode *node) {
            const TCardData *card = node->data();
            if (!card || !card->isCard())
                return;
            line.clear();
            for (int n = Field::First; n <= Field::Last; ++n) {
                if (n > Field::First)
                    line += '\t';
                line += gb18030::decode(card->field(n)).toUtf8();
            }
            line += '\n';
            out.write(line);
        });
        return file;
    }();
    return path;
}

// ripgrep, fixed string, case-insensitive, counting matching lines; the
// process start is part of each figure.
void BM_RipgrepSameFields(benchmark::State &state)
{
    const QString rg = QStandardPaths::findExecutable(QStringLiteral("rg"));
    const QString file = dumpFile();
    if (rg.isEmpty() || file.isEmpty()) {
        state.SkipWithError("rg or the dump file is missing");
        return;
    }
    const QString condition = QString::fromUtf16(Conditions[state.range(0)]);
    QByteArray count;
    for (auto _ : state) {
        QProcess process;
        process.start(rg, {QStringLiteral("-c"), QStringLiteral("-F"), QStringLiteral("-i"), condition, file});
        process.waitForFinished(-1);
        count = process.readAllStandardOutput().trimmed();
    }
    state.SetLabel(condition.toStdString() + " lines=" + count.toStdString());
}
BENCHMARK(BM_RipgrepSameFields)->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
