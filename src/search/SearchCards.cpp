#include "SearchCards.h"

#include "CardScan.h"
#include "Folding.h"
#include "Gb18030.h"
#include "NameOrder.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

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

namespace {

// The row's texts in one allocation: each non-empty text is a QByteArray
// sharing one block (the block's reference count counts them, so a text
// copied out of the row keeps the block alive), ending with a zero byte like
// any QByteArray. A row of thirteen texts costs one allocation, not thirteen.
void setTexts(std::array<QByteArray, Field::Count> &texts, const std::array<QByteArrayView, Field::Count> &folded)
{
    qsizetype total = 0;
    for (const QByteArrayView &text : folded)
        total += text.isEmpty() ? 0 : text.size() + 1;
    if (total == 0)
        return;
    QByteArray block(total - 1, Qt::Uninitialized); // the block's own zero byte ends the last text
    QByteArray::DataPointer &shared = block.data_ptr();
    char *at = shared.data();
    for (size_t i = 0; i < folded.size(); ++i) {
        const QByteArrayView text = folded[i];
        if (text.isEmpty())
            continue;
        std::memcpy(at, text.data(), static_cast<size_t>(text.size()));
        at[text.size()] = '\0';
        shared.d_ptr()->ref();
        texts[i] = QByteArray(QByteArray::DataPointer(shared.d_ptr(), at, text.size()));
        at += text.size() + 1;
    }
}

} // namespace

namespace {

// What a search finds, in tree order, with the folded names, and the
// result-list order.
struct Matches
{
    bool emptyCondition = false;
    QByteArray condition;
    ScannedCards scanned;
    std::vector<std::uint32_t> order; // result-list order: positions in scanned.cards
};

void findMatches(const CardTree &tree, QByteArrayView condition, const FieldSelection &fields, const QLocale &locale,
                 MessagePump &pump, const ScanSharing *sharing, Matches &m)
{
    if (gb18030::trimmed(condition).isEmpty()) {
        m.emptyCondition = true;
        return;
    }
    m.condition = FoldText(condition);
    m.scanned = ScanCards(tree, m.condition, fields, sharing ? *sharing : DefaultScanSharing(tree), pump);
    m.order = OrderByName(m.scanned.names, locale);
}

FoundCards findCards(const CardTree &tree, QByteArrayView condition, const FieldSelection &fields,
                     const QLocale &locale, MessagePump &pump, const ScanSharing *sharing)
{
    Matches m;
    findMatches(tree, condition, fields, locale, pump, sharing, m);
    FoundCards found;
    found.emptyCondition = m.emptyCondition;
    found.condition = m.condition;
    found.cards.reserve(m.order.size());
    for (const std::uint32_t i : m.order)
        found.cards.push_back(m.scanned.cards[i]);
    return found;
}

SearchOutcome searchCards(const CardTree &tree, QByteArrayView condition, const FieldSelection &fields,
                          const QLocale &locale, MessagePump &pump, const ScanSharing *sharing)
{
    Matches m;
    findMatches(tree, condition, fields, locale, pump, sharing, m);
    SearchOutcome outcome;
    outcome.emptyCondition = m.emptyCondition;
    outcome.condition = m.condition;
    // The rows, made in result-list order.
    outcome.rows.reserve(m.order.size());
    for (const std::uint32_t i : m.order) {
        const FoundCard &f = m.scanned.cards[i];
        outcome.rows.push_back(MakeResultRow(f.Node, *f.Card));
    }
    return outcome;
}

} // namespace

TResultRow MakeResultRow(const CardNode *node, const TCardData &card)
{
    std::array<char, Field::Count * TCardData::MaxFieldBytes> scratch;
    std::array<QByteArrayView, Field::Count> folded;
    char *out = scratch.data();
    for (int n = Field::First; n <= Field::Last; ++n) {
        const QByteArrayView raw = card.field(n);
        // A record never holds more than MaxFieldBytes per field; the cut
        // only keeps the scratch safe.
        const qsizetype length =
            raw.isEmpty() ? 0 : FoldTextInto(raw.first(std::min(raw.size(), TCardData::MaxFieldBytes)), out);
        folded[static_cast<size_t>(n - 1)] = QByteArrayView(out, length);
        out += length;
    }
    TResultRow row;
    setTexts(row.Texts, folded);
    row.Card = &card;
    row.Node = node;
    return row;
}

FoundCards FindCards(const CardTree &tree, QByteArrayView condition, const FieldSelection &fields,
                     const QLocale &locale, MessagePump &pump)
{
    return findCards(tree, condition, fields, locale, pump, nullptr);
}

FoundCards FindCards(const CardTree &tree, QByteArrayView condition, const FieldSelection &fields,
                     const QLocale &locale, MessagePump &pump, const ScanSharing &sharing)
{
    return findCards(tree, condition, fields, locale, pump, &sharing);
}

SearchOutcome SearchCards(const CardTree &tree, QByteArrayView condition, const FieldSelection &fields,
                          const QLocale &locale, MessagePump &pump)
{
    return searchCards(tree, condition, fields, locale, pump, nullptr);
}

SearchOutcome SearchCards(const CardTree &tree, QByteArrayView condition, const FieldSelection &fields,
                          const QLocale &locale, MessagePump &pump, const ScanSharing &sharing)
{
    return searchCards(tree, condition, fields, locale, pump, &sharing);
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
