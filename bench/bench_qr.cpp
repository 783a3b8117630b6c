// Cards as QR codes: every card of a 10,000-card generated tree (the tree
// `kelvo-tool generate --cards 10000` writes) is encoded, drawn, and read
// back with ZXing; the counters tell how many came back exactly (all
// thirteen fields, or the compact code's seven), how many needed the
// compact code, and the versions used. Figures only: nothing asserts.
#include "CardQrCode.h"
#include "CardQrReading.h"

#include "CardExport.h"
#include "CardGenerator.h"

#include "CardTree.h"
#include "Gb18030.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>

using namespace kelvo;

namespace {

constexpr int Cards = 10'000;
constexpr quint64 Seed = 1; // kelvo-tool generate's default

const std::vector<const CardNode *> &generatedCards()
{
    static CardTree tree;
    static std::vector<const CardNode *> cards;
    if (cards.empty()) {
        tool::GenerateCardTree(tree, Cards, Seed);
        cards = exchange::AllCards(tree);
    }
    return cards;
}

bool readsBackExactly(const TCardData &card, const capture::CardQrCode &code,
                      const std::optional<capture::QrCardFields> &read)
{
    if (!read)
        return false;
    for (int n = Field::First; n <= Field::Last; ++n) {
        const bool kept = !code.compact || n == Field::Name || n == Field::TouXian || n == Field::DW
            || n == Field::DH || n == Field::CZ || n == Field::SJ || n == Field::EMail;
        const QString expected = kept ? gb18030::decode(card.field(n)) : QString();
        if (read->at(size_t(n - 1)) != expected)
            return false;
    }
    return true;
}

// The whole file once: encode, draw at 4 pixels a module, read back.
void BM_EveryCardReadsBack(benchmark::State &state)
{
    const std::vector<const CardNode *> &cards = generatedCards();
    int exact = 0, compact = 0, failed = 0, largest = 0, reported = 0;
    double versions = 0;
    for (auto _ : state) {
        exact = compact = failed = largest = 0;
        versions = 0;
        for (const CardNode *node : cards) {
            const capture::CardQrCode code = capture::EncodeCardQr(*node->data());
            if (!code.ok()) {
                ++failed;
                continue;
            }
            compact += code.compact;
            versions += code.symbol.version;
            largest = std::max(largest, code.symbol.version);
            const std::optional<capture::QrCardFields> read =
                capture::decodeCardQr(capture::RenderQrSymbol(code.symbol, 4));
            if (readsBackExactly(*node->data(), code, read))
                ++exact;
            else if (++reported <= 5) // name the first few
                std::fprintf(stderr, "not read back exactly: %s\n", node->data()->name().toByteArray().constData());
        }
    }
    state.counters["cards"] = double(cards.size());
    state.counters["exact"] = exact;
    state.counters["not_exact"] = double(cards.size()) - exact - failed;
    state.counters["no_code"] = failed;
    state.counters["compact"] = compact;
    state.counters["mean_version"] = versions / std::max<size_t>(1, cards.size() - size_t(failed));
    state.counters["largest_version"] = largest;
    // Time a card took (encode, draw, read back), shown as a time.
    state.counters["per_card"] =
        benchmark::Counter(double(cards.size()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_EveryCardReadsBack)->Iterations(1)->Unit(benchmark::kSecond);

// Encoding alone, per card.
void BM_EncodeCard(benchmark::State &state)
{
    const std::vector<const CardNode *> &cards = generatedCards();
    size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(capture::EncodeCardQr(*cards[i]->data()));
        i = (i + 1) % cards.size();
    }
}
BENCHMARK(BM_EncodeCard)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
