#include "codec/audio/sound_device.h"

#include "codec/audio/sound_virtual.h"

#include <cstdlib>

namespace audio {

std::optional<SoundBackend> ParseSoundBackend(const std::string& name)
{
    if (name == "default")
        return SoundBackend::Default;
    if (name == "portaudio")
        return SoundBackend::PortAudio;
    if (name == "virtual")
        return SoundBackend::Virtual;
    return std::nullopt;
}

SoundOptions SoundOptionsFromEnvironment(SoundOptions options)
{
    if (options.backend == SoundBackend::Default) {
        if (const char* backend = std::getenv(kSoundBackendEnv)) {
            if (auto parsed = ParseSoundBackend(backend))
                options.backend = *parsed;
        }
    }
    if (options.wavPath.empty()) {
        if (const char* wav = std::getenv(kSoundWavEnv))
            options.wavPath = wav;
    }
    return options;
}

std::unique_ptr<ISoundDevice> OpenSoundDevice(const SoundOptions& given)
{
    const SoundOptions options = SoundOptionsFromEnvironment(given);
    if (options.backend != SoundBackend::Virtual) {
        if (auto device = OpenPortAudioDevice())
            return device;
        if (options.backend == SoundBackend::PortAudio)
            return nullptr;
    }
    return std::make_unique<CVirtualSoundDevice>(VirtualSoundOptions{false, options.wavPath});
}

} // namespace audio
