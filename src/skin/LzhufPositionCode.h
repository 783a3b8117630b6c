#pragma once

#include <array>
#include <cstdint>

namespace kelvo::lzhuf {

// The fixed code for the upper 6 bits of a match position. The 64 values get
// codes of 3 to 8 bits, assigned as consecutive canonical codes: value 0 is
// 000, values 1..3 are 0010, 0011, 0100, and so on up to 11111111 for 63.
// The lower 6 bits of the position follow verbatim.
struct PositionCode
{
    // Indexed by the upper 6 bits: the code left-aligned in 8 bits and its length.
    std::array<std::uint8_t, 64> code{};
    std::array<std::uint8_t, 64> length{};
    // Indexed by the next 8 input bits: the upper 6 bits they start with and
    // the length of that code.
    std::array<std::uint8_t, 256> upperBits{};
    std::array<std::uint8_t, 256> codeLength{};
};

const PositionCode &positionCode();

} // namespace kelvo::lzhuf
