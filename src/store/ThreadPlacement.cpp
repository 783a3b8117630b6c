#include "ThreadPlacement.h"

#include <QtGlobal>

#if defined(Q_OS_LINUX)
#include <pthread.h>
#include <sched.h>
#endif

namespace kelvo {

void keepOffTheCurrentProcessor(std::thread &thread)
{
#if defined(Q_OS_LINUX)
    const int current = sched_getcpu();
    cpu_set_t allowed;
    if (current < 0 || sched_getaffinity(0, sizeof allowed, &allowed) != 0 || !CPU_ISSET(current, &allowed))
        return;
    CPU_CLR(current, &allowed);
    if (CPU_COUNT(&allowed) > 0)
        pthread_setaffinity_np(thread.native_handle(), sizeof allowed, &allowed); // failure is harmless
#else
    Q_UNUSED(thread);
#endif
}

} // namespace kelvo
