// LZHUF speed on a 1 MB skin archive: decoding (what every start of Kelvo
// does with its stored skin) and encoding (packing a skin). Figures only.
#include "Lzhuf.h"
#include "SkinArchive.h"

#include <benchmark/benchmark.h>

#include <QRandomGenerator>

namespace {

// A picture file much like a skin's: a bitmap header, then rows of smooth
// gradients with a little noise.
QByteArray pictureLike(int width, int height, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray bytes("BM", 2);
    bytes.append(52, '\0');
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int noise = random.bounded(4) == 0 ? int(random.bounded(8)) : 0;
            bytes.append(char(200 + (y * 40) / height + noise));
            bytes.append(char(210 + (x * 30) / width));
            bytes.append(char(240 - noise));
        }
        bytes.append((4 - (width * 3) % 4) % 4, '\0');
    }
    return bytes;
}

QByteArray descriptionLike(int sections)
{
    QByteArray text;
    for (int i = 0; i < sections; ++i) {
        text += "[Section" + QByteArray::number(i) + "]\r\nImage=picture" + QByteArray::number(i % 40)
            + ".bmp\r\nLeftWidth=4\r\nRightWidth=4\r\nTopHeight=3\r\nBottomHeight=3\r\nTrans=1\r\n"
              "NormalColour2=0 0 0\r\n";
    }
    return text;
}

const QByteArray &oneMegabyteArchive()
{
    static const QByteArray payload = [] {
        QList<kelvo::SkinArchiveEntry> entries;
        qsizetype total = 0;
        for (quint32 i = 0; total < 1000 * 1000; ++i) {
            entries.append({"picture" + QByteArray::number(i) + ".bmp", pictureLike(120 + int(i % 7) * 20, 40, i)});
            total += entries.back().data.size();
        }
        entries.append({"skin.ini", descriptionLike(300)});
        QByteArray bytes = kelvo::buildSkinPayload(entries).bytes;
        bytes.truncate(1 << 20);
        return bytes;
    }();
    return payload;
}

void BM_DecodeSkinArchive(benchmark::State &state)
{
    const QByteArray stream = kelvo::lzhuf::encode(oneMegabyteArchive());
    for (auto _ : state) {
        const kelvo::lzhuf::DecodeResult result = kelvo::lzhuf::decode(stream);
        benchmark::DoNotOptimize(result.data.constData());
    }
    state.SetBytesProcessed(state.iterations() * oneMegabyteArchive().size());
    state.counters["compressed_bytes"] = double(stream.size());
}

void BM_EncodeSkinArchive(benchmark::State &state)
{
    qsizetype compressed = 0;
    for (auto _ : state) {
        const QByteArray stream = kelvo::lzhuf::encode(oneMegabyteArchive());
        compressed = stream.size();
        benchmark::DoNotOptimize(stream.constData());
    }
    state.SetBytesProcessed(state.iterations() * oneMegabyteArchive().size());
    state.counters["compressed_bytes"] = double(compressed);
}

void BM_DecodeRandom(benchmark::State &state)
{
    QRandomGenerator random(5);
    QByteArray data(1 << 20, Qt::Uninitialized);
    for (char &c : data)
        c = char(random.bounded(256));
    const QByteArray stream = kelvo::lzhuf::encode(data);
    for (auto _ : state) {
        const kelvo::lzhuf::DecodeResult result = kelvo::lzhuf::decode(stream);
        benchmark::DoNotOptimize(result.data.constData());
    }
    state.SetBytesProcessed(state.iterations() * data.size());
}

} // namespace

BENCHMARK(BM_DecodeSkinArchive)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeSkinArchive)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeRandom)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
