#include "codec/audio/library_use.h"

namespace audio {

bool CCountedLibrary::Acquire()
{
    const std::lock_guard lock(m_lock);
    if (m_users == 0 && !m_calls.initialize())
        return false;
    ++m_users;
    return true;
}

void CCountedLibrary::Release()
{
    const std::lock_guard lock(m_lock);
    if (m_users > 0 && --m_users == 0)
        m_calls.terminate();
}

int CCountedLibrary::Users() const
{
    const std::lock_guard lock(m_lock);
    return m_users;
}

} // namespace audio
