#pragma once

#include "CardData.h"

#include <QByteArray>
#include <QByteArrayView>

#include <array>

namespace kelvo {

// Decides whether a card's ticked fields hold a folded condition, as the
// search defines it: the condition (already folded, not empty) must occur in
// a field's folded value, starting and ending on character boundaries.
//
// Most conditions are decided on the stored bytes, without folding any field:
// all of a card's texts are scanned in one go for the condition's first byte
// (either case for a letter), and only the places found are looked at. A
// condition of plain ASCII matches where the stored bytes equal it up to the
// case of ASCII letters; a condition without single-byte letters matches
// where the stored bytes equal it. Only a condition that mixes multi-byte
// characters and letters needs the fields folded.
class CardMatcher
{
public:
    CardMatcher(QByteArrayView foldedCondition, const std::array<bool, Field::Count> &fields);

    bool matches(const TCardData &card);

private:
    enum class Way { CaselessAscii, Exact, Folded };

    bool scanAll(const TCardData &card) const;
    bool matchesAt(const char *at) const;
    bool foldedFieldMatches(QByteArrayView raw);

    QByteArray m_condition;
    std::array<bool, Field::Count> m_fields;
    bool m_anyField = false;
    Way m_way = Way::Exact;
    unsigned char m_first = 0; // the condition's first byte
    bool m_firstIsLetter = false;
    std::array<char, 2> m_second{}; // the second byte, in both cases for a letter
    // Folded field and its character starts (Way::Folded).
    std::array<char, TCardData::MaxFieldBytes + 1> m_folded{};
    std::array<bool, TCardData::MaxFieldBytes + 2> m_boundaries{};
};

} // namespace kelvo
