#pragma once
// The viewer's audio player: takes G.726 frames from the panel's audio queue, decodes them and
// writes each block into the half of a looping sound buffer that has just finished playing. It
// plays silence when no frame is ready or when audio is switched off, and after each block sets
// the panel clock, against which the painters pace the pictures.
//
// Threads: StartAudio and Close run on the stream client's worker thread, Run on the player's
// own thread (started by the client after StartAudio returned true, stopped before Close),
// SetVolume and the play flag on the control's thread.

#include "codec/audio/g726.h"
#include "codec/audio/sound_device.h"
#include "codec/audio/sound_events.h"
#include "stream/media_sinks.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CFrameChain;
class CPanelClock;
namespace platform {
class MessageTarget;
}

// The fixed waits of the audio thread; tests may shorten them.
struct AudioPlayerTimings
{
    std::chrono::milliseconds noFrameSleep{2};    // between looks at an empty audio queue
    std::chrono::milliseconds afterBlockSleep{1}; // after each block written
    std::chrono::milliseconds failedWaitSleep{1}; // after the stop notification or a failed wait
    // The wait for a half boundary has no limit; it looks at the stop flag this often, so that
    // a device that stops moving cannot keep the thread from ending.
    std::chrono::milliseconds stopPoll{50};
    // How long a refill waits for a frame not yet queued, as a share of a half's play time: the
    // half refilled plays only after the one just entered, and the camera sends each frame as
    // it falls due, so a frame often comes just after the boundary it is needed at.
    double lateFrameShare = 0.5;
};

// Makes the sound device when audio starts; nullptr when none opens.
using SoundDeviceFactory = std::function<std::shared_ptr<audio::ISoundDevice>()>;

class CAudioPlayer : public IAudioPlayer
{
public:
    // The half of the buffer holds this many frame sizes of bytes.
    static constexpr uint32_t kHalfPerFrameByte = 8;
    // Frame sizes above this are refused at start: the buffer would pass 16 MiB.
    static constexpr int kMaxFrameSize = 1 << 20;

    // Without a factory the device comes from OpenSoundDevice with default options, that is
    // the speaker when one opens, else the virtual device (the environment can force either).
    CAudioPlayer(CFrameChain& audio, CPanelClock& clock, platform::MessageTarget* panel,
                 SoundDeviceFactory device = {}, AudioPlayerTimings timings = {});
    ~CAudioPlayer() override;

    static SoundDeviceFactory DeviceFromOptions(audio::SoundOptions options);

    // Opens the device, the 16 × frameSize-byte buffer and its notifications and the decoder,
    // then posts WM_AUDIO_READY. False, with everything released, when any step fails. Code
    // sizes outside 2 to 5 open, but their frames play as silence.
    bool StartAudio(int codeSize, int frameSize) override;
    bool IsOpen() const override { return m_open.load(); }
    // Ends the thread if it still runs, stops the buffer and releases everything.
    void Close() override;

    int Run() override;
    void OnError(int code) override;

    // Level in hundredths of a decibel, 0 (full) down to -10,000; false when closed or refused.
    bool SetVolume(long hundredthsDb);
    // 1 plays decoded audio, 0 silence; takes effect with the next block.
    void SetPlayFlag(int flag) { m_playFlag = flag != 0 ? 1 : 0; }
    int PlayFlag() const { return m_playFlag.load(); }
    void SetPlayAudio() { SetPlayFlag(1); }
    void StopPlayAudio() { SetPlayFlag(0); }
    void SetPanel(platform::MessageTarget* panel) { m_panel = panel; }

    // Writes one block into half 0 or 1: bytes past the half are dropped, a shorter block
    // leaves the rest of the half as it was. A lost buffer is restored once; false when the
    // block could not be written.
    bool FillBuffer(int half, const uint8_t* data, uint32_t bytes);

    // While open: the half size H in bytes, the code size and the frame size.
    uint32_t HalfSize() const { return m_half; }
    int CodeSize() const { return m_codeSize; }
    int FrameSize() const { return m_frameSize; }
    std::string DeviceName() const;

private:
    struct Block
    {
        std::unique_ptr<int16_t[]> owned;
        const uint8_t* data = nullptr;
        uint32_t bytes = 0;
    };

    void Release();
    // A block for the next half: a frame, waiting for one that is late up to the share of a
    // half the timings allow, or silence.
    void TakeBlock(Block& block);
    bool TakeFrame(Block& block);
    // 0 or 1 for the position notification that fired, 2 for the stop one, -1 on stop request.
    int WaitForNotification();

    CFrameChain& m_audio;
    CPanelClock& m_clock;
    std::atomic<platform::MessageTarget*> m_panel;
    const SoundDeviceFactory m_factory;
    const AudioPlayerTimings m_timings;
    std::atomic<int> m_playFlag{1};
    std::atomic<bool> m_open{false};

    // Written by StartAudio and Close while the thread is not running; read by the thread.
    // m_bufferMutex also keeps SetVolume and DeviceName off a buffer being released.
    mutable std::mutex m_bufferMutex;
    std::shared_ptr<audio::ISoundDevice> m_device;
    std::unique_ptr<audio::ISoundBuffer> m_buffer;
    audio::CSoundEvents m_events;
    G726Decoder* m_decoder = nullptr;
    int m_codeSize = 0;
    int m_frameSize = 0;
    uint32_t m_half = 0;
    std::chrono::milliseconds m_lateFrameWait{0};
    std::vector<uint8_t> m_silence; // H bytes of zeros

    // The audio thread's own.
    uint32_t m_lastTimestamp = 0; // of the frame taken last
};
