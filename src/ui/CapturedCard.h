#pragma once

#include <QString>

#include <array>

namespace kelvo {

class CardNode;
class CardTree;

// The thirteen texts of a card as the capture window holds them (index 0 is
// field 1, the name).
using CapturedTexts = std::array<QString, 13>;

// The card a captured one would repeat: the first card in tree order with
// the same mobile number (digits compared, a leading +86 or 86 aside), the
// same e-mail address (letter case aside), or the same name and company
// (both given). nullptr when there is none.
CardNode *findSimilarCard(const CardTree &tree, const CapturedTexts &texts);

// Adds a card with `texts` (trimmed, stored as GB18030 and cut as every
// field is) as the last child of `cardClass`, through the store in one
// announcement. A card without a name is named "<新名片>". Returns the node.
CardNode *addCapturedCard(CardTree &tree, CardNode *cardClass, const CapturedTexts &texts);

// Stores every captured text that is not empty into `card` (the name renames
// it); fields the capture left empty keep what the card holds. Returns the
// number of fields that changed.
int updateCardFromCapture(CardTree &tree, CardNode *card, const CapturedTexts &texts);

// True when every text is empty after trimming.
bool isEmptyCapture(const CapturedTexts &texts);

} // namespace kelvo
