#pragma once

#include "MessagePump.h"

#include <QElapsedTimer>

namespace kelvo {

// The windows' message pump: lets them repaint in the middle of a long loop
// (load, save, search, exports) without taking user input, so no command can
// change the tree or a result list meanwhile. Cheap to call once per node: it
// processes events at most every `intervalMs` milliseconds, and between two
// looks at the clock it lets `callsPerClockRead - 1` calls pass untimed (a
// node or a row takes well under a microsecond; reading the clock at each of
// them cost a tenth of a search). The first call always processes events, and
// an interval of 0 processes them at every call.
class EventLoopPump final : public MessagePump
{
public:
    static constexpr int DefaultCallsPerClockRead = 64;

    explicit EventLoopPump(int intervalMs = 30, int callsPerClockRead = DefaultCallsPerClockRead)
        : m_intervalMs(intervalMs)
        , m_callsPerClockRead(callsPerClockRead > 0 ? callsPerClockRead : 1)
    {
    }

    // Processes pending events when the interval has passed since the last time.
    void pump() override;
    // Processes pending events now.
    void pumpNow();

    int intervalMs() const { return m_intervalMs; }
    int callsPerClockRead() const { return m_callsPerClockRead; }
    // How often events were actually processed, and how often pump() looked
    // at the clock to decide (for tests and figures).
    int runs() const { return m_runs; }
    int clockReads() const { return m_clockReads; }

private:
    int m_intervalMs;
    int m_callsPerClockRead;
    int m_callsUntilClockRead = 0;
    int m_runs = 0;
    int m_clockReads = 0;
    QElapsedTimer m_sinceLast;
};

} // namespace kelvo
