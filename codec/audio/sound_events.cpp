#include "codec/audio/sound_events.h"

namespace audio {

void CSoundEvents::Set(int index)
{
    if (index < 0 || index >= kCount)
        return;
    {
        std::lock_guard lock(m_mutex);
        m_signalled[index] = true;
    }
    m_cv.notify_all();
}

int CSoundEvents::Wait(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_mutex);
    int found = -1;
    m_cv.wait_for(lock, timeout, [&] {
        for (int i = 0; i < kCount; ++i) {
            if (m_signalled[i]) {
                found = i;
                return true;
            }
        }
        return false;
    });
    if (found >= 0)
        m_signalled[found] = false;
    return found;
}

void CSoundEvents::Reset()
{
    std::lock_guard lock(m_mutex);
    for (bool& s : m_signalled)
        s = false;
}

} // namespace audio
