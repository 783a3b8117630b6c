#pragma once

#include "MessagePump.h"

#include <QElapsedTimer>

namespace kelvo {

// The windows' message pump: lets them repaint in the middle of a long loop
// (load, save, search, exports) without taking user input, so no command can
// change the tree or a result list meanwhile. Cheap to call once per node: it
// processes events at most every `intervalMs` milliseconds.
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

private:
    int m_intervalMs;
    int m_runs = 0;
    QElapsedTimer m_sinceLast;
};

} // namespace kelvo
