#pragma once

#include "ThreadPlacement.h"

#include <thread>
#include <utility>

namespace kelvo {

// A thread that shares a search's work: started off the processor of the
// thread that makes it (so the two run side by side from the start), and
// joined when it goes out of scope, also on the way out of an exception.
class HelperThread
{
public:
    template<typename Work>
    explicit HelperThread(Work &&work)
        : m_thread(std::forward<Work>(work))
    {
        keepOffTheCurrentProcessor(m_thread);
    }
    ~HelperThread()
    {
        if (m_thread.joinable())
            m_thread.join();
    }
    HelperThread(HelperThread &&) noexcept = default;
    HelperThread(const HelperThread &) = delete;
    HelperThread &operator=(const HelperThread &) = delete;
    HelperThread &operator=(HelperThread &&) = delete;

private:
    std::thread m_thread;
};

} // namespace kelvo
