// The speaker through PortAudio. A buffer's stream runs from creation to release; its callback
// plays from the looping buffer while the buffer plays and gives silence while it is stopped,
// so the speaker's latency stays the same across stops and starts.
//
// PortAudio is initialised once for all the process's devices and buffers and terminated when
// the last goes; its calls are serialised, since every panel opens its sound on its own stream
// worker. The callback takes no lock.

#include "codec/audio/library_use.h"
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

CCountedLibrary& PortAudio()
{
    // Never destroyed: a device released while the process ends still finds it.
    static auto* library = new CCountedLibrary({
        [] {
#if CAMCTL_QUIET_ALSA
            snd_lib_error_set_handler(&QuietAlsa);
#endif
            return Pa_Initialize() == paNoError;
        },
        [] { Pa_Terminate(); },
    });
    return *library;
}

class CPortAudioBuffer final : public CRingSoundBuffer
{
public:
    explicit CPortAudioBuffer(uint32_t bytes) : CRingSoundBuffer(bytes) {}

    ~CPortAudioBuffer() override
    {
        if (m_stream) {
            const std::lock_guard lock(PortAudio().CallLock());
            Pa_StopStream(m_stream); // returns once the callback has finished for good
            Pa_CloseStream(m_stream);
        }
    }

    bool Open(const WaveFormat& format)
    {
        if (!m_use.Ok())
            return false;
        const std::lock_guard lock(PortAudio().CallLock());
        if (Pa_OpenDefaultStream(&m_stream, 0, format.channels, paInt16,
                                 double(format.samplesPerSec), paFramesPerBufferUnspecified,
                                 &CPortAudioBuffer::Callback, this) != paNoError) {
            m_stream = nullptr;
            return false;
        }
        return Pa_StartStream(m_stream) == paNoError;
    }

private:
    static int Callback(const void*, void* output, unsigned long frames,
                        const PaStreamCallbackTimeInfo*, PaStreamCallbackFlags, void* self)
    {
        static_cast<CPortAudioBuffer*>(self)->Consume(static_cast<int16_t*>(output),
                                                      uint32_t(frames * 2));
        return paContinue;
    }

    CLibraryUse m_use{PortAudio()}; // ends after the destructor has closed the stream
    PaStream* m_stream = nullptr;
};

class CPortAudioDevice final : public ISoundDevice
{
public:
    bool Open()
    {
        if (!m_use.Ok())
            return false;
        const std::lock_guard lock(PortAudio().CallLock());
        if (Pa_GetDefaultOutputDevice() == paNoDevice)
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
    CLibraryUse m_use{PortAudio()};
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
