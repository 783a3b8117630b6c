#include "DistinctNames.h"

#include <algorithm>
#include <cstring>

namespace kelvo {

namespace {

// The first eight bytes of a name, or for a shorter name a number that,
// with its length, tells it apart from every other name of that length:
// loads that may overlap, never a byte beyond the name.
std::uint64_t headOf(QByteArrayView name)
{
    const auto *p = reinterpret_cast<const unsigned char *>(name.data());
    const size_t n = size_t(name.size());
    if (n >= 8) {
        std::uint64_t head;
        std::memcpy(&head, p, 8);
        return head;
    }
    if (n >= 4) {
        std::uint32_t first;
        std::uint32_t last;
        std::memcpy(&first, p, 4);
        std::memcpy(&last, p + n - 4, 4);
        return first | (std::uint64_t(last) << 32);
    }
    if (n == 0)
        return 0;
    return std::uint64_t(p[0]) | (std::uint64_t(p[n / 2]) << 8) | (std::uint64_t(p[n - 1]) << 16);
}

std::uint64_t mix(std::uint64_t x)
{
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdULL;
    x ^= x >> 33;
    x *= 0xc4ceb9fe1a85ec53ULL;
    x ^= x >> 33;
    return x;
}

} // namespace

DistinctNames::DistinctNames(size_t expected)
{
    size_t capacity = 1024;
    while (capacity < 2 * std::min<size_t>(expected, size_t(1) << 17))
        capacity *= 2;
    m_entries.resize(capacity);
    m_names.push_back(QByteArrayView()); // 0: the empty name
}

std::uint64_t DistinctNames::hashOf(QByteArrayView name)
{
    std::uint64_t h = mix(headOf(name) ^ (std::uint64_t(name.size()) * 0x9e3779b97f4a7c15ULL));
    for (qsizetype at = 8; at < name.size(); at += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, name.data() + at, std::min<size_t>(8, size_t(name.size() - at)));
        h = mix(h ^ word);
    }
    return h;
}

std::uint32_t DistinctNames::slotOf(QByteArrayView name, std::uint64_t hash)
{
    const std::uint64_t head = headOf(name);
    const auto length = static_cast<std::uint32_t>(name.size());
    const size_t mask = m_entries.size() - 1;
    for (size_t at = hash & mask;; at = (at + 1) & mask) {
        Entry &entry = m_entries[at];
        if (entry.slot == 0) {
            const auto made = static_cast<std::uint32_t>(m_names.size());
            entry = {head, length, made};
            m_names.push_back(name);
            if (2 * m_names.size() > m_entries.size())
                grow();
            return made;
        }
        if (entry.head == head && entry.length == length
            && (length <= 8 || std::memcmp(m_names[entry.slot].data() + 8, name.data() + 8, length - 8) == 0))
            return entry.slot;
    }
}

void DistinctNames::grow()
{
    std::vector<Entry> old(m_entries.size() * 2);
    old.swap(m_entries);
    const size_t mask = m_entries.size() - 1;
    for (const Entry &entry : old) {
        if (entry.slot == 0)
            continue;
        size_t at = hashOf(m_names[entry.slot]) & mask;
        while (m_entries[at].slot != 0)
            at = (at + 1) & mask;
        m_entries[at] = entry;
    }
}

} // namespace kelvo
