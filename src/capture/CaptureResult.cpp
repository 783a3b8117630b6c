#include "CaptureResult.h"

#include <algorithm>

namespace kelvo::capture {

bool CaptureResult::isEmpty() const
{
    return std::all_of(fields.begin(), fields.end(), [](const CapturedField &f) { return f.text.isEmpty(); });
}

} // namespace kelvo::capture
