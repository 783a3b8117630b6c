#pragma once

#include <QByteArrayView>

#include <cstdint>
#include <vector>

namespace kelvo {

// The distinct names of a result list, numbered in order of first appearance
// from 1 (0 stands for the empty name). An open-addressing table that holds
// each name's first eight bytes and its length beside its number, so a name
// of up to eight bytes (most names: three or four Chinese characters) is
// found with one look at the table and none at its bytes. The names' bytes
// must outlive the table.
class DistinctNames
{
public:
    // `expected`: about how many names will be looked up (sizes the table).
    explicit DistinctNames(size_t expected = 0);

    static std::uint64_t hashOf(QByteArrayView name);

    // Asks the memory for the table's place of a name with that hash, ahead
    // of slotOf (the table is larger than the caches).
    void prefetch(std::uint64_t hash) const
    {
#if defined(__GNUC__) || defined(__clang__)
        __builtin_prefetch(&m_entries[hash & (m_entries.size() - 1)]);
#else
        (void)hash;
#endif
    }

    // The number of `name` (not empty; `hash` its hashOf), given on its first
    // appearance.
    std::uint32_t slotOf(QByteArrayView name, std::uint64_t hash);

    // Every name by its number; names()[0] is the empty name.
    const std::vector<QByteArrayView> &names() const
    {
        return m_names;
    }
    std::uint32_t count() const
    {
        return static_cast<std::uint32_t>(m_names.size());
    }

private:
    struct Entry
    {
        std::uint64_t head = 0;
        std::uint32_t length = 0;
        std::uint32_t slot = 0; // 0: free
    };

    void grow();

    std::vector<Entry> m_entries;
    std::vector<QByteArrayView> m_names;
};

} // namespace kelvo
