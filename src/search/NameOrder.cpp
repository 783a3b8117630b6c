#include "NameOrder.h"

#include "CollationKeys.h"
#include "DistinctNames.h"
#include "HelperThread.h"

#include <QCollator>
#include <QCollatorSortKey>

#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <numeric>
#include <optional>
#include <string>
#include <thread>
#include <utility>

namespace kelvo {

namespace {

// A key's first eight bytes as a big-endian number (so that number order is
// byte order), the bytes after its closing zero byte as zeros.
std::uint64_t keyHead(const char *key)
{
    std::uint64_t value = 0;
    for (int k = 0; k < 8; ++k) {
        const auto byte = static_cast<unsigned char>(key[k]);
        value = (value << 8) | byte;
        if (byte == 0) {
            value <<= 8 * (7 - k);
            break;
        }
    }
    return value;
}

// True when the key ended within its first eight bytes: two such keys with
// the same head are equal.
bool endsInHead(std::uint64_t head)
{
    return (head & 0xFF) == 0;
}

struct KeyedSlot
{
    std::uint64_t head;
    std::uint32_t slot;
};

// Sorts by `head`, least significant digit first, eleven bits a pass;
// passes where every item has the same digit are left out.
void radixSortByHead(std::vector<KeyedSlot> &items)
{
    if (items.size() < 2)
        return;
    constexpr int Bits = 11;
    constexpr size_t Buckets = size_t(1) << Bits;
    std::vector<KeyedSlot> spare(items.size());
    std::vector<size_t> counts(Buckets);
    for (int shift = 0; shift < 64; shift += Bits) {
        std::fill(counts.begin(), counts.end(), 0);
        for (const KeyedSlot &item : items)
            ++counts[(item.head >> shift) & (Buckets - 1)];
        if (counts[(items.front().head >> shift) & (Buckets - 1)] == items.size())
            continue;
        size_t sum = 0;
        for (size_t &c : counts)
            sum = std::exchange(c, sum) + sum;
        for (const KeyedSlot &item : items)
            spare[counts[(item.head >> shift) & (Buckets - 1)]++] = item;
        items.swap(spare);
    }
}

// One share of the rows: those whose names' hashes fall to it (all rows
// when there is one share), their distinct names with sort keys, and those
// names in key order.
struct Share
{
    DistinctNames table;
    std::vector<std::uint32_t> rows;      // the share's rows with a name, ascending
    std::vector<std::uint32_t> slotOfRow; // their names' numbers, same order
    std::string keys;                     // the sort keys, each ending with a zero byte
    std::vector<size_t> keyAt;            // where each name's key starts, by number
    std::vector<KeyedSlot> byKey;         // the names (numbers from 1) in key order

    const char *keyOf(std::uint32_t slot) const { return keys.data() + keyAt[slot]; }
};

// Fills share `index` of `shares`.
void fillShare(Share &share, const std::vector<QByteArrayView> &names, unsigned index, unsigned shares,
               CollationKeys &collation)
{
    // The share's names, numbered; the table's places fetched a few names
    // ahead of their look-up.
    constexpr size_t Ahead = 16;
    std::uint64_t hashes[Ahead];
    share.rows.reserve(names.size() / shares + names.size() / 16);
    share.slotOfRow.reserve(share.rows.capacity());
    for (size_t from = 0; from < names.size(); from += Ahead) {
        const size_t n = std::min(Ahead, names.size() - from);
        for (size_t i = 0; i < n; ++i) {
            hashes[i] = DistinctNames::hashOf(names[from + i]);
            share.table.prefetch(hashes[i]);
        }
        for (size_t i = 0; i < n; ++i) {
            const QByteArrayView name = names[from + i];
            if (name.isEmpty() || (shares > 1 && unsigned(hashes[i] >> 63) != index))
                continue;
            share.rows.push_back(static_cast<std::uint32_t>(from + i));
            share.slotOfRow.push_back(share.table.slotOf(name, hashes[i]));
        }
    }
    // Their keys, and the names ordered by the keys' heads, then by the rest.
    const std::vector<QByteArrayView> &distinct = share.table.names();
    share.keyAt.assign(distinct.size(), 0);
    for (size_t slot = 1; slot < distinct.size(); ++slot) {
        share.keyAt[slot] = share.keys.size();
        collation.append(distinct[slot], share.keys);
    }
    share.keys.append(8, '\0'); // the last key's head can be read whole
    share.byKey.reserve(distinct.size() - 1);
    for (std::uint32_t slot = 1; slot < distinct.size(); ++slot)
        share.byKey.push_back({keyHead(share.keyOf(slot)), slot});
    radixSortByHead(share.byKey);
    const auto restBefore = [&share](const KeyedSlot &a, const KeyedSlot &b) {
        return std::strcmp(share.keyOf(a.slot) + 8, share.keyOf(b.slot) + 8) < 0;
    };
    for (size_t from = 0; from < share.byKey.size();) {
        size_t to = from + 1;
        while (to < share.byKey.size() && share.byKey[to].head == share.byKey[from].head)
            ++to;
        if (to - from > 1 && !endsInHead(share.byKey[from].head))
            std::sort(share.byKey.begin() + std::ptrdiff_t(from), share.byKey.begin() + std::ptrdiff_t(to), restBefore);
        from = to;
    }
}

// <0, 0, >0 as key `a` of share `sa` sorts before, with or after key `b` of `sb`.
int compareKeys(const Share &sa, const KeyedSlot &a, const Share &sb, const KeyedSlot &b)
{
    if (a.head != b.head)
        return a.head < b.head ? -1 : 1;
    if (endsInHead(a.head))
        return 0;
    return std::strcmp(sa.keyOf(a.slot) + 8, sb.keyOf(b.slot) + 8);
}

// The rank of every row's name (0: empty; equal keys share a rank), from the
// shares' key orders merged; returns the highest rank.
std::uint32_t rankRows(const std::vector<std::unique_ptr<Share>> &shares, std::vector<std::uint32_t> &rankOfRow)
{
    std::vector<std::vector<std::uint32_t>> rankOfSlot(shares.size());
    std::vector<size_t> next(shares.size(), 0);
    for (size_t s = 0; s < shares.size(); ++s)
        rankOfSlot[s].assign(shares[s]->table.count(), 0);
    std::uint32_t rank = 0;
    const Share *lastShare = nullptr;
    const KeyedSlot *last = nullptr;
    while (true) {
        // The smallest key not yet ranked.
        size_t best = shares.size();
        for (size_t s = 0; s < shares.size(); ++s) {
            if (next[s] == shares[s]->byKey.size())
                continue;
            if (best == shares.size()
                || compareKeys(*shares[s], shares[s]->byKey[next[s]], *shares[best], shares[best]->byKey[next[best]])
                    < 0)
                best = s;
        }
        if (best == shares.size())
            break;
        const Share &share = *shares[best];
        const KeyedSlot &item = share.byKey[next[best]++];
        if (!last || compareKeys(*lastShare, *last, share, item) != 0)
            ++rank;
        rankOfSlot[best][item.slot] = rank;
        lastShare = &share;
        last = &item;
    }
    for (size_t s = 0; s < shares.size(); ++s) {
        const Share &share = *shares[s];
        for (size_t i = 0; i < share.rows.size(); ++i)
            rankOfRow[share.rows[i]] = rankOfSlot[s][share.slotOfRow[i]];
    }
    return rank;
}

// The same ranks through QCollatorSortKey, where ICU's keys cannot serve.
std::uint32_t rankRowsByQCollator(const std::vector<QByteArrayView> &names, const QLocale &locale,
                                  CollationKeys &collation, std::vector<std::uint32_t> &rankOfRow)
{
    DistinctNames table(names.size());
    std::vector<std::uint32_t> slotOfRow(names.size(), 0);
    for (size_t row = 0; row < names.size(); ++row) {
        if (!names[row].isEmpty())
            slotOfRow[row] = table.slotOf(names[row], DistinctNames::hashOf(names[row]));
    }
    const std::vector<QByteArrayView> &distinct = table.names();
    QCollator collator(locale);
    collator.setCaseSensitivity(Qt::CaseSensitive);
    std::vector<std::optional<QCollatorSortKey>> keys(distinct.size());
    for (size_t slot = 1; slot < distinct.size(); ++slot)
        keys[slot].emplace(collator.sortKey(collation.decoded(distinct[slot])));
    std::vector<std::uint32_t> byKey(distinct.size() - 1);
    std::iota(byKey.begin(), byKey.end(), std::uint32_t(1));
    std::sort(byKey.begin(), byKey.end(),
              [&keys](std::uint32_t a, std::uint32_t b) { return keys[a]->compare(*keys[b]) < 0; });
    std::vector<std::uint32_t> rankOfSlot(distinct.size(), 0);
    std::uint32_t rank = 0;
    for (size_t i = 0; i < byKey.size(); ++i) {
        if (i == 0 || keys[byKey[i - 1]]->compare(*keys[byKey[i]]) != 0)
            ++rank;
        rankOfSlot[byKey[i]] = rank;
    }
    for (size_t row = 0; row < names.size(); ++row)
        rankOfRow[row] = rankOfSlot[slotOfRow[row]];
    return rank;
}

} // namespace

std::vector<std::uint32_t> OrderByName(const std::vector<QByteArrayView> &names, const QLocale &locale, int threads)
{
    const size_t count = names.size();
    std::vector<std::uint32_t> order(count);
    std::iota(order.begin(), order.end(), std::uint32_t(0));
    if (count < 2)
        return order;

    std::vector<std::uint32_t> rankOfRow(count, 0);
    std::uint32_t highest = 0;
    CollationKeys collation(locale);
    if (!collation.usable()) {
        highest = rankRowsByQCollator(names, locale, collation, rankOfRow);
    } else {
        if (threads <= 0)
            threads = count >= MinNamesForHelperThread && std::thread::hardware_concurrency() >= 2 ? 2 : 1;
        std::unique_ptr<CollationKeys> helperCollation = threads > 1 ? collation.copy() : nullptr;
        const unsigned shareCount = helperCollation ? 2 : 1;
        std::vector<std::unique_ptr<Share>> shares;
        for (unsigned s = 0; s < shareCount; ++s)
            shares.push_back(std::make_unique<Share>());
        if (shareCount == 1) {
            fillShare(*shares[0], names, 0, 1, collation);
        } else {
            std::exception_ptr failure;
            {
                const HelperThread helper([&] {
                    try {
                        fillShare(*shares[1], names, 1, 2, *helperCollation);
                    } catch (...) {
                        failure = std::current_exception();
                    }
                });
                fillShare(*shares[0], names, 0, 2, collation);
            } // joined
            if (failure)
                std::rethrow_exception(failure);
        }
        highest = rankRows(shares, rankOfRow);
    }

    // Counting sort by rank: stable, so equal names keep the order given.
    std::vector<std::uint32_t> start(size_t(highest) + 2, 0);
    for (size_t row = 0; row < count; ++row)
        ++start[rankOfRow[row] + 1];
    std::partial_sum(start.begin(), start.end(), start.begin());
    for (size_t row = 0; row < count; ++row)
        order[start[rankOfRow[row]]++] = std::uint32_t(row);
    return order;
}

} // namespace kelvo
