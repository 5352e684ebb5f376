#pragma once
// Auto-reset event: one Set releases exactly one waiter (or the next one to wait), after which the
// event is non-signalled again. Workers hand blocks to each other with a pair of these.

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace platform {

enum class WaitResult { Signalled, TimedOut };

class AutoResetEvent
{
public:
    AutoResetEvent() = default;
    AutoResetEvent(const AutoResetEvent&) = delete;
    AutoResetEvent& operator=(const AutoResetEvent&) = delete;

    void Set();
    // Waits without limit.
    void Wait();
    WaitResult Wait(std::chrono::milliseconds timeout);
    // Back to non-signalled without waking anyone.
    void Reset();

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_signalled = false; // guarded by m_mutex
};

} // namespace platform
