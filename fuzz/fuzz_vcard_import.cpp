// Feeds arbitrary bytes to the vCard reader (and the CSV reader whenever
// the content has no BEGIN:VCARD line), then checks what was imported.
#include "ExchangeFuzzCheck.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size > 256 * 1024)
        return 0;
    const QByteArrayView input(reinterpret_cast<const char *>(data), qsizetype(size));
    const kelvo::exchange::ImportResult result = kelvo::exchange::ImportCards(input);
    kelvo::exchange::fuzz::checkImport(input, result);
    return 0;
}
