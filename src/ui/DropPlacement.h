#pragma once

#include "CardTree.h"

#include <cstdint>
#include <optional>

namespace kelvo {

// Where a dragged node goes when it is dropped on a target node, from the two
// node kinds alone:
//
//   moved       target                         placement
//   card        card class (reserved or not)   target's last child
//   card        card                           just before the target
//   card class  card                           target's last sibling
//   card class  the reserved card class        target's last sibling
//   card class  any other card class           target's last child
//
// Any other kind on either side has no placement (nothing moves).
// `targetIsReserved` only matters for a card class target.
std::optional<CardTree::MoveMode> DropPlacement(std::int32_t movedKind, std::int32_t targetKind, bool targetIsReserved);

} // namespace kelvo
