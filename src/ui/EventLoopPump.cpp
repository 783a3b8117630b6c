#include "EventLoopPump.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <chrono>
#include <ctime>

namespace kelvo {

qint64 EventLoopPump::coarseMilliseconds()
{
#if defined(CLOCK_MONOTONIC_COARSE)
    timespec now;
    if (clock_gettime(CLOCK_MONOTONIC_COARSE, &now) == 0)
        return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
#endif
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void EventLoopPump::pump()
{
    if (m_runs > 0 && m_intervalMs > 0 && coarseMilliseconds() - m_lastRun < m_intervalMs)
        return;
    pumpNow();
}

void EventLoopPump::pumpNow()
{
    ++m_runs;
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    m_lastRun = coarseMilliseconds();
}

} // namespace kelvo
