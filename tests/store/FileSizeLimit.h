#pragma once

// While it lives, every write past `bytes` in a file fails as a full disk
// would (a partial write, then EFBIG), whoever runs the test.

#ifdef Q_OS_LINUX
#include <csignal>
#include <sys/resource.h>

namespace kelvo::test {

class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        m_active = ::getrlimit(RLIMIT_FSIZE, &m_saved) == 0;
        if (!m_active)
            return;
        rlimit small = m_saved;
        small.rlim_cur = bytes;
        m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        m_active = ::setrlimit(RLIMIT_FSIZE, &small) == 0;
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_previousHandler);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

    bool active() const { return m_active; }

private:
    rlimit m_saved{};
    void (*m_previousHandler)(int) = SIG_DFL;
    bool m_active = false;
};

} // namespace kelvo::test
#define KELVO_HAVE_FILE_SIZE_LIMIT 1
#endif
