#include "codec/audio/sound_ring.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace audio {

CRingSoundBuffer::CRingSoundBuffer(uint32_t bytes)
    : m_size(bytes), m_memory(bytes, 0), m_staging(bytes, 0)
{
}

bool CRingSoundBuffer::SetNotifications(const SoundNotify* positions, int count)
{
    if (count < 0 || (count > 0 && !positions))
        return false;
    for (int i = 0; i < count; ++i) {
        const SoundNotify& n = positions[i];
        if (!n.events || n.eventIndex < 0 || n.eventIndex >= CSoundEvents::kCount)
            return false;
        if (n.offset != SoundNotify::kNotifyOnStop && n.offset >= m_size)
            return false;
    }
    std::lock_guard lock(m_mutex);
    m_notify.assign(positions, positions + count);
    return true;
}

SoundResult CRingSoundBuffer::Lock(uint32_t offset, uint32_t bytes, uint8_t** part1,
                                   uint32_t* bytes1, uint8_t** part2, uint32_t* bytes2)
{
    if (!part1 || !bytes1 || offset >= m_size || bytes == 0 || bytes > m_size)
        return SoundResult::Failed;
    {
        std::lock_guard lock(m_mutex);
        if (m_lost)
            return SoundResult::BufferLost;
        // The staging copy starts as what plays, so bytes the writer leaves alone keep their
        // contents when Unlock publishes the parts.
        m_staging = m_memory;
    }
    const uint32_t first = std::min(bytes, m_size - offset);
    *part1 = m_staging.data() + offset;
    *bytes1 = first;
    if (part2 && bytes2) {
        *part2 = bytes > first ? m_staging.data() : nullptr;
        *bytes2 = bytes - first;
    } else if (bytes > first) {
        return SoundResult::Failed; // a wrapping lock needs somewhere to put its second part
    }
    return SoundResult::Ok;
}

bool CRingSoundBuffer::Unlock(uint8_t* part1, uint32_t bytes1, uint8_t* part2, uint32_t bytes2)
{
    uint8_t* const base = m_staging.data();
    auto inside = [&](uint8_t* p, uint32_t n) {
        return n == 0 || (p && p >= base && n <= m_size && uint32_t(p - base) <= m_size - n);
    };
    if (!inside(part1, bytes1) || !inside(part2, bytes2))
        return false;
    {
        std::lock_guard lock(m_mutex);
        if (bytes1)
            std::memcpy(m_memory.data() + (part1 - base), part1, bytes1);
        if (bytes2)
            std::memcpy(m_memory.data() + (part2 - base), part2, bytes2);
    }
    ++m_writes;
    return true;
}

bool CRingSoundBuffer::Restore()
{
    std::lock_guard lock(m_mutex);
    if (m_restoreFails)
        return false;
    m_lost = false;
    return true;
}

void CRingSoundBuffer::LoseMemory(bool restoreFails)
{
    std::lock_guard lock(m_mutex);
    m_lost = true;
    m_restoreFails = restoreFails;
}

bool CRingSoundBuffer::PlayLooping()
{
    m_playing = true;
    return true;
}

bool CRingSoundBuffer::Stop()
{
    std::vector<SoundNotify> signal;
    {
        std::lock_guard lock(m_mutex);
        if (!m_playing.exchange(false))
            return true;
        for (const SoundNotify& n : m_notify)
            if (n.offset == SoundNotify::kNotifyOnStop)
                signal.push_back(n);
    }
    for (const SoundNotify& n : signal)
        n.events->Set(n.eventIndex);
    return true;
}

bool CRingSoundBuffer::SetCurrentPosition(uint32_t offset)
{
    if (offset >= m_size)
        return false;
    std::lock_guard lock(m_mutex);
    m_position = offset - offset % 2;
    return true;
}

uint32_t CRingSoundBuffer::GetCurrentPosition() const
{
    std::lock_guard lock(m_mutex);
    return m_position;
}

bool CRingSoundBuffer::SetVolume(long hundredthsDb)
{
    if (hundredthsDb < kVolumeMin || hundredthsDb > kVolumeMax)
        return false;
    m_volume = hundredthsDb;
    return true;
}

std::vector<uint8_t> CRingSoundBuffer::Contents() const
{
    std::lock_guard lock(m_mutex);
    return m_memory;
}

bool CRingSoundBuffer::Consume(int16_t* out, uint32_t bytes)
{
    const uint32_t samples = bytes / 2;
    std::vector<SoundNotify> signal;
    {
        std::lock_guard lock(m_mutex);
        if (!m_playing.load()) {
            if (out)
                std::fill(out, out + samples, int16_t(0));
            return false;
        }
        const uint32_t from = m_position;
        if (out) {
            const long volume = m_volume.load();
            const double gain = std::pow(10.0, double(volume) / 2000.0);
            uint32_t at = from;
            for (uint32_t i = 0; i < samples; ++i) {
                int16_t v;
                std::memcpy(&v, m_memory.data() + at, 2);
                out[i] = volume == kVolumeMax ? v : int16_t(std::lround(v * gain));
                at = at + 2 >= m_size ? 0 : at + 2;
            }
        }
        const uint32_t moved = samples * 2;
        m_position = uint32_t((uint64_t(from) + moved) % m_size);
        for (const SoundNotify& n : m_notify) {
            if (n.offset == SoundNotify::kNotifyOnStop)
                continue;
            // Reached when play moves onto the offset; starting on it does not count.
            const uint32_t ahead = (n.offset + m_size - from) % m_size;
            if (moved >= m_size || (ahead != 0 && ahead <= moved))
                signal.push_back(n);
        }
    }
    for (const SoundNotify& n : signal)
        n.events->Set(n.eventIndex);
    return true;
}

} // namespace audio
