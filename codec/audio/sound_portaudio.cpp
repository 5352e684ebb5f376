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

#include <dlfcn.h>
#if CAMCTL_QUIET_ALSA
#include <cstdarg>
// The header declares its thread-local handler call outside its own C linkage block.
extern "C" {
#include <alsa/error.h>
}
#endif

namespace audio {
namespace {

// PortAudio probes every sound server and device it knows of (a JACK server, each device ALSA's
// configuration names), and on a machine without them each probe prints errors. Whether a device
// opened is all we need to know, so the libraries' messages are dropped while we call PortAudio
// and go back to whoever had them afterwards.
#if CAMCTL_QUIET_ALSA
void QuietAlsa(const char*, int, const char*, int, const char*, va_list) {}
#endif
void QuietJack(const char*) {}

// JACK's message sinks, when the JACK library is loaded (PortAudio brings it in when it was built
// with it). Looked up rather than linked, so that nothing depends on which JACK is installed.
struct JackMessages
{
    using Sink = void (*)(const char*);
    void (*setError)(Sink) = nullptr;
    void (*setInfo)(Sink) = nullptr;
    Sink* error = nullptr; // the current sinks, to put back
    Sink* info = nullptr;

    static const JackMessages& Get()
    {
        static const JackMessages jack = [] {
            JackMessages j;
            // Only when already loaded; the handle is kept, as PortAudio keeps the library.
            void* lib = ::dlopen("libjack.so.0", RTLD_LAZY | RTLD_NOLOAD);
            if (!lib)
                return j;
            j.setError = reinterpret_cast<void (*)(Sink)>(::dlsym(lib, "jack_set_error_function"));
            j.setInfo = reinterpret_cast<void (*)(Sink)>(::dlsym(lib, "jack_set_info_function"));
            j.error = static_cast<Sink*>(::dlsym(lib, "jack_error_callback"));
            j.info = static_cast<Sink*>(::dlsym(lib, "jack_info_callback"));
            return j;
        }();
        return jack;
    }
};

// Held around every call into PortAudio, under the library's lock. ALSA's handler is the calling
// thread's own; JACK's are the process's, so two of these never overlap (the lock) and each puts
// back what it found.
class CQuietSoundServers
{
public:
    CQuietSoundServers()
    {
#if CAMCTL_QUIET_ALSA
        m_alsa = snd_lib_error_set_local(&QuietAlsa);
#endif
        const JackMessages& jack = JackMessages::Get();
        if (jack.setError) {
            m_jackError = jack.error ? *jack.error : nullptr;
            jack.setError(&QuietJack);
        }
        if (jack.setInfo) {
            m_jackInfo = jack.info ? *jack.info : nullptr;
            jack.setInfo(&QuietJack);
        }
    }
    ~CQuietSoundServers()
    {
        const JackMessages& jack = JackMessages::Get();
        // Null puts JACK's own default back.
        if (jack.setError)
            jack.setError(m_jackError);
        if (jack.setInfo)
            jack.setInfo(m_jackInfo);
#if CAMCTL_QUIET_ALSA
        snd_lib_error_set_local(m_alsa);
#endif
    }
    CQuietSoundServers(const CQuietSoundServers&) = delete;
    CQuietSoundServers& operator=(const CQuietSoundServers&) = delete;

private:
#if CAMCTL_QUIET_ALSA
    snd_local_error_handler_t m_alsa = nullptr;
#endif
    JackMessages::Sink m_jackError = nullptr;
    JackMessages::Sink m_jackInfo = nullptr;
};

CCountedLibrary& PortAudio()
{
    // Never destroyed: a device released while the process ends still finds it.
    static auto* library = new CCountedLibrary({
        [] {
            const CQuietSoundServers quiet;
            return Pa_Initialize() == paNoError;
        },
        [] {
            const CQuietSoundServers quiet;
            Pa_Terminate();
        },
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
        const CQuietSoundServers quiet;
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
        const CQuietSoundServers quiet;
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
