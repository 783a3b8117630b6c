// Feeds arbitrary bytes to the CSV reader. The first byte picks the options:
// bit 0 --no-header, bit 1 a --map of column 2 to field 13, bit 2 a --map of
// the first header cell to field 1.
#include "ExchangeFuzzCheck.h"

#include <cstdint>

using namespace kelvo::exchange;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1 || size > 256 * 1024)
        return 0;
    CsvOptions options;
    options.noHeader = (data[0] & 1) != 0;
    if (data[0] & 2)
        options.maps.push_back({QStringLiteral("2"), 13});
    const QByteArrayView input(reinterpret_cast<const char *>(data) + 1, qsizetype(size) - 1);
    if (data[0] & 4) {
        const qsizetype end = input.indexOf(',');
        options.maps.push_back({QString::fromUtf8(input.first(end < 0 ? qMin<qsizetype>(input.size(), 8) : end)), 1});
    }
    // The CSV path whatever the content says.
    CsvReader reader(input, options);
    ImportResult result;
    result.format = ExchangeFormat::Csv;
    QString error;
    if (reader.start(&error)) {
        ContactDraft draft;
        bool readable = true;
        while (reader.nextCard(draft, &readable)) {
            if (!readable) {
                ++result.skipped;
                continue;
            }
            if (draft.line < 1)
                fuzz::fail("record without a line");
        }
    }
    fuzz::checkImport(input, ImportCards(input, options));
    return 0;
}
