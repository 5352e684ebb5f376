// The speaker through PortAudio. A buffer's stream runs from creation to release; its callback
// plays from the looping buffer while the buffer plays and gives silence while it is stopped,
// so the speaker's latency stays the same across stops and starts.

#include "codec/audio/sound_device.h"
#include "codec/audio/sound_ring.h"

#include <portaudio.h>
#if CAMCTL_QUIET_ALSA
#include <alsa/error.h>
#endif

namespace audio {
namespace {

#if CAMCTL_QUIET_ALSA
// PortAudio probes every device ALSA's configuration names; on a machine without sound each
// probe prints errors. Whether a device opened is all we need to know.
void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}
#endif

// PortAudio counts its users; each device holds one use from open to release.
class CPortAudioUse
{
public:
    CPortAudioUse()
    {
#if CAMCTL_QUIET_ALSA
        snd_lib_error_set_handler(&QuietAlsa);
#endif
        m_ok = Pa_Initialize() == paNoError;
    }
    ~CPortAudioUse()
    {
        if (m_ok)
            Pa_Terminate();
    }
    CPortAudioUse(const CPortAudioUse&) = delete;
    CPortAudioUse& operator=(const CPortAudioUse&) = delete;
    bool Ok() const
    {
        return m_ok;
    }

private:
    bool m_ok = false;
};

class CPortAudioBuffer final : public CRingSoundBuffer
{
public:
    explicit CPortAudioBuffer(uint32_t bytes) : CRingSoundBuffer(bytes) {}

    ~CPortAudioBuffer() override
    {
        if (m_stream) {
            Pa_StopStream(m_stream); // returns once the callback has finished for good
            Pa_CloseStream(m_stream);
        }
    }

    bool Open(const WaveFormat& format)
    {
        if (Pa_OpenDefaultStream(&m_stream, 0, format.channels, paInt16,
                                 double(format.samplesPerSec), paFramesPerBufferUnspecified,
                                 &CPortAudioBuffer::Callback, this) != paNoError) {
            m_stream = nullptr;
            return false;
        }
        if (Pa_StartStream(m_stream) != paNoError)
            return false;
        return true;
    }

private:
    static int Callback(const void*, void* output, unsigned long frames,
                        const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags, void* self)
    {
        static_cast<CPortAudioBuffer*>(self)->Consume(static_cast<int16_t*>(output),
                                                      uint32_t(frames * 2));
        return paContinue;
    }

    PaStream* m_stream = nullptr;
};

class CPortAudioDevice final : public ISoundDevice
{
public:
    bool Open()
    {
        if (!m_use.Ok() || Pa_GetDefaultOutputDevice() == paNoDevice)
            return false;
        // The device counts as present only when a stream in our format really opens.
        WaveFormat format;
        PaStream* probe = nullptr;
        if (Pa_OpenDefaultStream(&probe, 0, format.channels, paInt16, double(format.samplesPerSec),
                                 paFramesPerBufferUnspecified, nullptr, nullptr) != paNoError)
            return false;
        Pa_CloseStream(probe);
        return true;
    }

    bool SetFormat(const WaveFormat& format) override
    {
        // PortAudio converts to what the hardware mixes; only our sample layout is offered.
        return format.formatTag == 1 && format.channels == 1 && format.bitsPerSample == 16;
    }

    std::unique_ptr<ISoundBuffer> CreateStreamBuffer(uint32_t bytes,
                                                     const WaveFormat& format) override
    {
        if (bytes == 0 || bytes % 2 != 0 || !SetFormat(format))
            return nullptr;
        auto buffer = std::make_unique<CPortAudioBuffer>(bytes);
        if (!buffer->Open(format))
            return nullptr;
        return buffer;
    }

    const char* Name() const override { return "portaudio"; }

private:
    CPortAudioUse m_use;
};

} // namespace

std::unique_ptr<ISoundDevice> OpenPortAudioDevice()
{
    auto device = std::make_unique<CPortAudioDevice>();
    if (!device->Open())
        return nullptr;
    return device;
}

} // namespace audio
