#pragma once

#include <array>
#include <cstdint>

namespace kelvo::lzhuf {

// Sizes of the LZHUF format: a 4096-byte ring buffer, 60 bytes of
// look-ahead, matches of 3 to 60 bytes.
inline constexpr int RingSize = 4096;
inline constexpr int LookAhead = 60;
inline constexpr int MinMatch = 3;
inline constexpr int MaxMatch = LookAhead;
inline constexpr int RingStart = RingSize - LookAhead; // first write position; bytes before it start as spaces

// Symbols 0..255 are literal bytes, 256..313 matches of length symbol - 253.
inline constexpr int SymbolCount = 256 - (MinMatch - 1) + LookAhead; // 314
inline constexpr int FirstMatchSymbol = 256;
inline constexpr int MatchLengthOffset = 253;

// The adaptive Huffman tree shared by the encoder and the decoder. Both sides
// must evolve it identically, so every detail here (node order, the swap rule,
// the rebuild) is part of the format.
//
// Nodes live in slots 0..NodeCount-1, kept in ascending frequency order; the
// root is the last slot. Children of an internal node occupy the slot pair
// (son, son + 1), the first child taken on a 0 bit and the second on a 1 bit.
class LzhufTree
{
public:
    static constexpr int NodeCount = SymbolCount * 2 - 1; // 627
    static constexpr int Root = NodeCount - 1;
    static constexpr std::uint32_t RebuildFrequency = 0x8000;

    LzhufTree() { reset(); }

    // The starting tree: every symbol with frequency 1, paired in order.
    void reset();

    // Counts one more occurrence of `symbol` (rebuilding first when the root
    // frequency has reached RebuildFrequency).
    void update(int symbol);

    // Decoding: start at firstChildOfRoot(), then repeatedly call step() with
    // the next bit until it returns a value >= NodeCount; that value minus
    // NodeCount is the symbol.
    int firstChildOfRoot() const { return m_son[Root]; }
    int step(int node, int bit) const { return m_son[node + bit]; }

    // Encoding: the code of `symbol` as (bits, length), first bit in the
    // most significant of the `length` low bits. Codes never exceed 64 bits:
    // with frequencies below 0x8000 the tree is at most about 23 levels deep.
    struct Code
    {
        std::uint64_t bits = 0;
        int length = 0;
    };
    Code codeOf(int symbol) const;

    std::uint32_t rootFrequency() const { return m_freq[Root]; }
    int rebuildCount() const { return m_rebuilds; }

private:
    void rebuild();

    // m_freq[NodeCount] is a sentinel larger than any real frequency.
    std::array<std::uint32_t, NodeCount + 1> m_freq{};
    // Parent slot of each slot; entries NodeCount.. map symbols to their leaf slot.
    std::array<int, NodeCount + SymbolCount> m_parent{};
    // First child slot of an internal node, or NodeCount + symbol for a leaf.
    std::array<int, NodeCount> m_son{};
    int m_rebuilds = 0;
};

} // namespace kelvo::lzhuf
