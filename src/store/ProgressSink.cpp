#include "ProgressSink.h"

namespace kelvo {

ProgressSink &NoProgress()
{
    static ProgressSink none;
    return none;
}

} // namespace kelvo
