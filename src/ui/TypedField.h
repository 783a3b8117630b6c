#pragma once

#include <QString>

namespace kelvo {

class CardNode;
class CardTree;

// Stores text typed for field n (1..13) of a card, the one way every editor
// writes a field: encoded to GB18030, trimmed of blanks (bytes of 0x20 or
// less) at both ends, stored through the tree (which cuts it after the last
// whole character within 255 bytes and announces a real change) and, for the
// name, also made the node's label, in full. Returns whether the trimmed
// text differed from the stored field before the write; a text longer than
// the field keeps differing after it is cut, although nothing new is stored.
bool StoreTypedField(CardTree &tree, CardNode *node, int n, const QString &typed);

} // namespace kelvo
