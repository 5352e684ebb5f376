#include "codec/audio/sound_virtual.h"

#include "codec/audio/sound_ring.h"
#include "codec/audio/wav_writer.h"

#include <cassert>
#include <chrono>
#include <condition_variable>
#include <thread>

namespace audio {

// One file per device: its buffers append to it in turn.
struct CVirtualSoundDevice::Wav
{
    std::mutex mutex;
    CWavWriter writer; // guarded by mutex
};

// Plays on a clock thread of its own, or on the caller of Advance with a manual clock.
class CVirtualSoundBuffer final : public CRingSoundBuffer
{
public:
    CVirtualSoundBuffer(CVirtualSoundDevice& device, uint32_t bytes, const WaveFormat& format,
                        bool manualClock, CVirtualSoundDevice::Wav* wav)
        : CRingSoundBuffer(bytes), m_device(device), m_byteRate(format.avgBytesPerSec),
          m_manual(manualClock), m_wav(wav)
    {
        if (!m_manual)
            m_clock = std::thread([this] { ClockLoop(); });
    }

    ~CVirtualSoundBuffer() override
    {
        if (m_clock.joinable()) {
            {
                std::lock_guard lock(m_clockMutex);
                m_quit = true;
            }
            m_wake.notify_all();
            m_clock.join();
        }
        m_device.Unregister(this);
    }

    bool PlayLooping() override
    {
        std::lock_guard lock(m_clockMutex);
        if (IsPlaying())
            return true;
        m_playStart = Clock::now();
        m_playedSinceStart = 0;
        CRingSoundBuffer::PlayLooping();
        m_wake.notify_all();
        return true;
    }

    bool Stop() override
    {
        std::lock_guard lock(m_clockMutex);
        CatchUp();
        return CRingSoundBuffer::Stop();
    }

    uint32_t GetCurrentPosition() const override
    {
        std::lock_guard lock(m_clockMutex);
        const_cast<CVirtualSoundBuffer*>(this)->CatchUp();
        return CRingSoundBuffer::GetCurrentPosition();
    }

    void Advance(uint32_t bytes)
    {
        std::lock_guard lock(m_clockMutex);
        if (m_manual)
            Play(bytes);
    }

    uint64_t BytesPlayed()
    {
        std::lock_guard lock(m_clockMutex);
        CatchUp();
        return m_totalPlayed;
    }

private:
    using Clock = std::chrono::steady_clock;

    // Plays what real time owes since the last call. Caller holds m_clockMutex.
    void CatchUp()
    {
        if (m_manual || !IsPlaying())
            return;
        const auto elapsed = Clock::now() - m_playStart;
        const uint64_t due =
            uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count()) *
            m_byteRate / 1000000 / 2 * 2;
        if (due > m_playedSinceStart) {
            // At most one loop at a time, so every position crossed is still signalled.
            uint64_t left = due - m_playedSinceStart;
            while (left > 0) {
                const uint32_t step = uint32_t(std::min<uint64_t>(left, Size()));
                Play(step);
                left -= step;
            }
            m_playedSinceStart = due;
        }
    }

    // Caller holds m_clockMutex.
    void Play(uint32_t bytes)
    {
        bytes -= bytes % 2;
        m_samples.resize(bytes / 2);
        if (Consume(m_wav ? m_samples.data() : nullptr, bytes)) {
            m_totalPlayed += bytes;
            if (m_wav) {
                std::lock_guard lock(m_wav->mutex);
                m_wav->writer.Write(m_samples.data(), m_samples.size());
            }
        }
    }

    void ClockLoop()
    {
        std::unique_lock lock(m_clockMutex);
        while (!m_quit) {
            CatchUp();
            // A few milliseconds keep notifications close to the positions they mark.
            m_wake.wait_for(lock, std::chrono::milliseconds(IsPlaying() ? 2 : 50));
        }
    }

    CVirtualSoundDevice& m_device;
    const uint32_t m_byteRate;
    const bool m_manual;
    mutable std::mutex m_clockMutex; // orders playing steps; taken before the ring's own lock
    std::condition_variable m_wake;
    bool m_quit = false;                   // guarded by m_clockMutex
    Clock::time_point m_playStart;         // guarded by m_clockMutex
    uint64_t m_playedSinceStart = 0;       // guarded by m_clockMutex
    uint64_t m_totalPlayed = 0;            // guarded by m_clockMutex
    std::vector<int16_t> m_samples;        // guarded by m_clockMutex
    CVirtualSoundDevice::Wav* const m_wav; // the device's, or nullptr
    std::thread m_clock;
};

CVirtualSoundDevice::CVirtualSoundDevice(VirtualSoundOptions options)
    : m_options(std::move(options))
{
}

CVirtualSoundDevice::~CVirtualSoundDevice()
{
    std::lock_guard lock(m_mutex);
    assert(m_buffers.empty() && "sound buffers must be released before their device");
    if (m_wav)
        m_wav->writer.Close();
}

bool CVirtualSoundDevice::WavFailed()
{
    std::lock_guard lock(m_mutex);
    return m_wavFailed;
}

bool CVirtualSoundDevice::SetFormat(const WaveFormat& format)
{
    return format.formatTag == 1 && format.channels == 1 && format.bitsPerSample == 16 &&
           format.blockAlign == 2 && format.samplesPerSec > 0 &&
           format.avgBytesPerSec == format.samplesPerSec * 2;
}

std::unique_ptr<ISoundBuffer> CVirtualSoundDevice::CreateStreamBuffer(uint32_t bytes,
                                                                      const WaveFormat& format)
{
    if (bytes == 0 || bytes % 2 != 0 || !SetFormat(format))
        return nullptr;
    std::lock_guard lock(m_mutex);
    if (m_failCreation)
        return nullptr;
    if (!m_options.wavPath.empty() && !m_wav && !m_wavFailed) {
        // The file opens with the first buffer, in its format, and closes with the device.
        m_wav = std::make_unique<Wav>();
        if (!m_wav->writer.Open(m_options.wavPath, format)) {
            m_wav.reset();
            m_wavFailed = true;
        }
    }
    auto buffer = std::make_unique<CVirtualSoundBuffer>(*this, bytes, format, m_options.manualClock,
                                                        m_wav.get());
    m_buffers.push_back(buffer.get());
    return buffer;
}

void CVirtualSoundDevice::FailBufferCreation(bool fail)
{
    std::lock_guard lock(m_mutex);
    m_failCreation = fail;
}

void CVirtualSoundDevice::Unregister(CVirtualSoundBuffer* buffer)
{
    std::lock_guard lock(m_mutex);
    std::erase(m_buffers, buffer);
}

bool CVirtualSoundDevice::Advance(uint32_t bytes)
{
    std::lock_guard lock(m_mutex);
    if (m_buffers.empty())
        return false;
    m_buffers.back()->Advance(bytes);
    return true;
}

bool CVirtualSoundDevice::LoseBuffer(bool restoreFails)
{
    std::lock_guard lock(m_mutex);
    if (m_buffers.empty())
        return false;
    m_buffers.back()->LoseMemory(restoreFails);
    return true;
}

std::vector<uint8_t> CVirtualSoundDevice::Contents()
{
    std::lock_guard lock(m_mutex);
    return m_buffers.empty() ? std::vector<uint8_t>{} : m_buffers.back()->Contents();
}

uint64_t CVirtualSoundDevice::Writes()
{
    std::lock_guard lock(m_mutex);
    return m_buffers.empty() ? 0 : m_buffers.back()->Writes();
}

uint64_t CVirtualSoundDevice::BytesPlayed()
{
    std::lock_guard lock(m_mutex);
    return m_buffers.empty() ? 0 : m_buffers.back()->BytesPlayed();
}

bool CVirtualSoundDevice::Playing()
{
    std::lock_guard lock(m_mutex);
    return !m_buffers.empty() && m_buffers.back()->IsPlaying();
}

long CVirtualSoundDevice::Volume()
{
    std::lock_guard lock(m_mutex);
    return m_buffers.empty() ? kVolumeMax : m_buffers.back()->GetVolume();
}

} // namespace audio
