#include "CardMatcher.h"

#include "Folding.h"
#include "Gb18030.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kelvo {

namespace {

bool isUpperLetter(unsigned char c)
{
    return c >= 'A' && c <= 'Z';
}

unsigned char upperAscii(unsigned char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<unsigned char>(c - 0x20) : c;
}

// True when the folded condition holds an ASCII letter standing as a
// character of its own (the folding made all such letters upper case).
bool hasSingleByteLetters(QByteArrayView condition)
{
    const auto *p = reinterpret_cast<const unsigned char *>(condition.data());
    const qsizetype size = condition.size();
    for (qsizetype pos = 0; pos < size; pos += gb18030::charLengthAt(p + pos, size - pos)) {
        if (isUpperLetter(p[pos]))
            return true;
    }
    return false;
}

bool isAscii(QByteArrayView text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// The first byte in [p, end) that equals `a` or `b`.
const char *findEither(const char *p, const char *end, char a, char b)
{
#if defined(__SSE2__)
    const __m128i va = _mm_set1_epi8(a);
    const __m128i vb = _mm_set1_epi8(b);
    while (end - p >= 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        const int mask = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(bytes, va), _mm_cmpeq_epi8(bytes, vb)));
        if (mask)
            return p + __builtin_ctz(static_cast<unsigned>(mask));
        p += 16;
    }
#endif
    for (; p < end; ++p) {
        if (*p == a || *p == b)
            return p;
    }
    return nullptr;
}

// The first place in [p, end) where a byte that is `a` or `b` is followed by
// one that is `c` or `d`: two bytes of the condition cut the places to look
// at far more than one (digits and dots abound in numbers and addresses).
const char *findPair(const char *p, const char *end, char a, char b, char c, char d)
{
#if defined(__SSE2__)
    const __m128i va = _mm_set1_epi8(a);
    const __m128i vb = _mm_set1_epi8(b);
    const __m128i vc = _mm_set1_epi8(c);
    const __m128i vd = _mm_set1_epi8(d);
    while (end - p >= 17) {
        const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 1));
        const __m128i hits = _mm_and_si128(_mm_or_si128(_mm_cmpeq_epi8(first, va), _mm_cmpeq_epi8(first, vb)),
                                           _mm_or_si128(_mm_cmpeq_epi8(second, vc), _mm_cmpeq_epi8(second, vd)));
        if (const int mask = _mm_movemask_epi8(hits))
            return p + __builtin_ctz(static_cast<unsigned>(mask));
        p += 16;
    }
#endif
    for (; end - p >= 2; ++p) {
        if ((p[0] == a || p[0] == b) && (p[1] == c || p[1] == d))
            return p;
    }
    return nullptr;
}

// True when a character starts at `at`, walking the field's characters from
// its start (the encoding does not synchronise backwards).
bool startsCharacter(const char *fieldStart, const char *at, const char *fieldEnd)
{
    const auto *p = reinterpret_cast<const unsigned char *>(fieldStart);
    const auto *target = reinterpret_cast<const unsigned char *>(at);
    const auto *end = reinterpret_cast<const unsigned char *>(fieldEnd);
    while (p < target)
        p += gb18030::charLengthAt(p, end - p);
    return p == target;
}

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

} // namespace

CardMatcher::CardMatcher(QByteArrayView foldedCondition, const std::array<bool, Field::Count> &fields)
    : m_condition(foldedCondition.toByteArray())
    , m_fields(fields)
    , m_anyField(std::any_of(fields.begin(), fields.end(), [](bool ticked) { return ticked; }))
{
    if (isAscii(m_condition))
        m_way = Way::CaselessAscii;
    else if (!hasSingleByteLetters(m_condition))
        m_way = Way::Exact;
    else
        m_way = Way::Folded;
    m_first = m_condition.isEmpty() ? 0 : static_cast<unsigned char>(m_condition.front());
    m_firstIsLetter = isUpperLetter(m_first);
    if (m_condition.size() >= 2) {
        // The second byte as the stored text may hold it: a letter in either
        // case when plain ASCII is matched without regard to case.
        const auto second = static_cast<unsigned char>(m_condition.at(1));
        const bool caseless = m_way == Way::CaselessAscii && isUpperLetter(second);
        m_second = {static_cast<char>(second), static_cast<char>(caseless ? second | 0x20 : second)};
    }
}

bool CardMatcher::matches(const TCardData &card)
{
    if (!m_anyField || m_condition.isEmpty())
        return false;
    if (m_way != Way::Folded)
        return scanAll(card);
    for (int n = Field::First; n <= Field::Last; ++n) {
        if (m_fields[static_cast<size_t>(n - 1)] && foldedFieldMatches(card.field(n)))
            return true;
    }
    return false;
}

bool CardMatcher::matchesAt(const char *at) const
{
    const qsizetype size = m_condition.size();
    const char *condition = m_condition.constData();
    if (m_way == Way::Exact)
        return std::memcmp(at + 1, condition + 1, static_cast<size_t>(size - 1)) == 0;
    for (qsizetype j = 1; j < size; ++j) {
        if (upperAscii(static_cast<unsigned char>(at[j])) != static_cast<unsigned char>(condition[j]))
            return false;
    }
    return true;
}

bool CardMatcher::scanAll(const TCardData &card) const
{
    // The condition is trimmed, so a hit never covers a field's leading or
    // trailing blanks: the stored bytes can be searched as they are. A hit of
    // a plain ASCII condition that starts on a character covers single-byte
    // characters only, so it ends on one too; an exact hit of multi-byte
    // characters is checked at both ends.
    const QByteArrayView text = card.allText();
    const qsizetype length = m_condition.size();
    if (text.size() < length)
        return false;
    const char *const end = text.data() + text.size();
    const char lower = m_firstIsLetter ? static_cast<char>(m_first | 0x20) : static_cast<char>(m_first);
    int slot = 0; // the field, by its place in TCardData::TextOrder
    const char *fieldStart = text.data();
    const char *fieldEnd = fieldStart + card.fieldLength(TCardData::TextOrder[0]);
    const char *p = text.data();
    while (p < end) {
        if (length >= 2)
            p = findPair(p, end, static_cast<char>(m_first), lower, m_second[0], m_second[1]);
        else if (m_firstIsLetter)
            p = findEither(p, end, static_cast<char>(m_first), lower);
        else
            p = static_cast<const char *>(std::memchr(p, m_first, static_cast<size_t>(end - p)));
        if (!p)
            return false;
        while (p >= fieldEnd) {
            fieldStart = fieldEnd;
            ++slot;
            fieldEnd += card.fieldLength(TCardData::TextOrder[static_cast<size_t>(slot)]);
        }
        const int field = TCardData::TextOrder[static_cast<size_t>(slot)];
        if (!m_fields[static_cast<size_t>(field - 1)] || fieldEnd - p < length) {
            p = fieldEnd; // nothing more in this field can hold it
            continue;
        }
        if (matchesAt(p) && startsCharacter(fieldStart, p, fieldEnd)
            && (m_way == Way::CaselessAscii || startsCharacter(p, p + length, fieldEnd)))
            return true;
        ++p;
    }
    return false;
}

bool CardMatcher::foldedFieldMatches(QByteArrayView raw)
{
    // The folded value is never longer than the stored one.
    const qsizetype length = m_condition.size();
    if (raw.size() < length)
        return false;
    // Can the folded value hold the condition's first byte at all? Folding
    // only turns a-z into A-Z, so an upper-case letter may stem from either
    // case and any other byte only from itself.
    const char *begin = raw.data();
    const char *end = begin + raw.size();
    const bool mayHold = m_firstIsLetter
        ? findEither(begin, end, static_cast<char>(m_first), static_cast<char>(m_first | 0x20)) != nullptr
        : std::memchr(begin, m_first, static_cast<size_t>(raw.size())) != nullptr;
    if (!mayHold)
        return false;
    // A record never holds more than MaxFieldBytes per field; the cut only
    // keeps the buffers safe.
    raw = raw.first(std::min(raw.size(), TCardData::MaxFieldBytes));
    const qsizetype folded = FoldTextInto(raw, m_folded.data(), m_boundaries.data());
    return containsAtBoundaries(std::string_view(m_folded.data(), static_cast<size_t>(folded)), m_boundaries.data(),
                                std::string_view(m_condition.constData(), static_cast<size_t>(length)));
}

} // namespace kelvo
