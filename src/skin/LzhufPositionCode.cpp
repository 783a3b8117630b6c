#include "LzhufPositionCode.h"

namespace kelvo::lzhuf {

namespace {

PositionCode buildPositionCode()
{
    // How many of the 64 values get a code of 3, 4, 5, 6, 7 and 8 bits.
    constexpr int lengthCounts[] = {1, 3, 8, 12, 24, 16};
    PositionCode table;
    unsigned next = 0; // the next canonical code, at the current length
    int length = 3;
    int value = 0;
    for (int count : lengthCounts) {
        for (int n = 0; n < count; ++n, ++value, ++next) {
            const unsigned leftAligned = next << (8 - length);
            table.code[value] = static_cast<std::uint8_t>(leftAligned);
            table.length[value] = static_cast<std::uint8_t>(length);
            // Every 8-bit window that starts with this code decodes to it.
            for (unsigned tail = 0; tail < (1u << (8 - length)); ++tail) {
                table.upperBits[leftAligned | tail] = static_cast<std::uint8_t>(value);
                table.codeLength[leftAligned | tail] = static_cast<std::uint8_t>(length);
            }
        }
        next <<= 1;
        ++length;
    }
    return table;
}

} // namespace

const PositionCode &positionCode()
{
    static const PositionCode table = buildPositionCode();
    return table;
}

} // namespace kelvo::lzhuf
