#pragma once

#include "SearchCards.h"

#include <QStringView>

#include <optional>

namespace kelvo {

// Reads a field selection written as field numbers 1 to 13 separated by
// commas ("1,5,7"), or the word "all". Blanks around numbers are allowed.
// Nothing for an empty list, an unknown word or a number out of range.
std::optional<FieldSelection> ParseFieldList(QStringView list);

} // namespace kelvo
