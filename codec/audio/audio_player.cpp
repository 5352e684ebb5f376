#include "codec/audio/audio_player.h"

#include "platform/clock.h"
#include "platform/messages.h"
#include "stream/frame_chain.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

void Sleep(std::chrono::milliseconds ms)
{
    if (ms.count() > 0)
        platform::SleepMs(uint32_t(ms.count()));
}

struct NodeFree
{
    void operator()(FrameChainNode* node) const { FreeFrame(node); }
};

} // namespace

CAudioPlayer::CAudioPlayer(CFrameChain& audio, CPanelClock& clock, platform::MessageTarget* panel,
                           SoundDeviceFactory device, AudioPlayerTimings timings)
    : m_audio(audio), m_clock(clock), m_panel(panel),
      m_factory(device ? std::move(device) : DeviceFromOptions({})), m_timings(timings)
{
}

CAudioPlayer::~CAudioPlayer()
{
    Close();
}

SoundDeviceFactory CAudioPlayer::DeviceFromOptions(audio::SoundOptions options)
{
    return [options]() -> std::shared_ptr<audio::ISoundDevice> {
        return audio::OpenSoundDevice(options);
    };
}

bool CAudioPlayer::StartAudio(int codeSize, int frameSize)
{
    if (IsOpen())
        Close();
    if (frameSize <= 0 || frameSize > kMaxFrameSize)
        return false;
    const audio::WaveFormat format;
    std::shared_ptr<audio::ISoundDevice> device = m_factory();
    if (!device || !device->SetFormat(format))
        return false;

    const uint32_t half = kHalfPerFrameByte * uint32_t(frameSize);
    std::unique_ptr<audio::ISoundBuffer> buffer = device->CreateStreamBuffer(2 * half, format);
    if (!buffer)
        return false;
    m_events.Reset();
    const audio::SoundNotify notify[] = {
        {0, &m_events, 0},
        {half, &m_events, 1},
        {audio::SoundNotify::kNotifyOnStop, &m_events, 2},
    };
    if (!buffer->SetNotifications(notify, 3))
        return false;
    G726Decoder* decoder = G726_decoder_create();
    if (!decoder)
        return false;
    std::vector<uint8_t> silence;
    try {
        silence.assign(half, 0);
    } catch (const std::bad_alloc&) {
        G726_decoder_destroy(decoder);
        return false;
    }

    {
        std::lock_guard lock(m_bufferMutex);
        m_device = std::move(device);
        m_buffer = std::move(buffer);
    }
    m_decoder = decoder;
    m_codeSize = codeSize;
    m_frameSize = frameSize;
    m_half = half;
    m_lateFrameWait = std::chrono::milliseconds(
        int64_t(m_timings.lateFrameShare * 1000.0 * half / format.avgBytesPerSec));
    m_silence = std::move(silence);
    // The panel clock keeps its value until a frame comes.
    m_lastTimestamp = m_clock.Get();
    m_open = true;
    if (auto* panel = m_panel.load())
        panel->Post(WM_AUDIO_READY, 0, 0);
    return true;
}

void CAudioPlayer::Close()
{
    Shutdown(); // the thread uses everything released below
    Release();
}

void CAudioPlayer::Release()
{
    {
        std::lock_guard lock(m_bufferMutex);
        if (m_buffer) {
            m_buffer->Stop();
            m_buffer->SetCurrentPosition(0);
        }
        m_buffer.reset();
    }
    if (m_decoder)
        G726_decoder_destroy(m_decoder);
    m_decoder = nullptr;
    {
        std::lock_guard lock(m_bufferMutex);
        m_device.reset();
    }
    m_silence.clear();
    m_open = false;
}

bool CAudioPlayer::SetVolume(long hundredthsDb)
{
    std::lock_guard lock(m_bufferMutex);
    return m_buffer && m_buffer->SetVolume(hundredthsDb);
}

std::string CAudioPlayer::DeviceName() const
{
    std::lock_guard lock(m_bufferMutex);
    return m_device ? m_device->Name() : "";
}

void CAudioPlayer::OnError(int code)
{
    if (auto* panel = m_panel.load())
        panel->Post(WM_PLAYER_RESULT, static_cast<uintptr_t>(code), 0);
}

bool CAudioPlayer::FillBuffer(int half, const uint8_t* data, uint32_t bytes)
{
    if (!m_buffer || (half != 0 && half != 1) || (!data && bytes > 0))
        return false;
    uint8_t* part1 = nullptr;
    uint8_t* part2 = nullptr;
    uint32_t bytes1 = 0, bytes2 = 0;
    const uint32_t offset = uint32_t(half) * m_half;
    audio::SoundResult r = m_buffer->Lock(offset, m_half, &part1, &bytes1, &part2, &bytes2);
    if (r == audio::SoundResult::BufferLost) {
        if (!m_buffer->Restore())
            return false;
        r = m_buffer->Lock(offset, m_half, &part1, &bytes1, &part2, &bytes2);
    }
    if (r != audio::SoundResult::Ok)
        return false;
    if (bytes < bytes1) {
        std::memcpy(part1, data, bytes);
    } else {
        if (bytes1)
            std::memcpy(part1, data, bytes1);
        if (part2)
            std::memcpy(part2, data + bytes1, std::min(bytes - bytes1, bytes2));
    }
    return m_buffer->Unlock(part1, bytes1, part2, bytes2);
}

bool CAudioPlayer::TakeFrame(Block& block)
{
    uint8_t* data = nullptr;
    int32_t size = 0;
    uint32_t timestamp = 0;
    std::unique_ptr<FrameChainNode, NodeFree> node(m_audio.Remove(&data, &size, &timestamp));
    if (!node)
        return false;
    m_lastTimestamp = timestamp;
    if (size <= 0 || !data)
        return true; // decodes to nothing: silence
    // 8 × length bytes hold the samples of every code size.
    block.owned.reset(new int16_t[4 * size_t(size)]);
    const int samples = G726_dec(m_decoder, m_codeSize, data, size, block.owned.get());
    if (samples <= 0) {
        block.owned.reset();
        return true;
    }
    block.data = reinterpret_cast<const uint8_t*>(block.owned.get());
    block.bytes = 2 * uint32_t(samples);
    return true;
}

void CAudioPlayer::TakeBlock(Block& block)
{
    const bool play = m_playFlag.load() == 1;
    const auto giveUp = std::chrono::steady_clock::now() + m_lateFrameWait;
    bool taken = TakeFrame(block);
    while (!taken) {
        Sleep(std::max(m_timings.noFrameSleep, std::chrono::milliseconds(1)));
        if (m_stop || std::chrono::steady_clock::now() >= giveUp)
            break;
        taken = TakeFrame(block);
    }
    if (taken && block.owned && !play)
        std::memset(block.owned.get(), 0, block.bytes);
    if (!block.owned) {
        block.data = m_silence.data();
        block.bytes = m_half;
    }
}

int CAudioPlayer::WaitForNotification()
{
    for (;;) {
        const int which = m_events.Wait(m_timings.stopPoll);
        if (which >= 0)
            return which;
        if (m_stop)
            return -1;
    }
}

int CAudioPlayer::Run()
{
    if (!m_open || !m_buffer)
        return 0;
    int result = 0;
    try {
        // The first block goes into half 1 behind a half of silence, so the second has a whole
        // half to come. Started on half 0 with nothing behind it, play would reach the second
        // half before the camera sent the next frame, and hear silence there.
        Block block;
        TakeBlock(block);
        std::vector<uint8_t> first(m_silence);
        std::memcpy(first.data(), block.data, std::min(block.bytes, m_half));
        FillBuffer(0, m_silence.data(), m_half);
        FillBuffer(1, first.data(), m_half);
        // Frames come at the pace play takes them: starting a late frame's wait after the first
        // one puts the boundaries between arrivals rather than on them.
        for (auto until = std::chrono::steady_clock::now() + m_lateFrameWait;
             !m_stop && std::chrono::steady_clock::now() < until;)
            Sleep(std::chrono::milliseconds(1));
        m_buffer->SetCurrentPosition(0);
        m_buffer->PlayLooping();
        m_clock.Set(m_lastTimestamp);
        while (!m_stop) {
            const int which = WaitForNotification();
            if (which != 0 && which != 1) {
                Sleep(m_timings.failedWaitSleep);
                continue;
            }
            // Play has just entered one half: the block taken now refills the other, which
            // plays after it.
            block = {};
            TakeBlock(block);
            FillBuffer(which == 0 ? 1 : 0, block.data, block.bytes);
            m_clock.Set(m_lastTimestamp);
            block = {};
            Sleep(m_timings.afterBlockSleep);
        }
    } catch (const std::bad_alloc&) {
        result = kResultMemory;
    } catch (...) {
        result = kResultOther;
    }
    m_buffer->Stop();
    m_buffer->SetCurrentPosition(0);
    return result;
}
