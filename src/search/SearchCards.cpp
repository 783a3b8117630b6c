#include "SearchCards.h"

#include "Folding.h"
#include "Gb18030.h"

#include <QCollator>
#include <QCollatorSortKey>
#include <QStringDecoder>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <optional>
#include <string_view>

namespace kelvo {

namespace {

constexpr int FieldCount = Field::Count;
constexpr qsizetype FieldRoom = TCardData::MaxFieldBytes + 1;

// The folded fields of the node being judged, in fixed buffers: matching a
// node allocates nothing. Each field is folded at most once per node.
class FoldedFields
{
public:
    void reset(const TCardData *card)
    {
        m_card = card;
        m_folded.fill(false);
    }

    // Folded field n (1..13); `boundaries` receives the character starts.
    std::string_view fold(int n, QByteArrayView raw, bool *boundaries = nullptr)
    {
        const auto i = static_cast<size_t>(n - 1);
        if (!m_folded[i] || boundaries) {
            // A record never holds more than MaxFieldBytes per field (its
            // length is one byte); the cut only keeps the buffers safe.
            raw = raw.first(qMin(raw.size(), TCardData::MaxFieldBytes));
            m_lengths[i] = FoldTextInto(raw, m_buffers[i].data(), boundaries);
            m_folded[i] = true;
        }
        return {m_buffers[i].data(), static_cast<size_t>(m_lengths[i])};
    }

    std::string_view fold(int n) { return fold(n, m_card->field(n)); }

private:
    const TCardData *m_card = nullptr;
    std::array<std::array<char, FieldRoom>, FieldCount> m_buffers;
    std::array<qsizetype, FieldCount> m_lengths{};
    std::array<bool, FieldCount> m_folded{};
};

// True when `needle` occurs in `haystack` starting and ending on character
// boundaries (flags as FoldTextInto sets them).
bool containsAtBoundaries(std::string_view haystack, const bool *boundaries, std::string_view needle)
{
    size_t from = 0;
    while (true) {
        const size_t at = haystack.find(needle, from);
        if (at == std::string_view::npos)
            return false;
        if (boundaries[at] && boundaries[at + needle.size()])
            return true;
        from = at + 1;
    }
}

// True when the folded condition holds an ASCII letter standing as a
// character of its own (folding has made it upper case). Without one, a hit
// on character boundaries covers no letter of the field either, so folding
// cannot change it: the stored bytes can be searched as they are.
bool hasSingleByteLetters(std::string_view condition)
{
    const auto *p = reinterpret_cast<const unsigned char *>(condition.data());
    const auto size = static_cast<qsizetype>(condition.size());
    for (qsizetype pos = 0; pos < size; pos += gb18030::charLengthAt(p + pos, size - pos)) {
        if (p[pos] >= 'A' && p[pos] <= 'Z')
            return true;
    }
    return false;
}

// `needle` in the trimmed stored text, starting and ending on character
// boundaries; the boundaries are walked only as far as a candidate needs.
bool containsUnfolded(QByteArrayView stored, std::string_view needle)
{
    const QByteArrayView trimmed = gb18030::trimmed(stored);
    const std::string_view text(trimmed.data(), static_cast<size_t>(trimmed.size()));
    const auto *p = reinterpret_cast<const unsigned char *>(text.data());
    const auto size = static_cast<qsizetype>(text.size());
    qsizetype walked = 0; // a character start, never beyond the next candidate
    size_t from = 0;
    while (true) {
        const size_t at = text.find(needle, from);
        if (at == std::string_view::npos)
            return false;
        const auto start = static_cast<qsizetype>(at);
        while (walked < start)
            walked += gb18030::charLengthAt(p + walked, size - walked);
        if (walked == start) {
            const auto end = static_cast<qsizetype>(at + needle.size());
            qsizetype pos = start;
            while (pos < end)
                pos += gb18030::charLengthAt(p + pos, size - pos);
            if (pos == end)
                return true;
        }
        from = at + 1;
    }
}

// A cheap test on the stored bytes before any folding: can the folded value
// hold the condition's first byte at all? Folding only turns a-z into A-Z,
// so an upper-case letter may stem from either case and any other byte only
// from itself. Most fields of a large tree fail here and are never folded.
class FirstByteFilter
{
public:
    explicit FirstByteFilter(unsigned char first)
        : m_first(first)
        , m_letter(first >= 'A' && first <= 'Z')
    {
    }

    bool mayMatch(QByteArrayView raw) const
    {
        const auto *p = reinterpret_cast<const unsigned char *>(raw.data());
        const qsizetype size = raw.size();
        if (!m_letter)
            return std::memchr(p, m_first, static_cast<size_t>(size)) != nullptr;
        const unsigned char lower = m_first | 0x20;
        for (qsizetype i = 0; i < size; ++i) {
            if ((p[i] | 0x20) == lower)
                return true;
        }
        return false;
    }

private:
    unsigned char m_first;
    bool m_letter;
};

} // namespace

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
    const std::string_view needle(outcome.condition.constData(), static_cast<size_t>(outcome.condition.size()));

    const bool unfolded = !hasSingleByteLetters(needle);
    const FirstByteFilter filter(static_cast<unsigned char>(needle.front()));
    FoldedFields folded;
    std::array<bool, FieldRoom + 1> boundaries{};
    [[maybe_unused]] const quint64 shape = tree.shapeVersion();
    tree.forEach([&](const CardNode *node) {
        pump.pump();
        Q_ASSERT_X(tree.shapeVersion() == shape, "SearchCards", "the card tree changed while events were pumped");
        const TCardData *card = node->data();
        if (!card || !card->isCard())
            return;
        folded.reset(card);
        bool matched = false;
        for (int n = Field::First; n <= Field::Last && !matched; ++n) {
            if (!fields[static_cast<size_t>(n - 1)])
                continue;
            const QByteArrayView raw = card->field(n);
            // The folded value is never longer than the stored one.
            if (raw.size() < outcome.condition.size())
                continue;
            if (unfolded)
                matched = containsUnfolded(raw, needle);
            else if (filter.mayMatch(raw))
                matched = containsAtBoundaries(folded.fold(n, raw, boundaries.data()), boundaries.data(), needle);
        }
        if (!matched)
            return;
        TResultRow row;
        for (int n = Field::First; n <= Field::Last; ++n) {
            const std::string_view text = folded.fold(n);
            if (!text.empty())
                row.Texts[static_cast<size_t>(n - 1)] = QByteArray(text.data(), static_cast<qsizetype>(text.size()));
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
    QCollator collator(locale);
    collator.setCaseSensitivity(Qt::CaseSensitive);
    // One decoder for all names (making one per name costs more than the
    // decoding); stateless, so no name's bytes run into the next one.
    QStringDecoder decoder("GB18030", QStringDecoder::Flag::Stateless);
    std::vector<std::optional<QCollatorSortKey>> keys;
    keys.reserve(rows.size());
    for (const TResultRow &row : rows) {
        if (row.Texts[0].isEmpty())
            keys.emplace_back(std::nullopt);
        else if (decoder.isValid())
            keys.emplace_back(collator.sortKey(decoder.decode(row.Texts[0])));
        else
            keys.emplace_back(collator.sortKey(gb18030::decode(row.Texts[0])));
    }
    std::vector<size_t> order(rows.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(), [&keys](size_t a, size_t b) {
        const auto &ka = keys[a];
        const auto &kb = keys[b];
        if (!ka || !kb)
            return !ka && kb; // empty names first
        return ka->compare(*kb) < 0;
    });
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
