#include "DropPlacement.h"

namespace kelvo {

std::optional<CardTree::MoveMode> DropPlacement(std::int32_t movedKind, std::int32_t targetKind, bool targetIsReserved)
{
    using Mode = CardTree::MoveMode;
    if (movedKind == Kind::Card) {
        if (targetKind == Kind::CardClass)
            return Mode::AsLastChild;
        if (targetKind == Kind::Card)
            return Mode::BeforeTarget;
        return std::nullopt;
    }
    if (movedKind == Kind::CardClass) {
        if (targetKind == Kind::Card)
            return Mode::AsLastSibling;
        if (targetKind == Kind::CardClass)
            return targetIsReserved ? Mode::AsLastSibling : Mode::AsLastChild;
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace kelvo
