#include "CardArena.h"

#include <algorithm>
#include <functional>

namespace kelvo {

namespace {

// Blocks start small (a tree of a few cards stays small) and double up to
// the largest size, so that a large load needs few blocks.
constexpr std::size_t FirstBlockBytes = std::size_t(64) << 10;
constexpr std::size_t LargestBlockBytes = std::size_t(8) << 20;

constexpr std::size_t aligned(std::size_t bytes)
{
    return (bytes + CardArena::Alignment - 1) & ~(CardArena::Alignment - 1);
}

} // namespace

void *CardArena::allocate(std::size_t bytes)
{
    bytes = aligned(std::max<std::size_t>(bytes, 1));
    if (static_cast<std::size_t>(m_end - m_next) < bytes)
        m_next = newBlock(bytes);
    std::byte *piece = m_next;
    m_next += bytes;
    return piece;
}

std::byte *CardArena::newBlock(std::size_t atLeast)
{
    std::size_t size = m_blocks.empty() ? FirstBlockBytes : std::min(m_blocks.back().size * 2, LargestBlockBytes);
    size = std::max(size, aligned(atLeast));
    Block block{std::make_unique_for_overwrite<std::byte[]>(size), size};
    std::byte *start = block.bytes.get();
    m_blocks.push_back(std::move(block));
    m_reserved += size;
    m_end = start + size;
    return start;
}

bool CardArena::owns(const void *p) const
{
    const auto *byte = static_cast<const std::byte *>(p);
    const std::less<const std::byte *> before;
    return std::any_of(m_blocks.begin(), m_blocks.end(), [&](const Block &block) {
        return !before(byte, block.bytes.get()) && before(byte, block.bytes.get() + block.size);
    });
}

} // namespace kelvo
