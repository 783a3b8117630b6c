#pragma once

#include <thread>

namespace kelvo {

// Keeps `thread`, just made, off the processor the calling thread runs on.
// Left to itself, the system may run a short-lived thread on the processor
// of the thread that made it and move it to an idle one only after some
// milliseconds, by which time a load or a search is over: the two would
// share one processor all along. A hint: where it cannot be given, or there
// is one processor only, nothing changes.
void keepOffTheCurrentProcessor(std::thread &thread);

} // namespace kelvo
