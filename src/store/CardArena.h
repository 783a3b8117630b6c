#pragma once

#include <cstddef>
#include <vector>

namespace kelvo {

// Memory for nodes, records and texts made in bulk (a data file load, a JSON
// build): pieces are cut from large blocks one after the other and are never
// given back one by one; every block goes at once when the arena goes. A load
// of a million cards thus makes a few dozen allocations instead of millions,
// and freeing the tree returns a few dozen blocks.
//
// Single-threaded, like the card tree it serves.
class CardArena
{
public:
    static constexpr std::size_t Alignment = 8; // enough for nodes, records and texts

    CardArena() = default;
    CardArena(const CardArena &) = delete;
    CardArena &operator=(const CardArena &) = delete;
    ~CardArena();

    // `bytes` of memory aligned to `Alignment`, valid until
    // the arena goes. Never null (throws std::bad_alloc like new).
    void *allocate(std::size_t bytes);

    // Bytes taken from the system for the blocks (for memory accounting).
    std::size_t reservedBytes() const { return m_reserved; }
    // True when `p` lies in one of the arena's blocks.
    bool owns(const void *p) const;

private:
    // A block of `size` bytes; large ones are mapped from the system
    // directly (see CardArena.cpp), small ones come from the heap.
    struct Block
    {
        std::byte *bytes = nullptr;
        std::size_t size = 0;
        bool mapped = false;
    };
    static Block allocateBlock(std::size_t size);
    static void freeBlock(const Block &block);

    std::byte *newBlock(std::size_t atLeast);

    std::vector<Block> m_blocks;
    std::byte *m_next = nullptr;
    std::byte *m_end = nullptr;
    std::size_t m_reserved = 0;
};

} // namespace kelvo
