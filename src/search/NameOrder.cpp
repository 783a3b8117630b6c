#include "NameOrder.h"

#include "Gb18030.h"

#include <QCollator>
#include <QCollatorSortKey>
#include <QStringDecoder>

#include <algorithm>
#include <numeric>
#include <optional>
#include <string_view>
#include <unordered_map>

namespace kelvo {

std::vector<std::uint32_t> OrderByName(const std::vector<QByteArrayView> &names, const QLocale &locale)
{
    const size_t count = names.size();
    std::vector<std::uint32_t> order(count);
    std::iota(order.begin(), order.end(), std::uint32_t(0));
    if (count < 2)
        return order;

    // Distinct names, each with the rows that carry it. Slot 0 stands for the
    // empty name, which comes first.
    std::unordered_map<std::string_view, std::uint32_t> slotOf;
    slotOf.reserve(count);
    std::vector<QByteArrayView> distinct{QByteArrayView()};
    std::vector<std::uint32_t> slotOfRow(count);
    for (size_t row = 0; row < count; ++row) {
        const QByteArrayView name = names[row];
        if (name.isEmpty()) {
            slotOfRow[row] = 0;
            continue;
        }
        const auto [it, made] = slotOf.try_emplace(std::string_view(name.data(), size_t(name.size())),
                                                   std::uint32_t(distinct.size()));
        if (made)
            distinct.push_back(name);
        slotOfRow[row] = it->second;
    }

    // A sort key per distinct name. One decoder for all names (making one
    // per name costs more than the decoding); stateless, so no name's bytes
    // run into the next one.
    QCollator collator(locale);
    collator.setCaseSensitivity(Qt::CaseSensitive);
    QStringDecoder decoder("GB18030", QStringDecoder::Flag::Stateless);
    std::vector<std::optional<QCollatorSortKey>> keys(distinct.size());
    for (size_t slot = 1; slot < distinct.size(); ++slot)
        keys[slot].emplace(collator.sortKey(decoder.isValid() ? QString(decoder.decode(distinct[slot]))
                                                              : gb18030::decode(distinct[slot])));
    std::vector<std::uint32_t> byKey(distinct.size() - 1);
    std::iota(byKey.begin(), byKey.end(), std::uint32_t(1));
    std::sort(byKey.begin(), byKey.end(), [&keys](std::uint32_t a, std::uint32_t b) { return keys[a]->compare(*keys[b]) < 0; });

    // Ranks: the empty name 0, then one more for each key that differs from
    // the one before it.
    std::vector<std::uint32_t> rankOfSlot(distinct.size(), 0);
    std::uint32_t rank = 0;
    for (size_t i = 0; i < byKey.size(); ++i) {
        if (i == 0 || keys[byKey[i - 1]]->compare(*keys[byKey[i]]) != 0)
            ++rank;
        rankOfSlot[byKey[i]] = rank;
    }

    // Counting sort by rank: stable, so equal names keep the order given.
    std::vector<std::uint32_t> start(size_t(rank) + 2, 0);
    for (size_t row = 0; row < count; ++row)
        ++start[rankOfSlot[slotOfRow[row]] + 1];
    std::partial_sum(start.begin(), start.end(), start.begin());
    for (size_t row = 0; row < count; ++row)
        order[start[rankOfSlot[slotOfRow[row]]]++] = std::uint32_t(row);
    return order;
}

} // namespace kelvo
