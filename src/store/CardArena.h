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
// Nodes with their records and the texts are cut from blocks of their own
// ("lanes"), so that the nodes lie close together: a walk over the tree
// reads the nodes one after the other without the texts in between.
//
// Single-threaded, like the card tree it serves.
class CardArena
{
public:
    static constexpr std::size_t Alignment = 8; // enough for nodes and records

    CardArena() = default;
    CardArena(const CardArena &) = delete;
    CardArena &operator=(const CardArena &) = delete;
    ~CardArena();

    // `bytes` of memory aligned to `Alignment`, for nodes and records, valid
    // until the arena goes. Never null (throws std::bad_alloc like new).
    void *allocate(std::size_t bytes) { return m_nodes.take(*this, bytes, Alignment); }
    // `bytes` of memory for texts, with no alignment.
    char *allocateText(std::size_t bytes) { return static_cast<char *>(m_texts.take(*this, bytes, 1)); }

    // Takes every block of `other` over (the pieces cut from them stay where
    // they are and now live as long as this arena); `other` is left empty.
    // New pieces still come from this arena's current blocks.
    void adopt(CardArena &other);

    // Gives the memory of the current blocks beyond their last piece back to
    // the system (it stays address space: later pieces are cut from it as
    // before). A large page that a piece touched would otherwise stay whole.
    void releaseUnusedTails();

    // Bytes taken from the system for the blocks (for memory accounting).
    std::size_t reservedBytes() const { return m_reserved; }
    // True when `p` lies in one of the arena's blocks.
    bool owns(const void *p) const;

private:
    // A block of `size` bytes; large ones are cut from regions mapped from
    // the system (see CardArena.cpp), small ones come from the heap.
    struct Block
    {
        std::byte *bytes = nullptr;
        std::size_t size = 0;
        bool mapped = false; // in a region
    };
    struct Region
    {
        std::byte *base = nullptr;
        std::size_t size = 0;
        std::size_t used = 0;
    };
    Block allocateBlock(std::size_t size);
    static Region mapRegion(std::size_t size);

    // Where the next piece of one kind is cut.
    struct Lane
    {
        std::byte *next = nullptr;
        std::byte *end = nullptr;
        std::size_t lastBlockSize = 0;

        void *take(CardArena &arena, std::size_t bytes, std::size_t alignment)
        {
            bytes = (bytes + alignment - 1) & ~(alignment - 1);
            if (bytes == 0)
                bytes = alignment;
            if (static_cast<std::size_t>(end - next) < bytes)
                arena.newBlock(*this, bytes);
            std::byte *piece = next;
            next += bytes;
            return piece;
        }
    };
    void newBlock(Lane &lane, std::size_t atLeast);
    void releaseTail(const Lane &lane) const;

    std::vector<Block> m_blocks;
    std::vector<Region> m_regions;
    Lane m_nodes;
    Lane m_texts;
    std::size_t m_reserved = 0;
};

} // namespace kelvo
