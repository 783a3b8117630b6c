#include "EventLoopPump.h"

#include <QCoreApplication>
#include <QEventLoop>

namespace kelvo {

void EventLoopPump::pump()
{
    if (m_callsUntilClockRead > 0) {
        --m_callsUntilClockRead;
        return;
    }
    if (m_sinceLast.isValid() && m_intervalMs > 0) {
        ++m_clockReads;
        if (m_sinceLast.elapsed() < m_intervalMs) {
            m_callsUntilClockRead = m_callsPerClockRead - 1;
            return;
        }
    }
    pumpNow();
}

void EventLoopPump::pumpNow()
{
    ++m_runs;
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    m_sinceLast.start();
    // The clock was just read: the next look at it is due after a round of calls.
    m_callsUntilClockRead = m_intervalMs > 0 ? m_callsPerClockRead - 1 : 0;
}

} // namespace kelvo
