#pragma once
// The sound output the audio player writes to: a device that makes looping stream buffers in
// the fixed wave format, with notification positions that signal auto-reset events as the play
// position crosses them, lock/unlock for writing, play, stop, position and volume.
//
// Two backends: the speaker through PortAudio, and a virtual device that consumes the buffer at
// the wave format's byte rate (or when a test says so) and can write what it played to a WAV
// file. OpenSoundDevice picks one.

#include "codec/audio/sound_events.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace audio {

// PCM, 1 channel, 8,000 samples per second of 16 bits: 16,000 bytes per second.
struct WaveFormat
{
    uint16_t formatTag = 1;
    uint16_t channels = 1;
    uint32_t samplesPerSec = 8000;
    uint32_t avgBytesPerSec = 16000;
    uint16_t blockAlign = 2;
    uint16_t bitsPerSample = 16;
};

enum class SoundResult
{
    Ok,
    BufferLost, // the buffer's memory was taken away; Restore, then lock again
    Failed,
};

// A notification position: the event signalled when play reaches `offset`, or when playback
// stops for kNotifyOnStop.
struct SoundNotify
{
    static constexpr uint32_t kNotifyOnStop = 0xFFFFFFFFu;
    uint32_t offset;
    CSoundEvents* events;
    int eventIndex;
};

// Volume in hundredths of a decibel: 0 is full level, -10,000 silence.
inline constexpr long kVolumeMax = 0;
inline constexpr long kVolumeMin = -10000;

// A looping stream buffer. Play reads it on the device's own thread; one other thread writes it
// between Lock and Unlock and calls the rest.
class ISoundBuffer
{
public:
    virtual ~ISoundBuffer() = default;

    virtual uint32_t Size() const = 0;
    // Replaces the notification positions; the events must outlive the buffer or the next call.
    // Offsets at or past Size() (other than kNotifyOnStop) are refused.
    virtual bool SetNotifications(const SoundNotify* positions, int count) = 0;
    // Locks `bytes` bytes from `offset` (wrapping past the end into a second part) for
    // writing; Unlock with the same parts publishes them to the player.
    virtual SoundResult Lock(uint32_t offset, uint32_t bytes, uint8_t** part1, uint32_t* bytes1,
                             uint8_t** part2, uint32_t* bytes2) = 0;
    virtual bool Unlock(uint8_t* part1, uint32_t bytes1, uint8_t* part2, uint32_t bytes2) = 0;
    // Gets the memory back after BufferLost; its contents are then undefined.
    virtual bool Restore() = 0;
    // Starts playing from the current position; only looping play is offered.
    virtual bool PlayLooping() = 0;
    // Stops where it is and signals the stop notification.
    virtual bool Stop() = 0;
    virtual bool SetCurrentPosition(uint32_t offset) = 0;
    virtual uint32_t GetCurrentPosition() const = 0;
    virtual bool IsPlaying() const = 0;
    virtual bool SetVolume(long hundredthsDb) = 0;
    virtual long GetVolume() const = 0;
};

class ISoundDevice
{
public:
    virtual ~ISoundDevice() = default;
    // The format the device mixes in (the primary buffer's format).
    virtual bool SetFormat(const WaveFormat& format) = 0;
    // A zero-filled looping buffer of `bytes` bytes (a whole number of blocks) in `format`;
    // nullptr on failure. Buffers must be released before their device.
    virtual std::unique_ptr<ISoundBuffer> CreateStreamBuffer(uint32_t bytes,
                                                             const WaveFormat& format) = 0;
    virtual const char* Name() const = 0;
};

enum class SoundBackend
{
    Default,   // PortAudio when its default output opens, else the virtual device
    PortAudio, // the speaker only; fails without one
    Virtual,
};

struct SoundOptions
{
    SoundBackend backend = SoundBackend::Default;
    std::string wavPath; // virtual device: write what it plays here (empty: nowhere)
};

// "portaudio", "virtual" or "default".
std::optional<SoundBackend> ParseSoundBackend(const std::string& name);

// Environment variables for what the options leave open: CAMCTL_SOUND a backend name when the
// options say Default (an unknown name changes nothing), CAMCTL_SOUND_WAV the virtual
// device's WAV path when they give none.
inline constexpr const char* kSoundBackendEnv = "CAMCTL_SOUND";
inline constexpr const char* kSoundWavEnv = "CAMCTL_SOUND_WAV";
SoundOptions SoundOptionsFromEnvironment(SoundOptions base);

// The device the options (after the environment) ask for; nullptr when none opens.
std::unique_ptr<ISoundDevice> OpenSoundDevice(const SoundOptions& options);

// The backends, for callers that want one of them.
std::unique_ptr<ISoundDevice> OpenPortAudioDevice();

} // namespace audio
