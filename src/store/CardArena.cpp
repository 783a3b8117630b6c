#include "CardArena.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace kelvo {

namespace {

// Blocks start small (a tree of a few cards stays small) and double up to
// the largest size, so that a large load needs few blocks.
constexpr std::size_t FirstBlockBytes = std::size_t(64) << 10;
constexpr std::size_t LargestBlockBytes = std::size_t(8) << 20;

// Blocks of this size and more are cut from large mappings ("regions"),
// on large-page boundaries, marked for the system's large pages: a load then
// takes a page fault per 2 MiB instead of one per 4 KiB, which is a good
// part of its time. A region is address space only until it is written to;
// one mapping for many blocks keeps a load from changing the process's
// mappings while it runs, which would hold up the page faults of a second
// thread loading at the same time. Regions go back to the system when the
// arena goes.
constexpr std::size_t LargePageBytes = std::size_t(2) << 20;
constexpr std::size_t RegionBytes = sizeof(void *) >= 8 ? std::size_t(256) << 20 : std::size_t(16) << 20;

constexpr std::size_t aligned(std::size_t bytes)
{
    return (bytes + CardArena::Alignment - 1) & ~(CardArena::Alignment - 1);
}

} // namespace

CardArena::~CardArena()
{
    for (const Block &block : m_blocks) {
        if (!block.mapped)
            ::operator delete(block.bytes);
    }
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    for (const Region &region : m_regions)
        munmap(region.base, region.size);
#endif
}

CardArena::Block CardArena::allocateBlock(std::size_t size)
{
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (size >= LargePageBytes) {
        size = (size + LargePageBytes - 1) & ~(LargePageBytes - 1);
        if (m_regions.empty() || m_regions.back().size - m_regions.back().used < size) {
            m_regions.reserve(m_regions.size() + 1);
            m_regions.push_back(mapRegion(std::max(size, RegionBytes)));
        }
        Region &region = m_regions.back();
        std::byte *const start = region.base + region.used;
        region.used += size;
        return Block{start, size, true};
    }
#endif
    return Block{static_cast<std::byte *>(::operator new(size)), size, false};
}

#if defined(__linux__) && defined(MADV_HUGEPAGE)
CardArena::Region CardArena::mapRegion(std::size_t size)
{
    // Map one large page more than needed and cut the ends off, so that the
    // region starts on a large-page boundary. Nothing is committed before
    // it is written to.
    const std::size_t mappedBytes = size + LargePageBytes;
    void *const mapping =
        mmap(nullptr, mappedBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (mapping == MAP_FAILED)
        throw std::bad_alloc();
    auto *const first = static_cast<std::byte *>(mapping);
    const auto address = reinterpret_cast<std::uintptr_t>(first);
    auto *const start = first + ((LargePageBytes - address % LargePageBytes) % LargePageBytes);
    if (start != first)
        munmap(first, static_cast<std::size_t>(start - first));
    if (auto *const tail = start + size; tail != first + mappedBytes)
        munmap(tail, static_cast<std::size_t>(first + mappedBytes - tail));
    madvise(start, size, MADV_HUGEPAGE); // a hint: without large pages the region works all the same
    return Region{start, size, 0};
}
#endif

void CardArena::newBlock(Lane &lane, std::size_t atLeast)
{
    std::size_t size = lane.lastBlockSize == 0 ? FirstBlockBytes : std::min(lane.lastBlockSize * 2, LargestBlockBytes);
    size = std::max(size, aligned(atLeast));
    m_blocks.reserve(m_blocks.size() + 1);
    const Block block = allocateBlock(size);
    m_blocks.push_back(block);
    m_reserved += block.size;
    lane.lastBlockSize = size;
    lane.next = block.bytes;
    lane.end = block.bytes + block.size;
}

void CardArena::releaseUnusedTails()
{
    releaseTail(m_nodes);
    releaseTail(m_texts);
}

void CardArena::releaseTail(const Lane &lane) const
{
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (!lane.next || m_blocks.empty())
        return;
    // Only blocks cut from a region: heap blocks belong to the allocator.
    const auto block = std::find_if(m_blocks.rbegin(), m_blocks.rend(), [&](const Block &b) {
        return b.bytes <= lane.next && lane.next <= b.bytes + b.size;
    });
    if (block == m_blocks.rend() || !block->mapped)
        return;
    constexpr std::uintptr_t PageBytes = 4096;
    const auto from = (reinterpret_cast<std::uintptr_t>(lane.next) + PageBytes - 1) & ~(PageBytes - 1);
    const auto to = reinterpret_cast<std::uintptr_t>(lane.end);
    if (from < to)
        madvise(reinterpret_cast<void *>(from), to - from, MADV_DONTNEED); // zero pages when touched again
#else
    (void)lane;
#endif
}

void CardArena::adopt(CardArena &other)
{
    if (&other == this || other.m_blocks.empty())
        return;
    // Nothing more is cut from the other arena's current blocks.
    other.releaseUnusedTails();
    m_blocks.reserve(m_blocks.size() + other.m_blocks.size());
    m_blocks.insert(m_blocks.end(), other.m_blocks.begin(), other.m_blocks.end());
    m_regions.insert(m_regions.begin(), other.m_regions.begin(), other.m_regions.end()); // new blocks: from the last
    other.m_regions.clear();
    m_reserved += other.m_reserved;
    other.m_blocks.clear();
    other.m_nodes = {};
    other.m_texts = {};
    other.m_reserved = 0;
}

bool CardArena::owns(const void *p) const
{
    const auto *byte = static_cast<const std::byte *>(p);
    const std::less<const std::byte *> before;
    return std::any_of(m_blocks.begin(), m_blocks.end(), [&](const Block &block) {
        return !before(byte, block.bytes) && before(byte, block.bytes + block.size);
    });
}

} // namespace kelvo
