#pragma once
// A set of auto-reset events that one thread waits on together, the way a sound buffer's
// notification positions are waited on: Set marks one, Wait returns the lowest marked one and
// clears only that.

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace audio {

class CSoundEvents
{
public:
    static constexpr int kCount = 3;

    void Set(int index);
    // The index of a signalled event, or -1 when `timeout` passed first.
    int Wait(std::chrono::milliseconds timeout);
    void Reset();

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_signalled[kCount] = {}; // guarded by m_mutex
};

} // namespace audio
