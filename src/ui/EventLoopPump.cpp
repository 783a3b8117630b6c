#include "EventLoopPump.h"

#include <QCoreApplication>
#include <QEventLoop>

namespace kelvo {

void EventLoopPump::pump()
{
    if (m_sinceLast.isValid() && m_sinceLast.elapsed() < m_intervalMs)
        return;
    pumpNow();
}

void EventLoopPump::pumpNow()
{
    ++m_runs;
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    m_sinceLast.start();
}

} // namespace kelvo
