#pragma once

#include "MessagePump.h"

#include <QtGlobal>

namespace kelvo {

// The windows' message pump: lets them repaint in the middle of a long loop
// (load, save, search, exports) without taking user input, so no command can
// change the tree or a result list meanwhile. Cheap to call once per node: it
// processes events at most every `intervalMs` milliseconds, measured with a
// coarse monotonic clock (a few nanoseconds a read where the system has one,
// in steps of a few milliseconds; the precise clock cost a tenth of a search
// read at every node). The first call always processes events, and an
// interval of 0 processes them at every call.
class EventLoopPump final : public MessagePump
{
public:
    explicit EventLoopPump(int intervalMs = 30)
        : m_intervalMs(intervalMs)
    {
    }

    // Processes pending events when the interval has passed since the last time.
    void pump() override;
    // Processes pending events now.
    void pumpNow();

    int intervalMs() const { return m_intervalMs; }
    // How often events were actually processed (for tests and figures).
    int runs() const { return m_runs; }

    // The clock the interval is measured with, in milliseconds.
    static qint64 coarseMilliseconds();

private:
    int m_intervalMs;
    int m_runs = 0;
    qint64 m_lastRun = 0;
};

} // namespace kelvo
