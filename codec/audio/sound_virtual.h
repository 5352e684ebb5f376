#pragma once
// A sound device without hardware, for tests, headless runs and machines without sound. Its
// buffers play at the wave format's byte rate of real time, or, with a manual clock, exactly
// as far as Advance says, so tests can step playback half by half. What plays can go to a WAV
// file.

#include "codec/audio/sound_device.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace audio {

class CVirtualSoundBuffer;

struct VirtualSoundOptions
{
    bool manualClock = false;
    // Everything the device's buffers play, one after the other, goes to this file (created
    // with the first buffer, finished with the device); empty: nowhere.
    std::string wavPath;
};

class CVirtualSoundDevice final : public ISoundDevice
{
public:
    explicit CVirtualSoundDevice(VirtualSoundOptions options = {});
    ~CVirtualSoundDevice() override;

    bool SetFormat(const WaveFormat& format) override;
    std::unique_ptr<ISoundBuffer> CreateStreamBuffer(uint32_t bytes,
                                                     const WaveFormat& format) override;
    const char* Name() const override { return "virtual"; }

    // Makes CreateStreamBuffer fail, as a device short of memory would.
    void FailBufferCreation(bool fail);
    // True when the WAV file could not be created.
    bool WavFailed();

    // The newest live buffer, for tests and headless runs. False (and nothing done) without one.
    // Manual clock: plays `bytes` more bytes.
    bool Advance(uint32_t bytes);
    // Takes the buffer's memory away (see CRingSoundBuffer::LoseMemory).
    bool LoseBuffer(bool restoreFails);
    std::vector<uint8_t> Contents();
    uint64_t Writes();
    uint64_t BytesPlayed();
    bool Playing();
    long Volume();

private:
    struct Wav;
    friend class CVirtualSoundBuffer;
    void Unregister(CVirtualSoundBuffer* buffer);

    const VirtualSoundOptions m_options;
    std::mutex m_mutex;
    std::vector<CVirtualSoundBuffer*> m_buffers; // guarded by m_mutex; live buffers, newest last
    bool m_failCreation = false;                 // guarded by m_mutex
    std::unique_ptr<Wav> m_wav;                  // guarded by m_mutex; opened by the first buffer
    bool m_wavFailed = false;                    // guarded by m_mutex
};

} // namespace audio
