#pragma once
// Writes 16-bit PCM to a RIFF WAVE file. The header's sizes follow every write.

#include "codec/audio/sound_device.h"

#include <cstdio>
#include <string>

namespace audio {

class CWavWriter
{
public:
    CWavWriter() = default;
    ~CWavWriter() { Close(); }
    CWavWriter(const CWavWriter&) = delete;
    CWavWriter& operator=(const CWavWriter&) = delete;

    bool Open(const std::string& path, const WaveFormat& format);
    bool IsOpen() const { return m_file != nullptr; }
    void Write(const int16_t* samples, size_t count);
    // Finishes the header; false when any write failed.
    bool Close();

private:
    void PatchSizes();

    std::FILE* m_file = nullptr;
    uint32_t m_dataBytes = 0;
    bool m_failed = false;
};

} // namespace audio
