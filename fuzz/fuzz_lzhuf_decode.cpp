// Decodes arbitrary bytes as an LZHUF stream. A stream that decodes is
// compressed again by our encoder and must come back unchanged.
#include "Lzhuf.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArrayView input(reinterpret_cast<const char *>(data), qsizetype(size));
    // The library's own cap applies; a smaller one keeps each run quick.
    const kelvo::lzhuf::DecodeResult decoded = kelvo::lzhuf::decode(input, 1024 * 1024);
    if (!decoded.ok || decoded.data.size() > 64 * 1024)
        return 0;
    const kelvo::lzhuf::DecodeResult again = kelvo::lzhuf::decode(kelvo::lzhuf::encode(decoded.data));
    if (!again.ok || again.data != decoded.data || again.isTruncated())
        std::abort();
    return 0;
}
