#include "codec/audio/wav_writer.h"

#include <algorithm>
#include <cstring>

namespace audio {
namespace {

void PutLe(uint8_t* p, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

constexpr long kDataSizeOffset = 40;

} // namespace

bool CWavWriter::Open(const std::string& path, const WaveFormat& f)
{
    Close();
    m_file = std::fopen(path.c_str(), "wb");
    if (!m_file)
        return false;
    m_dataBytes = 0;
    m_failed = false;
    uint8_t h[44] = {};
    std::memcpy(h, "RIFF", 4);
    PutLe(h + 4, 36, 4);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    PutLe(h + 16, 16, 4);
    PutLe(h + 20, f.formatTag, 2);
    PutLe(h + 22, f.channels, 2);
    PutLe(h + 24, f.samplesPerSec, 4);
    PutLe(h + 28, f.avgBytesPerSec, 4);
    PutLe(h + 32, f.blockAlign, 2);
    PutLe(h + 34, f.bitsPerSample, 2);
    std::memcpy(h + 36, "data", 4);
    m_failed = std::fwrite(h, 1, sizeof h, m_file) != sizeof h;
    return !m_failed;
}

void CWavWriter::Write(const int16_t* samples, size_t count)
{
    if (!m_file || count == 0)
        return;
    uint8_t block[512];
    while (count > 0) {
        const size_t n = std::min(count, sizeof block / 2);
        for (size_t i = 0; i < n; ++i)
            PutLe(block + 2 * i, uint16_t(samples[i]), 2);
        m_failed = m_failed || std::fwrite(block, 2, n, m_file) != n;
        m_dataBytes += uint32_t(2 * n);
        samples += n;
        count -= n;
    }
    // Sizes after every write keep the file whole for a reader, or when the process dies.
    PatchSizes();
}

void CWavWriter::PatchSizes()
{
    uint8_t size[4];
    PutLe(size, m_dataBytes, 4);
    m_failed = m_failed || std::fseek(m_file, kDataSizeOffset, SEEK_SET) != 0 ||
               std::fwrite(size, 1, 4, m_file) != 4;
    PutLe(size, 36 + m_dataBytes, 4);
    m_failed =
        m_failed || std::fseek(m_file, 4, SEEK_SET) != 0 || std::fwrite(size, 1, 4, m_file) != 4;
    m_failed = m_failed || std::fseek(m_file, 0, SEEK_END) != 0 || std::fflush(m_file) != 0;
}

bool CWavWriter::Close()
{
    if (!m_file)
        return !m_failed;
    PatchSizes();
    m_failed = (std::fclose(m_file) != 0) || m_failed;
    m_file = nullptr;
    return !m_failed;
}

} // namespace audio
