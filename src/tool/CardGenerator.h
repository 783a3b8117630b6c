#pragma once

#include <QtGlobal>

namespace kelvo {
class CardTree;
}

namespace kelvo::tool {

// Most cards `generate` makes in one tree: the tree and its file's bytes
// take about 650 bytes per card in memory, so this stays near 1.3 GB.
inline constexpr int MaxGeneratedCards = 2'000'000;

// Appends a realistic card tree to `tree`, the same for the same seed on
// every machine: first the reserved card class, then about one card class
// per 500 cards, nested up to four levels (so cards sit at most four levels
// below the top), holding `cards` cards with Chinese names, titles,
// companies, addresses, telephone, fax and mobile numbers, postcodes, web
// sites, QQ numbers, MSN and e-mail addresses and notes. Nodes carry the
// display indexes the program gives new nodes. `cards` is clamped to
// 0..MaxGeneratedCards.
void GenerateCardTree(CardTree &tree, int cards, quint64 seed);

} // namespace kelvo::tool
