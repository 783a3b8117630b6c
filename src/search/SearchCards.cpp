#include "SearchCards.h"

#include "CardMatcher.h"
#include "Folding.h"
#include "Gb18030.h"
#include "NameOrder.h"

#include <algorithm>
#include <array>

namespace kelvo {

FieldSelection DefaultFieldSelection()
{
    FieldSelection fields{};
    fields[0] = true;
    return fields;
}

SearchOutcome SearchCards(const CardTree &tree, QByteArrayView condition, const FieldSelection &fields,
                          MessagePump &pump)
{
    return SearchCards(tree, condition, fields, QLocale(), pump);
}

SearchOutcome SearchCards(const CardTree &tree, QByteArrayView condition, const FieldSelection &fields,
                          const QLocale &locale, MessagePump &pump)
{
    SearchOutcome outcome;
    if (gb18030::trimmed(condition).isEmpty()) {
        outcome.emptyCondition = true;
        return outcome;
    }
    outcome.condition = FoldText(condition);
    CardMatcher matcher(outcome.condition, fields);
    std::array<char, TCardData::MaxFieldBytes> folded;
    [[maybe_unused]] const quint64 shape = tree.shapeVersion();
    tree.forEach([&](const CardNode *node) {
        pump.pump();
        Q_ASSERT_X(tree.shapeVersion() == shape, "SearchCards", "the card tree changed while events were pumped");
        const TCardData *card = node->data();
        if (!card || !card->isCard() || !matcher.matches(*card))
            return;
        TResultRow row;
        for (int n = Field::First; n <= Field::Last; ++n) {
            const QByteArrayView raw = card->field(n);
            if (raw.isEmpty())
                continue;
            const qsizetype length = FoldTextInto(raw.first(std::min(raw.size(), TCardData::MaxFieldBytes)), folded.data());
            if (length > 0)
                row.Texts[static_cast<size_t>(n - 1)] = QByteArray(folded.data(), length);
        }
        row.Card = card;
        row.Node = node;
        outcome.rows.push_back(std::move(row));
    });
    SortResultRows(outcome.rows, locale);
    return outcome;
}

void SortResultRows(std::vector<TResultRow> &rows, const QLocale &locale)
{
    if (rows.size() < 2)
        return;
    std::vector<QByteArrayView> names;
    names.reserve(rows.size());
    for (const TResultRow &row : rows)
        names.push_back(row.Texts[0]);
    const std::vector<std::uint32_t> order = OrderByName(names, locale);
    // Put the rows in that order in place, cycle by cycle (no second copy of
    // a possibly large result list): position i receives row order[i].
    std::vector<bool> placed(rows.size(), false);
    for (size_t start = 0; start < rows.size(); ++start) {
        if (placed[start])
            continue;
        TResultRow held = std::move(rows[start]);
        size_t at = start;
        while (order[at] != start) {
            rows[at] = std::move(rows[order[at]]);
            placed[at] = true;
            at = order[at];
        }
        rows[at] = std::move(held);
        placed[at] = true;
    }
}

QString FoundCardsStatusText(int count)
{
    return QStringLiteral("共找到%1张名片。").arg(count);
}

bool ConditionHistory::add(QByteArrayView foldedCondition)
{
    if (foldedCondition.isEmpty() || contains(foldedCondition))
        return false;
    m_entries.append(foldedCondition.toByteArray());
    return true;
}

bool ConditionHistory::contains(QByteArrayView condition) const
{
    return std::any_of(m_entries.cbegin(), m_entries.cend(),
                       [condition](const QByteArray &entry) { return EqualIgnoringCase(entry, condition); });
}

} // namespace kelvo
