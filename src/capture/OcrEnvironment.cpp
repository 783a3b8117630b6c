#include "OcrEnvironment.h"

#include <cstdlib>
#include <unistd.h>

namespace kelvo::capture {

void restartWithOneRecogniserThread(char **argv)
{
    if (std::getenv("OMP_THREAD_LIMIT") != nullptr)
        return;
    if (::setenv("OMP_THREAD_LIMIT", "1", 1) != 0)
        return;
    ::execv("/proc/self/exe", argv);
    // Not restarted: run on with the threads OpenMP chose.
}

} // namespace kelvo::capture
