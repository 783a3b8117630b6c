// Feeds arbitrary bytes to the data file reader. Whatever it reads (all of
// it, or the nodes read completely before damage) must be written and read
// back to the same bytes: the writer's output is always a readable file, and
// reading it loses nothing the writer keeps. Read from a device in pieces,
// or by two readers with the second starting anywhere, the bytes give the
// same nodes and the same damage at the same offset.
#include "CardTree.h"
#include "DataFile.h"
#include "NodeRecordReading.h"

#include <QBuffer>
#include <QByteArray>
#include <QByteArrayView>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace kelvo;

namespace {

void roundTrip(QByteArrayView input, ReadOptions options)
{
    CardTree first;
    const LoadResult result = ReadTreeFromBytes(input, first, NoProgress(), options);
    if (!result.ok()
        && (result.offset < 0 || result.offset > input.size() || result.error.code != ErrorCode::DataDamaged
            || result.error.text.isEmpty())) {
        std::fprintf(stderr, "damage reported at offset %lld of %lld without a reason\n",
                     static_cast<long long>(result.offset), static_cast<long long>(input.size()));
        std::abort();
    }

    QByteArray copy = input.toByteArray();
    QBuffer device(&copy);
    device.open(QIODevice::ReadOnly);
    CardTree fromDevice;
    const LoadResult read = ReadTreeFromDevice(device, fromDevice, NoProgress(), options);
    if (read.status != result.status || read.offset != result.offset || read.error.text != result.error.text
        || SerializeTree(fromDevice) != SerializeTree(first)) {
        std::fprintf(stderr, "read from a device otherwise than from memory\n");
        std::abort();
    }

    // The second reader at a place the input itself names, and in its middle.
    for (const qint64 at :
         {input.size() / 2,
          input.size() > 4 ? qint64(static_cast<std::uint8_t>(input.back())) * input.size() / 256 : 0}) {
        CardTree split;
        const LoadResult two = records::ReadTreeSplitAt(input, split, {at}, options);
        if (two.status != result.status || two.offset != result.offset || two.error.text != result.error.text
            || SerializeTree(split) != SerializeTree(first)) {
            std::fprintf(stderr, "two readers, the second from %lld, read otherwise than one\n",
                         static_cast<long long>(at));
            std::abort();
        }
    }

    const QByteArray written = SerializeTree(first);
    CardTree second;
    const LoadResult again = ReadTreeFromBytes(written, second, NoProgress(), options);
    if (!again.ok()) {
        std::fprintf(stderr, "the writer's own output is damaged at %lld: %s\n", static_cast<long long>(again.offset),
                     again.error.text.toLocal8Bit().constData());
        std::abort();
    }
    if (second.count() != first.count()) {
        std::fprintf(stderr, "node count changed: %d then %d\n", first.count(), second.count());
        std::abort();
    }
    if (SerializeTree(second) != written) {
        std::fprintf(stderr, "writing what was read back gives other bytes\n");
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArrayView input(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    roundTrip(input, ReadOptions{});
    ReadOptions keep;
    keep.keepStoredDisplayIndexes = true;
    roundTrip(input, keep);
    return 0;
}
