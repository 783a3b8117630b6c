#pragma once

#include <QString>

#include <array>

namespace kelvo {

// Captions of the thirteen card fields as the search window shows them: the
// labels of the field check list, the result list's column headers and the
// spreadsheet's header row. Index 0 is field 1 (the name).
const std::array<QString, 13> &FieldCaptions();

// Caption of field n (1..13); empty for a number out of range.
QString FieldCaption(int n);

} // namespace kelvo
