#pragma once
// The looping buffer both backends share: the memory, the play position, the notification
// positions and the volume. The backend's player thread calls Consume; the writer's Lock hands
// out a staging copy that Unlock publishes, so the player never reads bytes while they are
// written, even when the writer falls behind.

#include "codec/audio/sound_device.h"

#include <atomic>
#include <mutex>
#include <vector>

namespace audio {

class CRingSoundBuffer : public ISoundBuffer
{
public:
    explicit CRingSoundBuffer(uint32_t bytes);

    uint32_t Size() const override { return m_size; }
    bool SetNotifications(const SoundNotify* positions, int count) override;
    SoundResult Lock(uint32_t offset, uint32_t bytes, uint8_t** part1, uint32_t* bytes1,
                     uint8_t** part2, uint32_t* bytes2) override;
    bool Unlock(uint8_t* part1, uint32_t bytes1, uint8_t* part2, uint32_t bytes2) override;
    bool Restore() override;
    bool PlayLooping() override;
    bool Stop() override;
    bool SetCurrentPosition(uint32_t offset) override;
    uint32_t GetCurrentPosition() const override;
    bool IsPlaying() const override { return m_playing.load(); }
    bool SetVolume(long hundredthsDb) override;
    long GetVolume() const override { return m_volume.load(); }

    // What the buffer holds now, and how many Unlocks published writes.
    std::vector<uint8_t> Contents() const;
    uint64_t Writes() const { return m_writes.load(); }
    // Takes the memory away as another application would: Locks report BufferLost until a
    // Restore succeeds, which it never does with `restoreFails`.
    void LoseMemory(bool restoreFails);

protected:
    // Plays `bytes` bytes (a whole number of samples) into `out` (nullptr: nowhere), with the
    // volume applied, and signals the positions crossed. Silence and no movement while stopped.
    // Returns whether it was playing.
    bool Consume(int16_t* out, uint32_t bytes);

private:
    const uint32_t m_size;
    mutable std::mutex m_mutex;
    std::vector<uint8_t> m_memory;     // guarded by m_mutex; what plays
    uint32_t m_position = 0;           // guarded by m_mutex; next byte to play
    std::vector<SoundNotify> m_notify; // guarded by m_mutex
    bool m_lost = false;               // guarded by m_mutex
    bool m_restoreFails = false;       // guarded by m_mutex
    std::atomic<bool> m_playing{false};
    std::atomic<long> m_volume{kVolumeMax};
    std::atomic<uint64_t> m_writes{0};
    // The writer's side only: Lock points into this, Unlock copies it into m_memory.
    std::vector<uint8_t> m_staging;
};

} // namespace audio
